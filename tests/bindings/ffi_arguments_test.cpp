// Bad input from scripts: every FFI method given arguments of the wrong type or
// number raises the interpreter's error with its fixed text, and the interpreter
// stays usable.
#include "ffi_fixture.h"

namespace ffi_test {
namespace {

struct BadCall {
    const char *call;
    const char *error_class;
    const char *message;
};

constexpr const char *no_string_int = "Integer cannot be converted to String";
constexpr const char *no_string_nil = "nil cannot be converted to String";
constexpr const char *no_string_sym = "Symbol cannot be converted to String";
constexpr const char *null_byte = "string contains null byte";
constexpr const char *given_0_of_1 = "wrong number of arguments (given 0, expected 1)";
constexpr const char *given_1_of_0 = "wrong number of arguments (given 1, expected 0)";

const BadCall bad_calls[] = {
    // FFI::File
    {"FFI::File.new.mtime(1)", "TypeError", no_string_int},
    {"FFI::File.new.mtime", "ArgumentError", given_0_of_1},
    {"FFI::File.new.path_exists(nil)", "TypeError", no_string_nil},
    {"FFI::File.new.read(:a)", "TypeError", no_string_sym},
    {"FFI::File.new.read(\"a\\0b\")", "ArgumentError", null_byte},
    {"FFI::File.new.read('a', 'b')", "ArgumentError", "wrong number of arguments (given 2, expected 1)"},
    {"FFI::File.new.write(1, 'x')", "TypeError", no_string_int},
    {"FFI::File.new.write('a.txt', 5)", "TypeError", no_string_int},
    {"FFI::File.new.write('a.txt')", "ArgumentError", "wrong number of arguments (given 1, expected 2)"},
    {"FFI::File.new.append('a.txt', nil)", "TypeError", no_string_nil},
    {"FFI::File.new.write_root([], 'x')", "TypeError", "Array cannot be converted to String"},
    {"FFI::File.new.append_root('a.txt', :x)", "TypeError", no_string_sym},
    {"FFI::File.new.get_base_dir(1)", "ArgumentError", given_1_of_0},
    {"FFI::File.new.get_game_dir(nil)", "ArgumentError", given_1_of_0},
    {"FFI::File.new.load_image(3.5)", "TypeError", "Float cannot be converted to String"},
    {"FFI::File.new.list(nil)", "TypeError", no_string_nil},
    {"FFI::File.new.delete(7)", "TypeError", no_string_int},
    {"FFI::File.new.stat(5)", "TypeError", no_string_int},
    {"FFI::File.new.stat(nil)", "TypeError", no_string_nil},
    {"FFI::File.new.stat(\"a\\0\")", "ArgumentError", null_byte},
    {"FFI::File.new.mount({})", "TypeError", "Hash cannot be converted to String"},
    {"FFI::File.new.mount", "ArgumentError", given_0_of_1},
    // FFI::Misc
    {"FFI::Misc.new.get_thermal_state(1)", "ArgumentError", given_1_of_0},
    {"FFI::Misc.new.calcstringbox(1, 0, 'font.ttf')", "TypeError", no_string_int},
    {"FFI::Misc.new.calcstringbox('a', 'big', 'font.ttf')", "TypeError", "String cannot be converted to Float"},
    {"FFI::Misc.new.calcstringbox('a', nil, 'font.ttf')", "TypeError", "can't convert nil into Float"},
    {"FFI::Misc.new.calcstringbox('a', 0, nil)", "TypeError", no_string_nil},
    {"FFI::Misc.new.calcstringbox('a', 0)", "ArgumentError", "wrong number of arguments (given 2, expected 3)"},
    {"FFI::Misc.new.calcspritebox(nil)", "TypeError", no_string_nil},
    {"FFI::Misc.new.getclipboard('x')", "ArgumentError", given_1_of_0},
    {"FFI::Misc.new.device_size(1)", "ArgumentError", given_1_of_0},
    {"FFI::Misc.new.log(1, 2, 'm')", "TypeError", no_string_int},
    {"FFI::Misc.new.log(nil, 'warn', 'm')", "TypeError", "String cannot be converted to Integer"},
    {"FFI::Misc.new.log(nil, nil, 'm')", "TypeError", "nil cannot be converted to Integer"},
    {"FFI::Misc.new.log(nil, 2, 3)", "TypeError", no_string_int},
    {"FFI::Misc.new.cvar_register('a', 'b', 'int')", "ArgumentError", "wrong number of arguments (given 3, expected 4)"},
    {"FFI::Misc.new.cvar_register('a', 'b', :int, '1')", "TypeError", no_string_sym},
    {"FFI::Misc.new.cvar_register('a', 'b', 'int', 1)", "TypeError", no_string_int},
    {"FFI::Misc.new.cvar_get(:a)", "TypeError", no_string_sym},
    {"FFI::Misc.new.cvar_set('a', 1)", "TypeError", no_string_int},
    {"FFI::Misc.new.cvar_set('a')", "ArgumentError", "wrong number of arguments (given 1, expected 2)"},
    {"FFI::Misc.new.cvar_islocked(nil)", "TypeError", no_string_nil},
    {"FFI::Misc.new.touch_enabled?(true)", "ArgumentError", given_1_of_0},
    {"FFI::Misc.new.get_locale(1)", "ArgumentError", given_1_of_0},
    {"FFI::Misc.new.android_get_sharedPreferences", "ArgumentError", given_0_of_1},
    {"FFI::Misc.new.ios_get_standardUserDefaults", "ArgumentError", given_0_of_1},
    {"FFI::Misc.new.request_quit_fatal(1, 2)", "ArgumentError", "wrong number of arguments (given 2, expected 1)"},
    // FFI::MRB, FFI::Compiler, FFI::CPtr, Array#value
    {"FFI::MRB.new.eval(1)", "TypeError", no_string_int},
    {"FFI::MRB.new.eval", "ArgumentError", given_0_of_1},
    {"FFI::MRB.new.parse(nil)", "TypeError", no_string_nil},
    {"FFI::Compiler.new.dump_codegen(:code)", "TypeError", no_string_sym},
    {"FFI::CPtr.new(1)", "ArgumentError", given_1_of_0},
    {"[1].value('0')", "TypeError", "String cannot be converted to Integer"},
    {"[1].value", "ArgumentError", given_0_of_1},
};

using ArgumentsTest = FfiTest;

TEST_F(ArgumentsTest, WrongArgumentsRaiseTheInterpretersErrors)
{
    for (const BadCall &c : bad_calls) {
        SCOPED_TRACE(c.call);
        Outcome out = run(c.call);
        EXPECT_TRUE(out.raised) << "returned " << out.inspect;
        EXPECT_EQ(out.error_class, c.error_class);
        EXPECT_EQ(out.message, c.message);
    }
    // Nothing was written, and the interpreter is still sound.
    EXPECT_FALSE(kvn_test::os_file_exists(game_dir_.file("a.txt")));
    EXPECT_EQ(eval("FFI::File.new.write('ok.txt', 'fine')"), "true");
}

TEST_F(ArgumentsTest, ConvertibleArgumentsAreAccepted)
{
    // Integers where Floats are expected and Floats where Integers are; nil where
    // the argument list allows it.
    EXPECT_EQ(eval("FFI::Misc.new.calcstringbox('a', 1, 'font.ttf')"), "[0.0, 0.0]");
    EXPECT_EQ(eval("[10, 20].value(1.9)"), "20");
    EXPECT_EQ(eval("FFI::Misc.new.log(nil, 2.7, nil)"), "nil");
    std::vector<LogLine> lines = drain_log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].subsystem, "Game");
}

}  // namespace
}  // namespace ffi_test
