// Event translation: every window-system event that the render thread ships to
// the simulation thread becomes an event hash for the runtime's raw_event and then
// the runtime's input calls, with positions in the game's logical units. The layer
// keeps the little native state this needs: the window focus flags (fields of the
// render context) and the active touches. Start-up calls events_init; the
// simulation tick delivers the event queue; everything else runs on that thread.
#pragma once

#include <SDL.h>
#include <mruby.h>

#include <cstdint>

struct game_context;
struct render_context;

// Key and value symbols of the event hashes, interned once by events_init. Each
// name is exported twice: as a symbol id (sym_<name>) and as a ready script value
// (sym_value_<name>).
#define EVENTS_SYMBOL_LIST(X)                                                                                    \
    X(type) X(type_enum) X(key_down) X(key_up) X(unknown) X(keysym) X(raw_event) X(text_editing) X(text_input) \
    X(mouse_button) X(joypad_button) X(controller_button) X(drop_file) X(drop_text) X(mouse_motion)            \
    X(render_device_reset) X(render_targets_reset) X(text) X(start) X(length) X(clicks) X(state) X(which)      \
    X(button) X(file) X(x) X(y) X(xrel) X(yrel) X(sym) X(scancode) X(mod) X(repeat) X(mouse_wheel)           \
    X(precise_y) X(precise_x) X(direction) X(user_event) X(a11y_activation_event) X(activated_id)             \
    X(activated_global_at)

#define EVENTS_DECLARE_SYMBOL(name) extern mrb_sym sym_##name; extern mrb_value sym_value_##name;
extern "C" {
EVENTS_SYMBOL_LIST(EVENTS_DECLARE_SYMBOL)
}
#undef EVENTS_DECLARE_SYMBOL

// Interns the symbols and the runtime's input method names for game->mrb and
// defines the controller methods of FFI::Misc. Returns nonzero.
int events_init(game_context *game, render_context *ctx);

// Builds the event hash of one raw SDL event and returns runtime.raw_event(hash)
// (nil when the call raised; the exception is logged).
mrb_value events_process_raw(render_context *ctx, const SDL_Event *event, game_context *game);

// The runtime's input calls for one event (after its raw_event), the focus flags,
// the touch list, the quit request and the controller device events.
void events_dispatch(render_context *ctx, const SDL_Event *event, game_context *game);

// events_process_raw, then events_dispatch, then frees what the event owns (the
// text of a dropped file or text). The event must not be used again.
void events_deliver(render_context *ctx, SDL_Event *event, game_context *game);

// Takes every stream waiting in the event queue and delivers its events in arrival
// order, releasing each stream. A stream too short for its count is delivered up to
// its last whole record. Returns the number of events delivered.
uint64_t events_deliver_queue(render_context *ctx, game_context *game);

// A window point in pixels to the game's logical point (truncated toward zero).
void events_window_to_logical(const render_context *ctx, float px, float py, int *out_x, int *out_y);
// A touch point given as fractions of the window to the logical point.
void events_touch_to_logical(const render_context *ctx, float fx, float fy, int *out_x, int *out_y);

// Active touches: how many there are and the number the next new touch gets from
// the counter (1, 2, 3, ...). The touch that drives the emulated mouse is the
// primary one; 0 when there is none.
int events_touch_count();
int32_t events_primary_touch_number();
// Forgets every touch and resets the counter; used when the render context goes
// away and by tests between cases.
void events_clear_touches();
