// The inputs model's own queries and tables, asked directly in the running
// framework: key names and aliases, the one-shot and multi-key queries, the error
// texts, controller keys and sticks, and the inputs' combined directions.
#include "input_fixture.h"

using namespace input_test;

namespace {

class ModelTest : public InputTest {};

struct Expression {
    const char *ruby;
    const char *expected;
};

void expect_all(std::initializer_list<Expression> cases)
{
    for (const Expression &c : cases) {
        EXPECT_EQ(ruby(c.ruby), c.expected) << c.ruby;
    }
}

TEST_F(ModelTest, KeyNamesOfRawKeys)
{
    expect_all({
        {"Kor::KeyboardKeys.sdl_to_key(97, 0)", "[:a]"},
        {"Kor::KeyboardKeys.sdl_to_key(97, 1)", "[:a, :shift]"},
        {"Kor::KeyboardKeys.sdl_to_key(50, 2)", "[:at, :shift]"},
        {"Kor::KeyboardKeys.sdl_to_key(36, 0)", "[:dollar]"},       // "$" names the dollar_sign alias
        {"Kor::KeyboardKeys.sdl_to_key(45, 0)", "[:hyphen]"},       // hyphen and minus are one key
        {"Kor::KeyboardKeys.sdl_to_key(13, 64)", "[:enter, :control]"},
        {"Kor::KeyboardKeys.sdl_to_key(127, 0)", "[:delete]"},
        {"Kor::KeyboardKeys.sdl_to_key(178, 0)", "[:superscript_two]"},
        {"Kor::KeyboardKeys.sdl_to_key(1073742050, 256)", "[:alt_left, :alt]"},
        {"Kor::KeyboardKeys.sdl_to_key(1073742055, 2048)", "[:meta_right, :meta]"},
        {"Kor::KeyboardKeys.sdl_to_key(1073741882, 0)", "nil"},    // F1: no name
        {"Kor::KeyboardKeys.sdl_to_key(200, 0)", "[]"},            // a byte without a name
        {"Kor::KeyboardKeys.char_with_shift(39, 1)", "\"\\\"\""},
        {"Kor::KeyboardKeys.char_with_shift(39, 65)", "\"'\""},    // shift with control: not shift alone
        {"Kor::KeyboardKeys.sdl_modifier_key_methods(1 | 128 | 512)",
         "[:shift_left, :shift, :alt_right, :alt, :control_right, :control]"},
    });
}

TEST_F(ModelTest, KeySetsResolveAliasesAndClearOnDemand)
{
    ruby("$keys = Kor::KeyboardKeys.new; $keys.set([:left_ctrl, :minus, :pageup], 7); nil");
    expect_all({
        {"$keys.truthy_keys", "[:control_left, :hyphen, :page_up]"},
        {"[$keys.left_control, $keys.dash, $keys.page_up, $keys.up]", "[7, 7, 7, false]"},
        {"$keys.all?([:hyphen, :page_up])", "true"},
        {"$keys.any?([:x, :page_down])", "false"},
        {"$keys.any?([:x, :\"minus!\"])", "true"},  // a true answer clears the bang names
        {"$keys.hyphen", "false"},
        {"[$keys.page_up!, $keys.page_up]", "[7, false]"},
        {"$keys.get([:a, :control_left])", "7"},
        {"$keys.clear; [$keys.truthy_keys, $keys.keycodes]", "[[], {}]"},
    });
}

TEST_F(ModelTest, UnknownKeysRaiseWithSuggestions)
{
    std::string message = ruby("begin; Kor::KeyboardKeys.new.pag; rescue => e; e.message; end");
    EXPECT_EQ(message.substr(0, 11), "\"* ERROR:\\n") << message;
    EXPECT_NE(message.find("There is no key on the keyboard called :pag. Did you mean :page_up, :page_down, "
                           ":pageup, :pagedown?\\nFull list of available keys =:points_up:=.\\n"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("** :page_up raw key 1073741899"), std::string::npos);
    EXPECT_NE(ruby("begin; Kor::KeyboardKeys.new.set(:nope, 1); rescue => e; e.message; end")
                  .find("Attempted to set the a key on the Korvane Kor's Keyboard data"),
              std::string::npos);
    // Names that are conversions or predicates stay ordinary missing methods.
    expect_all({
        {"begin; Kor::KeyboardKeys.new.to_str; rescue NoMethodError; :no_method; end", ":no_method"},
        {"begin; $kor.args.inputs.keyboard.nope; rescue => e; e.message[0, 8]; end", "\"* ERROR:\""},
        {"$kor.args.inputs.keyboard.respond_to?(:ctrl_page_up)", "true"},
    });
}

TEST_F(ModelTest, ControllerKeysSticksAndCombinedDirections)
{
    ruby("$c = Kor::Controller.new(1); $c.key_event(24, :key_down, 5); $c.key_event(3, :key_held, 5); nil");
    expect_all({
        {"[$c.dpad_up, $c.up_dpad, $c.directional_up, $c.left, $c.left_right, $c.up_down]", "[5, 5, 5, 5, -1, 0]"},
        {"$c.key_event(3, :key_held, 6); $c.key_held.left", "5"},  // held keeps the tick it became held
        {"begin; $c.key_event(5, :key_down, 1); rescue KeyError; :key_error; end", ":key_error"},
        {"begin; $c.key_event(15, :key_pressed, 1); rescue => e; e.message; end",
         "\"  * ERROR:\\n  Layout#set_key failed for player_num: 1, raw_key: 15, event: key_pressed.\\n\\n\""},
        {"[$c.analog_in_game(0, 16384, 1), $c.analog_in_game(0, 16384, 2), $c.left_analog_x_perc]",
         "[true, false, 0.5]"},
        {"$c.analog_in_game(1, 32767, 3); [$c.left_analog_y_raw, $c.left_analog_angle.round(2)]", "[-32767, 296.57]"},
        {"[$c.left_analog_active?, $c.left_analog_active?(threshold_perc: 0.99), "
         "$c.left_analog_active?(threshold_perc: 1.5), $c.right_analog_active?, $c.right_analog_angle]",
         "[true, true, false, false, nil]"},
    });

    // The inputs take the keyboard first, then the first controller; the stick's
    // percentage wins over the keys in the _perc queries.
    ruby("$i = Kor::Inputs.new; $i.controller_one.key_event(4, :key_down, 1); "
         "$i.controller_one.key_event(27, :key_down, 1); nil");
    expect_all({
        {"[$i.left_right, $i.left_right_arrow, $i.left_right_perc, $i.left_right_directional_perc]", "[1, 1, 1, 1]"},
        {"$i.controller_one.analog_in_game(0, -32767, 1); [$i.left_right_perc, $i.left_right_directional_perc]",
         "[-1.0, 1]"},
        {"$i.keyboard.key_down_in_game(1073741904, 0, 1); [$i.left_right, $i.left_right_arrow, $i.left]",
         "[-1, -1, 1]"},
        {"$i.directional_vector", "{:x=>-1, :y=>0}"},
    });
}

} // namespace
