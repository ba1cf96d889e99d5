// The native iteration helpers (Fn, Array, Enumerable) and the outputs append
// logic, run in a real interpreter against small Ruby stand-ins for the framework
// classes they serve.
#include <gtest/gtest.h>

#include <mruby.h>
#include <mruby/compile.h>
#include <mruby/irep.h>
#include <mruby/string.h>

#include <string>

#include "bindings/ffi_helpers.h"

extern "C" const uint8_t main_ruby[];

namespace {

// The least of the framework these helpers talk to: the value-type marker, the
// entity wrapper and an outputs collection that marks Array primitives.
constexpr const char *framework_stand_ins = R"(
module ValueType; end
[Integer, Float, String, Symbol, TrueClass, FalseClass].each { |c| c.include(ValueType) }

module Kor
  class OpenEntity
    def initialize(hash = {}); @hash = hash; end
  end

  class OutputsArray < Array
    def array_primitive?(array)
      array.any? { |e| e.is_a?(ValueType) }
    end

    def mark_and_id!(array)
      array.define_singleton_method(:primitive_marker) { :solid }
      array
    end
  end

  # The mixed collections refuse unmarked objects at push time. (Arrays hold no
  # instance variables in this interpreter: the calls are counted globally.)
  class GenericOutputsArray < OutputsArray
    def resolved?(element)
      $asked << element
      if !element.nil? && !element.is_a?(Array) && !element.is_a?(Hash) && !element.respond_to?(:primitive_marker)
        raise "I don't know how to use the above #{element.class}"
      end
      super
    end
  end
end

class Marked
  def initialize(marker); @marker = marker; end
  def primitive_marker; @marker; end
end
class SelfDrawn; def draw_override(ffi); end; end
Point = Struct.new(:x, :y)
class Recorder
  attr_reader :calls
  def initialize; @calls = []; end
  def m(*args); @calls << args; end
end
class Pair
  include Enumerable
  def initialize(*items); @items = items; end
  def each(&block); @items.each(&block); self; end
end
)";

class HelpersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        mrb_load_string(mrb, framework_stand_ins);
        ASSERT_EQ(mrb->exc, nullptr) << "stand-ins failed to load";
        ffi_init_fn(mrb);
        ffi_init_outputs(mrb);
        ffi_init_array(mrb);
        ffi_init_enumerable(mrb);
        ASSERT_EQ(mrb->exc, nullptr);
    }
    void TearDown() override { mrb_close(mrb); }

    // The inspect text of the source's value, or "Class: message" when it raised.
    std::string run(const std::string &source)
    {
        mrb_value v = mrb_load_string(mrb, source.c_str());
        mrb_value text;
        if (mrb->exc) {
            mrb_value exc = mrb_obj_value(mrb->exc);
            mrb->exc = nullptr;
            std::string out = std::string(mrb_obj_classname(mrb, exc)) + ": ";
            text = mrb_funcall(mrb, exc, "message", 0);
            return out + std::string(RSTRING_PTR(text), RSTRING_LEN(text));
        }
        text = mrb_inspect(mrb, v);
        return std::string(RSTRING_PTR(text), RSTRING_LEN(text));
    }

    mrb_state *mrb = nullptr;
};

struct Case {
    const char *source;
    const char *expected;
};

TEST_F(HelpersTest, FnCallsTheBlockOrMethodOncePerElementInOrder)
{
    for (const Case &c : std::initializer_list<Case>{
             {"Fn.map([1, 2, 3]) { |x| x * 2 }", "[2, 4, 6]"},
             {"Fn.map([]) { |x| raise 'called' }", "[]"},
             {"Fn.each([]) { raise 'called' }", "nil"},
             {"seen = []; r = Fn.each([4, 5]) { |e| seen << e }; [r, seen]", "[nil, [4, 5]]"},
             {"seen = []; Fn.each_with_index([:a, :b]) { |e, i| seen << [e, i] }; seen", "[[:a, 0], [:b, 1]]"},
             {"o = Recorder.new; r = Fn.each_with_index_send([:a, :b], o, :m); [r, o.calls]",
              "[nil, [[:a, 0], [:b, 1]]]"},
             {"o = Recorder.new; Fn.each_send([1, 2], o, :m); o.calls", "[[1], [2]]"},
             {"o = Recorder.new; [Fn.each_send(nil, o, :m), o.calls]", "[nil, []]"},
             {"o = Recorder.new; Fn.each_send([1], o, 'm'); o.calls", "[[1]]"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
}

// The count is taken once; each element is read at its turn; a shortened Array
// ends the walk at its current end.
TEST_F(HelpersTest, IterationSurvivesTheBlockChangingTheArray)
{
    for (const char *method : {"Fn.each", "Array.each", "Fn.map", "Array.map", "Enumerable.select"}) {
        const std::string m = method;
        EXPECT_EQ(run("a = [1, 2, 3, 4]; seen = []; " + m + "(a) { |e| a.pop; seen << e; true }; seen"), "[1, 2]")
            << method;
        EXPECT_EQ(run("a = [1, 2]; seen = []; " + m + "(a) { |e| a << e * 10; seen << e; true }; seen"), "[1, 2]")
            << method;
        EXPECT_EQ(run("a = [1, 2, 3]; seen = []; " + m + "(a) { |e| a[2] = 9 if e == 1; seen << e; true }; seen"),
                  "[1, 2, 9]")
            << method;
    }
}

TEST_F(HelpersTest, ArrayClassMethodsMapAndCheckTheirArgument)
{
    for (const Case &c : std::initializer_list<Case>{
             {"a = (1..10).to_a; b = Array.map(a) { |x| x + 1 }; [b.size, b.first, b.last, a.last, b.equal?(a)]",
              "[10, 2, 11, 10, false]"},
             {"a = [1, 2, 3]; b = Array.map!(a) { |x| x * 3 }; [a, b.equal?(a)]", "[[3, 6, 9], true]"},
             {"a = [1, 2, 3]; Array.map!(a) { |x| a.pop; x * 10 }; a", "[10]"},  // shrunk: never regrown
             {"seen = []; [Array.each([7, 8]) { |e| seen << e }, seen]", "[nil, [7, 8]]"},
             {"Array.map(5) { }", "TypeError: ~Array::map~ expects an array, but received 5."},
             {"Array.map!(:sym) { }", "TypeError: ~Array::map~ expects an array, but received sym."},
             {"Array.each(nil) { }", "TypeError: ~Array::each~ expects an array, but received nil."},
             {"Array.each({ a: 1 }) { }", "TypeError: ~Array::each~ expects an array, but received {:a=>1}."},
             {"Array.map!([1].freeze) { |x| x }", "FrozenError: can't modify frozen Array"},
             {"Array.each([1])", "ArgumentError: no block given"},
             {"Fn.each(5) { }", "TypeError: Integer cannot be converted to Array"},
             // The instance methods of the same names are untouched.
             {"[[1, 2].map { |x| x + 1 }, [3, 4].select { |x| x > 3 }]", "[[2, 3], [4]]"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
}

TEST_F(HelpersTest, EnumerableSelectKeepsTruthyResults)
{
    for (const Case &c : std::initializer_list<Case>{
             {"Enumerable.select([1, 2, 3]) { |x| x > 1 }", "[2, 3]"},
             {"Enumerable.find_all([1, nil, false, 0]) { |x| x }", "[1, 0]"},
             {"Enumerable.select([]) { raise 'called' }", "[]"},
             {"Enumerable.select([1, 2]).class", "Enumerator"},
             {"Enumerable.find_all([1, 2]).to_a", "[1, 2]"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
}

TEST_F(HelpersTest, ResolvedTellsFinishedPrimitives)
{
    for (const Case &c : std::initializer_list<Case>{
             {"Kor::OutputsArray.new.resolved?({ x: 1 })", "true"},
             {"Kor::OutputsArray.new.resolved?(Kor::OpenEntity.new)", "true"},
             {"Kor::OutputsArray.new.resolved?(Point.new(1, 2))", "true"},
             {"Kor::OutputsArray.new.resolved?(SelfDrawn.new)", "true"},
             {"Kor::OutputsArray.new.resolved?(Marked.new(:sprite))", "true"},
             {"Kor::OutputsArray.new.resolved?(Marked.new(:pending))", "false"},
             {"Kor::OutputsArray.new.resolved?(Marked.new(nil))", "false"},
             {"Kor::OutputsArray.new.resolved?(Object.new)", "false"},
             {"Kor::OutputsArray.new.resolved?([1, 2])", "false"},
             {"Kor::OutputsArray.new.resolved?([1, 2].tap { |a| a.define_singleton_method(:primitive_marker) { :solid } })",
              "true"},
             {"Kor::OutputsArray.new.resolved?", "ArgumentError: wrong number of arguments (given 0, expected 1)"},
             {"Kor::OutputsArray.new.resolved?(1, 2)", "ArgumentError: wrong number of arguments (given 2, expected 1)"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
}

TEST_F(HelpersTest, AddDwimAppendsWhatTheGameMeans)
{
    for (const Case &c : std::initializer_list<Case>{
             // Nothing for nil, values and empty collections.
             {"o = Kor::OutputsArray.new; [nil, 5, 1.5, 'text', :sym, true, false, [], 1...1].each { |v| o.add_dwim(v) }; o",
              "[]"},
             {"o = Kor::OutputsArray.new; h = { x: 1 }; o.add_dwim(h); [o.size, o[0].equal?(h)]", "[1, true]"},
             // A list of finished primitives is concatenated.
             {"o = Kor::OutputsArray.new; o.add_dwim([{ x: 1 }, { x: 2 }]); o", "[{:x=>1}, {:x=>2}]"},
             // One Array primitive is marked and appended whole.
             {"o = Kor::OutputsArray.new; a = [10, 10, 100, 100]; o.add_dwim(a); [o.size, o[0].equal?(a), a.primitive_marker]",
              "[1, true, :solid]"},
             // A list of Array primitives is taken apart one primitive at a time.
             {"o = Kor::OutputsArray.new; o.add_dwim([[1, 2, 3, 4], [[5, 6, 7, 8]], nil, { x: 9 }]); o",
              "[[1, 2, 3, 4], [5, 6, 7, 8], {:x=>9}]"},
             {"o = Kor::OutputsArray.new; o.add_dwim(Pair.new({ a: 1 }, { b: 2 })); o", "[{:a=>1}, {:b=>2}]"},
             {"o = Kor::OutputsArray.new; e = Kor::OpenEntity.new; o.add_dwim(e); o.add_dwim(Point.new(1, 2)); o.size",
              "2"},
             // Unresolved objects that are not Arrays still go in.
             {"o = Kor::OutputsArray.new; o.add_dwim(Object.new); o.add_dwim(Marked.new(:pending)); o.size", "2"},
             {"o = Kor::OutputsArray.new; o.add_dwim({ x: 1 }).equal?(o)", "true"},
             // Pushing a collection into itself appends its elements once.
             {"o = Kor::OutputsArray.new; o.add_dwim({ x: 1 }); o.add_dwim(o); [o.size, o[1].equal?(o[0])]", "[2, true]"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
}

TEST_F(HelpersTest, AddDwimAsksARefinedResolvedAndStopsAtSelfNesting)
{
    EXPECT_EQ(run("$asked = []; o = Kor::GenericOutputsArray.new; m = Marked.new(:sprite); o.add_dwim([m, m]); "
                  "[o.size, $asked.size]"),
              "[2, 3]")
        << "the Array and both elements go through the class's own resolved?";
    EXPECT_EQ(run("$asked = []; Kor::GenericOutputsArray.new.add_dwim([Object.new, 1])"),
              "RuntimeError: I don't know how to use the above Object");

    EXPECT_EQ(run("a = [{ x: 1 }]; a << a; Kor::OutputsArray.new.add_dwim(a)").rfind("ArgumentError: * ERROR: An Array "
                                                                                   "pushed into outputs is nested",
                                                                                   0),
              0u);
    EXPECT_EQ(run("Kor::OutputsArray.new.freeze.add_dwim({ x: 1 })"), "FrozenError: can't modify frozen Kor::OutputsArray");
}

} // namespace

// The same append logic against the framework's own collections.
class HelpersOnFrameworkTest : public HelpersTest {
protected:
    void SetUp() override
    {
        mrb = mrb_open();
        ASSERT_NE(mrb, nullptr);
        mrb_define_const(mrb, mrb->object_class, "Kor_VERSION", mrb_str_new_lit(mrb, "test"));
        mrb_load_irep(mrb, main_ruby);
        ASSERT_EQ(mrb->exc, nullptr) << "the framework image raised";
        ffi_init_outputs(mrb);
        ASSERT_EQ(mrb->exc, nullptr);
    }
};

TEST_F(HelpersOnFrameworkTest, PushesIntoTheFrameworksCollections)
{
    for (const Case &c : std::initializer_list<Case>{
             {"[:add_dwim, :resolved?].map { |m| Kor::SpritesOutputsArray.instance_method(m).source_location }", "[nil, nil]"},
             {"o = Kor::SpritesOutputsArray.new; o << [{ x: 1 }, { x: 2 }]; o << nil; o.size", "2"},
             {"o = Kor::SolidsOutputsArray.new; a = [10, 10, 100, 100, 255, 0, 0]; o << a;"
              "[o.size, o[0].equal?(a), a.x, a.w, a.r]",
              "[1, true, 10, 100, 255]"},
             {"o = Kor::SpritesOutputsArray.new; o << [[0, 0, 5, 5, 'a.png'], [1, 1, 5, 5, 'b.png']];"
              "o.map { |s| s.path }",
              "[\"a.png\", \"b.png\"]"},
             {"o = Kor::SpritesOutputsArray.new; [5, 'text', [], :sym].each { |v| o << v }; o.size", "0"},
             {"o = Kor::PrimitivesOutputsArray.new; o << { x: 1, primitive_marker: :solid }; o.size", "1"},
         }) {
        EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
    EXPECT_EQ(run("Kor::PrimitivesOutputsArray.new << [Object.new, Object.new]").rfind("RuntimeError: * ERROR:\n", 0),
              0u);
}
