// The game metadata file (metadata/game_metadata.txt) and the 22 locked
// game_metadata.* cvars it fills. Other subsystems read the exported variables.
#pragma once

#include <cstdint>

extern char *cvar_game_metadata_devid;
extern char *cvar_game_metadata_devtitle;
extern char *cvar_game_metadata_gameid;
extern char *cvar_game_metadata_gametitle;
extern char *cvar_game_metadata_version;
extern char *cvar_game_metadata_icon;
extern char *cvar_game_metadata_readme;
extern int32_t cvar_game_metadata_deployment;
extern int32_t cvar_game_metadata_compile_ruby;
extern char *cvar_game_metadata_packageid;
extern int32_t cvar_game_metadata_vrmode;
extern int32_t cvar_game_metadata_hd;
extern int32_t cvar_game_metadata_allscreen;
extern int32_t cvar_game_metadata_hd_letterbox;
extern int32_t cvar_game_metadata_hd_max_scale;
extern int32_t cvar_game_metadata_allscreen_max_scale;
extern int32_t cvar_game_metadata_scale_quality;
extern int32_t cvar_game_metadata_highdpi;
extern char *cvar_game_metadata_orientation;
extern char *cvar_game_metadata_sprites_directory;
extern int32_t cvar_game_metadata_remote_hotload;
extern char *cvar_game_metadata_ignore_directories;

// Registers the 22 cvars in table order, locking each; 0 on the first failure.
int register_metadata_cvars();
// Reads the metadata file; nonzero when read with all required keys. Exits the
// process with status 1 on store-publishing keys.
int load_metadata(const char *path);
// Unlock, set "1", lock again: used for the production and remote-hotload markers.
int metadata_force_on(const char *name);
