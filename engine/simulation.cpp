#include "engine/simulation.h"

#include <SDL.h>
#include <mruby.h>
#include <mruby/array.h>
#include <mruby/hash.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "config/metadata.h"
#include "engine/flags.h"
#include "engine/frame_timings.h"
#include "engine/fps.h"
#include "engine/game_context.h"
#include "engine/script.h"
#include "input/controllers.h"
#include "input/events.h"
#include "log/log.h"
#include "net/janitor.h"
#include "render/render_context.h"
#include "stream/ffi_draw.h"
#include "stream/pack.h"
#include "stream/records.h"
#include "stream/threadstream.h"

namespace {

constexpr uint32_t fps_log_interval_ms = 1000;

struct SimulationState {
    sim_fps_window fps_window;
    uint32_t next_fps_log_at = fps_log_interval_ms;
    uint32_t log_publish_failures;
};
SimulationState sim;

// How a pass collection's elements reach the stream.
enum class CollectionKind { solids, sprites, primitives, labels, lines, borders, debug };

struct Collection {
    const char *name;
    CollectionKind kind;
};

constexpr Collection collections[] = {
    {"solids", CollectionKind::solids},         {"static_solids", CollectionKind::solids},
    {"sprites", CollectionKind::sprites},       {"static_sprites", CollectionKind::sprites},
    {"primitives", CollectionKind::primitives}, {"static_primitives", CollectionKind::primitives},
    {"labels", CollectionKind::labels},         {"static_labels", CollectionKind::labels},
    {"lines", CollectionKind::lines},           {"static_lines", CollectionKind::lines},
    {"borders", CollectionKind::borders},       {"static_borders", CollectionKind::borders},
    {"debug", CollectionKind::debug},           {"static_debug", CollectionKind::debug},
    {"reserved", CollectionKind::debug},        {"static_reserved", CollectionKind::debug},
};
constexpr int collection_count = sizeof collections / sizeof collections[0];
mrb_sym collection_syms[collection_count];

int32_t int_of(mrb_value value)
{
    if (mrb_integer_p(value)) {
        mrb_int v = mrb_integer(value);
        return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    }
    if (mrb_float_p(value)) {
        double v = mrb_float(value);
        if (v != v) {
            return 0;
        }
        return v >= 2147483647.0 ? INT32_MAX : v <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(v);
    }
    return 0;
}

int32_t array_int(mrb_value array, mrb_int index)
{
    if (!mrb_array_p(array) || index >= RARRAY_LEN(array)) {
        return 0;
    }
    return int_of(mrb_ary_entry(array, index));
}

// Input: the controller keys polled last tick, the window-system events in
// arrival order, a fresh poll of the controllers and their analog values.
void deliver_input(render_context *ctx)
{
    for (int player = 1; player <= game_player_count; player++) {
        controllers_deliver_key_events(&game, player);
    }
    events_deliver_queue(ctx, &game);
    for (int player = 1; player <= game_player_count; player++) {
        controllers_poll(&game, player);
    }
    controllers_deliver_analog(&game);
}

void deliver_positions(mrb_state *mrb)
{
    mrb_value zero = mrb_float_value(mrb, 0.0);
    for (mrb_sym method : {script_sym.left_controller_position, script_sym.right_controller_position,
                           script_sym.headset_position}) {
        script_runtime_call(method, {zero, zero, zero, zero, zero, zero});
    }
}

void deliver_window_sizes(mrb_state *mrb, render_context *ctx)
{
    // The flag is taken before the sizes are read: a resize the render thread makes
    // meanwhile sets it again and is reported next tick instead of being lost.
    if (ctx->grid_set && __atomic_exchange_n(&ctx->sizes_changed, 0, __ATOMIC_ACQ_REL)) {
        script_runtime_call(script_sym.windowevent_size_changed,
                            {mrb_fixnum_value(ctx->window_width), mrb_fixnum_value(ctx->window_height),
                             mrb_fixnum_value(ctx->allscreen_width_px), mrb_fixnum_value(ctx->allscreen_height_px),
                             mrb_fixnum_value(ctx->allscreen_offset_x_px), mrb_fixnum_value(ctx->allscreen_offset_y_px),
                             mrb_float_value(mrb, ctx->texture_scale), mrb_fixnum_value(ctx->texture_scale_enum)});
    }
    // Taken and cleared in one step, so a resize in between is not lost.
    const bool resized = SDL_AtomicSet(&atomic_resize_occurred, 0) == 1;
    script_runtime_call(script_sym.set_resize_occurred, {mrb_bool_value(resized)});
}

bool grid_centred(render_context *ctx)
{
    bool centred = ctx->grid_centred != 0;
    return ffi_draw_set_grid_global_tick == ctx->global_tick_count ? !centred : centred;
}

// The screen is cleared black in the letterbox case; the game area is this solid.
void write_letterbox(threadstream *stream, render_context *ctx, mrb_value background)
{
    float w = static_cast<float>(ctx->logical_width);
    float h = static_cast<float>(ctx->logical_height);
    float x = 0.0f, y = 0.0f;
    if (grid_centred(ctx)) {
        x = static_cast<float>(-(ctx->logical_width / 2));
        y = static_cast<float>(-(ctx->logical_height / 2));
    }
    threadstream_pack_int(stream, record_solid);
    threadstream_pack_float(stream, x);
    threadstream_pack_float(stream, y);
    threadstream_pack_float(stream, 0.0f);
    threadstream_pack_float(stream, w);
    threadstream_pack_float(stream, h);
    threadstream_pack_int(stream, array_int(background, 0));
    threadstream_pack_int(stream, array_int(background, 1));
    threadstream_pack_int(stream, array_int(background, 2));
    threadstream_pack_int(stream, 255);
    threadstream_pack_int(stream, 1);  // blend
    threadstream_pack_float(stream, 0.0f);
    threadstream_pack_float(stream, 0.0f);
}

// A native packer that read an object's attributes by method call leaves an
// exception pending here; report it and go on with the next element.
void report_packer_exception(mrb_state *mrb, const char *what)
{
    if (mrb->exc) {
        script_report_pending_exception(mrb, what);
    }
}

bool kind_of(mrb_state *mrb, mrb_value element, RClass *klass)
{
    return klass && mrb_obj_is_kind_of(mrb, element, klass);
}

// The Hash behind a Kor::OpenEntity, or nil.
mrb_value open_entity_hash(mrb_state *mrb, mrb_value element)
{
    mrb_value hash = mrb_iv_get(mrb, element, pack_sym.ivar_hash);
    return mrb_hash_p(hash) ? hash : mrb_nil_value();
}

// A Hash in a mixed collection names its kind by primitive_marker.
mrb_sym hash_marker(mrb_state *mrb, mrb_value hash)
{
    mrb_sym method = pack_sym.attr[attr_primitive_marker];
    mrb_value marker = mrb_respond_to(mrb, hash, method)
                           ? script_call(mrb, hash, method)
                           : mrb_hash_fetch(mrb, hash, mrb_symbol_value(method), mrb_nil_value());
    return mrb_symbol_p(marker) ? mrb_symbol(marker) : 0;
}

void draw_sprite_element(mrb_state *mrb, mrb_value element)
{
    if (mrb_hash_p(element)) {
        threadstream_pack_sprite_hash(mrb, element);
    } else if (kind_of(mrb, element, game.open_entity_class)) {
        mrb_value hash = open_entity_hash(mrb, element);
        if (mrb_hash_p(hash)) {
            threadstream_pack_sprite_hash(mrb, hash);
        }
    } else if (kind_of(mrb, element, game.strict_entity_class)) {
        threadstream_pack_sprite_strict_entity(mrb, element);
    } else if (mrb_array_p(element)) {
        script_runtime_call(script_sym.draw_sprite, {element});
    } else {
        threadstream_pack_sprite_object(mrb, element);
        report_packer_exception(mrb, "drawing a sprite");
    }
}

// Labels and lines: the same dispatch with their own packers and fallback.
void draw_label_or_line_element(mrb_state *mrb, mrb_value element, bool label)
{
    auto pack_hash = label ? threadstream_pack_label_hash : threadstream_pack_line_hash;
    if (mrb_hash_p(element)) {
        pack_hash(mrb, element);
    } else if (kind_of(mrb, element, game.open_entity_class)) {
        mrb_value hash = script_call(mrb, element, pack_sym.as_hash);
        if (mrb_hash_p(hash)) {
            pack_hash(mrb, hash);
        }
    } else if (mrb_array_p(element)) {
        script_runtime_call(label ? script_sym.draw_label : script_sym.draw_line, {element});
    } else {
        (label ? threadstream_pack_label_object : threadstream_pack_line_object)(mrb, element);
        report_packer_exception(mrb, label ? "drawing a label" : "drawing a line");
    }
}

void draw_primitive_element(mrb_state *mrb, mrb_value element)
{
    if (mrb_hash_p(element)) {
        mrb_sym marker = hash_marker(mrb, element);
        if (marker == pack_sym.marker_sprite) {
            threadstream_pack_sprite_hash(mrb, element);
        } else if (marker == pack_sym.marker_label) {
            threadstream_pack_label_hash(mrb, element);
        } else if (marker == pack_sym.marker_line) {
            threadstream_pack_line_hash(mrb, element);
        } else {
            script_runtime_call(script_sym.draw_primitive, {element});
        }
    } else if (mrb_respond_to(mrb, element, script_sym.draw_override)) {
        script_call(mrb, element, script_sym.draw_override, {game.ffi_draw});
    } else {
        script_runtime_call(script_sym.draw_primitive, {element});
    }
}

void draw_element(mrb_state *mrb, CollectionKind kind, mrb_value element)
{
    switch (kind) {
    case CollectionKind::solids:
        script_runtime_call(script_sym.draw_solid, {element});
        break;
    case CollectionKind::borders:
        script_runtime_call(script_sym.draw_border, {element});
        break;
    case CollectionKind::debug:
        script_runtime_call(script_sym.draw_primitive, {element});
        break;
    case CollectionKind::sprites:
        draw_sprite_element(mrb, element);
        break;
    case CollectionKind::labels:
        draw_label_or_line_element(mrb, element, true);
        break;
    case CollectionKind::lines:
        draw_label_or_line_element(mrb, element, false);
        break;
    case CollectionKind::primitives:
        draw_primitive_element(mrb, element);
        break;
    }
}

void write_pass(threadstream *stream, render_context *ctx, mrb_state *mrb, mrb_value pass)
{
    mrb_value target = script_runtime_call(script_sym.target, {pass});
    mrb_value transient = script_runtime_call(script_sym.render_transient, {pass});
    mrb_value width = script_runtime_call(script_sym.render_width, {pass});
    mrb_value height = script_runtime_call(script_sym.render_height, {pass});
    mrb_value background = script_call(mrb, pass, script_sym.background_color);
    mrb_value clear = script_call(mrb, pass, script_sym.clear_before_render);

    bool letterbox = cvar_game_metadata_hd_letterbox == 1 && game.top_level_outputs_class &&
                     mrb_obj_is_kind_of(mrb, pass, game.top_level_outputs_class);
    if (letterbox) {
        for (int32_t v : {0, 0, 0, 255}) {
            threadstream_pack_int(stream, v);
        }
    } else {
        for (mrb_int i = 0; i < 4; i++) {
            threadstream_pack_int(stream, array_int(background, i));
        }
    }
    if (mrb_string_p(target)) {
        threadstream_pack_buffer(stream, RSTRING_PTR(target), static_cast<uint32_t>(RSTRING_LEN(target)));
    } else {
        threadstream_pack_int(stream, -1);
    }
    threadstream_pack_int(stream, int_of(width));
    threadstream_pack_int(stream, int_of(height));
    threadstream_pack_int(stream, mrb_test(transient) ? 1 : 0);
    threadstream_pack_int(stream, mrb_test(clear) ? 1 : 0);
    if (letterbox) {
        write_letterbox(stream, ctx, background);
    }

    pack_pass_begin();
    if (!mrb_string_p(target)) {
        pack_flush_stray_primitives(stream);  // drawn during tick, before the outputs
    }
    if (mrb_respond_to(mrb, game.runtime, script_sym.primitives)) {
        script_runtime_call(script_sym.primitives, {pass});
    } else {
        for (int c = 0; c < collection_count; c++) {
            mrb_value elements = script_call(mrb, pass, collection_syms[c]);
            if (!mrb_array_p(elements)) {
                continue;
            }
            for (mrb_int i = 0; i < RARRAY_LEN(elements); i++) {
                int arena = mrb_gc_arena_save(mrb);
                mrb_value element = mrb_ary_ref(mrb, elements, i);
                if (!mrb_nil_p(element)) {
                    draw_element(mrb, collections[c].kind, element);
                }
                mrb_gc_arena_restore(mrb, arena);
            }
        }
    }
    pack_pass_end();
    threadstream_pack_int(stream, record_end_pass);
}

// Returns whether screenshots were asked for.
bool write_frame_description(threadstream *stream, render_context *ctx, mrb_state *mrb)
{
    // Interned for the interpreter at hand (a static-name lookup, no allocation).
    if (!threadstream_ruby_ready(mrb)) {
        pack_intern_symbols(mrb);
    }
    for (int c = 0; c < collection_count; c++) {
        collection_syms[c] = mrb_intern_static(mrb, collections[c].name, SDL_strlen(collections[c].name));
    }
    threadstream_pack_int(stream, record_passes);
    mrb_value passes = script_runtime_call(script_sym.passes);
    mrb_int count = mrb_array_p(passes) ? RARRAY_LEN(passes) : 0;
    threadstream_pack_int(stream, static_cast<int32_t>(count));
    bool screenshot = mrb_test(script_runtime_call(script_sym.take_screenshot));
    threadstream_pack_int(stream, screenshot ? 1 : 0);
    for (mrb_int i = 0; i < count; i++) {
        write_pass(stream, ctx, mrb, mrb_ary_ref(mrb, passes, i));
    }
    pack_frame_end(stream);
    return screenshot;
}

void hand_over_frame(threadstream *stream, render_context *ctx)
{
    if (stream->error) {
        threadstream_free(stream);  // a partly written frame is never drawn
    } else {
        uint32_t base = renderstream_tick_offset();
        int32_t stamp = static_cast<int32_t>(SDL_GetTicks() - base);
        std::memcpy(stream->data, &stamp, sizeof stamp);
        threadstreamqueue_putitem(ctx->frame_queue, stream);
    }
    current_threadstream = nullptr;
}

void publish_log_job(void *entries)
{
    log_entry *list = static_cast<log_entry *>(entries);
    log_publish(list);
    log_free_entries(list);
}

void hand_off_log(mrb_state *mrb)
{
    log_entry *entries = log_get_entries();
    if (!entries) {
        return;
    }
    for (const log_entry *entry = entries; entry; entry = entry->next) {
        int arena = mrb_gc_arena_save(mrb);
        script_runtime_call(script_sym.new_log_entry,
                            {mrb_fixnum_value(entry->level), mrb_fixnum_value(static_cast<mrb_int>(entry->ticks)),
                             mrb_str_new_cstr(mrb, entry->subsystem), mrb_str_new_cstr(mrb, entry->message)});
        mrb_gc_arena_restore(mrb, arena);
    }
    // One worker publishes every batch, so ticks reach the file in order.
    if (!janitor_queue_job(publish_log_job, entries, janitor_queue_last, 0)) {
        log_limited(&sim.log_publish_failures, "Engine", log_level_error,
                    "Failed to start janitor job to publish logs, have to do it immediately on the simulation "
                    "thread...");
        publish_log_job(entries);
    }
}

} // namespace

int simulation_iteration()
{
    if (SDL_AtomicGet(&sleep_occurred_flag)) {
        return 1;
    }
    render_context *ctx = the_render_context;
    mrb_state *mrb = game.mrb;

    const bool timed = frame_timings_active();
    tick_timing timing;
    if (timed) {
        frame_timings_tick_begin(&timing);
    }

    threadstream *stream = threadstream_allocate();
    if (!stream) {
        return 0;
    }
    current_threadstream = stream;
    threadstream_pack_int(stream, 0);  // time stamp, filled in at hand-over
    threadstream_pack_int(stream, frame_header_marker);

    uint32_t simulation_fps = fps_iteration(&sim.fps_window);
    uint32_t render_fps = static_cast<uint32_t>(SDL_AtomicGet(&ctx->render_fps));
    if (SDL_GetTicks() >= sim.next_fps_log_at) {
        sim.next_fps_log_at += fps_log_interval_ms;
        log_spam("Engine", "Simulation fps: %u", simulation_fps);
        log_spam("Render", "Render fps: %u", render_fps);
        // Recycled streams keep their buffers: in a steady state this stays put.
        log_spam("Engine", "Stream pool allocations: %llu (global tick %d)",
                 static_cast<unsigned long long>(threadstream_allocation_count()), ctx->global_tick_count);
    }

    // Objects the native side creates during the tick are released when it ends.
    int arena = mrb_gc_arena_save(mrb);

    script_runtime_call(script_sym.current_fps, {mrb_fixnum_value(simulation_fps), mrb_fixnum_value(render_fps)});
    deliver_input(ctx);
    deliver_positions(mrb);
    deliver_window_sizes(mrb, ctx);

    if (timed) {
        timing.script_start = frame_timings_clock();
    }
    script_runtime_call(script_sym.sdl_tick, {mrb_fixnum_value(static_cast<mrb_int>(SDL_GetTicks()))});
    if (timed) {
        timing.script_end = frame_timings_clock();
    }
    script_runtime_call(script_sym.pixel_arrays);

    if (timed) {
        timing.walk_start = frame_timings_clock();
    }
    const bool screenshot = write_frame_description(stream, ctx, mrb);
    if (timed) {
        timing.walk_end = frame_timings_clock();
    }
    if (screenshot) {
        script_runtime_call(script_sym.draw_screenshots);
    }
    hand_over_frame(stream, ctx);

    mrb_value quit_answer = script_runtime_call(script_sym.quit_requested);
    bool quit = game.controller_key_states[0][game_quit_request_slot] != 0;

    hand_off_log(mrb);
    mrb_gc_arena_restore(mrb, arena);

    // Published last: a render thread that sees the new count finds the frame queued.
    ctx->tick_count = int_of(script_runtime_call(script_sym.tick_count));
    int32_t global_tick = int_of(script_runtime_call(script_sym.global_tick_count));
    ctx->global_tick_count = global_tick;
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, global_tick);
    if (timed) {
        frame_timings_tick_end(&timing, global_tick);
    }

    return quit || mrb_test(quit_answer) ? 0 : 1;
}

int simulation_thread(void *render_context_pointer)
{
    (void)render_context_pointer;  // the same context start-up made process-wide
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
    frame_timings_start(game.mrb);
    render_context *ctx = the_render_context;
    const uint64_t frequency = SDL_GetPerformanceFrequency();
    const uint64_t period = frequency / 60;
    const uint64_t one_ms = frequency / 1000;
    uint64_t target = SDL_GetPerformanceCounter();

    while (SDL_AtomicGet(&simulation_quit_flag) == 0) {
        if (SDL_AtomicGet(&atomic_is_first_simulation_iteration) == 1) {
            // The first tick waits for a frame the render thread drew after this point.
            SDL_AtomicSet(&atomic_draw_occurred, 0);
            while (SDL_AtomicGet(&atomic_draw_occurred) == 0) {
                SDL_Delay(1);
            }
            SDL_AtomicSet(&atomic_is_first_simulation_iteration, 0);
            SDL_Delay(1);
        }
        if (!simulation_iteration()) {
            break;
        }
        if (frame_timings_unpaced()) {
            // Benchmarks: the next tick starts once the render thread took this
            // frame, so the simulation stays one frame ahead of the drawing.
            while (threadstreamqueue_getcount(ctx->frame_queue) > 0 && SDL_AtomicGet(&simulation_quit_flag) == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            target = SDL_GetPerformanceCounter();
            continue;
        }
        uint64_t now = SDL_GetPerformanceCounter();
        if (SDL_AtomicGet(&wake_occurred_flag)) {
            target = now - one_ms;  // back from the background: no catch-up
            SDL_AtomicSet(&wake_occurred_flag, 0);
        } else {
            target += period;  // never re-based: after a slow tick, ticks run back to back
        }
        // Sleep in 1 ms steps while at least 2 ms remain, then spin to the deadline.
        while (target > now && target - now >= 2 * one_ms) {
            SDL_Delay(1);
            now = SDL_GetPerformanceCounter();
        }
        while (SDL_GetPerformanceCounter() < target) {
        }
    }
    frame_timings_report();
    SDL_AtomicSet(&simulation_quit_flag, 1);
    return 0;
}
