// The renderer's scale arithmetic and the registries' name hash, as pure functions.
#include <gtest/gtest.h>

#include <cmath>

#include "render/fontatlas.h"
#include "render/sizing.h"
#include "render/texture.h"

namespace {

TEST(SizingLadder, QuantisesToTheStepBelowWithItsPercent)
{
    struct Case { float s; float scale; int percent; };
    const Case cases[] = {
        {0.05f, 0.05f, 100}, {0.1f, 0.1f, 100}, {0.24f, 0.1f, 100}, {0.25f, 0.25f, 100}, {0.6f, 0.5f, 100},
        {0.99f, 0.75f, 100}, {1.0f, 1.0f, 100}, {1.3f, 1.25f, 125}, {1.5f, 1.5f, 150}, {1.8f, 1.75f, 175},
        {2.4f, 2.0f, 200}, {2.5f, 2.5f, 250}, {3.9f, 3.0f, 300}, {4.0f, 4.0f, 400}, {9.0f, 4.0f, 400},
    };
    for (const Case &c : cases) {
        int percent = 0;
        EXPECT_FLOAT_EQ(sizing_ladder(c.s, &percent), c.scale) << c.s;
        EXPECT_EQ(percent, c.percent) << c.s;
    }
}

TEST(SizingLadder, PercentFloorAndWindowScale)
{
    const int floors[][2] = {{0, 100}, {124, 100}, {125, 125}, {174, 150}, {199, 175}, {249, 200},
                             {299, 250}, {399, 300}, {400, 400}, {1000, 400}};
    for (const auto &f : floors) EXPECT_EQ(sizing_percent_floor(f[0]), f[1]) << f[0];

    const float scales[][2] = {{0.2f, 0.1f}, {0.0f, 0.1f}, {0.3f, 0.25f}, {0.74f, 0.5f}, {0.9f, 0.75f},
                               {1.0f, 1.0f}, {1.3f, 1.25f}, {1.6f, 1.5f}, {1.9f, 1.75f}, {2.2f, 2.0f},
                               {2.7f, 2.5f}, {3.5f, 3.0f}, {4.0f, 4.0f}, {100.0f, 4.0f}, {-3.0f, 0.1f}};
    for (const auto &s : scales) EXPECT_FLOAT_EQ(sizing_window_scale(s[0]), s[1]) << s[0];
    EXPECT_FLOAT_EQ(sizing_window_scale(NAN), 0.1f);
}

TEST(SizingLadder, TextureFactorFallsBackToTheRenderScale)
{
    const float render_scale = 1.5f;
    const std::pair<int, float> cases[] = {{100, 1}, {125, 1.25f}, {150, 1.5f}, {175, 1.5f}, {200, 2},
                                           {250, 2.5f}, {300, 3}, {400, 4}, {0, 1.5f}, {-1, 1.5f}};
    for (const auto &[percent, factor] : cases) {
        EXPECT_FLOAT_EQ(sizing_texture_factor(percent, render_scale), factor) << percent;
    }
}

TEST(SizingWindow, KeepsTheAspectRatioAndFitsTheDisplay)
{
    struct Case { int lw, lh, dw, dh, w, h; };
    const Case cases[] = {
        {1280, 720, 1920, 1080, 1280, 720},
        {1280, 720, 1024, 768, 1024, 576},
        {1280, 720, 1280, 720, 1280, 720},
        {1280, 720, 1920, 600, 1066, 600},
        {720, 1280, 1920, 1080, 607, 1080},
        {1280, 720, 0, 0, 1280, 720},
    };
    for (const Case &c : cases) {
        int w = 0, h = 0;
        sizing_requested_window(c.lw, c.lh, c.dw, c.dh, &w, &h);
        EXPECT_EQ(w, c.w) << c.dw << "x" << c.dh;
        EXPECT_EQ(h, c.h) << c.dw << "x" << c.dh;
    }
}

sizing_input hd_input(int ow, int oh, int max, int letterbox = 1, int ww = 0, int wh = 0)
{
    sizing_input in{};
    in.hd = 1;
    in.hd_letterbox = letterbox;
    in.hd_max_scale = max;
    in.allscreen_max_scale = 100;
    in.logical_w = 1280;
    in.logical_h = 720;
    in.output_w = ow;
    in.output_h = oh;
    in.window_w = ww ? ww : ow;
    in.window_h = wh ? wh : oh;
    return in;
}

TEST(SizingCompute, HdLadderCases)
{
    struct Case {
        const char *name;
        sizing_input in;
        float scale;
        int percent, cx, cy, lx, ly, nw, nh;
    };
    const Case cases[] = {
        {"2560x1440 at max 400", hd_input(2560, 1440, 400), 2.0f, 200, 0, 0, 0, 0, 2560, 1440},
        {"1920x1080 capped at 100", hd_input(1920, 1080, 100), 1.0f, 100, 320, 180, 320, 180, 1920, 1080},
        {"1920x1080 capped at 125", hd_input(1920, 1080, 125), 1.25f, 125, 160, 90, 160, 90, 1920, 1080},
        {"unknown cap leaves the ladder", hd_input(1920, 1080, 130), 1.5f, 150, 0, 0, 0, 0, 1920, 1080},
        {"max 0 with letterbox: exact fit, shrunk native size", hd_input(1400, 720, 0), 1.0f, 100, 60, 0, 0, 0,
         1280, 720},
        {"max 0 without letterbox keeps offsets", hd_input(1400, 720, 0, 0), 1.0f, 100, 60, 0, 60, 0, 1400, 720},
        {"high-DPI ratio 2", hd_input(2560, 1440, 400, 1, 1280, 720), 2.0f, 200, 0, 0, 0, 0, 2560, 1440},
        {"fixed-ratio device", hd_input(2338, 1080, 0), 1.5f, 300, 209, 0, 0, 0, 1920, 1080},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const sizing_result r = sizing_compute(c.in);
        EXPECT_FLOAT_EQ(r.scale, c.scale);
        EXPECT_EQ(r.percent, c.percent);
        EXPECT_EQ(r.centring_x, c.cx);
        EXPECT_EQ(r.centring_y, c.cy);
        EXPECT_EQ(r.letterbox_x, c.lx);
        EXPECT_EQ(r.letterbox_y, c.ly);
        EXPECT_EQ(r.native_w, c.nw);
        EXPECT_EQ(r.native_h, c.nh);
        EXPECT_EQ(r.allscreen_warning, 0);
    }
}

TEST(SizingCompute, NonHdAndDegenerateSizes)
{
    sizing_input plain{};
    plain.logical_w = 1280;
    plain.logical_h = 720;
    const sizing_result r = sizing_compute(plain);
    EXPECT_FLOAT_EQ(r.scale, 1.0f);
    EXPECT_EQ(r.percent, 100);
    EXPECT_EQ(r.native_w, 1280);
    EXPECT_EQ(r.letterbox_x, 0);

    // A minimised window reports 0 x 0: no division by zero, no NaN scale.
    const sizing_result z = sizing_compute(hd_input(0, 0, 0));
    EXPECT_TRUE(std::isfinite(z.scale));

    sizing_input all = hd_input(1920, 1080, 0);
    all.allscreen = 1;
    all.allscreen_max_scale = 100;
    const sizing_result a = sizing_compute(all);
    EXPECT_EQ(a.allscreen_warning, 1);
    EXPECT_FLOAT_EQ(a.scale, 1.5f);  // allscreen's maximum is nonzero: quantised
}

TEST(SizingLetterbox, BarsFillWhatTheGameAreaLeaves)
{
    const sizing_bars b = sizing_letterbox_bars(1400, 720, 60, 0, 1.0f, 1280, 720);
    EXPECT_FLOAT_EQ(b.left.w, 60);
    EXPECT_FLOAT_EQ(b.right.x, 1340);
    EXPECT_FLOAT_EQ(b.right.w, 60);
    EXPECT_FLOAT_EQ(b.top.h, 0);

    // A game area that does not fill the native size exactly: the remainder is
    // split between both bars.
    const sizing_bars odd = sizing_letterbox_bars(1300, 720, 0, 0, 1.0f, 1280, 720);
    EXPECT_FLOAT_EQ(odd.left.w, 10);
    EXPECT_FLOAT_EQ(odd.right.x, 1290);
}

TEST(RegistryHash, EightBitsFromFiveTimes33XorByte)
{
    EXPECT_EQ(registry_hash(""), 5);
    EXPECT_EQ(registry_hash("a"), (uint8_t)((5 * 33) ^ 'a'));
    EXPECT_EQ(registry_hash("ab"), (uint8_t)((uint8_t)(((5 * 33) ^ 'a') * 33) ^ 'b'));
    // The byte is taken unsigned: high bytes of UTF-8 names hash like any other.
    EXPECT_EQ(registry_hash("\xff"), (uint8_t)((5 * 33) ^ 0xff));
    static_assert(registry_hash("") == 5);
}

TEST(RegistryHash, GlyphBucketsStayInRange)
{
    for (uint64_t cp = 0; cp < 2000; cp += 7) {
        EXPECT_LT(fontatlas_bucket((cp << 32) | 220000), 32u);
    }
}

}  // namespace
