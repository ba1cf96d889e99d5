# The runtime's drawing fallbacks: which FFI::Draw call each kind of primitive
# becomes, with which arguments and defaults, and what a primitive that cannot
# be drawn does.

class DrawTestRecorder
  attr_reader :calls

  def initialize
    @calls = []
  end

  [:draw_triangle, :draw_solid_3, :draw_border_3, :draw_line_2, :draw_sprite_5, :draw_sprite_hash, :draw_label_5,
   :draw_screenshot, :upload_pixel_array].each do |name|
    define_method(name) { |*values| @calls << [name, values] }
  end
end

# The calls the block made, with the runtime drawing into a recorder.
def draw_test_calls
  runtime = $kor
  saved = runtime.ffi_draw
  recorder = DrawTestRecorder.new
  runtime.instance_variable_set :@ffi_draw, recorder
  yield runtime
  recorder.calls
ensure
  runtime.instance_variable_set :@ffi_draw, saved
end

class DrawTestSprite
  attr_accessor :x, :y, :w, :h, :path

  def initialize
    @x = 1
    @y = 2
    @w = 3
    @h = 4
  end
end

class DrawTestOverride
  def draw_override ffi_draw
    ffi_draw.draw_solid_3 :overridden, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
  end
end

def test_fallbacks_make_one_draw_call_with_the_defaults args, assert
  solid_array = args.outputs.solids.__send__(:mark_and_id!, [10, 10, 100, 100, 255, 0, 0])
  label_array = args.outputs.labels.__send__(:mark_and_id!, [5, 6, "hi", 255, 0, 0, 128])
  line_array = args.outputs.lines.__send__(:mark_and_id!, [0, 0, 10, 20, 1, 2, 3])
  cases = [
    ["solid array", :draw_solid, solid_array,
     [:draw_solid_3, [10, 10, 100, 100, 255, 0, 0, nil, 1, 0, 0]]],
    ["solid hash without w and h is a triangle", :draw_solid, { x: 0, y: 0, x2: 5, y2: 0, x3: 0, y3: 5, r: 9 },
     [:draw_triangle, [0, 0, 5, 0, 0, 5, 9, nil, nil, nil, nil, nil, nil, nil, nil, nil, nil, 1]]],
    ["border hash", :draw_border, { x: 1, y: 2, w: 3, h: 4, blendmode_enum: 2 },
     [:draw_border_3, [1, 2, 3, 4, nil, nil, nil, nil, 2, 0, 0]]],
    ["line hash with w 0 and h 100", :draw_line, { x: 0, y: 0, w: 0, h: 100 },
     [:draw_line_2, [0, 0, 0, 99, nil, nil, nil, nil, 1]]],
    ["line array", :draw_line, line_array, [:draw_line_2, [0, 0, 10, 20, 1, 2, 3, nil, 1]]],
    ["label array of 7: colour from 3 to 6", :draw_label, label_array,
     [:draw_label_5, [5, 6, "hi", 0, 0, 255, 0, 0, 128, nil, 2, 1, nil, nil, nil]]],
    ["label hash without text", :draw_label, { x: 1, y: 2, font: :f },
     [:draw_label_5, [1, 2, "", nil, nil, nil, nil, nil, nil, "f", 2, 1, nil, nil, nil]]],
    ["sprite hash goes to the hash packer", :draw_sprite, { x: 1, y: 2, w: 3, h: 4 },
     [:draw_sprite_hash, [{ x: 1, y: 2, w: 3, h: 4 }]]],
    ["sprite object without path draws pixel", :draw_sprite, DrawTestSprite.new,
     [:draw_sprite_5, [1, 2, 3, 4, "pixel", nil, nil, nil, nil, nil, nil, nil, nil, nil, false, false, nil, nil,
                       nil, nil, nil, nil, 1, nil, nil]]],
    ["primitive by marker", :draw_primitive, { x: 1, y: 2, w: 3, h: 4, primitive_marker: :border },
     [:draw_border_3, [1, 2, 3, 4, nil, nil, nil, nil, 1, 0, 0]]],
    ["open entity drawn as its hash", :draw_primitive, args.state.new_entity(:draw_test, x: 7, y: 8, w: 1, h: 1,
                                                                             primitive_marker: :solid),
     [:draw_solid_3, [7, 8, 1, 1, nil, nil, nil, nil, 1, 0, 0]]],
    ["draw_override replaces the fallback", :draw_solid, DrawTestOverride.new,
     [:draw_solid_3, [:overridden, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]]]
  ]
  cases.each do |name, method, primitive, expected|
    calls = draw_test_calls { |runtime| runtime.__send__ method, primitive }
    assert.equal! calls, [expected], name
  end
  assert.equal! draw_test_calls { |runtime| runtime.draw_solid nil }, [], "nil draws nothing"
end

def test_unusable_primitive_is_reported_once_and_pauses args, assert
  $kor.unpause! if $kor.paused?
  calls = draw_test_calls do |runtime|
    runtime.draw_primitive({ x: 1, y: 1, primitive_marker: :circle })
    runtime.draw_solid Object.new
  end
  assert.equal! calls, []
  assert.true! $kor.paused?
  report = $kor.read_file("logs/exceptions/current.txt")
  assert.true! report.include?("I don't know how to use the above Hash with SDL's FFI."), report[0, 200]
  assert.false! report.include?("Failed to convert"), "the second failure came while paused: not reported"

  error = assert.raises!(RuntimeError) { $kor.__send__ :__draw_line__, Object.new }
  assert.true! error.message.start_with?("* ERROR:\nFailed to convert #<Object")
  assert.true! error.message.include?("for rendering (line).\n\nA primitive must respond to :primitive_marker")
  $kor.unpause!
end

def test_pixel_arrays_upload_only_complete_arrays args, assert
  calls = draw_test_calls do |runtime|
    complete = args.pixel_array(:draw_test_complete)
    complete.width = 2
    complete.height = 1
    complete.pixels = [0xff0000ff, 0xff00ff00]
    short = args.pixel_array(:draw_test_short)
    short.width = 2
    short.height = 2
    short.pixels = [1, 2, 3]
    runtime.pixel_arrays
  end
  assert.equal! calls, [[:upload_pixel_array, ["draw_test_complete", 2, 1, [0xff0000ff, 0xff00ff00]]]]
end

def test_flush_answers args, assert
  runtime = $kor
  target = args.render_target(:draw_test_rt)
  target.w = 300
  target.transient!
  assert.equal! [runtime.target(target), runtime.render_width(target), runtime.render_height(target),
                 runtime.render_transient(target)], ["draw_test_rt", 300, 720, true]
  assert.equal! [runtime.target(nil), runtime.render_width(nil), runtime.render_transient(nil)], [nil, 0, false]
  assert.false! runtime.take_screenshot
  args.outputs.screenshots << { x: 0, y: 0, w: 10, h: 10, path: "shot.png", r: 255, g: 0, b: 255, a: 0 }
  assert.true! runtime.take_screenshot
  calls = draw_test_calls { |r| r.draw_screenshots }
  assert.equal! calls, [[:draw_screenshot, ["shot.png", 0, 0, 10, 10, 0, 0, 255, 0, 255, nil, nil, nil, nil, false,
                                            false, nil, nil, nil, nil, nil, nil]]]
  args.outputs.screenshots.clear
end
