#include "input/events.h"

#include <SDL.h>
#include <mruby.h>
#include <mruby/hash.h>
#include <mruby/string.h>

#include <cmath>
#include <cstring>

#include "engine/game_context.h"
#include "engine/script.h"
#include "input/controller_binding.h"
#include "input/controllers.h"
#include "input/input_symbols.h"
#include "render/render_context.h"
#include "stream/records.h"
#include "stream/threadstream.h"

#define EVENTS_DEFINE_SYMBOL(name) mrb_sym sym_##name; mrb_value sym_value_##name;
extern "C" {
EVENTS_SYMBOL_LIST(EVENTS_DEFINE_SYMBOL)
}
#undef EVENTS_DEFINE_SYMBOL

namespace {

// One finger on a touch device, from its finger-down to its finger-up.
struct Touch {
    SDL_TouchID device;
    SDL_FingerID finger;
    int32_t number;
    Touch *previous;
    Touch *next;
};

struct EventsState {
    Touch *touches;         // newest first
    int32_t touch_counter;  // number of the newest touch
    Touch *primary;         // drives the emulated mouse
};
EventsState events;

static_assert(sizeof(SDL_Event) == event_record_size, "event stream records are raw SDL events");

void intern_event_symbols(mrb_state *mrb)
{
#define EVENTS_INTERN_SYMBOL(name)              \
    sym_##name = mrb_intern_lit(mrb, #name); \
    sym_value_##name = mrb_symbol_value(sym_##name);
    EVENTS_SYMBOL_LIST(EVENTS_INTERN_SYMBOL)
#undef EVENTS_INTERN_SYMBOL
}

// Float to int toward zero; NaN gives 0, values beyond the int range its limits.
int truncate_to_int(float value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483520.0f) {
        return INT32_MAX;
    }
    if (value <= -2147483648.0f) {
        return INT32_MIN;
    }
    return static_cast<int>(value);
}

mrb_value call(game_context *game, mrb_sym method, std::initializer_list<mrb_value> args)
{
    return script_call(game->mrb, game->runtime, method, args);
}

mrb_value int_value(int64_t v)
{
    return mrb_fixnum_value(static_cast<mrb_int>(v));
}

// Text of a fixed-size event field, which a well-formed event zero-terminates.
mrb_value bounded_string(mrb_state *mrb, const char *text, size_t capacity)
{
    return mrb_str_new(mrb, text, strnlen(text, capacity));
}

mrb_value keysym_hash(mrb_state *mrb, const SDL_Keysym &keysym)
{
    mrb_value hash = mrb_hash_new_capa(mrb, 3);
    mrb_hash_set(mrb, hash, sym_value_scancode, int_value(keysym.scancode));
    mrb_hash_set(mrb, hash, sym_value_sym, int_value(keysym.sym));
    mrb_hash_set(mrb, hash, sym_value_mod, int_value(keysym.mod));
    return hash;
}

void fill_event_hash(mrb_state *mrb, mrb_value hash, const SDL_Event *event)
{
    auto set = [&](mrb_value key, mrb_value value) { mrb_hash_set(mrb, hash, key, value); };
    switch (event->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        set(sym_value_type, event->type == SDL_KEYDOWN ? sym_value_key_down : sym_value_key_up);
        set(sym_value_state, int_value(event->key.state));
        set(sym_value_repeat, int_value(event->key.repeat));
        set(sym_value_keysym, keysym_hash(mrb, event->key.keysym));
        break;
    case SDL_TEXTEDITING:
        set(sym_value_type, sym_value_text_editing);
        set(sym_value_text, bounded_string(mrb, event->edit.text, sizeof event->edit.text));
        set(sym_value_start, int_value(event->edit.start));
        set(sym_value_length, int_value(event->edit.length));
        break;
    case SDL_TEXTINPUT:
        set(sym_value_type, sym_value_text_input);
        set(sym_value_text, bounded_string(mrb, event->text.text, sizeof event->text.text));
        break;
    case SDL_MOUSEMOTION:
        set(sym_value_type, sym_value_mouse_motion);
        set(sym_value_which, int_value(static_cast<int32_t>(event->motion.which)));
        set(sym_value_x, int_value(event->motion.x));
        set(sym_value_y, int_value(event->motion.y));
        set(sym_value_xrel, int_value(event->motion.xrel));
        set(sym_value_yrel, int_value(event->motion.yrel));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        set(sym_value_type, sym_value_mouse_button);
        set(sym_value_x, int_value(event->button.x));
        set(sym_value_y, int_value(event->button.y));
        set(sym_value_clicks, int_value(event->button.clicks));
        set(sym_value_state, int_value(event->button.state));
        set(sym_value_which, int_value(static_cast<int32_t>(event->button.which)));
        set(sym_value_button, int_value(event->button.button));
        break;
    case SDL_MOUSEWHEEL:
        set(sym_value_type, sym_value_mouse_wheel);
        set(sym_value_which, int_value(static_cast<int32_t>(event->wheel.which)));
        set(sym_value_x, int_value(event->wheel.x));
        set(sym_value_y, int_value(event->wheel.y));
        set(sym_value_direction, int_value(event->wheel.direction));
        set(sym_value_precise_x, mrb_float_value(mrb, static_cast<mrb_float>(event->wheel.x)));
        set(sym_value_precise_y, mrb_float_value(mrb, static_cast<mrb_float>(event->wheel.y)));
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        set(sym_value_type, sym_value_joypad_button);
        set(sym_value_which, int_value(event->jbutton.which));
        set(sym_value_button, int_value(event->jbutton.button));
        set(sym_value_state, int_value(event->jbutton.state));
        break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        set(sym_value_type, sym_value_controller_button);
        set(sym_value_which, int_value(event->cbutton.which));
        set(sym_value_button, int_value(event->cbutton.button));
        set(sym_value_state, int_value(event->cbutton.state));
        break;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
        set(sym_value_type, event->type == SDL_DROPFILE ? sym_value_drop_file : sym_value_drop_text);
        set(sym_value_file, mrb_str_new_cstr(mrb, event->drop.file ? event->drop.file : ""));
        break;
    case SDL_RENDER_TARGETS_RESET:
        set(sym_value_type, sym_value_render_targets_reset);
        break;
    case SDL_RENDER_DEVICE_RESET:
        set(sym_value_type, sym_value_render_device_reset);
        break;
    default:
        set(sym_value_type, sym_value_unknown);
        break;
    }
}

void set_focus(game_context *game, int *flag, mrb_sym method, bool gained)
{
    __atomic_store_n(flag, gained ? 1 : 0, __ATOMIC_RELAXED);  // the render thread reads it
    call(game, method, {mrb_bool_value(gained)});
}

void window_event(render_context *ctx, const SDL_WindowEvent &window, game_context *game)
{
    if (!ctx || window.windowID != ctx->window_id) {
        return;
    }
    switch (window.event) {
    case SDL_WINDOWEVENT_ENTER:
        set_focus(game, &ctx->mouse_focus, input_sym.window_mouse_focus_changed, true);
        break;
    case SDL_WINDOWEVENT_LEAVE:
        set_focus(game, &ctx->mouse_focus, input_sym.window_mouse_focus_changed, false);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        set_focus(game, &ctx->keyboard_focus, input_sym.window_keyboard_focus_changed, true);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        set_focus(game, &ctx->keyboard_focus, input_sym.window_keyboard_focus_changed, false);
        break;
    default:
        break;
    }
}

Touch *find_touch(SDL_TouchID device, SDL_FingerID finger)
{
    for (Touch *touch = events.touches; touch; touch = touch->next) {
        if (touch->device == device && touch->finger == finger) {
            return touch;
        }
    }
    return nullptr;
}

void unlink_touch(Touch *touch)
{
    if (touch->previous) {
        touch->previous->next = touch->next;
    } else {
        events.touches = touch->next;
    }
    if (touch->next) {
        touch->next->previous = touch->previous;
    }
    if (events.primary == touch) {
        events.primary = nullptr;
    }
    SDL_free(touch);
}

void lift_touch(game_context *game, Touch *touch)
{
    if (touch == events.primary) {
        events.primary = nullptr;
        call(game, input_sym.mouse_button_up, {int_value(SDL_BUTTON_LEFT)});
    }
    call(game, input_sym.finger_up, {int_value(touch->number)});
    unlink_touch(touch);
}

void touch_down(render_context *ctx, const SDL_TouchFingerEvent &finger, game_context *game)
{
    // A second down for a finger that never came up: the first one is lifted, so
    // the script never keeps a touch that no longer exists.
    if (Touch *stale = find_touch(finger.touchId, finger.fingerId)) {
        lift_touch(game, stale);
    }
    auto *touch = static_cast<Touch *>(SDL_malloc(sizeof(Touch)));
    if (!touch) {
        return;
    }
    touch->device = finger.touchId;
    touch->finger = finger.fingerId;
    touch->number = events.touch_counter < 0 || events.touch_counter == INT32_MAX ? 1 : events.touch_counter + 1;
    events.touch_counter = touch->number;
    touch->previous = nullptr;
    touch->next = events.touches;
    if (events.touches) {
        events.touches->previous = touch;
    }
    events.touches = touch;

    int x = 0, y = 0;
    events_touch_to_logical(ctx, finger.x, finger.y, &x, &y);
    call(game, input_sym.finger_down, {int_value(touch->number), int_value(x), int_value(y)});
    if (!events.primary) {
        events.primary = touch;
        call(game, input_sym.mouse_move, {int_value(x), int_value(y)});
        call(game, input_sym.mouse_button_pressed, {int_value(SDL_BUTTON_LEFT)});
    }
}

void touch_up(const SDL_TouchFingerEvent &finger, game_context *game)
{
    if (Touch *touch = find_touch(finger.touchId, finger.fingerId)) {
        lift_touch(game, touch);
    }
}

void touch_motion(render_context *ctx, const SDL_TouchFingerEvent &finger, game_context *game)
{
    Touch *touch = find_touch(finger.touchId, finger.fingerId);
    if (!touch) {
        return;
    }
    int x = 0, y = 0;
    events_touch_to_logical(ctx, finger.x, finger.y, &x, &y);
    if (touch == events.primary) {
        call(game, input_sym.mouse_move, {int_value(x), int_value(y)});
    }
    call(game, input_sym.finger_move, {int_value(touch->number), int_value(x), int_value(y)});
}

// Raw events follow the count back to back; a record cut short ends the stream.
bool next_raw_event(threadstream *stream, SDL_Event *event)
{
    if (stream->error || stream->size < stream->read_pos || stream->size - stream->read_pos < event_record_size) {
        stream->error = 1;
        return false;
    }
    std::memcpy(event, stream->data + stream->read_pos, event_record_size);
    stream->read_pos += event_record_size;
    return true;
}

// SDL hands the text of a drop or an edit to whoever takes the event off its queue.
void free_event_text(SDL_Event *event)
{
    if (event->type == SDL_DROPFILE || event->type == SDL_DROPTEXT) {
        SDL_free(event->drop.file);
        event->drop.file = nullptr;
    } else if (event->type == SDL_TEXTEDITING_EXT) {
        SDL_free(event->editExt.text);
        event->editExt.text = nullptr;
    }
}

// The whole records a cut-short or failed stream leaves undelivered still own
// their texts: nobody else will see them.
void free_undelivered_texts(threadstream *stream)
{
    // Records follow the count word, even when that word was never read.
    const uint64_t first = stream->read_pos < sizeof(uint64_t) ? sizeof(uint64_t) : stream->read_pos;
    for (uint64_t pos = first; pos <= stream->size && stream->size - pos >= event_record_size;
         pos += event_record_size) {
        SDL_Event event;
        std::memcpy(&event, stream->data + pos, event_record_size);
        free_event_text(&event);
    }
}

} // namespace

input_method_symbols input_sym;

void input_intern_method_symbols(mrb_state *mrb)
{
    input_method_symbols &s = input_sym;
    s.raw_event = mrb_intern_lit(mrb, "raw_event");
    s.key_down_raw = mrb_intern_lit(mrb, "key_down_raw");
    s.key_up_raw = mrb_intern_lit(mrb, "key_up_raw");
    s.scancode_down_raw = mrb_intern_lit(mrb, "scancode_down_raw");
    s.scancode_up_raw = mrb_intern_lit(mrb, "scancode_up_raw");
    s.textinput = mrb_intern_lit(mrb, "textinput");
    s.mouse_move = mrb_intern_lit(mrb, "mouse_move");
    s.mouse_move_relative = mrb_intern_lit(mrb, "mouse_move_relative");
    s.mouse_button_pressed = mrb_intern_lit(mrb, "mouse_button_pressed");
    s.mouse_button_up = mrb_intern_lit(mrb, "mouse_button_up");
    s.mouse_wheel = mrb_intern_lit(mrb, "mouse_wheel");
    s.finger_down = mrb_intern_lit(mrb, "finger_down");
    s.finger_move = mrb_intern_lit(mrb, "finger_move");
    s.finger_up = mrb_intern_lit(mrb, "finger_up");
    s.window_keyboard_focus_changed = mrb_intern_lit(mrb, "window_keyboard_focus_changed");
    s.window_mouse_focus_changed = mrb_intern_lit(mrb, "window_mouse_focus_changed");
    s.rawjoystick_connected = mrb_intern_lit(mrb, "rawjoystick_connected");
    s.rawjoystick_disconnected = mrb_intern_lit(mrb, "rawjoystick_disconnected");
    s.rawjoystick_axis = mrb_intern_lit(mrb, "rawjoystick_axis");
    s.rawjoystick_hat = mrb_intern_lit(mrb, "rawjoystick_hat");
    s.rawjoystick_button = mrb_intern_lit(mrb, "rawjoystick_button");
    s.controller_key_down = mrb_intern_lit(mrb, "controller_key_down");
    s.controller_key_held = mrb_intern_lit(mrb, "controller_key_held");
    s.controller_key_up = mrb_intern_lit(mrb, "controller_key_up");
    constexpr const char *numbers[game_player_count] = {"one", "two", "three", "four"};
    constexpr const char *axes[4] = {"left_analog_x", "left_analog_y", "right_analog_x", "right_analog_y"};
    for (int p = 0; p < game_player_count; p++) {
        char name[48];
        SDL_snprintf(name, sizeof name, "controller_%s_connected", numbers[p]);
        s.controller_connected[p] = mrb_intern_cstr(mrb, name);
        SDL_snprintf(name, sizeof name, "controller_%s_disconnected", numbers[p]);
        s.controller_disconnected[p] = mrb_intern_cstr(mrb, name);
        for (int a = 0; a < 4; a++) {
            SDL_snprintf(name, sizeof name, "%s_player_%d", axes[a], p + 1);
            s.analog[p * 4 + a] = mrb_intern_cstr(mrb, name);
        }
    }
}

int events_init(game_context *game, render_context *ctx)
{
    (void)ctx;  // the focus flags start at 1 when the render context is created
    intern_event_symbols(game->mrb);
    input_intern_method_symbols(game->mrb);
    ffi_init_controllers(game->mrb);
    return 1;
}

void events_window_to_logical(const render_context *ctx, float px, float py, int *out_x, int *out_y)
{
    float s = ctx ? ctx->texture_scale : 1.0f;
    if (!(s > 0.0f) || std::isinf(s)) {
        s = 1.0f;  // a context that was never sized maps one to one
    }
    float ox = ctx ? static_cast<float>(ctx->letterbox_offset_x) : 0.0f;
    float oy = ctx ? static_cast<float>(ctx->letterbox_offset_y) : 0.0f;
    *out_x = truncate_to_int(px / s - ox / s);
    *out_y = truncate_to_int(py / s - oy / s);
}

void events_touch_to_logical(const render_context *ctx, float fx, float fy, int *out_x, int *out_y)
{
    float w = ctx ? static_cast<float>(ctx->native_render_width) : 0.0f;
    float h = ctx ? static_cast<float>(ctx->native_render_height) : 0.0f;
    int px = truncate_to_int(w * fx);
    int py = truncate_to_int(h * fy);
    events_window_to_logical(ctx, static_cast<float>(px), static_cast<float>(py), out_x, out_y);
}

mrb_value events_process_raw(render_context *ctx, const SDL_Event *event, game_context *game)
{
    (void)ctx;
    mrb_state *mrb = game->mrb;
    mrb_value hash = mrb_hash_new_capa(mrb, 8);
    mrb_hash_set(mrb, hash, sym_value_type_enum, int_value(event->type));
    fill_event_hash(mrb, hash, event);
    return call(game, input_sym.raw_event, {hash});
}

void events_dispatch(render_context *ctx, const SDL_Event *event, game_context *game)
{
    switch (event->type) {
    case SDL_QUIT:
        game->controller_key_states[0][game_quit_request_slot] = 1;
        break;
    case SDL_WINDOWEVENT:
        window_event(ctx, event->window, game);
        break;
    case SDL_KEYDOWN:
        call(game, input_sym.key_down_raw, {int_value(event->key.keysym.sym), int_value(event->key.keysym.mod)});
        call(game, input_sym.scancode_down_raw,
             {int_value(event->key.keysym.scancode), int_value(event->key.keysym.mod)});
        break;
    case SDL_KEYUP:
        call(game, input_sym.key_up_raw, {int_value(event->key.keysym.sym), int_value(event->key.keysym.mod)});
        call(game, input_sym.scancode_up_raw,
             {int_value(event->key.keysym.scancode), int_value(event->key.keysym.mod)});
        break;
    case SDL_TEXTINPUT:
        call(game, input_sym.textinput, {bounded_string(game->mrb, event->text.text, sizeof event->text.text)});
        break;
    case SDL_MOUSEMOTION:
        if (event->motion.which != SDL_TOUCH_MOUSEID) {
            int x = 0, y = 0;
            events_window_to_logical(ctx, static_cast<float>(event->motion.x), static_cast<float>(event->motion.y),
                                     &x, &y);
            call(game, input_sym.mouse_move_relative,
                 {int_value(x), int_value(y), int_value(event->motion.xrel), int_value(event->motion.yrel)});
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event->button.which != SDL_TOUCH_MOUSEID) {
            call(game, input_sym.mouse_button_pressed, {int_value(event->button.button)});
        }
        break;
    case SDL_MOUSEBUTTONUP:
        if (event->button.which != SDL_TOUCH_MOUSEID) {
            call(game, input_sym.mouse_button_up, {int_value(event->button.button)});
        }
        break;
    case SDL_MOUSEWHEEL:
        if (event->wheel.which != SDL_TOUCH_MOUSEID) {
            call(game, input_sym.mouse_wheel,
                 {int_value(event->wheel.x), int_value(event->wheel.y),
                  mrb_bool_value(event->wheel.direction == SDL_MOUSEWHEEL_FLIPPED)});
        }
        break;
    case SDL_JOYAXISMOTION:
        call(game, input_sym.rawjoystick_axis,
             {int_value(event->jaxis.which), int_value(event->jaxis.axis), int_value(event->jaxis.value)});
        break;
    case SDL_JOYHATMOTION:
        call(game, input_sym.rawjoystick_hat,
             {int_value(event->jhat.which), int_value(event->jhat.hat), int_value(event->jhat.value)});
        break;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        call(game, input_sym.rawjoystick_button,
             {int_value(event->jbutton.which), int_value(event->jbutton.button),
              mrb_bool_value(event->jbutton.state == SDL_PRESSED)});
        break;
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED:
    case SDL_CONTROLLERDEVICEADDED:
    case SDL_CONTROLLERDEVICEREMOVED:
        controllers_handle_device_event(game, event);
        break;
    case SDL_FINGERDOWN:
        if (event->tfinger.touchId != SDL_MOUSE_TOUCHID) {
            touch_down(ctx, event->tfinger, game);
        }
        break;
    case SDL_FINGERUP:
        if (event->tfinger.touchId != SDL_MOUSE_TOUCHID) {
            touch_up(event->tfinger, game);
        }
        break;
    case SDL_FINGERMOTION:
        if (event->tfinger.touchId != SDL_MOUSE_TOUCHID) {
            touch_motion(ctx, event->tfinger, game);
        }
        break;
    default:
        break;
    }
}

void events_deliver(render_context *ctx, SDL_Event *event, game_context *game)
{
    int arena = mrb_gc_arena_save(game->mrb);
    events_process_raw(ctx, event, game);
    events_dispatch(ctx, event, game);
    mrb_gc_arena_restore(game->mrb, arena);
    free_event_text(event);
}

uint64_t events_deliver_queue(render_context *ctx, game_context *game)
{
    uint64_t delivered = 0;
    while (threadstream *stream = threadstreamqueue_getitem(ctx->event_queue)) {
        uint64_t count = threadstream_unpack_size_t(stream);
        SDL_Event event;
        for (uint64_t i = 0; !stream->error && i < count && next_raw_event(stream, &event); i++) {
            events_deliver(ctx, &event, game);
            delivered++;
        }
        free_undelivered_texts(stream);
        threadstream_free(stream);
    }
    return delivered;
}

int events_touch_count()
{
    int count = 0;
    for (Touch *touch = events.touches; touch; touch = touch->next) {
        count++;
    }
    return count;
}

int32_t events_primary_touch_number()
{
    return events.primary ? events.primary->number : 0;
}

void events_clear_touches()
{
    while (events.touches) {
        Touch *next = events.touches->next;
        SDL_free(events.touches);
        events.touches = next;
    }
    events.primary = nullptr;
    events.touch_counter = 0;
}
