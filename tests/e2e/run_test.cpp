// The running engine seen from outside: ending through a quit event, games that
// lack a tick or raise, a game shipped inside the executable, and the real X
// window path.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <X11/Xlib.h>

#include "e2e/e2e_fixture.h"

using kvn_e2e::describe;
using kvn_e2e::Installation;
using kvn_test::contains_in_order;
using kvn_test::count_occurrences;
using kvn_test::Process;

namespace {

constexpr int wait_ms = 30000;

// The engine's stdout after the given text.
std::string after(const std::string &text, const std::string &marker)
{
    size_t at = text.find(marker);
    return at == std::string::npos ? std::string() : text.substr(at + marker.size());
}

void expect_orderly_end(const kvn_test::ProcessResult &result)
{
    EXPECT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_TRUE(contains_in_order(result.out, {"e2e shutdown hook", "[Engine] Logging shutting down"}))
        << describe(result);
}

} // namespace

// SDL turns SIGINT into the same quit event a window close produces.
TEST(Run, InterruptEndsTheSimulationAndShutsDownWithZero)
{
    Installation install;
    std::string game = install.write_game("game", kvn_e2e::running_game);
    Process engine(install.options({game}));
    ASSERT_TRUE(engine.wait_for_output("e2e running", wait_ms)) << engine.out() << engine.err();

    engine.send_signal(SIGINT);
    auto result = engine.wait(wait_ms);

    expect_orderly_end(result);
}

TEST(Run, GameWithoutTickStillTicks)
{
    Installation install;
    std::string game = install.write_game("game", "puts 'e2e loaded'\n");
    Process engine(install.options({game, "--set", "log.level", "spam"}));
    ASSERT_TRUE(engine.wait_for_output("e2e loaded", wait_ms)) << engine.out() << engine.err();
    // The fps line is written once a second by the tick.
    ASSERT_TRUE(engine.wait_for_output("[Engine] Simulation fps: ", wait_ms)) << engine.out() << engine.err();

    engine.send_signal(SIGINT);
    auto result = engine.wait(wait_ms);

    EXPECT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_NE(result.out.find("[Engine] Logging shutting down"), std::string::npos) << describe(result);
}

struct ScriptErrorCase {
    const char *name;
    const char *main_rb;
    std::vector<std::string> stdout_texts;  // in order
    const char *stderr_text;                // empty: not checked
};

void PrintTo(const ScriptErrorCase &c, std::ostream *os)
{
    *os << c.name;
}

class ScriptErrors : public testing::TestWithParam<ScriptErrorCase> {};

// A script error is printed once with its location; the engine keeps ticking and
// still ends cleanly.
TEST_P(ScriptErrors, AreReportedOnceAndTheEngineKeepsTicking)
{
    const ScriptErrorCase &c = GetParam();
    Installation install;
    std::string game = install.write_game("game", c.main_rb);
    Process engine(install.options({game, "--set", "log.level", "spam"}));
    ASSERT_TRUE(engine.wait_for_output("* EXCEPTION", wait_ms)) << engine.out() << engine.err();
    // Two more fps lines: at least a second of ticking after the report.
    std::string marker = "[Engine] Simulation fps: ";
    size_t seen = count_occurrences(engine.out(), marker);
    ASSERT_TRUE(engine.wait_for_output(marker, wait_ms, seen + 2)) << engine.out() << engine.err();

    engine.send_signal(SIGINT);
    auto result = engine.wait(wait_ms);

    EXPECT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_EQ(count_occurrences(result.out, "* EXCEPTION"), 1u) << describe(result);
    EXPECT_TRUE(contains_in_order(result.out, c.stdout_texts)) << describe(result);
    EXPECT_GE(count_occurrences(after(result.out, "* EXCEPTION"), marker), 2u) << describe(result);
    if (*c.stderr_text) {
        EXPECT_NE(result.err.find(c.stderr_text), std::string::npos) << describe(result);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ScriptErrors,
    testing::Values(
        ScriptErrorCase{"TickRaises",
                        "def tick args\n"
                        "  puts \"e2e tick #{args.state.tick_count}\"\n"
                        "  raise \"boom at #{args.state.tick_count}\" if args.state.tick_count == 2\n"
                        "end\n",
                        {"e2e tick 2", "* EXCEPTION: boom at 2", "app/main.rb:3"},
                        ""},
        ScriptErrorCase{"SyntaxError",
                        "def tick args\n"
                        "  puts(\n"
                        "end\n",
                        {"* EXCEPTION:", "line 3:3: syntax error"},
                        ""}),
    [](const testing::TestParamInfo<ScriptErrorCase> &info) { return std::string(info.param.name); });

struct ShippedCase {
    const char *name;
    bool bare_argv0;  // argv[0] is a name found through PATH, not a path
};

void PrintTo(const ShippedCase &c, std::ostream *os)
{
    *os << c.name;
}

class Shipped : public testing::TestWithParam<ShippedCase> {};

// A shipped game is the executable with a ZIP of the game appended: no game
// directory and no mygame beside it.
TEST_P(Shipped, ExecutableWithAppendedZipRunsItsGame)
{
    Installation install;
    std::string game = install.write_game(
        "zipped",
        "def tick args\n"
        "  puts \"zip game tick #{args.state.tick_count}\"\n"
        "  $kor.request_quit if args.state.tick_count == 2\n"
        "end\n",
        {}, "devid=zipdev\ndevtitle=Zip Dev\ngameid=zipgame\ngametitle=Zip Game\nversion=1.0\n");
    // A shipped game carries everything it needs, the engine font included.
    std::string font = kvn_e2e::directory_of(KORVANE_EXECUTABLE) + "/font.ttf";
    if (kvn_test::os_file_exists(font)) {
        ASSERT_TRUE(kvn_e2e::install_file(font, game + "/font.ttf"));
    }
    kvn_test::TempDir shipped_dir;
    std::string archive = install.file("game.zip");
    ASSERT_TRUE(kvn_test::make_zip(game, archive));
    std::string shipped = shipped_dir.file("shipped");
    ASSERT_TRUE(kvn_test::append_archive(KORVANE_EXECUTABLE, archive, shipped));

    auto options = install.options({});
    options.program = shipped;
    options.args = {GetParam().bare_argv0 ? "shipped" : shipped};
    options.env.emplace_back("PATH", shipped_dir.path() + ":/usr/bin:/bin");
    options.cwd = install.root();  // elsewhere: argv[0] does not name the file from here

    auto result = kvn_test::run_process(options, kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    // Log lines and the game's own output reach stdout on different threads, so
    // only the order within each is fixed.
    EXPECT_TRUE(contains_in_order(result.out, {"[Engine] Game Dir: (null)", "[Engine] Game ID: zipgame"}))
        << describe(result);
    EXPECT_TRUE(contains_in_order(result.out, {"zip game tick 0", "zip game tick 2"})) << describe(result);
    EXPECT_TRUE(kvn_test::os_file_exists(shipped_dir.file("logs/zipgame.log")));
}

INSTANTIATE_TEST_SUITE_P(Argv0, Shipped,
                         testing::Values(ShippedCase{"FullPath", false}, ShippedCase{"BareName", true}),
                         [](const testing::TestParamInfo<ShippedCase> &info) { return std::string(info.param.name); });

namespace {

// Asks a window to close the way a window manager does (WM_DELETE_WINDOW), with
// libX11 loaded at run time so the tests need no X link.
bool request_window_close(unsigned long window)
{
    void *x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11) {
        return false;
    }
    auto open_display = reinterpret_cast<Display *(*)(const char *)>(dlsym(x11, "XOpenDisplay"));
    auto intern_atom = reinterpret_cast<Atom (*)(Display *, const char *, Bool)>(dlsym(x11, "XInternAtom"));
    auto send_event = reinterpret_cast<Status (*)(Display *, Window, Bool, long, XEvent *)>(dlsym(x11, "XSendEvent"));
    auto flush = reinterpret_cast<int (*)(Display *)>(dlsym(x11, "XFlush"));
    auto close_display = reinterpret_cast<int (*)(Display *)>(dlsym(x11, "XCloseDisplay"));
    bool sent = false;
    Display *display = open_display && intern_atom && send_event && flush && close_display ? open_display(nullptr)
                                                                                           : nullptr;
    if (display) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = intern_atom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(intern_atom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        sent = send_event(display, window, False, NoEventMask, &event) != 0;
        flush(display);
        close_display(display);
    }
    dlclose(x11);
    return sent;
}

// The first window xdotool finds for the process, or 0.
unsigned long find_window(pid_t pid)
{
    kvn_test::ProcessOptions options;
    options.program = "/usr/bin/xdotool";
    options.args = {"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)};
    for (int attempt = 0; attempt < 100; attempt++) {
        auto result = kvn_test::run_process(options, 10000);
        if (result.exit_status == 0 && !result.out.empty()) {
            return std::stoul(result.out);
        }
        usleep(100 * 1000);
    }
    return 0;
}

} // namespace

class XWindow : public testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY") || !*getenv("DISPLAY")) {
            GTEST_SKIP() << "no X display (the suite runs under xvfb-run in CI)";
        }
        if (!kvn_test::os_file_exists("/usr/bin/xdotool")) {
            GTEST_SKIP() << "xdotool is not installed";
        }
    }
};

TEST_F(XWindow, ClosingTheWindowEndsTheGameWithZero)
{
    Installation install;
    std::string game = install.write_game("game", kvn_e2e::running_game);
    auto options = install.options({game});
    options.unset_env = {"SDL_VIDEODRIVER"};
    Process engine(options);
    ASSERT_TRUE(engine.wait_for_output("e2e running", wait_ms)) << engine.out() << engine.err();
    EXPECT_NE(engine.out().find("[Render] SDL video backend: x11"), std::string::npos) << engine.out();

    unsigned long window = find_window(engine.pid());
    ASSERT_NE(window, 0u) << "no window found for the engine";
    ASSERT_TRUE(request_window_close(window));
    auto result = engine.wait(wait_ms);

    expect_orderly_end(result);
}

// With a display a fatal error would show a message box; an unattended run says
// so with KORVANE_NO_DIALOGS and must still end at once with status 1.
TEST_F(XWindow, FatalErrorWithoutDialogsDoesNotWait)
{
    Installation install;
    auto options = install.options({"--windowed"});
    options.unset_env = {"SDL_VIDEODRIVER"};
    options.env.emplace_back("KORVANE_NO_DIALOGS", "1");

    auto result = kvn_test::run_process(options, kvn_e2e::run_timeout_ms);

    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.exit_status, 1) << describe(result);
    EXPECT_EQ(result.err.find("\n\nStartup failure!:\nThe game directory must be provided"), 0u) << describe(result);
}
