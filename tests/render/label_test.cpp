// Labels and the font atlas: alignment against the measured width, vertical
// alignment, sizes, fonts and their fallback, the glyph cache, and measuring from
// another thread while the render thread draws.
#include "render/render_fixture.h"

#include <physfs.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "render/fontatlas.h"
#include "render/texture.h"

using namespace render_test;

namespace {

// A read-only archive holding one font, "slow.ttf", whose first open blocks its
// first read until released: a font load that takes as long as the test wants.
struct SlowFont {
    std::string bytes;
    SDL_sem *entered = SDL_CreateSemaphore(0);
    SDL_sem *release = SDL_CreateSemaphore(0);
    std::atomic<int> opens{0};
    std::atomic<bool> timed_out{false};
    ~SlowFont()
    {
        SDL_DestroySemaphore(entered);
        SDL_DestroySemaphore(release);
    }
};
SlowFont *slow_font;

struct SlowReader {
    size_t pos = 0;
    bool gated = false;
};

PHYSFS_sint64 slow_read(PHYSFS_Io *io, void *buf, PHYSFS_uint64 len)
{
    auto *r = static_cast<SlowReader *>(io->opaque);
    if (r->gated) {
        r->gated = false;
        SDL_SemPost(slow_font->entered);
        if (SDL_SemWaitTimeout(slow_font->release, 5000) != 0) slow_font->timed_out = true;
    }
    const size_t n = std::min<size_t>(len, slow_font->bytes.size() - r->pos);
    std::memcpy(buf, slow_font->bytes.data() + r->pos, n);
    r->pos += n;
    return (PHYSFS_sint64)n;
}
int slow_seek(PHYSFS_Io *io, PHYSFS_uint64 offset)
{
    if (offset > slow_font->bytes.size()) return 0;
    static_cast<SlowReader *>(io->opaque)->pos = (size_t)offset;
    return 1;
}
PHYSFS_sint64 slow_tell(PHYSFS_Io *io) { return (PHYSFS_sint64) static_cast<SlowReader *>(io->opaque)->pos; }
PHYSFS_sint64 slow_length(PHYSFS_Io *) { return (PHYSFS_sint64)slow_font->bytes.size(); }
void slow_destroy(PHYSFS_Io *io)
{
    delete static_cast<SlowReader *>(io->opaque);
    delete io;
}

void *slow_open_archive(PHYSFS_Io *io, const char *name, int for_write, int *claimed)
{
    if (for_write || !SDL_strstr(name, ".kvnslow")) return nullptr;
    *claimed = 1;
    io->destroy(io);  // the archive owns its stream and needs nothing from it
    return slow_font;
}
PHYSFS_EnumerateCallbackResult slow_enumerate(void *, const char *, PHYSFS_EnumerateCallback, const char *, void *)
{
    return PHYSFS_ENUM_OK;
}
PHYSFS_Io *slow_open_read(void *, const char *name)
{
    if (SDL_strcmp(name, "slow.ttf") != 0) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
        return nullptr;
    }
    auto *io = new PHYSFS_Io{};
    io->opaque = new SlowReader{0, slow_font->opens++ == 0};
    io->read = slow_read;
    io->seek = slow_seek;
    io->tell = slow_tell;
    io->length = slow_length;
    io->destroy = slow_destroy;
    return io;
}
PHYSFS_Io *slow_open_write(void *, const char *)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return nullptr;
}
int slow_modify(void *, const char *)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return 0;
}
int slow_stat(void *, const char *name, PHYSFS_Stat *st)
{
    if (SDL_strcmp(name, "slow.ttf") != 0) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
        return 0;
    }
    *st = PHYSFS_Stat{};
    st->filesize = (PHYSFS_sint64)slow_font->bytes.size();
    st->filetype = PHYSFS_FILETYPE_REGULAR;
    st->readonly = 1;
    return 1;
}
void slow_close_archive(void *) {}

// The stream the archive is mounted from: empty, and static.
PHYSFS_sint64 empty_read(PHYSFS_Io *, void *, PHYSFS_uint64) { return 0; }
int empty_seek(PHYSFS_Io *, PHYSFS_uint64 offset) { return offset == 0; }
PHYSFS_sint64 empty_tell(PHYSFS_Io *) { return 0; }
void empty_destroy(PHYSFS_Io *) {}
PHYSFS_Io empty_archive_io = {0, nullptr, empty_read, nullptr, empty_seek, empty_tell, empty_tell,
                              nullptr, nullptr, empty_destroy};

const PHYSFS_Archiver slow_archiver = {
    0,
    {"KVNSLOW", "test archive with a slow font", "test", "", 0},
    slow_open_archive, slow_enumerate, slow_open_read, slow_open_write, slow_open_write,
    slow_modify, slow_modify, slow_stat, slow_close_archive,
};

class LabelTest : public RenderTest {
protected:
    Image draw_label(const Label &l)
    {
        Frame f;
        f.screen([&](Frame &fr) { fr.label(l); });
        present(f);
        return capture();
    }
    std::string font_bytes() { return kvn_test::read_os_file(dir_.file("font.ttf")); }
};

TEST_F(LabelTest, AlignmentPlacesTheMeasuredWidthAroundX)
{
    float width = 0, height = 0;
    fontatlas_calcstringrect(ctx_->fallback_font, "HHHH", &width, &height, 22);
    ASSERT_GT(width, 40);

    struct Case { int alignment; float expect_left; };
    const Case cases[] = {{0, 640}, {1, 640 - width / 2}, {2, 640 - width}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alignment);
        const SDL_Rect e = draw_label({.x = 640, .y = 400, .text = "HHHH", .alignment = c.alignment}).extent(white);
        const float drawn = (float)(e.w - e.x + 1);
        // The ink is the advance width minus the side bearings of the end glyphs.
        EXPECT_NEAR(drawn, width, 6);
        EXPECT_NEAR((float)e.x, c.expect_left, 4);
        EXPECT_LE((float)e.w, c.expect_left + width);
    }
    // An explicit anchor wins over the alignment.
    const SDL_Rect anchored =
        draw_label({.x = 640, .y = 400, .text = "HHHH", .alignment = 0, .has_anchor_x = 1, .anchor_x = 1}).extent(white);
    EXPECT_NEAR((float)anchored.w, 640, 4);
}

TEST_F(LabelTest, VerticalAlignmentMovesByOneLineHeight)
{
    float width = 0, line = 0;
    fontatlas_calcstringrect(ctx_->fallback_font, "W", &width, &line, 22);
    const SDL_Rect top = draw_label({.x = 100, .y = 400, .text = "H", .valign = 2}).extent(white);
    const SDL_Rect up = draw_label({.x = 100, .y = 400, .text = "H", .valign = 0}).extent(white);
    const SDL_Rect mid = draw_label({.x = 100, .y = 400, .text = "H", .valign = 1}).extent(white);
    // Default: the top of the line box is at y (window row 320), the cap below it.
    EXPECT_GE(top.y, 320);
    EXPECT_LE(top.y, 320 + (int)line / 2);
    EXPECT_NEAR(up.y, top.y - (int)line, 1);
    EXPECT_NEAR(mid.y, top.y - (int)line / 2, 1);
    const SDL_Rect anchored = draw_label({.x = 100, .y = 400, .text = "H", .has_anchor_y = 1, .anchor_y = 0}).extent(white);
    EXPECT_EQ(anchored.y, up.y);
}

TEST_F(LabelTest, SizeEnumAndSizeInPixelsDrawTheSameText)
{
    struct Case { Label a, b; };
    const Case same[] = {
        {{.x = 100, .y = 400, .size_enum = 0}, {.x = 100, .y = 400, .size_px = 22}},
        {{.x = 100, .y = 400, .size_enum = 1}, {.x = 100, .y = 400, .size_px = 24}},
        {{.x = 100, .y = 400, .size_enum = -1}, {.x = 100, .y = 400, .size_px = 20}},
        {{.x = 100, .y = 400, .size_enum = 5, .size_px = 40}, {.x = 100, .y = 400, .size_px = 40}},
    };
    for (const Case &c : same) {
        EXPECT_EQ(draw_label(c.a).px, draw_label(c.b).px) << c.a.size_enum << " vs " << c.b.size_px;
    }
    EXPECT_NE(draw_label({.x = 100, .y = 400, .size_enum = 0}).px, draw_label({.x = 100, .y = 400, .size_enum = 1}).px);
}

TEST_F(LabelTest, ColourAndUtf8)
{
    const SDL_Rect e = draw_label({.x = 100, .y = 400, .text = "\xc3\xa9\xe2\x82\xac\xff!", .r = 255}).extent(white);
    EXPECT_GT(e.w - e.x, 20);  // é, € and ! drawn; the stray byte skipped
    const Image img = draw_label({.x = 100, .y = 400, .text = "HHHH", .r = 255, .size_px = 60});
    bool reddish = false;
    for (int x = 100; x < 200; ++x) reddish = reddish || img.at(x, 360) == red;
    EXPECT_TRUE(reddish);
}

TEST_F(LabelTest, FontsLoadOnceAndMissingFontsFallBackForGood)
{
    dir_.write("fonts/other.ttf", font_bytes());
    fontatlas *other = lookup_font(ctx_, "fonts/other.ttf");
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, ctx_->fallback_font);
    EXPECT_EQ(lookup_font(ctx_, "fonts/other.ttf"), other);
    EXPECT_EQ(lookup_font(ctx_, nullptr), ctx_->fallback_font);

    EXPECT_EQ(lookup_font(ctx_, "fonts/late.ttf"), ctx_->fallback_font);
    dir_.write("fonts/late.ttf", font_bytes());
    EXPECT_EQ(lookup_font(ctx_, "fonts/late.ttf"), ctx_->fallback_font);  // not tried again

    EXPECT_EQ(draw_label({.x = 100, .y = 400, .font = "fonts/none.ttf"}).px, draw_label({.x = 100, .y = 400}).px);
}

TEST_F(LabelTest, BadFontFilesAreRefused)
{
    const std::string font = font_bytes();
    dir_.write("fonts/garbage.ttf", std::string(4096, '\x7f'));
    dir_.write("fonts/truncated.ttf", font.substr(0, 2000));
    std::string lying = font.substr(0, 64);  // a table directory pointing past the end
    dir_.write("fonts/lying.ttf", lying);
    for (const char *path : {"fonts/garbage.ttf", "fonts/truncated.ttf", "fonts/lying.ttf"}) {
        EXPECT_EQ(fontatlas_new(ctx_->renderer, path), nullptr) << path;
        EXPECT_NE(std::string(SDL_GetError()).find("is bogus or corrupt"), std::string::npos) << SDL_GetError();
    }
    EXPECT_EQ(fontatlas_new(ctx_->renderer, "fonts/missing.ttf"), nullptr);
    EXPECT_EQ(std::string(SDL_GetError()).rfind("Couldn't load 'fonts/missing.ttf': ", 0), 0u) << SDL_GetError();
}

TEST_F(LabelTest, GlyphCacheAndMeasuring)
{
    fontatlas *f = ctx_->fallback_font;
    float w = -1, h = -1;
    fontatlas_calcstringrect(f, "", &w, &h, 22);
    EXPECT_EQ(w, 0);
    EXPECT_FLOAT_EQ(h, (float)(f->ascender - f->descender + f->line_gap) * fontatlas_get_scale(f, 22));

    const char *text = "Kerning AVATAR, Wolf!";
    float before = 0, after = 0, uncached = 0;
    fontatlas_calcstringrect(f, text, &before, nullptr, 31.5f);
    fontatlas_calcstringrect_uncached(f, text, &uncached, nullptr, 31.5f);
    for (const char *p = text; *p; ++p) ASSERT_NE(fontatlas_getglyph(f, *p, 31.5f), nullptr) << *p;
    fontatlas_calcstringrect(f, text, &after, nullptr, 31.5f);
    EXPECT_NEAR(before, after, 1e-3);
    EXPECT_NEAR(before, uncached, (float)SDL_strlen(text));  // truncation of each advance

    EXPECT_EQ(fontatlas_getglyph(f, 0, 22), nullptr);
    EXPECT_EQ(fontatlas_getglyph(f, 0x10FFFD, 22), nullptr);
    EXPECT_EQ(fontatlas_getglyph(f, 0x10FFFD, 22), nullptr);
    for (float bad : {0.0f, -5.0f, NAN, INFINITY}) EXPECT_EQ(fontatlas_getglyph(f, 'A', bad), nullptr) << bad;

    // Bigger than a page: cached with its metrics, without a texture.
    const fontatlas_glyph *huge = fontatlas_getglyph(f, 'W', 3000);
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->page, nullptr);
    EXPECT_GT(huge->advance, 1000);
    EXPECT_EQ(fontatlas_getglyph(f, 'W', 3000), huge);

    // Many sizes fill more than one page without losing glyphs.
    for (int size = 60; size < 160; size += 3)
        for (char c = 'A'; c <= 'Z'; ++c) ASSERT_NE(fontatlas_getglyph(f, c, (float)size), nullptr);
    const fontatlas_glyph *g = fontatlas_getglyph(f, 'Q', 99);
    ASSERT_NE(g->page, nullptr);
    EXPECT_GE(g->rect.x, 1);
    EXPECT_GE(g->rect.y, 1);
    EXPECT_LE(g->rect.x + g->rect.w, f->atlas->page_width - 1);
    EXPECT_LE(g->rect.y + g->rect.h, f->atlas->page_height - 1);
    EXPECT_NE(f->atlas->pages->next, nullptr);
}

TEST_F(LabelTest, MeasuringFromAnotherThreadWhileTheRenderThreadDrawsAndResets)
{
    for (int k = 0; k < 4; ++k) dir_.write("fonts/f" + std::to_string(k) + ".ttf", font_bytes());
    std::atomic<bool> stop{false};
    std::atomic<int> measured{0};
    std::thread sim([&] {
        int k = 0;
        while (!stop.load()) {
            const std::string font = "fonts/f" + std::to_string(k % 4) + ".ttf";
            const std::string sprite = "sprites/s" + std::to_string(k % 16) + ".png";
            float w = 0, h = 0;
            if (fontatlas_measure_uncached(ctx_, font.c_str(), "measure me", 22, &w, &h) && w > 0) ++measured;
            texture_entry_info info{};
            texture_entry_query(ctx_, sprite.c_str(), &info);
            ++k;
        }
    });
    for (int frame = 0; frame < 30; ++frame) {
        const std::string font = "fonts/f" + std::to_string(frame % 4) + ".ttf";
        const std::string sprite = "sprites/s" + std::to_string(frame % 16) + ".png";
        if (frame % 10 == 5) {
            SDL_Event ev{};
            ev.type = SDL_RENDER_DEVICE_RESET;
            SDL_PushEvent(&ev);
        }
        Frame f;
        f.screen([&](Frame &fr) {
            fr.label({.x = 10, .y = 300, .text = "drawn", .font = font.c_str()});
            fr.sprite({.path = sprite.c_str()});
        });
        present(f);
    }
    while (measured.load() < 10) SDL_Delay(1);
    stop = true;
    sim.join();
    EXPECT_GE(measured.load(), 10);
}

// A label drawn into a named render target must not leave the screen pass that
// follows without its logical scaling.
class ScaledLabelTest : public LabelTest {
protected:
    void configure() override { window_w_ = 640; window_h_ = 360; }
};

TEST_F(ScaledLabelTest, ScreenPassAfterALabelInATargetKeepsItsScale)
{
    Frame f;
    f.grid().passes(2);
    f.pass({.target = "rt", .w = 200, .h = 100, .transient = 1, .clear = 1}).label({.x = 10, .y = 90}).end_pass();
    f.pass().solid({.x = 0, .y = 0, .w = 100, .h = 50}).end_pass();
    present(f);
    const SDL_Rect e = capture().extent(white);
    EXPECT_EQ(e.x, 0);
    EXPECT_EQ(e.y, 335);
    EXPECT_EQ(e.w, 49);
}

TEST_F(ScaledLabelTest, GlyphsAreDrawnAtTheOutputResolution)
{
    const SDL_Rect e = draw_label({.x = 100, .y = 400, .text = "HHHH"}).extent(white);
    float width = 0;
    fontatlas_calcstringrect(ctx_->fallback_font, "HHHH", &width, nullptr, 22);
    EXPECT_NEAR(e.x, 50, 3);
    EXPECT_NEAR((float)(e.w - e.x + 1), width / 2, 5);
}

}  // namespace

// While another thread loads a font, the render thread still gets its fonts and
// draws labels; when both miss the same font at once, one copy is kept.
TEST_F(LabelTest, LoadingAFontDoesNotHoldUpOtherLookups)
{
    SlowFont slow;
    slow.bytes = font_bytes();
    slow_font = &slow;
    ASSERT_TRUE(PHYSFS_registerArchiver(&slow_archiver)) << PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());
    ASSERT_TRUE(PHYSFS_mountIo(&empty_archive_io, "slow.kvnslow", "/", 1))
        << PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());

    float sim_width = 0, sim_height = 0;
    int sim_ok = 0;
    std::thread sim([&] { sim_ok = fontatlas_measure_uncached(ctx_, "slow.ttf", "measure me", 22, &sim_width, &sim_height); });
    ASSERT_EQ(SDL_SemWaitTimeout(slow.entered, 5000), 0);

    // The simulation thread is inside its load now.
    fontatlas *plain = lookup_font(ctx_, "font.ttf");
    EXPECT_NE(plain, ctx_->fallback_font);
    Frame f;
    f.screen([&](Frame &fr) { fr.label({.x = 10, .y = 300, .text = "drawn", .font = "font.ttf"}); });
    present(f);
    fontatlas *mine = lookup_font(ctx_, "slow.ttf");  // a second, unhindered load
    EXPECT_NE(mine, ctx_->fallback_font);
    EXPECT_FALSE(slow.timed_out.load()) << "the lookups waited for the other thread's load";

    SDL_SemPost(slow.release);
    sim.join();
    EXPECT_FALSE(slow.timed_out.load());
    EXPECT_EQ(sim_ok, 1);
    EXPECT_GT(sim_width, 0);
    EXPECT_EQ(lookup_font(ctx_, "slow.ttf"), mine);  // the later copy was discarded
    EXPECT_EQ(slow.opens.load(), 2);

    EXPECT_TRUE(PHYSFS_unmount("slow.kvnslow"));
    EXPECT_TRUE(PHYSFS_deregisterArchiver("KVNSLOW"));
    slow_font = nullptr;
}
