#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "config/metadata.h"
#include "config_fixture.h"
#include "support/fs_fixture.h"

namespace {

const char *const metadata_names[] = {
    "game_metadata.devid",         "game_metadata.devtitle",       "game_metadata.gameid",
    "game_metadata.gametitle",     "game_metadata.version",        "game_metadata.icon",
    "game_metadata.readme",        "game_metadata.deployment",     "game_metadata.compile_ruby",
    "game_metadata.packageid",     "game_metadata.vrmode",         "game_metadata.hd",
    "game_metadata.allscreen",     "game_metadata.hd_letterbox",   "game_metadata.hd_max_scale",
    "game_metadata.allscreen_max_scale", "game_metadata.scale_quality", "game_metadata.highdpi",
    "game_metadata.orientation",   "game_metadata.sprites_directory", "game_metadata.remote_hotload",
    "game_metadata.ignore_directories",
};

const std::string required =
    "devid=mycompany\n"
    "devtitle=My Company\n"
    "gameid=mygame\n"
    "gametitle=My Game\n"
    "version=2.1\n";

class MetadataTest : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        session_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{dir_.path()}, dir_.path());
        ASSERT_TRUE(session_->ok()) << session_->error();
        ASSERT_TRUE(register_metadata_cvars());
        take_log();
    }
    void TearDown() override
    {
        ConfigTest::TearDown();
        session_.reset();
    }
    int load(const std::string &contents)
    {
        dir_.write("metadata/game_metadata.txt", contents);
        return load_metadata("metadata/game_metadata.txt");
    }

    kvn_test::TempDir dir_;
    std::unique_ptr<kvn_test::PhysfsSession> session_;
};

TEST_F(MetadataTest, RegistrationGivesLockedDefaults)
{
    for (const char *name : metadata_names) {
        EXPECT_TRUE(cvar_islocked(name)) << name;
    }
    EXPECT_STREQ(cvar_game_metadata_devid, "korvane");
    EXPECT_STREQ(cvar_game_metadata_devtitle, "Korvane Works");
    EXPECT_STREQ(cvar_game_metadata_gameid, "hello-SDL");
    EXPECT_STREQ(cvar_game_metadata_icon, "metadata/icon.png");
    EXPECT_STREQ(cvar_game_metadata_readme, "");
    EXPECT_STREQ(cvar_game_metadata_orientation, "landscape");
    EXPECT_EQ(cvar_game_metadata_hd_letterbox, 1);
    EXPECT_EQ(cvar_game_metadata_allscreen_max_scale, 100);
    EXPECT_EQ(cvar_get_bool("game_metadata.hd"), &cvar_game_metadata_hd);
    EXPECT_EQ(cvar_get_int("game_metadata.vrmode"), &cvar_game_metadata_vrmode);
    int type = 0;
    const char *description = nullptr;
    cvar_get("game_metadata.deployment", &type, &description);
    EXPECT_EQ(type, cvar_type_bool);
    EXPECT_STREQ(description, "True if this is a production build");
}

TEST_F(MetadataTest, FullFileSetsCvarsDerivesPackageIdAndLocksAgain)
{
    ASSERT_TRUE(load("# my game\n"
                     "DevID = mycompany\n"
                     "devtitle=My Company\n"
                     "GaMeId=mygame\n"
                     "gametitle = My Game = Deluxe\n"
                     "version=2.1\n"
                     "\n"
                     "hd=true\n"
                     "vrmode=2\n"
                     "orientation=portrait\n"
                     "allscreen_max_scale=250\n"));
    EXPECT_STREQ(cvar_game_metadata_devid, "mycompany");
    EXPECT_STREQ(cvar_game_metadata_gameid, "mygame");
    EXPECT_STREQ(cvar_game_metadata_gametitle, "My Game = Deluxe");
    EXPECT_STREQ(cvar_game_metadata_version, "2.1");
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.mycompany.mygame");
    EXPECT_STREQ(cvar_game_metadata_orientation, "portrait");
    EXPECT_EQ(cvar_game_metadata_hd, 1);
    EXPECT_EQ(cvar_game_metadata_vrmode, 2);
    EXPECT_EQ(cvar_game_metadata_allscreen_max_scale, 250);
    EXPECT_TRUE(messages_at(take_log(), log_level_warn).empty());

    for (const char *name : metadata_names) {
        EXPECT_TRUE(cvar_islocked(name)) << name;
        EXPECT_FALSE(cvar_set(name, "1")) << name;
    }
    EXPECT_EQ(count_lines(take_log(), log_level_error, "Refusing to set locked cvar 'game_metadata.gameid' to '1'"), 1);
    EXPECT_STREQ(cvar_game_metadata_gameid, "mygame");
}

TEST_F(MetadataTest, GivenPackageIdIsKept)
{
    ASSERT_TRUE(load(required + "packageid=com.example.game\n"));
    EXPECT_STREQ(cvar_game_metadata_packageid, "com.example.game");
}

TEST_F(MetadataTest, BoolKeysFollowCvarParsing)
{
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"0", 0}, {"yes", 0}, {"false", 0}, {"1", 1}, {"TRUE", 1},
    };
    for (const auto &[text, expected] : cases) {
        ASSERT_TRUE(load(required + "hd_letterbox=" + text + "\n"));
        EXPECT_EQ(cvar_game_metadata_hd_letterbox, expected) << "hd_letterbox=" << text;
    }
}

TEST_F(MetadataTest, UnknownAndInvalidLinesWarnAndAreSkipped)
{
    EXPECT_TRUE(load(required +
                     "deployment=true\n"       // 6: no file key
                     "remote_hotload=true\n"   // 7: no file key
                     "not a pair\n"            // 8
                     "itchiofoo=1\n"           // 9: not the store prefix
                     "steamy=1\n"));           // 10
    std::vector<logged_line> log = take_log();
    EXPECT_EQ(messages_at(log, log_level_warn),
              (std::vector<std::string>{"Unknown game metadata key 'deployment', ignoring",
                                        "Unknown game metadata key 'remote_hotload', ignoring",
                                        "Invalid metadata on line 8, ignored",
                                        "Unknown game metadata key 'itchiofoo', ignoring",
                                        "Unknown game metadata key 'steamy', ignoring"}));
    EXPECT_EQ(cvar_game_metadata_deployment, 0);
    EXPECT_EQ(cvar_game_metadata_remote_hotload, 0);
}

TEST_F(MetadataTest, MissingRequiredFieldsReportOnceAndKeepDefaults)
{
    const std::vector<std::string> files = {"", "devid=mycompany\ngameid=mygame\n", "# only a comment\n"};
    for (const std::string &contents : files) {
        EXPECT_FALSE(load(contents)) << contents;
        std::vector<logged_line> log = take_log();
        EXPECT_EQ(messages_at(log, log_level_error),
                  std::vector<std::string>{"Metadata file does not have all required fields!"})
            << contents;
        EXPECT_STREQ(cvar_game_metadata_gametitle,
                     "Update metadata/game_metadata.txt in your mygame directory to change this title.");
        EXPECT_STREQ(cvar_game_metadata_version, "1.0");
        EXPECT_TRUE(cvar_islocked("game_metadata.gametitle"));
    }
    // The package id is still derived from whatever devid and gameid ended up as.
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.korvane.hello-SDL");
}

TEST_F(MetadataTest, MissingFileKeepsEverythingSilently)
{
    EXPECT_FALSE(load_metadata("metadata/absent.txt"));
    EXPECT_TRUE(take_log().empty());
    EXPECT_STREQ(cvar_game_metadata_packageid, "");
    EXPECT_TRUE(cvar_islocked("game_metadata.packageid"));
}

TEST_F(MetadataTest, SecondLoadStartsFromDefaults)
{
    ASSERT_TRUE(load(required + "hd=true\nicon=sprites/icon.png\nvrmode=3\n"));
    ASSERT_TRUE(metadata_force_on("game_metadata.deployment"));
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.mycompany.mygame");

    ASSERT_TRUE(load("devid=other\ndevtitle=Other\ngameid=second\ngametitle=Second\nversion=1\n"));
    EXPECT_EQ(cvar_game_metadata_hd, 0);
    EXPECT_EQ(cvar_game_metadata_vrmode, 0);
    EXPECT_EQ(cvar_game_metadata_deployment, 0);
    EXPECT_STREQ(cvar_game_metadata_icon, "metadata/icon.png");
    // Derived anew, not left over from the first file.
    EXPECT_STREQ(cvar_game_metadata_packageid, "org.other.second");
}

TEST_F(MetadataTest, DuplicateKeyTakesTheLastLine)
{
    ASSERT_TRUE(load(required + "gameid=again\n"));
    EXPECT_STREQ(cvar_game_metadata_gameid, "again");
}

TEST_F(MetadataTest, ForceOnSetsAndRelocksMarkerCvars)
{
    ASSERT_TRUE(metadata_force_on("game_metadata.deployment"));
    ASSERT_TRUE(metadata_force_on("game_metadata.remote_hotload"));
    EXPECT_EQ(cvar_game_metadata_deployment, 1);
    EXPECT_EQ(cvar_game_metadata_remote_hotload, 1);
    EXPECT_TRUE(cvar_islocked("game_metadata.deployment"));
    EXPECT_TRUE(cvar_islocked("game_metadata.remote_hotload"));
    EXPECT_FALSE(metadata_force_on("game_metadata.unknown"));
}

using MetadataDeathTest = MetadataTest;

TEST_F(MetadataDeathTest, StorePublishingKeysEndTheProcess)
{
    // Fork-style death tests keep this test's directory, so the flushed log
    // file can be checked afterwards.
    GTEST_FLAG_SET(death_test_style, "fast");
    dir_.mkdir("logs");
    cvar_set("log.stdout", "false");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"steam.appid=123\n", "Steam publishing details in game_metadata.txt line 2!"},
        {"STEAM.AppId=123\n", "Steam publishing details in game_metadata.txt line 2!"},
        {"itchio.page=me/game\n", "itch.io publishing details in game_metadata.txt line 2!"},
        {"ItchIO.user=me\n", "itch.io publishing details in game_metadata.txt line 2!"},
    };
    for (const auto &[line, message] : cases) {
        dir_.write("metadata/game_metadata.txt", "gameid=dying\n" + line + "version=1\n");
        EXPECT_EXIT(load_metadata("metadata/game_metadata.txt"), ::testing::ExitedWithCode(1), "") << line;

        const std::string written = kvn_test::read_os_file(dir_.file("logs/dying.log"));
        EXPECT_NE(written.find(message), std::string::npos) << written;
        EXPECT_NE(written.find("Quitting now so you know to FIX THIS RIGHT NOW."), std::string::npos);
        EXPECT_NE(written.find("Logging shutting down"), std::string::npos);
    }
}

}  // namespace
