// Render context creation: window flags and hints from the cvars and metadata,
// orientation, the start-up log lines, and failures that must leave nothing built.
#include "render/render_fixture.h"

#include <cstdio>

using namespace render_test;

namespace {

class ContextTest : public RenderTest {
protected:
    // Makes a second context with the given metadata; restores the metadata after.
    render_context *make(const char *orientation, int scale_quality, int headless)
    {
        char *saved_orientation = cvar_game_metadata_orientation;
        const int32_t saved_quality = cvar_game_metadata_scale_quality;
        cvar_game_metadata_orientation = const_cast<char *>(orientation);
        cvar_game_metadata_scale_quality = scale_quality;
        cvar_renderer_start_headless = headless;
        render_context *ctx = render_context_new(0, 0);
        cvar_game_metadata_orientation = saved_orientation;
        cvar_game_metadata_scale_quality = saved_quality;
        cvar_renderer_start_headless = 1;
        return ctx;
    }
};

TEST_F(ContextTest, OrientationQualityAndVisibilityComeFromTheSettings)
{
    struct Case {
        const char *orientation;
        int quality;
        int headless;
        int logical_w, logical_h;
        const char *hint;
    };
    const Case cases[] = {
        {"portrait", 2, 1, 720, 1280, "2"},
        {"landscape", 1, 0, 1280, 720, "1"},
        {"", 5, 1, 1280, 720, "0"},
        {nullptr, -1, 1, 1280, 720, "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.orientation ? c.orientation : "(null)");
        render_context *ctx = make(c.orientation, c.quality, c.headless);
        ASSERT_NE(ctx, nullptr) << SDL_GetError();
        EXPECT_EQ(ctx->game_logical_width, c.logical_w);
        EXPECT_EQ(ctx->game_logical_height, c.logical_h);
        EXPECT_EQ(ctx->landscape, c.logical_w > c.logical_h);
        EXPECT_STREQ(SDL_GetHint("SDL_RENDER_SCALE_QUALITY"), c.hint);
        const Uint32 flags = SDL_GetWindowFlags(ctx->window);
        EXPECT_EQ((flags & SDL_WINDOW_SHOWN) != 0, c.headless == 0);
        EXPECT_NE(flags & SDL_WINDOW_RESIZABLE, 0u);
        EXPECT_EQ(ctx->tick_count, -1);
        EXPECT_EQ(ctx->global_tick_count, -1);
        EXPECT_EQ(ctx->keyboard_focus, 1);
        EXPECT_GT(ctx->max_texture_width, 0);
        render_context_delete(ctx);
    }
}

TEST_F(ContextTest, StartUpLogLinesComeInOrder)
{
    drain_log();
    render_context *ctx = make(nullptr, 0, 1);
    ASSERT_NE(ctx, nullptr);
    const auto lines = drain_log();
    const char *expected[] = {"SDL video backend: offscreen", "SDL renderer backend: software", "Window size: ",
                              "Fullscreen Desktop mode: no", "HD: no", "HighDPI: no", "Max texture size: ",
                              "Logical render size: 1280x720", "Native render size: 1280x720"};
    size_t at = 0;
    for (const std::string &line : lines) {
        if (at < std::size(expected) && line.rfind(expected[at], 0) == 0) ++at;
    }
    EXPECT_EQ(at, std::size(expected));
    render_context_delete(ctx);
}

TEST_F(ContextTest, MissingFallbackFontFailsCreationCleanly)
{
    const std::string font = dir_.file("font.ttf");
    const std::string moved = dir_.file("moved.ttf");
    ASSERT_EQ(std::rename(font.c_str(), moved.c_str()), 0);
    EXPECT_EQ(make(nullptr, 0, 1), nullptr);
    EXPECT_NE(std::string(SDL_GetError()).find("font.ttf"), std::string::npos) << SDL_GetError();
    ASSERT_EQ(std::rename(moved.c_str(), font.c_str()), 0);
    render_context_delete(nullptr);  // harmless
}

// The letterbox bars follow every executed stream, but not one that stopped at an
// unknown code.
class LetterboxStopTest : public RenderTest {
protected:
    void configure() override
    {
        cvar_game_metadata_hd = 1;
        cvar_game_metadata_hd_max_scale = 100;
        window_w_ = 1400;
    }
};

TEST_F(LetterboxStopTest, UnknownCodeLeavesTheBarsOut)
{
    Frame f;
    f.screen([](Frame &) {}).i(9);
    present(f);
    EXPECT_EQ(capture().at(30, 100), white);
    Frame g;
    g.screen([](Frame &) {});
    present(g);
    EXPECT_EQ(capture().at(30, 100), black);
}

}  // namespace
