// The render loop on the main thread: draws frames, runs the janitor's main-thread
// jobs, starts and joins the simulation thread, then shuts the engine down.
#pragma once

[[noreturn]] void render_loop();
