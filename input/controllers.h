// Game controllers and raw joysticks. Up to four controllers sit in player slots
// 1..4, assigned on connection and freed on removal; each tick they are polled into
// the per-player key states of the game record (0 idle, 1 pressed, 2 held, 3
// released) and four analog values, which the tick delivers to the runtime one
// tick later. Devices without a mapping (or every device, with controller.config_ui
// 1) are raw joysticks, reported only by instance id. Everything runs on the
// simulation thread: the device events come through the event dispatcher.
#pragma once

#include <SDL.h>

#include <cstdint>

struct game_context;

// A stick counts in a direction at 20001 or more; a trigger outside -20000..20000.
constexpr int controller_axis_threshold = 20000;

// Key indices of the key-state arrays (the script side names them).
enum controller_key : int {
    controller_key_up = 1,
    controller_key_down = 2,
    controller_key_left = 3,
    controller_key_right = 4,
    controller_key_start = 13,
    controller_key_b = 14,
    controller_key_a = 15,
    controller_key_x = 16,
    controller_key_y = 17,
    controller_key_l1 = 18,
    controller_key_r1 = 19,
    controller_key_l3 = 20,
    controller_key_r3 = 21,
    controller_key_l2 = 22,
    controller_key_r2 = 23,
    controller_key_directional_up = 24,
    controller_key_directional_down = 25,
    controller_key_directional_left = 26,
    controller_key_directional_right = 27,
    controller_key_select = 28,
    controller_key_home = 29,
};

// Analog value indices per player.
enum controller_axis : int { controller_left_x = 0, controller_left_y = 1, controller_right_x = 2, controller_right_y = 3 };

// Opens the game controller at the device index and assigns it to the first free
// player slot (closing it again when all four are taken). Returns the player
// number 1..4, or 0 when it was not assigned.
int open_game_controller(game_context *game, int device_index);

// SDL_CONTROLLERDEVICEADDED / REMOVED and SDL_JOYDEVICEADDED / REMOVED.
void controllers_handle_device_event(game_context *game, const SDL_Event *event);

// Delivers the pending key events of one player (1..4) to the runtime:
// controller_key_down, _held, _up, advancing the states (the tick's step before the
// events).
void controllers_deliver_key_events(game_context *game, int player);
// Polls one player's controller (1..4) into its key states and analog values (the
// tick's step after the events).
void controllers_poll(game_context *game, int player);
// The sixteen left_analog_x_player_1 ... right_analog_y_player_4 calls.
void controllers_deliver_analog(game_context *game);

// Stored analog value of a player (1..4) and axis, -32768..32767.
int32_t controllers_analog_value(int player, int axis);
// The controller in a player's slot (1..4), or null.
SDL_GameController *controllers_player(int player);

// Raw joysticks the input layer opened itself.
int controllers_raw_joystick_open(SDL_JoystickID instance_id);
// Closes a raw joystick this layer opened; 0 when it had none with that id.
int controllers_close_raw_joystick(SDL_JoystickID instance_id);
// Closes the raw joystick, then opens the device as a game controller when SDL
// recognises it as one. Returns the player number it got, or 0.
int controllers_convert_raw_to_controller(game_context *game, SDL_JoystickID instance_id);

// Reads a controller-mapping file through the virtual file system and adds every
// line that SDL accepts. Returns the number of mappings added or updated, -1 when
// the file cannot be read.
int controllers_add_mappings_file(const char *path);
// Adds one mapping, then appends it and a line feed to user_controller_mappings.txt
// in directory (the base directory). 1 when SDL accepted the mapping.
int controllers_add_user_mapping(const char *mapping, const char *directory);

// Closes the four player slots and the raw joysticks (shutdown; tests between
// cases). Key states and analog values are left as they are.
void controllers_close_all();
