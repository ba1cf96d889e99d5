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
    void *cursor_map;
    void *texture_map;
    fontatlas *fallback_font;
    void *font_map;
    uint32_t window_id;

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

// Draw iteration (main thread): prepares, then draws one frame per call.
void draw_init(render_context *ctx, const char *game_directory);
void draw_iteration(render_context *ctx);
