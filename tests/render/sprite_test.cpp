// Sprites: source and tile rectangles, flips, rotation about the angle anchor,
// anchors, texture scale, colour, blending, and the texture registry behind them
// (fallback, retries, unloading, pixel arrays, warnings).
#include "render/render_fixture.h"
#include "render/texture.h"

using namespace render_test;

namespace {

class SpriteTest : public RenderTest {
protected:
    // Draws one sprite over a grey screen and reads the centres of the four
    // quadrants of the rectangle (100, 100, 64, 64), shifted by (dx, dy) pixels.
    std::array<RGBA, 4> quadrants(const Sprite &s, int dx = 0, int dy = 0)
    {
        Frame f;
        f.screen([&](Frame &fr) { fr.sprite(s); }, {.r = 100, .g = 100, .b = 100});
        present(f);
        const Image img = capture();
        return {img.at(110 + dx, 566 + dy), img.at(150 + dx, 566 + dy), img.at(110 + dx, 606 + dy),
                img.at(150 + dx, 606 + dy)};
    }
};

TEST_F(SpriteTest, GeometryOfSourceTileFlipAndRotation)
{
    const RGBA cyan{0, 255, 255, 255};
    struct Case {
        const char *name;
        Sprite sprite;
        int dx, dy;
        RGBA tl, tr, bl, br;
    };
    const Sprite base{.x = 100, .y = 100};
    auto with = [&](auto change) { Sprite s = base; change(s); return s; };
    const Case cases[] = {
        {"whole texture", base, 0, 0, red, green, blue, white},
        {"flip horizontally", with([](Sprite &s) { s.flip_h = 1; }), 0, 0, green, red, white, blue},
        {"flip vertically", with([](Sprite &s) { s.flip_v = 1; }), 0, 0, blue, white, red, green},
        {"both flips", with([](Sprite &s) { s.flip_h = s.flip_v = 1; }), 0, 0, white, blue, green, red},
        {"angle 90 turns counter-clockwise", with([](Sprite &s) { s.angle = 90; }), 0, 0, green, white, red, blue},
        {"rotation about the bottom-left angle anchor",
         with([](Sprite &s) { s.angle = 90; s.angle_anchor_x = 0; s.angle_anchor_y = 0; }), -64, 0, green, white,
         red, blue},
        {"source is bottom-up: (0,0,32,32) is the bottom-left",
         with([](Sprite &s) { s.source_w = 32; s.source_h = 32; }), 0, 0, blue, blue, blue, blue},
        {"source (32,32,32,32) is the top-right",
         with([](Sprite &s) { s.source_x = 32; s.source_y = 32; s.source_w = 32; s.source_h = 32; }), 0, 0, green,
         green, green, green},
        {"tile is top-down: (0,0,32,32) is the top-left", with([](Sprite &s) { s.tile_w = 32; s.tile_h = 32; }), 0, 0,
         red, red, red, red},
        {"tile (32,32,32,32) is the bottom-right",
         with([](Sprite &s) { s.tile_x = 32; s.tile_y = 32; s.tile_w = 32; s.tile_h = 32; }), 0, 0, white, white,
         white, white},
        {"texture scale 200 doubles the source rectangle",
         with([](Sprite &s) { s.texture_scale = 200; s.source_w = 16; s.source_h = 16; }), 0, 0, blue, blue, blue,
         blue},
        {"anchors move the sprite by its size", with([](Sprite &s) { s.anchor_x = 0.5f; s.anchor_y = 0.5f; }), -32, 32,
         red, green, blue, white},
        {"colour mod", with([](Sprite &s) { s.r = 0; }), 0, 0, black, green, blue, cyan},
        {"half alpha over grey", with([](Sprite &s) { s.a = 128; }), 0, 0, {177, 50, 50, 255}, {50, 177, 50, 255},
         {50, 50, 177, 255}, {177, 177, 177, 255}},
        {"additive blending", with([](Sprite &s) { s.blend = 2; }), 0, 0, {255, 100, 100, 255}, {100, 255, 100, 255},
         {100, 100, 255, 255}, white},
        {"source_x at the texture width draws nothing", with([](Sprite &s) { s.source_x = 64; }), 0, 0, grey, grey,
         grey, grey},
        {"zero width draws nothing", with([](Sprite &s) { s.w = 0; }), 0, 0, grey, grey, grey, grey},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto q = quadrants(c.sprite, c.dx, c.dy);
        EXPECT_TRUE(near(q[0], c.tl, 3)) << q[0];
        EXPECT_TRUE(near(q[1], c.tr, 3)) << q[1];
        EXPECT_TRUE(near(q[2], c.bl, 3)) << q[2];
        EXPECT_TRUE(near(q[3], c.br, 3)) << q[3];
    }
}

TEST_F(SpriteTest, MissingFileDrawsTheCheckerboardWarnsOnceAndIsRetried)
{
    const Sprite s{.path = "sprites/later.png", .x = 100, .y = 100, .w = 256, .h = 256};
    for (int frame = 0; frame < 3; ++frame) {
        Frame f;
        f.screen([&](Frame &fr) { fr.sprite(s); }, {.r = 100, .g = 100, .b = 100});
        present(f);
    }
    const Image img = capture();
    EXPECT_EQ(img.at(100, 364), red);      // the red edge
    EXPECT_EQ(img.at(101, 365), white);    // row 1 starts black, columns 1-16 flip
    EXPECT_EQ(img.at(117, 365), black);
    EXPECT_EQ(img.at(101, 381), black);    // row 17 starts white
    EXPECT_EQ(count_containing(drain_log(), "sprites/later.png"), 1);

    // The file appears: the next draw loads it.
    dir_.write("sprites/later.png", png_bytes(solid_pixels(4, 4, green), 4, 4));
    Frame f;
    f.screen([&](Frame &fr) { fr.sprite(s); });
    present(f);
    EXPECT_EQ(capture().at(200, 500), green);
}

TEST_F(SpriteTest, CorruptAndEmptyImageFilesFallBack)
{
    dir_.write("sprites/bad.png", std::string("\x89PNG\r\n\x1a\n garbage that is no png", 32));
    dir_.write("sprites/empty.png", "");
    for (const char *path : {"sprites/bad.png", "sprites/empty.png", ""}) {
        SCOPED_TRACE(path);
        Frame f;
        f.screen([&](Frame &fr) { fr.sprite({.path = path, .x = 100, .y = 100, .w = 256, .h = 256}); });
        present(f);
        EXPECT_EQ(capture().at(100, 364), red);
    }
    Frame f;  // a null path (the packers never write one) also falls back
    f.screen([&](Frame &fr) { fr.sprite({.path = nullptr, .x = 100, .y = 100, .w = 256, .h = 256}); });
    present(f);
    EXPECT_EQ(capture().at(100, 364), red);
}

TEST_F(SpriteTest, StretchWarningComesOncePerTexture)
{
    for (int frame = 0; frame < 3; ++frame) {
        Frame f;
        f.screen([](Frame &fr) { fr.sprite({.source_w = 128, .source_h = 128}); });
        present(f);
    }
    EXPECT_EQ(count_containing(drain_log(), "You are rendering passed the boundaries of the =sprites/quad.png="), 1);
}

TEST_F(SpriteTest, UnloadReloadsFilesAndPixelArraysComeBackFromTheirCopy)
{
    auto draw = [&](const char *path, bool unload_first) {
        Frame f;
        if (unload_first) f.i(record_unload_sprite).str(path);
        f.screen([&](Frame &fr) { fr.sprite({.path = path, .x = 0, .y = 0, .w = 50, .h = 50}); });
        present(f);
        return capture().at(25, 695);
    };
    EXPECT_EQ(draw("sprites/white.png", false), white);
    dir_.write("sprites/white.png", png_bytes(solid_pixels(8, 8, red), 8, 8));
    EXPECT_EQ(draw("sprites/white.png", false), white);  // still the loaded texture
    EXPECT_EQ(draw("sprites/white.png", true), red);     // unloaded: the file is read again

    const auto px = solid_pixels(4, 4, green);
    Frame up;
    up.i(record_upload_pixel_array).str("pa").i(4).i(4);
    threadstream_pack_buffer(up.stream(), px.data(), (uint32_t)px.size());
    up.screen([](Frame &) {});
    present(up);
    EXPECT_EQ(draw("pa", false), green);
    EXPECT_EQ(draw("pa", true), green);
    texture_entry_info info{};
    ASSERT_TRUE(texture_entry_query(ctx_, "pa", &info));
    EXPECT_EQ(info.width, 4);
    EXPECT_TRUE(info.has_pixels);
}

TEST_F(SpriteTest, PixelArraysRejectMismatchedData)
{
    const auto px = solid_pixels(4, 4, green);
    struct Case { const char *name; int w, h; uint32_t len; };
    const Case cases[] = {{"bad", 4, 5, (uint32_t)px.size()}, {"neg", -4, -4, (uint32_t)px.size()},
                          {"", 4, 4, (uint32_t)px.size()}, {"short", 4, 4, 10}};
    for (const Case &c : cases) {
        Frame f;
        f.i(record_upload_pixel_array).str(c.name).i(c.w).i(c.h);
        threadstream_pack_buffer(f.stream(), px.data(), c.len);
        f.screen([](Frame &) {});
        present(f);
        texture_entry_info info{};
        if (texture_entry_query(ctx_, c.name, &info)) {
            EXPECT_FALSE(info.has_texture) << c.name;
        }
    }
}

class DevelopmentSpriteTest : public RenderTest {
protected:
    void configure() override { development_ = 1; }
};

TEST_F(DevelopmentSpriteTest, ProblematicPathIsReportedOnceWithASuggestion)
{
    for (int frame = 0; frame < 2; ++frame) {
        Frame f;
        f.screen([](Frame &fr) { fr.sprite({.path = "Sprites/My Hero.png"}); });
        present(f);
    }
    const auto lines = drain_log();
    EXPECT_EQ(count_containing(lines, "File path contains problematic characters"), 1);
    EXPECT_EQ(count_containing(lines, "=sprites/my-hero.png="), 1);
}

}  // namespace
