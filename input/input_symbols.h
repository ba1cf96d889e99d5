// The runtime methods the input layer calls, interned once by events_init and
// shared by the event dispatcher and the controller code.
#pragma once

#include <mruby.h>

#include "engine/game_context.h"

struct input_method_symbols {
    mrb_sym raw_event;
    mrb_sym key_down_raw, key_up_raw, scancode_down_raw, scancode_up_raw, textinput;
    mrb_sym mouse_move, mouse_move_relative, mouse_button_pressed, mouse_button_up, mouse_wheel;
    mrb_sym finger_down, finger_move, finger_up;
    mrb_sym window_keyboard_focus_changed, window_mouse_focus_changed;
    mrb_sym rawjoystick_connected, rawjoystick_disconnected, rawjoystick_axis, rawjoystick_hat, rawjoystick_button;
    mrb_sym controller_key_down, controller_key_held, controller_key_up;
    mrb_sym controller_connected[game_player_count];     // controller_one_connected ...
    mrb_sym controller_disconnected[game_player_count];  // controller_one_disconnected ...
    mrb_sym analog[game_player_count * 4];               // left x, left y, right x, right y per player
};

extern input_method_symbols input_sym;

// Interns the names above; called by events_init, again for a new interpreter.
void input_intern_method_symbols(mrb_state *mrb);
