// Solids, borders, lines, triangles and the coordinate transform, checked on the
// pixels of a presented frame.
#include "render/render_fixture.h"

using namespace render_test;

namespace {

class PrimitivesTest : public RenderTest {};

struct RectCase {
    const char *name;
    Rect rect;
    SDL_Rect covers;  // expected filled pixels: x, y, w, h in window pixels
};

TEST_F(PrimitivesTest, SolidsLandWhereTheTransformPutsThem)
{
    const RectCase cases[] = {
        {"bottom-left corner", {.x = 0, .y = 0, .w = 100, .h = 50}, {0, 670, 100, 50}},
        {"centred by anchors", {.x = 300, .y = 300, .w = 100, .h = 50, .anchor_x = 0.5f, .anchor_y = 0.5f},
         {250, 395, 100, 50}},
        {"top-right anchor", {.x = 300, .y = 300, .w = 100, .h = 50, .anchor_x = 1, .anchor_y = 1}, {200, 420, 100, 50}},
        {"negative width extends left", {.x = 200, .y = 100, .w = -100, .h = 50}, {100, 570, 100, 50}},
        {"negative height extends down", {.x = 200, .y = 100, .w = 100, .h = -50}, {200, 620, 100, 50}},
    };
    for (const RectCase &c : cases) {
        SCOPED_TRACE(c.name);
        Frame f;
        f.screen([&](Frame &fr) { fr.solid(c.rect); });
        present(f);
        const Image img = capture();
        const SDL_Rect e = img.extent(white);
        EXPECT_EQ(e.x, c.covers.x);
        EXPECT_EQ(e.y, c.covers.y);
        EXPECT_EQ(e.w, c.covers.x + c.covers.w - 1);  // extent holds right and bottom
        EXPECT_EQ(e.h, c.covers.y + c.covers.h - 1);
        EXPECT_EQ(img.at(c.covers.x + 1, c.covers.y + 1), red);
    }
}

TEST_F(PrimitivesTest, BorderIsAnOutlineAndLineHitsItsEndPoints)
{
    Frame f;
    f.screen([](Frame &fr) {
        fr.border({.x = 100, .y = 100, .w = 50, .h = 40, .r = 0, .g = 0, .b = 255});
        fr.line({.x = 400, .y = 100, .x2 = 600, .y2 = 100, .r = 0, .g = 255, .b = 0});
    });
    present(f);
    const Image img = capture();
    // Border: rows 580..619, columns 100..149 in window pixels.
    EXPECT_EQ(img.at(100, 600), blue);
    EXPECT_EQ(img.at(149, 600), blue);
    EXPECT_EQ(img.at(120, 580), blue);
    EXPECT_EQ(img.at(120, 619), blue);
    EXPECT_EQ(img.at(120, 600), white);
    // Line at window row 620.
    EXPECT_EQ(img.at(400, 620), green);
    EXPECT_EQ(img.at(500, 620), green);
    EXPECT_EQ(img.at(500, 610), white);
}

TEST_F(PrimitivesTest, BlendModesAlphaAndColourClamping)
{
    struct Case {
        const char *name;
        Rect rect;
        RGBA bg;
        RGBA expect;
    };
    const Case cases[] = {
        {"blend at half alpha", {.r = 255, .g = 0, .b = 0, .a = 128, .blend = 1}, white, {255, 127, 127, 255}},
        {"no blending ignores alpha", {.r = 255, .g = 0, .b = 0, .a = 128, .blend = 0}, white, red},
        {"additive", {.r = 100, .g = 0, .b = 0, .a = 255, .blend = 2}, grey, {200, 100, 100, 255}},
        {"modulate", {.r = 128, .g = 255, .b = 0, .a = 255, .blend = 3}, grey, {50, 100, 0, 255}},
        {"unknown mode blends", {.r = 0, .g = 0, .b = 255, .a = 128, .blend = 99}, white, {127, 127, 255, 255}},
        {"channels clamp to 0..255", {.r = 300, .g = -20, .b = 1000, .a = 999, .blend = 1}, white, magenta},
        {"negative alpha clamps to transparent", {.r = 0, .g = 0, .b = 0, .a = -1, .blend = 1}, white, white},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rect r = c.rect;
        r.x = 10; r.y = 10; r.w = 20; r.h = 20;
        Frame f;
        f.screen([&](Frame &fr) { fr.solid(r); }, {.r = c.bg.r, .g = c.bg.g, .b = c.bg.b});
        present(f);
        const RGBA got = capture().at(20, 700);
        EXPECT_TRUE(near(got, c.expect, 3)) << got << " expected " << c.expect;
    }
}

TEST_F(PrimitivesTest, NothingIsDrawnBeforeTheFirstGrid)
{
    Frame f;
    f.passes(1).pass().solid({.x = 0, .y = 0, .w = 1280, .h = 720}).line({.x = 0, .y = 0, .x2 = 0, .y2 = 0}).end_pass();
    present(f);
    EXPECT_EQ(capture().extent(white).x, -1);
}

TEST_F(PrimitivesTest, CentredGridMovesTheOrigin)
{
    Frame f;
    f.grid(640, 360).passes(1).pass().solid({.x = 0, .y = 0, .w = 10, .h = 10}).end_pass();
    present(f);
    const SDL_Rect e = capture().extent(white);
    EXPECT_EQ(e.x, 640);
    EXPECT_EQ(e.y, 350);
    EXPECT_TRUE(ctx_->grid_centred);
}

TEST_F(PrimitivesTest, TriangleIsFilledFromItsTexture)
{
    const float pts[6] = {100, 100, 300, 100, 100, 300};
    const float src[6] = {0, 0, 8, 0, 0, 8};
    Frame f;
    f.screen([&](Frame &fr) { fr.triangle(pts, {255, 0, 0, 255}, "sprites/white.png", src); });
    present(f);
    const Image img = capture();
    EXPECT_TRUE(near(img.at(130, 580), red));    // inside, near the right angle
    EXPECT_EQ(img.at(290, 430), white);           // beyond the hypotenuse
}

// Non-HD: the renderer's logical size scales the 1280 x 720 game to the window.
class ScaledWindowTest : public RenderTest {
protected:
    void configure() override { window_w_ = 640; window_h_ = 360; }
};

TEST_F(ScaledWindowTest, LogicalCoordinatesScaleToTheWindow)
{
    Frame f;
    f.screen([](Frame &fr) { fr.solid({.x = 0, .y = 0, .w = 100, .h = 50}); });
    present(f);
    const SDL_Rect e = capture().extent(white);
    EXPECT_EQ(e.x, 0);
    EXPECT_EQ(e.y, 335);
    EXPECT_EQ(e.w, 49);
    EXPECT_EQ(e.h, 359);
}

// HD with hd_max_scale 100 in a wider window: scale 1, the game area centred with
// a 60-pixel letterbox offset and black bars beside it.
class LetterboxTest : public RenderTest {
protected:
    void configure() override
    {
        cvar_game_metadata_hd = 1;
        cvar_game_metadata_hd_max_scale = 100;
        cvar_game_metadata_hd_letterbox = 1;
        window_w_ = 1400;
        window_h_ = 720;
    }
};

TEST_F(LetterboxTest, GameAreaIsOffsetAndBarsAreBlack)
{
    EXPECT_EQ(ctx_->letterbox_offset_x, 60);
    EXPECT_EQ(ctx_->letterbox_offset_y, 0);
    EXPECT_FLOAT_EQ(ctx_->texture_scale, 1.0f);
    Frame f;
    f.screen([](Frame &fr) { fr.solid({.x = 0, .y = 0, .w = 100, .h = 50}); });
    present(f);
    const Image img = capture();
    EXPECT_EQ(img.at(30, 100), black);     // left bar over the white clear
    EXPECT_EQ(img.at(1370, 100), black);   // right bar
    EXPECT_EQ(img.at(700, 100), white);
    EXPECT_EQ(img.at(61, 700), red);       // the solid moved by the offset
    EXPECT_EQ(img.at(161, 700), white);
}

}  // namespace
