// FFI::Draw: every method's record, its argument checks, the alpha gate and the
// pixel-array upload, called from Ruby on a real interpreter.
#include "stream/ffi_draw.h"
#include "stream/pack_fixture.h"

#include <SDL.h>

#include <climits>
#include <cstring>

using namespace pack_test;

namespace {

class DrawTest : public PackFixture {
protected:
    void SetUp() override
    {
        PackFixture::SetUp();
        ffi_draw_define(mrb);
        eval("$d = FFI::Draw.new");
        ctx = render_context{};
        the_render_context = &ctx;
    }
    // Runs the calls, then rewinds for reading. Primitives are drawn as inside a
    // pass; tests of top-level records leave the pass first.
    void draw(const std::string &calls)
    {
        stream->size = stream->read_pos = 0;
        stream->error = 0;
        eval(calls);
    }
    render_context ctx;
};

TEST_F(DrawTest, SolidsAndBordersTakeTheirArgumentsInOrder)
{
    for (const auto &[method, code] : {std::pair{"solid", record_solid}, std::pair{"border", record_border}}) {
        SCOPED_TRACE(method);
        const std::string m = std::string("$d.draw_") + method;
        draw(m + "(1, 2, 3, 4, 5, 6, 7, nil)");
        RectRecord r = read_rect(code);
        EXPECT_EQ(r.x, 1.0f);
        EXPECT_EQ(r.y, 2.0f);
        EXPECT_EQ(r.z, 0.0f);
        EXPECT_EQ(r.w, 3.0f);
        EXPECT_EQ(r.h, 4.0f);
        EXPECT_EQ(r.r, 5);
        EXPECT_EQ(r.g, 6);
        EXPECT_EQ(r.b, 7);
        EXPECT_EQ(r.a, 255);
        EXPECT_EQ(r.blendmode, 1);
        EXPECT_EQ(r.anchor_x, 0.0f);
        EXPECT_EQ(r.anchor_y, 0.0f);
        EXPECT_TRUE(at_end());

        draw(m + "_2(1, 2, 3, 4, nil, :red, 'g', 9, 3) ; " + m + "_3(0, 0, 1, 1, 0, 0, 0, 255, nil, 0.5, 1)");
        r = read_rect(code);
        EXPECT_EQ(r.r, 0) << "colours default to 0";
        EXPECT_EQ(r.g, 0);
        EXPECT_EQ(r.a, 9);
        EXPECT_EQ(r.blendmode, 3);
        r = read_rect(code);
        EXPECT_EQ(r.blendmode, 1);
        EXPECT_EQ(r.anchor_x, 0.5f);
        EXPECT_EQ(r.anchor_y, 1.0f);

        draw(m + "(0, 0, 10, 10, 255, 0, 0, 0); " + m + "_3(0, 0, 1, 1, 1, 1, 1, 0.5, 1, 0, 0)");
        EXPECT_EQ(written(), 0u) << "alpha 0 and 0.5 are gated";
    }
}

TEST_F(DrawTest, LinesGoFromTheFirstToTheSecondPoint)
{
    draw("$d.draw_line(1, 2, 30, 40, 5, 6, 7, 8); $d.draw_line_2(1, 2, 3, 4, 0, 0, 0, nil, 2)");
    LineRecord r = read_line();
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 2.0f);
    EXPECT_EQ(r.x2, 30.0f);
    EXPECT_EQ(r.y2, 40.0f);
    EXPECT_EQ(r.r, 5);
    EXPECT_EQ(r.g, 6);
    EXPECT_EQ(r.b, 7);
    EXPECT_EQ(r.a, 8);
    EXPECT_EQ(r.blendmode, 1);
    r = read_line();
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.blendmode, 2);
    EXPECT_TRUE(at_end());

    draw("$d.draw_line(1, 2, 3, 4, 5, 6, 7, 0); $d.draw_line_2(1, 2, 3, 4, 5, 6, 7, false, 1)");
    EXPECT_EQ(written(), 0u);
}

TEST_F(DrawTest, SpriteMethodsFillWhatTheyAreNotGiven)
{
    draw("$d.draw_sprite(1, 2, 3, 4, 'a.png')");
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.path, text("a.png"));
    EXPECT_EQ(r.w, 3.0f);
    EXPECT_EQ(r.r, 255);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.tile_w, -1.0f);
    EXPECT_EQ(r.source_h, -1.0f);
    EXPECT_EQ(r.angle_anchor_x, 0.5f);
    EXPECT_EQ(r.blendmode, 1);
    EXPECT_EQ(r.texture_scale, 100);

    draw("$d.draw_sprite_2(1, 2, 3, 4, 'b.png', 45, 128)");
    r = read_sprite();
    EXPECT_EQ(r.angle, 45.0f);
    EXPECT_EQ(r.a, 128);

    const std::string args22 = "1, 2, 3, 4, 'c.png', 5, 6, 7, 8, 9, 10, 11, 12, 13, true, nil, 0.1, 0.2, 14, 15, 16, 17";
    draw("$d.draw_sprite_3(" + args22 + "); $d.draw_sprite_4(" + args22 + ", 3); $d.draw_sprite_5(" + args22 +
         ", 4, 0.5, 0.25)");
    for (int blend : {1, 3, 4}) {
        r = read_sprite();
        EXPECT_EQ(r.path, text("c.png"));
        EXPECT_EQ(r.angle, 5.0f);
        EXPECT_EQ(r.a, 6);
        EXPECT_EQ(r.r, 7);
        EXPECT_EQ(r.g, 8);
        EXPECT_EQ(r.b, 9);
        EXPECT_EQ(r.tile_x, 10.0f);
        EXPECT_EQ(r.tile_h, 13.0f);
        EXPECT_EQ(r.flip_h, 1);
        EXPECT_EQ(r.flip_v, 0);
        EXPECT_FLOAT_EQ(r.angle_anchor_x, 0.1f);
        EXPECT_FLOAT_EQ(r.angle_anchor_y, 0.2f);
        EXPECT_EQ(r.source_x, 14.0f);
        EXPECT_EQ(r.source_h, 17.0f);
        EXPECT_EQ(r.blendmode, blend);
        EXPECT_EQ(r.anchor_x, blend == 4 ? 0.5f : 0.0f);
        EXPECT_EQ(r.anchor_y, blend == 4 ? 0.25f : 0.0f);
    }
    EXPECT_TRUE(at_end());

    draw("$d.draw_sprite_hash({ path: :hero, w: 2, h: 2 }); $d.draw_sprite_2(0, 0, 1, 1, 'x.png', 0, 0)");
    EXPECT_EQ(read_sprite().path, text("hero"));
    EXPECT_TRUE(at_end()) << "alpha 0 is gated";
}

TEST_F(DrawTest, SpriteMethodsUseTheAtlas)
{
    texture_atlas_variant variants[texture_atlas_variant_count] = {};
    variants[4] = {const_cast<char *>("hero@200.png"), 200};
    ASSERT_EQ(texture_atlas_table_put("hero.png", variants), 1);
    ctx.texture_scale_enum = 200;
    draw("$d.draw_sprite(0, 0, 1, 1, 'hero.png'); $d.draw_sprite_hash({ path: 'hero.png', w: 1 })");
    for (int n = 0; n < 2; n++) {
        SpriteRecord r = read_sprite();
        EXPECT_EQ(r.path, text("hero@200.png"));
        EXPECT_EQ(r.texture_scale, 200);
    }
}

TEST_F(DrawTest, LabelMethodsAddOneAttributeEach)
{
    const std::string args10 = "1, 2, 'hi', 3, 1, 4, 5, 6, 7";
    draw("$d.draw_label(" + args10 + ", nil); $d.draw_label_2(" + args10 + ", 'f.ttf', 0);" +
         "$d.draw_label_3(" + args10 + ", nil, 1, 2); $d.draw_label_4(" + args10 + ", nil, 1, 2, 40);" +
         "$d.draw_label_5(" + args10 + ", nil, 1, 2, 40, 0.5, nil)");
    struct Expect {
        Text font;
        int valign, blend;
        float size_px;
        int has_anchor_x;
    };
    const Expect expected[] = {
        {null_text, 2, 1, -1.0f, 0}, {text("f.ttf"), 0, 1, -1.0f, 0}, {null_text, 1, 2, -1.0f, 0},
        {null_text, 1, 2, 40.0f, 0}, {null_text, 1, 2, 40.0f, 1},
    };
    for (const Expect &e : expected) {
        LabelRecord r = read_label();
        EXPECT_EQ(r.x, 1.0f);
        EXPECT_EQ(r.y, 2.0f);
        EXPECT_EQ(r.text, text("hi"));
        EXPECT_EQ(r.size_enum, 3.0f);
        EXPECT_EQ(r.alignment, 1);
        EXPECT_EQ(r.r, 4);
        EXPECT_EQ(r.b, 6);
        EXPECT_EQ(r.a, 7);
        EXPECT_EQ(r.font, e.font);
        EXPECT_EQ(r.vertical_alignment, e.valign);
        EXPECT_EQ(r.blendmode, e.blend);
        EXPECT_EQ(r.size_px, e.size_px);
        EXPECT_EQ(r.has_anchor_x, e.has_anchor_x);
        EXPECT_EQ(r.has_anchor_y, 0);
    }
    EXPECT_TRUE(at_end());
    draw("$d.draw_label(0, 0, 'gone', 0, 0, 0, 0, 0, 0, nil)");
    EXPECT_EQ(written(), 0u);
}

TEST_F(DrawTest, TrianglesScreenshotsAndAccessibility)
{
    pack_pass_end();  // top-level records
    draw("$d.draw_triangle(*Array.new(18, 1)); $d.draw_triangle");
    EXPECT_EQ(written(), 0u);

    draw("$d.draw_screenshot('shots/a.png', 1, 2, 3, 4, 5, 6, 7, 8, 9, *Array.new(12));"
         "$d.draw_screenshot('b.png', 0, 0, 1, 1, nil, nil, nil, nil, nil)");
    EXPECT_EQ(code(), record_screenshot);
    EXPECT_EQ(read_text(), text("shots/a.png"));
    EXPECT_EQ(f(), 1.0f);
    EXPECT_EQ(f(), 2.0f);
    EXPECT_EQ(f(), 3.0f);
    EXPECT_EQ(f(), 4.0f);
    EXPECT_EQ(i(), 5) << "tolerance";
    EXPECT_EQ(i(), 7) << "r";
    EXPECT_EQ(i(), 8) << "g";
    EXPECT_EQ(i(), 9) << "b";
    EXPECT_EQ(i(), 6) << "a comes last in the record";
    EXPECT_EQ(code(), record_screenshot);
    EXPECT_EQ(read_text(), text("b.png"));
    for (int n = 0; n < 4; n++) {
        f();
    }
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(i(), 255) << "a missing alpha keys out nothing";
    EXPECT_TRUE(at_end());

    draw("$d.draw_a11ys([{ a11y_text: 'Play', x: 1 }])");
    EXPECT_EQ(code(), record_a11ys);
    EXPECT_EQ(i(), 1);
}

TEST_F(DrawTest, WindowCursorAndResourceRecords)
{
    pack_pass_end();  // top-level records
    ctx.global_tick_count = 77;
    ffi_draw_set_grid_global_tick = INT32_MIN;
    draw("$d.set_grid(1.5, 2, -1); $d.set_window_scale(nil); $d.set_window_scale(2); $d.set_window_scale('3');"
         "$d.set_cursor(nil, 0, 0); $d.set_cursor('c.png', 3, 4); $d.toggle_cursor(nil); $d.toggle_fullscreen(0);"
         "$d.set_mouse_grab(2); $d.set_window_title('Title'); $d.openurl('https://example.com');"
         "$d.unload_sprite('s.png'); $d.set_system_cursor('hand')");
    EXPECT_EQ(ffi_draw_set_grid_global_tick, 77);
    EXPECT_EQ(code(), record_set_grid);
    EXPECT_EQ(f(), 1.5f);
    EXPECT_EQ(f(), 2.0f);
    EXPECT_EQ(i(), -1);
    for (float scale : {1.0f, 2.0f, 1.0f}) {
        EXPECT_EQ(code(), record_set_window_scale);
        EXPECT_EQ(f(), scale);
    }
    EXPECT_EQ(code(), record_set_cursor);
    EXPECT_EQ(read_text(), null_text);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(code(), record_set_cursor);
    EXPECT_EQ(read_text(), text("c.png"));
    EXPECT_EQ(i(), 3);
    EXPECT_EQ(i(), 4);
    EXPECT_EQ(code(), record_toggle_cursor);
    EXPECT_EQ(i(), 0);
    EXPECT_EQ(code(), record_toggle_fullscreen);
    EXPECT_EQ(i(), 1) << "0 is truthy";
    EXPECT_EQ(code(), record_set_mouse_grab);
    EXPECT_EQ(i(), 2);
    for (const auto &[record, value] : {std::pair{record_set_window_title, "Title"},
                                        std::pair{record_openurl, "https://example.com"},
                                        std::pair{record_unload_sprite, "s.png"},
                                        std::pair{record_set_system_cursor, "hand"}}) {
        EXPECT_EQ(code(), record);
        EXPECT_EQ(read_text(), text(value));
    }
    EXPECT_TRUE(at_end());
}

TEST_F(DrawTest, WrongArgumentsRaiseTheInterpretersErrors)
{
    pack_pass_end();  // top-level records
    const std::pair<const char *, const char *> cases[] = {
        {"$d.draw_sprite(0, 0, 10, 10, :a)", "TypeError"},
        {"$d.draw_sprite_5(*Array.new(25))", "TypeError"},
        {"$d.draw_sprite_hash(5)", "TypeError"},
        {"$d.draw_label(0, 0, 42, 0, 0, 0, 0, 0, 255, nil)", "TypeError"},
        {"$d.draw_solid(1, 2)", "ArgumentError: wrong number of arguments (given 2, expected 8)"},
        {"$d.draw_sprite_3(0, 0, 1, 1, 'p', *Array.new(16))", "ArgumentError: wrong number of arguments (given 21, expected 22)"},
        {"$d.set_grid('a', 1, 1)", "TypeError"},
        {"$d.set_grid(1, 1, nil)", "TypeError"},
        {"$d.unload_sprite(5)", "TypeError"},
        {"$d.unload_sprite(\"a\\0b\")", "ArgumentError"},
        {"$d.set_cursor(:a, 0, 0)", "TypeError"},
        {"$d.set_mouse_grab(nil)", "TypeError"},
        {"$d.set_window_title(nil)", "TypeError"},
        {"$d.draw_a11ys({})", "TypeError"},
        {"$d.upload_pixel_array('p', 1, 1, 5)", "TypeError"},
        {"$d.upload_pixel_array(:p, 1, 1, [0])", "TypeError"},
        {"$d.simulate_render_targets_reset(1)", "ArgumentError"},
    };
    for (const auto &[call, error] : cases) {
        SCOPED_TRACE(call);
        draw("nil");
        const std::string text = raised(call);
        EXPECT_EQ(text.rfind(error, 0), 0u) << text;
        EXPECT_EQ(written(), 0u);
    }
}

TEST_F(DrawTest, PixelArraysAreCheckedAgainstTheirSize)
{
    pack_pass_end();  // top-level records
    draw("$d.upload_pixel_array('pix', 2, 2, [0xFF0000FF, nil, -1, 2**33 + 4, 99])");
    EXPECT_EQ(code(), record_upload_pixel_array);
    EXPECT_EQ(read_text(), text("pix"));
    EXPECT_EQ(i(), 2);
    EXPECT_EQ(i(), 2);
    uint32_t length = 0;
    const char *bytes = threadstream_unpack_buffer(stream, &length);
    ASSERT_EQ(length, 16u) << "width x height x 4 bytes; the fifth element is left out";
    uint32_t px[4];
    std::memcpy(px, bytes, sizeof px);
    EXPECT_EQ(px[0], 0xFF0000FFu);
    EXPECT_EQ(px[1], 0u);
    EXPECT_EQ(px[2], 0xFFFFFFFFu);
    EXPECT_EQ(px[3], 4u);
    EXPECT_EQ(bytes[16], 0);
    EXPECT_TRUE(at_end());

    const std::pair<const char *, const char *> refused[] = {
        {"$d.upload_pixel_array('pix', 2, 2, [1, 2, 3])",
         "ArgumentError: upload_pixel_array: the pixel array holds 3 pixels, but 2 x 2 needs 4."},
        {"$d.upload_pixel_array('pix', 0, 5, [])", "ArgumentError: upload_pixel_array: 0 x 5"},
        {"$d.upload_pixel_array('pix', -2, -2, [1, 2, 3, 4])", "ArgumentError: upload_pixel_array: -2 x -2"},
        {"$d.upload_pixel_array('pix', 2**31, 2**31, [])", "ArgumentError: upload_pixel_array: 2147483648 x"},
    };
    for (const auto &[call, error] : refused) {
        SCOPED_TRACE(call);
        draw("nil");
        const std::string text = raised(call);
        EXPECT_EQ(text.rfind(error, 0), 0u) << text;
        EXPECT_EQ(written(), 0u);
    }
}

TEST_F(DrawTest, NothingIsWrittenWithoutAGoodStream)
{
    pack_pass_end();  // top-level records
    ffi_draw_set_grid_global_tick = INT32_MIN;
    current_threadstream = nullptr;
    draw("$d.draw_solid(0, 0, 1, 1, 0, 0, 0, 255); $d.set_window_title('t'); $d.set_grid(1, 1, 1);"
         "$d.upload_pixel_array('p', 1, 1, [1])");
    EXPECT_EQ(written(), 0u);
    EXPECT_EQ(ffi_draw_set_grid_global_tick, INT32_MIN) << "no set_grid record, no grid change";

    current_threadstream = stream;
    stream->error = 1;
    eval("$d.draw_sprite(0, 0, 1, 1, 'a'); $d.openurl('u'); $d.upload_pixel_array('p', 1, 1, [1])");
    EXPECT_EQ(written(), 0u);
}

TEST_F(DrawTest, SimulatedResetsArriveAsEvents)
{
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    eval("$d.simulate_render_targets_reset; $d.simulate_render_device_reset");
    SDL_Event events[4];
    SDL_PumpEvents();
    int count = SDL_PeepEvents(events, 4, SDL_GETEVENT, SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(events[0].type, static_cast<Uint32>(SDL_RENDER_TARGETS_RESET));
    EXPECT_EQ(events[1].type, static_cast<Uint32>(SDL_RENDER_DEVICE_RESET));
    EXPECT_EQ(written(), 0u);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

} // namespace
