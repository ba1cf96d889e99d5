#include <SDL.h>
#include <gtest/gtest.h>
#include <physfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/version.h"
#include "log/log.h"
#include "support/fs_fixture.h"

namespace {

struct logged_line {
    int32_t level;
    std::string subsystem;
    std::string message;
    bool operator==(const logged_line &) const = default;
};

std::ostream &operator<<(std::ostream &out, const logged_line &line)
{
    return out << "{" << line.level << ", " << line.subsystem << ", \"" << line.message << "\"}";
}

std::vector<logged_line> take_log()
{
    std::vector<logged_line> lines;
    log_entry *entries = log_get_entries();
    for (const log_entry *entry = entries; entry; entry = entry->next) {
        lines.push_back({entry->level, entry->subsystem, entry->message});
    }
    log_free_entries(entries);
    return lines;
}

std::vector<std::string> messages(const std::vector<logged_line> &lines)
{
    std::vector<std::string> result;
    for (const logged_line &line : lines) {
        result.push_back(line.message);
    }
    return result;
}

// A pointer that crashes whoever formats it: passing it to a filtered call
// proves the call returned before formatting.
const char *const unformattable = reinterpret_cast<const char *>(16);

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log_init());
        take_log();
        cvar_set("log.stdout", "false");  // pending until log_ready
    }
    void TearDown() override { quiet_quit(); }

    static void ready() { ASSERT_TRUE(log_ready()); }
    // log_quit prints its last line on stdout unless log.stdout says no.
    static void quiet_quit()
    {
        cvar_set("log.stdout", "false");
        if (!cvar_get("log.stdout", nullptr, nullptr)) {
            log_ready();
        }
        take_log();
        log_quit();
        cvar_quit();
    }
    // A fresh log and registry, as SetUp leaves them.
    void restart()
    {
        quiet_quit();
        LogTest::SetUp();
    }
};

TEST_F(LogTest, InitWritesTheBanner)
{
    quiet_quit();
    ASSERT_TRUE(log_init());
    const std::vector<logged_line> lines = take_log();
    ASSERT_EQ(lines.size(), 7u);
    for (const logged_line &line : lines) {
        EXPECT_EQ(line.level, log_level_unfiltered);
        EXPECT_EQ(line.subsystem, "Engine");
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(lines[0].message.c_str(), "Log started at %d/%d/%d %d:%d:%d", &year, &month, &day, &hour,
                          &minute, &second),
              6)
        << lines[0].message;
    EXPECT_GE(year, 2020);
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(second >= 0 && second <= 59);
    std::vector<std::string> rest = messages(lines);
    rest.erase(rest.begin());
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "Korvane Runtime",
                        std::string("  Version: ") + korvane_version,
                        std::string("  GIT Hash: ") + korvane_build_id,
                        std::string("  Build Date: ") + korvane_build_date + " " + korvane_build_time,
                        std::string("Platform: ") + SDL_GetPlatform(),
                        "",
                    }));
}

TEST_F(LogTest, EntriesKeepTheirTextsAndFallBacks)
{
    kvn_log_write("Audio", log_level_warn, "direct");
    kvn_log_write(nullptr, log_level_info, nullptr);
    log_info("Render", "%d %s %.1f", 3, "four", 5.0);
    log_unfiltered("Engine", "%s", "");
    EXPECT_EQ(take_log(), (std::vector<logged_line>{{log_level_warn, "Audio", "direct"},
                                                    {log_level_info, "???", "(null)"},
                                                    {log_level_info, "Render", "3 four 5.0"},
                                                    {log_level_unfiltered, "Engine", ""}}));
    EXPECT_EQ(log_get_entries(), nullptr);  // taking empties the list
}

TEST_F(LogTest, NothingIsKeptOutsideTheLifetime)
{
    quiet_quit();
    log_error("Engine", "%s", unformattable);
    kvn_log_write("Engine", log_level_error, "after quit");
    EXPECT_TRUE(log_should_be_filtered("Engine", log_level_unfiltered));
    EXPECT_EQ(log_get_entries(), nullptr);
    ASSERT_TRUE(log_init());
    take_log();
    EXPECT_TRUE(take_log().empty());
}

TEST_F(LogTest, BeforeReadySpamIsStoppedButEverythingElseKept)
{
    log_spam("Engine", "%s", unformattable);
    log_debug("Engine", "debug");
    kvn_log_write("Engine", log_level_spam, "raw spam");  // the raw writer keeps everything until ready
    EXPECT_EQ(messages(take_log()), (std::vector<std::string>{"debug", "raw spam"}));
}

struct threshold_case {
    const char *word;
    std::vector<std::string> kept;
};

TEST_F(LogTest, LevelThresholds)
{
    const std::vector<threshold_case> cases = {
        {"spam", {"spam", "debug", "info", "warn", "error", "unfiltered"}},
        {"debug", {"debug", "info", "warn", "error", "unfiltered"}},
        {"warn", {"warn", "error", "unfiltered"}},
        {"ERROR", {"error", "unfiltered"}},
        {"unfiltered", {"unfiltered"}},
        {"nothing", {}},
    };
    for (const threshold_case &c : cases) {
        restart();
        cvar_set("log.level", c.word);
        log_info("Engine", "before ready");  // removed by log_ready unless info passes
        ready();
        log_spam("Engine", "spam");
        log_debug("Engine", "debug");
        log_info("Engine", "info");
        log_warn("Engine", "warn");
        log_error("Engine", "error");
        log_unfiltered("Engine", "unfiltered");

        std::vector<std::string> expected = c.kept;
        if (std::find(expected.begin(), expected.end(), "info") != expected.end()) {
            expected.insert(expected.begin(), "before ready");
        }
        EXPECT_EQ(messages(take_log()), expected) << "log.level " << c.word;
    }

    // Filtered levels return before formatting.
    log_info("Engine", "%s", unformattable);
    log_unfiltered("Engine", "%s", unformattable);
    EXPECT_TRUE(log_should_be_filtered("Engine", log_level_unfiltered));
}

TEST_F(LogTest, LevelFromPendingCvarAndThenLocked)
{
    cvar_set("log.level", "spam");  // as --set log.level spam does before log_ready
    ready();
    EXPECT_TRUE(cvar_islocked("log.level"));
    EXPECT_TRUE(cvar_islocked("log.filename"));
    EXPECT_TRUE(cvar_islocked("log.filter_subsystems"));
    EXPECT_FALSE(cvar_islocked("log.timing"));
    EXPECT_FALSE(cvar_set("log.level", "error"));
    log_spam("Engine", "visible");
    std::vector<std::string> got = messages(take_log());
    EXPECT_NE(std::find(got.begin(), got.end(), "visible"), got.end());
}

TEST_F(LogTest, UnknownLevelWordFallsBackToTheBuildDefault)
{
    cvar_set("log.level", "loud");
    ready();
    log_debug("Engine", "still debug");
    const std::vector<logged_line> lines = take_log();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        logged_line{log_level_error, "Engine", "Cvar log.level value 'loud' is unknown. Defaulting to 'debug'."}),
              lines.end());
    EXPECT_EQ(lines.back().message, "still debug");
}

TEST_F(LogTest, ProductionBuildDefaultsToInfoAndNoStdout)
{
    // A plain global that outlives the registry: put it back whatever happens.
    std::unique_ptr<int32_t, void (*)(int32_t *)> restore(&cvar_game_metadata_deployment,
                                                           [](int32_t *flag) { *flag = 0; });
    cvar_quit();  // drop the fixture's pending log.stdout to see the default
    ASSERT_TRUE(register_metadata_cvars());
    ASSERT_TRUE(metadata_force_on("game_metadata.deployment"));
    ready();
    EXPECT_STREQ(*cvar_get_string("log.level"), "info");
    EXPECT_EQ(*cvar_get_bool("log.stdout"), 0);
    log_debug("Engine", "%s", unformattable);
    log_info("Engine", "info");
    EXPECT_EQ(messages(take_log()), std::vector<std::string>{"info"});
}

TEST_F(LogTest, FilteredSubsystemsAreCaseInsensitiveAndTrimmed)
{
    log_info("engine", "early engine");  // kept until log_ready, then removed
    log_info("Audio", "early audio");
    cvar_set("log.filter_subsystems", " engine , Render,,  ");
    ready();
    EXPECT_EQ(messages(take_log()), std::vector<std::string>{"early audio"});

    log_info("Engine", "%s", unformattable);
    log_error("RENDER", "%s", unformattable);
    log_spam("render", "%s", unformattable);
    kvn_log_write("ENGINE", log_level_error, "raw");
    log_multiline("Render", log_level_error, "a\nb\n");
    log_info("Audio", "audio");
    log_info("Engine2", "near miss");
    EXPECT_EQ(messages(take_log()), (std::vector<std::string>{"audio", "near miss"}));
    EXPECT_TRUE(log_should_be_filtered("eNgInE", log_level_error));
    EXPECT_FALSE(log_should_be_filtered("Audio", log_level_error));
}

TEST_F(LogTest, ReadyRemovesEarlyEntriesThatAreNowFiltered)
{
    log_info("Engine", "engine info");
    log_info("Audio", "audio info");
    log_warn("Audio", "audio warn");
    cvar_set("log.filter_subsystems", "Engine");
    cvar_set("log.level", "warn");
    ready();
    EXPECT_EQ(messages(take_log()), std::vector<std::string>{"audio warn"});
}

TEST_F(LogTest, LimitedCallSiteLogsThirtyTimesThenANote)
{
    ready();
    take_log();
    uint32_t counter = 0;
    for (int i = 1; i <= 40; i++) {
        log_limited(&counter, "HTTP", log_level_warn, "repeat %d", i);
    }
    const std::vector<logged_line> lines = take_log();
    ASSERT_EQ(lines.size(), 31u);
    for (int i = 0; i < 30; i++) {
        EXPECT_EQ(lines[i], (logged_line{log_level_warn, "HTTP", "repeat " + std::to_string(i + 1)}));
    }
    EXPECT_EQ(lines[30],
              (logged_line{log_level_warn, "HTTP", "(Too many logs entries like this, not logging it again.)"}));

    // Another call site has its own counter; filtered calls still count.
    uint32_t quiet = 0;
    for (int i = 0; i < 40; i++) {
        log_limited(&quiet, "HTTP", log_level_spam, "%s", unformattable);
    }
    EXPECT_TRUE(take_log().empty());
    log_limited(&quiet, "HTTP", log_level_error, "too late");
    EXPECT_TRUE(take_log().empty());
}

TEST_F(LogTest, MultilineSplitsAtNewlines)
{
    ready();
    take_log();
    const std::vector<std::pair<const char *, std::vector<std::string>>> cases = {
        {"a\nb\n", {"a", "b"}},
        {"\n", {""}},
        {"", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"one", {"one"}},
        {"a\r\nb", {"a\r", "b"}},
    };
    for (const auto &[text, expected] : cases) {
        log_multiline("Engine", log_level_info, text);
        const std::vector<logged_line> lines = take_log();
        EXPECT_EQ(messages(lines), expected) << "text \"" << text << "\"";
        for (const logged_line &line : lines) {
            EXPECT_EQ(line.level, log_level_info);
            EXPECT_EQ(line.subsystem, "Engine");
        }
    }
    log_multiline("Engine", log_level_info, nullptr);
    log_multiline("Engine", log_level_spam, "dropped\n");
    EXPECT_TRUE(take_log().empty());
}

TEST_F(LogTest, ErrorHelpersAppendTheLibraryErrorText)
{
    SDL_SetError("device %s", "lost");
    log_sdl_error("Render", log_level_error, "Renderer failed %d", 2);
    SDL_ClearError();
    log_sdl_error("Render", log_level_warn, "Nothing wrong");
    // Start-up reports a failed PHYSFS_init through this helper: it must work
    // without a live PhysicsFS.
    log_physfs_error("Engine", log_level_error, "Before init");
    {
        kvn_test::PhysfsSession session;
        ASSERT_TRUE(session.ok()) << session.error();
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
        log_physfs_error("Engine", log_level_error, "Open '%s'", "a.txt");
    }
    const std::string physfs_text = PHYSFS_getErrorByCode(PHYSFS_ERR_NOT_FOUND);
    EXPECT_EQ(take_log(), (std::vector<logged_line>{{log_level_error, "Render", "Renderer failed 2 (device lost)"},
                                                    {log_level_warn, "Render", "Nothing wrong (no error)"},
                                                    {log_level_error, "Engine", "Before init (no error)"},
                                                    {log_level_error, "Engine", "Open 'a.txt' (" + physfs_text + ")"}}));
}

struct format_case {
    bool level_char, timing, subsystem;
    int32_t level;
    uint32_t ticks;
    const char *expected;
};

TEST_F(LogTest, FormatLineFollowsTheFlags)
{
    ready();
    const std::vector<format_case> cases = {
        {true, true, true, log_level_warn, 12500, "# 000012 [Render] hello"},
        {true, false, false, log_level_spam, 12500, ". hello"},
        {false, true, false, log_level_debug, 999, "000000 hello"},
        {false, false, true, log_level_info, 0, "[Render] hello"},
        {false, false, false, log_level_error, 0, "hello"},
        {true, true, false, log_level_unfiltered, 1234567890, "* 1234567 hello"},
        {true, false, false, log_level_error, 0, "! hello"},
        {true, false, false, 57, 0, "? hello"},
    };
    for (const format_case &c : cases) {
        ASSERT_TRUE(cvar_set("log.level_char", c.level_char ? "true" : "false"));
        ASSERT_TRUE(cvar_set("log.timing", c.timing ? "true" : "false"));
        ASSERT_TRUE(cvar_set("log.subsystem", c.subsystem ? "true" : "false"));
        log_entry entry = {c.level, c.ticks, "Render", "hello", nullptr};
        char *line = log_format_line(&entry);
        ASSERT_NE(line, nullptr);
        EXPECT_STREQ(line, c.expected);
        SDL_free(line);
    }
    EXPECT_STREQ(log_level_char(log_level_nothing), "?");
}

// Captures what the process writes to file descriptor 1.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        saved_ = dup(1);
        file_ = std::tmpfile();
        dup2(fileno(file_), 1);
    }
    std::string finish()
    {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        std::string text;
        std::rewind(file_);
        char buffer[512];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof(buffer), file_)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(file_);
        return text;
    }

private:
    int saved_ = -1;
    std::FILE *file_ = nullptr;
};

TEST_F(LogTest, PublishToStdoutWithAndWithoutColour)
{
    ready();
    ASSERT_TRUE(cvar_set("log.stdout", "true"));
    ASSERT_TRUE(cvar_set("log.timing", "false"));
    log_entry second = {57, 0, "X", "odd level", nullptr};
    log_entry first = {log_level_warn, 0, "Render", "careful", &second};

    ASSERT_TRUE(cvar_set("log.stdout_color", "true"));
    StdoutCapture coloured;
    log_publish(&first);
    EXPECT_EQ(coloured.finish(), "\33[93m# [Render] careful\33[m\n? [X] odd level\n");

    ASSERT_TRUE(cvar_set("log.stdout_color", "false"));
    StdoutCapture plain;
    log_publish(&first);
    EXPECT_EQ(plain.finish(), "# [Render] careful\n? [X] odd level\n");

    ASSERT_TRUE(cvar_set("log.stdout", "false"));
    StdoutCapture silent;
    log_publish(&first);
    EXPECT_EQ(silent.finish(), "");
}

TEST_F(LogTest, ConcurrentWritersLoseNothingAndKeepTheirOrder)
{
    ready();
    take_log();
    constexpr int thread_count = 4;
    constexpr int per_thread = 500;
    std::vector<logged_line> drained;
    std::atomic<int> finished{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < thread_count; t++) {
        writers.emplace_back([t, &finished] {
            uint32_t counter = 0;
            for (int i = 0; i < per_thread; i++) {
                log_info("Thread", "%d %d", t, i);
                log_limited(&counter, "Thread", log_level_info, "limited %d", t);
            }
            finished++;
        });
    }
    // Take the list while the writers run, as the simulation thread does.
    while (finished.load() < thread_count) {
        std::vector<logged_line> part = take_log();
        drained.insert(drained.end(), part.begin(), part.end());
        std::this_thread::yield();
    }
    for (std::thread &writer : writers) {
        writer.join();
    }
    std::vector<logged_line> rest = take_log();
    drained.insert(drained.end(), rest.begin(), rest.end());

    int next[thread_count] = {};
    int limited[thread_count] = {};
    int notes = 0;
    for (const logged_line &line : drained) {
        int t = -1, i = -1;
        if (std::sscanf(line.message.c_str(), "limited %d", &t) == 1) {
            limited[t]++;
        } else if (line.message.rfind("(Too many", 0) == 0) {
            notes++;
        } else {
            ASSERT_EQ(std::sscanf(line.message.c_str(), "%d %d", &t, &i), 2) << line.message;
            EXPECT_EQ(i, next[t]) << "thread " << t;
            next[t] = i + 1;
        }
    }
    for (int t = 0; t < thread_count; t++) {
        EXPECT_EQ(next[t], per_thread);
        EXPECT_EQ(limited[t], 30);
    }
    EXPECT_EQ(notes, thread_count);
}

class LogFileTest : public LogTest {
protected:
    void SetUp() override
    {
        dir_.mkdir("logs");
        session_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{dir_.path()}, dir_.path());
        ASSERT_TRUE(session_->ok()) << session_->error();
        LogTest::SetUp();
    }
    void TearDown() override
    {
        LogTest::TearDown();
        session_.reset();
    }
    // Publishes what is waiting, as a tick would.
    static void publish()
    {
        log_entry *entries = log_get_entries();
        log_publish(entries);
        log_free_entries(entries);
    }

    kvn_test::TempDir dir_;
    std::unique_ptr<kvn_test::PhysfsSession> session_;
};

TEST_F(LogFileTest, DefaultNameComesFromTheGameId)
{
    ASSERT_TRUE(register_metadata_cvars());
    ASSERT_TRUE(cvar_set("log.timing", "false"));  // pending: the lines become predictable
    ready();
    EXPECT_STREQ(*cvar_get_string("log.filename"), "hello-SDL.log");
    log_info("Engine", "first line");
    publish();
    log_warn("Render", "second line");
    log_quit();
    ASSERT_TRUE(log_init());  // TearDown's log_quit needs a live log

    EXPECT_EQ(kvn_test::read_os_file(dir_.file("logs/hello-SDL.log")),
              "- [Engine] first line\n# [Render] second line\n* [Engine] Logging shutting down\n");
}

TEST_F(LogFileTest, NamesWithAndWithoutSlash)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"game.log", "logs/game.log"},
        {"custom/run.log", "custom/run.log"},
    };
    dir_.mkdir("custom");
    for (const auto &[name, where] : cases) {
        restart();
        cvar_set("log.filename", name.c_str());
        ready();
        log_info("Engine", "into %s", name.c_str());
        publish();
        log_quit();
        ASSERT_TRUE(log_init());
        EXPECT_NE(kvn_test::read_os_file(dir_.file(where)).find("into " + name), std::string::npos) << where;
    }
    EXPECT_FALSE(kvn_test::os_file_exists(dir_.file("game.log")));
}

TEST_F(LogFileTest, OpenFailureIsLoggedAndLoggingGoesOn)
{
    cvar_set("log.filename", "no_such_dir/x.log");
    ready();
    log_info("Engine", "still here");
    std::vector<std::string> got = messages(take_log());
    ASSERT_GE(got.size(), 3u);
    const std::vector<std::string> tail(got.end() - 3, got.end());
    EXPECT_EQ(tail[0].rfind("Failed to open logfile 'no_such_dir/x.log' (", 0), 0u) << tail[0];
    EXPECT_EQ(tail[1], "Continuing on without log file, hoping this log info is going elsewhere, too.");
    EXPECT_EQ(tail[2], "still here");
}

TEST_F(LogFileTest, EmergencyQuitMakesTheFileBeforeClosing)
{
    cvar_set("log.filename", "crash.log");
    log_error("Engine", "fatal thing");
    log_emergency_quit();
    ASSERT_TRUE(log_init());

    const std::string text = kvn_test::read_os_file(dir_.file("logs/crash.log"));
    EXPECT_NE(text.find("[Engine] fatal thing\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Engine] Logging shutting down\n"), std::string::npos) << text;
}

}  // namespace
