// FFI::File against real PhysicsFS on temporary directories: host-file writes under
// the game and base directories, reads back through the virtual file system,
// listing, stat, delete, mount and image loading.
#include "ffi_fixture.h"

#include <physfs.h>

#include "render/image.h"

namespace ffi_test {
namespace {

class FileTest : public FfiTest {
protected:
    std::string file(const std::string &call) { return eval("FFI::File.new." + call); }
};

TEST_F(FileTest, WriteCreatesParentsAndAppendAddsToTheSameFile)
{
    EXPECT_EQ(file("write('a/b/c.txt', 'x')"), "true");
    EXPECT_EQ(kvn_test::read_os_file(game_dir_.file("a/b/c.txt")), "x");
    EXPECT_EQ(file("append('a/b/c.txt', 'x')"), "true");
    EXPECT_EQ(kvn_test::read_os_file(game_dir_.file("a/b/c.txt")), "xx");
    // The game directory is in the search path: the same file reads back.
    EXPECT_EQ(file("read('a/b/c.txt')"), "\"xx\"");
    EXPECT_EQ(file("path_exists('a/b/c.txt')"), "true");
    EXPECT_EQ(file("path_exists('a/b')"), "true");
}

TEST_F(FileTest, AppendCreatesAMissingFile)
{
    EXPECT_EQ(file("append('log/new.txt', 'first')"), "true");
    EXPECT_EQ(kvn_test::read_os_file(game_dir_.file("log/new.txt")), "first");
}

TEST_F(FileTest, EmptyWriteCreatesAnEmptyFile)
{
    EXPECT_EQ(file("write('empty.txt', '')"), "true");
    ASSERT_TRUE(kvn_test::os_file_exists(game_dir_.file("empty.txt")));
    EXPECT_EQ(kvn_test::read_os_file(game_dir_.file("empty.txt")), "");
    EXPECT_EQ(file("read('empty.txt')"), "\"\"");
}

TEST_F(FileTest, ReadIsByteExact)
{
    // Zero bytes, high bytes and line ends survive both directions.
    EXPECT_EQ(eval("d = \"a\\0b\\xFF\\r\\n\"; f = FFI::File.new; f.write('bin.dat', d); r = f.read('bin.dat'); "
                   "[r == d, r.bytesize]"),
              "[true, 6]");
    EXPECT_EQ(kvn_test::read_os_file(game_dir_.file("bin.dat")), std::string("a\0b\xFF\r\n", 6));
}

TEST_F(FileTest, RootWritesGoUnderTheBaseDirectory)
{
    EXPECT_EQ(file("write_root('logs/history.txt', 'one')"), "true");
    EXPECT_EQ(file("append_root('logs/history.txt', '+two')"), "true");
    EXPECT_EQ(kvn_test::read_os_file(base_dir_.file("logs/history.txt")), "one+two");
    EXPECT_FALSE(kvn_test::os_file_exists(game_dir_.file("logs/history.txt")));
}

// Host-file writes stay inside their directory: ".." parts and absolute paths
// are refused, and nothing is created outside.
TEST_F(FileTest, WritesThatWouldLeaveTheirDirectoryAnswerFalse)
{
    for (const char *call : {"write('../escaped/x.txt', 'x')", "append('a/../../escaped.txt', 'x')",
                             "write_root('../escaped_root.txt', 'x')", "write('/tmp/kvn_escaped.txt', 'x')"}) {
        EXPECT_EQ(file(call), "false") << call;
    }
    EXPECT_FALSE(kvn_test::os_file_exists(game_dir_.file("../escaped/x.txt")));
    EXPECT_FALSE(kvn_test::os_file_exists("/tmp/kvn_escaped.txt"));
    EXPECT_EQ(file("write('dots..name/x..y.txt', 'x')"), "true");  // ".." inside a name is fine
}

TEST_F(FileTest, FailedWritesAnswerFalse)
{
    game_dir_.write("blocker", "a file, not a directory");
    EXPECT_EQ(file("write('blocker/x.txt', 'x')"), "false");
    EXPECT_EQ(file("append('blocker/x.txt', 'x')"), "false");
    // No game directory at all.
    SDL_free(game_directory);
    game_directory = nullptr;
    EXPECT_EQ(file("write('x.txt', 'x')"), "false");
    EXPECT_EQ(file("get_game_dir"), "\"\"");
}

TEST_F(FileTest, MissingFilesReadAsNilAndMinusOne)
{
    EXPECT_EQ(file("read('nope.txt')"), "nil");
    EXPECT_EQ(file("mtime('nope.txt')"), "-1");
    EXPECT_EQ(file("path_exists('nope.txt')"), "false");
    EXPECT_EQ(file("stat('nope.txt')"), "nil");
    EXPECT_EQ(file("load_image('nope.png')"), "nil");
    EXPECT_EQ(file("list('nope')"), "[]");
}

TEST_F(FileTest, MtimeIsTheFilesModificationTime)
{
    game_dir_.write("m.txt", "m");
    EXPECT_EQ(eval("(FFI::File.new.mtime('m.txt') - Time.now.to_i).abs < 120"), "true");
}

TEST_F(FileTest, DirectoryStrings)
{
    EXPECT_EQ(file("get_game_dir"), "\"" + game_dir_.path() + "\"");
    EXPECT_EQ(file("get_base_dir"), "\"" + base_dir_.path() + "\"");
}

TEST_F(FileTest, ListNamesTheEntriesOfADirectory)
{
    game_dir_.write("lst/a.txt", "a");
    game_dir_.write("lst/b.txt", "b");
    game_dir_.mkdir("lst/sub");
    EXPECT_EQ(file("list('lst').sort"), "[\"a.txt\", \"b.txt\", \"sub\"]");
    game_dir_.mkdir("hollow");
    EXPECT_EQ(file("list('hollow')"), "[]");
}

TEST_F(FileTest, StatDescribesFilesAndDirectories)
{
    game_dir_.write("st/file.txt", "hello");
    EXPECT_EQ(eval("p = 'st/file.txt'; s = FFI::File.new.stat(p); "
                   "[s.keys, s[:path].equal?(p), s[:file_size], s[:readonly], s[:file_type], "
                   "s[:mod_time] > 0, s[:access_time].is_a?(Integer), s[:create_time].is_a?(Integer)]"),
              "[[:path, :file_size, :mod_time, :create_time, :access_time, :readonly, :file_type], true, 5, "
              "false, :regular, true, true, true]");
    EXPECT_EQ(file("stat('st')[:file_type]"), ":directory");
}

TEST_F(FileTest, DeleteRemovesAFileFromTheWriteDirectory)
{
    game_dir_.write("del.txt", "bye");
    EXPECT_EQ(file("delete('del.txt')"), "nil");
    EXPECT_FALSE(kvn_test::os_file_exists(game_dir_.file("del.txt")));
}

TEST_F(FileTest, DeleteFailuresRaiseWithThePhysfsErrorName)
{
    game_dir_.write("full/inside.txt", "x");
    struct Case {
        const char *path;
        bool unset_write_dir;
        const char *message;
    };
    const Case cases[] = {
        {"missing.txt", false, "Error occurred in delete_file: PHYSFS_ERR_NOT_FOUND"},
        {"full", false, "Error occurred in delete_file: PHYSFS_ERR_DIR_NOT_EMPTY"},
        {"full/inside.txt", true, "Error occurred in delete_file: PHYSFS_ERR_NO_WRITE_DIR"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        if (c.unset_write_dir) {
            ASSERT_TRUE(PHYSFS_setWriteDir(nullptr));
        }
        Outcome out = run(std::string("FFI::File.new.delete('") + c.path + "')");
        EXPECT_TRUE(out.raised);
        EXPECT_EQ(out.error_class, "RuntimeError");
        EXPECT_EQ(out.message, c.message);
    }
    EXPECT_TRUE(kvn_test::os_file_exists(game_dir_.file("full/inside.txt")));
}

TEST_F(FileTest, MountPutsADirectoryOrArchiveInFrontOfTheSearchPath)
{
    kvn_test::TempDir extra;
    extra.write("shadow.txt", "from the mount");
    game_dir_.write("shadow.txt", "from the game");
    EXPECT_EQ(file("mount('" + extra.path() + "')"), "nil");
    EXPECT_EQ(file("read('" + extra.path() + "/shadow.txt')"), "\"from the mount\"");

    kvn_test::TempDir packed;
    packed.write("inzip/data.txt", "zipped");
    const std::string zip = extra.file("pack.zip");
    ASSERT_TRUE(kvn_test::make_zip(packed.path(), zip));
    EXPECT_EQ(file("mount('" + zip + "')"), "nil");
    EXPECT_EQ(file("read('" + zip + "/inzip/data.txt')"), "\"zipped\"");
}

TEST_F(FileTest, MountOfAnEmptyStringIsAnInvalidArgument)
{
    PHYSFS_getLastErrorCode();  // clear
    EXPECT_EQ(file("mount('')"), "nil");
    EXPECT_EQ(PHYSFS_getLastErrorCode(), PHYSFS_ERR_INVALID_ARGUMENT);
    // A path that does not exist is logged, not raised.
    EXPECT_EQ(file("mount('" + game_dir_.file("no/such/dir") + "')"), "nil");
    bool logged = false;
    for (const LogLine &line : drain_log()) logged |= line.message.find("no/such/dir") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(FileTest, LoadImageGivesPixelsWidthAndHeight)
{
    // Two pixels, RGBA bytes: opaque red and a half-transparent dark one.
    const uint8_t rgba[] = {255, 0, 0, 255, 1, 2, 3, 128};
    size_t size = 0;
    uint8_t *png = encode_png(rgba, 2, 1, 0, 0, &size);
    ASSERT_NE(png, nullptr);
    game_dir_.write("sprites/two.png", std::string(reinterpret_cast<char *>(png), size));
    SDL_free(png);
    game_dir_.write("sprites/bad.png", "not an image at all");

    EXPECT_EQ(file("load_image('sprites/two.png')"),
              "[[" + std::to_string(0xFF0000FFu) + ", " + std::to_string(0x80030201u) + "], 2, 1]");
    EXPECT_EQ(file("load_image('sprites/bad.png')"), "nil");
}

}  // namespace
}  // namespace ffi_test
