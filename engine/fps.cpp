#include "engine/fps.h"

#include <SDL.h>

namespace {
constexpr uint32_t fps_slot_ms = 125;
constexpr int32_t fps_slot_count = 8;
} // namespace

uint32_t fps_iteration_at(sim_fps_window *window, uint32_t now)
{
    // Unsigned arithmetic keeps the elapsed time right across the 49-day wrap.
    uint32_t elapsed = now - window->slot_start;
    uint32_t frames = ++window->slot_frames;

    if (elapsed >= fps_slot_ms) {
        int32_t slot = window->next_slot;
        if (slot < 0 || slot >= fps_slot_count) {
            slot = 0;
        }
        window->total_ms = window->total_ms - window->slot_ms[slot] + elapsed;
        window->total_frames = window->total_frames - window->slot_frame_counts[slot] + frames;
        window->slot_ms[slot] = elapsed;
        window->slot_frame_counts[slot] = frames;
        window->slot_start = now;
        window->slot_frames = 0;
        window->next_slot = (slot + 1) % fps_slot_count;
        elapsed = frames = 0;
    }

    uint32_t total_ms = elapsed + window->total_ms;
    if (total_ms == 0) {
        return 0;
    }
    double seconds = static_cast<double>(total_ms) / 1000.0;
    return static_cast<uint32_t>(static_cast<double>(frames + window->total_frames) / seconds + 0.5);
}

uint32_t fps_iteration(sim_fps_window *window)
{
    return fps_iteration_at(window, SDL_GetTicks());
}
