// The input tests run the whole engine in-process: start-up with a small game in a
// temporary directory (offscreen window, the real framework image and runtime),
// then, per tick, the render thread's event poll followed by one simulation tick.
// Tests push real SDL events, attach SDL virtual joysticks, and read back what the
// game's tick saw in args.inputs through a probe expression the game evaluates.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>
#include <vector>

#include "engine/game_context.h"
#include "engine/script.h"
#include "engine/simulation.h"
#include "config/cvar.h"
#include "engine/startup.h"
#include "support/fs_fixture.h"
#include "input/controllers.h"
#include "input/events.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/render_context.h"
#include "stream/threadstream.h"

extern "C" const uint8_t main_ruby[];

namespace input_test {

// The game: every tick it appends the probe's answer for this tick's args.
constexpr const char *game_main_rb = R"RUBY(
$frames = []
$probe = lambda { |args| args.tick_count }
def tick args
  $frames << $probe.call(args)
end
)RUBY";

// Runs text at top level; the inspect text of its value, or the exception's.
inline std::string ruby(const std::string &source)
{
    mrb_state *mrb = game.mrb;
    int arena = mrb_gc_arena_save(mrb);
    mrb_value value = mrb_load_string(mrb, ("(" + source + ").inspect").c_str());
    std::string text;
    if (mrb->exc) {
        mrb_value exception = mrb_obj_value(mrb->exc);
        mrb->exc = nullptr;
        mrb_value message = mrb_funcall(mrb, exception, "inspect", 0);
        mrb->exc = nullptr;
        text = "EXCEPTION: " + (mrb_string_p(message) ? std::string(RSTRING_PTR(message), RSTRING_LEN(message)) : "?");
    } else if (mrb_string_p(value)) {
        text.assign(RSTRING_PTR(value), static_cast<size_t>(RSTRING_LEN(value)));
    }
    mrb_gc_arena_restore(mrb, arena);
    return text;
}

class Engine {
public:
    static Engine &get()
    {
        static Engine engine;
        return engine;
    }

    render_context *ctx() const { return the_render_context; }

    // Log messages handed to the runtime since the last call.
    static std::vector<std::string> take_log()
    {
        std::vector<std::string> lines;
        lines.swap(log_lines());
        return lines;
    }

    static void capture_log(const std::string &message) { log_lines().push_back(message); }

    const kvn_test::TempDir &game_dir() const { return dir_; }

private:
    Engine()
    {
        // Start-up runs the framework image; naming it here makes the linker take it
        // from its archive, which comes before the engine's on the link line.
        const void *volatile image = main_ruby;
        (void)image;
        SDL_setenv("SDL_VIDEODRIVER", "offscreen", 1);
        SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
        SDL_setenv("KORVANE_NO_DIALOGS", "1", 1);
        // The offscreen window never has keyboard focus, and SDL drops joystick
        // presses of unfocused applications unless told otherwise.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        dir_.write("app/main.rb", game_main_rb);
        dir_.write("metadata/game_metadata.txt",
                   "devid=korvane\ndevtitle=Korvane Tests\ngameid=inputtest\ngametitle=Input Test\nversion=1.0\n");
        // The render context's fallback font, found through the game's files.
        dir_.write("font.ttf", kvn_test::read_os_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
        std::string program = "korvane_input_tests";
        std::string directory = dir_.path();
        char *argv[] = {program.data(), directory.data(), nullptr};
        engine_startup(2, argv);
        install_probe_support();
    }

    void install_probe_support();

    static std::vector<std::string> &log_lines()
    {
        static std::vector<std::string> lines;
        return lines;
    }

    kvn_test::TempDir dir_;
};

// One tick: the render thread's poll of pending window-system events into the
// event queue, then the simulation tick. Frames are dropped (nothing draws them).
inline void run_tick()
{
    render_context *ctx = the_render_context;
    draw_poll_events(ctx);
    simulation_iteration();
    while (threadstream *frame = threadstreamqueue_getitem(ctx->frame_queue)) {
        threadstream_free(frame);
    }
}

// Sets what the game records each tick (a Ruby expression of args).
inline void probe(const std::string &expression)
{
    ruby("$probe = lambda { |args| " + expression + " }; $frames.clear; nil");
}

// Runs one tick and returns the probe's answer in it ("<no tick>" when the game's
// tick did not run).
inline std::string tick()
{
    ruby("$frames.clear");
    run_tick();
    std::string frames = ruby("$frames.length");
    if (frames != "1") {
        return "<no tick: " + frames + " frames>";
    }
    return ruby("$frames[0]");
}

inline void push(SDL_Event event)
{
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

inline void key(Uint32 type, SDL_Keycode sym, SDL_Scancode scancode, Uint16 mod = KMOD_NONE, Uint8 repeat = 0)
{
    SDL_Event event{};
    event.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = repeat;
    event.key.keysym.sym = sym;
    event.key.keysym.scancode = scancode;
    event.key.keysym.mod = mod;
    push(event);
}

inline void mouse_motion(int x, int y, int xrel = 0, int yrel = 0, Uint32 which = 0)
{
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.which = which;
    event.motion.x = x;
    event.motion.y = y;
    event.motion.xrel = xrel;
    event.motion.yrel = yrel;
    push(event);
}

inline void mouse_button(Uint32 type, Uint8 button, int x = 0, int y = 0, Uint32 which = 0)
{
    SDL_Event event{};
    event.type = type;
    event.button.which = which;
    event.button.button = button;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = 1;
    event.button.x = x;
    event.button.y = y;
    push(event);
}

inline void finger(Uint32 type, SDL_FingerID id, float x, float y, SDL_TouchID device = 7)
{
    SDL_Event event{};
    event.type = type;
    event.tfinger.touchId = device;
    event.tfinger.fingerId = id;
    event.tfinger.x = x;
    event.tfinger.y = y;
    push(event);
}

inline void window_event(Uint8 kind, Uint32 window_id)
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = kind;
    event.window.windowID = window_id;
    push(event);
}

// An SDL virtual joystick: a game controller (SDL builds a mapping for it) or a
// device without one. The test holds its own handle to set buttons and axes; the
// new values reach the engine with the next event poll.
class VirtualJoystick {
public:
    explicit VirtualJoystick(bool controller, const char *name = "Virtual Pad")
    {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = controller ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.naxes = controller ? SDL_CONTROLLER_AXIS_MAX : 2;
        desc.nbuttons = controller ? 15 : 4;
        desc.nhats = controller ? 0 : 1;
        desc.button_mask = controller ? (1u << 15) - 1 : 0;
        desc.axis_mask = controller ? (1u << SDL_CONTROLLER_AXIS_MAX) - 1 : 0;
        // A product id of its own: SDL names a controller after the mapping it
        // built for the first device of a GUID.
        static Uint16 next_product = 0x0100;
        desc.vendor_id = 0x1209;
        desc.product_id = next_product++;
        desc.name = name;
        int index = SDL_JoystickAttachVirtualEx(&desc);
        EXPECT_GE(index, 0) << SDL_GetError();
        handle_ = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
        id_ = handle_ ? SDL_JoystickInstanceID(handle_) : -1;
    }
    ~VirtualJoystick() { detach(); }
    VirtualJoystick(const VirtualJoystick &) = delete;
    VirtualJoystick &operator=(const VirtualJoystick &) = delete;

    SDL_JoystickID id() const { return id_; }
    void button(int button, bool pressed) { SDL_JoystickSetVirtualButton(handle_, button, pressed ? 1 : 0); }
    void axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(handle_, axis, value); }
    void hat(int hat, Uint8 value) { SDL_JoystickSetVirtualHat(handle_, hat, value); }

    // Device indices shift as devices go, so the current one is looked up.
    void detach()
    {
        if (!handle_) {
            return;
        }
        for (int i = 0; i < SDL_NumJoysticks(); i++) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id_) {
                SDL_JoystickDetachVirtual(i);
                break;
            }
        }
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
    }

private:
    SDL_Joystick *handle_ = nullptr;
    SDL_JoystickID id_ = -1;
};

// Each test starts from released keys, an idle mouse and no touches, at the
// grid's bottom-left origin, with every earlier tick's events delivered.
class InputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Engine &engine = Engine::get();
        run_tick();  // whatever an earlier test left in the queues
        events_clear_touches();
        SDL_memset(game.controller_key_states, 0, sizeof game.controller_key_states);
        ruby("$kor.args.inputs.clear; $kor.args.events[:raw].clear; nil");
        probe("args.tick_count");
        tick();
        engine.take_log();
    }

    std::vector<std::string> log() { return Engine::get().take_log(); }

    static bool logged(const std::vector<std::string> &lines, const std::string &text)
    {
        for (const std::string &line : lines) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

inline mrb_value capture_log_entry(mrb_state *mrb, mrb_value)
{
    mrb_int level = 0, ticks = 0;
    mrb_value subsystem, message;
    mrb_get_args(mrb, "iiSS", &level, &ticks, &subsystem, &message);
    Engine::capture_log(std::string(RSTRING_PTR(message), static_cast<size_t>(RSTRING_LEN(message))));
    return mrb_nil_value();
}

inline void Engine::install_probe_support()
{
    // The log lines each tick hands to the runtime are kept for the tests to read.
    mrb_state *mrb = game.mrb;
    RClass *probe_module = mrb_define_module(mrb, "InputTestLog");
    mrb_define_module_function(mrb, probe_module, "capture", capture_log_entry, MRB_ARGS_REQ(4));
    ruby(R"RUBY(
      class Kor::Runtime
        alias_method :__input_test_new_log_entry__, :new_log_entry
        def new_log_entry level, ticks, subsystem, message
          InputTestLog.capture level, ticks, subsystem.to_s, message.to_s
          __input_test_new_log_entry__ level, ticks, subsystem, message
        end
      end
    )RUBY");
    // The game's first tick runs a few steps after start-up: loading, boot and the
    // step that primes the built-in render targets come first, and nothing runs
    // within 16 ms of the first step.
    for (int i = 0; i < 200 && ruby("($frames || []).length") == "0"; i++) {
        SDL_Delay(5);
        run_tick();
    }
}

} // namespace input_test
