// FFI::MRB, FFI::Compiler, FFI::CPtr and Array#value.
#include "ffi_fixture.h"

#include <mruby/data.h>
#include <mruby/variable.h>

#include <regex>

#include "bindings/kvn.h"

namespace ffi_test {
namespace {

using MrbTest = FfiTest;

TEST_F(MrbTest, EvalRunsAtTopLevelAndDropsTheValue)
{
    EXPECT_EQ(eval("FFI::MRB.new.eval('def from_eval(x); x * 2; end; $seen = self.to_s; 42')"), "nil");
    EXPECT_EQ(eval("[from_eval(21), $seen]"), "[42, \"main\"]");
}

TEST_F(MrbTest, EvalPassesExceptionsToTheCaller)
{
    EXPECT_EQ(eval("begin; FFI::MRB.new.eval('raise ArgumentError, \"inner\"'); :no; "
                   "rescue ArgumentError => e; [e.message, :rescued]; end"),
              "[\"inner\", :rescued]");
    Outcome out = run("FFI::MRB.new.eval('1 +')");
    EXPECT_TRUE(out.raised);
    EXPECT_EQ(out.error_class, "SyntaxError");
    EXPECT_EQ(out.message.rfind("line 1", 0), 0u) << out.message;
    // The interpreter goes on normally afterwards.
    EXPECT_EQ(eval("FFI::MRB.new.eval('$after = 1'); $after"), "1");
}

// The report of FFI::MRB#parse for code held in $code.
std::string parse_report(mrb_state *mrb, const std::string &code)
{
    mrb_gv_set(mrb, mrb_intern_lit(mrb, "$code"), mrb_str_new(mrb, code.data(), code.size()));
    mrb_value report = mrb_load_string(mrb, "FFI::MRB.new.parse($code)");
    EXPECT_EQ(mrb->exc, nullptr);
    mrb->exc = nullptr;
    return mrb_string_p(report) ? std::string(RSTRING_PTR(report), RSTRING_LEN(report)) : "(not a String)";
}

std::vector<std::string> report_lines(const std::string &report)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = report.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(report.substr(start, end - start + 1));
    }
    EXPECT_EQ(start, report.size()) << "the report ends with a line feed";
    return lines;
}

TEST_F(MrbTest, ParseReportsSyntaxWithoutRunning)
{
    EXPECT_EQ(parse_report(mrb_, "$ran = 1 + 2"), "Syntax OK");
    EXPECT_EQ(eval("$ran"), "nil");

    const std::regex line_form(R"(line \d+:\d+: .+\n)");
    std::vector<std::string> lines = report_lines(parse_report(mrb_, "(1 + "));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("line 1:", 0), 0u) << lines[0];
    for (const std::string &line : lines) EXPECT_TRUE(std::regex_match(line, line_form)) << line;
}

TEST_F(MrbTest, DumpCodegenPrintsTheListingAndRunsNothing)
{
    testing::internal::CaptureStdout();
    Outcome out = run("FFI::Compiler.new.dump_codegen('$dumped = 1 + 2')");
    std::string listing = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(out.raised) << out.message;
    EXPECT_EQ(out.inspect, "nil");
    EXPECT_NE(listing.find("irep"), std::string::npos) << listing;
    EXPECT_NE(listing.find("$dumped"), std::string::npos) << listing;
    EXPECT_EQ(eval("$dumped"), "nil");

    testing::internal::CaptureStdout();
    Outcome broken = run("FFI::Compiler.new.dump_codegen('1 +')");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(broken.error_class, "SyntaxError");
}

TEST_F(MrbTest, ArrayValueCountsFromTheEndAndIsNilOutside)
{
    EXPECT_EQ(eval("a = [1, 2, 3]; [a.value(0), a.value(2), a.value(-1), a.value(-3), a.value(3), a.value(-4)]"),
              "[1, 3, 3, 1, nil, nil]");
    EXPECT_EQ(eval("[].value(0)"), "nil");
}

TEST_F(MrbTest, CptrHoldsAPointerItNeverOwns)
{
    EXPECT_EQ(eval("FFI::CPtr.new.class"), "FFI::CPtr");
    mrb_value made = mrb_load_string(mrb_, "FFI::CPtr.new");
    ASSERT_TRUE(mrb_data_p(made));
    EXPECT_EQ(DATA_PTR(made), nullptr);
    EXPECT_STREQ(DATA_TYPE(made)->struct_name, "CPtr");

    int record = 7;
    mrb_value wrapped = ffi_cptr_new(mrb_, &record);
    ASSERT_TRUE(mrb_data_p(wrapped));
    EXPECT_EQ(DATA_PTR(wrapped), &record);
    EXPECT_EQ(mrb_obj_class(mrb_, wrapped), ffi_context.cptr_class);
    int other = 8;
    ffi_cptr_set(made, &other);
    EXPECT_EQ(DATA_PTR(made), &other);
    // Collecting the objects frees nothing of what they point at.
    mrb_full_gc(mrb_);
    EXPECT_EQ(record, 7);
    // Values that are not native data objects are left alone.
    ffi_cptr_set(mrb_fixnum_value(3), &other);
}

}  // namespace
}  // namespace ffi_test
