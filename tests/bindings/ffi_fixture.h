// Shared fixture of the FFI binding tests: a real interpreter with the FFI module
// defined, PhysicsFS over a temporary game directory (also the write directory), a
// separate temporary base directory, and helpers that run Ruby source and report
// its value or the exception it raised.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <memory>
#include <string>
#include <vector>

#include "bindings/ffi.h"
#include "engine/game_context.h"
#include "log/log.h"
#include "support/fs_fixture.h"

namespace ffi_test {

struct Outcome {
    bool raised = false;
    std::string error_class;   // when raised
    std::string message;       // when raised
    std::string inspect;       // value's inspect text otherwise
};

struct LogLine {
    int level;
    std::string subsystem, message;
};

// Entries written since the last drain.
inline std::vector<LogLine> drain_log()
{
    std::vector<LogLine> lines;
    log_entry *entries = log_get_entries();
    for (const log_entry *e = entries; e; e = e->next) lines.push_back({e->level, e->subsystem, e->message});
    log_free_entries(entries);
    return lines;
}

class FfiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static bool log_started = false;
        if (!log_started) {
            log_started = log_init() != 0;
        }
    }

    void SetUp() override
    {
        game_dir_.mkdir("app");
        physfs_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{game_dir_.path()},
                                                            game_dir_.path());
        ASSERT_TRUE(physfs_->ok()) << physfs_->error();
        mrb_ = mrb_open();
        ASSERT_NE(mrb_, nullptr);
        game_record_ = {};
        game_record_.mrb = mrb_;
        before_ffi_init();
        ffi_init(&game_record_, render_context_for_test());
        ASSERT_EQ(mrb_->exc, nullptr);
        SDL_free(ffi_context.base_directory);
        ffi_context.base_directory = SDL_strdup(base_dir_.path().c_str());
        saved_game_directory_ = game_directory;
        game_directory = SDL_strdup(game_dir_.path().c_str());
        drain_log();
    }

    void TearDown() override
    {
        SDL_free(game_directory);
        game_directory = saved_game_directory_;
        ffi_quit();
        if (mrb_) mrb_close(mrb_);
        physfs_.reset();
        drain_log();
    }

    // Hooks for fixtures that need more before ffi_init.
    virtual void before_ffi_init() {}
    virtual render_context *render_context_for_test() { return nullptr; }

    // Runs Ruby source at top level.
    Outcome run(const std::string &source)
    {
        Outcome out;
        int arena = mrb_gc_arena_save(mrb_);
        mrb_value value = mrb_load_nstring(mrb_, source.data(), source.size());
        if (mrb_->exc) {
            mrb_value exception = mrb_obj_value(mrb_->exc);
            mrb_->exc = nullptr;
            out.raised = true;
            out.error_class = mrb_obj_classname(mrb_, exception);
            mrb_value message = mrb_funcall(mrb_, exception, "message", 0);
            if (mrb_string_p(message)) out.message.assign(RSTRING_PTR(message), RSTRING_LEN(message));
        } else {
            mrb_value text = mrb_inspect(mrb_, value);
            out.inspect.assign(RSTRING_PTR(text), RSTRING_LEN(text));
        }
        mrb_gc_arena_restore(mrb_, arena);
        return out;
    }

    // The inspect text of the source's value; a raise fails the test.
    std::string eval(const std::string &source)
    {
        Outcome out = run(source);
        EXPECT_FALSE(out.raised) << source << " raised " << out.error_class << ": " << out.message;
        return out.inspect;
    }

    mrb_state *mrb_ = nullptr;
    game_context game_record_{};
    kvn_test::TempDir game_dir_;
    kvn_test::TempDir base_dir_;
    std::unique_ptr<kvn_test::PhysfsSession> physfs_;

private:
    char *saved_game_directory_ = nullptr;
};

}  // namespace ffi_test
