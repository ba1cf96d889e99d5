// What a game draws, seen in the pixels: games put primitives into args.outputs
// as Hashes, Arrays, strict entities, open entities and plain objects, take a
// screenshot of the 1280x720 logical screen on a known tick and quit; the test
// decodes the PNG and checks the pixels of every case.
#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

using kvn_e2e::describe;
using kvn_e2e::Installation;

namespace {

constexpr int logical_w = 1280;
constexpr int logical_h = 720;
constexpr int wait_ms = 60000;

struct Rgb {
    int r, g, b;
};

constexpr Rgb background{230, 230, 230};  // the screen's default clear colour
constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};

// The test sprite: 4x4 pixels in four opaque quadrants, so a wrong orientation,
// tint or alpha shows in every quadrant.
constexpr Rgb quad_top_left{255, 0, 0};
constexpr Rgb quad_top_right{0, 255, 0};
constexpr Rgb quad_bottom_left{0, 0, 255};
constexpr Rgb quad_bottom_right{255, 255, 0};

std::string quad_png()
{
    std::vector<unsigned char> rgba;
    for (int row = 0; row < 4; row++) {
        for (int col = 0; col < 4; col++) {
            Rgb c = row < 2 ? (col < 2 ? quad_top_left : quad_top_right)
                            : (col < 2 ? quad_bottom_left : quad_bottom_right);
            rgba.insert(rgba.end(), {(unsigned char)c.r, (unsigned char)c.g, (unsigned char)c.b, 255});
        }
    }
    std::vector<unsigned char> png;
    EXPECT_EQ(lodepng::encode(png, rgba, 4, 4), 0u);
    return std::string(png.begin(), png.end());
}

// A decoded screenshot, RGBA rows top to bottom.
struct Image {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> rgba;
    std::string error;

    const unsigned char *at(unsigned col, unsigned row) const { return &rgba[(row * width + col) * 4]; }
};

Image load_png(const std::string &path)
{
    Image image;
    std::vector<unsigned char> file;
    unsigned rc = lodepng::load_file(file, path);
    if (rc == 0) {
        rc = lodepng::decode(image.rgba, image.width, image.height, file);
    }
    if (rc != 0 || file.empty()) {
        image.error = "cannot decode " + path + ": " + (file.empty() ? "no file" : lodepng_error_text(rc));
    }
    return image;
}

// A rectangle in logical units with the origin at the bottom left, y up, as
// the game sees it. Fill: every pixel in it has the colour; Ink: at least one
// does (anti-aliased text, one-pixel lines).
enum class Expect { Fill, Ink };

struct Probe {
    Expect expect;
    int x, y, w, h;
    Rgb colour;
    int tolerance;
};

Probe fill(int x, int y, int w, int h, Rgb colour, int tolerance = 2)
{
    return {Expect::Fill, x, y, w, h, colour, tolerance};
}

Probe clear(int x, int y, int w, int h)
{
    return fill(x, y, w, h, background);
}

Probe ink(int x, int y, int w, int h, Rgb colour, int tolerance = 8)
{
    return {Expect::Ink, x, y, w, h, colour, tolerance};
}

bool near(const unsigned char *p, Rgb c, int tolerance)
{
    return std::abs(p[0] - c.r) <= tolerance && std::abs(p[1] - c.g) <= tolerance &&
           std::abs(p[2] - c.b) <= tolerance;
}

std::string rgb_text(const unsigned char *p)
{
    return "(" + std::to_string(p[0]) + ", " + std::to_string(p[1]) + ", " + std::to_string(p[2]) + ")";
}

// Empty when the probe holds, else what was found. The probe's coordinates
// start at the image's bottom-left corner; scale is its pixels per logical
// unit (by default the whole logical screen fills the image).
std::string check(const Image &image, const Probe &p, double scale = 0)
{
    if (scale <= 0) {
        scale = (double)image.width / logical_w;
    }
    // Parts of the area beyond the image's edges are not checked.
    const int left = std::max(0, (int)(p.x * scale));
    const int right = std::min((int)image.width, (int)((p.x + p.w) * scale));
    const int top = std::max(0, (int)(image.height - (p.y + p.h) * scale));
    const int bottom = std::min((int)image.height, (int)(image.height - p.y * scale));
    if (left >= right || top >= bottom) {
        return p.expect == Expect::Ink ? "probe outside the image" : "";
    }
    for (int row = top; row < bottom; row++) {
        for (int col = left; col < right; col++) {
            const unsigned char *px = image.at(col, row);
            bool good = near(px, p.colour, p.tolerance);
            if (p.expect == Expect::Ink && good) {
                return "";
            }
            if (p.expect == Expect::Fill && !good) {
                return "(" + std::to_string((int)(col / scale)) + ", " +
                       std::to_string((int)((image.height - row - 1) / scale)) + ") is " + rgb_text(px);
            }
        }
    }
    return p.expect == Expect::Ink ? "no pixel of that colour" : "";
}

std::string probe_text(const Probe &p)
{
    return std::string(p.expect == Expect::Fill ? "fill" : "ink") + " " + std::to_string(p.x) + "," +
           std::to_string(p.y) + " " + std::to_string(p.w) + "x" + std::to_string(p.h) + " of (" +
           std::to_string(p.colour.r) + ", " + std::to_string(p.colour.g) + ", " + std::to_string(p.colour.b) + ")";
}

// One cell of a test frame: Ruby that draws into the cell whose bottom-left
// corner is (cx, cy), and probes relative to that corner. Cells are 100x100,
// twelve to a row from (20, 10); a case takes the next free cell unless it
// names one (`at`, for values that may fall back to the screen's edge).
struct Case {
    const char *name;
    const char *ruby;
    std::vector<Probe> probes;
    int at = -1;
};

constexpr int cell = 100;
constexpr int columns = 12;
constexpr int rows = 7;

int cell_x(int i)
{
    return 20 + (i % columns) * cell;
}

int cell_y(int i)
{
    return 10 + (i / columns) * cell;
}

// Cell of every case: named ones first, the rest in order; -1 when full.
std::vector<int> place(const std::vector<Case> &cases)
{
    std::vector<bool> used(columns * rows);
    std::vector<int> at(cases.size(), -1);
    for (size_t i = 0; i < cases.size(); i++) {
        if (cases[i].at >= 0 && cases[i].at < columns * rows && !used[cases[i].at]) {
            at[i] = cases[i].at;
            used[at[i]] = true;
        }
    }
    int next = 0;
    for (size_t i = 0; i < cases.size(); i++) {
        while (at[i] < 0 && next < columns * rows) {
            if (!used[next]) {
                at[i] = next;
                used[next] = true;
            }
            next++;
        }
    }
    return at;
}

// An 80x80 rectangle with its bottom-left corner at (x, y) of a cell, filled
// edge to edge, with the one-unit ring around it untouched: placement to the
// exact pixel.
std::vector<Probe> square_at(int x, int y, Rgb colour)
{
    return {fill(x, y, 80, 80, colour), clear(x, y - 1, 80, 1), clear(x, y + 80, 80, 1), clear(x - 1, y, 1, 80),
            clear(x + 80, y, 1, 80)};
}

std::vector<Probe> exact_square(Rgb colour)
{
    return square_at(10, 10, colour);
}

// The test sprite drawn untinted and opaque at (10, 10, 80, 80).
std::vector<Probe> quad_square()
{
    return {fill(10, 50, 40, 40, quad_top_left),    fill(50, 50, 40, 40, quad_top_right),
            fill(10, 10, 40, 40, quad_bottom_left), fill(50, 10, 40, 40, quad_bottom_right),
            clear(10, 9, 80, 1),                    clear(10, 90, 80, 1),
            clear(9, 10, 1, 80),                    clear(90, 10, 1, 80)};
}

// A one-pixel outline of (10, 10, 80, 80): ink on all four sides, the inside clear.
std::vector<Probe> outline(Rgb colour)
{
    return {ink(8, 30, 4, 40, colour, 2),  ink(88, 30, 4, 40, colour, 2), ink(30, 8, 40, 4, colour, 2),
            ink(30, 88, 40, 4, colour, 2), clear(14, 14, 72, 72)};
}

// A horizontal line at y 50 from x 10 to 90: ink there, clear above and below.
std::vector<Probe> hline(Rgb colour)
{
    return {ink(10, 48, 80, 4, colour, 2), clear(10, 55, 80, 40), clear(10, 5, 80, 40), clear(0, 40, 8, 20)};
}

// Text whose line box has its top-left corner at (10, 70): ink of the colour
// below and right of it, nothing above or to the left.
std::vector<Probe> text_at_10_70(Rgb colour)
{
    return {ink(10, 40, 60, 30, colour, 40), clear(0, 72, 100, 28), clear(0, 30, 8, 45)};
}

std::vector<Probe> empty_cell()
{
    return {clear(0, 0, 100, 100)};
}

struct Frame {
    kvn_test::ProcessResult result;
    Image screen;
    std::string game;  // the game directory, where the screenshots were written
};

std::string fixture(const std::string &name)
{
    return kvn_test::read_os_file(std::string(KORVANE_SOURCE_DIR) + "/tests/e2e/fixtures/" + name);
}

// Runs a game whose `draw args` is the given Ruby until its screenshot of the
// whole logical screen (taken on SHOT_TICK) is written. A script error ends
// the run at once: a paused game would never quit.
Frame run_frame(Installation &install, const std::string &draw_ruby,
                const std::vector<std::pair<std::string, std::string>> &files = {}, int shot_x = 0,
                int shot_y = 0)
{
    std::string main_rb = fixture("draw_game.rb") + "SHOT_X = " + std::to_string(shot_x) +
                          "\nSHOT_Y = " + std::to_string(shot_y) + "\n\n" + draw_ruby;
    Frame frame;
    frame.game = install.write_game("game", main_rb, files);
    kvn_test::Process engine(install.options({frame.game}));
    // Returns early when the game quits; after a report, or when it never
    // quits, the engine is stopped.
    bool raised = engine.wait_for_output("* EXCEPTION", wait_ms);
    frame.result = engine.wait(raised ? 0 : 10000);
    if (raised) {
        ADD_FAILURE() << "the game raised\n" << describe(frame.result);
        return frame;
    }
    EXPECT_EQ(frame.result.exit_status, 0) << describe(frame.result);
    frame.screen = load_png(frame.game + "/screen.png");
    return frame;
}

// A failed frame is kept beside the build for a look, build/e2e-shots/NAME.png
// (every frame with KVN_KEEP_SHOTS set).
void keep_screenshot(const Frame &frame)
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name) {
        if (c == '/') c = '_';
    }
    std::string dir = std::string(KORVANE_BINARY_DIR) + "/e2e-shots";
    kvn_test::run_shell("mkdir -p " + kvn_test::shell_quote(dir) + " && cp " +
                        kvn_test::shell_quote(frame.game + "/screen.png") + " " +
                        kvn_test::shell_quote(dir + "/" + name + ".png"));
}

// Draws every case in its own cell of one frame and checks every probe, and
// that every cell no case uses is untouched: the cases see each other, so a
// primitive that strays or blanks the frame fails its neighbours too.
void expect_cases(const std::vector<Case> &cases,
                  const std::vector<std::pair<std::string, std::string>> &files = {})
{
    std::vector<int> at = place(cases);
    std::string draw = "def draw args\n";
    for (size_t i = 0; i < cases.size(); i++) {
        ASSERT_GE(at[i], 0) << "no cell left for " << cases[i].name;
        draw += "  # " + std::string(cases[i].name) + "\n  cx, cy = " + std::to_string(cell_x(at[i])) + ", " +
                std::to_string(cell_y(at[i])) + "\n  " + cases[i].ruby + "\n";
    }
    draw += "end\n";

    Installation install;
    Frame frame = run_frame(install, draw, files);
    ASSERT_TRUE(frame.screen.error.empty()) << frame.screen.error << "\n" << describe(frame.result);
    // A 1280x720 game in its default window: the screenshot holds the logical
    // screen one to one.
    EXPECT_NE(frame.result.out.find("[Render] Logical render size: 1280x720"), std::string::npos);
    EXPECT_NE(frame.result.out.find("[Render] Native render size: 1280x720"), std::string::npos);
    ASSERT_EQ(frame.screen.width, (unsigned)logical_w);
    ASSERT_EQ(frame.screen.height, (unsigned)logical_h);
    EXPECT_EQ(frame.result.out.find("* EXCEPTION"), std::string::npos) << describe(frame.result);

    bool failed = false;
    auto expect_probe = [&](int where, const Probe &p, const std::string &what) {
        Probe absolute = p;
        absolute.x += cell_x(where);
        absolute.y += cell_y(where);
        std::string problem = check(frame.screen, absolute);
        if (!problem.empty()) {
            failed = true;
            ADD_FAILURE() << what << ": " << probe_text(p) << ": " << problem;
        }
    };
    std::vector<bool> used(columns * rows);
    for (size_t i = 0; i < cases.size(); i++) {
        used[at[i]] = true;
        for (const Probe &p : cases[i].probes) {
            expect_probe(at[i], p, std::string(cases[i].name) + "\n  " + cases[i].ruby + "\n ");
        }
    }
    for (int i = 0; i < columns * rows; i++) {
        if (!used[i]) {
            expect_probe(i, clear(0, 0, cell, cell), "unused cell " + std::to_string(i));
        }
    }
    if (failed || getenv("KVN_KEEP_SHOTS")) {
        keep_screenshot(frame);
    }
}

std::vector<std::pair<std::string, std::string>> quad_files()
{
    return {{"sprites/quad.png", quad_png()}};
}

} // namespace

// Each primitive kind from each kind of object the packers and the drawing
// fallbacks accept lands on its own rectangle, in its own colours.
TEST(DrawPixels, EveryKindFromEveryKindOfObjectLandsOnItsPixels)
{
    const Rgb c1{200, 40, 40}, c2{40, 160, 40}, c3{40, 40, 200}, c4{160, 140, 20}, c5{20, 140, 160};
    std::vector<Case> cases = {
        {"solid hash", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 200, g: 40, b: 40 }",
         exact_square(c1)},
        {"solid array", "args.outputs.solids << [cx + 10, cy + 10, 80, 80, 40, 160, 40]", exact_square(c2)},
        {"solid strict entity",
         "args.outputs.solids << strict(args, :s_solid, x: cx + 10, y: cy + 10, w: 80, h: 80, r: 40, g: 40, b: 200)",
         exact_square(c3)},
        {"solid plain object",
         "args.outputs.solids << plain(x: cx + 10, y: cy + 10, w: 80, h: 80, r: 160, g: 140, b: 20)",
         exact_square(c4)},
        {"solid open entity",
         "args.outputs.solids << args.state.new_entity(:o_solid, x: cx + 10, y: cy + 10, w: 80, h: 80, r: 20, "
         "g: 140, b: 160)",
         exact_square(c5)},

        {"sprite hash", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png' }",
         quad_square()},
        {"sprite array", "args.outputs.sprites << [cx + 10, cy + 10, 80, 80, 'sprites/quad.png']", quad_square()},
        {"sprite strict entity",
         "args.outputs.sprites << strict(args, :s_sprite, x: cx + 10, y: cy + 10, w: 80, h: 80, "
         "path: 'sprites/quad.png')",
         quad_square()},
        {"sprite plain object",
         "args.outputs.sprites << plain(x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png')",
         quad_square()},
        {"sprite open entity",
         "args.outputs.sprites << args.state.new_entity(:o_sprite, x: cx + 10, y: cy + 10, w: 80, h: 80, "
         "path: 'sprites/quad.png')",
         quad_square()},

        {"border hash", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 200, g: 40, b: 40 }",
         outline(c1)},
        {"border array", "args.outputs.borders << [cx + 10, cy + 10, 80, 80, 40, 160, 40]", outline(c2)},
        {"border strict entity",
         "args.outputs.borders << strict(args, :s_border, x: cx + 10, y: cy + 10, w: 80, h: 80, r: 40, g: 40, "
         "b: 200)",
         outline(c3)},
        {"border plain object",
         "args.outputs.borders << plain(x: cx + 10, y: cy + 10, w: 80, h: 80, r: 160, g: 140, b: 20)", outline(c4)},
        {"border open entity",
         "args.outputs.borders << args.state.new_entity(:o_border, x: cx + 10, y: cy + 10, w: 80, h: 80, r: 20, "
         "g: 140, b: 160)",
         outline(c5)},

        {"line hash", "args.outputs.lines << { x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50, r: 200, g: 40, b: 40 }",
         hline(c1)},
        {"line array", "args.outputs.lines << [cx + 10, cy + 50, cx + 90, cy + 50, 40, 160, 40]", hline(c2)},
        {"line strict entity",
         "args.outputs.lines << strict(args, :s_line, x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50, r: 40, "
         "g: 40, b: 200)",
         hline(c3)},
        {"line plain object",
         "args.outputs.lines << plain(x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50, r: 160, g: 140, b: 20)",
         hline(c4)},
        {"line open entity",
         "args.outputs.lines << args.state.new_entity(:o_line, x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50, "
         "r: 20, g: 140, b: 160)",
         hline(c5)},

        {"label hash", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', r: 200, g: 40, b: 40 }",
         text_at_10_70(c1)},
        {"label array of 7", "args.outputs.labels << [cx + 10, cy + 70, 'Hi', 40, 160, 40, 255]", text_at_10_70(c2)},
        {"label strict entity",
         "args.outputs.labels << strict(args, :s_label, x: cx + 10, y: cy + 70, text: 'Hi', r: 40, g: 40, b: 200)",
         text_at_10_70(c3)},
        {"label plain object",
         "args.outputs.labels << plain(x: cx + 10, y: cy + 70, text: 'Hi', r: 160, g: 140, b: 20)",
         text_at_10_70(c4)},
        {"label open entity",
         "args.outputs.labels << args.state.new_entity(:o_label, x: cx + 10, y: cy + 70, text: 'Hi', r: 20, "
         "g: 140, b: 160)",
         text_at_10_70(c5)},
    };
    expect_cases(cases, quad_files());
}

// What a primitive that leaves attributes out looks like: black solids, borders,
// lines and labels, opaque untinted sprites, "pixel" for a sprite without a
// path; and the positional order of array primitives (alpha before red in
// sprites, the colour after size and alignment in long labels).
TEST(DrawPixels, LeftOutAttributesTakeThePackersDefaults)
{
    std::vector<Case> cases = {
        {"solid without colour", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80 }",
         exact_square(black)},
        {"border without colour", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80 }", outline(black)},
        {"line without colour", "args.outputs.lines << { x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50 }",
         hline(black)},
        {"line from w and h", "args.outputs.lines << { x: cx + 10, y: cy + 50, w: 80, h: 0 }", hline(black)},
        {"label without colour", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi' }",
         text_at_10_70(black)},
        {"sprite without colour or alpha",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png', a: nil }",
         quad_square()},
        {"sprite without path", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80 }",
         exact_square(white)},
        {"sprite object without path", "args.outputs.sprites << plain(x: cx + 10, y: cy + 10, w: 80, h: 80)",
         exact_square(white)},
        {"sprite tinted", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 128, b: 0 }",
         exact_square({128, 255, 0})},
        {"sprite array, alpha before red",
         "args.outputs.sprites << [cx + 10, cy + 10, 80, 80, 'pixel', 0, 255, 0, 0, 255]",
         exact_square({0, 0, 255})},
        {"label array of 9",
         "args.outputs.labels << [cx + 10, cy + 70, 'Hi', 0, 0, 200, 40, 40, 255]", text_at_10_70({200, 40, 40})},
        {"solid anchored at its centre",
         "args.outputs.solids << { x: cx + 50, y: cy + 50, w: 80, h: 80, anchor_x: 0.5, anchor_y: 0.5 }",
         exact_square(black)},
        {"static solid pushed on tick 1 only",
         "args.outputs.static_solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, g: 128 } if args.state.tick_count == 1",
         exact_square({0, 128, 0})},
        {"nothing drawn: the background", "", empty_cell()},
    };
    expect_cases(cases, quad_files());
}

// Values no game should send: the alpha gate drops what it must, colours are
// clamped, negative sizes extend left and down, wrong types take the field's
// default, and things that are not primitives at all are ignored. None of them
// raises or disturbs the rest of the frame.
TEST(DrawPixels, AbsurdValuesDrawOrAreDroppedAsThePackersSay)
{
    std::vector<Case> cases = {
        {"solid alpha 0", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: 0 }", empty_cell()},
        {"solid alpha 0.5", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: 0.5 }", empty_cell()},
        {"sprite alpha false", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: false }",
         empty_cell()},
        {"sprite alpha Symbol", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: :half }",
         empty_cell()},
        {"label alpha 0", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', a: 0 }", empty_cell()},
        {"border alpha 0", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: 0 }", empty_cell()},
        {"sprite alpha 300", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, a: 300 }",
         exact_square(white)},
        {"colours out of range",
         "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 300, g: -20, b: 128 }",
         exact_square({255, 0, 128})},
        {"colours of the wrong type",
         "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 'red', g: 200.9, b: :blue }",
         exact_square({0, 200, 0})},
        {"solid of negative width", "args.outputs.solids << { x: cx + 90, y: cy + 10, w: -80, h: 80 }",
         exact_square(black)},
        {"solid of negative height", "args.outputs.solids << [cx + 10, cy + 90, 80, -80]", exact_square(black)},
        {"sprite of negative width",
         "args.outputs.sprites << { x: cx + 90, y: cy + 10, w: -80, h: 80, path: 'sprites/quad.png' }",
         quad_square()},
        {"sprite without size", "args.outputs.sprites << { x: cx + 10, y: cy + 10, path: 'sprites/quad.png' }",
         empty_cell()},
        {"position beyond 32 bits", "args.outputs.solids << { x: 2**32 + cx + 10, y: cy + 10, w: 80, h: 80 }",
         empty_cell()},
        {"sprite path a number", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 42 }",
         exact_square(white)},
        {"sprite file missing",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/missing.png' }",
         {ink(10, 10, 80, 80, black, 30), ink(10, 10, 80, 80, white, 30), clear(10, 9, 80, 1), clear(9, 10, 1, 80),
          clear(90, 10, 1, 80), clear(10, 90, 80, 1)}},
        {"label text a number", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 42 }", text_at_10_70(black)},
        {"label text a Hash", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: { a: 1 } }",
         text_at_10_70(black)},
        {"label text nil", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: nil }", empty_cell()},
        {"label size a Symbol", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', size_enum: :big }",
         text_at_10_70(black)},
        {"values that are not primitives",
         "args.outputs.solids << 42; args.outputs.solids << 'text'; args.outputs.sprites << :sym; "
         "args.outputs.sprites << []; args.outputs.labels << nil; args.outputs.lines << [[]]; "
         "args.outputs.borders << [[], []]",
         {}},
        {"objects that answer nothing",
         "args.outputs.sprites << Object.new; args.outputs.labels << Object.new; args.outputs.lines << Object.new",
         {}},
    };
    expect_cases(cases, quad_files());
}

// NaN in an attribute counts as a value of the wrong type: the field takes its
// default, so a NaN position falls back to the screen's edge (those cases sit
// in the first column or row). An infinite or astronomically large
// coordinate drops the primitive instead of wrapping it onto the screen. The
// well-formed primitives pushed after them still draw.
TEST(DrawPixels, NonFiniteValuesTakeTheDefaultOrDropThePrimitive)
{
    const int row = columns;
    std::vector<Case> cases = {
        {"solid x NaN", "args.outputs.solids << { x: Float::NAN, y: cy + 10, w: 80, h: 80 }", square_at(-20, 10, black),
         1 * row},
        {"sprite x NaN", "args.outputs.sprites << { x: Float::NAN, y: cy + 10, w: 80, h: 80 }",
         square_at(-20, 10, white), 2 * row},
        {"label x NaN", "args.outputs.labels << { x: Float::NAN, y: cy + 70, text: 'Hi' }",
         {ink(-20, 40, 60, 30, black, 40), clear(0, 72, 100, 28)}, 3 * row},
        {"border x NaN", "args.outputs.borders << [Float::NAN, cy + 10, 80, 80]",
         {ink(-20, 30, 2, 40, black, 2), ink(58, 30, 3, 40, black, 2), clear(-16, 14, 72, 72)}, 4 * row},
        {"line x2 NaN", "args.outputs.lines << { x: cx + 10, y: cy + 50, x2: Float::NAN, y2: cy + 50 }",
         {ink(-20, 48, 30, 4, black, 2), clear(-20, 55, 100, 40), clear(-20, 5, 100, 40), clear(12, 40, 80, 20)},
         5 * row},
        {"solid y NaN", "args.outputs.solids << [cx + 10, Float::NAN, 80, 80]", square_at(10, -10, black), 1},
        {"sprite y NaN", "args.outputs.sprites << { x: cx + 10, y: Float::NAN, w: 80, h: 80 }",
         square_at(10, -10, white), 2},
        {"solid anchors NaN",
         "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, anchor_x: Float::NAN, anchor_y: Float::NAN }",
         exact_square(black)},
        {"sprite w NaN", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: Float::NAN, h: 80 }", empty_cell()},
        {"sprite angle NaN",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png', "
         "angle: Float::NAN }",
         quad_square()},
        {"sprite source NaN",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png', "
         "source_x: Float::NAN, source_w: Float::NAN }",
         quad_square()},
        {"sprite tile NaN, left half of the texture",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png', "
         "tile_x: Float::NAN, tile_w: 2 }",
         {fill(10, 50, 80, 40, quad_top_left), fill(10, 10, 80, 40, quad_bottom_left)}},
        {"label size NaN", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', size_px: Float::NAN }",
         text_at_10_70(black)},
        {"label anchor_x NaN", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', anchor_x: Float::NAN }",
         text_at_10_70(black)},
        {"solid x infinite", "args.outputs.solids << { x: Float::INFINITY, y: cy + 10, w: 80, h: 80 }", empty_cell()},
        {"solid w infinite", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: Float::INFINITY, h: 80 }",
         empty_cell()},
        {"solid w beyond any screen", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 1e30, h: 80 }",
         empty_cell()},
        {"sprite y minus infinity", "args.outputs.sprites << { x: cx + 10, y: -Float::INFINITY, w: 80, h: 80 }",
         empty_cell()},
        {"line to infinity", "args.outputs.lines << { x: cx + 10, y: cy + 50, x2: Float::INFINITY, y2: cy + 50 }",
         empty_cell()},
        {"well-formed solid", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 200 }",
         exact_square({200, 0, 0})},
        {"well-formed sprite",
         "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 80, h: 80, path: 'sprites/quad.png' }", quad_square()},
        {"well-formed label", "args.outputs.labels << { x: cx + 10, y: cy + 70, text: 'Hi', b: 200 }",
         text_at_10_70({0, 0, 200})},
        {"well-formed line", "args.outputs.lines << { x: cx + 10, y: cy + 50, x2: cx + 90, y2: cy + 50, g: 200 }",
         hline({0, 200, 0})},
        {"well-formed border", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 200 }",
         outline({200, 0, 0})},
    };
    expect_cases(cases, quad_files());
}

// A rectangle with no area draws nothing, whether its size is 0, a String
// (converted to 0) or NaN (its default, 0); SDL's software renderer would widen
// such a fill to a one-pixel line.
TEST(DrawPixels, ZeroSizedRectanglesDrawNothing)
{
    std::vector<Case> cases = {
        {"solid w 0", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: 0, h: 80 }", empty_cell()},
        {"solid h 0", "args.outputs.solids << [cx + 10, cy + 10, 80, 0]", empty_cell()},
        {"solid w a String", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: '80', h: 80 }", empty_cell()},
        {"solid w NaN", "args.outputs.solids << { x: cx + 10, y: cy + 10, w: Float::NAN, h: 80 }", empty_cell()},
        {"border w 0", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 0, h: 80 }", empty_cell()},
        {"border h NaN", "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: Float::NAN }", empty_cell()},
        {"sprite w 0", "args.outputs.sprites << { x: cx + 10, y: cy + 10, w: 0, h: 80 }", empty_cell()},
    };
    expect_cases(cases);
}

// Text far too large to rasterise, or far too long, costs the frame nothing
// worse than a missing label: the engine keeps running and the borders drawn
// after the labels are there.
TEST(DrawPixels, HugeTextNeitherCrashesNorStopsTheFrame)
{
    std::vector<Case> cases = {
        {"huge sizes",
         "args.outputs.labels << { x: 0, y: 700, text: 'Huge', size_px: 1e9 }; "
         "args.outputs.labels << { x: 0, y: 700, text: 'Huge', size_enum: 2**40 }; "
         "args.outputs.labels << { x: 0, y: 700, text: 'Huge', size_px: -1e9, size_enum: -1e9 }; "
         "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80, r: 200 }",
         outline({200, 0, 0})},
        {"long text",
         "args.outputs.labels << { x: 1300, y: 700, text: 'W' * 20_000 }; "
         "args.outputs.borders << { x: cx + 10, y: cy + 10, w: 80, h: 80, g: 200 }",
         outline({0, 200, 0})},
    };
    expect_cases(cases);
}

namespace {

// Checks probes given in screen coordinates against a frame's screenshot.
void expect_probes(const Frame &frame, const std::vector<std::pair<const char *, Probe>> &probes)
{
    ASSERT_TRUE(frame.screen.error.empty()) << frame.screen.error << "\n" << describe(frame.result);
    ASSERT_EQ(frame.screen.width, (unsigned)logical_w);
    ASSERT_EQ(frame.screen.height, (unsigned)logical_h);
    bool failed = false;
    for (const auto &[what, p] : probes) {
        std::string problem = check(frame.screen, p);
        if (!problem.empty()) {
            failed = true;
            ADD_FAILURE() << what << ": " << probe_text(p) << ": " << problem;
        }
    }
    if (failed || getenv("KVN_KEEP_SHOTS")) {
        keep_screenshot(frame);
    }
}

} // namespace

// A render target drawn into on one tick keeps its pixels: later ticks draw it
// as a sprite without naming it again. A target named every tick shows what
// this tick drew into it (targets are drawn before the screen), and only that
// one is warned about as redrawn frame after frame. A target's background is
// transparent where nothing was drawn.
TEST(DrawPixels, RenderTargetDrawnOnceIsReusedOnLaterTicks)
{
    Installation install;
    Frame frame = run_frame(install, R"(
def draw args
  t = args.state.tick_count
  if t == 1
    once = args.outputs[:once]
    once.w = 100
    once.h = 100
    once.solids << { x: 0, y: 0, w: 50, h: 50, r: 200 }
    once.sprites << { x: 50, y: 0, w: 50, h: 50, path: 'sprites/quad.png' }
  end
  live = args.outputs[:live]
  live.w = 50
  live.h = 50
  live.solids << { x: 0, y: 0, w: 50, h: 50, r: t == SHOT_TICK ? 0 : 200, g: t == SHOT_TICK ? 200 : 0 }

  args.outputs.sprites << { x: 100, y: 100, w: 200, h: 200, path: :once } if t >= 1
  args.outputs.sprites << [400, 100, 100, 100, 'once'] if t >= 1
  args.outputs.sprites << { x: 600, y: 100, w: 100, h: 100, path: :live }
end
)",
                            quad_files());
    expect_probes(frame, {
        {"target, red quarter, doubled", fill(102, 102, 96, 96, {200, 0, 0})},
        {"target, sprite's top left", fill(202, 152, 46, 46, quad_top_left)},
        {"target, sprite's top right", fill(252, 152, 46, 46, quad_top_right)},
        {"target, sprite's bottom left", fill(202, 102, 46, 46, quad_bottom_left)},
        {"target, sprite's bottom right", fill(252, 102, 46, 46, quad_bottom_right)},
        {"target, transparent top half", fill(100, 202, 200, 98, background)},
        {"around the doubled target", clear(90, 90, 220, 8)},
        {"same target from an Array", fill(401, 101, 48, 48, {200, 0, 0})},
        {"same target, sprite's top right", fill(476, 126, 23, 23, quad_top_right)},
        {"same target, top half", fill(400, 152, 100, 48, background)},
        {"target drawn this tick", fill(600, 100, 100, 100, {0, 200, 0})},
    });
    EXPECT_EQ(kvn_test::count_occurrences(frame.result.out, "Render target's name: 'live'"), 1u)
        << describe(frame.result);
    EXPECT_EQ(frame.result.out.find("Render target's name: 'once'"), std::string::npos) << describe(frame.result);
}

// With the origin in the middle of the screen, (0, 0) is the centre: solids,
// labels and the screenshot region all move with it.
TEST(DrawPixels, CentredOriginDrawsAroundTheMiddleOfTheScreen)
{
    Installation install;
    Frame frame = run_frame(install, R"(
def draw args
  args.grid.origin_center! if args.state.tick_count == 0
  args.outputs.solids << { x: -50, y: -50, w: 100, h: 100, r: 200 }
  args.outputs.solids << { x: 540, y: 260, w: 100, h: 100, b: 200 }
  args.outputs.sprites << { x: -640, y: -360, w: 100, h: 100 }
  args.outputs.labels << { x: -630, y: 350, text: 'top left', g: 160 }
end
)",
                            {}, -640, -360);
    expect_probes(frame, {
        {"centred square", fill(590, 310, 100, 100, {200, 0, 0})},
        {"around the centred square", clear(580, 300, 120, 9)},
        {"square at the top-right corner", fill(1180, 620, 100, 100, {0, 0, 200})},
        {"sprite at the bottom-left corner", fill(0, 0, 100, 100, white)},
        {"label below the top-left corner", ink(10, 680, 80, 30, {0, 160, 0}, 40)},
        {"nothing above the label", clear(0, 712, 200, 8)},
    });
}

// A screenshot of part of the screen holds that part, bottom-left origin and
// all, and a colour key makes exactly that colour transparent.
TEST(DrawPixels, ScreenshotOfARegionKeepsItsPlaceAndKeysOutOneColour)
{
    Installation install;
    Frame frame = run_frame(install, R"(
def draw args
  args.outputs.solids << { x: 100, y: 100, w: 100, h: 100, r: 255, b: 255 }
  args.outputs.solids << { x: 120, y: 120, w: 20, h: 20, r: 254, b: 255 }
  args.outputs.solids << { x: 200, y: 100, w: 100, h: 100, g: 255 }
  args.outputs.solids << { x: 100, y: 200, w: 200, h: 100, b: 255 }
  if args.state.tick_count == SHOT_TICK
    args.outputs.screenshots << { x: 110, y: 110, w: 140, h: 120, path: 'shots/region.png',
                                  r: 255, g: 0, b: 255, a: 0 }
  end
end
)");
    ASSERT_TRUE(frame.screen.error.empty()) << frame.screen.error;
    Image region = load_png(frame.game + "/shots/region.png");
    ASSERT_TRUE(region.error.empty()) << region.error << "\n" << describe(frame.result);
    ASSERT_EQ(region.width, 140u);
    ASSERT_EQ(region.height, 120u);

    // Colours, in the region's own coordinates from its bottom-left corner (110, 110).
    const std::vector<std::pair<const char *, Probe>> probes = {
        {"magenta", fill(0, 0, 90, 8, {255, 0, 255}, 0)},
        {"near magenta", fill(10, 10, 20, 20, {254, 0, 255}, 0)},
        {"green", fill(90, 0, 50, 90, {0, 255, 0}, 0)},
        {"blue", fill(0, 90, 140, 30, {0, 0, 255}, 0)},
    };
    for (const auto &[what, p] : probes) {
        EXPECT_EQ(check(region, p, 1.0), "") << what << ": " << probe_text(p);
    }
    // Alpha: 0 on the pure magenta, 255 everywhere else.
    int keyed = 0, wrong = 0;
    for (unsigned row = 0; row < region.height; row++) {
        for (unsigned col = 0; col < region.width; col++) {
            const unsigned char *px = region.at(col, row);
            bool magenta = px[0] == 255 && px[1] == 0 && px[2] == 255;
            keyed += magenta && px[3] == 0;
            wrong += magenta ? px[3] != 0 : px[3] != 255;
        }
    }
    EXPECT_EQ(keyed, 90 * 90 - 20 * 20);
    EXPECT_EQ(wrong, 0);
}

// The sample game in mygame/ runs as shipped: it reports once a second, raises
// nothing, and its frame shows the backdrop it drew into a render target on
// the first tick and the title on its panel.
TEST(SampleGame, RunsReportsAndDrawsItsBackdropAndTitle)
{
    Installation install;
    std::string game = install.file("mygame");
    ASSERT_EQ(kvn_test::run_shell("cp -r " + kvn_test::shell_quote(std::string(KORVANE_SOURCE_DIR) + "/mygame") +
                                  " " + kvn_test::shell_quote(game)),
              0);
    // Around the game's own tick: a screenshot on tick 90, then quit once it is written.
    std::string main_rb = kvn_test::read_os_file(game + "/app/main.rb");
    ASSERT_FALSE(main_rb.empty());
    install.write("mygame/app/main.rb", main_rb + R"(
alias sample_tick tick
def tick args
  sample_tick args
  t = args.state.tick_count
  args.outputs.screenshots << { x: 0, y: 0, w: 1280, h: 720, path: 'screen.png' } if t == 90
  $kor.request_quit if (t > 90 && $kor.ffi_file.stat('screen.png')) || t > 700
end
)");

    kvn_test::Process engine(install.options({game}));
    bool raised = engine.wait_for_output("* EXCEPTION", wait_ms);
    auto result = engine.wait(raised ? 0 : 10000);
    ASSERT_FALSE(raised) << describe(result);
    ASSERT_EQ(result.exit_status, 0) << describe(result);
    EXPECT_TRUE(kvn_test::contains_in_order(result.out, {"mygame: tick 0,", "mygame: tick 60,"})) << describe(result);

    Frame frame{result, load_png(game + "/screen.png"), game};
    expect_probes(frame, {
        {"backdrop, dark tiles", ink(40, 160, 200, 240, {18, 22, 38}, 0)},
        {"backdrop, light tiles", ink(40, 160, 200, 240, {24, 30, 52}, 0)},
        {"title", ink(500, 600, 280, 100, {240, 240, 255}, 10)},
    });
}
