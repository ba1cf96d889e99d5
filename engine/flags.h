// Cross-thread flags of the two main threads, each a 32-bit SDL atomic. The
// simulation thread and the render thread meet through these and the stream queues.
#pragma once

#include <SDL.h>

extern SDL_atomic_t atomic_is_first_simulation_iteration;  // 1 until the first hand-shake
extern SDL_atomic_t atomic_draw_occurred;                   // render thread drew a frame
extern SDL_atomic_t atomic_last_completed_global_tick_count;// newest completed tick, -1 at start
extern SDL_atomic_t sleep_occurred_flag;                    // application in the background
extern SDL_atomic_t wake_occurred_flag;                     // back in the foreground: re-base pacing
extern SDL_atomic_t atomic_resize_occurred;                 // the window was resized
extern SDL_atomic_t atomic_a11y_activation_occurred_at;     // reserved
extern SDL_atomic_t simulation_quit_flag;                   // the simulation has ended
