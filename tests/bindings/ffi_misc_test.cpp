// FFI::Misc: cvars and the log through the binding, the fixed platform answers,
// and — over a real render context on the offscreen video driver — text and
// sprite measurement and the clipboard.
#include "ffi_fixture.h"

#include <mruby/array.h>

#include "config/cvar.h"
#include "render/fontatlas.h"
#include "render/image.h"
#include "render/render_context.h"
#include "render/renderer_cvars.h"
#include "render/texture.h"
#include "stream/threadstream.h"

namespace ffi_test {
namespace {

class MiscTest : public FfiTest {
protected:
    void TearDown() override
    {
        FfiTest::TearDown();
        cvar_quit();
    }

    std::string misc(const std::string &call) { return eval("FFI::Misc.new." + call); }
};

TEST_F(MiscTest, CvarsRegisterAndReadBackAsTheirTypes)
{
    struct Case {
        const char *type, *default_text, *value;
    };
    const Case cases[] = {
        {"string", "hello", "\"hello\""},
        {"string", "", "\"\""},
        {"int", "-42", "-42"},
        {"uint", "4294967295", "4294967295"},
        {"float", "1.5", "1.5"},
        {"bool", "TRUE", "true"},
        {"bool", "yes", "false"},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string name = "test.cvar" + std::to_string(n++);
        SCOPED_TRACE(name + " " + c.type);
        EXPECT_EQ(misc("cvar_register('" + name + "', 'described', '" + c.type + "', '" + c.default_text + "')"),
                  "true");
        EXPECT_EQ(misc("cvar_get('" + name + "')"), c.value);
    }
}

TEST_F(MiscTest, CvarSetChangesTheValueUnlessLocked)
{
    misc("cvar_register('test.speed', 'speed', 'int', '3')");
    EXPECT_EQ(misc("cvar_set('test.speed', '7')"), "true");
    EXPECT_EQ(misc("cvar_get('test.speed')"), "7");
    EXPECT_EQ(misc("cvar_islocked('test.speed')"), "false");

    ASSERT_TRUE(cvar_lock("test.speed"));
    drain_log();
    EXPECT_EQ(misc("cvar_islocked('test.speed')"), "true");
    EXPECT_EQ(misc("cvar_set('test.speed', '9')"), "false");
    EXPECT_EQ(misc("cvar_get('test.speed')"), "7");
    bool refused = false;
    for (const LogLine &line : drain_log()) refused |= line.message == "Refusing to set locked cvar 'test.speed' to '9'";
    EXPECT_TRUE(refused);
}

TEST_F(MiscTest, UnknownCvarsAndTypeNames)
{
    EXPECT_EQ(misc("cvar_get('test.never')"), "nil");
    EXPECT_EQ(misc("cvar_islocked('test.never')"), "false");
    drain_log();
    EXPECT_EQ(misc("cvar_register('test.d', 'a double', 'double', '1.0')"), "false");
    std::vector<LogLine> lines = drain_log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, log_level_error);
    EXPECT_EQ(lines[0].subsystem, "Engine");
    EXPECT_EQ(lines[0].message,
              "Can't register cvar 'test.d' with unknown type 'double' (try 'string', 'int', 'uint', 'float', or 'bool').");
    EXPECT_EQ(misc("cvar_get('test.d')"), "nil");
    // A set before registration is pending: it succeeds and the registration takes it.
    EXPECT_EQ(misc("cvar_set('test.later', '5')"), "true");
    misc("cvar_register('test.later', 'later', 'int', '0')");
    EXPECT_EQ(misc("cvar_get('test.later')"), "5");
}

TEST_F(MiscTest, LogWritesOneEntryAndNilSubsystemMeansGame)
{
    misc("log(nil, 3, 'from the game')");
    misc("log('Net', 4, 'from a subsystem')");
    std::vector<LogLine> lines = drain_log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].subsystem, "Game");
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].message, "from the game");
    EXPECT_EQ(lines[1].subsystem, "Net");
    EXPECT_EQ(lines[1].level, 4);
}

TEST_F(MiscTest, FixedPlatformAnswers)
{
    EXPECT_EQ(misc("touch_enabled?"), "false");
    EXPECT_EQ(misc("device_size"), "[]");
    EXPECT_EQ(misc("get_thermal_state"), "nil");
    EXPECT_EQ(misc("android_get_sharedPreferences(:x)"), "nil");
    EXPECT_EQ(misc("request_quit_fatal('why')"), "nil");
    // A new Hash each time: the game may fill it.
    EXPECT_EQ(eval("m = FFI::Misc.new; a = m.ios_get_standardUserDefaults(nil); "
                   "[a, a.equal?(m.ios_get_standardUserDefaults(nil))]"),
              "[{}, false]");
    EXPECT_EQ(eval("l = FFI::Misc.new.get_locale; l.nil? || (l.is_a?(String) && !l.empty?)"), "true");
}

TEST_F(MiscTest, MeasurementWithoutARenderContextIsEmpty)
{
    EXPECT_EQ(misc("calcstringbox('Hello', 0, 'font.ttf')"), "[0.0, 0.0]");
    EXPECT_EQ(misc("calcspritebox('sprites/any.png')"), "nil");
}

// A real render context: the offscreen video driver with the software renderer,
// the fallback font from the game directory.
class RenderMiscTest : public MiscTest {
protected:
    static void SetUpTestSuite()
    {
        FfiTest::SetUpTestSuite();
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
        static bool streams = false;
        if (!streams) streams = threadstream_init() != 0;
    }

    render_context *render_context_for_test() override
    {
        cvar_renderer_vsync = 0;
        cvar_renderer_start_headless = 1;
        std::string font = kvn_test::read_os_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        EXPECT_FALSE(font.empty()) << "the DejaVu Sans font is needed";
        game_dir_.write("font.ttf", font);
        ctx_ = render_context_new(0, 0);
        EXPECT_NE(ctx_, nullptr) << SDL_GetError();
        return ctx_;
    }

    void TearDown() override
    {
        if (ctx_) render_context_delete(ctx_);
        ctx_ = nullptr;
        MiscTest::TearDown();
    }

    std::vector<float> floats(const std::string &call)
    {
        std::vector<float> out;
        int arena = mrb_gc_arena_save(mrb_);
        mrb_value v = mrb_load_string(mrb_, ("FFI::Misc.new." + call).c_str());
        EXPECT_EQ(mrb_->exc, nullptr) << call;
        mrb_->exc = nullptr;
        if (mrb_array_p(v)) {
            for (mrb_int i = 0; i < RARRAY_LEN(v); i++) {
                mrb_value e = mrb_ary_ref(mrb_, v, i);
                EXPECT_TRUE(mrb_float_p(e)) << call;
                out.push_back(mrb_float_p(e) ? static_cast<float>(mrb_float(e)) : -1.0f);
            }
        }
        mrb_gc_arena_restore(mrb_, arena);
        return out;
    }

    render_context *ctx_ = nullptr;
};

TEST_F(RenderMiscTest, CalcstringboxMeasuresAtTwentyTwoPlusTwicePerSizeEnum)
{
    struct Case {
        const char *text;
        const char *size_enum;
        float point_size;
    };
    const Case cases[] = {{"Hello", "0", 22}, {"Hello", "4", 30}, {"Hello", "-1.5", 19}, {"", "0", 22}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + c.size_enum);
        float w = 0, h = 0;
        ASSERT_TRUE(fontatlas_measure_uncached(ctx_, "font.ttf", c.text, c.point_size, &w, &h));
        std::vector<float> box = floats(std::string("calcstringbox('") + c.text + "', " + c.size_enum + ", 'font.ttf')");
        ASSERT_EQ(box.size(), 2u);
        EXPECT_NEAR(box[0], w, 0.01f);
        EXPECT_NEAR(box[1], h, 0.01f);
        EXPECT_GT(box[1], 0.0f);
    }
    EXPECT_EQ(floats("calcstringbox('', 0, 'font.ttf')")[0], 0.0f);
    // A font that cannot be loaded measures like the labels draw: with the fallback.
    EXPECT_EQ(floats("calcstringbox('Hello', 0, 'fonts/missing.ttf')"), floats("calcstringbox('Hello', 0, 'font.ttf')"));
}

TEST_F(RenderMiscTest, CalcspriteboxUsesTheRegistryThenTheFileThenTwoFiftySix)
{
    std::vector<uint8_t> pixels(64 * 32 * 4, 200);
    size_t size = 0;
    uint8_t *png = encode_png(pixels.data(), 64, 32, 0, 0, &size);
    ASSERT_NE(png, nullptr);
    game_dir_.write("sprites/wide.png", std::string(reinterpret_cast<char *>(png), size));
    SDL_free(png);
    game_dir_.write("sprites/bad.png", "garbage, not a PNG");

    // A render target the render thread recorded: its size, though no file has it.
    texture_entry *target = lookup_texture_no_fallback(ctx_, "my_target");
    ASSERT_NE(target, nullptr);
    SDL_Texture *texture = SDL_CreateTexture(ctx_->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, 100, 50);
    ASSERT_NE(texture, nullptr);
    texture_entry_set(ctx_, target, texture, 100, 50, 1);

    struct Case {
        const char *path, *box;
    };
    const Case cases[] = {
        {"sprites/wide.png", "[64, 32]"},
        {"sprites/bad.png", "[256, 256]"},
        {"sprites/missing.png", "[256, 256]"},
        {"my_target", "[100, 50]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(misc(std::string("calcspritebox('") + c.path + "')"), c.box);
    }
}

TEST_F(RenderMiscTest, GetclipboardReturnsTheTextOrEmpty)
{
    ASSERT_EQ(SDL_SetClipboardText("copied text"), 0) << SDL_GetError();
    EXPECT_EQ(misc("getclipboard"), "\"copied text\"");
    ASSERT_EQ(SDL_SetClipboardText(""), 0);
    EXPECT_EQ(misc("getclipboard"), "\"\"");
}

}  // namespace
}  // namespace ffi_test
