// File-system fixtures for tests: unique temporary directories with files in
// them, ZIP archives built from a directory with the `zip` tool, executables
// with an archive appended, and a PhysicsFS session that is deinitialised when
// it goes out of scope.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvn_test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on
// destruction. path() has no trailing slash.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + relative.
    std::string file(std::string_view relative) const;
    // Writes the bytes to relative (parent directories created); returns the
    // full path. Aborts the test program's current test with a failure on error.
    std::string write(std::string_view relative, std::string_view contents) const;
    std::string mkdir(std::string_view relative) const;

private:
    std::string path_;
};

// Whole-file read of an operating-system path; empty when it cannot be read.
std::string read_os_file(const std::string &path);
bool os_file_exists(const std::string &path);

// Builds a ZIP archive at zip_path holding the contents of directory (paths
// inside the archive relative to directory). Returns false when zip fails.
bool make_zip(const std::string &directory, const std::string &zip_path);

// Writes a copy of program with the bytes of archive appended, executable.
bool append_archive(const std::string &program, const std::string &archive,
                    const std::string &out_path);

// Runs a shell command line; returns its exit status (-1 when it did not exit).
int run_shell(const std::string &command_line);

// PhysicsFS with SDL's allocator, the given mounts in search order (element 0
// is searched first) and an optional write directory (not mounted unless it
// is in the list). Deinitialises PhysicsFS on destruction.
class PhysfsSession {
public:
    explicit PhysfsSession(const std::vector<std::string> &search_path = {},
                           const std::string &write_dir = {});
    ~PhysfsSession();
    PhysfsSession(const PhysfsSession &) = delete;
    PhysfsSession &operator=(const PhysfsSession &) = delete;

    // True when init, every mount and the write directory succeeded.
    bool ok() const { return error_.empty(); }
    // What failed, with the PhysicsFS error text.
    const std::string &error() const { return error_; }

private:
    std::string error_;
    bool initialised_ = false;
};

// Sets an environment variable for the lifetime of the object and restores
// the old value (or its absence) afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// Single-quotes text for /bin/sh.
std::string shell_quote(std::string_view text);

} // namespace kvn_test
