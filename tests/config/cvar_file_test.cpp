#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "config_fixture.h"
#include "support/fs_fixture.h"

namespace {

class CvarFileTest : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        session_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{dir_.path()});
        ASSERT_TRUE(session_->ok()) << session_->error();
    }
    void TearDown() override
    {
        ConfigTest::TearDown();
        session_.reset();
    }

    kvn_test::TempDir dir_;
    std::unique_ptr<kvn_test::PhysfsSession> session_;
};

// One line per case; the line endings vary by test parameter.
const std::vector<std::string> mixed_lines = {
    "  spaced.key \t=  a value = with equals  \t",  // 1
    "=starts.with.equals",                         // 2 invalid
    "no equals sign here",                         // 3 invalid
    "# comment = ignored",                         // 4
    "   ; also = ignored",                         // 5
    "",                                            // 6
    "   \t ",                                      // 7
    "empty.value =",                               // 8
    "registered.int = 12",                         // 9
    "locked.int = 99",                             // 10
    "  =  ",                                       // 11 invalid
    "registered.int = 13",                         // 12: the last line wins
};

std::string join(const std::vector<std::string> &lines, const std::string &ending)
{
    std::string text;
    for (const std::string &line : lines) {
        text += line + ending;
    }
    return text;
}

class CvarFileLineEndings : public CvarFileTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(CvarFileLineEndings, LinesAreSplitTrimmedAndNumberedAlike)
{
    dir_.write("cvars.txt", join(mixed_lines, GetParam()));
    int32_t registered = 0;
    int32_t locked = 5;
    ASSERT_TRUE(cvar_register_int("registered.int", "", &registered, 0));
    ASSERT_TRUE(cvar_register_int("locked.int", "", &locked, 5));
    ASSERT_TRUE(cvar_lock("locked.int"));
    take_log();

    ASSERT_TRUE(load_cvars_from_file("cvars.txt"));
    std::vector<logged_line> log = take_log();

    EXPECT_EQ(messages_at(log, log_level_warn),
              (std::vector<std::string>{"cvars.txt: invalid data on line 2, ignored",
                                        "cvars.txt: invalid data on line 3, ignored",
                                        "cvars.txt: invalid data on line 11, ignored"}));
    EXPECT_EQ(messages_at(log, log_level_error),
              std::vector<std::string>{"Refusing to set locked cvar 'locked.int' to '99'"});
    EXPECT_EQ(count_lines(log, log_level_debug, "Loading cvars from file 'cvars.txt' ..."), 1);
    EXPECT_EQ(count_lines(log, log_level_debug, "File 'cvars.txt' line 1 setting cvar 'spaced.key' to 'a value = with equals'"), 1);
    EXPECT_EQ(count_lines(log, log_level_debug, "File 'cvars.txt' complete"), 1);
    EXPECT_EQ(log.back().message, "File 'cvars.txt' complete");

    EXPECT_EQ(registered, 13);
    EXPECT_EQ(locked, 5);

    // Unknown keys became pending: registering them now picks the file's values.
    // (The registry's own slots: a local string variable would dangle at cvar_quit.)
    ASSERT_TRUE(cvar_register("spaced.key", cvar_type_string, "", nullptr, "default"));
    ASSERT_TRUE(cvar_register("empty.value", cvar_type_string, "", nullptr, "default"));
    EXPECT_STREQ(*cvar_get_string("spaced.key"), "a value = with equals");
    EXPECT_STREQ(*cvar_get_string("empty.value"), "");

    // Comment lines never reach cvar_set, not even as pending names.
    ASSERT_TRUE(cvar_register("# comment", cvar_type_string, "", nullptr, "untouched"));
    EXPECT_STREQ(*cvar_get_string("# comment"), "untouched");
}

INSTANTIATE_TEST_SUITE_P(Endings, CvarFileLineEndings, ::testing::Values("\n", "\r\n", "\r"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             const std::string ending = info.param;
                             return ending == "\n" ? std::string("LF") : ending == "\r\n" ? "CRLF" : "CR";
                         });

TEST_F(CvarFileTest, MissingFileIsSkippedSilently)
{
    EXPECT_FALSE(load_cvars_from_file("nothing_here.txt"));
    EXPECT_TRUE(take_log().empty());
}

TEST_F(CvarFileTest, LastLineWithoutNewlineCounts)
{
    dir_.write("user_cvars.txt", "a = 1\nb = 2");
    int32_t b = 0;
    ASSERT_TRUE(cvar_register_int("b", "", &b, 0));
    ASSERT_TRUE(load_cvars_from_file("user_cvars.txt"));
    EXPECT_EQ(b, 2);
}

}  // namespace
