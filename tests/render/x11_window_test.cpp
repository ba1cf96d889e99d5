// The real window path: the same frame drawn into a shown X11 window (CI runs the
// suite under xvfb-run). Skipped when no display is available.
#include "render/render_fixture.h"

using namespace render_test;

namespace {

void restart_video(const char *driver)
{
    while (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    setenv("SDL_VIDEODRIVER", driver, 1);
    SDL_InitSubSystem(SDL_INIT_VIDEO);
}

class X11WindowTest : public RenderTest {
protected:
    void SetUp() override
    {
        const char *display = getenv("DISPLAY");
        if (!display || !*display) {
            GTEST_SKIP() << "no X display (run under xvfb-run)";
        }
        restart_video("x11");
        if (!SDL_WasInit(SDL_INIT_VIDEO)) {
            restart_video("offscreen");
            GTEST_SKIP() << "the X11 video driver is not available: " << SDL_GetError();
        }
        switched_ = true;
        RenderTest::SetUp();
        SDL_ShowWindow(ctx_->window);
    }
    void TearDown() override
    {
        if (!switched_) return;
        RenderTest::TearDown();
        restart_video("offscreen");
    }
    bool switched_ = false;
};

TEST_F(X11WindowTest, ShownWindowPresentsTheFrame)
{
    EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    EXPECT_NE(SDL_GetWindowFlags(ctx_->window) & SDL_WINDOW_SHOWN, 0u);
    Frame f;
    f.screen([](Frame &fr) {
        fr.solid({.x = 0, .y = 0, .w = 100, .h = 50});
        fr.sprite({.x = 300, .y = 300});
        fr.label({.x = 600, .y = 400, .text = "HHHH"});
    });
    present(f);
    const Image img = capture();
    EXPECT_EQ(img.at(50, 700), red);
    EXPECT_EQ(img.at(310, 366), red);
    EXPECT_EQ(img.at(350, 410), white);
    const SDL_Rect text = img.extent(white);
    EXPECT_LE(text.x, 50);
    EXPECT_GE(text.w, 600);
}

}  // namespace
