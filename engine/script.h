// The engine's side of the interpreter: symbols interned once, calls into the one
// runtime object with exceptions caught and logged, the native script loader of
// KorRuntime, and the mirror of registered cvars into $cvars. Used by start-up, the
// simulation tick and shutdown, all on the thread that owns the interpreter.
#pragma once

#include <mruby.h>

#include <initializer_list>

struct game_context;

// Every method name the engine calls on script objects, interned by
// script_intern_symbols before the first call.
struct script_symbols {
    mrb_sym sdl_tick;
    mrb_sym current_fps;
    mrb_sym left_controller_position, right_controller_position, headset_position;
    mrb_sym windowevent_size_changed, set_resize_occurred;
    mrb_sym pixel_arrays, passes, take_screenshot;
    mrb_sym target, render_transient, render_width, render_height, primitives;
    mrb_sym background_color, clear_before_render;
    mrb_sym draw_solid, draw_sprite, draw_label, draw_line, draw_border, draw_primitive;
    mrb_sym draw_screenshots, draw_override;
    mrb_sym quit_requested, new_log_entry, tick_count, global_tick_count;
    mrb_sym quit, quit_bang, ffi_draw, get_texture_atlas, to_a, inspect;
    mrb_sym get_ruby_reload_list, reload_complete;
    mrb_sym texture[8], texture_scale_enum[8];  // :texture_100 .. and :texture_100_scale_enum ..
};

extern script_symbols script_sym;

void script_intern_symbols(mrb_state *mrb);

// Runs source text at top level; 0 when it raised (logged).
int script_eval(mrb_state *mrb, const char *source);

// Calls a method from native code outside any script frame. A raised exception
// is logged (inspect text and backtrace), cleared, and nil is returned.
mrb_value script_call(mrb_state *mrb, mrb_value receiver, mrb_sym method, std::initializer_list<mrb_value> args = {});
// Calls the runtime object of the game record.
mrb_value script_runtime_call(mrb_sym method, std::initializer_list<mrb_value> args = {});

// Logs a pending exception (inspect text and backtrace) under "Engine" and clears
// it; 1 when there was one.
int script_report_pending_exception(mrb_state *mrb, const char *context);

// Looks a constant up without raising: the class or module it names, or null when
// it is missing or of another kind.
RClass *script_find_class(mrb_state *mrb, RClass *outer, const char *name);
RClass *script_find_module(mrb_state *mrb, RClass *outer, const char *name);

// Defines the native methods of KorRuntime; 0 when KorRuntime is not a class.
int script_define_runtime_methods(mrb_state *mrb);

// The process's exit status after a normal shutdown: 0 unless the framework set
// another one (KorRuntime#__set_exit_status__, e.g. a failed --test run).
int script_exit_status();
// Prints the line set by KorRuntime#__set_final_line__, if any (after shutdown).
void script_print_final_line();

// The cvar registration callback: mirrors a cvar into $cvars as KorCvar.new(name,
// description, type name). The context is the interpreter.
void script_cvar_registered(void *context, const char *name, const char *description, int type);
