// The process-wide state that start-up fills and the tick, the controller code and
// the script bindings share: the game record (interpreter, runtime object, class
// handles, argument strings, controller key states), the current frame stream, the
// render context, the game directory and the sprite atlas table.
#pragma once

#include <mruby.h>

#include <cstdint>

struct render_context;
struct threadstream;
struct RClass;

constexpr int game_player_count = 4;
constexpr int game_controller_key_count = 30;
// Slot of player one's key states that a window-close event sets: the quit request.
constexpr int game_quit_request_slot = 5;

struct game_context {
    int32_t controller_key_states[game_player_count][game_controller_key_count];
    mrb_state *mrb;
    mrb_value runtime;          // the Kor::Runtime instance; receiver of every native call
    mrb_value ffi_module;       // defined by the bindings
    mrb_value file_class;       // defined by the bindings
    mrb_value ffi_draw;         // runtime.ffi_draw

    // Class handles; null while the framework does not define the class.
    RClass *hash_class;
    RClass *vec2_class, *mat2_class, *vec3_class, *mat3_class, *vec4_class, *mat4_class;
    RClass *value_type_module;
    RClass *struct_class;
    RClass *enumerable_module;
    RClass *array_class;
    RClass *open_entity_class;
    RClass *strict_entity_class;
    RClass *top_level_outputs_class;

    mrb_value argument_string;  // every argument joined by spaces (at most 253 bytes)
    mrb_value program_path;     // argv[0]
    int32_t deployment;         // copy of game_metadata.deployment taken by game_init
};

extern game_context game;

// The stream the simulation is writing; null outside a tick (and outside start-up's
// first frame).
extern threadstream *current_threadstream;
extern render_context *the_render_context;
// The write directory in a production build, else the directory named on the
// command line, else <base>/mygame. SDL-allocated; handed to the draw module.
extern char *game_directory;

// Sprite atlas variants: for every sprite path, the texture to use at each of the
// eight texture scales. Filled once at start-up; read by the sprite packers.
constexpr int texture_atlas_variant_count = 8;
constexpr int texture_atlas_scales[texture_atlas_variant_count] = {100, 125, 150, 175, 200, 250, 300, 400};

struct texture_atlas_variant {
    char *path;          // null when the atlas names no texture for this scale
    int32_t scale_enum;
};

struct texture_atlas_entry {
    texture_atlas_variant variants[texture_atlas_variant_count];
};

// Copies path and every variant path; replaces an earlier entry for the path.
int texture_atlas_table_put(const char *sprite_path, const texture_atlas_variant variants[texture_atlas_variant_count]);
const texture_atlas_entry *texture_atlas_table_get(const char *sprite_path);
int texture_atlas_table_count();
void texture_atlas_table_clear();
