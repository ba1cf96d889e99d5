// The "simulation" thread: paces ticks at 60 Hz and runs one simulation_iteration
// per tick, which feeds input to the runtime, lets the game's tick run, describes
// the frame into a threadstream and hands it to the render thread. Started by the
// render loop; owns the interpreter while it runs.
#pragma once

// The thread entry; the argument is the render context. Returns 0.
int simulation_thread(void *render_context);
// One tick: nonzero to go on, zero to stop.
int simulation_iteration();
