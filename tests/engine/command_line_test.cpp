// Start-up rules that need no process: the argument string handed to the
// framework and the command-line scan.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>
#include <vector>

#include "config/cvar.h"
#include "engine/command_line.h"
#include "render/renderer_cvars.h"

namespace {

std::vector<std::string> captured_logs;

void capture_log(void *, int, SDL_LogPriority, const char *message)
{
    captured_logs.emplace_back(message);
}

class ArgumentString : public testing::Test {
protected:
    void SetUp() override
    {
        captured_logs.clear();
        SDL_LogGetOutputFunction(&saved_function_, &saved_data_);
        SDL_LogSetOutputFunction(capture_log, nullptr);
    }
    void TearDown() override { SDL_LogSetOutputFunction(saved_function_, saved_data_); }

    // Joins the arguments; returns the text and how many were left out.
    std::pair<std::string, int> join(std::vector<std::string> args)
    {
        std::vector<char *> argv;
        for (auto &arg : args) {
            argv.push_back(arg.data());
        }
        char buffer[startup_argument_buffer_size];
        SDL_memset(buffer, 'x', sizeof buffer);  // the buffer is cleared first
        int left_out = startup_join_arguments(buffer, static_cast<int>(argv.size()), argv.data());
        return {std::string(buffer), left_out};
    }

private:
    SDL_LogOutputFunction saved_function_ = nullptr;
    void *saved_data_ = nullptr;
};

TEST_F(ArgumentString, JoinsEveryArgumentWithATrailingSpace)
{
    auto [text, left_out] = join({"./korvane", "mygame", "--set", "log.level", "spam"});
    EXPECT_EQ(text, "./korvane mygame --set log.level spam ");
    EXPECT_EQ(left_out, 0);
    EXPECT_TRUE(captured_logs.empty());

    EXPECT_EQ(join({}).first, "");
}

TEST_F(ArgumentString, KeepsExactly253BytesAndCutsAtTheFirstArgumentBeyond)
{
    // 9 + 1 + 242 + 1 = 253 bytes: everything fits.
    std::string fits(242, 'a');
    auto [text, left_out] = join({"./korvane", fits});
    EXPECT_EQ(text.size(), 253u);
    EXPECT_EQ(left_out, 0);

    auto [cut, cut_count] = join({"./korvane", fits + "b"});
    EXPECT_EQ(cut, "./korvane ");
    EXPECT_EQ(cut_count, 1);
    ASSERT_EQ(captured_logs.size(), 1u);
    EXPECT_EQ(captured_logs[0],
              "WARNING: ARGV is too long. The following argument will not be sent over: " + fits + "b.");
}

TEST_F(ArgumentString, EverythingAfterAnOverlongArgumentIsLeftOutToo)
{
    auto [text, left_out] = join({"./korvane", "game", std::string(300, 'z'), "--seed", "7"});
    EXPECT_EQ(text, "./korvane game ");
    EXPECT_EQ(left_out, 3);
    ASSERT_EQ(captured_logs.size(), 3u);
    EXPECT_NE(captured_logs[1].find("over: --seed."), std::string::npos) << captured_logs[1];
    EXPECT_NE(captured_logs[2].find("over: 7."), std::string::npos) << captured_logs[2];
}

struct ScanCase {
    const char *name;
    std::vector<std::string> args;  // from argv[1]
    int ok;
    const char *game_dir;           // null: none
    int production;
    int fullscreen;
    int headless;
    int vsync;
};

class CommandLine : public testing::TestWithParam<ScanCase> {
protected:
    void SetUp() override { ASSERT_TRUE(register_renderer_cvars()); }
    void TearDown() override { cvar_quit(); }
};

TEST_P(CommandLine, Scan)
{
    const ScanCase &c = GetParam();
    std::vector<std::string> args = {"./korvane"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char *> argv;
    for (auto &arg : args) {
        argv.push_back(arg.data());
    }
    startup_command_line scanned;
    EXPECT_EQ(startup_scan_command_line(static_cast<int>(argv.size()), argv.data(), &scanned), c.ok);
    EXPECT_EQ(scanned.switch_before_game, c.ok ? 0 : 1);
    EXPECT_STREQ(scanned.game_dir, c.game_dir);
    EXPECT_EQ(scanned.production, c.production);
    EXPECT_EQ(cvar_renderer_fullscreen, c.fullscreen);
    EXPECT_EQ(cvar_renderer_start_headless, c.headless);
    EXPECT_EQ(cvar_renderer_vsync, c.vsync);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CommandLine,
    testing::Values(
        ScanCase{"Empty", {}, 1, nullptr, 0, 0, 0, 1},
        ScanCase{"SwitchFirstIsRefused", {"--fullscreen", "game"}, 0, nullptr, 0, 0, 0, 1},
        ScanCase{"LaterPathsAreIgnored", {"game", "other", "--fullscreen"}, 1, "game", 0, 1, 0, 1},
        ScanCase{"LastOfFullscreenAndWindowedWins", {"game", "--fullscreen", "-windowed"}, 1, "game", 0, 0, 0, 1},
        ScanCase{"NoTickAndTestStartHeadless", {"game", "--no-tick"}, 1, "game", 0, 0, 1, 1},
        ScanCase{"TestStartsHeadless", {"game", "----test"}, 1, "game", 0, 0, 1, 1},
        ScanCase{"Production", {"game", "--production"}, 1, "game", 1, 0, 0, 1},
        ScanCase{"MatchingIsCaseSensitive", {"game", "--Fullscreen", "--PRODUCTION"}, 1, "game", 0, 0, 0, 1},
        ScanCase{"SetTakesNameAndValue", {"game", "--set", "renderer.vsync", "false"}, 1, "game", 0, 0, 0, 0},
        ScanCase{"SetValueIsNotAPath", {"game", "--set", "renderer.vsync", "0", "--fullscreen"}, 1, "game", 0, 1,
                 0, 0},
        ScanCase{"SetWithoutValueSkipsTheRest", {"game", "--fullscreen", "--set", "renderer.vsync"}, 1, "game", 0,
                 1, 0, 1},
        ScanCase{"SetWithoutAnythingSkipsTheRest", {"game", "--set"}, 1, "game", 0, 0, 0, 1},
        ScanCase{"EvalAndUnknownSwitchesAreLeftToTheFramework", {"game", "--eval", "x.rb", "--speed", "3"}, 1,
                 "game", 0, 0, 0, 1}),
    [](const testing::TestParamInfo<ScanCase> &info) { return std::string(info.param.name); });

} // namespace
