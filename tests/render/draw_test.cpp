// The draw iteration: hand-over from the simulation thread, event streams,
// catch-up and redraw modes, top-level records, render targets, screenshots and
// the recovery after a lost render device.
#include "render/render_fixture.h"

#include <cstdio>

#include "render/fontatlas.h"
#include "render/texture.h"

using namespace render_test;

namespace {

class DrawTest : public RenderTest {
protected:
    std::string title() { return SDL_GetWindowTitle(ctx_->window); }
};

TEST_F(DrawTest, WaitsWhileTheTickIsUnchangedAndDrawsOtherwise)
{
    Frame f;
    f.screen([](Frame &) {});
    present(f);

    SDL_Event ev{};
    ev.type = SDL_USEREVENT;
    SDL_PushEvent(&ev);
    Frame queued;
    queued.screen([](Frame &) {}, {.r = 0, .g = 0, .b = 255});
    threadstreamqueue_putitem(ctx_->frame_queue, queued.release());
    SDL_AtomicSet(&atomic_draw_occurred, 0);

    // Same tick: only a 1 ms wait; events stay pending, the frame stays queued.
    EXPECT_EQ(draw_iteration(ctx_), 0);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_USEREVENT, SDL_USEREVENT), 1);
    EXPECT_EQ(threadstreamqueue_getcount(ctx_->frame_queue), 1);
    EXPECT_EQ(SDL_AtomicGet(&atomic_draw_occurred), 0);

    // In the background it draws anyway.
    SDL_AtomicSet(&sleep_occurred_flag, 1);
    draw_iteration(ctx_);
    SDL_AtomicSet(&sleep_occurred_flag, 0);
    EXPECT_EQ(threadstreamqueue_getcount(ctx_->frame_queue), 0);
    EXPECT_EQ(SDL_AtomicGet(&atomic_draw_occurred), 1);
    EXPECT_EQ(capture().at(5, 5), blue);

    // A negative published tick draws on every call.
    SDL_AtomicSet(&atomic_last_completed_global_tick_count, -1);
    const int presented = ctx_->frames_presented;
    draw_iteration(ctx_);
    draw_iteration(ctx_);
    EXPECT_EQ(ctx_->frames_presented, presented + 2);
}

TEST_F(DrawTest, EventsTravelAsOneRawStreamPerDraw)
{
    while (threadstream *s = threadstreamqueue_getitem(ctx_->event_queue)) threadstream_free(s);
    for (int code : {7, 8}) {
        SDL_Event ev{};
        ev.type = SDL_USEREVENT;
        ev.user.code = code;
        SDL_PushEvent(&ev);
    }
    redraw();
    ASSERT_EQ(threadstreamqueue_getcount(ctx_->event_queue), 1);
    threadstream *s = threadstreamqueue_getitem(ctx_->event_queue);
    ASSERT_EQ(threadstream_unpack_size_t(s), 2u);
    for (int code : {7, 8}) {
        SDL_Event ev;
        ASSERT_LE(s->read_pos + sizeof(ev), s->size);
        SDL_memcpy(&ev, s->data + s->read_pos, sizeof(ev));
        s->read_pos += sizeof(ev);
        EXPECT_EQ(ev.type, (uint32_t)SDL_USEREVENT);
        EXPECT_EQ(ev.user.code, code);
    }
    EXPECT_TRUE(threadstream_eos(s));
    threadstream_free(s);

    redraw();  // nothing pending: no empty stream is queued
    EXPECT_EQ(threadstreamqueue_getcount(ctx_->event_queue), 0);
}

TEST_F(DrawTest, CatchUpAppliesOlderFramesButPresentsOnlyTheNewest)
{
    Frame f1, f2, f3;
    // Passes skipped in catch-up never look their sprites up: a missing file there
    // leaves no warning.
    f1.i(record_set_window_title).str("first").grid().passes(3);
    f1.pass({.target = "acc", .w = 100, .h = 100}).solid({.x = 0, .y = 0, .w = 50, .h = 100}).end_pass();
    f1.pass({.target = "tmp", .w = 10, .h = 10, .transient = 1, .clear = 1});
    f1.sprite({.path = "sprites/transient-only.png"}).end_pass();
    f1.pass({.r = 0, .g = 255, .b = 0}).sprite({.path = "sprites/screen-only.png"}).end_pass();

    f2.grid().passes(2);
    f2.pass({.target = "acc", .w = 100, .h = 100}).solid({.x = 50, .y = 0, .w = 50, .h = 100, .r = 0, .b = 255}).end_pass();
    f2.pass({.r = 0, .g = 0, .b = 255}).end_pass();

    f3.screen([](Frame &fr) { fr.sprite({.path = "acc", .x = 0, .y = 0, .w = 100, .h = 100}); });

    EXPECT_EQ(present({f1.release(), f2.release(), f3.release()}), 2);
    EXPECT_EQ(title(), "first");
    const Image img = capture();
    EXPECT_EQ(img.at(25, 670), red);    // drawn into the target by the first frame
    EXPECT_EQ(img.at(75, 670), blue);   // and by the second
    const auto lines = drain_log();
    EXPECT_EQ(count_containing(lines, "transient-only.png"), 0);
    EXPECT_EQ(count_containing(lines, "screen-only.png"), 0);
}

TEST_F(DrawTest, RedrawRepeatsTheFrameWithoutItsOneShotRecords)
{
    Frame f;
    f.i(record_toggle_cursor).i(0).i(record_set_window_title).str("kept");
    f.screen([](Frame &fr) { fr.solid({.x = 0, .y = 0, .w = 10, .h = 10}); });
    present(f);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);

    SDL_ShowCursor(SDL_ENABLE);
    SDL_SetWindowTitle(ctx_->window, "changed");
    EXPECT_EQ(redraw(), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);  // one-shot: not repeated
    EXPECT_EQ(title(), "kept");                        // window title runs in every mode
    EXPECT_EQ(capture().at(5, 715), red);
}

TEST_F(DrawTest, ScreenIsClearedWithTheRememberedBackground)
{
    redraw();  // no stream at all yet: opaque black
    EXPECT_EQ(capture().at(5, 5), black);

    Frame f;
    f.screen([](Frame &) {}, {.r = 100, .g = 100, .b = 100});
    present(f);
    Frame no_screen;
    no_screen.grid();
    present(no_screen);
    EXPECT_EQ(capture().at(5, 5), grey);
}

TEST_F(DrawTest, WindowScaleRecordQuantisesTheScale)
{
    const std::pair<float, SDL_Point> cases[] = {{1.6f, {1920, 1080}}, {0.2f, {128, 72}}, {1.0f, {1280, 720}}};
    for (const auto &[scale, size] : cases) {
        SDL_AtomicSet(&atomic_resize_occurred, 0);
        Frame f;
        f.i(record_set_window_scale).f(scale);
        present(f);
        int w = 0, h = 0;
        SDL_GetWindowSize(ctx_->window, &w, &h);
        EXPECT_EQ(w, size.x) << scale;
        EXPECT_EQ(h, size.y) << scale;
        EXPECT_EQ(SDL_AtomicGet(&atomic_resize_occurred), 1);
    }
}

TEST_F(DrawTest, InvalidMouseGrabAndUnknownSystemCursorChangeNothing)
{
    SDL_Cursor *before = SDL_GetCursor();
    Frame f;
    f.i(record_set_mouse_grab).i(3).i(record_set_system_cursor).str("pirate");
    present(f);
    EXPECT_EQ(count_containing(drain_log(), "App tried to set an invalid mouse grab value of 3, ignoring"), 1);
    EXPECT_EQ(SDL_GetCursor(), before);
    EXPECT_EQ(SDL_GetRelativeMouseMode(), SDL_FALSE);
}

TEST_F(DrawTest, UnknownCodesStopAtTopLevelAndAreSkippedInsideAPass)
{
    for (int32_t code : {1, 2, 3, 4, 5, 9, 18, 22, -1, 0x7fffffff}) {
        SDL_SetWindowTitle(ctx_->window, "before");
        Frame f;
        f.i(code).i(record_set_window_title).str("after");
        present(f);
        EXPECT_EQ(title(), "before") << code;
    }
    Frame f;
    f.grid().passes(1).pass().i(42).solid({.x = 0, .y = 0, .w = 10, .h = 10}).end_pass();
    present(f);
    EXPECT_EQ(capture().at(5, 715), red);
}

TEST_F(DrawTest, KeptTargetsAccumulateClearedOnesStartEmpty)
{
    for (int clear : {0, 1}) {
        SCOPED_TRACE(clear);
        const char *name = clear ? "cleared" : "kept";
        Frame f1, f2;
        f1.grid().passes(1).pass({.r = 0, .g = 0, .b = 0, .a = 0, .target = name, .w = 100, .h = 100, .clear = clear});
        f1.solid({.x = 0, .y = 0, .w = 50, .h = 100}).end_pass();
        present(f1);
        f2.grid().passes(2).pass({.r = 0, .g = 0, .b = 0, .a = 0, .target = name, .w = 100, .h = 100, .clear = clear});
        f2.solid({.x = 50, .y = 0, .w = 50, .h = 100, .r = 0, .b = 255}).end_pass();
        f2.pass().sprite({.path = name, .x = 0, .y = 0, .w = 100, .h = 100}).end_pass();
        present(f2);
        const Image img = capture();
        EXPECT_EQ(img.at(25, 670), clear ? white : red);
        EXPECT_EQ(img.at(75, 670), blue);
    }
}

TEST_F(DrawTest, NonTransientTargetInConsecutiveFramesWarnsOnce)
{
    auto frame = [&](const char *name, int transient) {
        Frame f;
        f.grid().passes(1).pass({.target = name, .w = 10, .h = 10, .transient = transient}).end_pass();
        present(f);
    };
    for (int i = 0; i < 3; ++i) frame("kept", 0);
    auto lines = drain_log();
    EXPECT_EQ(count_containing(lines, "* WARNING: You are rendering to a non-transient render target multiple"), 1);
    EXPECT_EQ(count_containing(lines, "transient ~outputs[:kept].transient!"), 1);
    EXPECT_EQ(count_containing(lines, "Render target's name: 'kept'"), 1);

    // "pixel" is exempt, and transient targets are never read back.
    for (int i = 0; i < 3; ++i) frame("pixel", 0);
    for (int i = 0; i < 3; ++i) frame("passing", 1);
    EXPECT_EQ(count_containing(drain_log(), "non-transient render target"), 0);
}

TEST_F(DrawTest, TargetNameReusedWithAnotherSizeIsRemade)
{
    Frame f1, f2;
    f1.grid().passes(1).pass({.target = "rt", .w = 100, .h = 100, .transient = 1, .clear = 1});
    f1.solid({.x = 0, .y = 0, .w = 100, .h = 100}).end_pass();
    present(f1);
    f2.grid().passes(2).pass({.r = 0, .g = 0, .b = 255, .target = "rt", .w = 200, .h = 50, .transient = 1, .clear = 1});
    f2.end_pass().pass().sprite({.path = "rt", .x = 0, .y = 0, .w = 200, .h = 50}).end_pass();
    present(f2);
    texture_entry_info info{};
    ASSERT_TRUE(texture_entry_query(ctx_, "rt", &info));
    EXPECT_EQ(info.width, 200);
    EXPECT_EQ(info.height, 50);
    EXPECT_EQ(capture().at(150, 690), blue);
}

TEST_F(DrawTest, ScreenshotAppliesTheColourKeyAndIsNotRetakenOnRedraw)
{
    struct Case { int tolerance; int near_magenta_alpha; };
    for (const Case c : {Case{0, 255}, Case{10, 0}}) {
        SCOPED_TRACE(c.tolerance);
        const std::string path = "shots/s" + std::to_string(c.tolerance) + ".png";
        Frame f;
        f.grid().passes(2, 1);
        f.pass().end_pass();
        f.pass({.r = 255, .g = 0, .b = 255})
            .solid({.x = 100, .y = 100, .w = 50, .h = 50, .r = 255, .g = 255, .b = 255})
            .solid({.x = 200, .y = 100, .w = 50, .h = 50, .r = 250, .g = 5, .b = 250})
            .end_pass();
        f.i(record_screenshot).str(path.c_str()).f(0).f(0).f(400).f(400).i(c.tolerance).i(255).i(0).i(255).i(0);
        present(f);
        int w = 0, h = 0;
        uint8_t *px = load_image(path.c_str(), &w, &h);
        ASSERT_NE(px, nullptr) << path;
        EXPECT_EQ(w, 400);
        EXPECT_EQ(h, 400);
        auto at = [&](int x, int y) { const uint8_t *p = px + (y * w + x) * 4; return RGBA{p[0], p[1], p[2], p[3]}; };
        EXPECT_EQ(at(10, 10), (RGBA{255, 0, 255, 0}));
        EXPECT_EQ(at(120, 270), white);
        EXPECT_EQ(at(220, 270).a, c.near_magenta_alpha);
        free_image(px);

        ASSERT_EQ(std::remove(dir_.file(path).c_str()), 0);
        redraw();
        EXPECT_FALSE(kvn_test::os_file_exists(dir_.file(path)));
    }
}

TEST_F(DrawTest, ScreenshotPathCannotLeaveTheGameDirectory)
{
    Frame f;
    f.grid().passes(1, 1).pass().end_pass();
    f.i(record_screenshot).str("../escaped.png").f(0).f(0).f(10).f(10).i(0).i(0).i(0).i(0).i(255);
    f.i(record_screenshot).str("/abs/inside.png").f(0).f(0).f(10).f(10).i(0).i(0).i(0).i(0).i(255);
    present(f);
    EXPECT_FALSE(kvn_test::os_file_exists(dir_.path() + "/../escaped.png"));
    EXPECT_TRUE(kvn_test::os_file_exists(dir_.file("abs/inside.png")));
}

TEST_F(DrawTest, DeviceResetRebuildsTexturesTargetsAndFonts)
{
    const auto px = solid_pixels(8, 8, green);
    Frame f1;
    f1.i(record_upload_pixel_array).str("pa").i(8).i(8);
    threadstream_pack_buffer(f1.stream(), px.data(), (uint32_t)px.size());
    f1.grid().passes(2).pass({.r = 0, .g = 0, .b = 0, .a = 0, .target = "kt", .w = 50, .h = 50, .clear = 1});
    f1.solid({.x = 0, .y = 0, .w = 50, .h = 50}).end_pass();
    f1.pass().sprite({.path = "sprites/quad.png", .x = 300, .y = 300}).end_pass();
    present(f1);

    fontatlas *old_font = ctx_->fallback_font;
    for (SDL_EventType type : {SDL_RENDER_DEVICE_RESET, SDL_RENDER_TARGETS_RESET}) {
        SCOPED_TRACE(type);
        SDL_Event ev{};
        ev.type = type;
        SDL_PushEvent(&ev);
        // The target's pass now neither clears nor draws: what shows is its saved copy.
        Frame f2;
        f2.grid().passes(2).pass({.target = "kt", .w = 50, .h = 50}).end_pass();
        f2.pass()
            .sprite({.path = "pa", .x = 0, .y = 0, .w = 50, .h = 50})
            .sprite({.path = "kt", .x = 100, .y = 0, .w = 50, .h = 50})
            .sprite({.path = "sprites/quad.png", .x = 300, .y = 300})
            .sprite({.path = "sprites/nope.png", .x = 500, .y = 0, .w = 256, .h = 256})
            .label({.x = 800, .y = 100, .text = "still here"})
            .end_pass();
        present(f2);
        const Image img = capture();
        EXPECT_EQ(img.at(25, 695), green);
        EXPECT_EQ(img.at(125, 695), red);
        EXPECT_EQ(img.at(310, 366), red);
        EXPECT_EQ(img.at(500, 464), red);  // the checkerboard's edge
        EXPECT_NE(img.extent(white).w, -1);
        EXPECT_NE(count_containing(drain_log(), "Recovering..."), 0);
    }
    EXPECT_NE(ctx_->fallback_font, old_font);
}

}  // namespace
