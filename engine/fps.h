// Frames-per-second window: eight completed 125 ms slots plus the running one.
// The simulation keeps one for the tick rate, the render context one for draws.
#pragma once

#include <cstdint>

struct sim_fps_window {
    uint32_t total_ms;
    uint32_t total_frames;
    uint32_t slot_start;
    uint32_t slot_frames;
    uint32_t slot_ms[8];
    uint32_t slot_frame_counts[8];
    int32_t next_slot;
};

// Counts one frame at SDL_GetTicks() and returns the current rate.
uint32_t fps_iteration(sim_fps_window *window);
// The same at a given time in milliseconds (for tests).
uint32_t fps_iteration_at(sim_fps_window *window, uint32_t now);
