#include "input/controllers.h"

#include <SDL.h>
#include <mruby.h>
#include <mruby/string.h>

#include <cstring>
#include <vector>

#include "engine/game_context.h"
#include "engine/script.h"
#include "engine/startup.h"
#include "fs/filehelpers.h"
#include "input/input_symbols.h"
#include "log/log.h"

namespace {

constexpr const char *player_words[game_player_count] = {"one", "two", "three", "four"};
// A device that presents itself as a joystick but is a 3D mouse: never opened.
constexpr Uint16 ignored_vendor = 0x046D;
constexpr Uint16 ignored_product = 0xC626;

struct ControllersState {
    SDL_GameController *players[game_player_count];
    int32_t analog[game_player_count][4];
    std::vector<SDL_Joystick *> raw;  // raw joysticks opened here
};
ControllersState controllers;

// How each key index is read from a controller: a button, a stick direction, a
// trigger, or both a stick direction and a button.
struct KeySource {
    int index;
    SDL_GameControllerButton button;  // SDL_CONTROLLER_BUTTON_INVALID when none
    SDL_GameControllerAxis axis;      // SDL_CONTROLLER_AXIS_INVALID when none
    int direction;                    // -1 / +1 for a stick, 0 for a trigger
};

constexpr KeySource key_sources[] = {
    {controller_key_up, SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_AXIS_LEFTY, -1},
    {controller_key_down, SDL_CONTROLLER_BUTTON_DPAD_DOWN, SDL_CONTROLLER_AXIS_LEFTY, 1},
    {controller_key_left, SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_AXIS_LEFTX, -1},
    {controller_key_right, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_CONTROLLER_AXIS_LEFTX, 1},
    {controller_key_start, SDL_CONTROLLER_BUTTON_START, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_b, SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_a, SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_x, SDL_CONTROLLER_BUTTON_X, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_y, SDL_CONTROLLER_BUTTON_Y, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_l1, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_r1, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_l3, SDL_CONTROLLER_BUTTON_LEFTSTICK, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_r3, SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_l2, SDL_CONTROLLER_BUTTON_INVALID, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0},
    {controller_key_r2, SDL_CONTROLLER_BUTTON_INVALID, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0},
    {controller_key_directional_up, SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_directional_down, SDL_CONTROLLER_BUTTON_DPAD_DOWN, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_directional_left, SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_directional_right, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_select, SDL_CONTROLLER_BUTTON_BACK, SDL_CONTROLLER_AXIS_INVALID, 0},
    {controller_key_home, SDL_CONTROLLER_BUTTON_GUIDE, SDL_CONTROLLER_AXIS_INVALID, 0},
};

bool valid_player(int player)
{
    return player >= 1 && player <= game_player_count;
}

bool source_pressed(SDL_GameController *controller, const KeySource &source)
{
    if (source.button != SDL_CONTROLLER_BUTTON_INVALID && SDL_GameControllerGetButton(controller, source.button)) {
        return true;
    }
    if (source.axis == SDL_CONTROLLER_AXIS_INVALID) {
        return false;
    }
    int value = SDL_GameControllerGetAxis(controller, source.axis);
    if (source.direction < 0) {
        return value <= -(controller_axis_threshold + 1);
    }
    if (source.direction > 0) {
        return value >= controller_axis_threshold + 1;
    }
    return value < -controller_axis_threshold || value > controller_axis_threshold;
}

void guid_text(SDL_JoystickGUID guid, char (&text)[33])
{
    SDL_JoystickGetGUIDString(guid, text, sizeof text);
}

mrb_value string_or_empty(mrb_state *mrb, const char *text)
{
    return mrb_str_new_cstr(mrb, text ? text : "");
}

mrb_value call(game_context *game, mrb_sym method, std::initializer_list<mrb_value> args)
{
    return script_call(game->mrb, game->runtime, method, args);
}

int player_of(SDL_JoystickID instance_id)
{
    for (int p = 0; p < game_player_count; p++) {
        SDL_GameController *controller = controllers.players[p];
        if (controller && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller)) == instance_id) {
            return p + 1;
        }
    }
    return 0;
}

int device_index_of(SDL_JoystickID instance_id)
{
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count; i++) {
        if (SDL_JoystickGetDeviceInstanceID(i) == instance_id) {
            return i;
        }
    }
    return -1;
}

void controller_removed(game_context *game, SDL_JoystickID instance_id)
{
    int player = player_of(instance_id);
    SDL_GameController *controller = SDL_GameControllerFromInstanceID(instance_id);
    if (!player && !controller) {
        log_info("Engine", "Game controller disconnect: instance=%d (%s)", static_cast<int>(instance_id), "[unknown]");
        return;
    }
    if (player) {
        controller = controllers.players[player - 1];
    }
    const char *name = SDL_GameControllerName(controller);
    log_info("Engine", "Game controller disconnect: instance=%d (%s)", static_cast<int>(instance_id),
             name ? name : "");
    if (player) {
        log_info("Engine", "This was player %s's controller.", player_words[player - 1]);
        controllers.players[player - 1] = nullptr;
        call(game, input_sym.controller_disconnected[player - 1], {});
        SDL_GameControllerClose(controller);
    } else {
        // Opened by someone else (a raw joystick converted back and forth, a test):
        // not ours to close.
        log_info("Engine", "This controller was not assigned to a player.");
    }
}

void joystick_added(game_context *game, int index)
{
    int mode = cvar_controller_config_ui;
    if (mode <= 0 && SDL_IsGameController(index)) {
        return;  // the controller event of the same device handles it
    }
    if (mode < 0) {
        log_info("Engine", "New non-controller joystick connected, but cvar_controller_config_ui is set to not "
                           "configure them. Ignoring.");
        return;
    }
    const char *name = SDL_JoystickNameForIndex(index);
    Uint16 vendor = SDL_JoystickGetDeviceVendor(index);
    Uint16 product = SDL_JoystickGetDeviceProduct(index);
    bool ignore = vendor == ignored_vendor && product == ignored_product;
    log_info("Engine", "New non-controller joystick connected! idx=%d name='%s' vendor=0x%X, product=0x%X, ignore=%s",
             index, name ? name : "", vendor, product, ignore ? "true" : "false");
    if (ignore) {
        return;
    }
    SDL_Joystick *joystick = SDL_JoystickOpen(index);
    if (!joystick) {
        log_error("Engine", "Failed to open joystick idx %d ('%s'): %s", index, name ? name : "", SDL_GetError());
        return;
    }
    SDL_JoystickID jid = SDL_JoystickInstanceID(joystick);
    if (jid == -1) {
        log_error("Engine", "Failed get jid for joystick idx %d ('%s'): %s", index, name ? name : "",
                  SDL_GetError());
        SDL_JoystickClose(joystick);
        return;
    }
    char guid[33];
    guid_text(SDL_JoystickGetGUID(joystick), guid);
    const char *opened_name = SDL_JoystickName(joystick);
    log_info("Engine", "Opened joystick '%s': idx=%d jid=%u guid='%s'", opened_name ? opened_name : "", index,
             static_cast<unsigned>(jid), guid);
    controllers.raw.push_back(joystick);
    call(game, input_sym.rawjoystick_connected,
         {mrb_fixnum_value(jid), string_or_empty(game->mrb, opened_name), mrb_str_new_cstr(game->mrb, guid)});
}

void joystick_removed(game_context *game, SDL_JoystickID jid)
{
    log_info("Engine", "Joystick jid %u disconnected.", static_cast<unsigned>(jid));
    // A raw joystick of a device that is gone is closed, so its handle does not
    // linger until shutdown.
    controllers_close_raw_joystick(jid);
    call(game, input_sym.rawjoystick_disconnected, {mrb_fixnum_value(jid)});
}

// A mapping line applies here when it names no platform or names this one.
bool mapping_for_platform(const char *line, const char *platform)
{
    const char *field = SDL_strstr(line, "platform:");
    if (!field) {
        return true;
    }
    field += SDL_strlen("platform:");
    const char *comma = SDL_strchr(field, ',');
    size_t length = comma ? static_cast<size_t>(comma - field) : SDL_strlen(field);
    return length == SDL_strlen(platform) && SDL_strncasecmp(field, platform, length) == 0;
}

} // namespace

int open_game_controller(game_context *game, int device_index)
{
    SDL_GameController *controller = SDL_GameControllerOpen(device_index);
    if (!controller) {
        log_error("Engine", "Failed to open new controller! (%s)", SDL_GetError());
        return 0;
    }
    SDL_Joystick *joystick = SDL_GameControllerGetJoystick(controller);
    SDL_JoystickGUID guid_value = SDL_JoystickGetGUID(joystick);
    char guid[33];
    guid_text(guid_value, guid);
    const char *name = SDL_GameControllerName(controller);
    char *mapping = SDL_GameControllerMappingForGUID(guid_value);
    log_info("Engine", "New controller info:");
    log_info("Engine", "  Instance: %d", static_cast<int>(SDL_JoystickInstanceID(joystick)));
    log_info("Engine", "  Device name: %s", name ? name : "");
    log_info("Engine", "  Player index: %d", SDL_GameControllerGetPlayerIndex(controller));
    log_info("Engine", "  GUID: %s", guid);
    log_info("Engine", "  USB Vendor: 0x%X", SDL_GameControllerGetVendor(controller));
    log_info("Engine", "  USB Product: 0x%X", SDL_GameControllerGetProduct(controller));
    log_info("Engine", "  USB Product version: 0x%X", SDL_GameControllerGetProductVersion(controller));
    log_info("Engine", "  Controller Mapping: %s", mapping ? mapping : "");
    SDL_free(mapping);

    // The same device opened twice (a second added event, a conversion) keeps its
    // slot: SDL hands back the same handle with one more reference.
    for (int p = 0; p < game_player_count; p++) {
        if (controllers.players[p] == controller) {
            SDL_GameControllerClose(controller);
            return p + 1;
        }
    }
    int slot = -1;
    for (int p = 0; p < game_player_count; p++) {
        if (!controllers.players[p]) {
            slot = p;
            break;
        }
    }
    if (slot < 0) {
        log_info("Engine", "No available controller slots, ignoring.");
        SDL_GameControllerClose(controller);
        return 0;
    }
    controllers.players[slot] = controller;
    call(game, input_sym.controller_connected[slot], {string_or_empty(game->mrb, name)});
    log_info("Engine", "  Assigned to: player %d", slot + 1);
    return slot + 1;
}

void controllers_handle_device_event(game_context *game, const SDL_Event *event)
{
    switch (event->type) {
    case SDL_CONTROLLERDEVICEADDED: {
        int index = event->cdevice.which;
        const char *name = SDL_GameControllerNameForIndex(index);
        log_info("Engine", "Game controller connect: idx=%d (%s)", index, name ? name : "");
        if (cvar_controller_config_ui <= 0) {
            open_game_controller(game, index);
        }
        break;
    }
    case SDL_CONTROLLERDEVICEREMOVED:
        controller_removed(game, event->cdevice.which);
        break;
    case SDL_JOYDEVICEADDED:
        joystick_added(game, event->jdevice.which);
        break;
    case SDL_JOYDEVICEREMOVED:
        joystick_removed(game, event->jdevice.which);
        break;
    default:
        break;
    }
}

void controllers_deliver_key_events(game_context *game, int player)
{
    if (!valid_player(player)) {
        return;
    }
    int32_t *states = game->controller_key_states[player - 1];
    mrb_value player_value = mrb_fixnum_value(player);
    // Only indices that name a key: slot 5 of player one doubles as the quit request.
    for (const KeySource &source : key_sources) {
        int32_t &state = states[source.index];
        mrb_value key = mrb_fixnum_value(source.index);
        switch (state) {
        case 1:
            call(game, input_sym.controller_key_down, {player_value, key});
            state = 2;
            break;
        case 2:
            call(game, input_sym.controller_key_held, {player_value, key});
            break;
        case 3:
            call(game, input_sym.controller_key_up, {player_value, key});
            state = 0;
            break;
        default:
            break;
        }
    }
}

void controllers_poll(game_context *game, int player)
{
    if (!valid_player(player)) {
        return;
    }
    int32_t *analog = controllers.analog[player - 1];
    bool pressed[game_controller_key_count] = {};
    analog[controller_left_x] = analog[controller_left_y] = 0;
    analog[controller_right_x] = analog[controller_right_y] = 0;
    if (SDL_GameController *controller = controllers.players[player - 1]) {
        analog[controller_left_x] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTX);
        analog[controller_left_y] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTY);
        analog[controller_right_x] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTX);
        analog[controller_right_y] = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTY);
        for (const KeySource &source : key_sources) {
            pressed[source.index] = source_pressed(controller, source);
        }
    }
    int32_t *states = game->controller_key_states[player - 1];
    for (const KeySource &source : key_sources) {
        int32_t &state = states[source.index];
        if (pressed[source.index] && state != 2) {
            state = 1;
        } else if (!pressed[source.index] && state == 2) {
            state = 3;
        }
    }
}

void controllers_deliver_analog(game_context *game)
{
    for (int p = 0; p < game_player_count; p++) {
        for (int a = 0; a < 4; a++) {
            call(game, input_sym.analog[p * 4 + a], {mrb_fixnum_value(controllers.analog[p][a])});
        }
    }
}

int32_t controllers_analog_value(int player, int axis)
{
    if (!valid_player(player) || axis < 0 || axis > 3) {
        return 0;
    }
    return controllers.analog[player - 1][axis];
}

SDL_GameController *controllers_player(int player)
{
    return valid_player(player) ? controllers.players[player - 1] : nullptr;
}

int controllers_raw_joystick_open(SDL_JoystickID instance_id)
{
    for (SDL_Joystick *joystick : controllers.raw) {
        if (SDL_JoystickInstanceID(joystick) == instance_id) {
            return 1;
        }
    }
    return 0;
}

int controllers_close_raw_joystick(SDL_JoystickID instance_id)
{
    for (auto it = controllers.raw.begin(); it != controllers.raw.end(); ++it) {
        if (SDL_JoystickInstanceID(*it) == instance_id) {
            SDL_JoystickClose(*it);
            controllers.raw.erase(it);
            return 1;
        }
    }
    return 0;
}

int controllers_convert_raw_to_controller(game_context *game, SDL_JoystickID instance_id)
{
    controllers_close_raw_joystick(instance_id);
    int index = device_index_of(instance_id);
    if (index < 0 || !SDL_IsGameController(index)) {
        return 0;
    }
    return open_game_controller(game, index);
}

int controllers_add_mappings_file(const char *path)
{
    size_t length = 0;
    char *text = loadfile(path, &length);
    if (!text) {
        return -1;
    }
    const char *platform = SDL_GetPlatform();
    int added = 0;
    int line_number = 0;
    char *cursor = text;
    char *end = text + length;
    while (cursor < end) {
        char *line = cursor;
        char *newline = static_cast<char *>(std::memchr(cursor, '\n', static_cast<size_t>(end - cursor)));
        char *line_end = newline ? newline : end;
        cursor = newline ? newline + 1 : end;
        line_number++;
        // Trailing carriage returns and blanks are not part of the mapping.
        while (line_end > line && (line_end[-1] == '\r' || line_end[-1] == ' ' || line_end[-1] == '\t')) {
            line_end--;
        }
        *line_end = '\0';
        while (*line == ' ' || *line == '\t') {
            line++;
        }
        if (*line == '\0' || *line == '#') {
            continue;
        }
        if (!mapping_for_platform(line, platform)) {
            continue;
        }
        if (SDL_GameControllerAddMapping(line) < 0) {
            log_warn("Engine", "%s:%d: controller mapping ignored: %.120s", path, line_number, SDL_GetError());
        } else {
            added++;
        }
    }
    SDL_free(text);
    return added;
}

int controllers_add_user_mapping(const char *mapping, const char *directory)
{
    if (SDL_GameControllerAddMapping(mapping) < 0) {
        log_warn("Engine", "Controller mapping was not accepted: %s", SDL_GetError());
        return 0;  // a line SDL refuses would only be refused again at every start
    }
    size_t length = SDL_strlen(mapping);
    char *line = static_cast<char *>(SDL_malloc(length + 1));
    if (!line) {
        return 1;
    }
    SDL_memcpy(line, mapping, length);
    line[length] = '\n';
    if (!appendfile_write_override(directory, "user_controller_mappings.txt", line, length + 1)) {
        log_warn("Engine", "Couldn't append to user_controller_mappings.txt in '%s'", directory ? directory : "");
    }
    SDL_free(line);
    return 1;
}

void controllers_close_all()
{
    for (SDL_GameController *&controller : controllers.players) {
        if (controller) {
            SDL_GameControllerClose(controller);
            controller = nullptr;
        }
    }
    for (SDL_Joystick *joystick : controllers.raw) {
        SDL_JoystickClose(joystick);
    }
    controllers.raw.clear();
}
