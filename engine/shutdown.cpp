#include "engine/shutdown.h"

#include <SDL.h>
#include <physfs.h>

#include "bindings/ffi.h"
#include "config/cvar.h"
#include "engine/game_context.h"
#include "engine/script.h"
#include "input/controllers.h"
#include "input/events.h"
#include "log/log.h"
#include "net/janitor.h"
#include "render/render_context.h"
#include "stream/pack.h"
#include "stream/threadstream.h"

void engine_shutdown()
{
    int arena = mrb_gc_arena_save(game.mrb);
    script_runtime_call(script_sym.quit);
    script_runtime_call(script_sym.quit_bang);
    mrb_gc_arena_restore(game.mrb, arena);

    render_context_delete(the_render_context);
    the_render_context = nullptr;
    events_clear_touches();  // touches that never came up lived as long as the context

    controllers_close_all();
    janitor_quit();
    pack_sink_reset();    // primitives still set aside for a next frame
    threadstream_quit();  // after the render context released its queued streams
    texture_atlas_table_clear();
    ffi_quit();
    cvar_quit();
    log_quit();
    SDL_Quit();
    PHYSFS_deinit();
}
