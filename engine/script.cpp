#include "engine/script.h"

#include <SDL.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/compile.h>
#include <mruby/dump.h>
#include <mruby/error.h>
#include <mruby/hash.h>
#include <mruby/irep.h>
#include <mruby/proc.h>
#include <mruby/string.h>
#include <mruby/variable.h>

#include <cstdio>

#include "config/cvar.h"
#include "engine/game_context.h"
#include "fs/filehelpers.h"
#include "log/log.h"

script_symbols script_sym;

namespace {


// Parse errors are collected into one message: each line at most 255 bytes, the
// whole text at most 3000.
constexpr size_t parse_error_line_size = 255;
constexpr size_t parse_error_text_size = 3000;

mrb_value string_of(mrb_state *mrb, const char *text)
{
    return mrb_str_new_cstr(mrb, text ? text : "");
}

// Inspect text of an exception, or a fixed text when inspect itself fails.
void log_exception(mrb_state *mrb, mrb_value exception, const char *context)
{
    mrb_value text = mrb_funcall_argv(mrb, exception, script_sym.inspect, 0, nullptr);
    if (mrb->exc || !mrb_string_p(text)) {
        mrb->exc = nullptr;
        text = mrb_str_new_lit(mrb, "(exception could not be inspected)");
    }
    mrb_value backtrace = mrb_exc_backtrace(mrb, exception);
    mrb->exc = nullptr;
    log_error("Engine", "* EXCEPTION in %s: %.*s", context, static_cast<int>(RSTRING_LEN(text)), RSTRING_PTR(text));
    if (mrb_array_p(backtrace)) {
        for (mrb_int i = 0; i < RARRAY_LEN(backtrace); i++) {
            mrb_value line = mrb_ary_ref(mrb, backtrace, i);
            if (mrb_string_p(line)) {
                log_error("Engine", "    %.*s", static_cast<int>(RSTRING_LEN(line)), RSTRING_PTR(line));
            }
        }
    }
}

bool has_compiled_extension(const char *path)
{
    const char *dot = SDL_strrchr(path, '.');
    return dot && SDL_strcasecmp(dot, ".rbc") == 0;
}

// Runs a compiled procedure at top level (self = main, definitions on Object) and
// passes any exception it raised on to the script caller.
void run_top_level(mrb_state *mrb, RProc *proc)
{
    MRB_PROC_SET_TARGET_CLASS(proc, mrb->object_class);
    mrb_top_run(mrb, proc, mrb_top_self(mrb), 0);
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_exc_raise(mrb, exception);
    }
}

// The file text is freed before the code runs: a raise inside it leaves this frame
// by longjmp, so nothing may still be owned here then.
void load_compiled(mrb_state *mrb, char *bytes, size_t length)
{
    mrb_irep *irep = mrb_read_irep_buf(mrb, bytes, length);
    SDL_free(bytes);
    if (!irep) {
        if (mrb->exc) {
            mrb_value exception = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
            mrb_exc_raise(mrb, exception);
        }
        return;
    }
    RProc *proc = mrb_proc_new(mrb, irep);
    mrb_irep_decref(mrb, irep);
    run_top_level(mrb, proc);
}

void load_source(mrb_state *mrb, const char *path, char *text, size_t length)
{
    mrbc_context *context = mrbc_context_new(mrb);
    if (!context) {
        SDL_free(text);
        mrb_raise(mrb, E_RUNTIME_ERROR, "Out of memory while loading a script");
    }
    mrbc_filename(mrb, context, path);
    context->capture_errors = TRUE;
    mrb_parser_state *parser = mrb_parse_nstring(mrb, text, length, context);
    if (!parser) {
        mrbc_context_free(mrb, context);
        SDL_free(text);
        mrb_raise(mrb, E_RUNTIME_ERROR, "Out of memory while parsing a script");
    }
    if (parser->nerr > 0) {
        char message[parse_error_text_size];
        message[0] = '\0';
        size_t count = parser->nerr < 10 ? parser->nerr : 10;
        for (size_t i = 0; i < count; i++) {
            char line[parse_error_line_size];
            const mrb_parser_message &error = parser->error_buffer[i];
            SDL_snprintf(line, sizeof line, "line %d:%d: %s\n", static_cast<int>(error.lineno), error.column,
                         error.message ? error.message : "");
            SDL_strlcat(message, line, sizeof message);
        }
        SDL_Log("* Failed to load/reload %s\n%s", path, text);
        mrb_parser_free(parser);
        mrbc_context_free(mrb, context);
        SDL_free(text);
        mrb_raise(mrb, E_RUNTIME_ERROR, message);
    }
    RProc *proc = mrb_generate_code(mrb, parser);
    mrb_parser_free(parser);
    mrbc_context_free(mrb, context);
    SDL_free(text);
    if (!proc) {
        mrb_raise(mrb, E_SCRIPT_ERROR, "codegen error");
    }
    run_top_level(mrb, proc);
}

// KorRuntime#reload_requested_ruby_files_synchronously: loads every queued file in
// order. A nested require re-enters with the same list, so the list is consumed
// from the front and re-read on every turn.
mrb_value runtime_reload_requested_ruby_files_synchronously(mrb_state *mrb, mrb_value self)
{
    mrb_value list = mrb_funcall_argv(mrb, self, script_sym.get_ruby_reload_list, 0, nullptr);
    if (!mrb_array_p(list)) {
        return mrb_nil_value();
    }
    mrb_int queued = RARRAY_LEN(list);
    while (RARRAY_LEN(list) > 0) {
        int arena = mrb_gc_arena_save(mrb);
        mrb_value path_value = mrb_obj_as_string(mrb, mrb_ary_shift(mrb, list));
        const char *path = mrb_str_to_cstr(mrb, path_value);
        size_t length = 0;
        char *text = loadfile(path, &length);
        if (text) {
            if (has_compiled_extension(path)) {
                load_compiled(mrb, text, length);
            } else {
                load_source(mrb, path, text, length);
            }
        }
        mrb_gc_arena_restore(mrb, arena);
    }
    if (queued > 0) {
        mrb_funcall_argv(mrb, self, script_sym.reload_complete, 0, nullptr);
    }
    return mrb_nil_value();
}

// Set on the simulation thread, read by the main thread after it has joined it.
SDL_atomic_t exit_status;

// KorRuntime#__set_exit_status__(code): the status the process exits with once
// the simulation has ended normally.
mrb_value runtime_set_exit_status(mrb_state *mrb, mrb_value)
{
    mrb_int code = 0;
    mrb_get_args(mrb, "i", &code);
    SDL_AtomicSet(&exit_status, static_cast<int>(code & 0xff));
    return mrb_nil_value();
}

// The line printed after shutdown, once the log has written everything: the test
// runner's summary must be the last line of the output. Written by the
// simulation thread, read by the main thread after it joined it.
char *final_output_line;

// KorRuntime#__set_final_line__(text)
mrb_value runtime_set_final_line(mrb_state *mrb, mrb_value)
{
    const char *text = nullptr;
    mrb_get_args(mrb, "z", &text);
    SDL_free(final_output_line);
    final_output_line = SDL_strdup(text);
    return mrb_nil_value();
}

struct CvarMirror {
    const char *name;
    const char *description;
    const char *type_name;
};

mrb_value mirror_cvar_body(mrb_state *mrb, void *userdata)
{
    auto *cvar = static_cast<CvarMirror *>(userdata);
    mrb_value cvars = mrb_gv_get(mrb, mrb_intern_lit(mrb, "$cvars"));
    if (!mrb_hash_p(cvars)) {
        return mrb_nil_value();
    }
    RClass *klass = script_find_class(mrb, mrb->object_class, "KorCvar");
    if (!klass) {
        return mrb_nil_value();
    }
    mrb_value args[3] = {string_of(mrb, cvar->name), string_of(mrb, cvar->description),
                         string_of(mrb, cvar->type_name)};
    mrb_value object = mrb_obj_new(mrb, klass, 3, args);
    mrb_hash_set(mrb, cvars, args[0], object);
    return mrb_nil_value();
}

} // namespace

void script_intern_symbols(mrb_state *mrb)
{
    script_symbols &s = script_sym;
    s.sdl_tick = mrb_intern_lit(mrb, "__sdl_tick__");
    s.current_fps = mrb_intern_lit(mrb, "current_fps");
    s.left_controller_position = mrb_intern_lit(mrb, "left_controller_position");
    s.right_controller_position = mrb_intern_lit(mrb, "right_controller_position");
    s.headset_position = mrb_intern_lit(mrb, "headset_position");
    s.windowevent_size_changed = mrb_intern_lit(mrb, "windowevent_size_changed");
    s.set_resize_occurred = mrb_intern_lit(mrb, "set_resize_occurred");
    s.pixel_arrays = mrb_intern_lit(mrb, "pixel_arrays");
    s.passes = mrb_intern_lit(mrb, "passes");
    s.take_screenshot = mrb_intern_lit(mrb, "take_screenshot");
    s.target = mrb_intern_lit(mrb, "target");
    s.render_transient = mrb_intern_lit(mrb, "render_transient");
    s.render_width = mrb_intern_lit(mrb, "render_width");
    s.render_height = mrb_intern_lit(mrb, "render_height");
    s.primitives = mrb_intern_lit(mrb, "primitives");
    s.background_color = mrb_intern_lit(mrb, "background_color");
    s.clear_before_render = mrb_intern_lit(mrb, "clear_before_render");
    s.draw_solid = mrb_intern_lit(mrb, "draw_solid");
    s.draw_sprite = mrb_intern_lit(mrb, "draw_sprite");
    s.draw_label = mrb_intern_lit(mrb, "draw_label");
    s.draw_line = mrb_intern_lit(mrb, "draw_line");
    s.draw_border = mrb_intern_lit(mrb, "draw_border");
    s.draw_primitive = mrb_intern_lit(mrb, "draw_primitive");
    s.draw_screenshots = mrb_intern_lit(mrb, "draw_screenshots");
    s.draw_override = mrb_intern_lit(mrb, "draw_override");
    s.quit_requested = mrb_intern_lit(mrb, "quit_requested?");
    s.new_log_entry = mrb_intern_lit(mrb, "new_log_entry");
    s.tick_count = mrb_intern_lit(mrb, "__tick_count__");
    s.global_tick_count = mrb_intern_lit(mrb, "__global_tick_count__");
    s.quit = mrb_intern_lit(mrb, "quit");
    s.quit_bang = mrb_intern_lit(mrb, "quit!");
    s.ffi_draw = mrb_intern_lit(mrb, "ffi_draw");
    s.get_texture_atlas = mrb_intern_lit(mrb, "get_texture_atlas");
    s.to_a = mrb_intern_lit(mrb, "to_a");
    s.inspect = mrb_intern_lit(mrb, "inspect");
    s.get_ruby_reload_list = mrb_intern_lit(mrb, "get_ruby_reload_list");
    s.reload_complete = mrb_intern_lit(mrb, "reload_complete");
    for (int i = 0; i < texture_atlas_variant_count; i++) {
        char name[40];
        SDL_snprintf(name, sizeof name, "texture_%d", texture_atlas_scales[i]);
        s.texture[i] = mrb_intern_cstr(mrb, name);
        SDL_snprintf(name, sizeof name, "texture_%d_scale_enum", texture_atlas_scales[i]);
        s.texture_scale_enum[i] = mrb_intern_cstr(mrb, name);
    }
}

int script_eval(mrb_state *mrb, const char *source)
{
    int arena = mrb_gc_arena_save(mrb);
    mrb_load_string(mrb, source);
    int ok = script_report_pending_exception(mrb, "evaluated text") ? 0 : 1;
    mrb_gc_arena_restore(mrb, arena);
    return ok;
}

int script_report_pending_exception(mrb_state *mrb, const char *context)
{
    if (!mrb->exc) {
        return 0;
    }
    mrb_value exception = mrb_obj_value(mrb->exc);
    mrb->exc = nullptr;
    log_exception(mrb, exception, context);
    return 1;
}

mrb_value script_call(mrb_state *mrb, mrb_value receiver, mrb_sym method, std::initializer_list<mrb_value> args)
{
    // With no script frame below, the interpreter catches a raise itself and
    // leaves it pending in mrb->exc.
    mrb_value result = mrb_funcall_argv(mrb, receiver, method, static_cast<mrb_int>(args.size()), args.begin());
    if (mrb->exc) {
        mrb_int length = 0;
        const char *name = mrb_sym_name_len(mrb, method, &length);
        script_report_pending_exception(mrb, name ? name : "a runtime call");
        return mrb_nil_value();
    }
    return result;
}

mrb_value script_runtime_call(mrb_sym method, std::initializer_list<mrb_value> args)
{
    return script_call(game.mrb, game.runtime, method, args);
}

RClass *script_find_class(mrb_state *mrb, RClass *outer, const char *name)
{
    mrb_sym sym = mrb_intern_cstr(mrb, name);
    mrb_value scope = mrb_obj_value(outer ? outer : mrb->object_class);
    if (!mrb_const_defined(mrb, scope, sym)) {
        return nullptr;
    }
    mrb_value value = mrb_const_get(mrb, scope, sym);
    return mrb_class_p(value) ? mrb_class_ptr(value) : nullptr;
}

RClass *script_find_module(mrb_state *mrb, RClass *outer, const char *name)
{
    mrb_sym sym = mrb_intern_cstr(mrb, name);
    mrb_value scope = mrb_obj_value(outer ? outer : mrb->object_class);
    if (!mrb_const_defined(mrb, scope, sym)) {
        return nullptr;
    }
    mrb_value value = mrb_const_get(mrb, scope, sym);
    return mrb_type(value) == MRB_TT_MODULE ? mrb_class_ptr(value) : nullptr;
}

int script_define_runtime_methods(mrb_state *mrb)
{
    RClass *runtime = script_find_class(mrb, mrb->object_class, "KorRuntime");
    if (!runtime) {
        return 0;
    }
    mrb_define_method(mrb, runtime, "reload_requested_ruby_files_synchronously",
                      runtime_reload_requested_ruby_files_synchronously, MRB_ARGS_NONE());
    mrb_define_method(mrb, runtime, "__set_exit_status__", runtime_set_exit_status, MRB_ARGS_REQ(1));
    mrb_define_method(mrb, runtime, "__set_final_line__", runtime_set_final_line, MRB_ARGS_REQ(1));
    return 1;
}

void script_print_final_line()
{
    if (final_output_line) {
        fprintf(stdout, "%s\n", final_output_line);
        fflush(stdout);
        SDL_free(final_output_line);
        final_output_line = nullptr;
    }
}

int script_exit_status()
{
    return SDL_AtomicGet(&exit_status);
}

void script_cvar_registered(void *context, const char *name, const char *description, int type)
{
    auto *mrb = static_cast<mrb_state *>(context);
    const char *type_name = cvar_type_name(type);
    if (!mrb || !name || !type_name) {
        return;
    }
    // Registrations can come from inside script calls (the cvar bindings), through
    // the cvar registry's own frames: a raise must not unwind those.
    CvarMirror cvar{name, description, type_name};
    int arena = mrb_gc_arena_save(mrb);
    mrb_bool failed = FALSE;
    mrb_value result = mrb_protect_error(mrb, mirror_cvar_body, &cvar, &failed);
    if (failed) {
        mrb->exc = nullptr;
        log_exception(mrb, result, "mirroring a cvar into $cvars");
    }
    mrb_gc_arena_restore(mrb, arena);
}
