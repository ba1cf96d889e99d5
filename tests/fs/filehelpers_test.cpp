#include "fs/filehelpers.h"

#include "support/fs_fixture.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <physfs.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

using kvn_test::PhysfsSession;
using kvn_test::read_os_file;
using kvn_test::TempDir;

namespace {

struct SdlText {
    char *text;
    ~SdlText() { SDL_free(text); }
};

// A game directory under a write directory that is searched first, as in a
// production build.
class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = std::make_unique<PhysfsSession>(
            std::vector<std::string>{write_dir.path(), game.path()}, write_dir.path());
        ASSERT_TRUE(session->ok()) << session->error();
    }

    TempDir game;
    TempDir write_dir;
    std::unique_ptr<PhysfsSession> session;
};

TEST_F(FileHelpers, LoadfileReturnsTheWholeFileWithAnUncountedZero)
{
    const struct {
        const char *name;
        std::string contents;
    } cases[] = {
        {"empty.txt", ""},
        {"hello.txt", "hello\n"},
        {"sub/dir/binary.bin", std::string("a\0b\0\xff", 5)},
        {"big.txt", std::string(100000, 'x')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        game.write(c.name, c.contents);
        size_t length = 12345;
        SdlText loaded{loadfile(c.name, &length)};
        ASSERT_NE(loaded.text, nullptr);
        EXPECT_EQ(length, c.contents.size());
        EXPECT_EQ(std::string(loaded.text, length), c.contents);
        EXPECT_EQ(loaded.text[length], '\0');
    }
    // The length is optional.
    SdlText loaded{loadfile("hello.txt", nullptr)};
    EXPECT_STREQ(loaded.text, "hello\n");
}

TEST_F(FileHelpers, LoadfileFailsForMissingFilesAndDirectories)
{
    game.mkdir("folder");
    for (const char *path : {"missing.txt", "folder", "folder/missing.txt"}) {
        SCOPED_TRACE(path);
        size_t length = 99;
        EXPECT_EQ(loadfile(path, &length), nullptr);
        EXPECT_EQ(length, 0u);
    }
    size_t length = 99;
    EXPECT_EQ(loadfile(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(FileHelpers, StorefileCreatesParentsAndReplacesTheFile)
{
    EXPECT_EQ(storefile("top.txt", "top", 3), 1);
    EXPECT_EQ(read_os_file(write_dir.file("top.txt")), "top");

    EXPECT_EQ(storefile("a/b/c.txt", "nested", 6), 1);
    EXPECT_EQ(read_os_file(write_dir.file("a/b/c.txt")), "nested");

    // A shorter second write leaves nothing of the first behind.
    EXPECT_EQ(storefile("a/b/c.txt", "new", 3), 1);
    EXPECT_EQ(read_os_file(write_dir.file("a/b/c.txt")), "new");

    // Length zero creates an empty file (the data pointer is not used).
    EXPECT_EQ(storefile("empty/zero.txt", nullptr, 0), 1);
    ASSERT_TRUE(kvn_test::os_file_exists(write_dir.file("empty/zero.txt")));
    EXPECT_EQ(read_os_file(write_dir.file("empty/zero.txt")), "");

    // Written files are visible through the search path at once.
    SdlText loaded{loadfile("a/b/c.txt", nullptr)};
    EXPECT_STREQ(loaded.text, "new");
}

TEST_F(FileHelpers, AppendfileCreatesAMissingFileThenAppends)
{
    EXPECT_EQ(appendfile("logs/game.log", "one\n", 4), 1);
    EXPECT_EQ(appendfile("logs/game.log", "two\n", 4), 1);
    EXPECT_EQ(appendfile("logs/game.log", nullptr, 0), 1);
    EXPECT_EQ(read_os_file(write_dir.file("logs/game.log")), "one\ntwo\n");

    EXPECT_EQ(appendfile("logs/empty.log", nullptr, 0), 1);
    EXPECT_TRUE(kvn_test::os_file_exists(write_dir.file("logs/empty.log")));
}

TEST_F(FileHelpers, WritersFailWhenTheFileCannotBeCreated)
{
    // A parent that is a regular file cannot become a directory.
    write_dir.write("blocker", "x");
    EXPECT_EQ(storefile("blocker/file.txt", "data", 4), 0);
    EXPECT_EQ(appendfile("blocker/file.txt", "data", 4), 0);
    // Data missing for a nonzero length.
    EXPECT_EQ(storefile("fine.txt", nullptr, 4), 0);

    ASSERT_TRUE(PHYSFS_setWriteDir(nullptr));
    EXPECT_EQ(storefile("nowhere.txt", "data", 4), 0);
    EXPECT_EQ(appendfile("nowhere.txt", "data", 4), 0);
}

TEST_F(FileHelpers, LastmodtimeAndPathExists)
{
    const std::string file = game.write("dated.txt", "x");
    utimbuf times{1000000000, 1234567890};
    ASSERT_EQ(utime(file.c_str(), &times), 0);
    EXPECT_EQ(lastmodtime("dated.txt"), 1234567890);
    EXPECT_EQ(lastmodtime("missing.txt"), -1);
    EXPECT_EQ(lastmodtime(nullptr), -1);

    game.mkdir("metadata");
    const struct {
        const char *path;
        int exists;
    } cases[] = {
        {"dated.txt", 1}, {"metadata", 1}, {"missing.txt", 0}, {"metadata/missing.txt", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(path_exists(c.path), c.exists);
    }
    EXPECT_EQ(path_exists(nullptr), 0);
}

TEST_F(FileHelpers, SplitTextfileBreaksAtCrLfAndCrLfPairs)
{
    const struct {
        const char *name;
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"empty", "", {""}},
        {"no break", "abc", {"abc"}},
        {"lf", "a\nb", {"a", "b"}},
        {"trailing lf", "a\nb\n", {"a", "b", ""}},
        {"cr", "a\rb\r", {"a", "b", ""}},
        {"crlf is one break", "a\r\nb\r\n", {"a", "b", ""}},
        {"mixed", "a\r\nb\n", {"a", "b", ""}},
        {"lf cr is two breaks", "a\n\rb", {"a", "", "b"}},
        {"cr cr lf", "a\r\r\nb", {"a", "", "b"}},
        {"blank lines", "\n\n", {"", "", ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        game.write("split.txt", c.text);
        unsigned count = 999;
        char **lines = split_textfile_into_lines("split.txt", &count);
        ASSERT_NE(lines, nullptr);
        ASSERT_EQ(count, c.lines.size());
        for (unsigned i = 0; i < count; ++i) {
            EXPECT_EQ(lines[i], c.lines[i]) << "line " << i;
        }
        EXPECT_EQ(lines[count], nullptr);
        free_split_textfile(lines);
    }
}

TEST_F(FileHelpers, SplitTextfileGrowsForManyLinesAndFailsForMissingFiles)
{
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "line" + std::to_string(i) + "\r\n";
    }
    game.write("many.txt", text);
    unsigned count = 0;
    char **lines = split_textfile_into_lines("many.txt", &count);
    ASSERT_NE(lines, nullptr);
    ASSERT_EQ(count, 1001u);
    EXPECT_STREQ(lines[0], "line0");
    EXPECT_STREQ(lines[999], "line999");
    EXPECT_STREQ(lines[1000], "");
    EXPECT_EQ(lines[1001], nullptr);
    free_split_textfile(lines);

    count = 7;
    EXPECT_EQ(split_textfile_into_lines("missing.txt", &count), nullptr);
    EXPECT_EQ(count, 0u);
    free_split_textfile(nullptr);
}

TEST(SplitKeyValue, Table)
{
    const struct {
        const char *line;
        int result;
        const char *key;   // null: no key expected
        const char *value;
    } cases[] = {
        {"name=value", 1, "name", "value"},
        {"  \t renderer.vsync  =  false \t ", 1, "renderer.vsync", "false"},
        {"url = a=b = c ", 1, "url", "a=b = c"},
        {"key=", 1, "key", ""},
        {"key =   ", 1, "key", ""},
        {"inner space key = v", 1, "inner space key", "v"},
        {"=value", 0, nullptr, nullptr},
        {"   = value", 0, nullptr, nullptr},
        {"no equals sign", 0, nullptr, nullptr},
        {"# comment = ignored", 1, nullptr, nullptr},
        {"  ; also a comment", 1, nullptr, nullptr},
        {"", 1, nullptr, nullptr},
        {" \t  ", 1, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::string buffer = c.line;
        char *key = reinterpret_cast<char *>(1);
        char *value = reinterpret_cast<char *>(1);
        EXPECT_EQ(split_key_value_string(buffer.data(), &key, &value), c.result);
        if (c.key) {
            ASSERT_NE(key, nullptr);
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(key, c.key);
            EXPECT_STREQ(value, c.value);
        } else {
            EXPECT_EQ(key, nullptr);
            EXPECT_EQ(value, nullptr);
        }
    }
}

// The two writers that bypass PhysicsFS work without it.
TEST(WriteOverride, CreatesDirectoriesStoresAndAppends)
{
    TempDir root;
    const std::string base = root.file("saves/deeper");

    EXPECT_EQ(storefile_write_override(base.c_str(), "slot/1/state.txt", "first", 5), 1);
    EXPECT_EQ(read_os_file(base + "/slot/1/state.txt"), "first");
    EXPECT_EQ(storefile_write_override(base.c_str(), "slot/1/state.txt", "2nd", 3), 1);
    EXPECT_EQ(read_os_file(base + "/slot/1/state.txt"), "2nd");

    EXPECT_EQ(appendfile_write_override(base.c_str(), "log.txt", "a", 1), 1);
    EXPECT_EQ(appendfile_write_override(base.c_str(), "log.txt", "b", 1), 1);
    EXPECT_EQ(read_os_file(base + "/log.txt"), "ab");

    EXPECT_EQ(storefile_write_override(base.c_str(), "zero.txt", nullptr, 0), 1);
    EXPECT_TRUE(kvn_test::os_file_exists(base + "/zero.txt"));

    // New levels are private to the user.
    struct stat info = {};
    ASSERT_EQ(stat((base + "/slot").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(WriteOverride, FailsWhenAPathLevelIsAFile)
{
    TempDir root;
    root.write("file", "x");
    EXPECT_EQ(storefile_write_override(root.path().c_str(), "file/inner.txt", "d", 1), 0);
    EXPECT_EQ(appendfile_write_override(root.path().c_str(), "file/inner.txt", "d", 1), 0);
    EXPECT_EQ(storefile_write_override(nullptr, "x.txt", "d", 1), 0);

    // With PhysicsFS running, the failed levels leave an error code behind
    // instead of crashing on PhysicsFS's allocator.
    PhysfsSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    EXPECT_EQ(storefile_write_override(root.path().c_str(), "file/inner.txt", "d", 1), 0);
    EXPECT_NE(PHYSFS_getLastErrorCode(), PHYSFS_ERR_OK);
}

} // namespace
