// Start-up seen from outside: the log lines, the fatal messages and their exit
// status, cvar sources in their precedence, production builds and store keys.
#include <gtest/gtest.h>

#include "e2e/e2e_fixture.h"

using kvn_e2e::describe;
using kvn_e2e::Installation;
using kvn_test::contains_in_order;
using kvn_test::run_process;

TEST(Startup, LogsTheGameThenRunsItsTicksAndShutsDownInOrder)
{
    Installation install;
    std::string game = install.write_game("game", kvn_e2e::quitting_game);

    auto result = run_process(install.options({game}), kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_TRUE(contains_in_order(result.out, {
        "[Engine] Log started at",
        "[Engine] Korvane Runtime",
        "[Engine] Process Working Directory: " + install.root() + "/",
        "[Engine] Game Dir: " + game,
        "[Engine] Game ID: e2egame",
        "[Engine] Game Title: E2E Game",
        "[Engine] Game Version: 2.5",
        "[Engine] Game Package ID: org.e2edev.e2egame",
        "[Engine] Game Developer ID: e2edev",
        "[Engine] Game Developer Title: E2E Developer",
        "[Engine] Production Build: no",
        "[Engine] Remote Hotload: no",
        "[Engine] Janitor is using ",
    })) << describe(result);
    // The game's first tick sees 0, and it stops on the tick that asked to quit.
    // Log lines are published a tick later by a janitor job, so only the game's
    // own output is compared for order.
    EXPECT_TRUE(contains_in_order(result.out, {"e2e tick 0\n", "e2e tick 1\n", "e2e tick 3\n", "e2e shutdown hook"}))
        << describe(result);
    EXPECT_NE(result.out.find("* INFO: Quit requested"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("e2e tick 4"), std::string::npos);
    // The log shuts down last, after the runtime's quit ran the game's hook.
    EXPECT_TRUE(contains_in_order(result.out, {"e2e shutdown hook", "[Engine] Logging shutting down"}));
    EXPECT_EQ(result.out.rfind("Logging shutting down\n") + 22, result.out.size()) << describe(result);

    // The same lines reach logs/<gameid>.log in the write directory (beside the
    // executable in a development build); the game's own output does not.
    std::string log = kvn_test::read_os_file(install.file("logs/e2egame.log"));
    EXPECT_NE(log.find("[Engine] Game Title: E2E Game\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Logging shutting down"), std::string::npos) << log;
    EXPECT_EQ(log.find("e2e tick"), std::string::npos);
}

TEST(Startup, RemoteHotloadMarkerIsReported)
{
    Installation install;
    std::string game = install.write_game("game", kvn_e2e::quitting_game, {{"metadata/korvane_remote_hotload", "x"}});

    auto result = run_process(install.options({game}), kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_NE(result.out.find("[Engine] Remote Hotload: yes"), std::string::npos) << describe(result);
    EXPECT_NE(result.out.find("[Engine] Production Build: no"), std::string::npos);
}

struct FatalCase {
    const char *name;
    std::vector<std::string> args;  // "GAME" is replaced by a valid game directory
    std::vector<std::pair<std::string, std::string>> env;
    std::string message_start;      // "ROOT" is replaced by the installation root
};

void PrintTo(const FatalCase &c, std::ostream *os)
{
    *os << c.name;
}

class FatalStartup : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalStartup, WritesTheMessageToStderrAndExitsWithOne)
{
    const FatalCase &c = GetParam();
    Installation install;
    std::string game = install.write_game("game", kvn_e2e::running_game);
    auto expand = [&](std::string text) {
        if (text == "GAME") {
            return game;
        }
        if (auto at = text.find("ROOT"); at != std::string::npos) {
            text.replace(at, 4, install.root());
        }
        return text;
    };
    std::vector<std::string> args;
    for (const auto &arg : c.args) {
        args.push_back(expand(arg));
    }
    std::string message = expand(c.message_start);
    auto options = install.options(args);
    options.env.insert(options.env.end(), c.env.begin(), c.env.end());
    // No display at all: nobody could click a message box, so none may block.
    options.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "KORVANE_NO_DIALOGS"};

    auto result = run_process(options, kvn_e2e::run_timeout_ms);

    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.exit_status, 1) << describe(result);
    EXPECT_EQ(result.err.find("\n\nStartup failure!:\n" + message), 0u) << describe(result);
    EXPECT_EQ(result.out.find("[Render]"), std::string::npos) << "a window was opened\n" << describe(result);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FatalStartup,
    testing::Values(
        FatalCase{"SwitchBeforeGameDirectory", {"--fullscreen"}, {},
                  "The game directory must be provided as the first argument to ./korvane if you want to use "
                  "switches.\n\n"},
        FatalCase{"SingleDashSwitchBeforeGameDirectory", {"-set", "a", "b", "GAME"}, {},
                  "The game directory must be provided as the first argument"},
        FatalCase{"UnmountableGameDirectory", {"ROOT/no-such-game"}, {},
                  "Couldn't mount 'ROOT/no-such-game' directory: "},
        FatalCase{"VideoDriverMissing", {"GAME"}, {{"SDL_VIDEODRIVER", "no-such-driver"}},
                  "SDL_Init(SDL_INIT_VIDEO) failed: "},
        FatalCase{"PreferenceDirectoryCannotBeMade", {"GAME", "--production"},
                  {{"XDG_DATA_HOME", "/dev/null/not-a-directory"}}, "Couldn't mount write directory: "}),
    [](const testing::TestParamInfo<FatalCase> &info) { return std::string(info.param.name); });

struct CvarSourceCase {
    const char *name;
    std::vector<std::string> switches;  // after the game directory
    std::string cvars_txt;              // metadata/cvars.txt, none when empty
    std::string user_cvars_txt;         // user_cvars.txt in the game, none when empty
    std::string expected_log;           // the one file that must appear under logs/
    std::vector<std::string> expected_output;  // also on stdout
};

void PrintTo(const CvarSourceCase &c, std::ostream *os)
{
    *os << c.name;
}

class CvarSources : public testing::TestWithParam<CvarSourceCase> {};

// log.filename shows which source won: the log file is named after it.
TEST_P(CvarSources, LaterSourcesWin)
{
    const CvarSourceCase &c = GetParam();
    Installation install;
    std::vector<std::pair<std::string, std::string>> files;
    if (!c.cvars_txt.empty()) {
        files.emplace_back("metadata/cvars.txt", c.cvars_txt);
    }
    if (!c.user_cvars_txt.empty()) {
        files.emplace_back("user_cvars.txt", c.user_cvars_txt);
    }
    std::string game = install.write_game("game", kvn_e2e::quitting_game, files);
    std::vector<std::string> args = {game};
    args.insert(args.end(), c.switches.begin(), c.switches.end());

    auto result = run_process(install.options(args), kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_TRUE(kvn_test::os_file_exists(install.file("logs/" + c.expected_log))) << describe(result);
    for (const char *other : {"from_set.log", "from_meta.log", "from_user.log", "e2egame.log"}) {
        if (c.expected_log != other) {
            EXPECT_FALSE(kvn_test::os_file_exists(install.file(std::string("logs/") + other))) << other;
        }
    }
    for (const auto &text : c.expected_output) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << describe(result);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, CvarSources,
    testing::Values(
        CvarSourceCase{"SetSwitch", {"--set", "log.filename", "from_set.log"}, "", "", "from_set.log", {}},
        CvarSourceCase{"OneDash", {"-set", "log.filename", "from_set.log"}, "", "", "from_set.log", {}},
        CvarSourceCase{"ThreeDashes", {"---set", "log.filename", "from_set.log"}, "", "", "from_set.log", {}},
        CvarSourceCase{"GameCvarsBeatTheSwitch",
                       {"--set", "log.filename", "from_set.log"},
                       "# the game's settings\n  log.filename = from_meta.log  \n",
                       "",
                       "from_meta.log",
                       {}},
        CvarSourceCase{"UserCvarsBeatBoth",
                       {"--set", "log.filename", "from_set.log"},
                       "log.filename=from_meta.log\n",
                       "log.filename=from_user.log\r\n",
                       "from_user.log",
                       {}},
        CvarSourceCase{"SetWithoutValueIsIgnoredWithTheRest",
                       {"--set", "log.filename"},
                       "",
                       "",
                       "e2egame.log",
                       {}},
        CvarSourceCase{"SetConsumesItsTwoArguments",
                       {"--set", "log.filename", "--windowed"},
                       "",
                       "",
                       "--windowed",
                       {}},
        CvarSourceCase{"LockedMetadataRefusesTheSwitch",
                       {"--set", "game_metadata.gameid", "hacked"},
                       "",
                       "",
                       "e2egame.log",
                       {"Refusing to set locked cvar 'game_metadata.gameid' to 'hacked'", "Game ID: e2egame"}},
        CvarSourceCase{"MalformedCvarsLineIsWarnedAndSkipped",
                       {},
                       "log.filename=from_meta.log\n= no key\nnot a setting\n",
                       "",
                       "from_meta.log",
                       {"metadata/cvars.txt: invalid data on line 2, ignored",
                        "metadata/cvars.txt: invalid data on line 3, ignored"}}),
    [](const testing::TestParamInfo<CvarSourceCase> &info) { return std::string(info.param.name); });

struct BuildKindCase {
    const char *name;
    bool production_marker;
    std::string expected_log;  // relative to the root; "PREF" is the preference directory
};

void PrintTo(const BuildKindCase &c, std::ostream *os)
{
    *os << c.name;
}

class BuildKind : public testing::TestWithParam<BuildKindCase> {};

// A player's user_cvars.txt in the per-user directory shadows the game's in a
// production build (even when the marker file is empty) and is not consulted in a
// development build, whose write directory is beside the executable.
TEST_P(BuildKind, WriteDirectoryAndTheUserCvarsItHolds)
{
    const BuildKindCase &c = GetParam();
    Installation install;
    std::vector<std::pair<std::string, std::string>> files = {{"user_cvars.txt", "log.filename=game_side.log\n"}};
    if (c.production_marker) {
        files.emplace_back("metadata/korvane_production_build", "");
    }
    std::string game = install.write_game("game", kvn_e2e::quitting_game, files);
    // The preference directory of PhysicsFS on this platform: $XDG_DATA_HOME/<game title>/.
    std::string pref = install.xdg() + "/E2E Game";
    install.write("xdg/E2E Game/user_cvars.txt", "log.filename = player_side.log\n");

    auto result = run_process(install.options({game}), kvn_e2e::run_timeout_ms);

    ASSERT_EQ(result.exit_status, 0) << describe(result);
    std::string expected = c.expected_log;
    if (expected.rfind("PREF", 0) == 0) {
        expected = pref + expected.substr(4);
    } else {
        expected = install.file(expected);
    }
    std::string log = kvn_test::read_os_file(expected);
    ASSERT_FALSE(log.empty()) << expected << "\n" << describe(result);
    EXPECT_NE(log.find(c.production_marker ? "Production Build: yes" : "Production Build: no"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("Process Working Directory") == std::string::npos, c.production_marker) << log;
    if (c.production_marker) {
        EXPECT_FALSE(kvn_test::os_file_exists(install.file("logs")));
        EXPECT_EQ(result.out.find("[Engine]"), std::string::npos) << "production builds log to the file only";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Builds, BuildKind,
    testing::Values(BuildKindCase{"Development", false, "logs/game_side.log"},
                    BuildKindCase{"ProductionWithEmptyMarker", true, "PREF/logs/player_side.log"}),
    [](const testing::TestParamInfo<BuildKindCase> &info) { return std::string(info.param.name); });

struct StoreKeyCase {
    const char *name;
    const char *line;
    const char *message;
};

void PrintTo(const StoreKeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class StoreKeys : public testing::TestWithParam<StoreKeyCase> {};

TEST_P(StoreKeys, ExitWithOneBeforeAnyWindowOpens)
{
    const StoreKeyCase &c = GetParam();
    Installation install;
    std::string metadata = std::string(kvn_e2e::default_metadata) + c.line + "\n";
    std::string game = install.write_game("game", kvn_e2e::running_game, {}, metadata);

    auto result = run_process(install.options({game}), kvn_e2e::run_timeout_ms);

    EXPECT_EQ(result.exit_status, 1) << describe(result);
    EXPECT_TRUE(contains_in_order(result.out, {c.message, "Quitting now so you know to FIX THIS RIGHT NOW."}))
        << describe(result);
    EXPECT_EQ(result.out.find("[Render]"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out.find("Janitor is using"), std::string::npos) << describe(result);
}

INSTANTIATE_TEST_SUITE_P(
    Metadata, StoreKeys,
    testing::Values(StoreKeyCase{"Steam", "steam.appid=480", "Steam publishing details in game_metadata.txt line 6!"},
                    StoreKeyCase{"SteamAnyCase", "Steam.AppID=480",
                                 "Steam publishing details in game_metadata.txt line 6!"},
                    StoreKeyCase{"Itch", "itchio.page=x", "itch.io publishing details in game_metadata.txt line 6!"}),
    [](const testing::TestParamInfo<StoreKeyCase> &info) { return std::string(info.param.name); });
