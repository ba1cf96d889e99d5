// The framework runtime seen from outside: hotload of edited sources (state kept,
// backups written), broken reloads, exceptions in tick with their report files,
// the first load's status machine, compiled game files, and the one-shot runs
// --eval FILE --no-tick and --test FILE with their exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "e2e/e2e_fixture.h"

using kvn_e2e::describe;
using kvn_e2e::Installation;
using kvn_test::contains_in_order;
using kvn_test::count_occurrences;
using kvn_test::Process;

namespace {

constexpr int wait_ms = 30000;
constexpr const char *fps_marker = "[Engine] Simulation fps: ";

// Modification times have one-second resolution and hotload leaves a file
// alone while its time is the current second (it may still be written to), so
// tests date their edits back to see them picked up at the next poll.
void date_back(const std::string &path, int seconds)
{
    utimbuf times{};
    times.actime = times.modtime = time(nullptr) - seconds;
    ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

// The number printed right after the first occurrence of marker, or -1.
long number_after(const std::string &text, const std::string &marker)
{
    size_t at = text.find(marker);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(text.c_str() + at + marker.size(), nullptr, 10);
}

// The last such number, or -1.
long last_number_after(const std::string &text, const std::string &marker)
{
    size_t at = text.rfind(marker);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(text.c_str() + at + marker.size(), nullptr, 10);
}

// A tick that counts in args.state and says so every 10 ticks as "e2e NAME N".
std::string counting_tick(const std::string &name)
{
    return "def tick args\n"
           "  args.state.count ||= 0\n"
           "  args.state.count += 1\n"
           "  puts \"e2e " + name + " #{args.state.count}\" if args.state.count % 10 == 0\n"
           "end\n";
}

// Waits for at least a second of ticking (two more fps lines), so that hotload
// has polled in between.
bool wait_a_poll(Process &engine)
{
    size_t seen = count_occurrences(engine.out(), fps_marker);
    return engine.wait_for_output(fps_marker, wait_ms, seen + 2);
}

void stop(Process &engine)
{
    engine.send_signal(SIGINT);
    auto result = engine.wait(wait_ms);
    EXPECT_EQ(result.exit_status, 0) << describe(result);
}

struct HotloadCase {
    const char *name;
    const char *edited;  // game-relative path of the file that is edited
    const char *backup;  // its latest copy under tmp/src_backup/
};

void PrintTo(const HotloadCase &c, std::ostream *os)
{
    *os << c.name;
}

class Hotload : public testing::TestWithParam<HotloadCase> {};

// main.rb requires app/lib.rb, whose tick_body does the work: editing either file
// changes what the running game does, keeps its state, and backs the file up.
TEST_P(Hotload, EditedSourceChangesTheRunningGameAndKeepsItsState)
{
    const HotloadCase &c = GetParam();
    auto lib = [](const char *name) {
        return "def tick_body args\n  puts \"e2e " + std::string(name) + " #{args.state.count}\" if args.state.count % 10 == 0\nend\n";
    };
    auto main = [](const char *name) {
        return "require 'app/lib.rb'\n"
               "def tick args\n"
               "  args.state.count ||= 0\n"
               "  args.state.count += 1\n"
               "  tick_body args\n"
               "  puts \"e2e main " + std::string(name) + "\" if args.state.count == 1\n"
               "end\n";
    };
    Installation install;
    std::string game = install.write_game("game", main("v1"), {{"app/lib.rb", lib("v1")}});
    date_back(game + "/app/main.rb", 10);
    date_back(game + "/app/lib.rb", 10);
    Process engine(install.options({game}));
    ASSERT_TRUE(engine.wait_for_output("e2e v1 20", wait_ms)) << engine.out() << engine.err();

    std::string edited = std::string(c.edited) == "app/lib.rb" ? lib("v2") : main("v2") + lib("v2");
    install.write("game/" + std::string(c.edited), edited);
    date_back(game + "/" + c.edited, 5);

    ASSERT_TRUE(engine.wait_for_output("e2e v2 ", wait_ms)) << engine.out() << engine.err();
    long last_v1 = last_number_after(engine.out(), "e2e v1 ");
    long first_v2 = number_after(engine.out(), "e2e v2 ");
    EXPECT_GT(first_v2, last_v1) << "args.state.count went on\n" << engine.out();
    EXPECT_EQ(engine.out().find("e2e main v2"), std::string::npos) << "a reload is not a restart";
    EXPECT_NE(engine.out().find(std::string("* INFO: =") + c.edited + "= reloaded."), std::string::npos);
    EXPECT_EQ(kvn_test::read_os_file(install.file(std::string("tmp/src_backup/") + c.backup)), edited);
    EXPECT_NE(kvn_test::read_os_file(install.file("tmp/src_backup/src_backup_changes.txt")).find(c.edited),
              std::string::npos);
    stop(engine);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Hotload,
    testing::Values(HotloadCase{"MainRb", "app/main.rb", "src_backup_app_main.rb"},
                    HotloadCase{"RequiredFile", "app/lib.rb", "src_backup_app_lib.rb"}),
    [](const testing::TestParamInfo<HotloadCase> &info) { return std::string(info.param.name); });

// A broken save is reported once, whatever the number of polls after it; the
// code already loaded stays in force and the next good save resumes the game
// with its state.
TEST(Hotload, SyntaxErrorInAReloadIsReportedOnceAndTheLoadedCodeStays)
{
    Installation install;
    std::string game = install.write_game("game", counting_tick("v1"));
    date_back(game + "/app/main.rb", 10);
    Process engine(install.options({game, "--set", "log.level", "spam"}));
    ASSERT_TRUE(engine.wait_for_output("e2e v1 20", wait_ms)) << engine.out() << engine.err();

    install.write("game/app/main.rb", "def tick args\n  puts(\nend\n");
    date_back(game + "/app/main.rb", 6);
    ASSERT_TRUE(engine.wait_for_output("** Failed to load/reload app/main.rb.", wait_ms)) << engine.out();
    ASSERT_TRUE(wait_a_poll(engine)) << engine.out();
    ASSERT_TRUE(wait_a_poll(engine)) << engine.out();

    install.write("game/app/main.rb", counting_tick("v2"));
    date_back(game + "/app/main.rb", 3);
    ASSERT_TRUE(engine.wait_for_output("e2e v2 ", wait_ms)) << engine.out() << engine.err();

    std::string out = engine.out();
    EXPECT_EQ(count_occurrences(out, "** Failed to load/reload app/main.rb."), 1u) << out;
    EXPECT_TRUE(contains_in_order(out, {"** Failed to load/reload app/main.rb.", "line 3:", "syntax error"}))
        << out;
    EXPECT_GT(number_after(out, "e2e v2 "), last_number_after(out, "e2e v1 ")) << out;
    stop(engine);
}

// A tick that raises is reported once with the report and the game state in
// logs/exceptions/; the game pauses (tick is not called again) and resumes,
// counting on, after a fixed version is loaded.
TEST(Exceptions, TickThatRaisesIsExportedPausesAndResumesAfterAFix)
{
    Installation install;
    std::string game = install.write_game("game",
                                          "def tick args\n"
                                          "  args.state.marker = :e2e_marker\n"
                                          "  puts \"e2e tick #{args.state.tick_count}\"\n"
                                          "  raise \"e2e boom\" if args.state.tick_count >= 3\n"
                                          "end\n");
    date_back(game + "/app/main.rb", 10);
    Process engine(install.options({game, "--set", "log.level", "spam"}));
    ASSERT_TRUE(engine.wait_for_output("* EXCEPTION: e2e boom", wait_ms)) << engine.out() << engine.err();
    ASSERT_TRUE(wait_a_poll(engine)) << engine.out();

    std::string current = kvn_test::read_os_file(install.file("logs/exceptions/current.txt"));
    EXPECT_TRUE(contains_in_order(current, {"# * EXCEPTION: e2e boom\n", "# app/main.rb:4", "\n\nGame State:\n",
                                            "e2e_marker"}))
        << current;
    EXPECT_EQ(kvn_test::read_os_file(install.file("logs/exceptions/game_state_3.txt")), current);
    EXPECT_NE(engine.out().find("Game state and exception will be written to logs/exceptions/game_state_3.txt"),
              std::string::npos);
    EXPECT_EQ(engine.out().find("e2e tick 4"), std::string::npos) << "paused after the exception";

    install.write("game/app/main.rb", "def tick args\n  puts \"e2e resumed #{args.state.tick_count}\"\nend\n");
    date_back(game + "/app/main.rb", 5);
    ASSERT_TRUE(engine.wait_for_output("e2e resumed ", wait_ms)) << engine.out() << engine.err();
    EXPECT_EQ(number_after(engine.out(), "e2e resumed "), 4) << engine.out();
    EXPECT_EQ(count_occurrences(engine.out(), "* EXCEPTION: e2e boom"), 1u) << engine.out();
    stop(engine);
}

// A main.rb that does not parse leaves the game unticked; saving a fixed one
// loads the game from the start.
TEST(Loading, BrokenMainRbWaitsForAFixAndThenStartsFromTheBeginning)
{
    Installation install;
    std::string game = install.write_game("game", "def tick args\n  puts(\nend\n");
    date_back(game + "/app/main.rb", 10);
    Process engine(install.options({game, "--set", "log.level", "spam"}));
    ASSERT_TRUE(engine.wait_for_output("** Failed to load app/main.rb.", wait_ms)) << engine.out() << engine.err();
    ASSERT_TRUE(wait_a_poll(engine)) << engine.out();

    install.write("game/app/main.rb",
                  "def boot args\n  puts 'e2e booted'\nend\n"
                  "def tick args\n  puts \"e2e started #{args.state.tick_count}\" if args.state.tick_count < 2\nend\n");
    date_back(game + "/app/main.rb", 5);
    ASSERT_TRUE(engine.wait_for_output("e2e started 1", wait_ms)) << engine.out() << engine.err();
    EXPECT_TRUE(contains_in_order(engine.out(), {"** Failed to load app/main.rb.", "e2e booted", "e2e started 0",
                                                 "e2e started 1"}))
        << engine.out();
    EXPECT_EQ(count_occurrences(engine.out(), "** Failed to load app/main.rb."), 1u) << engine.out();
    stop(engine);
}

// Truncating and rewriting the running game's main.rb over and over, with
// pauses in the middle of a write: the engine never stops, and the last complete
// version is the one that runs.
TEST(Hotload, HalfWrittenFilesNeverStopTheGame)
{
    Installation install;
    std::string game = install.write_game("game", counting_tick("start"));
    date_back(game + "/app/main.rb", 10);
    Process engine(install.options({game}));
    ASSERT_TRUE(engine.wait_for_output("e2e start 10", wait_ms)) << engine.out() << engine.err();

    std::string path = game + "/app/main.rb";
    auto write_in_two_halves = [&](const std::string &text, int pause_ms) {
        int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        size_t half = text.size() / 2;
        ASSERT_EQ(write(fd, text.data(), half), static_cast<ssize_t>(half));
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        ASSERT_EQ(write(fd, text.data() + half, text.size() - half), static_cast<ssize_t>(text.size() - half));
        close(fd);
    };
    for (int i = 0; i < 12; i++) {
        write_in_two_halves(counting_tick("half" + std::to_string(i)), 40 + 30 * (i % 4));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    write_in_two_halves(counting_tick("final"), 300);

    ASSERT_TRUE(engine.wait_for_output("e2e final ", wait_ms)) << engine.out() << engine.err();
    stop(engine);
}

struct CompiledCase {
    const char *name;
    bool with_source;  // app/main.rb beside app/main.rbc
};

void PrintTo(const CompiledCase &c, std::ostream *os)
{
    *os << c.name;
}

class Compiled : public testing::TestWithParam<CompiledCase> {};

// A compiled app/main.rbc is loaded, and wins over app/main.rb beside it.
TEST_P(Compiled, MainRbcIsLoaded)
{
    Installation install;
    std::string game = install.write_game("game", "def tick args\n  puts 'e2e source'\n  $kor.request_quit\nend\n");
    install.write("src/compiled.rb", "def tick args\n  puts 'e2e compiled'\n  $kor.request_quit\nend\n");
    std::string compile = "cd '" + install.file("src") + "' && mrbc -o '" + game + "/app/main.rbc' compiled.rb";
    if (kvn_test::run_shell(compile) != 0) {
        GTEST_SKIP() << "mrbc is not available: " << compile;
    }
    if (!GetParam().with_source) {
        ASSERT_EQ(unlink((game + "/app/main.rb").c_str()), 0);
    }

    auto result = kvn_test::run_process(install.options({game}), kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_NE(result.out.find("e2e compiled"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("e2e source"), std::string::npos) << describe(result);
    EXPECT_NE(result.out.find("=app/main.rbc= reloaded."), std::string::npos) << describe(result);
}

INSTANTIATE_TEST_SUITE_P(Sources, Compiled,
                         testing::Values(CompiledCase{"Alone", false}, CompiledCase{"BesideSource", true}),
                         [](const testing::TestParamInfo<CompiledCase> &info) { return std::string(info.param.name); });

struct OneShotCase {
    const char *name;
    std::vector<std::string> switches;                         // after the game directory
    std::vector<std::pair<std::string, std::string>> files;  // game-relative
    int exit_status;
    std::vector<std::string> texts;  // each on stdout
    bool in_order;                   // texts from one writer (log lines and direct output may interleave)
    const char *absent;              // never on stdout ("" for none)
};

void PrintTo(const OneShotCase &c, std::ostream *os)
{
    *os << c.name;
}

class OneShot : public testing::TestWithParam<OneShotCase> {};

// Runs that end by themselves: --eval with --no-tick, and the test runner; a
// failure ends them with a non-zero status.
TEST_P(OneShot, RunsAndExits)
{
    const OneShotCase &c = GetParam();
    Installation install;
    std::string game = install.write_game("game", "def tick args\n  puts \"e2e tick #{args.state.tick_count}\"\nend\n",
                                          c.files);
    std::vector<std::string> arguments = {game};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());

    auto result = kvn_test::run_process(install.options(arguments), kvn_e2e::run_timeout_ms);

    EXPECT_EQ(result.exit_status, c.exit_status) << describe(result);
    for (const std::string &text : c.texts) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << describe(result);
    }
    if (c.in_order) {
        EXPECT_TRUE(contains_in_order(result.out, c.texts)) << describe(result);
    }
    if (*c.absent) {
        EXPECT_EQ(result.out.find(c.absent), std::string::npos) << describe(result);
    }
}

const char *passing_and_failing_tests =
    "def test_a args, assert\n  assert.equal! args.state.tick_count, -1\nend\n"
    "def test_b args, assert\n  assert.equal! 1 + 1, 3, 'arithmetic'\nend\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, OneShot,
    testing::Values(
        OneShotCase{"EvalNoTick",
                    {"--eval", "app/script.rb", "--no-tick"},
                    {{"app/script.rb", "puts \"e2e eval ran at #{Kernel.tick_count}\"\n"}},
                    0,
                    {"--no-tick switch found. Exiting.", "e2e eval ran at -1", "* INFO: Quit requested"},
                    false,
                    "e2e tick"},
        OneShotCase{"EvalThatRaises",
                    {"--eval", "app/script.rb", "--no-tick"},
                    {{"app/script.rb", "raise 'e2e eval boom'\n"}},
                    1,
                    {"* EXCEPTION:", "e2e eval boom", "* INFO: Quit requested"},
                    true,
                    "e2e tick"},
        OneShotCase{"EvalOfAMissingFile", {"--eval", "app/nope.rb", "--no-tick"}, {}, 1,
                    {"File does not exist: app/nope.rb"}, true, "e2e tick"},
        OneShotCase{"EvalThenTheGameRuns",
                    {"--eval", "app/script.rb"},
                    {{"app/script.rb", "puts 'e2e eval ran'\n$kor.schedule_callback(2) { $kor.request_quit }\n"}},
                    0,
                    {"e2e eval ran", "e2e tick 0", "e2e tick 1"},
                    true,
                    "e2e tick 3"},
        OneShotCase{"TestsPass",
                    {"--test", "tests/only_test.rb"},
                    {{"tests/only_test.rb", "def test_a args, assert\n  assert.true! args.state\nend\n"}},
                    0,
                    {"passed: test_a", "1 passed, 0 failed"},
                    true,
                    "e2e tick"},
        OneShotCase{"TestsFail",
                    {"--test", "tests/some_test.rb"},
                    {{"tests/some_test.rb", passing_and_failing_tests}},
                    1,
                    {"passed: test_a", "failed: test_b: arithmetic", "expected: 3", "tests/some_test.rb:5",
                     "1 passed, 1 failed"},
                    true,
                    "e2e tick"}),
    [](const testing::TestParamInfo<OneShotCase> &info) { return std::string(info.param.name); });

} // namespace
