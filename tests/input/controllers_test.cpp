// Game controllers and raw joysticks without hardware: SDL virtual joysticks
// attached inside the running engine, their buttons and axes set by the test, and
// what the game's tick then sees in args.inputs.controllers, tick by tick.
#include <memory>

#include "input_fixture.h"

using namespace input_test;

namespace {

const char *controller_keys(int player)
{
    static std::string text;
    text = "c = args.inputs.controllers[" + std::to_string(player - 1) +
           "]; [c.key_down.truthy_keys, c.key_held.truthy_keys, c.key_up.truthy_keys]";
    return text.c_str();
}

class ControllersTest : public InputTest {
protected:
    void TearDown() override
    {
        pads_.clear();  // detaches them
        tick();
        tick();
        for (int player = 1; player <= 4; player++) {
            EXPECT_EQ(controllers_player(player), nullptr) << "player " << player << " kept a removed controller";
        }
        cvar_set("controller.config_ui", "0");
    }

    VirtualJoystick &attach(bool controller = true, const char *name = "Virtual Pad")
    {
        pads_.push_back(std::make_unique<VirtualJoystick>(controller, name));
        return *pads_.back();
    }

    void detach(VirtualJoystick &pad) { pad.detach(); }

    std::vector<std::unique_ptr<VirtualJoystick>> pads_;
};

TEST_F(ControllersTest, ButtonIsDownHeldAndUpOneTickAfterEachPoll)
{
    VirtualJoystick &pad = attach();
    probe("c = args.inputs.controller_one; [c.connected, c.name]");
    EXPECT_EQ(tick(), "[true, \"Virtual Pad\"]");
    EXPECT_TRUE(logged(log(), "  Assigned to: player 1"));

    probe(controller_keys(1));
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    EXPECT_EQ(tick(), "[[], [], []]");  // polled at the end of this tick's input
    EXPECT_EQ(tick(), "[[:a], [], []]");
    EXPECT_EQ(tick(), "[[], [:a], []]");
    EXPECT_EQ(tick(), "[[], [:a], []]");
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    EXPECT_EQ(tick(), "[[], [:a], []]");
    EXPECT_EQ(tick(), "[[], [], [:a]]");
    EXPECT_EQ(tick(), "[[], [], []]");

    // A press seen by one poll only: down, then up one tick later, never held.
    probe("c = args.inputs.controller_one; [c.key_down.a == args.tick_count, c.key_held.a, c.key_up.a ? true : false, "
          "args.inputs.last_active]");
    pad.button(SDL_CONTROLLER_BUTTON_A, true);
    tick();
    pad.button(SDL_CONTROLLER_BUTTON_A, false);
    EXPECT_EQ(tick(), "[true, nil, false, :controller]");
    EXPECT_EQ(tick(), "[false, nil, true, :controller]");
}

TEST_F(ControllersTest, AnalogValuesAndStickDirections)
{
    VirtualJoystick &pad = attach();
    tick();
    probe("c = args.inputs.controller_one; [c.left_analog_x_raw, c.left_analog_y_raw, c.left_analog_x_perc, "
          "c.left_analog_y_perc, c.right_analog_x_raw, c.left_analog_angle && c.left_analog_angle.round(4), "
          "args.inputs.left_right_perc, c.key_down.truthy_keys]");
    // Axis values reach the game in the tick they are polled; y grows upward.
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, -32768);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, -1000);
    EXPECT_EQ(tick(), "[32767, 32767, 1.0, 1.0, -1000, 45.0, 1.0, []]");
    EXPECT_EQ(tick(), "[32767, 32767, 1.0, 1.0, -1000, 45.0, 1.0, [:up, :right]]");
    pad.axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 16384);
    pad.axis(SDL_CONTROLLER_AXIS_RIGHTX, 0);
    // The stick is centred on x, but right stays held until its release reaches
    // the game one tick later.
    EXPECT_EQ(tick(), "[0, -16384, 0.0, -0.5, 0, 270.0, 1, []]");
    EXPECT_EQ(controllers_analog_value(1, controller_left_y), 16384);
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
    tick();
    tick();
}

// SDL reads a full-range joystick axis bound to a trigger as 0..32767: the
// joystick value that the controller reads as trigger_value.
Sint16 joystick_value_for_trigger(int trigger_value)
{
    for (int v = -32768; v <= 32767; v++) {
        float normalized = static_cast<float>(v + 32768) / 65535.0f;
        if (static_cast<int>(normalized * 32767.0f) == trigger_value) {
            return static_cast<Sint16>(v);
        }
    }
    return 0;
}

TEST_F(ControllersTest, ThresholdsOfSticksAndTriggers)
{
    struct Case {
        SDL_GameControllerAxis axis;
        Sint16 value;
        const char *keys;
    };
    const Case cases[] = {
        {SDL_CONTROLLER_AXIS_LEFTY, -20000, "[]"},     {SDL_CONTROLLER_AXIS_LEFTY, -20001, "[:up]"},
        {SDL_CONTROLLER_AXIS_LEFTY, 20001, "[:down]"}, {SDL_CONTROLLER_AXIS_LEFTX, -20001, "[:left]"},
        {SDL_CONTROLLER_AXIS_LEFTX, 20000, "[]"},      {SDL_CONTROLLER_AXIS_TRIGGERLEFT, 20000, "[]"},
        {SDL_CONTROLLER_AXIS_TRIGGERLEFT, 20001, "[:l2]"}, {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, "[:r2]"},
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0, "[]"},
        {SDL_CONTROLLER_AXIS_RIGHTY, -32768, "[]"},  // the right stick names no key
    };
    VirtualJoystick &pad = attach();
    tick();
    probe("args.inputs.controller_one.key_down.truthy_keys");
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.axis) + " = " + std::to_string(c.value));
        bool trigger = c.axis == SDL_CONTROLLER_AXIS_TRIGGERLEFT || c.axis == SDL_CONTROLLER_AXIS_TRIGGERRIGHT;
        Sint16 rest = trigger ? joystick_value_for_trigger(0) : 0;
        pad.axis(c.axis, trigger ? joystick_value_for_trigger(c.value) : c.value);
        tick();
        EXPECT_EQ(SDL_GameControllerGetAxis(controllers_player(1), c.axis), c.value);
        EXPECT_EQ(tick(), c.keys);
        pad.axis(c.axis, rest);
        tick();
        tick();
    }
}

TEST_F(ControllersTest, StickAndPadInTheSameDirectionAreOneKey)
{
    VirtualJoystick &pad = attach();
    tick();
    probe(controller_keys(1));
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, -20001);
    pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    tick();
    EXPECT_EQ(tick(), "[[:up, :directional_up], [], []]");
    EXPECT_EQ(game.controller_key_states[0][controller_key_up], 2);
    // Releasing the pad leaves the stick holding up.
    pad.button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
    EXPECT_EQ(tick(), "[[], [:up, :directional_up], []]");
    EXPECT_EQ(tick(), "[[], [:up], [:directional_up]]");
    pad.axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
    tick();
    EXPECT_EQ(tick(), "[[], [], [:up]]");
}

TEST_F(ControllersTest, TwoControllersInTwoSlots)
{
    attach(true, "First Pad");
    VirtualJoystick &second = attach(true, "Second Pad");
    probe("args.inputs.controllers.map { |c| [c.connected, c.name] }");
    EXPECT_EQ(tick(), "[[true, \"First Pad\"], [true, \"Second Pad\"], [false, nil], [false, nil]]");

    probe("args.inputs.controllers.map { |c| c.key_down.truthy_keys }");
    second.button(SDL_CONTROLLER_BUTTON_B, true);
    second.button(SDL_CONTROLLER_BUTTON_START, true);
    tick();
    EXPECT_EQ(tick(), "[[], [:b, :start], [], []]");
}

TEST_F(ControllersTest, RemovalFreesTheSlotForTheNextController)
{
    attach(true, "Pad 1");
    VirtualJoystick &two = attach(true, "Pad 2");
    attach(true, "Pad 3");
    tick();
    log();

    // Removed while B is held: the key is released, nothing stays stuck.
    two.button(SDL_CONTROLLER_BUTTON_B, true);
    tick();
    tick();
    detach(two);
    probe("c = args.inputs.controller_two; [c.connected, c.name, c.key_held.truthy_keys, c.key_up.truthy_keys]");
    EXPECT_EQ(tick(), "[false, nil, [:b], []]");
    std::vector<std::string> lines = log();
    EXPECT_TRUE(logged(lines, "Game controller disconnect: instance="));
    EXPECT_TRUE(logged(lines, "This was player two's controller."));
    EXPECT_EQ(controllers_player(2), nullptr);
    EXPECT_EQ(tick(), "[false, nil, [], [:b]]");

    attach(true, "Pad 4");
    probe("args.inputs.controllers.map { |c| c.name }");
    EXPECT_EQ(tick(), "[\"Pad 1\", \"Pad 4\", \"Pad 3\", nil]");
}

TEST_F(ControllersTest, AFifthControllerIsIgnored)
{
    for (const char *name : {"P1", "P2", "P3", "P4"}) {
        attach(true, name);
    }
    tick();
    log();
    VirtualJoystick &fifth = attach(true, "P5");
    probe("args.inputs.controllers.map { |c| [c.name, c.key_down.truthy_keys] }");
    tick();
    EXPECT_TRUE(logged(log(), "No available controller slots, ignoring."));
    fifth.button(SDL_CONTROLLER_BUTTON_A, true);
    tick();
    EXPECT_EQ(tick(), "[[\"P1\", []], [\"P2\", []], [\"P3\", []], [\"P4\", []]]");
}

TEST_F(ControllersTest, DeviceWithoutMappingIsARawJoystick)
{
    VirtualJoystick &stick = attach(false, "Raw Stick");
    probe("[args.inputs.controller_one.connected, $kor.controller_config.raw_joysticks.values.map { |j| "
          "[j[:jid], j[:name], j[:guid].length, j[:axes], j[:hats], j[:buttons]] }]");
    std::string jid = std::to_string(stick.id());
    EXPECT_EQ(tick(), "[false, [[" + jid + ", \"Raw Stick\", 32, {}, {}, {}]]]");
    EXPECT_TRUE(controllers_raw_joystick_open(stick.id()));
    EXPECT_TRUE(logged(log(), "Opened joystick 'Raw Stick': idx="));

    stick.axis(1, -1234);
    stick.hat(0, SDL_HAT_UP);
    stick.button(2, true);
    EXPECT_EQ(tick(), "[false, [[" + jid + ", \"Raw Stick\", 32, {1=>-1234}, {0=>1}, {2=>true}]]]");
    probe("args.events[:raw].select { |e| e[:type] == :joypad_button }.map { |e| [e[:which], e[:button], e[:state]] }");
    stick.button(2, false);
    EXPECT_EQ(tick(), "[[" + jid + ", 2, 0]]");

    detach(stick);
    probe("$kor.controller_config.raw_joysticks.length");
    EXPECT_EQ(tick(), "0");
    EXPECT_FALSE(controllers_raw_joystick_open(stick.id()));
    EXPECT_TRUE(logged(log(), "Joystick jid " + jid + " disconnected."));
}

TEST_F(ControllersTest, ConfigUiModes)
{
    // 1: every joystick is raw, controllers included; converting one makes it a
    // player's controller.
    cvar_set("controller.config_ui", "1");
    VirtualJoystick &pad = attach(true, "Raw Pad");
    probe("[args.inputs.controller_one.connected, $kor.controller_config.raw_joysticks.keys]");
    EXPECT_EQ(tick(), "[false, [" + std::to_string(pad.id()) + "]]");
    EXPECT_EQ(controllers_player(1), nullptr);
    EXPECT_EQ(ruby("FFI::Misc.new.convert_rawjoystick_to_controller(" + std::to_string(pad.id()) + ")"), "nil");
    EXPECT_FALSE(controllers_raw_joystick_open(pad.id()));
    EXPECT_EQ(tick(), "[true, [" + std::to_string(pad.id()) + "]]");
    EXPECT_NE(controllers_player(1), nullptr);
    detach(pad);
    tick();

    // -1: devices without a mapping are ignored with one log line.
    cvar_set("controller.config_ui", "-1");
    log();
    VirtualJoystick &stick = attach(false, "Ignored Stick");
    probe("$kor.controller_config.raw_joysticks.length");
    EXPECT_EQ(tick(), "0");
    std::vector<std::string> lines = log();
    EXPECT_TRUE(logged(lines, "New non-controller joystick connected, but cvar_controller_config_ui is set to not "
                              "configure them. Ignoring."));
    EXPECT_FALSE(logged(lines, "Opened joystick"));
    EXPECT_FALSE(controllers_raw_joystick_open(stick.id()));
}

TEST_F(ControllersTest, MiscBindingsCloseRawJoysticksAndCheckTheirArguments)
{
    VirtualJoystick &stick = attach(false, "Closable");
    tick();
    ASSERT_TRUE(controllers_raw_joystick_open(stick.id()));
    EXPECT_EQ(ruby("FFI::Misc.new.close_raw_joystick(" + std::to_string(stick.id()) + ")"), "nil");
    EXPECT_FALSE(controllers_raw_joystick_open(stick.id()));
    EXPECT_EQ(ruby("FFI::Misc.new.close_raw_joystick(123456)"), "nil");  // not open: nothing happens
    EXPECT_EQ(ruby("FFI::Misc.new.close_raw_joystick(2 ** 40)"), "nil");

    for (const char *call : {"close_raw_joystick(\"1\")", "convert_rawjoystick_to_controller(nil)",
                             "add_controller_config(5)", "close_raw_joystick"}) {
        SCOPED_TRACE(call);
        std::string result = ruby(std::string("begin; FFI::Misc.new.") + call + "; rescue => e; e.class; end");
        EXPECT_TRUE(result == "TypeError" || result == "ArgumentError") << result;
    }
}

TEST_F(ControllersTest, UserMappingsAreAddedAndAppended)
{
    kvn_test::TempDir dir;
    const char *mapping = "03000000091200000100000000000000,Mapped By Test,a:b1,b:b0,x:b3,y:b2,"
                          "leftx:a0,lefty:a1,platform:Linux,";
    EXPECT_EQ(controllers_add_user_mapping(mapping, dir.path().c_str()), 1);
    EXPECT_EQ(controllers_add_user_mapping("not a mapping", dir.path().c_str()), 0);
    EXPECT_EQ(kvn_test::read_os_file(dir.file("user_controller_mappings.txt")), std::string(mapping) + "\n");
    char *found = SDL_GameControllerMappingForGUID(SDL_JoystickGetGUIDFromString("03000000091200000100000000000000"));
    ASSERT_NE(found, nullptr);
    EXPECT_NE(std::string(found).find("Mapped By Test"), std::string::npos);
    SDL_free(found);
}

} // namespace
