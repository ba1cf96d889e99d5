// Shared fixture of the renderer's pixel tests: a real SDL window (offscreen video
// driver, software renderer) with a render context over a temporary game
// directory mounted in PhysicsFS, a frame-stream writer that packs records with
// the threadstream functions, and pixel read-back of the presented frame.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <physfs.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/metadata.h"
#include "engine/flags.h"
#include "log/log.h"
#include "render/draw.h"
#include "render/image.h"
#include "render/render_context.h"
#include "render/renderer_cvars.h"
#include "stream/records.h"
#include "stream/threadstream.h"
#include "support/fs_fixture.h"

namespace render_test {

struct RGBA {
    int r, g, b, a;
    bool operator==(const RGBA &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

inline std::ostream &operator<<(std::ostream &os, const RGBA &c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

constexpr RGBA red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255},
    black{0, 0, 0, 255}, grey{100, 100, 100, 255}, magenta{255, 0, 255, 255};

// Within tol on every colour channel (alpha ignored: the window has none).
inline bool near(const RGBA &a, const RGBA &b, int tol = 2)
{
    return std::abs(a.r - b.r) <= tol && std::abs(a.g - b.g) <= tol && std::abs(a.b - b.b) <= tol;
}

struct Image {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // RGBA rows, top first
    RGBA at(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= w || y >= h) return {-1, -1, -1, -1};
        const uint8_t *p = &px[((size_t)y * w + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    // Bounding box of the pixels that differ from bg: {left, top, right, bottom}
    // (inclusive), or all -1 when none do.
    SDL_Rect extent(const RGBA &bg, int tol = 40) const
    {
        int l = w, t = h, r = -1, b = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (!near(at(x, y), bg, tol)) {
                    l = std::min(l, x); r = std::max(r, x); t = std::min(t, y); b = std::max(b, y);
                }
        if (r < 0) return {-1, -1, -1, -1};
        return {l, t, r, b};
    }
};

// Frame stream writer: every method appends one record as the packers would.
struct Rect {
    float x = 0, y = 0, w = 10, h = 10;
    int r = 255, g = 0, b = 0, a = 255, blend = 1;
    float anchor_x = 0, anchor_y = 0;
};

struct Sprite {
    const char *path = "sprites/quad.png";
    float x = 0, y = 0, w = 64, h = 64, angle = 0;
    int r = 255, g = 255, b = 255, a = 255;
    float tile_x = 0, tile_y = 0, tile_w = -1, tile_h = -1;
    float source_x = 0, source_y = 0, source_w = -1, source_h = -1;
    int flip_h = 0, flip_v = 0;
    float angle_anchor_x = 0.5f, angle_anchor_y = 0.5f;
    int blend = 1, texture_scale = 100;
    float anchor_x = 0, anchor_y = 0;
};

struct Label {
    float x = 0, y = 0;
    const char *text = "Hello";
    const char *font = nullptr;
    float size_enum = 0;
    int alignment = 0, r = 0, g = 0, b = 0, a = 255, valign = 2, blend = 1;
    float size_px = -1;
    int has_anchor_x = 0;
    float anchor_x = 0;
    int has_anchor_y = 0;
    float anchor_y = 0;
};

struct Line {
    float x = 0, y = 0, x2 = 10, y2 = 10;
    int r = 255, g = 0, b = 0, a = 255, blend = 1;
};

struct Pass {
    int r = 255, g = 255, b = 255, a = 255;
    const char *target = nullptr;
    int w = 1280, h = 720, transient = 0, clear = 0;
};

class Frame {
public:
    Frame() : s_(threadstream_allocate())
    {
        threadstream_pack_int(s_, 0);
        threadstream_pack_int(s_, frame_header_marker);
    }
    ~Frame() { if (s_) threadstream_free(s_); }
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    threadstream *release() { threadstream *s = s_; s_ = nullptr; return s; }
    threadstream *stream() { return s_; }

    Frame &i(int32_t v) { threadstream_pack_int(s_, v); return *this; }
    Frame &f(float v) { threadstream_pack_float(s_, v); return *this; }
    Frame &str(const char *v) { threadstream_pack_string(s_, v); return *this; }

    Frame &grid(float ox = 0, float oy = 720) { return i(record_set_grid).f(ox).f(oy).i(1); }
    Frame &passes(int count, int screenshot = 0) { return i(record_passes).i(count).i(screenshot); }
    Frame &pass(const Pass &p = {})
    {
        return i(p.r).i(p.g).i(p.b).i(p.a).str(p.target).i(p.w).i(p.h).i(p.transient).i(p.clear);
    }
    Frame &end_pass() { return i(record_end_pass); }

    Frame &solid(const Rect &q, int32_t code = record_solid)
    {
        return i(code).f(q.x).f(q.y).f(0).f(q.w).f(q.h).i(q.r).i(q.g).i(q.b).i(q.a).i(q.blend).f(q.anchor_x).f(q.anchor_y);
    }
    Frame &border(const Rect &q) { return solid(q, record_border); }
    Frame &sprite(const Sprite &q)
    {
        i(record_sprite).str(q.path).f(q.x).f(q.y).f(0).f(q.w).f(q.h).f(0).f(0).f(q.angle);
        i(q.r).i(q.g).i(q.b).i(q.a).f(q.tile_x).f(q.tile_y).f(q.tile_w).f(q.tile_h);
        f(q.source_x).f(q.source_y).f(q.source_w).f(q.source_h).i(q.flip_h).i(q.flip_v);
        return f(q.angle_anchor_x).f(q.angle_anchor_y).i(q.blend).i(q.texture_scale).f(q.anchor_x).f(q.anchor_y);
    }
    Frame &label(const Label &q)
    {
        i(record_label).f(q.x).f(q.y).f(0).str(q.text).str(q.font).f(q.size_enum).i(q.alignment);
        i(q.r).i(q.g).i(q.b).i(q.a).i(q.valign).i(q.blend).f(q.size_px);
        return i(q.has_anchor_x).f(q.anchor_x).i(q.has_anchor_y).f(q.anchor_y);
    }
    Frame &line(const Line &q)
    {
        return i(record_line).f(q.x).f(q.y).f(0).f(q.x2).f(q.y2).i(q.r).i(q.g).i(q.b).i(q.a).i(q.blend);
    }
    Frame &triangle(const float pts[6], const RGBA &c, const char *path, const float src[6], int blend = 1)
    {
        i(record_triangle).f(pts[0]).f(pts[1]).f(0).f(pts[2]).f(pts[3]).f(0).f(pts[4]).f(pts[5]).f(0);
        i(c.r).i(c.g).i(c.b).i(c.a).str(path);
        for (int k = 0; k < 6; ++k) f(src[k]);
        return i(blend).i(100);
    }
    // A whole frame: the grid, one white screen pass with the body's records.
    template <typename Body>
    Frame &screen(Body body, const Pass &p = {})
    {
        grid().passes(1).pass(p);
        body(*this);
        return end_pass();
    }

private:
    threadstream *s_;
};

// 64 x 64 test texture in four 32 x 32 quadrants (image rows top first):
// top-left red, top-right green, bottom-left blue, bottom-right white.
inline std::vector<uint8_t> quad_pixels()
{
    std::vector<uint8_t> px(64 * 64 * 4);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            RGBA c = y < 32 ? (x < 32 ? red : green) : (x < 32 ? blue : white);
            uint8_t *p = &px[(y * 64 + x) * 4];
            p[0] = (uint8_t)c.r; p[1] = (uint8_t)c.g; p[2] = (uint8_t)c.b; p[3] = 255;
        }
    return px;
}

inline std::vector<uint8_t> solid_pixels(int w, int h, const RGBA &c)
{
    std::vector<uint8_t> px((size_t)w * h * 4);
    for (size_t k = 0; k < px.size(); k += 4) {
        px[k] = (uint8_t)c.r; px[k + 1] = (uint8_t)c.g; px[k + 2] = (uint8_t)c.b; px[k + 3] = (uint8_t)c.a;
    }
    return px;
}

inline std::string png_bytes(const std::vector<uint8_t> &px, int w, int h)
{
    size_t size = 0;
    uint8_t *png = encode_png(px.data(), w, h, 0, 0, &size);
    std::string out(png ? (const char *)png : "", png ? size : 0);
    SDL_free(png);
    return out;
}

class RenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_RENDER_DRIVER", "software", 1);
        // The window surface stays a plain offscreen buffer (no GL texture behind it).
        setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // SDL's session-bus probe leaks inside libdbus; the tests need no bus.
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
        ASSERT_TRUE(threadstream_init());
        log_init();
    }

    void SetUp() override
    {
        saved_hd_ = cvar_game_metadata_hd;
        saved_letterbox_ = cvar_game_metadata_hd_letterbox;
        saved_max_ = cvar_game_metadata_hd_max_scale;
        saved_allscreen_ = cvar_game_metadata_allscreen;
        cvar_renderer_vsync = 0;
        cvar_renderer_start_headless = 1;
        cvar_renderer_background_sleep = 0;
        configure();

        std::string font = kvn_test::read_os_file("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        ASSERT_FALSE(font.empty()) << "the DejaVu Sans font is needed";
        dir_.write("font.ttf", font);
        dir_.write("sprites/quad.png", png_bytes(quad_pixels(), 64, 64));
        dir_.write("sprites/white.png", png_bytes(solid_pixels(8, 8, white), 8, 8));
        physfs_ = std::make_unique<kvn_test::PhysfsSession>(std::vector<std::string>{dir_.path()}, dir_.path());
        ASSERT_TRUE(physfs_->ok()) << physfs_->error();

        ctx_ = render_context_new(development_, 0);
        ASSERT_NE(ctx_, nullptr) << SDL_GetError();
        draw_init(ctx_, dir_.path().c_str());
        resize(window_w_, window_h_);
        tick_ = 0;
        drain_log();
    }

    void TearDown() override
    {
        render_context_delete(ctx_);
        ctx_ = nullptr;
        physfs_.reset();
        drain_log();
        cvar_game_metadata_hd = saved_hd_;
        cvar_game_metadata_hd_letterbox = saved_letterbox_;
        cvar_game_metadata_hd_max_scale = saved_max_;
        cvar_game_metadata_allscreen = saved_allscreen_;
        SDL_AtomicSet(&sleep_occurred_flag, 0);
        SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);
    }

    // Metadata cvars for the context about to be made; subclasses override.
    virtual void configure() {}

    // Resizes the window and lets the draw iteration see the size-changed event.
    void resize(int w, int h)
    {
        SDL_SetWindowSize(ctx_->window, w, h);
        SDL_PumpEvents();
        render_context_update_sizes(ctx_);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    // Queues the frames and runs one draw iteration on a new tick.
    int present(std::vector<threadstream *> frames)
    {
        for (threadstream *s : frames) threadstreamqueue_putitem(ctx_->frame_queue, s);
        SDL_AtomicSet(&atomic_last_completed_global_tick_count, ++tick_);
        return draw_iteration(ctx_);
    }
    int present(Frame &f) { return present(std::vector<threadstream *>{f.release()}); }
    // A new tick without a new frame: the last one is drawn again.
    int redraw()
    {
        SDL_AtomicSet(&atomic_last_completed_global_tick_count, ++tick_);
        return draw_iteration(ctx_);
    }

    // The presented frame in output pixels.
    Image capture()
    {
        Image img;
        SDL_GetRendererOutputSize(ctx_->renderer, &img.w, &img.h);
        img.px.resize((size_t)img.w * img.h * 4);
        SDL_RenderSetLogicalSize(ctx_->renderer, 0, 0);
        SDL_RenderReadPixels(ctx_->renderer, nullptr, SDL_PIXELFORMAT_ABGR8888, img.px.data(), img.w * 4);
        SDL_RenderSetLogicalSize(ctx_->renderer, ctx_->native_render_width, ctx_->native_render_height);
        return img;
    }

    // Log messages since the last drain.
    static std::vector<std::string> drain_log()
    {
        std::vector<std::string> out;
        log_entry *entries = log_get_entries();
        for (const log_entry *e = entries; e; e = e->next) out.emplace_back(e->message);
        log_free_entries(entries);
        return out;
    }
    static int count_containing(const std::vector<std::string> &lines, const std::string &needle)
    {
        int n = 0;
        for (const std::string &l : lines) n += l.find(needle) != std::string::npos;
        return n;
    }

    kvn_test::TempDir dir_;
    std::unique_ptr<kvn_test::PhysfsSession> physfs_;
    render_context *ctx_ = nullptr;
    int tick_ = 0;
    int development_ = 0;
    int window_w_ = 1280, window_h_ = 720;

private:
    int32_t saved_hd_ = 0, saved_letterbox_ = 1, saved_max_ = 0, saved_allscreen_ = 0;
};

}  // namespace render_test
