// End-to-end fixture: a private installation of the built engine (a copy of the
// executable in a temporary base directory, so logs and write directories stay
// apart per test), small game directories written by the test, and the options
// for running the engine against them.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fs_fixture.h"
#include "support/process.h"

namespace kvn_e2e {

constexpr int run_timeout_ms = 60000;

inline const char *default_metadata =
    "devid=e2edev\n"
    "devtitle=E2E Developer\n"
    "gameid=e2egame\n"
    "gametitle=E2E Game\n"
    "version=2.5\n";

// Prints every tick number, quits on tick 3 and says when the shutdown hook runs.
inline const char *quitting_game =
    "def tick args\n"
    "  puts \"e2e tick #{args.state.tick_count}\"\n"
    "  $kor.request_quit if args.state.tick_count == 3\n"
    "end\n"
    "def shutdown args\n"
    "  puts \"e2e shutdown hook\"\n"
    "end\n";

// Says once that it runs, then ticks until the process is told to stop.
inline const char *running_game =
    "def tick args\n"
    "  puts \"e2e running\" if args.state.tick_count == 1\n"
    "end\n"
    "def shutdown args\n"
    "  puts \"e2e shutdown hook\"\n"
    "end\n";

// A hard link when possible (instant), else a byte copy; keeps the mode.
inline bool install_file(const std::string &from, const std::string &to)
{
    if (link(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    std::string bytes = kvn_test::read_os_file(from);
    if (bytes.empty()) {
        return false;
    }
    FILE *out = fopen(to.c_str(), "wb");
    if (!out) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = fclose(out) == 0 && ok;
    struct stat info;
    return ok && stat(from.c_str(), &info) == 0 && chmod(to.c_str(), info.st_mode & 07777) == 0;
}

inline std::string directory_of(const std::string &path)
{
    return path.substr(0, path.find_last_of('/'));
}

class Installation {
public:
    Installation()
    {
        engine_ = root_.file("korvane");
        EXPECT_TRUE(install_file(KORVANE_EXECUTABLE, engine_)) << "cannot install " << KORVANE_EXECUTABLE;
        std::string font = directory_of(KORVANE_EXECUTABLE) + "/font.ttf";
        if (kvn_test::os_file_exists(font)) {
            install_file(font, root_.file("font.ttf"));
        }
        xdg_ = root_.mkdir("xdg");
        // SDL keeps a D-Bus connection buffer until exit whenever a session bus
        // is reachable; the sanitizer builds must not count that as ours.
        lsan_suppressions_ = root_.write("lsan.supp", "leak:libdbus-1.so\n");
    }

    const std::string &root() const { return root_.path(); }
    const std::string &engine() const { return engine_; }
    const std::string &xdg() const { return xdg_; }
    std::string file(const std::string &relative) const { return root_.file(relative); }
    std::string write(const std::string &relative, const std::string &text) const
    {
        return root_.write(relative, text);
    }

    // A game directory under the root with its metadata, main.rb and any extra
    // files (relative path, contents); returns its absolute path.
    std::string write_game(const std::string &name, const std::string &main_rb,
                           const std::vector<std::pair<std::string, std::string>> &extra = {},
                           const std::string &metadata = default_metadata) const
    {
        root_.write(name + "/metadata/game_metadata.txt", metadata);
        root_.write(name + "/app/main.rb", main_rb);
        for (const auto &[path, contents] : extra) {
            root_.write(name + "/" + path, contents);
        }
        return root_.file(name);
    }

    // Runs headless on the offscreen driver, with the per-user data directory
    // inside the root. The software renderer without framebuffer acceleration
    // keeps the GL driver out of the process: it is slower on a CPU-only machine
    // and leaks at exit, which the sanitizer builds would report.
    kvn_test::ProcessOptions options(const std::vector<std::string> &arguments) const
    {
        kvn_test::ProcessOptions options;
        options.program = engine_;
        options.args.push_back(engine_);
        options.args.insert(options.args.end(), arguments.begin(), arguments.end());
        options.env = {{"SDL_VIDEODRIVER", "offscreen"},
                       {"SDL_RENDER_DRIVER", "software"},
                       {"SDL_FRAMEBUFFER_ACCELERATION", "0"},
                       {"SDL_AUDIODRIVER", "dummy"},
                       {"XDG_DATA_HOME", xdg_},
                       {"LSAN_OPTIONS", "suppressions=" + lsan_suppressions_ + ":print_suppressions=0"}};
        options.cwd = root_.path();
        return options;
    }

private:
    kvn_test::TempDir root_;
    std::string engine_;
    std::string xdg_;
    std::string lsan_suppressions_;
};

// Text for failure messages: both streams of a run.
inline std::string describe(const kvn_test::ProcessResult &result)
{
    return "exit " + std::to_string(result.exit_status) + " signal " + std::to_string(result.term_signal) +
           (result.timed_out ? " (timed out)" : "") + "\n--- stdout\n" + result.out + "\n--- stderr\n" + result.err;
}

} // namespace kvn_e2e
