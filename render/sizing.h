// Scale arithmetic of the renderer as pure functions: the requested window size,
// the HD scale ladder, the window-scale record's quantisation, texture scale
// factors and the letterbox bars. The render context and the draw iteration call
// these; nothing here touches SDL state.
#pragma once

#include <SDL.h>

// Window size that keeps the game's aspect ratio and fits a display of dw x dh
// (pass a display of 0 x 0 when none is known: the logical size is kept).
void sizing_requested_window(int logical_w, int logical_h, int display_w, int display_h,
                             int *out_w, int *out_h);

// The HD ladder: the quantised scale for s, and its texture scale percent.
float sizing_ladder(float s, int *out_percent);
// A percent rounded down to 100, 125, 150, 175, 200, 250, 300 or 400.
int sizing_percent_floor(int percent);
// The quantisation of the set_window_scale record (0.1 .. 4).
float sizing_window_scale(float scale);
// Texture scale factor of a sprite's texture_scale percent; other values (175
// included) give the render scale.
float sizing_texture_factor(int percent, float render_scale);

struct sizing_input {
    int hd, allscreen, hd_letterbox, hd_max_scale, allscreen_max_scale;
    int logical_w, logical_h;  // game logical size
    int window_w, window_h;    // SDL_GetWindowSize
    int output_w, output_h;    // SDL_GetRendererOutputSize
};

struct sizing_result {
    float scale;               // game units -> native pixels
    int percent;               // texture scale percent
    int centring_x, centring_y;
    int letterbox_x, letterbox_y;
    int native_w, native_h;    // the renderer's logical size
    int allscreen_warning;     // the allscreen deprecation warning is due
};

sizing_result sizing_compute(const sizing_input &in);

// Letterbox bars of a native render size W x H around the game area.
struct sizing_bars {
    SDL_FRect left, bottom, right, top;
};
sizing_bars sizing_letterbox_bars(int native_w, int native_h, int offset_x, int offset_y,
                                  float scale, int logical_w, int logical_h);
