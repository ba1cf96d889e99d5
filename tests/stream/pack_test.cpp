// The native packers: defaults, conversions, the alpha gate, atlas substitution,
// Hash, object and strict-entity readers, and where records go outside a pass.
#include "stream/pack_fixture.h"

#include <cfloat>
#include <climits>

using namespace pack_test;

namespace {

class PackTest : public PackFixture {
protected:
    void restart()
    {
        stream->size = 0;
        stream->read_pos = 0;
        stream->error = 0;
    }
    int sprite_hash(const std::string &ruby)
    {
        return threadstream_pack_sprite_hash(mrb, eval(ruby));
    }
};

TEST_F(PackTest, SpriteHashFillsEveryDefault)
{
    ASSERT_EQ(sprite_hash("{ x: 0, y: 0, w: 10, h: 10 }"), 1);
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.path, text("pixel"));
    EXPECT_EQ(r.w, 10.0f);
    EXPECT_EQ(r.h, 10.0f);
    EXPECT_EQ(r.z, 0.0f);
    EXPECT_EQ(r.angle, 0.0f);
    EXPECT_EQ(r.angle_x, 0.0f);
    EXPECT_EQ(r.angle_y, 0.0f);
    EXPECT_EQ(r.r, 255);
    EXPECT_EQ(r.g, 255);
    EXPECT_EQ(r.b, 255);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.tile_x, 0.0f);
    EXPECT_EQ(r.tile_y, 0.0f);
    EXPECT_EQ(r.tile_w, -1.0f);
    EXPECT_EQ(r.tile_h, -1.0f);
    EXPECT_EQ(r.source_x, 0.0f);
    EXPECT_EQ(r.source_y, 0.0f);
    EXPECT_EQ(r.source_w, -1.0f);
    EXPECT_EQ(r.source_h, -1.0f);
    EXPECT_EQ(r.flip_h, 0);
    EXPECT_EQ(r.flip_v, 0);
    EXPECT_EQ(r.angle_anchor_x, 0.5f);
    EXPECT_EQ(r.angle_anchor_y, 0.5f);
    EXPECT_EQ(r.blendmode, 1);
    EXPECT_EQ(r.texture_scale, 100);
    EXPECT_EQ(r.anchor_x, 0.0f);
    EXPECT_EQ(r.anchor_y, 0.0f);
    EXPECT_TRUE(at_end());
}

// Distinct values show a field written into its neighbour's slot.
TEST_F(PackTest, SpriteHashPutsEveryAttributeInItsOwnField)
{
    ASSERT_EQ(sprite_hash("{ x: 1, y: 2, w: 3, h: 4, path: 'a.png', angle: 5, a: 6, r: 7, g: 8, b: 9,"
                          "  tile_x: 10, tile_y: 11, tile_w: 12, tile_h: 13, flip_horizontally: true,"
                          "  flip_vertically: 0, angle_anchor_x: 0.25, angle_anchor_y: 0.75, source_x: 14,"
                          "  source_y: 15, source_w: 16, source_h: 17, blendmode_enum: 3, anchor_x: 0.5,"
                          "  anchor_y: 1, z: 99, angle_x: 98, angle_y: 97, text: 'ignored' }"),
              1);
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.path, text("a.png"));
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 2.0f);
    EXPECT_EQ(r.z, 0.0f) << "z is not taken from the primitive";
    EXPECT_EQ(r.w, 3.0f);
    EXPECT_EQ(r.h, 4.0f);
    EXPECT_EQ(r.angle_x, 0.0f);
    EXPECT_EQ(r.angle_y, 0.0f);
    EXPECT_EQ(r.angle, 5.0f);
    EXPECT_EQ(r.r, 7);
    EXPECT_EQ(r.g, 8);
    EXPECT_EQ(r.b, 9);
    EXPECT_EQ(r.a, 6);
    EXPECT_EQ(r.tile_x, 10.0f);
    EXPECT_EQ(r.tile_y, 11.0f);
    EXPECT_EQ(r.tile_w, 12.0f);
    EXPECT_EQ(r.tile_h, 13.0f);
    EXPECT_EQ(r.source_x, 14.0f);
    EXPECT_EQ(r.source_y, 15.0f);
    EXPECT_EQ(r.source_w, 16.0f);
    EXPECT_EQ(r.source_h, 17.0f);
    EXPECT_EQ(r.flip_h, 1);
    EXPECT_EQ(r.flip_v, 1) << "0 is truthy";
    EXPECT_EQ(r.angle_anchor_x, 0.25f);
    EXPECT_EQ(r.angle_anchor_y, 0.75f);
    EXPECT_EQ(r.blendmode, 3);
    EXPECT_EQ(r.anchor_x, 0.5f);
    EXPECT_EQ(r.anchor_y, 1.0f);
    EXPECT_TRUE(at_end());
}

// One value through the float field x and the int field r (default 255).
TEST_F(PackTest, ValuesConvertToIntAndFloatFields)
{
    struct Case {
        const char *value;
        float as_float;
        int as_int;
    };
    const Case cases[] = {
        {"7", 7.0f, 7},
        {"7.9", 7.9f, 7},
        {"-7.9", -7.9f, -7},
        {"nil", 0.0f, 255},
        {"false", 0.0f, 255},
        {"true", 0.0f, 255},
        {":seven", 0.0f, 255},
        {"'7'", 0.0f, 255},
        {"[7]", 0.0f, 255},
        {"0.0 / 0.0", 0.0f, 255},
        {"1.0 / 0.0", FLT_MAX, INT32_MAX},
        {"1e300", FLT_MAX, INT32_MAX},
        {"-1e300", -FLT_MAX, INT32_MIN},
        {"3e9", 3e9f, INT32_MAX},
        {"2**32 + 5", 4294967301.0f, 5},
        {"0xFF0000FF", 4278190335.0f, static_cast<int>(0xFF0000FFu)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        restart();
        ASSERT_EQ(sprite_hash(std::string("{ w: 1, h: 1, x: ") + c.value + ", r: " + c.value + " }"), 1);
        SpriteRecord r = read_sprite();
        EXPECT_FLOAT_EQ(r.x, c.as_float);
        EXPECT_EQ(r.r, c.as_int);
    }
}

TEST_F(PackTest, AlphaGateDropsTransparentAndNonNumericAlpha)
{
    struct Case {
        const char *alpha;
        bool drawn;
        int written;
    };
    const Case cases[] = {
        {"nil", true, 255},   {"300", true, 300},    {"-1", true, -1},       {"1.5", true, 1},
        {"0", false, 0},      {"0.9", false, 0},     {"-0.5", false, 0},     {"false", false, 0},
        {"true", false, 0},   {":a", false, 0},      {"'255'", false, 0},    {"0.0 / 0.0", false, 0},
        {"2**32", false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alpha);
        restart();
        const std::string hash = std::string("{ w: 1, h: 1, a: ") + c.alpha + " }";
        EXPECT_EQ(sprite_hash(hash), c.drawn ? 1 : 0);
        EXPECT_EQ(threadstream_pack_label_hash(mrb, eval(std::string("{ text: 't', a: ") + c.alpha + " }")),
                  c.drawn ? 1 : 0);
        EXPECT_EQ(threadstream_pack_border_hash(mrb, eval(hash)), c.drawn ? 1 : 0);
        if (!c.drawn) {
            EXPECT_EQ(written(), 0u);
            continue;
        }
        EXPECT_EQ(read_sprite().a, c.written);
        EXPECT_EQ(read_label().a, c.written);
        EXPECT_EQ(read_rect(record_border).a, c.written);
    }
}

TEST_F(PackTest, SpriteHashReadsOnlySymbolKeysAndDropsTriangles)
{
    ASSERT_EQ(sprite_hash("{ 'x' => 50, w: 1, h: 1, 'path' => 'b.png', unknown: 3 }"), 1);
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.path, text("pixel"));

    restart();
    EXPECT_EQ(sprite_hash("{ x: 0, y: 0, x2: 5, y2: 5, x3: 0, y3: 5, source_x3: 1 }"), 0);
    EXPECT_EQ(sprite_hash("{ w: 1, h: 1, source_x3: false }"), 0) << "any non-nil value makes a triangle";
    EXPECT_EQ(written(), 0u);

    // A missing key is nil, not the Hash's default value.
    EXPECT_EQ(sprite_hash("h = Hash.new(0); h[:w] = 4; h"), 1);
    EXPECT_EQ(read_sprite().a, 255);
    EXPECT_EQ(threadstream_pack_label_hash(mrb, eval("h = Hash.new(0); h[:text] = 't'; h")), 1);
    EXPECT_EQ(read_label().a, 255);
}

TEST_F(PackTest, SpritePathTakesStringsAndSymbolsElsePixel)
{
    const std::pair<const char *, const char *> cases[] = {
        {"'sprites/hero.png'", "sprites/hero.png"}, {":hero", "hero"}, {"nil", "pixel"},
        {"5", "pixel"},  {"false", "pixel"}, {"''", ""}, {"Object.new", "pixel"},
    };
    for (const auto &[path, expected] : cases) {
        SCOPED_TRACE(path);
        restart();
        ASSERT_EQ(sprite_hash(std::string("{ w: 1, h: 1, path: ") + path + " }"), 1);
        EXPECT_EQ(read_sprite().path, text(expected));
    }
}

TEST_F(PackTest, AtlasSubstitutesTheVariantOfTheCurrentTextureScale)
{
    texture_atlas_variant variants[texture_atlas_variant_count] = {};
    std::string paths[texture_atlas_variant_count];
    for (int v = 0; v < texture_atlas_variant_count; v++) {
        paths[v] = "sprites/long-directory-name/hero@" + std::to_string(texture_atlas_scales[v]) + ".png";
        variants[v].path = paths[v].data();
        variants[v].scale_enum = texture_atlas_scales[v] == 300 ? 150 : texture_atlas_scales[v];
    }
    variants[7].path = nullptr;  // no texture for 400
    ASSERT_EQ(texture_atlas_table_put("sprites/long-directory-name/hero.png", variants), 1);

    render_context ctx{};
    the_render_context = &ctx;
    struct Case {
        int percent;
        const char *path_expr;
        const char *expected_path;
        int expected_scale;
    };
    const Case cases[] = {
        {200, "'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero@200.png", 200},
        {100, "'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero@100.png", 100},
        {300, "'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero@300.png", 150},
        // Between listed scales: the one below.
        {220, "'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero@200.png", 200},
        // No variant for this scale: the plain path.
        {400, "'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero.png", 100},
        // A slice shares the bytes of a longer string and is not terminated there.
        {200, "'sprites/long-directory-name/hero.png-and-more'[0, 36]", "sprites/long-directory-name/hero@200.png",
         200},
        // Symbols are not looked up.
        {200, ":'sprites/long-directory-name/hero.png'", "sprites/long-directory-name/hero.png", 100},
        {200, "'sprites/other.png'", "sprites/other.png", 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.percent) + " " + c.path_expr);
        restart();
        ctx.texture_scale_enum = c.percent;
        ASSERT_EQ(sprite_hash(std::string("{ w: 1, h: 1, path: ") + c.path_expr + " }"), 1);
        SpriteRecord r = read_sprite();
        EXPECT_EQ(r.path, text(c.expected_path));
        EXPECT_EQ(r.texture_scale, c.expected_scale);
    }

    // The three-dimensional variant never substitutes.
    restart();
    ctx.texture_scale_enum = 200;
    ASSERT_EQ(threadstream_pack_sprite_hash_vr(
                  mrb, eval("{ w: 1, h: 1, z: 3, angle_x: 4, angle_y: 5, anchor_x: 9,"
                            "  path: 'sprites/long-directory-name/hero.png' }")),
              1);
    SpriteRecord vr = read_sprite();
    EXPECT_EQ(vr.path, text("sprites/long-directory-name/hero.png"));
    EXPECT_EQ(vr.texture_scale, 100);
    EXPECT_EQ(vr.z, 3.0f);
    EXPECT_EQ(vr.angle_x, 4.0f);
    EXPECT_EQ(vr.angle_y, 5.0f);
    EXPECT_EQ(vr.anchor_x, 0.0f);
}

TEST_F(PackTest, SpriteObjectReadsItsMethods)
{
    eval(R"(
        class Hero
          attr_accessor :x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :flip_horizontally, :source_w
        end
        class SelfDrawn
          attr_reader :drawn_with
          def draw_override(ffi) = (@drawn_with = ffi; :done)
          def w = 5
          def h = 5
        end
        class Broken
          def w = 5
          def h = 5
          def x = raise('no x today')
        end
        class Triangle
          def x = 0
          def x2 = 5
        end
        $hero = Hero.new
        $hero.x, $hero.y, $hero.w, $hero.h, $hero.path = 10, 20, 30, 40, 'hero.png'
        $hero.r, $hero.flip_horizontally, $hero.source_w = 4, true, 8
    )");
    ASSERT_EQ(threadstream_pack_sprite_object(mrb, eval("$hero")), 1);
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.path, text("hero.png"));
    EXPECT_EQ(r.x, 10.0f);
    EXPECT_EQ(r.y, 20.0f);
    EXPECT_EQ(r.w, 30.0f);
    EXPECT_EQ(r.h, 40.0f);
    EXPECT_EQ(r.r, 4);
    EXPECT_EQ(r.g, 255);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.flip_h, 1);
    EXPECT_EQ(r.source_w, 8.0f);
    EXPECT_EQ(r.tile_w, -1.0f) << "a method the object lacks takes its default";
    EXPECT_TRUE(at_end());

    restart();
    eval("$hero.a = 0");
    EXPECT_EQ(threadstream_pack_sprite_object(mrb, eval("$hero")), 0);

    game.ffi_draw = eval("$ffi_draw = Object.new");
    EXPECT_EQ(threadstream_pack_sprite_object(mrb, eval("$self_drawn = SelfDrawn.new")), 0);
    EXPECT_EQ(inspect(eval("$self_drawn.drawn_with.equal?($ffi_draw)")), "true");

    EXPECT_EQ(threadstream_pack_sprite_object(mrb, eval("Triangle.new")), 0);
    EXPECT_EQ(written(), 0u);

    // Outside a script frame the exception stays pending for the caller to report.
    EXPECT_EQ(threadstream_pack_sprite_object(mrb, eval("Broken.new")), 0);
    EXPECT_EQ(error_text(), "RuntimeError: no x today");
    EXPECT_EQ(written(), 0u);
}

TEST_F(PackTest, StrictEntityIsReadFromItsInstanceVariables)
{
    eval(R"(
        class Entity
          def initialize(**attrs) = attrs.each { |k, v| instance_variable_set("@#{k}", v) }
          def x = raise('methods are not called')
        end
    )");
    ASSERT_EQ(threadstream_pack_sprite_strict_entity(
                  mrb, eval("Entity.new(x: 3, y: 4, w: 5, h: 6, path: :knight, b: 7, flip_vertically: true,"
                            "           tile_w: 16, blendmode_enum: 2, anchor_y: 0.5)")),
              1);
    EXPECT_EQ(error_text(), "");
    SpriteRecord r = read_sprite();
    EXPECT_EQ(r.path, text("knight"));
    EXPECT_EQ(r.x, 3.0f);
    EXPECT_EQ(r.y, 4.0f);
    EXPECT_EQ(r.w, 5.0f);
    EXPECT_EQ(r.h, 6.0f);
    EXPECT_EQ(r.r, 255);
    EXPECT_EQ(r.b, 7);
    EXPECT_EQ(r.flip_v, 1);
    EXPECT_EQ(r.tile_w, 16.0f);
    EXPECT_EQ(r.tile_h, -1.0f);
    EXPECT_EQ(r.blendmode, 2);
    EXPECT_EQ(r.anchor_y, 0.5f);

    restart();
    EXPECT_EQ(threadstream_pack_sprite_strict_entity(mrb, eval("Entity.new(w: 1, h: 1, source_x3: 2)")), 0);
    EXPECT_EQ(threadstream_pack_sprite_strict_entity(mrb, eval("Entity.new(w: 1, h: 1, a: 0)")), 0);
    EXPECT_EQ(written(), 0u);
}

TEST_F(PackTest, LabelDefaultsAndTextConversions)
{
    ASSERT_EQ(threadstream_pack_label_hash(mrb, eval("{ x: 1, y: 2, text: 'hello' }")), 1);
    LabelRecord r = read_label();
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 2.0f);
    EXPECT_EQ(r.z, 0.0f);
    EXPECT_EQ(r.text, text("hello"));
    EXPECT_EQ(r.font, null_text);
    EXPECT_EQ(r.size_enum, 0.0f);
    EXPECT_EQ(r.alignment, 0);
    EXPECT_EQ(r.r, 0);
    EXPECT_EQ(r.g, 0);
    EXPECT_EQ(r.b, 0);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.vertical_alignment, 2);
    EXPECT_EQ(r.blendmode, 1);
    EXPECT_EQ(r.size_px, -1.0f);
    EXPECT_EQ(r.has_anchor_x, 0);
    EXPECT_EQ(r.anchor_x, 0.0f);
    EXPECT_EQ(r.has_anchor_y, 0);
    EXPECT_EQ(r.anchor_y, 0.0f);
    EXPECT_TRUE(at_end());

    eval("class NilText; def to_s = nil; end; class Named; def to_s = 'named'; end");
    const std::pair<const char *, Text> texts[] = {
        {"42", text("42")}, {"nil", text("")},          {":sym", text("sym")},      {"1.5", text("1.5")},
        {"[1, 2]", text("[1, 2]")}, {"NilText.new", null_text}, {"Named.new", text("named")},
    };
    for (const auto &[value, expected] : texts) {
        SCOPED_TRACE(value);
        restart();
        ASSERT_EQ(threadstream_pack_label_hash(mrb, eval(std::string("{ text: ") + value + " }")), 1);
        EXPECT_EQ(read_label().text, expected);
    }
}

TEST_F(PackTest, LabelFontsSizesAndAnchors)
{
    ASSERT_EQ(threadstream_pack_label_hash(
                  mrb, eval("{ text: 't', font: 'fonts/a.ttf', size_enum: 2.5, alignment_enum: 1.9, r: 1, g: 2,"
                            "  b: 3, a: 4, vertical_alignment_enum: 0, blendmode_enum: 0, size_px: 30, z: 7,"
                            "  anchor_x: 0.5, anchor_y: false }")),
              1);
    LabelRecord r = read_label();
    EXPECT_EQ(r.font, text("fonts/a.ttf"));
    EXPECT_EQ(r.size_enum, 2.5f);
    EXPECT_EQ(r.alignment, 1);
    EXPECT_EQ(r.r, 1);
    EXPECT_EQ(r.g, 2);
    EXPECT_EQ(r.b, 3);
    EXPECT_EQ(r.a, 4);
    EXPECT_EQ(r.z, 7.0f);
    EXPECT_EQ(r.vertical_alignment, 0);
    EXPECT_EQ(r.blendmode, 0);
    EXPECT_EQ(r.size_px, 30.0f);
    EXPECT_EQ(r.has_anchor_x, 1);
    EXPECT_EQ(r.anchor_x, 0.5f);
    EXPECT_EQ(r.has_anchor_y, 0) << "false is no anchor";

    const std::pair<const char *, Text> fonts[] = {
        {"nil", null_text}, {":mono", text("mono")}, {"12", null_text}};
    for (const auto &[font, expected] : fonts) {
        SCOPED_TRACE(font);
        restart();
        ASSERT_EQ(threadstream_pack_label_hash(mrb, eval(std::string("{ text: 't', font: ") + font + " }")), 1);
        EXPECT_EQ(read_label().font, expected);
    }
}

TEST_F(PackTest, LabelObjectCallsZOnlyWhenAnswered)
{
    eval(R"(
        class Caption
          attr_accessor :x, :y, :text, :r, :a
        end
        class Raising
          def text = Class.new { def to_s = raise('bad text') }.new
        end
        $c = Caption.new
        $c.x, $c.y, $c.text, $c.r = 5, 6, :hi, 9
    )");
    ASSERT_EQ(threadstream_pack_label_object(mrb, eval("$c")), 1);
    LabelRecord r = read_label();
    EXPECT_EQ(r.x, 5.0f);
    EXPECT_EQ(r.z, 0.0f);
    EXPECT_EQ(r.text, text("hi"));
    EXPECT_EQ(r.r, 9);
    EXPECT_EQ(r.vertical_alignment, 2);

    restart();
    EXPECT_EQ(threadstream_pack_label_object(mrb, eval("Raising.new")), 0);
    EXPECT_EQ(error_text(), "RuntimeError: bad text");
    EXPECT_EQ(written(), 0u);
}

TEST_F(PackTest, LineEndPointComesFromY2OrFromTheSize)
{
    struct Case {
        const char *hash;
        float x2, y2;
    };
    const Case cases[] = {
        {"{ x: 10, y: 10, w: 5, h: 0 }", 15.0f, 10.0f},
        {"{ x: 10, y: 10, w: 5 }", 15.0f, 10.0f},
        {"{ x: 10, y: 10 }", 10.0f, 10.0f},
        {"{ x: 10, y: 10, x2: 3, y2: 4, w: 50, h: 50 }", 3.0f, 4.0f},
        {"{ x: 10, y: 10, y2: 4 }", 0.0f, 4.0f},
        {"{ x: 10, y: 10, x2: 3, w: 1, h: 2 }", 11.0f, 12.0f},
        {"{ x: 1.5, y: 2.5, w: :wide, h: 0.25 }", 1.5f, 2.75f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hash);
        restart();
        ASSERT_EQ(threadstream_pack_line_hash(mrb, eval(c.hash)), 1);
        LineRecord r = read_line();
        EXPECT_EQ(r.z, 0.0f);
        EXPECT_FLOAT_EQ(r.x2, c.x2);
        EXPECT_FLOAT_EQ(r.y2, c.y2);
        EXPECT_EQ(r.r, 0);
        EXPECT_EQ(r.a, 255);
        EXPECT_EQ(r.blendmode, 1);
    }

    // Lines from Hashes and objects have no alpha gate.
    restart();
    ASSERT_EQ(threadstream_pack_line_hash(mrb, eval("{ x: 1, y: 2, x2: 3, y2: 4, r: 5, g: 6, b: 7, a: 0, "
                                                    "blendmode_enum: 2 }")),
              1);
    LineRecord r = read_line();
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 2.0f);
    EXPECT_EQ(r.r, 5);
    EXPECT_EQ(r.g, 6);
    EXPECT_EQ(r.b, 7);
    EXPECT_EQ(r.a, 0);
    EXPECT_EQ(r.blendmode, 2);
}

TEST_F(PackTest, BordersAndSolidsShareOneLayout)
{
    ASSERT_EQ(threadstream_pack_border_hash(mrb, eval("{ x: 1, y: 2, w: 3, h: 4 }")), 1);
    RectRecord r = read_rect(record_border);
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 2.0f);
    EXPECT_EQ(r.z, 0.0f);
    EXPECT_EQ(r.w, 3.0f);
    EXPECT_EQ(r.h, 4.0f);
    EXPECT_EQ(r.r, 0);
    EXPECT_EQ(r.g, 0);
    EXPECT_EQ(r.b, 0);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.blendmode, 1);
    EXPECT_EQ(r.anchor_x, 0.0f);
    EXPECT_EQ(r.anchor_y, 0.0f);

    eval("class Frame; attr_accessor :x, :w, :h, :g; end; $f = Frame.new; $f.x, $f.w, $f.h, $f.g = 7, 8, 9, 10");
    ASSERT_EQ(threadstream_pack_border_object(mrb, eval("$f")), 1);
    r = read_rect(record_border);
    EXPECT_EQ(r.x, 7.0f);
    EXPECT_EQ(r.w, 8.0f);
    EXPECT_EQ(r.g, 10);

    auto v = [&](const char *ruby) { return eval(ruby); };
    ASSERT_EQ(threadstream_pack_solid(stream, mrb, v("1"), v("2"), v("3"), v("4"), v("5"), v("6"), v("7"), v("nil"),
                                      v("4"), v("0.5"), v("1")),
              1);
    r = read_rect(record_solid);
    EXPECT_EQ(r.r, 5);
    EXPECT_EQ(r.g, 6);
    EXPECT_EQ(r.b, 7);
    EXPECT_EQ(r.a, 255);
    EXPECT_EQ(r.blendmode, 4);
    EXPECT_EQ(r.anchor_x, 0.5f);
    EXPECT_EQ(r.anchor_y, 1.0f);
    EXPECT_TRUE(at_end());
}

TEST_F(PackTest, A11yEntriesSkipNonHashesAndWriteNullForMissingText)
{
    ASSERT_EQ(threadstream_pack_a11ys(stream, mrb,
                                      eval("[{ a11y_id: 'start', a11y_text: 'Start game', a11y_trait: :button,"
                                           "   x: 1, y: 2, w: 3, h: 4 }, 5, nil, { a11y_text: 7 }]")),
              1);
    EXPECT_EQ(code(), record_a11ys);
    EXPECT_EQ(i(), 2);
    EXPECT_EQ(read_text(), text("start"));
    EXPECT_EQ(read_text(), text("Start game"));
    EXPECT_EQ(read_text(), text("button"));
    EXPECT_EQ(read_text(), null_text);
    EXPECT_EQ(f(), 1.0f);
    EXPECT_EQ(f(), 2.0f);
    EXPECT_EQ(f(), 3.0f);
    EXPECT_EQ(f(), 4.0f);
    for (int field = 0; field < 4; field++) {
        EXPECT_EQ(read_text(), null_text);
    }
    for (int field = 0; field < 4; field++) {
        EXPECT_EQ(f(), 0.0f);
    }
    EXPECT_TRUE(at_end());
    EXPECT_EQ(threadstream_pack_a11ys(stream, mrb, eval("{}")), 0);
}

TEST_F(PackTest, AStreamInErrorWritesNothing)
{
    stream->error = 1;
    const uint64_t size = stream->size;
    EXPECT_EQ(sprite_hash("{ w: 1, h: 1 }"), 0);
    EXPECT_EQ(threadstream_pack_label_hash(mrb, eval("{ text: 'x' }")), 0);
    EXPECT_EQ(threadstream_pack_line_hash(mrb, eval("{ x: 1 }")), 0);
    EXPECT_EQ(threadstream_pack_border_hash(mrb, eval("{ w: 1 }")), 0);
    EXPECT_EQ(stream->size, size);
}

TEST_F(PackTest, NoCurrentStreamWritesNothing)
{
    current_threadstream = nullptr;
    EXPECT_EQ(sprite_hash("{ w: 1, h: 1 }"), 0);
    EXPECT_EQ(threadstream_pack_label_hash(mrb, eval("{ text: 'x' }")), 0);
    EXPECT_EQ(written(), 0u);
}

// Primitives made outside a pass must not reach the top level, where their code
// would end the frame; top-level records made inside a pass must not land between
// its primitives.
TEST_F(PackTest, RecordsMadeInTheWrongPlaceWaitForTheRightOne)
{
    ASSERT_EQ(log_init(), 1);
    log_free_entries(log_get_entries());
    pack_pass_end();

    EXPECT_EQ(sprite_hash("{ w: 1, h: 1, path: 'early.png' }"), 1);
    EXPECT_EQ(sprite_hash("{ w: 2, h: 2, path: 'second.png' }"), 1);
    EXPECT_EQ(written(), 0u) << "nothing at the top level";
    ASSERT_NE(pack_toplevel_stream(), nullptr);
    EXPECT_EQ(pack_toplevel_stream(), stream);

    // The screen pass: its header, then the kept primitives.
    threadstream_pack_int(stream, 1234);
    pack_pass_begin();
    EXPECT_NE(pack_toplevel_stream(), stream) << "a top-level record inside a pass waits";
    threadstream_pack_int(pack_toplevel_stream(), record_set_window_title);
    threadstream_pack_string(pack_toplevel_stream(), "later");
    EXPECT_EQ(pack_flush_stray_primitives(stream), 1);
    EXPECT_EQ(sprite_hash("{ w: 3, h: 3, path: 'in_pass.png' }"), 1);
    threadstream_pack_int(stream, record_end_pass);
    pack_pass_end();
    pack_frame_end(stream);

    EXPECT_EQ(i(), 1234);
    EXPECT_EQ(read_sprite().path, text("early.png"));
    EXPECT_EQ(read_sprite().path, text("second.png"));
    EXPECT_EQ(read_sprite().path, text("in_pass.png"));
    EXPECT_EQ(code(), record_end_pass);
    EXPECT_EQ(code(), record_set_window_title);
    EXPECT_EQ(read_text(), text("later"));
    EXPECT_TRUE(at_end());

    // A frame without a screen pass drops them, and says so once.
    for (int frame = 0; frame < 2; frame++) {
        restart();
        EXPECT_EQ(sprite_hash("{ w: 1, h: 1 }"), 1);
        pack_frame_end(stream);
        EXPECT_EQ(written(), 0u);
        EXPECT_EQ(pack_flush_stray_primitives(stream), 0) << "nothing carried into the next frame";
    }
    int explained = 0, dropped = 0;
    log_entry *entries = log_get_entries();
    for (const log_entry *e = entries; e; e = e->next) {
        explained += std::string(e->message).find("outside a render pass (during tick") != std::string::npos;
        dropped += std::string(e->message).find("were dropped") != std::string::npos;
    }
    log_free_entries(entries);
    EXPECT_EQ(explained, 1);
    EXPECT_EQ(dropped, 1);
    log_quit();
}

} // namespace
