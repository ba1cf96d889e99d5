// The render context: the render thread's whole state. Window and renderer, the two
// stream queues shared with the simulation thread, the sizes that map logical
// coordinates to pixels, the texture, cursor and font registries, and the draw
// state kept between frames. Created once by start-up on the main thread.
// Fields marked "sim" are also touched by the simulation thread.
#pragma once

#include <SDL.h>
#include <cstdint>

#include "engine/fps.h"
#include "stream/threadstream.h"

struct fontatlas;
struct texture_registry;
struct cursor_registry;
struct font_registry;

struct render_context {
    // Queues.
    threadstreamqueue *frame_queue;   // simulation -> render
    threadstreamqueue *event_queue;   // render -> simulation
    threadstream *last_drawn_stream;  // drawn again in redraw mode

    // Window.
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *screen_target;       // always null: the window's own target
    SDL_Texture *checkerboard;        // 256 x 256 fallback for missing sprites
    SDL_Texture *screenshot_canvas;   // created on first screenshot
    cursor_registry *cursor_map;
    texture_registry *texture_map;    // sim finds entries and reads sizes (texture.h)
    fontatlas *fallback_font;
    font_registry *font_map;          // sim loads and measures fonts (fontatlas.h)
    uint32_t window_id;

    // Registry locks. The texture lock guards entry creation and the size fields the
    // simulation thread reads; the font lock guards the font registry and every use
    // of a font from the simulation thread.
    SDL_mutex *texture_lock;
    SDL_mutex *font_lock;

    // Sizes (sim reads).
    int letterbox_offset_x, letterbox_offset_y;
    int allscreen_offset_x_px, allscreen_offset_y_px;  // centring offset
    int logical_width, logical_height;
    int native_render_width, native_render_height;
    int window_width, window_height;
    float texture_scale;                               // game units -> native pixels
    int texture_scale_enum;                            // 100 .. 400
    int created_window_width, created_window_height;
    int game_logical_width, game_logical_height;       // 1280 x 720 or 720 x 1280
    int allscreen_width_px, allscreen_height_px;       // renderer output size
    int max_texture_width, max_texture_height;
    int landscape;

    // Focus (sim writes on focus events).
    int keyboard_focus;
    int mouse_focus;

    // Draw state.
    int screen_uncleared;
    uint8_t background_r, background_g, background_b;
    int grid_origin_x, grid_origin_y;
    int grid_set;                      // sim reads
    int grid_centred;                  // sim reads
    int current_origin_x, flip_height;
    int frames_presented;
    sim_fps_window render_fps_window;
    SDL_atomic_t render_fps;           // sim reads
    int sizes_changed;                 // sim reads and clears
    int last_drawn_global_tick;        // global tick count drawn last
    SDL_Texture *current_target;       // target selected by the pass being drawn
    const char *current_target_name;   // null for the screen and the screenshot canvas
    char *game_directory;              // screenshots are written below it
    uint32_t log_counters[8];          // rate limits of the repeated warnings

    // Ticks (sim writes at the end of every tick).
    int tick_count;
    int global_tick_count;

    // Start-up: the two creation values.
    int development;
    int a11y_enabled;

    // Event layer.
    uint32_t user_event_types[3];
};

render_context *render_context_new(int development, int a11y_enabled);
void render_context_update_sizes(render_context *ctx);
void render_context_delete(render_context *ctx);
void render_context_recover_render_targets(render_context *ctx);
void render_context_recover_textures(render_context *ctx);
SDL_Texture *create_checkerboard_texture(SDL_Renderer *renderer);

// Draw iteration (main thread): prepares, then draws one frame per call. Returns 0
// when it only waited, else the number of streams executed in catch-up mode.
void draw_init(render_context *ctx, const char *game_directory);
int draw_iteration(render_context *ctx);
