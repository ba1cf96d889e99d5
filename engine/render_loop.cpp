#include "engine/render_loop.h"

#include <SDL.h>

#include <cstdlib>

#include "engine/flags.h"
#include "engine/game_context.h"
#include "engine/script.h"
#include "engine/shutdown.h"
#include "engine/simulation.h"
#include "engine/startup.h"
#include "net/janitor.h"
#include "render/render_context.h"
#include "stream/threadstream.h"

namespace {
constexpr size_t simulation_stack_size = 8 * 1024 * 1024;
}

void render_loop()
{
    render_context *ctx = the_render_context;
    SDL_AtomicSet(&wake_occurred_flag, 0);
    SDL_AtomicSet(&sleep_occurred_flag, 0);
    SDL_AtomicSet(&atomic_resize_occurred, 0);
    SDL_AtomicSet(&atomic_a11y_activation_occurred_at, 0);
    SDL_AtomicSet(&simulation_quit_flag, 0);

    draw_iteration(ctx);  // the start-up frame

    SDL_Thread *simulation =
        SDL_CreateThreadWithStackSize(simulation_thread, "simulation", simulation_stack_size, ctx);
    if (!simulation) {
        fatal_startup_error("Couldn't create simulation thread: %s", SDL_GetError());
    }
    while (SDL_AtomicGet(&simulation_quit_flag) == 0) {
        draw_iteration(ctx);
        janitor_tick();
    }
    SDL_WaitThread(simulation, nullptr);

    draw_iteration(ctx);
    renderstream_queue_scene(ctx->last_drawn_stream);
    ctx->last_drawn_stream = nullptr;
    engine_shutdown();
    script_print_final_line();
    exit(script_exit_status());
}
