#include "support/fs_fixture.h"

#include "fs/searchpath.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace kvn_test {

TempDir::TempDir()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvane-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
        return;
    }
    // Canonical, so comparisons with PhysicsFS's real directories hold.
    path_ = fs::canonical(buffer.data()).string();
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
}

std::string TempDir::file(std::string_view relative) const
{
    return path_ + "/" + std::string(relative);
}

std::string TempDir::write(std::string_view relative, std::string_view contents) const
{
    const std::string full = file(relative);
    std::error_code error;
    fs::create_directories(fs::path(full).parent_path(), error);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        ADD_FAILURE() << "could not write " << full;
    }
    return full;
}

std::string TempDir::mkdir(std::string_view relative) const
{
    const std::string full = file(relative);
    std::error_code error;
    fs::create_directories(full, error);
    if (error) {
        ADD_FAILURE() << "could not create " << full << ": " << error.message();
    }
    return full;
}

std::string read_os_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool os_file_exists(const std::string &path)
{
    std::error_code error;
    return fs::exists(path, error);
}

std::string shell_quote(std::string_view text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

int run_shell(const std::string &command_line)
{
    const int status = std::system(command_line.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool make_zip(const std::string &directory, const std::string &zip_path)
{
    std::error_code ignored;
    fs::remove(zip_path, ignored);
    // -X leaves out extra attributes; -r recurses; -q keeps the test log clean.
    const std::string command = "cd " + shell_quote(directory) + " && zip -q -r -X " +
                                shell_quote(zip_path) + " .";
    return run_shell(command) == 0;
}

bool append_archive(const std::string &program, const std::string &archive,
                    const std::string &out_path)
{
    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out << read_os_file(program) << read_os_file(archive);
    out.close();
    if (!out) {
        return false;
    }
    std::error_code error;
    fs::permissions(out_path, fs::perms::owner_all, fs::perm_options::add, error);
    return !error;
}

PhysfsSession::PhysfsSession(const std::vector<std::string> &search_path,
                             const std::string &write_dir)
{
    auto physfs_error = [] {
        return std::string(PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
    };
    if (PHYSFS_isInit()) {
        error_ = "PhysicsFS is already initialised (a previous session leaked)";
        return;
    }
    if (!searchpath_set_allocator()) {
        error_ = "set allocator: " + physfs_error();
        return;
    }
    if (!searchpath_init("korvane-test")) {
        error_ = "init: " + physfs_error();
        return;
    }
    initialised_ = true;
    for (const std::string &element : search_path) {
        if (!PHYSFS_mount(element.c_str(), nullptr, 1)) {
            error_ = "mount " + element + ": " + physfs_error();
            return;
        }
    }
    if (!write_dir.empty() && !PHYSFS_setWriteDir(write_dir.c_str())) {
        error_ = "write dir " + write_dir + ": " + physfs_error();
    }
}

PhysfsSession::~PhysfsSession()
{
    if (initialised_) {
        PHYSFS_deinit();
    }
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : name_(name)
{
    const char *old = std::getenv(name);
    had_old_ = old != nullptr;
    if (old) {
        old_ = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (had_old_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

} // namespace kvn_test
