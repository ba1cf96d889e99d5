// Frame streams no writer should produce: cut short anywhere, absurd numbers in
// every field, lying counts. None may crash, and the renderer must draw a good
// frame correctly afterwards.
#include "render/render_fixture.h"

#include <climits>
#include <cmath>
#include <functional>

#include "render/texture.h"

using namespace render_test;

namespace {

class BadInputTest : public RenderTest {
protected:
    // A small window keeps the many frames cheap; the game is scaled by 0.5.
    void configure() override { window_w_ = 640; window_h_ = 360; }

    // A good frame must still come out right: the screen target, the logical size
    // and the grid were left sane.
    void expect_recovers()
    {
        Frame f;
        f.screen([](Frame &fr) { fr.solid({.x = 0, .y = 0, .w = 100, .h = 50}); });
        present(f);
        const Image img = capture();
        EXPECT_EQ(img.at(25, 350), red);
        EXPECT_EQ(img.at(75, 350), white);
        EXPECT_EQ(img.at(25, 330), white);
    }

    // One frame holding every record kind the draw iteration reads.
    void write_everything(Frame &f)
    {
        const auto px = solid_pixels(2, 2, green);
        f.i(record_nop).i(record_set_window_title).str("all").i(record_toggle_cursor).i(1);
        f.i(record_set_window_scale).f(0.5f).i(record_set_mouse_grab).i(0);
        f.i(record_set_cursor).str("sprites/quad.png").i(0).i(0).i(record_set_system_cursor).str("arrow");
        f.i(record_upload_pixel_array).str("pa").i(2).i(2);
        threadstream_pack_buffer(f.stream(), px.data(), (uint32_t)px.size());
        f.i(record_unload_sprite).str("sprites/white.png");
        f.i(record_a11ys).i(1).str("id").str(nullptr).str("button").str(nullptr).f(1).f(2).f(3).f(4);
        f.grid().passes(3, 1);
        f.pass({.target = "rt", .w = 64, .h = 64}).solid({.x = 1, .y = 1}).border({.x = 2, .y = 2}).end_pass();
        f.pass().sprite({.path = "rt"}).label({.x = 5, .y = 300}).line({.x2 = 100, .y2 = 100});
        const float pts[6] = {0, 0, 10, 0, 0, 10}, src[6] = {0, 0, 1, 0, 0, 1};
        f.triangle(pts, white, "sprites/white.png", src).end_pass();
        f.pass().sprite({.path = "pa"}).end_pass();
        f.i(record_screenshot).str("shots/cut.png").f(0).f(0).f(8).f(8).i(0).i(0).i(0).i(0).i(255);
    }
};

TEST_F(BadInputTest, StreamsCutAtEveryLength)
{
    Frame whole;
    write_everything(whole);
    threadstream *full = whole.stream();
    for (uint64_t cut = 0; cut <= full->size; cut += cut < 16 ? 1 : 5) {
        threadstream *s = threadstream_allocate();
        threadstream_claim_space(s, cut);
        SDL_memcpy(s->data, full->data, cut);
        s->size = cut;
        present({s});
        redraw();  // the kept stream stops at the same place again
    }
    expect_recovers();
}

// Every 4-byte field of each primitive record replaced in turn by an absurd value.
TEST_F(BadInputTest, AbsurdValuesInEveryPrimitiveField)
{
    const float floats[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 3e9f, -0.0f};
    const int32_t ints[] = {INT_MIN, INT_MAX, -1};

    struct Kind { const char *name; std::function<void(Frame &)> write; };
    const float pts[6] = {0, 0, 100, 0, 0, 100}, src[6] = {0, 0, 8, 0, 0, 8};
    const Kind kinds[] = {
        {"solid", [](Frame &f) { f.solid({.x = 10, .y = 10, .w = 50, .h = 50}); }},
        {"border", [](Frame &f) { f.border({.x = 10, .y = 10, .w = 50, .h = 50}); }},
        {"sprite", [](Frame &f) { f.sprite({.x = 10, .y = 10}); }},
        {"label", [](Frame &f) { f.label({.x = 10, .y = 300, .text = "Wide label"}); }},
        {"line", [](Frame &f) { f.line({.x = 10, .y = 10, .x2 = 300, .y2 = 300}); }},
        {"triangle", [&](Frame &f) { f.triangle(pts, red, "sprites/white.png", src); }},
    };
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.name);
        // Find the record's words by writing it once.
        Frame probe;
        probe.grid().passes(1).pass();
        const uint64_t start = probe.stream()->size;
        kind.write(probe);
        const uint64_t end = probe.stream()->size;
        for (uint64_t at = start + 4; at < end; at += 4) {
            for (int variant = 0; variant < 10; ++variant) {
                Frame f;
                f.grid().passes(1).pass();
                kind.write(f);
                uint8_t *word = f.stream()->data + at;
                if (variant < 7) SDL_memcpy(word, &floats[variant], 4);
                else SDL_memcpy(word, &ints[variant - 7], 4);
                f.end_pass();
                present(f);
            }
        }
    }
    expect_recovers();
}

TEST_F(BadInputTest, LyingCountsAndSizes)
{
    struct Case { const char *name; std::function<void(Frame &)> write; };
    const Case cases[] = {
        {"huge pass count", [](Frame &f) { f.grid().passes(INT_MAX).pass().end_pass(); }},
        {"negative pass count", [](Frame &f) { f.grid().passes(-5).pass().end_pass(); }},
        {"target of negative size", [](Frame &f) { f.grid().passes(1).pass({.target = "neg", .w = -10, .h = -10}).solid({}).end_pass(); }},
        {"target of huge size", [](Frame &f) { f.grid().passes(1).pass({.target = "big", .w = INT_MAX, .h = INT_MAX}).solid({}).end_pass(); }},
        {"target of zero size", [](Frame &f) { f.grid().passes(1).pass({.target = "zero", .w = 0, .h = 0}).solid({}).end_pass(); }},
        {"grid at NaN", [](Frame &f) { f.grid(NAN, INFINITY).passes(1).pass().solid({}).end_pass(); }},
        {"huge a11y count", [](Frame &f) { f.i(record_a11ys).i(INT_MAX).str("x"); }},
        {"pixel array of huge size", [](Frame &f) { f.i(record_upload_pixel_array).str("p").i(INT_MAX).i(INT_MAX).str("abcd"); }},
        {"string length past the end", [](Frame &f) { f.i(record_set_window_title).i(1000000).i(0); }},
        {"screenshot of absurd region", [](Frame &f) {
             f.grid().passes(1, 1).pass().end_pass();
             f.i(record_screenshot).str("shots/x.png").f(NAN).f(1e30f).f(-1e30f).f(INFINITY).i(0).i(0).i(0).i(0).i(0);
             f.i(record_screenshot).str("shots/y.png").f(-500).f(-500).f(5000).f(5000).i(INT_MAX).i(0).i(0).i(0).i(0);
         }},
        {"window scale NaN", [](Frame &f) { f.i(record_set_window_scale).f(NAN); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Frame f;
        c.write(f);
        present(f);
        redraw();
    }
    EXPECT_FALSE(kvn_test::os_file_exists(dir_.file("shots/x.png")));
    resize(640, 360);
    expect_recovers();
}

TEST_F(BadInputTest, ShortHeaderDrawsNothingButStaysSafe)
{
    for (uint64_t size : {0u, 3u, 4u, 7u}) {
        threadstream *s = threadstream_allocate();
        threadstream_claim_space(s, 8);
        SDL_memset(s->data, 0, 8);
        s->size = size;
        present({s});
    }
    expect_recovers();
}

}  // namespace
