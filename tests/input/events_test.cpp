// Window-system events pushed as real SDL events, polled by the render thread's
// event poll into the event queue and delivered by the tick: what the game's tick
// then sees in args.inputs and args.events, tick by tick.
#include "input_fixture.h"

using namespace input_test;

namespace {

const char *keyboard_sets = "k = args.inputs.keyboard; [k.key_down.truthy_keys.sort, k.key_held.truthy_keys.sort, "
                            "k.key_up.truthy_keys.sort]";

class EventsTest : public InputTest {};

TEST_F(EventsTest, KeyIsDownForOneTickThenHeldThenUpOnRelease)
{
    probe("k = args.inputs.keyboard; [k.key_down.a, k.key_held.a, k.key_up.a, args.tick_count, k.a ? true : false]");
    key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A);
    std::string first = tick();
    int t = std::stoi(ruby("$kor.args.tick_count"));
    // The press reads the tick count the events arrived at, one before the tick's.
    EXPECT_EQ(first, "[" + std::to_string(t - 1) + ", false, false, " + std::to_string(t) + ", true]");

    // Held from the next tick on, with the tick it became held; auto-repeat
    // never presses it again.
    key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, 1);
    EXPECT_EQ(tick(), "[false, " + std::to_string(t) + ", false, " + std::to_string(t + 1) + ", true]");
    EXPECT_EQ(tick(), "[false, " + std::to_string(t) + ", false, " + std::to_string(t + 2) + ", true]");

    key(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A);
    EXPECT_EQ(tick(), "[false, false, " + std::to_string(t + 2) + ", " + std::to_string(t + 3) + ", false]");
    EXPECT_EQ(tick(), "[false, false, false, " + std::to_string(t + 4) + ", false]");
}

TEST_F(EventsTest, PressAndReleaseBetweenTwoTicksIsSeenDownAndUpOnce)
{
    probe(keyboard_sets);
    key(SDL_KEYDOWN, SDLK_b, SDL_SCANCODE_B);
    key(SDL_KEYUP, SDLK_b, SDL_SCANCODE_B);
    EXPECT_EQ(tick(), "[[:b], [], [:b]]");
    EXPECT_EQ(tick(), "[[], [], []]");
}

TEST_F(EventsTest, KeyEventHashesAndCallsComeInOrder)
{
    probe("args.events[:raw].select { |e| e[:type] == :key_down || e[:type] == :key_up }"
          ".map { |e| [e[:type], e[:state], e[:type_enum], e[:repeat], e[:keysym]] }");
    key(SDL_KEYDOWN, SDLK_w, SDL_SCANCODE_W, KMOD_LSHIFT);
    key(SDL_KEYUP, SDLK_w, SDL_SCANCODE_W, KMOD_LSHIFT);
    EXPECT_EQ(tick(), "[[:key_down, 1, 768, 0, {:scancode=>26, :sym=>119, :mod=>1}], "
                      "[:key_up, 0, 769, 0, {:scancode=>26, :sym=>119, :mod=>1}]]");
    // The scancode call marks the layout-independent name next to the key's own.
    key(SDL_KEYDOWN, SDLK_z, SDL_SCANCODE_W);
    probe(keyboard_sets);
    EXPECT_EQ(tick(), "[[:w_scancode, :z], [], []]");
    key(SDL_KEYUP, SDLK_z, SDL_SCANCODE_W);
    EXPECT_EQ(tick(), "[[], [], [:w_scancode, :z]]");
}

TEST_F(EventsTest, ShiftNamesAndCharacters)
{
    struct Case {
        SDL_Keycode sym;
        Uint16 mod;
        const char *expected;  // [names pressed, char]
    };
    const Case cases[] = {
        {SDLK_1, KMOD_LSHIFT, "[[:exclamation_point, :one, :shift], \"!\"]"},
        {SDLK_a, KMOD_RSHIFT, "[[:a, :shift], \"A\"]"},
        {SDLK_a, KMOD_LSHIFT | KMOD_NUM, "[[:a, :shift], \"a\"]"},  // Num Lock: not shift alone
        {SDLK_SLASH, KMOD_LSHIFT, "[[:forward_slash, :question_mark, :shift], \"?\"]"},
        {SDLK_MINUS, KMOD_NONE, "[[:hyphen], \"-\"]"},
        {SDLK_a, KMOD_LCTRL, "[[:a, :control], \"a\"]"},
        {SDLK_HOME, KMOD_NONE, "[[:home], nil]"},
        {SDLK_F5, KMOD_NONE, "[[], nil]"},  // no name: only its raw key is kept
    };
    probe("d = args.inputs.keyboard.key_down; [d.truthy_keys.sort, d.char]");
    for (const Case &c : cases) {
        SCOPED_TRACE(SDL_GetKeyName(c.sym));
        key(SDL_KEYDOWN, c.sym, SDL_SCANCODE_UNKNOWN, c.mod);
        EXPECT_EQ(tick(), c.expected);
        key(SDL_KEYUP, c.sym, SDL_SCANCODE_UNKNOWN, c.mod);
        tick();
        ruby("$kor.args.inputs.keyboard.clear");
    }
}

TEST_F(EventsTest, ReleasingOneBeforeShiftClearsBothNames)
{
    probe(keyboard_sets);
    key(SDL_KEYDOWN, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
    key(SDL_KEYDOWN, SDLK_1, SDL_SCANCODE_1, KMOD_LSHIFT);
    EXPECT_EQ(tick(), "[[:exclamation_point, :one, :shift, :shift_left], [], []]");
    key(SDL_KEYUP, SDLK_1, SDL_SCANCODE_1, KMOD_LSHIFT);
    EXPECT_EQ(tick(), "[[], [:shift, :shift_left], [:exclamation_point, :one]]");
    key(SDL_KEYUP, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_NONE);
    EXPECT_EQ(tick(), "[[], [], [:shift, :shift_left]]");

    // Shift released first: the shifted name goes, the digit stays held.
    key(SDL_KEYDOWN, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LSHIFT);
    key(SDL_KEYDOWN, SDLK_1, SDL_SCANCODE_1, KMOD_LSHIFT);
    tick();
    key(SDL_KEYUP, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_NONE);
    EXPECT_EQ(tick(), "[[], [:one], [:exclamation_point, :shift, :shift_left]]");
    key(SDL_KEYUP, SDLK_1, SDL_SCANCODE_1, KMOD_NONE);
    EXPECT_EQ(tick(), "[[], [], [:one]]");
}

TEST_F(EventsTest, DirectionalVectorAndModifierQueries)
{
    probe("k = args.inputs.keyboard; r = lambda { |v| v && [v[:x].round(4), v[:y].round(4)] }; "
          "a = args.inputs.directional_angle; "
          "[r.call(k.key_down.directional_vector), r.call(k.directional_vector), a && a.round(4), "
          "k.ctrl_s ? true : false]");
    key(SDL_KEYDOWN, SDLK_UP, SDL_SCANCODE_UP);
    key(SDL_KEYDOWN, SDLK_RIGHT, SDL_SCANCODE_RIGHT);
    EXPECT_EQ(tick(), "[[0.7071, 0.7071], [0.7071, 0.7071], 45.0, false]");
    EXPECT_EQ(tick(), "[nil, [0.7071, 0.7071], 45.0, false]");  // held: only the keyboard's own
    key(SDL_KEYUP, SDLK_UP, SDL_SCANCODE_UP);
    key(SDL_KEYUP, SDLK_RIGHT, SDL_SCANCODE_RIGHT);
    EXPECT_EQ(tick(), "[nil, nil, nil, false]");

    // S by its scancode is down; with control held it is also ctrl_s.
    key(SDL_KEYDOWN, SDLK_LCTRL, SDL_SCANCODE_LCTRL, KMOD_LCTRL);
    tick();
    key(SDL_KEYDOWN, SDLK_s, SDL_SCANCODE_S, KMOD_LCTRL);
    EXPECT_EQ(tick(), "[[0, -1], [0, -1], -90.0, true]");
    key(SDL_KEYUP, SDLK_s, SDL_SCANCODE_S, KMOD_LCTRL);
    key(SDL_KEYUP, SDLK_LCTRL, SDL_SCANCODE_LCTRL, KMOD_NONE);
    tick();
}

TEST_F(EventsTest, TextInputArrivesInOrder)
{
    probe("args.inputs.text.dup");
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    for (const char *text : {"h\xC3\xA9", "l", "lo"}) {
        SDL_strlcpy(event.text.text, text, sizeof event.text.text);
        push(event);
    }
    EXPECT_EQ(tick(), "[\"h\\xc3\\xa9\", \"l\", \"lo\"]");
    EXPECT_EQ(tick(), "[]");
}

TEST_F(EventsTest, MouseMotionClicksAndWheelInGridCoordinates)
{
    probe("m = args.inputs.mouse; [m.x, m.y, m.moved, m.relative_x, m.relative_y, m.click && m.click.point, "
          "m.up ? true : false, m.held, m.button_left, m.wheel && [m.wheel[:x], m.wheel[:y], m.wheel[:inverted]], "
          "args.inputs.last_active]");
    mouse_motion(300, 200);
    EXPECT_EQ(tick().substr(0, 16), "[300, 520, true,");  // y flipped to the grid

    // Press: click this tick, held until the release.
    mouse_motion(310, 190, 10, -10);
    mouse_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    EXPECT_EQ(tick(), "[310, 530, true, 10, 10, {:x=>310, :y=>530, :w=>0, :h=>0}, false, true, true, nil, :mouse]");
    EXPECT_EQ(tick(), "[310, 530, nil, 0, 0, nil, false, true, true, nil, :mouse]");
    mouse_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    EXPECT_EQ(tick(), "[310, 530, nil, 0, 0, nil, true, false, false, nil, :mouse]");

    // Press and release within one tick: both seen, nothing held afterwards.
    mouse_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    mouse_button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    EXPECT_EQ(tick(), "[310, 530, nil, 0, 0, {:x=>310, :y=>530, :w=>0, :h=>0}, true, false, false, nil, :mouse]");

    // Wheel events of one tick add up; a flipped direction reads inverted.
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 1;
    push(wheel);
    wheel.wheel.y = 2;
    wheel.wheel.x = -1;
    wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    push(wheel);
    EXPECT_EQ(tick(), "[310, 530, nil, 0, 0, nil, false, false, false, [-1, 3, true], :mouse]");
    EXPECT_EQ(tick(), "[310, 530, nil, 0, 0, nil, false, false, false, nil, :mouse]");
}

TEST_F(EventsTest, WheelHashCarriesPreciseValues)
{
    probe("args.events[:raw].select { |e| e[:type] == :mouse_wheel }"
          ".map { |e| [e[:which], e[:x], e[:y], e[:direction], e[:precise_x], e[:precise_y]] }");
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.which = 3;
    wheel.wheel.x = 2;
    wheel.wheel.y = -4;
    push(wheel);
    EXPECT_EQ(tick(), "[[3, 2, -4, 0, 2.0, -4.0]]");
}

TEST_F(EventsTest, PositionsGoThroughTheScaleAndTheLetterbox)
{
    render_context *ctx = Engine::get().ctx();
    const float scale = ctx->texture_scale;
    const int offset_x = ctx->letterbox_offset_x, offset_y = ctx->letterbox_offset_y;
    ctx->texture_scale = 2.0f;
    ctx->letterbox_offset_x = 100;
    ctx->letterbox_offset_y = 0;
    probe("[args.inputs.mouse.x, args.inputs.mouse.y]");
    mouse_motion(300, 200);
    std::string scaled = tick();
    ctx->letterbox_offset_y = 40;
    mouse_motion(301, 241);  // truncated toward zero: (100.5, 100.5)
    std::string truncated = tick();
    ctx->texture_scale = scale;
    ctx->letterbox_offset_x = offset_x;
    ctx->letterbox_offset_y = offset_y;
    EXPECT_EQ(scaled, "[100, 620]");  // logical (100, 100), y flipped to the grid
    EXPECT_EQ(truncated, "[100, 620]");

    int x = -1, y = -1;
    render_context unsized{};
    events_window_to_logical(&unsized, 300.0f, 200.0f, &x, &y);  // scale 0 maps one to one
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 200);
}

TEST_F(EventsTest, MouseEventsSynthesisedFromTouchesOnlyMakeHashes)
{
    probe("[args.inputs.mouse.moved, args.inputs.mouse.click ? true : false, "
          "args.events[:raw].select { |e| e[:type] == :mouse_motion || e[:type] == :mouse_button }.map { |e| e[:which] }]");
    mouse_motion(500, 100, 0, 0, SDL_TOUCH_MOUSEID);
    mouse_button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 500, 100, SDL_TOUCH_MOUSEID);
    EXPECT_EQ(tick(), "[nil, false, [-1, -1]]");
}

TEST_F(EventsTest, FirstFingerDrivesTheMouseAndTheSecondDoesNotTakeOver)
{
    probe("i = args.inputs; m = i.mouse; f1 = i.finger_one; f2 = i.finger_two; "
          "[m.x, m.y, m.click ? true : false, m.up ? true : false, m.held, "
          "f1 && [f1.x, f1.y, f1.touch_order, f1.first_tick_down], f2 && [f2.x, f2.y, f2.touch_order], "
          "i.finger_left, i.finger_right, i.touch.length]");
    // Fractions of the 1280 x 720 render size.
    finger(SDL_FINGERDOWN, 1, 0.25f, 0.5f);
    EXPECT_EQ(tick(), "[320, 360, true, false, true, [320, 360, 0, true], nil, "
                      "{:x=>320, :y=>360, :w=>1, :h=>1}, nil, 1]");
    EXPECT_EQ(events_primary_touch_number(), 1);

    finger(SDL_FINGERDOWN, 2, 0.75f, 0.25f);
    finger(SDL_FINGERMOTION, 2, 0.75f, 0.5f);
    EXPECT_EQ(tick(), "[320, 360, false, false, true, [320, 360, 0, false], [960, 360, 1], "
                      "{:x=>320, :y=>360, :w=>1, :h=>1}, {:x=>960, :y=>360, :w=>1, :h=>1}, 2]");

    finger(SDL_FINGERMOTION, 1, 0.5f, 0.25f);
    EXPECT_EQ(tick().substr(0, 10), "[640, 540,");

    // Lifting the first finger releases the mouse and clears its side; the second
    // finger never moves the mouse.
    finger(SDL_FINGERUP, 1, 0.5f, 0.25f);
    finger(SDL_FINGERMOTION, 2, 0.25f, 0.75f);
    EXPECT_EQ(tick(), "[640, 540, false, true, false, nil, [320, 180, 1], "
                      "{:x=>320, :y=>180, :w=>1, :h=>1}, nil, 1]");
    EXPECT_EQ(events_primary_touch_number(), 0);

    // With no finger left the order starts again: the next finger is finger_one.
    finger(SDL_FINGERUP, 2, 0.25f, 0.75f);
    tick();
    finger(SDL_FINGERDOWN, 3, 0.75f, 0.75f);
    EXPECT_EQ(tick(), "[960, 180, true, false, true, [960, 180, 0, true], nil, nil, "
                      "{:x=>960, :y=>180, :w=>1, :h=>1}, 1]");
    finger(SDL_FINGERUP, 3, 0.75f, 0.75f);
    tick();
    EXPECT_EQ(events_touch_count(), 0);
}

TEST_F(EventsTest, TouchesSynthesisedFromTheMouseAndUnknownFingersAreIgnored)
{
    probe("[args.inputs.touch.length, args.inputs.mouse.click ? true : false]");
    finger(SDL_FINGERDOWN, 1, 0.5f, 0.5f, SDL_MOUSE_TOUCHID);
    finger(SDL_FINGERUP, 42, 0.5f, 0.5f);      // never went down
    finger(SDL_FINGERMOTION, 43, 0.5f, 0.5f);  // never went down
    EXPECT_EQ(tick(), "[0, false]");
    EXPECT_EQ(events_touch_count(), 0);
}

TEST_F(EventsTest, DroppedFilesAndTextBecomeHashes)
{
    probe("args.events[:raw].select { |e| e[:type] == :drop_file || e[:type] == :drop_text }"
          ".map { |e| [e[:type], e[:file], e[:type_enum]] }");
    SDL_Event drop{};
    drop.type = SDL_DROPFILE;
    drop.drop.file = SDL_strdup("/home/player/level 2.txt");
    push(drop);
    drop.type = SDL_DROPTEXT;
    drop.drop.file = SDL_strdup("dragged words");
    push(drop);
    drop.type = SDL_DROPFILE;
    drop.drop.file = nullptr;
    push(drop);
    EXPECT_EQ(tick(), "[[:drop_file, \"/home/player/level 2.txt\", 4096], [:drop_text, \"dragged words\", 4097], "
                      "[:drop_file, \"\", 4096]]");
}

TEST_F(EventsTest, FocusFlagsFollowOnlyTheEnginesWindow)
{
    render_context *ctx = Engine::get().ctx();
    struct Case {
        Uint8 event;
        bool own_window;
        int keyboard_focus, mouse_focus;
        const char *has_focus;  // [keyboard.has_focus, mouse.has_focus]
    };
    const Case cases[] = {
        {SDL_WINDOWEVENT_FOCUS_LOST, true, 0, 1, "[false, true]"},
        {SDL_WINDOWEVENT_LEAVE, true, 0, 0, "[false, false]"},
        {SDL_WINDOWEVENT_FOCUS_GAINED, false, 0, 0, "[false, false]"},  // another window
        {SDL_WINDOWEVENT_ENTER, false, 0, 0, "[false, false]"},
        {SDL_WINDOWEVENT_FOCUS_GAINED, true, 1, 0, "[true, false]"},
        {SDL_WINDOWEVENT_ENTER, true, 1, 1, "[true, true]"},
        {SDL_WINDOWEVENT_MOVED, true, 1, 1, "[true, true]"},
    };
    probe("[args.inputs.keyboard.has_focus, args.inputs.mouse.has_focus]");
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.event));
        window_event(c.event, c.own_window ? ctx->window_id : ctx->window_id + 100);
        EXPECT_EQ(tick(), c.has_focus);
        EXPECT_EQ(ctx->keyboard_focus, c.keyboard_focus);
        EXPECT_EQ(ctx->mouse_focus, c.mouse_focus);
    }
}

TEST_F(EventsTest, RenderResetsAndTheQuitRequest)
{
    probe("args.events[:raw].map { |e| e[:type] }.select { |t| t.to_s.start_with?('render') || t == :unknown }");
    SDL_Event event{};
    event.type = SDL_RENDER_TARGETS_RESET;
    push(event);
    event.type = SDL_RENDER_DEVICE_RESET;
    push(event);
    EXPECT_EQ(tick(), "[:render_targets_reset, :render_device_reset]");

    EXPECT_EQ(game.controller_key_states[0][game_quit_request_slot], 0);
    event.type = SDL_QUIT;
    push(event);
    EXPECT_EQ(tick(), "[:unknown]");
    EXPECT_EQ(game.controller_key_states[0][game_quit_request_slot], 1);
}

} // namespace
