// The game metadata cvars and their loader. One table drives registration, the
// loader's reset to defaults and the matching of file keys.
#include "config/metadata.h"

#include <SDL.h>

#include <cstdlib>

#include "config/cvar.h"
#include "fs/filehelpers.h"
#include "fs/strings.h"
#include "log/log.h"

char *cvar_game_metadata_devid = nullptr;
char *cvar_game_metadata_devtitle = nullptr;
char *cvar_game_metadata_gameid = nullptr;
char *cvar_game_metadata_gametitle = nullptr;
char *cvar_game_metadata_version = nullptr;
char *cvar_game_metadata_icon = nullptr;
char *cvar_game_metadata_readme = nullptr;
int32_t cvar_game_metadata_deployment = 0;
int32_t cvar_game_metadata_compile_ruby = 0;
char *cvar_game_metadata_packageid = nullptr;
int32_t cvar_game_metadata_vrmode = 0;
int32_t cvar_game_metadata_hd = 0;
int32_t cvar_game_metadata_allscreen = 0;
int32_t cvar_game_metadata_hd_letterbox = 1;
int32_t cvar_game_metadata_hd_max_scale = 0;
int32_t cvar_game_metadata_allscreen_max_scale = 100;
int32_t cvar_game_metadata_scale_quality = 0;
int32_t cvar_game_metadata_highdpi = 0;
char *cvar_game_metadata_orientation = nullptr;
char *cvar_game_metadata_sprites_directory = nullptr;
int32_t cvar_game_metadata_remote_hotload = 0;
char *cvar_game_metadata_ignore_directories = nullptr;

namespace {

struct metadata_row {
    const char *name;
    int type;
    const char *description;
    void *variable;
    const char *default_text;
    const char *file_key;  // null: set only by start-up's markers
    bool required;
};

constexpr const char *scale_description = "Provides the maximum scale allowed 16:9 safe area for game.";

const metadata_row METADATA_ROWS[] = {
    {"game_metadata.devid", cvar_type_string, "Developer ID (simple identifier)", &cvar_game_metadata_devid,
     "korvane", "devid", true},
    {"game_metadata.devtitle", cvar_type_string, "Actual developer name", &cvar_game_metadata_devtitle,
     "Korvane Works", "devtitle", true},
    {"game_metadata.gameid", cvar_type_string, "Game ID (simple identifier)", &cvar_game_metadata_gameid,
     "hello-SDL", "gameid", true},
    {"game_metadata.gametitle", cvar_type_string, "Actual game name", &cvar_game_metadata_gametitle,
     "Update metadata/game_metadata.txt in your mygame directory to change this title.", "gametitle", true},
    {"game_metadata.version", cvar_type_string, "Game's version number", &cvar_game_metadata_version, "1.0",
     "version", true},
    {"game_metadata.icon", cvar_type_string, "Game's icon filename", &cvar_game_metadata_icon, "metadata/icon.png",
     "icon", false},
    {"game_metadata.readme", cvar_type_string, "Game's README filename", &cvar_game_metadata_readme, "", "readme",
     false},
    {"game_metadata.deployment", cvar_type_bool, "True if this is a production build",
     &cvar_game_metadata_deployment, "false", nullptr, false},
    {"game_metadata.compile_ruby", cvar_type_bool, "True if production builds cook Ruby source code",
     &cvar_game_metadata_compile_ruby, "false", "compile_ruby", false},
    {"game_metadata.packageid", cvar_type_string, "Package ID in reverse-domain format",
     &cvar_game_metadata_packageid, "", "packageid", false},
    {"game_metadata.vrmode", cvar_type_int, "VR mode", &cvar_game_metadata_vrmode, "0", "vrmode", false},
    {"game_metadata.hd", cvar_type_bool, "True if hd rendering should be used.", &cvar_game_metadata_hd, "false",
     "hd", false},
    {"game_metadata.allscreen", cvar_type_bool,
     "True if letter boxing should be removed (allowing rendering outside of the 16:9 safe area). hd=true must be "
     "set for allscreen to be respected.",
     &cvar_game_metadata_allscreen, "false", "allscreen", false},
    {"game_metadata.hd_letterbox", cvar_type_bool,
     "0 = Removes letter box allowing you to see things rendered outside of the screen. 1 = Renders letterbox.",
     &cvar_game_metadata_hd_letterbox, "true", "hd_letterbox", false},
    {"game_metadata.hd_max_scale", cvar_type_int, scale_description, &cvar_game_metadata_hd_max_scale, "0",
     "hd_max_scale", false},
    {"game_metadata.allscreen_max_scale", cvar_type_int, scale_description, &cvar_game_metadata_allscreen_max_scale,
     "100", "allscreen_max_scale", false},
    {"game_metadata.scale_quality", cvar_type_int,
     "Defines the render scale quality for sprites. scale_quality=0 (default) is nearest neighbor, scalequality=1 "
     "is linear, scalequality=2 is antialiased.",
     &cvar_game_metadata_scale_quality, "0", "scale_quality", false},
    {"game_metadata.highdpi", cvar_type_bool, "If set to true, game will be rendered with High DPI.",
     &cvar_game_metadata_highdpi, "false", "highdpi", false},
    {"game_metadata.orientation", cvar_type_string, "Valid values are landscape and portrait",
     &cvar_game_metadata_orientation, "landscape", "orientation", false},
    {"game_metadata.sprites_directory", cvar_type_string,
     "The directory that will recursively searched for texture atlases.", &cvar_game_metadata_sprites_directory,
     "sprites", "sprites_directory", false},
    {"game_metadata.remote_hotload", cvar_type_bool, "True if remote hotloading should be enabled in build.",
     &cvar_game_metadata_remote_hotload, "false", nullptr, false},
    {"game_metadata.ignore_directories", cvar_type_string,
     "A comma delimited list of directories that should be ignored during the publishing process (eg: "
     "ignore_directories=tmp,saves,dev,assets). IMPORTANT: Any directory that matches the ignore list will be "
     "ignored REGARDLESS OF HIERARCHY.",
     &cvar_game_metadata_ignore_directories, "", "ignore_directories", false},
};

// Store-publishing credentials must never ship inside the game: stop at once so
// the developer notices before packaging.
[[noreturn]] void metadata_refuse_publishing_key(char **lines, const char *store, const char *file,
                                                 unsigned line_number)
{
    free_split_textfile(lines);
    log_error("Engine", "%s publishing details in game_metadata.txt line %d!", store, static_cast<int>(line_number));
    log_error("Engine", "This info must be in %s or they will be published with your game!", file);
    log_error("Engine", "Quitting now so you know to FIX THIS RIGHT NOW.");
    log_emergency_quit();
    std::exit(1);
}

void metadata_lock_all()
{
    for (const metadata_row &row : METADATA_ROWS) {
        cvar_lock(row.name);
    }
}

}  // namespace

int register_metadata_cvars()
{
    for (const metadata_row &row : METADATA_ROWS) {
        if (!cvar_register(row.name, row.type, row.description, row.variable, row.default_text)) {
            return 0;
        }
        cvar_lock(row.name);
    }
    return 1;
}

int load_metadata(const char *path)
{
    unsigned count = 0;
    char **lines = split_textfile_into_lines(path, &count);
    if (!lines) {
        return 0;  // no file: the locked defaults stay
    }

    for (const metadata_row &row : METADATA_ROWS) {
        cvar_unlock(row.name);
        cvar_set(row.name, row.default_text);
    }

    bool seen[SDL_arraysize(METADATA_ROWS)] = {};
    for (unsigned i = 0; i < count; i++) {
        const unsigned line_number = i + 1;
        char *key = nullptr;
        char *value = nullptr;
        if (!split_key_value_string(lines[i], &key, &value)) {
            log_warn("Engine", "Invalid metadata on line %u, ignored", line_number);
            continue;
        }
        if (!key) {
            continue;
        }
        if (SDL_strncasecmp(key, "steam.", 6) == 0) {
            metadata_refuse_publishing_key(lines, "Steam", "steam_metadata.txt", line_number);
        }
        if (SDL_strncasecmp(key, "itchio.", 7) == 0) {
            metadata_refuse_publishing_key(lines, "itch.io", "itchio_metadata.txt", line_number);
        }

        bool known = false;
        for (int row = 0; row < static_cast<int>(SDL_arraysize(METADATA_ROWS)); row++) {
            const metadata_row &entry = METADATA_ROWS[row];
            if (entry.file_key && SDL_strcasecmp(key, entry.file_key) == 0) {
                cvar_set(entry.name, value);
                seen[row] = true;
                known = true;
                break;
            }
        }
        if (!known) {
            log_warn("Engine", "Unknown game metadata key '%s', ignoring", key);
        }
    }
    free_split_textfile(lines);

    int result = 1;
    for (int row = 0; row < static_cast<int>(SDL_arraysize(METADATA_ROWS)); row++) {
        if (METADATA_ROWS[row].required && !seen[row]) {
            log_error("Engine", "Metadata file does not have all required fields!");
            result = 0;
            break;
        }
    }

    if (!cvar_game_metadata_packageid || !*cvar_game_metadata_packageid) {
        char *packageid = sprintf_alloc("org.%s.%s", cvar_game_metadata_devid ? cvar_game_metadata_devid : "",
                                        cvar_game_metadata_gameid ? cvar_game_metadata_gameid : "");
        if (!packageid || !cvar_set("game_metadata.packageid", packageid)) {
            result = 0;
        }
        SDL_free(packageid);
    }

    metadata_lock_all();
    return result;
}

int metadata_force_on(const char *name)
{
    // Only the registered marker cvars: an unknown name must not turn pending.
    if (!cvar_unlock(name)) {
        return 0;
    }
    const int result = cvar_set(name, "1");
    cvar_lock(name);
    return result;
}
