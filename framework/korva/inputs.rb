# args.inputs: keyboard, mouse, touch points, four controllers, typed text and the
# pending development-server requests, plus the direction queries that combine
# the keyboard with the first controller.
module Kor
  # One finger on the touch screen, in grid coordinates.
  class FingerTouch
    include PointShape

    attr_accessor :x, :y, :moved, :moved_at, :global_moved_at, :down_at, :global_down_at, :touch_order,
                  :first_tick_down, :id

    def serialize
      { id: @id, x: @x, y: @y, moved: @moved, moved_at: @moved_at, down_at: @down_at,
        touch_order: @touch_order, first_tick_down: @first_tick_down }
    end

    def inspect
      "#<Kor::FingerTouch #{serialize}>"
    end

    def to_s
      inspect
    end
  end

  class Inputs
    attr_accessor :keyboard, :mouse, :controllers, :touch, :finger_one, :finger_two, :finger_left,
                  :finger_right, :text, :http_requests, :headset, :last_active, :last_active_at,
                  :last_active_global_at, :touch_enabled, :locale, :locale_raw, :application_control,
                  :a11y, :touch_count

    # The x (in grid coordinates) that divides finger_left from finger_right.
    attr_accessor :touch_split_x

    def initialize
      @keyboard = Keyboard.new
      @mouse = Mouse.new
      @controllers = [Controller.new(1), Controller.new(2), Controller.new(3), Controller.new(4)]
      @touch = {}
      @finger_one = nil
      @finger_two = nil
      @finger_left = nil
      @finger_right = nil
      @text = []
      @http_requests = []
      @headset = { position: { x: 0.0, y: 0.0, z: 0.0 }, orientation: { x: 0.0, y: 0.0, z: 0.0 } }
      @last_active = nil
      @last_active_at = nil
      @last_active_global_at = nil
      @touch_enabled = false
      @locale = "en"
      @locale_raw = nil
      @application_control = { key_down: {}, key_up: {} }
      @a11y = {}
      @touch_count = 0
      @touch_split_x = 640
    end

    def controller_one
      @controllers[0]
    end

    def controller_two
      @controllers[1]
    end

    def controller_three
      @controllers[2]
    end

    def controller_four
      @controllers[3]
    end

    def set_last_active device, tick_count, global_tick_count
      return if @last_active == device
      @last_active = device
      @last_active_at = tick_count
      @last_active_global_at = global_tick_count
    end

    # --- Touch ---

    def finger_down_in_game id, x, y, tick_count, global_tick_count
      finger = @touch[id]
      unless finger
        finger = FingerTouch.new
        finger.id = id
        finger.touch_order = @touch_count
        finger.first_tick_down = true
        finger.down_at = tick_count
        finger.global_down_at = global_tick_count
        @touch_count += 1
        @touch[id] = finger
        @finger_one = finger if finger.touch_order == 0
        @finger_two = finger if finger.touch_order == 1
      end
      place_finger finger, x, y, tick_count, global_tick_count
    end

    def finger_move_in_game id, x, y, tick_count, global_tick_count
      finger = @touch[id]
      return nil unless finger
      place_finger finger, x, y, tick_count, global_tick_count
    end

    def finger_up_in_game id
      finger = @touch.delete(id)
      return nil unless finger
      side = finger_side(finger.x)
      @finger_left = nil if side == :left
      @finger_right = nil if side == :right
      @finger_one = nil if @finger_one.equal?(finger)
      @finger_two = nil if @finger_two.equal?(finger)
      if @touch.empty?
        @touch_count = 0
        @finger_one = nil
        @finger_two = nil
        @finger_left = nil
        @finger_right = nil
      end
      finger
    end

    # --- Per-tick transitions ---

    def tick_before
      @keyboard.tick_before
    end

    def tick_after tick_count
      @keyboard.tick_after tick_count
      @touch.each_value do |finger|
        finger.first_tick_down = false
        finger.moved = false
      end
      nil
    end

    # After every game tick. Only the controllers' pressed and released keys
    # are cleared while slow motion skips the game's tick.
    def clear_after_tick skipped = false
      @controllers.each(&:clear_down_and_up)
      return if skipped
      @mouse.clear
      @text.clear
      @http_requests.clear
      @a11y.clear
      @keyboard.active = false
      @controllers.each { |controller| controller.active = false }
      @mouse.active = false
      nil
    end

    # Everything (reset, Ctrl+R in accessibility mode).
    def clear
      @mouse.reset!
      @keyboard.clear
      @controllers.each(&:clear)
      @touch.clear
      @touch_count = 0
      @finger_one = nil
      @finger_two = nil
      @finger_left = nil
      @finger_right = nil
      @text.clear
      @http_requests.clear
      @application_control = { key_down: {}, key_up: {} }
      nil
    end

    # --- Queries: the keyboard first, else the first controller ---

    def click
      @mouse.click && @mouse.click.point
    end

    def up
      @keyboard.up || controller_one.up
    end

    def down
      @keyboard.down || controller_one.down
    end

    def left
      @keyboard.left || controller_one.left
    end

    def right
      @keyboard.right || controller_one.right
    end

    def left_right
      value = @keyboard.left_right
      value != 0 ? value : controller_one.left_right
    end

    def up_down
      value = @keyboard.up_down
      value != 0 ? value : controller_one.up_down
    end

    def directional_vector
      @keyboard.directional_vector || controller_one.directional_vector
    end

    def directional_angle
      @keyboard.directional_angle || controller_one.directional_angle
    end

    alias_method :up_with_wasd, :up
    alias_method :down_with_wasd, :down
    alias_method :left_with_wasd, :left
    alias_method :right_with_wasd, :right
    alias_method :left_right_with_wasd, :left_right
    alias_method :up_down_with_wasd, :up_down
    alias_method :directional_vector_with_wasd, :directional_vector
    alias_method :directional_angle_with_wasd, :directional_angle

    def left_right_perc
      value = controller_one.left_analog_x_perc
      value != 0 ? value : left_right
    end

    def up_down_perc
      value = controller_one.left_analog_y_perc
      value != 0 ? value : up_down
    end

    # The arrows or the first controller's directional pad only.
    def left_right_arrow
      value = (@keyboard.right_arrow ? 1 : 0) - (@keyboard.left_arrow ? 1 : 0)
      return value if value != 0
      controller = controller_one
      (controller.directional_right ? 1 : 0) - (controller.directional_left ? 1 : 0)
    end

    def up_down_arrow
      value = (@keyboard.up_arrow ? 1 : 0) - (@keyboard.down_arrow ? 1 : 0)
      return value if value != 0
      controller = controller_one
      (controller.directional_up ? 1 : 0) - (controller.directional_down ? 1 : 0)
    end

    alias_method :left_right_directional, :left_right_arrow
    alias_method :up_down_directional, :up_down_arrow

    def left_right_directional_perc
      value = left_right_arrow
      value != 0 ? value : controller_one.left_analog_x_perc
    end

    def up_down_directional_perc
      value = up_down_arrow
      value != 0 ? value : controller_one.left_analog_y_perc
    end

    def serialize
      { controller_one: controller_one.serialize, controller_two: controller_two.serialize,
        controller_three: controller_three.serialize, controller_four: controller_four.serialize,
        keyboard: @keyboard.serialize, mouse: @mouse.serialize, text: @text,
        touch: @touch.values.map(&:serialize), last_active: @last_active }
    end

    def inspect
      "#<Kor::Inputs last_active: #{@last_active.inspect}>"
    end

    def to_s
      inspect
    end

    private

    def finger_side x
      x < @touch_split_x ? :left : :right
    end

    def place_finger finger, x, y, tick_count, global_tick_count
      finger.x = x
      finger.y = y
      finger.moved = true
      finger.moved_at = tick_count
      finger.global_moved_at = global_tick_count
      side = { x: x, y: y, w: 1, h: 1 }
      if finger_side(x) == :left
        @finger_left = side
      else
        @finger_right = side
      end
      finger
    end
  end
end
