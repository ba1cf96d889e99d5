# The logical coordinate system: origins, window geometry, conversions.

# What a grid needs of the runtime, with a draw object that keeps the
# set_grid calls so the test can see what the renderer would be told.
class GridTestDraw
  attr_reader :set_grid_calls

  def initialize
    @set_grid_calls = []
  end

  def set_grid origin_x, origin_y, y_direction
    @set_grid_calls << [origin_x, origin_y, y_direction]
    nil
  end
end

class GridTestRuntime
  attr_reader :ffi_draw, :logical_width, :logical_height

  def initialize width = 1280, height = 720
    @ffi_draw = GridTestDraw.new
    @logical_width = width
    @logical_height = height
  end

  def orientation
    @logical_width >= @logical_height ? :landscape : :portrait
  end
end

def test_grid_bottom_left_defaults args, assert
  grid = Kor::Grid.new GridTestRuntime.new
  assert.equal! grid.origin_name, :bottom_left
  assert.equal! [grid.left, grid.right, grid.bottom, grid.top], [0, 1280, 0, 720]
  assert.equal! [grid.x, grid.y, grid.w, grid.h], [0, 0, 1280, 720]
  assert.equal! [grid.center_x, grid.center_y, grid.w_half, grid.h_half], [640, 360, 640, 360]
  assert.equal! grid.center, { x: 640, y: 360 }
  assert.equal! grid.rect, { x: 0, y: 0, w: 1280, h: 720 }
  assert.equal! [grid.origin_x, grid.origin_y], [0, 720]
  assert.equal! grid.runtime.ffi_draw.set_grid_calls, [[0.0, 720.0, -1]], "the renderer learns the origin at once"
  assert.equal! grid.orientation, :landscape
  assert.false! grid.serialize.key?(:runtime), "the dump leaves out the runtime"
end

def test_grid_window_geometry args, assert
  # window w, h, allscreen px w, h, band px x, y, scale, scale enum => expected values
  cases = [
    [[1280, 720, 2560, 1440, 0, 0, 2.0, 200],
     { w_px: 2560, h_px: 1440, native_scale: 2.0, allscreen_w: 1280, allscreen_h: 720,
       allscreen_offset_x: 0, allscreen_offset_y: 0, allscreen_left: 0, allscreen_bottom: 0,
       allscreen_right: 1280, allscreen_top: 720, right_px: 2560, top_px: 1440 }],
    [[1280, 800, 2560, 1600, 0, 80, 2.0, 200],
     { w_px: 2560, h_px: 1440, native_scale: 2.0, allscreen_w: 1280, allscreen_h: 800,
       allscreen_offset_x: 0, allscreen_offset_y: 40, allscreen_left: 0, allscreen_bottom: -40,
       allscreen_right: 1280, allscreen_top: 760, allscreen_bottom_px: -80, allscreen_top_px: 1520,
       top: 720, top_px: 1440 }],
    [[1000, 720, 1000, 720, 180, 0, 1.0, 100],
     { w_px: 640, native_scale: 0.5, allscreen_w: 2000, allscreen_offset_x: 360,
       allscreen_left: -360, allscreen_right: 1640, allscreen_left_px: -180, allscreen_right_px: 820 }],
    [[0, 0, 0, 0, 0, 0, 0.0, 100],
     { w_px: 0, native_scale: 1.0, allscreen_w: 0, allscreen_h: 0 }]
  ]
  cases.each do |window, expected|
    grid = Kor::Grid.new GridTestRuntime.new
    grid.windowevent_size_changed(*window)
    expected.each { |name, value| assert.equal! grid.send(name), value, "#{window.inspect} #{name}" }
    assert.equal! grid.allscreen_rect,
                  { x: grid.allscreen_left, y: grid.allscreen_bottom, w: grid.allscreen_w, h: grid.allscreen_h }
  end

  grid = Kor::Grid.new GridTestRuntime.new
  grid.windowevent_size_changed 1280, 720, 1280, 720, 0, 0, 1.23456, 125
  assert.equal! [grid.texture_scale, grid.texture_scale_enum], [1.23, 125]
  assert.equal! [grid.allscreen_w_pt, grid.allscreen_h_pt], [1280, 720]
end

def test_grid_origin_center args, assert
  runtime = GridTestRuntime.new
  grid = Kor::Grid.new runtime
  grid.windowevent_size_changed 1280, 800, 2560, 1600, 0, 80, 2.0, 200
  grid.origin_center!
  grid.origin_center!
  assert.equal! runtime.ffi_draw.set_grid_calls, [[0.0, 720.0, -1], [640.0, 360.0, -1]], "a second switch does nothing"
  assert.equal! [grid.left, grid.right, grid.bottom, grid.top], [-640, 640, -360, 360]
  assert.equal! [grid.left_px, grid.right_px, grid.bottom_px, grid.top_px], [-1280, 1280, -720, 720]
  assert.equal! [grid.allscreen_bottom, grid.allscreen_top], [-400, 400]
  assert.equal! [grid.center_x, grid.center_y], [0, 0]
  assert.equal! grid.center, { x: 0, y: 0, w: 0, h: 0 }
  assert.equal! grid.rect, { x: -640, y: -360, w: 1280, h: 720 }

  # Input arrives in top-left logical space: its top-left corner is (-640, 360).
  assert.equal! [grid.untransform_x(0), grid.untransform_y(0)], [-640, 360]
  assert.equal! [grid.untransform_x(1280), grid.untransform_y(720)], [640, -360]
  [[-640, 360], [0, 0], [123, -45]].each do |x, y|
    assert.equal! [grid.untransform_x(grid.transform_x(x)), grid.untransform_y(grid.transform_y(y))], [x, y]
  end

  grid.origin_bottom_left!
  assert.equal! [grid.untransform_x(0), grid.untransform_y(0)], [0, 720]
  assert.equal! [grid.transform_x(10), grid.transform_y(10)], [10, 710]
  assert.equal! [grid.allscreen_bottom, grid.allscreen_top], [-40, 760]
end

def test_numeric_edges_follow_the_live_grid args, assert
  saved = $grid
  begin
    $grid = Kor::Grid.new GridTestRuntime.new
    assert.equal! [200.from_top, 200.from_right, 200.from_left, 200.from_bottom], [520, 1080, 200, 200]
    $grid.origin_center!
    assert.equal! [200.from_top, 200.from_right, 200.from_left, 200.from_bottom], [160, 440, -440, -160]
    assert.equal! Grid.top, 360, "class-level calls go to the live grid"
    assert.equal! Grid.w, 1280
    $grid = nil
    assert.equal! [200.from_top, 200.from_right, 200.from_left, 200.from_bottom], [520, 1080, 200, 200]
    assert.raises!(NoMethodError) { Grid.top }
  ensure
    $grid = saved
  end
end

def test_grid_portrait args, assert
  grid = Kor::Grid.new GridTestRuntime.new(720, 1280)
  assert.equal! [grid.right, grid.top, grid.origin_y, grid.orientation], [720, 1280, 1280, :portrait]
end
