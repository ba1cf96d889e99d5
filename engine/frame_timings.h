// Timing of the two threads for benchmarks and profiling, off unless the cvar
// engine.timings is set. When on, the simulation thread times each tick (the
// game's __sdl_tick__, the walk of the passes with the packing, the whole
// iteration), the render thread times each drawn frame (executing the streams,
// presenting, the whole turn), both count the heap allocations they make through
// SDL's allocator and the interpreter's, and one summary line is logged when the
// simulation ends. With engine.unpaced also set, a tick starts as soon as the
// render thread has taken the previous frame instead of on the 60 Hz schedule, so
// the frame time shows where the engine's limit is.
//
// Called by the simulation tick (engine/simulation.cpp) and the draw iteration
// (render/draw.cpp); when timings are off every hook is one relaxed atomic load.
#pragma once

#include <cstdint>

struct mrb_state;

extern int32_t cvar_engine_timings;
extern int32_t cvar_engine_unpaced;
extern uint32_t cvar_engine_timings_warmup;

// Simulation thread, before the first tick: registers the three cvars and, when
// timings are on, allocates the sample tables and starts counting allocations.
void frame_timings_start(mrb_state *mrb);
// True between frame_timings_start (with timings on) and the end of the process.
bool frame_timings_active();
// True when ticks should follow the render thread instead of the 60 Hz schedule.
bool frame_timings_unpaced();

// One tick, filled in by the simulation thread as it goes.
struct tick_timing {
    uint64_t start;
    uint64_t script_start, script_end;  // around __sdl_tick__
    uint64_t walk_start, walk_end;      // around the frame description
    uint64_t native_allocations;        // this thread's counts when the tick began
    uint64_t script_allocations;
};

// One turn of the draw iteration that drew, filled in by the render thread.
struct frame_timing {
    uint64_t start;
    uint64_t executed;                  // after the streams ran, before presenting
    uint64_t native_allocations;
};

uint64_t frame_timings_clock();

void frame_timings_tick_begin(tick_timing *t);
// global_tick is the tick count the runtime reported for this tick.
void frame_timings_tick_end(tick_timing *t, int32_t global_tick);

void frame_timings_frame_begin(frame_timing *f);
// tick is the global tick count the frame showed; redraw is 1 when it repeated
// the last frame.
void frame_timings_frame_end(frame_timing *f, int32_t tick, int redraw);

// Simulation thread, after the last tick: logs the summary (medians of the ticks
// and frames after the warm-up, allocations per tick and per frame).
void frame_timings_report();
