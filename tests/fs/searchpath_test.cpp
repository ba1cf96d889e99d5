#include "fs/searchpath.h"

#include "fs/filehelpers.h"
#include "support/fs_fixture.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <physfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using kvn_test::PhysfsSession;
using kvn_test::ScopedEnv;
using kvn_test::TempDir;

namespace {

constexpr const char *child_variable = "KORVANE_SEARCHPATH_CHILD";
constexpr const char *child_file = "from_archive.txt";
constexpr const char *child_text = "inside the running executable";

std::string loaded_text(const char *path)
{
    size_t length = 0;
    char *text = loadfile(path, &length);
    if (!text) {
        return "<unreadable>";
    }
    std::string result(text, length);
    SDL_free(text);
    return result;
}

std::string running_executable()
{
    return std::filesystem::canonical("/proc/self/exe").string();
}

// A copy of /bin/true with a ZIP of `files` appended: a stand-in for a
// shipped game that is one executable.
std::string make_fake_executable(const TempDir &dir,
                                 const std::vector<std::pair<std::string, std::string>> &files)
{
    TempDir content;
    for (const auto &[name, text] : files) {
        content.write(name, text);
    }
    const std::string zip = dir.file("payload.zip");
    EXPECT_TRUE(kvn_test::make_zip(content.path(), zip));
    const std::string program = dir.file("game-executable");
    EXPECT_TRUE(kvn_test::append_archive("/bin/true", zip, program));
    return program;
}

// Started by BareArgv0MountsTheRunningFile: this program, copied with an
// archive appended and launched through PATH under a bare name, checks that
// it finds its own archive, then exits before any test runs.
int run_as_child()
{
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string argv0;
    std::getline(cmdline, argv0, '\0');
    if (argv0.empty() || argv0.find('/') != std::string::npos) {
        return 2; // not launched the way the test meant
    }
    if (!searchpath_set_allocator() || !searchpath_init(argv0.c_str())) {
        return 3;
    }
    int status = 0;
    if (!searchpath_mount_executable(argv0.c_str())) {
        status = 4;
    } else if (loaded_text(child_file) != child_text) {
        status = 5;
    }
    PHYSFS_deinit();
    return status;
}

[[maybe_unused]] const bool child_ran = [] {
    if (std::getenv(child_variable)) {
        std::exit(run_as_child());
    }
    return false;
}();

TEST(SearchPath, UsesSdlAllocatorAndReleasesEverythingOnDeinit)
{
    struct DeinitOnExit {
        ~DeinitOnExit()
        {
            if (PHYSFS_isInit()) {
                PHYSFS_deinit();
            }
        }
    } guard;
    TempDir dir;
    const int before = SDL_GetNumAllocations();
    ASSERT_EQ(searchpath_set_allocator(), 1);
    ASSERT_EQ(searchpath_init("korvane"), 1);
    ASSERT_EQ(searchpath_mount(dir.path().c_str()), 1);
    EXPECT_GT(SDL_GetNumAllocations(), before);
    ASSERT_TRUE(PHYSFS_deinit());
    EXPECT_EQ(SDL_GetNumAllocations(), before);
}

TEST(SearchPath, ExecutablePathNamesTheRunningFileWhateverArgv0Says)
{
    const std::string expected = running_executable();
    for (const char *argv0 : {"korvane_fs_tests", "korvane", "not/a/real/path", "/bin/true",
                              static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(argv0 ? argv0 : "(null)");
        const char *path = searchpath_executable_path(argv0);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::string(path), expected);
    }
}

TEST(SearchPath, PlainExecutableHasNoArchive)
{
    PhysfsSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    // This test program carries no archive: mounting it fails, which start-up
    // ignores.
    EXPECT_EQ(searchpath_mount_executable("korvane_fs_tests"), 0);
    EXPECT_EQ(searchpath_mount(nullptr), 0);
}

TEST(SearchPath, ArchiveAppendedToAnExecutableMountsAndTheProgramStillRuns)
{
    TempDir dir;
    const std::string program = make_fake_executable(
        dir, {{"app/main.rb", "def tick args; end\n"}, {"sprites/a.txt", "sprite"}});
    EXPECT_EQ(kvn_test::run_shell(kvn_test::shell_quote(program)), 0);

    PhysfsSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_EQ(searchpath_mount(program.c_str()), 1);
    EXPECT_EQ(loaded_text("app/main.rb"), "def tick args; end\n");
    EXPECT_EQ(loaded_text("sprites/a.txt"), "sprite");
    EXPECT_EQ(path_exists("app"), 1);
}

TEST(SearchPath, BareArgv0MountsTheRunningFile)
{
    TempDir dir;
    TempDir content;
    content.write(child_file, child_text);
    const std::string zip = dir.file("payload.zip");
    ASSERT_TRUE(kvn_test::make_zip(content.path(), zip));
    const std::string name = "korvane-bare-name";
    ASSERT_TRUE(kvn_test::append_archive(running_executable(), zip, dir.file(name)));

    // The shell finds the program through PATH and passes the bare name as
    // argv[0]; the working directory is elsewhere so argv[0] names nothing.
    const std::string command = "cd / && PATH=" + kvn_test::shell_quote(dir.path()) +
                                ":\"$PATH\" " + child_variable + "=1 " + name;
    EXPECT_EQ(kvn_test::run_shell(command), 0)
        << "2: argv[0] was not bare, 3: init failed, 4: mount failed, 5: wrong contents";
}

// Search order after start-up: write directory, game directory, base
// directory, the executable's archive.
TEST(SearchPath, LaterMountsShadowEarlierOnes)
{
    TempDir dir;
    TempDir base;
    TempDir game;
    TempDir data_home;
    ScopedEnv xdg("XDG_DATA_HOME", data_home.path());

    const std::string program = make_fake_executable(
        dir, {{"a.txt", "exe"}, {"b.txt", "exe"}, {"c.txt", "exe"}, {"d.txt", "exe"}});
    for (const char *name : {"a.txt", "b.txt", "c.txt"}) {
        base.write(name, "base");
    }
    for (const char *name : {"a.txt", "b.txt"}) {
        game.write(name, "game");
    }

    PhysfsSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    ASSERT_EQ(searchpath_mount(program.c_str()), 1);
    ASSERT_EQ(searchpath_mount(base.path().c_str()), 1);
    ASSERT_EQ(searchpath_mount(game.path().c_str()), 1);
    int stage = -1;
    char *write_dir = nullptr;
    ASSERT_EQ(searchpath_set_write_dir(1, "Dev Studio", "Some Game", base.path().c_str(),
                                       &stage, &write_dir),
              1);
    SDL_free(write_dir);
    ASSERT_EQ(storefile("a.txt", "write", 5), 1);

    const struct {
        const char *path;
        const char *from;
    } cases[] = {{"a.txt", "write"}, {"b.txt", "game"}, {"c.txt", "base"}, {"d.txt", "exe"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(loaded_text(c.path), c.from);
    }
}

class WriteDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = std::make_unique<PhysfsSession>();
        ASSERT_TRUE(session->ok()) << session->error();
        ASSERT_EQ(searchpath_mount(base.path().c_str()), 1);
        ASSERT_EQ(searchpath_mount(game.path().c_str()), 1);
    }

    static std::vector<std::string> search_path()
    {
        std::vector<std::string> result;
        char **list = PHYSFS_getSearchPath();
        for (char **entry = list; entry && *entry; ++entry) {
            result.emplace_back(*entry);
        }
        PHYSFS_freeList(list);
        return result;
    }

    TempDir base;
    TempDir game;
    TempDir data_home;
    ScopedEnv xdg{"XDG_DATA_HOME", data_home.path()};
    std::unique_ptr<PhysfsSession> session;
};

TEST_F(WriteDir, ProductionUsesThePreferenceDirectoryAndSearchesItFirst)
{
    game.write("user_cvars.txt", "from the game");

    int stage = -1;
    char *dir = nullptr;
    ASSERT_EQ(searchpath_set_write_dir(1, "Dev Studio", "Some Game", base.path().c_str(),
                                       &stage, &dir),
              1);
    ASSERT_NE(dir, nullptr);
    const std::string write_dir = dir;
    SDL_free(dir);

    EXPECT_EQ(write_dir.rfind(data_home.path() + "/", 0), 0u) << write_dir;
    EXPECT_NE(write_dir.find("Some Game"), std::string::npos) << write_dir;
    EXPECT_TRUE(std::filesystem::is_directory(write_dir));
    EXPECT_STREQ(PHYSFS_getWriteDir(), write_dir.c_str());
    const auto path = search_path();
    ASSERT_EQ(path.size(), 3u);
    EXPECT_EQ(path[0], write_dir);

    // A file the player saved shadows the game's file of the same name.
    ASSERT_EQ(storefile("user_cvars.txt", "from the player", 15), 1);
    EXPECT_EQ(loaded_text("user_cvars.txt"), "from the player");
    EXPECT_EQ(kvn_test::read_os_file(game.file("user_cvars.txt")), "from the game");
}

TEST_F(WriteDir, DevelopmentWritesBesideTheExecutableWithoutASecondMount)
{
    const std::string base_copy = base.path(); // same text, another pointer
    for (const char *base_text : {base.path().c_str(), base_copy.c_str()}) {
        int stage = -1;
        char *dir = nullptr;
        ASSERT_EQ(searchpath_set_write_dir(0, "Dev Studio", "Some Game", base_text, &stage, &dir),
                  1);
        ASSERT_NE(dir, nullptr);
        EXPECT_EQ(std::string(dir), base.path());
        SDL_free(dir);
        EXPECT_EQ(search_path().size(), 2u);
    }
    EXPECT_STREQ(PHYSFS_getWriteDir(), base.path().c_str());
    ASSERT_EQ(storefile("logs/game.log", "line", 4), 1);
    EXPECT_EQ(kvn_test::read_os_file(base.file("logs/game.log")), "line");
    // Nothing was created under the per-user data directory.
    EXPECT_TRUE(std::filesystem::is_empty(data_home.path()));
}

TEST_F(WriteDir, FailuresNameTheStage)
{
    // A write directory that does not exist cannot be set.
    int stage = -1;
    char *dir = nullptr;
    const std::string missing = base.file("missing");
    EXPECT_EQ(searchpath_set_write_dir(0, "D", "G", missing.c_str(), &stage, &dir), 0);
    EXPECT_EQ(stage, 1);
    SDL_free(dir);

    // No preference directory when the data home is a regular file.
    const std::string blocker = data_home.write("not-a-directory", "x");
    ScopedEnv bad_home("XDG_DATA_HOME", blocker);
    stage = -1;
    dir = nullptr;
    EXPECT_EQ(searchpath_set_write_dir(1, "D", "G", base.path().c_str(), &stage, &dir), 0);
    EXPECT_EQ(stage, 2);
    EXPECT_EQ(dir, nullptr);
    EXPECT_EQ(search_path().size(), 2u);

    // The out pointers are optional.
    EXPECT_EQ(searchpath_set_write_dir(0, nullptr, nullptr, base.path().c_str(), nullptr, nullptr),
              1);
}

} // namespace
