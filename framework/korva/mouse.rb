# The mouse as the game sees it, in grid coordinates: position and motion, the
# press and release of this tick, the wheel, and the buttons that are down.
module Kor
  # What every point of the inputs answers (a press, the mouse, a finger): itself
  # as a rect of no size, and whether it lies inside a rect.
  module PointShape
    def point
      { x: @x, y: @y, w: 0, h: 0 }
    end

    alias_method :position, :point

    def w
      0
    end

    def h
      0
    end

    def inside_rect? rect
      PointGeometry.inside_rect?(@x, @y, rect)
    end
  end

  # Where a press or release happened and when.
  class MousePoint
    include PointShape

    attr_accessor :x, :y, :created_at, :global_created_at

    def initialize x, y, created_at, global_created_at
      @x = x
      @y = y
      @created_at = created_at
      @global_created_at = global_created_at
    end

    def serialize
      { x: @x, y: @y, created_at: @created_at, global_created_at: @global_created_at }
    end

    def inspect
      serialize.to_s
    end

    def to_s
      inspect
    end
  end

  # Shape tests of a point against rects and circles, for objects with x and y.
  module PointGeometry
    def self.rect_values rect
      return nil unless rect
      if rect.is_a?(Array)
        x, y, w, h = rect
        return [x || 0, y || 0, w || 0, h || 0, 0, 0]
      end
      if rect.is_a?(Hash)
        return [rect[:x] || 0, rect[:y] || 0, rect[:w] || 0, rect[:h] || 0,
                rect[:anchor_x] || 0, rect[:anchor_y] || 0]
      end
      ax = rect.respond_to?(:anchor_x) ? (rect.anchor_x || 0) : 0
      ay = rect.respond_to?(:anchor_y) ? (rect.anchor_y || 0) : 0
      [rect.x || 0, rect.y || 0, rect.w || 0, rect.h || 0, ax, ay]
    end

    def self.inside_rect? x, y, rect
      values = rect_values(rect)
      return nil unless values
      rx, ry, rw, rh, ax, ay = values
      rx -= ax * rw
      ry -= ay * rh
      x >= rx && x <= rx + rw && y >= ry && y <= ry + rh
    end

    def self.inside_circle? x, y, center, radius
      return nil unless center
      cx, cy = center.is_a?(Array) ? center : (center.is_a?(Hash) ? [center[:x], center[:y]] : [center.x, center.y])
      r = radius || (center.is_a?(Hash) ? center[:radius] : (center.respond_to?(:radius) ? center.radius : nil))
      return false unless cx && cy && r
      (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r
    end
  end

  class Mouse
    include PointShape

    BUTTON_NAMES = [:button_left, :button_middle, :button_right, :button_x1, :button_x2]

    attr_accessor :x, :y, :previous_x, :previous_y, :relative_x, :relative_y, :moved, :moved_at,
                  :global_moved_at, :click, :click_at, :global_click_at, :previous_click, :up, :up_at,
                  :global_up_at, :wheel, :button_bits, :button_left, :button_middle, :button_right,
                  :button_x1, :button_x2, :has_focus, :active, :held

    alias_method :down, :click
    alias_method :down=, :click=

    def initialize
      @x = 0
      @y = 0
      @previous_x = 0
      @previous_y = 0
      @relative_x = 0
      @relative_y = 0
      @moved = nil
      @button_bits = 0
      BUTTON_NAMES.each { |name| instance_variable_set("@#{name}", false) }
      @has_focus = true
      @active = nil
      @held = false
    end

    # --- Events, positions already in grid coordinates ---

    # relative_x, relative_y: the native relative motion (y already pointing up),
    # used instead of the change of position while the mouse is in relative mode.
    def move_in_game x, y, relative_x, relative_y, use_relative, tick_count, global_tick_count
      unless @moved
        # First motion of this tick: the tick's motion is measured from here.
        @previous_x = @x
        @previous_y = @y
      end
      if use_relative
        @relative_x += relative_x
        @relative_y += relative_y
      else
        @relative_x += x - @x
        @relative_y += y - @y
      end
      @x = x
      @y = y
      @active = tick_count
      @moved = true
      @moved_at = tick_count
      @global_moved_at = global_tick_count
      true
    end

    def button_pressed_in_game button, tick_count, global_tick_count
      return false unless button >= 1 && button <= 32
      @button_bits |= 1 << (button - 1)
      update_buttons
      @click = MousePoint.new(@x, @y, tick_count, global_tick_count)
      @click_at = tick_count
      @global_click_at = global_tick_count
      @held = true
      @active = tick_count
      true
    end

    def button_up_in_game button, tick_count, global_tick_count
      return false unless button >= 1 && button <= 32
      @button_bits &= ~(1 << (button - 1))
      update_buttons
      @up = MousePoint.new(@x, @y, tick_count, global_tick_count)
      @up_at = tick_count
      @global_up_at = global_tick_count
      @held = false
      @active = tick_count
      true
    end

    # Several wheel events in one tick add up.
    def wheel_in_game x, y, inverted, tick_count, global_tick_count
      if @wheel
        @wheel[:x] += x
        @wheel[:y] += y
        @wheel[:inverted] = inverted
        @wheel[:created_at] = tick_count
        @wheel[:global_created_at] = global_tick_count
      else
        @wheel = { x: x, y: y, inverted: inverted, created_at: tick_count, global_created_at: global_tick_count }
      end
      @active = tick_count
      true
    end

    # After the game's tick: this tick's press, release, motion and wheel are gone.
    def clear
      @previous_click = @click if @click
      @active = nil
      @click = nil
      @up = nil
      @moved = nil
      @wheel = nil
      @relative_x = 0
      @relative_y = 0
      nil
    end

    # Everything, buttons included (reset).
    def reset!
      clear
      @previous_click = nil
      @button_bits = 0
      update_buttons
      @held = false
      nil
    end

    # --- Queries ---

    def held_at
      @held && @click_at ? @click_at + 1 : nil
    end

    def intersect_rect? rect
      PointGeometry.inside_rect?(@x, @y, rect)
    end

    def inside_circle? center, radius = nil
      PointGeometry.inside_circle?(@x, @y, center, radius)
    end

    def serialize
      { x: @x, y: @y, moved: @moved, click: @click && @click.serialize, up: @up && @up.serialize,
        wheel: @wheel, button_bits: @button_bits, held: @held, has_focus: @has_focus }
    end

    def inspect
      "#<Kor::Mouse #{serialize}>"
    end

    def to_s
      inspect
    end

    private

    def update_buttons
      BUTTON_NAMES.each_with_index do |name, bit|
        instance_variable_set("@#{name}", @button_bits & (1 << bit) != 0)
      end
    end
  end
end
