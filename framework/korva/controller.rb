# A game controller as the game sees it: its keys pressed, held and released with
# the tick numbers of the coming tick, its two analog sticks, and its connection.
module Kor
  class Controller
    include DirectionalInputHelperMethods

    # Native button codes of the controller key events.
    RAW_CONTROLLER_KEY_LOOKUP = {
      1 => :up, 2 => :down, 3 => :left, 4 => :right, 13 => :start, 14 => :b, 15 => :a, 16 => :x,
      17 => :y, 18 => :l1, 19 => :r1, 20 => :l3, 21 => :r3, 22 => :l2, 23 => :r2,
      24 => :directional_up, 25 => :directional_down, 26 => :directional_left,
      27 => :directional_right, 28 => :select, 29 => :home
    }

    # One set of key flags: each label holds a tick number or nil.
    class Keys
      LABELS = [:up, :down, :left, :right, :a, :b, :x, :y, :l1, :r1, :l2, :r2, :l3, :r3, :start,
                :select, :home, :directional_up, :directional_down, :directional_left, :directional_right]

      ALIASES = {
        dpad_up: :directional_up, up_dpad: :directional_up, dpad_down: :directional_down,
        down_dpad: :directional_down, dpad_left: :directional_left, left_dpad: :directional_left,
        dpad_right: :directional_right, right_dpad: :directional_right, back: :select, guide: :home
      }

      LABELS.each { |label| attr_accessor label }
      ALIASES.each do |name, label|
        alias_method name, label
        alias_method "#{name}=", "#{label}="
      end

      IVARS = {}
      LABELS.each { |label| IVARS[label] = "@#{label}".to_sym }

      def self.label name
        name = name.to_sym
        LABELS.include?(name) ? name : ALIASES[name]
      end

      def get label
        instance_variable_get(IVARS[Keys.label(label)])
      end

      def set label, value
        instance_variable_set(IVARS[Keys.label(label)], value)
      end

      def clear_key label
        set label, nil
      end

      def truthy_keys
        LABELS.select { |label| instance_variable_get(IVARS[label]) }
      end

      def clear
        LABELS.each { |label| instance_variable_set(IVARS[label], nil) }
        nil
      end

      def serialize
        result = {}
        LABELS.each do |label|
          value = instance_variable_get(IVARS[label])
          result[label] = value if value
        end
        result
      end

      def inspect
        "#<Kor::Controller::Keys #{truthy_keys.inspect}>"
      end

      def to_s
        inspect
      end
    end

    # The raw joysticks the native side reports (devices without a controller
    # mapping): their identity and the latest value of every axis, hat and button,
    # which is what a configuration screen needs to build a mapping.
    class Config
      attr_reader :raw_joysticks

      def initialize runtime = nil
        @runtime = runtime
        @raw_joysticks = {}
      end

      def rawjoystick_connected jid, name, guid
        @raw_joysticks[jid] = { jid: jid, name: name, guid: guid, axes: {}, hats: {}, buttons: {} }
      end

      def rawjoystick_disconnected jid
        @raw_joysticks.delete(jid)
      end

      def rawjoystick_axis jid, axis, value
        joystick = @raw_joysticks[jid]
        joystick[:axes][axis] = value if joystick
      end

      def rawjoystick_hat jid, hat, value
        joystick = @raw_joysticks[jid]
        joystick[:hats][hat] = value if joystick
      end

      def rawjoystick_button jid, button, pressed
        joystick = @raw_joysticks[jid]
        joystick[:buttons][button] = pressed if joystick
      end

      # The screen is not shown: the game's tick is never held back for it.
      def should_tick?
        false
      end

      def tick args
      end
    end

    AXES = [:left_analog_x, :left_analog_y, :right_analog_x, :right_analog_y]

    attr_accessor :key_down, :key_held, :key_up, :left_analog_x_raw, :left_analog_y_raw,
                  :right_analog_x_raw, :right_analog_y_raw, :left_analog_x_perc, :left_analog_y_perc,
                  :right_analog_x_perc, :right_analog_y_perc, :name, :connected, :active,
                  :left_hand, :right_hand, :player_num

    def initialize player_num = nil
      @player_num = player_num
      @key_down = Keys.new
      @key_held = Keys.new
      @key_up = Keys.new
      AXES.each do |axis|
        instance_variable_set("@#{axis}_raw", 0)
        instance_variable_set("@#{axis}_perc", 0)
      end
      @native_axes = [nil, nil, nil, nil]
      @name = nil
      @connected = false
      @active = nil
      @left_hand = { position: { x: 0.0, y: 0.0, z: 0.0 }, orientation: { x: 0.0, y: 0.0, z: 0.0 } }
      @right_hand = { position: { x: 0.0, y: 0.0, z: 0.0 }, orientation: { x: 0.0, y: 0.0, z: 0.0 } }
    end

    # controller.a (any label or alias): pressed this tick or held.
    (Keys::LABELS + Keys::ALIASES.keys).each do |name|
      label = Keys.label(name)
      ivar = Keys::IVARS[label]
      define_method(name) { @key_down.instance_variable_get(ivar) || @key_held.instance_variable_get(ivar) }
    end

    # --- Events ---

    # event is :key_down, :key_held or :key_up; tick_count is the tick the game
    # sees next.
    def key_event raw_key, event, tick_count
      label = RAW_CONTROLLER_KEY_LOOKUP.fetch(raw_key)
      @active = tick_count
      case event
      when :key_down
        @key_down.set(label, tick_count)
        @key_held.clear_key(label)
        @key_up.clear_key(label)
      when :key_held
        @key_down.clear_key(label)
        @key_held.set(label, tick_count) unless @key_held.get(label)
        @key_up.clear_key(label)
      when :key_up
        @key_down.clear_key(label)
        @key_held.clear_key(label)
        @key_up.set(label, tick_count)
      else
        raise "  * ERROR:\n  Layout#set_key failed for player_num: #{@player_num}, raw_key: #{raw_key}, event: #{event}.\n\n"
      end
      label
    end

    # index 0..3 (left x, left y, right x, right y); value as the native side
    # reads it, y pointing down. Stored with y pointing up like the grid. Answers
    # whether the value changed.
    def analog_in_game index, value, tick_count
      return false if @native_axes[index] == value
      @native_axes[index] = value
      raw = index % 2 == 1 ? -value : value
      raw = 32767 if raw > 32767
      raw = -32768 if raw < -32768
      axis = AXES[index]
      instance_variable_set("@#{axis}_raw", raw)
      instance_variable_set("@#{axis}_perc", (raw / 32767.0).round(2))
      @active = tick_count if value != 0
      true
    end

    def connect name
      @connected = true
      @name = name
    end

    def disconnect
      @connected = false
      @name = nil
    end

    def clear_down_and_up
      @key_down.clear
      @key_up.clear
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
      @active = nil
      nil
    end

    # --- Queries ---

    def left_analog_angle
      analog_angle @left_analog_x_raw, @left_analog_y_raw, @left_analog_x_perc, @left_analog_y_perc
    end

    def right_analog_angle
      analog_angle @right_analog_x_raw, @right_analog_y_raw, @right_analog_x_perc, @right_analog_y_perc
    end

    def left_analog_active? threshold_raw: nil, threshold_perc: nil
      analog_active? @left_analog_x_raw, @left_analog_y_raw, @left_analog_x_perc, @left_analog_y_perc,
                     threshold_raw, threshold_perc
    end

    def right_analog_active? threshold_raw: nil, threshold_perc: nil
      analog_active? @right_analog_x_raw, @right_analog_y_raw, @right_analog_x_perc, @right_analog_y_perc,
                     threshold_raw, threshold_perc
    end

    def serialize
      { key_down: @key_down.serialize, key_held: @key_held.serialize, key_up: @key_up.serialize,
        left_analog_x_raw: @left_analog_x_raw, left_analog_y_raw: @left_analog_y_raw,
        right_analog_x_raw: @right_analog_x_raw, right_analog_y_raw: @right_analog_y_raw,
        name: @name, connected: @connected }
    end

    def inspect
      "#<Kor::Controller #{serialize}>"
    end

    def to_s
      inspect
    end

    private

    def analog_angle x_raw, y_raw, x_perc, y_perc
      return nil if x_raw == 0 && y_raw == 0
      (Math.atan2(y_perc, x_perc) * 180.0 / Math::PI) % 360
    end

    def analog_active? x_raw, y_raw, x_perc, y_perc, threshold_raw, threshold_perc
      return x_perc.abs >= threshold_perc || y_perc.abs >= threshold_perc if threshold_perc
      return x_raw.abs >= threshold_raw || y_raw.abs >= threshold_raw if threshold_raw
      x_raw != 0 || y_raw != 0
    end
  end
end
