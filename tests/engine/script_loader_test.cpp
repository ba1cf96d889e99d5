// The native loader behind require: files taken from the runtime's reload list
// in order, run at top level, re-entered by nested loads, compiled images by
// extension, parse errors collected into one RuntimeError.
#include <gtest/gtest.h>

#include <SDL.h>
#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/string.h>

#include <string>
#include <vector>

#include "engine/script.h"
#include "support/fs_fixture.h"

namespace {

std::vector<std::string> platform_log;

void capture_log(void *, int, SDL_LogPriority, const char *message)
{
    platform_log.emplace_back(message);
}

// A stand-in for the framework side of the contract: the list the loader
// consumes and the completion call it makes.
constexpr const char *runtime_source = R"(
class KorRuntime
  attr_reader :reload_list, :completions
  def initialize
    @reload_list = []
    @completions = 0
  end
  def get_ruby_reload_list
    @reload_list
  end
  def reload_complete
    @completions += 1
  end
  def load_now *paths
    @reload_list.concat(paths)
    reload_requested_ruby_files_synchronously
  end
end
$rt = KorRuntime.new
$order = []
nil
)";

class Loader : public testing::Test {
protected:
    void SetUp() override
    {
        platform_log.clear();
        SDL_LogGetOutputFunction(&saved_function_, &saved_data_);
        SDL_LogSetOutputFunction(capture_log, nullptr);
        session_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{dir_.path()});
        ASSERT_TRUE(session_->ok()) << session_->error();
        mrb_ = mrb_open();
        ASSERT_NE(mrb_, nullptr);
        script_intern_symbols(mrb_);
        mrb_load_string(mrb_, "class KorRuntime; end");
        ASSERT_TRUE(script_define_runtime_methods(mrb_));
        ASSERT_EQ(eval(runtime_source), "");
    }

    void TearDown() override
    {
        if (mrb_) {
            mrb_close(mrb_);
        }
        session_.reset();
        SDL_LogSetOutputFunction(saved_function_, saved_data_);
    }

    // Runs code; the inspect text of its value, or "raised: " and the message.
    std::string eval(const std::string &code)
    {
        mrb_value value = mrb_load_string(mrb_, code.c_str());
        if (mrb_->exc) {
            mrb_value exception = mrb_obj_value(mrb_->exc);
            mrb_->exc = nullptr;
            mrb_value message = mrb_funcall(mrb_, exception, "message", 0);
            return "raised: " + std::string(RSTRING_PTR(message), RSTRING_LEN(message));
        }
        if (mrb_nil_p(value)) {
            return "";
        }
        mrb_value text = mrb_inspect(mrb_, value);
        return std::string(RSTRING_PTR(text), RSTRING_LEN(text));
    }

    kvn_test::TempDir dir_;
    std::unique_ptr<kvn_test::PhysfsSession> session_;
    mrb_state *mrb_ = nullptr;

private:
    SDL_LogOutputFunction saved_function_ = nullptr;
    void *saved_data_ = nullptr;
};

TEST_F(Loader, RunsQueuedFilesInOrderAtTopLevel)
{
    dir_.write("app/a.rb", "$order << :a\ndef defined_by_a; self; end\n");
    dir_.write("app/b.rb", "$order << :b\n");

    EXPECT_EQ(eval("$rt.load_now('app/a.rb', 'app/b.rb'); $order"), "[:a, :b]");
    EXPECT_EQ(eval("$rt.reload_list"), "[]");
    EXPECT_EQ(eval("$rt.completions"), "1");
    // Definitions land on Object with main as self, not on the runtime's class.
    EXPECT_EQ(eval("KorRuntime.instance_methods(false).include?(:defined_by_a)"), "false");
    EXPECT_EQ(eval("defined_by_a.equal?(self)"), "true");
}

TEST_F(Loader, NestedLoadRunsInsideTheOuterFile)
{
    dir_.write("app/outer.rb", "$order << :outer_start\n$rt.load_now('app/inner.rb')\n$order << :outer_end\n");
    dir_.write("app/inner.rb", "$order << :inner\n");

    EXPECT_EQ(eval("$rt.load_now('app/outer.rb'); $order"), "[:outer_start, :inner, :outer_end]");
    EXPECT_EQ(eval("$rt.completions"), "2");
}

TEST_F(Loader, UnreadableFilesAreSkippedAndAnEmptyListCompletesNothing)
{
    dir_.write("app/b.rb", "$order << :b\n");

    EXPECT_EQ(eval("$rt.load_now('app/missing.rb', 'app/b.rb'); $order"), "[:b]");
    EXPECT_EQ(eval("$rt.load_now; $rt.completions"), "1");
    EXPECT_TRUE(platform_log.empty());
}

TEST_F(Loader, ParseErrorsRaiseOneRuntimeErrorAndLeaveTheRestQueued)
{
    std::string source = "$order << :bad\ndef broken(\n  1 +\nend end\n";
    dir_.write("app/bad.rb", source);
    dir_.write("app/later.rb", "$order << :later\n");

    std::string raised = eval("$rt.load_now('app/bad.rb', 'app/later.rb')");

    EXPECT_EQ(raised.rfind("raised: line ", 0), 0u) << raised;
    EXPECT_NE(raised.find("syntax error"), std::string::npos) << raised;
    EXPECT_EQ(raised.back(), '\n') << "every error line ends with a newline";
    EXPECT_EQ(eval("[$order, $rt.reload_list, $rt.completions]"), "[[], [\"app/later.rb\"], 0]");
    ASSERT_EQ(platform_log.size(), 1u);
    // The platform log drops one final newline.
    EXPECT_EQ(platform_log[0], "* Failed to load/reload app/bad.rb\n" + source.substr(0, source.size() - 1));
}

TEST_F(Loader, ExceptionsOfALoadedFileReachTheCaller)
{
    dir_.write("app/raises.rb", "$order << :before\nraise ArgumentError, 'from the file'\n");

    EXPECT_EQ(eval("$rt.load_now('app/raises.rb')"), "raised: from the file");
    EXPECT_EQ(eval("$order"), "[:before]");
}

struct CompiledCase {
    const char *name;
    const char *path;
};

class CompiledImages : public Loader, public testing::WithParamInterface<CompiledCase> {};

TEST_P(CompiledImages, RunByExtensionIgnoringCase)
{
    dir_.write("app/src.rb", "$order << :compiled\ndef from_image; 42; end\n");
    std::string out = dir_.file(GetParam().path);
    ASSERT_EQ(kvn_test::run_shell("cd " + kvn_test::shell_quote(dir_.path()) + " && mrbc -o " +
                                  kvn_test::shell_quote(out) + " app/src.rb"),
              0);

    EXPECT_EQ(eval(std::string("$rt.load_now('") + GetParam().path + "'); [$order, from_image]"),
              "[[:compiled], 42]");
}

INSTANTIATE_TEST_SUITE_P(Extensions, CompiledImages,
                         testing::Values(CompiledCase{"Lower", "app/main.rbc"}, CompiledCase{"Upper", "app/MAIN.RBC"}),
                         [](const testing::TestParamInfo<CompiledCase> &info) { return std::string(info.param.name); });

TEST_F(Loader, CorruptImageRaisesInsteadOfRunning)
{
    dir_.write("app/bad.rbc", "RITE0300 this is not bytecode");
    std::string result = eval("$rt.load_now('app/bad.rbc'); $order");
    EXPECT_TRUE(result == "[]" || result.rfind("raised: ", 0) == 0) << result;
}

} // namespace
