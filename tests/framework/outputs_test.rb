# The outputs model: pushes and their normalisation, array primitives and
# markers, the pass lifecycle, background colours and render targets.

# A runtime in a chosen load state, and an Args around it, so a test decides
# what the outputs see (the live runtime is wherever the test runner left it).
class OutputsTestRuntime
  attr_accessor :load_status, :global_tick_count, :logical_width, :logical_height

  def initialize load_status = :ready, global_tick_count = 5
    @load_status = load_status
    @global_tick_count = global_tick_count
    @logical_width = 640
    @logical_height = 360
  end
end

class OutputsTestArgs < Kor::Args
  attr_reader :runtime, :render_targets

  def initialize runtime
    @runtime = runtime
    @render_targets = {}
  end

  def render_target name
    @render_targets[name.to_s] ||= Kor::RenderTargetOutputs.new(args: self, target: name.to_s)
  end
end

def outputs_test_outputs load_status = :ready, global_tick_count = 5
  Kor::TopLevelOutputs.new args: OutputsTestArgs.new(OutputsTestRuntime.new(load_status, global_tick_count))
end

class OutputsTestSprite
  include AttrSprite
end

class OutputsTestMarked
  def initialize marker
    @marker = marker
  end

  def primitive_marker
    @marker
  end
end

class OutputsTestDrawsItself
  def draw_override ffi_draw; end
end

class OutputsTestBag
  include Enumerable

  def each
    yield({ x: 1 })
    yield({ x: 2 })
  end
end

OutputsTestStruct = Struct.new(:x, :y)

def test_push_normalisation args, assert
  hash = { x: 1 }
  sprite = OutputsTestSprite.new
  entity = Kor::OpenEntity.new
  point = OutputsTestStruct.new(1, 2)
  # pushed value => number of elements added
  cases = [
    [nil, 0], [5, 0], ["text", 0], [:symbol, 0], [true, 0], [[], 0],
    [hash, 1], [[hash, { x: 2 }], 2], [[[hash], [[{ x: 3 }]]], 2],
    [[[0, 0, 10, 10, "a.png"], [5, 5, 10, 10, "b.png"]], 2],
    [[[[0, 0, 10, 10, "a.png"]], nil, []], 1],
    [sprite, 1], [entity, 1], [point, 1], [OutputsTestBag.new, 2],
    [OutputsTestMarked.new(:pending), 1]
  ]
  cases.each do |value, added|
    [:<<, :push].each do |operation|
      collection = Kor::SpritesOutputsArray.new
      result = collection.send(operation, value)
      assert.true! result.equal?(collection), "#{operation} answers the collection"
      assert.equal! collection.length, added, "#{operation} #{value.inspect}"
    end
  end

  collection = Kor::SpritesOutputsArray.new
  collection.push hash, sprite, nil, entity
  assert.equal! collection.length, 3, "push takes several values"
  assert.true! collection[0].equal?(hash), "resolved values go in as they are"
  assert.true! collection[1].equal?(sprite)
  assert.true! collection[2].equal?(entity)
  assert.true! collection.all? { |element| !element.is_a?(Array) || element.primitive_marker == :sprite }

  before = $perf_counter_outputs_push_count
  collection << hash << hash
  assert.equal! $perf_counter_outputs_push_count, before + 2
end

def test_array_primitive_positions args, assert
  # collection, array, expected attributes
  cases = [
    [Kor::SolidsOutputsArray, [10, 10, 100, 100, 255, 0, 0],
     { primitive_marker: :solid, x: 10, w: 100, r: 255, g: 0, b: 0, a: nil, blendmode_enum: nil }],
    [Kor::SolidsOutputsArray, [1, 2], { w: 0, h: 0 }],
    [Kor::BordersOutputsArray, [1, 2, 3, 4, 5, 6, 7, 8, 2, 0.5, 1],
     { primitive_marker: :border, h: 4, a: 8, blendmode_enum: 2, anchor_x: 0.5, anchor_y: 1 }],
    [Kor::SpritesOutputsArray, [0, 0, 10, 10, "p.png", 45, 128, 1, 2, 3],
     { primitive_marker: :sprite, path: "p.png", angle: 45, a: 128, r: 1, g: 2, b: 3, tile_x: nil }],
    [Kor::LinesOutputsArray, [0, 1, 5, 6, 1, 2, 3],
     { primitive_marker: :line, x2: 5, y2: 6, r: 1, b: 3, a: nil, w: nil, h: nil }],
    [Kor::LabelsOutputsArray, [1, 2, "seven", 10, 20, 30, 40],
     { primitive_marker: :label, text: "seven", r: 10, g: 20, b: 30, a: 40, size_enum: 0, alignment_enum: 0 }],
    [Kor::LabelsOutputsArray, [1, 2, "three"], { text: "three", r: nil, size_enum: 0 }],
    [Kor::LabelsOutputsArray, [1, 2, "eight", 3, 1, 10, 20, 30],
     { size_enum: 3, alignment_enum: 1, r: 10, g: 20, b: 30, a: nil }],
    [Kor::LabelsOutputsArray, [1, 2, "five", 3, 1], { size_enum: 3, alignment_enum: 1, r: nil }]
  ]
  cases.each do |klass, array, expected|
    collection = klass.new
    collection << array
    assert.equal! collection.length, 1, array.inspect
    assert.true! collection[0].equal?(array), "the array itself is converted in place"
    expected.each { |name, value| assert.equal! array.send(name), value, "#{array.inspect} #{name}" }
  end

  solid = [10, 20, 30, 40, 1, 2, 3]
  Kor::SolidsOutputsArray.new << solid
  solid.x = 11
  solid.a = 200
  assert.equal! solid[0, 8], [11, 20, 30, 40, 1, 2, 3, 200], "writers store by position"
  assert.equal! [solid.left, solid.right, solid.bottom, solid.top], [11, 41, 20, 60]
  assert.equal! solid.to_hash, { x: 11, y: 20, w: 30, h: 40, r: 1, g: 2, b: 3, a: 200, blendmode_enum: nil,
                                 anchor_x: nil, anchor_y: nil, primitive_marker: :solid }

  label = [1, 2, "text"]
  Kor::LabelsOutputsArray.new << label
  assert.equal! assert.raises!(RuntimeError) { label.w }.message, "Labels do not support :w."
  assert.equal! assert.raises!(RuntimeError) { label.h }.message, "Labels do not support :h."
  label.r = 255
  assert.equal! [label.length, label.r, label.size_enum], [4, 255, 0], "the layout is fixed when marked"
end

def test_array_conversions_for_games args, assert
  kinds = { solid: :solid, sprite: :sprite, label: :label, line: :line, border: :border }
  kinds.each do |method, marker|
    array = [1, 2, 3, 4, 5]
    assert.true! array.send(method).equal?(array), "#{method} converts in place"
    assert.equal! array.primitive_marker, marker
    assert.true! array.send("#{method}!").equal?(array)
  end
  assert.equal! [1, 2].primitive_marker, nil, "an unconverted Array has no marker"
  frozen = [1, 2, 3, 4].freeze
  error = assert.raises!(Kor::Primitive::FrozenPrimitiveError) { frozen.solid }
  assert.true! error.message.include?("frozen")
  assert.raises!(Kor::Primitive::FrozenPrimitiveError) { Kor::SolidsOutputsArray.new << frozen }

  hash = { x: 1 }
  assert.true! hash.sprite!.equal?(hash)
  assert.equal! hash.primitive_marker, :sprite
end

def test_mixed_collections_need_markers args, assert
  primitives = Kor::PrimitivesOutputsArray.new
  primitives << { x: 1, primitive_marker: :solid }
  primitives << [1, 2, 3, 4].border
  primitives << OutputsTestDrawsItself.new
  primitives << [{ x: 2, primitive_marker: :label }, [1, 2, 3].label]
  assert.equal! primitives.length, 5

  unmarked = [
    [{ x: 1 }, "I don't know how to use the above Hash with SDL's FFI."],
    [Object.new, "I don't know how to use the above Object with SDL's FFI."],
    [[{ x: 1 }], "add { primitive_marker: :PRIMITIVE_SYMBOL } to the Hash."],
    [[1, 2, 3, 4], "Cannot add [1, 2, 3, 4] to outputs.primitives.\n\nAuto-guessing the primitive has been deprecated."],
    [[:solid, 1, 2, 3, 4], "Cannot add [:solid, 1, 2, 3, 4] to outputs.primitives.\n\nThe symbol marker has been deprecated."]
  ]
  unmarked.each do |value, text|
    error = assert.raises!(RuntimeError, value.inspect) { Kor::PrimitivesOutputsArray.new << value }
    assert.true! error.message.start_with?("* ERROR:\n"), value.inspect
    assert.true! error.message.include?(text), "#{value.inspect}: #{error.message}"
  end
  error = assert.raises!(RuntimeError) { Kor::DebugOutputsArray.new << [1, 2, 3] }
  assert.true! error.message.include?("to outputs.debug."), "the message names the collection"
  assert.true! error.message.include?("args.outputs.debug << [1, 2, 3].solid")

  pending = OutputsTestMarked.new(:pending)
  sprites = Kor::SpritesOutputsArray.new
  assert.false! sprites.resolved?(pending)
  sprites << pending
  assert.true! sprites[0].equal?(pending), "a pending object goes in unresolved"
end

def test_outputs_lifecycle args, assert
  outputs = outputs_test_outputs
  collections = Kor::Outputs::COLLECTIONS.keys - [:screenshots]
  collections.each { |name| outputs.send(name) << { x: 1, primitive_marker: :solid } }
  outputs << { x: 2, primitive_marker: :solid }
  assert.equal! outputs.primitives.length, 2, "outputs << pushes into primitives"
  outputs.sounds << "a.wav"
  outputs.clear_before_render = false

  outputs.clear_non_static
  cleared = [:labels, :sprites, :lines, :solids, :borders, :primitives, :debug]
  collections.each do |name|
    assert.equal! outputs.send(name).length, cleared.include?(name) ? 0 : 1, name
  end
  assert.true! outputs.clear_before_render

  outputs.clear_non_static_reserved
  assert.equal! outputs.reserved.length, 0
  assert.equal! outputs.static_reserved.length, 1

  outputs.clear
  collections.each { |name| assert.equal! outputs.send(name).length, 0, "clear empties #{name}" }

  outputs.a11y[:button] = { a11y_text: "Start" }
  outputs.reset
  assert.equal! outputs.a11y, {}
end

def test_background_color args, assert
  assert.equal! outputs_test_outputs(:boot).background_color, [0, 0, 0], "black until the game runs"
  assert.equal! outputs_test_outputs(:ready, -1).background_color, [0, 0, 0]

  outputs = outputs_test_outputs
  assert.equal! outputs.background_color, [230, 230, 230, 255]
  outputs.background_color = [10, 20, 30]
  assert.equal! outputs.background_color, [10, 20, 30, 255]
  outputs.background_color = [10, nil, 30, 40]
  assert.equal! outputs.background_color, [10, 30, 40, 255], "nils are dropped"
  outputs.background_color = { r: 1, g: 2, b: 3, a: 4 }
  assert.equal! outputs.background_color, [1, 2, 3, 4]
  assert.equal! outputs.background_color_hash, { r: 1, g: 2, b: 3, a: nil }, "the screen's Hash form has no alpha"
  outputs.clear_non_static
  assert.equal! outputs.background_color, [230, 230, 230, 255], "every step starts from the default"

  target = outputs[:outputs_test_bg]
  assert.true! target.is_a?(Kor::RenderTargetOutputs)
  assert.equal! target.background_color, [255, 255, 255, 0]
  target.background_color = [1, 2, 3, 4]
  assert.equal! target.background_color_hash[:a], 4

  [[1, 2], [1, 2, 3, 4, 5], "red", [1, "2", 3], { r: 1 }, 7].each do |bad|
    [[outputs, "~args.outputs.background_color~"], [target, "~args.outputs[:outputs_test_bg].background_color~"]].each do |pass, name|
      error = assert.raises!(RuntimeError, bad.inspect) { pass.background_color = bad }
      assert.true! error.message.start_with?("* ERROR: Failed to set background_color for Output.\n"), bad.inspect
      assert.true! error.message.include?(name), name
    end
  end
end

def test_outputs_construction_size_and_tick args, assert
  error = assert.raises!(ArgumentError) { Kor::Outputs.new }
  assert.equal! error.message, "Outputs.new must pass in an :args named-parameter that is non-nil and is_a? Args."
  assert.raises!(ArgumentError) { Kor::Outputs.new args: Object.new }

  outputs = outputs_test_outputs
  assert.equal! [outputs.width, outputs.h], [640, 360], "the logical size until set"
  outputs.w = 100
  assert.equal! outputs.width, 100
  assert.true! outputs.transient!.equal?(outputs)
  assert.true! outputs.transient

  target = outputs[:outputs_test_big]
  target.width = 2000
  target.height = 2000
  assert.true! Kor::Outputs.size_warnings["outputs_test_big"], "a size above 1600 is warned about once"
  assert.equal! target.width, 2000, "and kept"

  outputs.width = nil
  outputs.sounds << "boom.wav" << { path: "music.ogg", gain: 0.5 } << Kor::Sound.new("x.wav")
  outputs.tick
  assert.equal! outputs.width, 640
  assert.equal! outputs.sounds.map { |s| [s.class, s.path, s.gain] },
                [[Kor::Sound, "boom.wav", 1.0], [Kor::Sound, "music.ogg", 0.5], [Kor::Sound, "x.wav", 1.0]]
  assert.true! outputs.sounds[0].end_with?(".wav")
  outputs.sounds << 42
  error = assert.raises!(RuntimeError) { outputs.tick }
  assert.true! error.message.start_with?("* ERROR: I don't know how to parse 42")
end

def test_watch_labels args, assert
  outputs = outputs_test_outputs
  outputs.debug.watch "first\nsecond"
  outputs.debug.watch :third
  labels = outputs.debug.select { |e| e[:primitive_marker] == :label }
  solids = outputs.debug.select { |e| e[:primitive_marker] == :solid }
  assert.equal! labels.map { |l| l[:text] }, ["first", "second", ":third"]
  assert.equal! solids.length, 3, "each line has its translucent band"
  assert.true! solids.all? { |s| s[:a] < 255 && s[:r] == 255 }
  assert.true! labels[0][:y] > labels[1][:y], "lines stack downwards"

  top = labels[0][:y]
  outputs.clear_non_static
  assert.equal! outputs.debug.length, 0
  outputs.debug.watch "again"
  assert.equal! outputs.debug.find { |e| e[:primitive_marker] == :label }[:y], top, "cleared labels start at the top again"
end

def test_outputs_serialize args, assert
  outputs = outputs_test_outputs
  outputs.solids << [1, 2, 3, 4]
  outputs.sprites << { x: 1, path: "a.png" }
  outputs.static_labels << Kor::OpenEntity.new.tap { |e| e.text = "hi" }
  dump = outputs.serialize
  assert.equal! dump.keys, Kor::Outputs::SERIALIZED
  assert.equal! dump[:solids], [{ x: 1, y: 2, w: 3, h: 4, r: nil, g: nil, b: nil, a: nil, blendmode_enum: nil,
                                  anchor_x: nil, anchor_y: nil, primitive_marker: :solid }]
  assert.equal! dump[:sprites], [{ x: 1, path: "a.png" }]
  assert.equal! dump[:static_labels][0][:text], "hi"
  assert.equal! outputs.inspect, dump.to_s
end

def test_live_outputs_and_render_targets args, assert
  outputs = args.outputs
  assert.true! outputs.is_a?(KorTopLevelOutputs), "args.outputs is the screen pass"
  assert.true! outputs.solids.is_a?(Kor::SolidsOutputsArray)
  assert.true! outputs.static_sprites.is_a?(Kor::StaticSpritesOutputsArray)
  assert.true! outputs.debug.is_a?(Kor::DebugOutputsArray)
  assert.equal! outputs.target, nil

  target = args.outputs[:outputs_test_rt]
  assert.true! target.is_a?(Kor::RenderTargetOutputs)
  assert.equal! target.target, "outputs_test_rt"
  assert.true! args.outputs[:outputs_test_rt].equal?(target), "one render target per name and step"
  assert.true! args.render_target("outputs_test_rt").equal?(target)
  assert.true! args.passes.include?(target), "a named render target is a pass of this step"
  target.sprites << { x: 0, y: 0, w: 10, h: 10, path: "pixel" }
  assert.equal! target.sprites.length, 1
end
