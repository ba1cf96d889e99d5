// The tick's walk over the render passes: which element goes to which packer or
// runtime fallback, in the collections' order, and where records made by script
// code during the tick and during the walk end up in the frame.
#include "stream/ffi_draw.h"
#include "stream/pack_fixture.h"

#include <mruby/class.h>

#include <string>
#include <vector>

#include "engine/script.h"
#include "engine/simulation.h"

using namespace pack_test;

namespace {

// A runtime that answers the tick's calls: passes it is given, and fallbacks that
// draw a label naming themselves and their element.
constexpr const char *stub_runtime = R"(
class Pass
  COLLECTIONS = [:solids, :static_solids, :sprites, :static_sprites, :primitives, :static_primitives,
                 :labels, :static_labels, :lines, :static_lines, :borders, :static_borders,
                 :debug, :static_debug, :reserved, :static_reserved]
  attr_accessor :target, :background_color, :clear_before_render
  COLLECTIONS.each { |c| attr_accessor c }
  def initialize(target = nil)
    @target = target
    @background_color = [10, 20, 30, 255]
    @clear_before_render = true
    COLLECTIONS.each { |c| instance_variable_set("@#{c}", []) }
  end
end

module Kor
  class OpenEntity
    def initialize(hash); @hash = hash; end
    def as_hash; @hash; end
  end
  class StrictEntity
    def initialize(**attrs); attrs.each { |k, v| instance_variable_set("@#{k}", v) }; end
  end
end

class StubRuntime
  attr_accessor :passes_list, :on_tick
  attr_reader :ffi_draw
  def initialize; @ffi_draw = FFI::Draw.new; @passes_list = []; end
  def method_missing(name, *args); nil; end
  def __sdl_tick__(ms); @on_tick.call(@ffi_draw) if @on_tick; end
  def passes; @passes_list; end
  def take_screenshot; false; end
  def target(pass); pass.target; end
  def render_transient(pass); false; end
  def render_width(pass); 64; end
  def render_height(pass); 32; end
  def fallback(name, p); @ffi_draw.draw_label(0, 0, "#{name} #{p.inspect}", 0, 0, 0, 0, 0, 255, nil); end
  def draw_solid(p); fallback(:draw_solid, p); end
  def draw_sprite(p); fallback(:draw_sprite, p); end
  def draw_label(p); fallback(:draw_label, p); end
  def draw_line(p); fallback(:draw_line, p); end
  def draw_border(p); fallback(:draw_border, p); end
  def draw_primitive(p); fallback(:draw_primitive, p); end
  def new_log_entry(level, ticks, subsystem, message); $log_messages << message; end
end
$log_messages = []

class Drawn
  def initialize(&block); @block = block; end
  def draw_override(ffi); @block.call(ffi); end
end
class Sprite
  attr_accessor :path, :w, :h
  def initialize(path); @path = path; @w = 1; @h = 1; end
end
class Caption
  attr_accessor :text
  def initialize(text); @text = text; end
end
class BrokenSprite
  def w; 1; end
  def h; 1; end
  def path; raise 'no path'; end
end
)";

class WalkTest : public PackFixture {
protected:
    void SetUp() override
    {
        PackFixture::SetUp();
        pack_pass_end();  // the walk itself says when a pass is open
        threadstream_free(stream);
        stream = nullptr;
        current_threadstream = nullptr;

        ASSERT_EQ(log_init(), 1);
        log_free_entries(log_get_entries());
        script_intern_symbols(mrb);
        ffi_draw_define(mrb);
        eval(stub_runtime);
        game.runtime = eval("$runtime = StubRuntime.new");
        game.ffi_draw = eval("$runtime.ffi_draw");
        RClass *kor = mrb_module_get(mrb, "Kor");
        game.open_entity_class = mrb_class_get_under(mrb, kor, "OpenEntity");
        game.strict_entity_class = mrb_class_get_under(mrb, kor, "StrictEntity");
        game.top_level_outputs_class = nullptr;

        ctx = render_context{};
        ctx.frame_queue = threadstreamqueue_create();
        ctx.event_queue = threadstreamqueue_create();
        the_render_context = &ctx;
    }

    void TearDown() override
    {
        threadstreamqueue_unref(ctx.frame_queue);
        threadstreamqueue_unref(ctx.event_queue);
        game.runtime = mrb_nil_value();
        game.open_entity_class = game.strict_entity_class = nullptr;
        log_free_entries(log_get_entries());
        log_quit();
        PackFixture::TearDown();
    }

    // One tick; the frame it queued, as one line per record.
    std::vector<std::string> tick()
    {
        EXPECT_EQ(simulation_iteration(), 1);
        stream = threadstreamqueue_getitem(ctx.frame_queue);
        EXPECT_NE(stream, nullptr);
        if (!stream) {
            return {};
        }
        return records();
    }

    std::vector<std::string> records()
    {
        std::vector<std::string> out;
        i();  // time stamp
        EXPECT_EQ(i(), frame_header_marker);
        while (!threadstream_eos(stream)) {
            int c = code();
            if (c == record_passes) {
                int count = i();
                i();  // take_screenshot
                for (int p = 0; p < count; p++) {
                    read_pass(out);
                }
            } else if (c == record_set_window_title) {
                out.push_back("title " + read_text().bytes);
            } else {
                out.push_back("top-level code " + std::to_string(c));
                break;
            }
        }
        EXPECT_EQ(stream->error, 0);
        return out;
    }

    void read_pass(std::vector<std::string> &out)
    {
        for (int n = 0; n < 4; n++) {
            i();  // clear colour
        }
        Text target = read_text();
        i(), i(), i(), i();  // size, transient, clear
        out.push_back(target.present ? "pass " + target.bytes : "pass screen");
        for (;;) {
            int c = threadstream_unpack_int(stream);
            if (c == record_end_pass || stream->error) {
                out.push_back("end");
                return;
            }
            stream->read_pos -= 4;
            switch (c) {
            case record_sprite:
                out.push_back("sprite " + read_sprite().path.bytes);
                break;
            case record_label:
                out.push_back("label " + read_label().text.bytes);
                break;
            case record_line: {
                LineRecord l = read_line();
                out.push_back("line " + std::to_string(static_cast<int>(l.x2)));
                break;
            }
            case record_solid:
                out.push_back("solid " + std::to_string(read_rect(record_solid).r));
                break;
            case record_border:
                out.push_back("border " + std::to_string(read_rect(record_border).r));
                break;
            default:
                out.push_back("code " + std::to_string(c));
                return;
            }
        }
    }

    // Log lines the tick handed to the runtime.
    int log_lines_containing(const std::string &needle)
    {
        return static_cast<int>(
            mrb_integer(eval("$log_messages.count { |m| m.include?(" + inspect(mrb_str_new_cstr(mrb, needle.c_str())) +
                             ") }")));
    }

    render_context ctx;
};

TEST_F(WalkTest, EachCollectionSendsItsElementsToTheirPackers)
{
    eval(R"(
        p = Pass.new
        p.solids << { x: 1 } << nil
        p.sprites << { path: 'hash.png', w: 1, h: 1 } << nil << Kor::OpenEntity.new({ path: 'open.png', w: 1 }) <<
                     Kor::StrictEntity.new(path: 'strict.png', w: 1, h: 1) << [0, 0, 1, 1, 'array.png'] <<
                     Sprite.new('object.png')
        p.static_sprites << { path: 'static.png', w: 1 }
        p.primitives << { primitive_marker: :sprite, path: 'marked.png', w: 1 } <<
                        { primitive_marker: :label, text: 'marked label' } <<
                        { primitive_marker: :line, x: 0, y: 0, x2: 7, y2: 7 } <<
                        { primitive_marker: :solid } <<
                        Drawn.new { |ffi| ffi.draw_border(0, 0, 1, 1, 42, 0, 0, 255) } <<
                        Caption.new('no marker')
        p.labels << { text: 'hash label' } << Kor::OpenEntity.new({ text: 'open label' }) << ['array label'] <<
                    Caption.new('object label')
        p.lines << { x: 0, y: 0, w: 5, h: 0 } << [1, 2, 3, 4]
        p.borders << { x: 9 }
        p.debug << { text: 'debug' }
        p.static_reserved << { text: 'reserved' }
        $runtime.passes_list = [p]
    )");
    const std::vector<std::string> expected = {
        "pass screen",
        "label draw_solid {:x=>1}",
        "sprite hash.png",
        "sprite open.png",
        "sprite strict.png",
        "label draw_sprite [0, 0, 1, 1, \"array.png\"]",
        "sprite object.png",
        "sprite static.png",
        "sprite marked.png",
        "label marked label",
        "line 7",
        "label draw_primitive {:primitive_marker=>:solid}",
        "border 42",
        "label draw_primitive #<Caption:",
        "label hash label",
        "label open label",
        "label draw_label [\"array label\"]",
        "label object label",
        "line 5",
        "label draw_line [1, 2, 3, 4]",
        "label draw_border {:x=>9}",
        "label draw_primitive {:text=>\"debug\"}",
        "label draw_primitive {:text=>\"reserved\"}",
        "end",
    };
    std::vector<std::string> got = tick();
    ASSERT_EQ(got.size(), expected.size()) << testing::PrintToString(got);
    for (size_t n = 0; n < expected.size(); n++) {
        EXPECT_EQ(got[n].rfind(expected[n], 0), 0u) << got[n] << " should start with " << expected[n];
    }
}

// A primitive code at the top level would end the frame: primitives drawn during
// tick are drawn at the start of the screen pass instead, render targets first.
TEST_F(WalkTest, PrimitivesDrawnDuringTickLandInTheScreenPass)
{
    eval(R"(
        $runtime.on_tick = lambda do |ffi|
          ffi.draw_solid(0, 0, 5, 5, 1, 0, 0, 255)
          ffi.set_window_title('during tick')
          ffi.draw_sprite(0, 0, 5, 5, 'stray.png')
        end
        rt = Pass.new('rt')
        rt.sprites << { path: 'in_rt.png', w: 1 }
        screen = Pass.new
        screen.sprites << { path: 'in_screen.png', w: 1 }
        $runtime.passes_list = [rt, screen]
    )");
    const std::vector<std::string> expected = {
        "title during tick", "pass rt",    "sprite in_rt.png", "end",
        "pass screen",       "solid 1",    "sprite stray.png", "sprite in_screen.png",
        "end",
    };
    EXPECT_EQ(tick(), expected);
    threadstream_free(stream);
    stream = nullptr;

    // Without a screen pass they are dropped, the frame stays whole, and the log
    // says why once.
    eval("$runtime.passes_list = $runtime.passes_list.take(1)");
    const std::vector<std::string> no_screen = {"title during tick", "pass rt", "sprite in_rt.png", "end"};
    EXPECT_EQ(tick(), no_screen);
    threadstream_free(stream);
    stream = nullptr;
    EXPECT_EQ(tick(), no_screen);
    EXPECT_EQ(log_lines_containing("outside a render pass (during tick"), 1);
    EXPECT_EQ(log_lines_containing("were dropped"), 1);
}

// A top-level record inside a pass would be read as primitive codes: commands
// made while the walk runs follow the passes record.
TEST_F(WalkTest, CommandsMadeWhileDrawingFollowThePasses)
{
    eval(R"(
        p = Pass.new
        p.primitives << Drawn.new { |ffi| ffi.set_window_title('from draw_override'); ffi.draw_solid(0, 0, 1, 1, 3, 0, 0, 255) }
        p.sprites << BrokenSprite.new << { path: 'after.png', w: 1 }
        $runtime.passes_list = [p, Pass.new('second')]
    )");
    const std::vector<std::string> expected = {
        "pass screen", "sprite after.png", "solid 3", "end", "pass second", "end", "title from draw_override",
    };
    EXPECT_EQ(tick(), expected);
    EXPECT_EQ(log_lines_containing("no path"), 1) << "the broken sprite is reported and skipped";
}

} // namespace
