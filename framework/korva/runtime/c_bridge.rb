# The runtime methods the native event translation calls, one call per input
# event, before the simulation step runs: they update args.inputs. Positions
# arrive in logical pixels with the origin at the top left and are converted to
# the grid here. The optional last argument is :replay for recorded input played
# back; while a replay runs, every other call is dropped (the user's key presses
# that stop a replay excepted). The per-tick transitions the runtime runs around
# the game's tick (inputs_tick_before, inputs_tick_after, clear_inputs) are here
# too; a runtime that needs more (Ctrl+R, reload lists) overrides them and calls
# super.
module Kor
  class Runtime
    module CBridge
      CONSOLE_TOGGLE_KEYS = [:backtick, :tilde, :superscript_two, :section_sign, :ordinal_indicator, :circumflex]
      PLAYER_WORDS = [:one, :two, :three, :four]
      LEFT_CONTROL = 64
      KEY_R = 114

      # --- Keyboard ---

      def key_down_raw raw_key, modifier, sender = false
        raw_key = raw_key.to_i
        modifier = modifier.to_i
        if sender != :replay && inputs_replaying?
          return unless replay_stop_key?(raw_key, modifier)
          $recording.stop_replay if $recording.respond_to?(:stop_replay)
        end
        return if inputs_slowmo_skip?
        record_input :key_down_raw, raw_key, modifier, 2
        key_down_in_game raw_key, modifier
      end

      def key_up_raw raw_key, modifier, sender = false
        return if sender != :replay && inputs_replaying?
        raw_key = raw_key.to_i
        modifier = modifier.to_i
        record_input :key_up_raw, raw_key, modifier, 2
        key_up_in_game raw_key, modifier
      end

      def key_down_in_game raw_key, modifier
        keyboard = @args.inputs.keyboard
        tick_count = inputs_tick_count
        return unless keyboard.key_down_in_game(raw_key, modifier, tick_count)
        @args.inputs.set_last_active :keyboard, tick_count, inputs_global_tick_count
      end

      def key_up_in_game raw_key, modifier
        keyboard = @args.inputs.keyboard
        tick_count = inputs_tick_count
        return unless keyboard.key_up_in_game(raw_key, modifier, tick_count)
        @args.inputs.set_last_active :keyboard, tick_count, inputs_global_tick_count
      end

      def scancode_down_raw raw_scancode, modifier, sender = false
        return if sender != :replay && inputs_replaying?
        return if inputs_slowmo_skip?
        raw_scancode = raw_scancode.to_i
        record_input :scancode_down_raw, raw_scancode, modifier.to_i, 2
        @args.inputs.keyboard.scancode_down_in_game raw_scancode, inputs_tick_count
      end

      def scancode_up_raw raw_scancode, modifier, sender = false
        return if sender != :replay && inputs_replaying?
        raw_scancode = raw_scancode.to_i
        record_input :scancode_up_raw, raw_scancode, modifier.to_i, 2
        @args.inputs.keyboard.scancode_up_in_game raw_scancode, inputs_tick_count
      end

      def textinput str, sender = false
        return if sender != :replay && inputs_replaying?
        str = str.to_s
        record_input :textinput, str, nil, 1
        @args.inputs.text << str
      end

      # --- Mouse ---

      def mouse_move x, y, sender = false
        mouse_move_relative x, y, 0, 0, sender
      end

      def mouse_move_relative x, y, relative_x, relative_y, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :mouse_move, x, y, 2
        grid_x, grid_y = inputs_to_grid(x, y)
        tick_count = inputs_tick_count
        global_tick_count = inputs_global_tick_count
        @args.inputs.mouse.move_in_game grid_x, grid_y, relative_x, -relative_y, @mouse_grab == 2,
                                        tick_count, global_tick_count
        @args.inputs.set_last_active :mouse, tick_count, global_tick_count
      end

      def mouse_button_pressed button, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :mouse_button_pressed, button, nil, 1
        mouse_button_event button.to_i, true
      end

      def mouse_button_up button, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :mouse_button_up, button, nil, 1
        mouse_button_event button.to_i, false
      end

      def mouse_pressed x, y, sender = false
        mouse_move x, y, sender
        mouse_button_pressed 1, sender
      end

      def mouse_up x, y, sender = false
        mouse_move x, y, sender
        mouse_button_up 1, sender
      end

      def mouse_wheel x, y = 0, inverted = false, sender = false
        return if sender != :replay && inputs_replaying?
        if $recording.respond_to?(:record_input_history_3_params)
          $recording.record_input_history_3_params :mouse_wheel, x, y, inverted
        end
        tick_count = inputs_tick_count
        global_tick_count = inputs_global_tick_count
        @args.inputs.mouse.wheel_in_game x, y, inverted, tick_count, global_tick_count
        @args.inputs.set_last_active :mouse, tick_count, global_tick_count
      end

      # --- Touch ---

      def finger_down touchid, touchx, touchy, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :finger_down, touchid, [touchx, touchy], 3
        finger_event touchid, touchx, touchy, true
      end

      def finger_move touchid, touchx, touchy, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :finger_move, touchid, [touchx, touchy], 3
        finger_event touchid, touchx, touchy, false
      end

      def finger_up touchid, sender = false
        return if sender != :replay && inputs_replaying?
        record_input :finger_up, touchid, nil, 1
        return unless @args.inputs.finger_up_in_game(touchid)
        @args.inputs.set_last_active :mouse, inputs_tick_count, inputs_global_tick_count
      end

      # --- Controllers ---

      def controller_key_down player_num, raw_key, sender = false
        controller_key_event player_num, raw_key, :key_down, sender
      end

      def controller_key_held player_num, raw_key, sender = false
        controller_key_event player_num, raw_key, :key_held, sender
      end

      def controller_key_up player_num, raw_key, sender = false
        controller_key_event player_num, raw_key, :key_up, sender
      end

      PLAYER_WORDS.each_with_index do |word, index|
        [:key_down, :key_held, :key_up].each do |event|
          define_method("#{event}_player_#{word}") do |raw_key, sender = false|
            controller_key_event index + 1, raw_key, event, sender
          end
        end

        define_method("controller_#{word}_connected") do |name|
          @args.inputs.controllers[index].connect name
        end

        define_method("controller_#{word}_disconnected") do
          @args.inputs.controllers[index].disconnect
        end
      end

      def controller_key_event player_num, raw_key, event, sender = false
        return if sender != :replay && inputs_replaying?
        player_num = player_num.to_i
        raw_key = raw_key.to_i
        controller = @args.inputs.controllers[player_num - 1] if player_num >= 1 && player_num <= 4
        return unless controller
        record_input "#{event}_player_#{PLAYER_WORDS[player_num - 1]}".to_sym, raw_key, nil, 1
        tick_count = inputs_tick_count
        return unless controller.key_event(raw_key, event, tick_count + 1)
        @args.inputs.set_last_active :controller, tick_count, inputs_global_tick_count
      end

      [1, 2, 3, 4].each do |player|
        Controller::AXES.each_with_index do |axis, index|
          name = "#{axis}_player_#{player}".to_sym
          define_method(name) do |value, sender = false|
            controller_analog name, player, index, value, sender
          end
        end
      end

      def controller_analog name, player, index, value, sender = false
        return if sender != :replay && inputs_replaying?
        value = value.to_i
        controller = @args.inputs.controllers[player - 1]
        tick_count = inputs_tick_count
        return unless controller.analog_in_game(index, value, tick_count)
        record_input name, value, nil, 1
        @args.inputs.set_last_active :controller, tick_count, inputs_global_tick_count if value != 0
      end

      # --- VR poses: always zero on this platform ---

      def left_controller_position x, y, z, orientation_x, orientation_y, orientation_z
        store_pose @args.inputs.controller_one.left_hand, x, y, z, orientation_x, orientation_y, orientation_z
      end

      def right_controller_position x, y, z, orientation_x, orientation_y, orientation_z
        store_pose @args.inputs.controller_one.right_hand, x, y, z, orientation_x, orientation_y, orientation_z
      end

      def headset_position x, y, z, orientation_x, orientation_y, orientation_z
        store_pose @args.inputs.headset, x, y, z, orientation_x, orientation_y, orientation_z
      end

      # --- Window focus ---

      def window_keyboard_focus_changed gained
        @args.inputs.keyboard.has_focus = gained
      end

      def window_mouse_focus_changed gained
        @args.inputs.mouse.has_focus = gained
      end

      # --- Raw joysticks, for the controller configuration screen ---

      def controller_config
        @controller_config ||= Controller::Config.new(self)
      end

      def rawjoystick_connected jid, name, guid
        controller_config.rawjoystick_connected jid, name, guid
      end

      def rawjoystick_disconnected jid
        controller_config.rawjoystick_disconnected jid
      end

      def rawjoystick_axis jid, axis, value
        controller_config.rawjoystick_axis jid, axis, value
      end

      def rawjoystick_hat jid, hat, value
        controller_config.rawjoystick_hat jid, hat, value
      end

      def rawjoystick_button jid, button, pressed
        controller_config.rawjoystick_button jid, button, pressed
      end

      def raw_event event
        @args.events[:raw] << event
      end

      # --- Per-tick transitions around the game's tick ---

      def inputs_tick_before
        return if inputs_slowmo_skip?
        @args.inputs.tick_before
      end

      def inputs_tick_after
        return if inputs_slowmo_skip?
        @args.inputs.tick_after inputs_tick_count
      end

      def clear_inputs
        @args.inputs.clear_after_tick inputs_slowmo_skip?
      end

      # --- What the bridge needs from the runtime; a runtime with other state
      # --- overrides these.

      # True while slow motion holds the game's tick back in this step.
      def inputs_slowmo_skip?
        false
      end

      def inputs_replaying?
        $recording.respond_to?(:is_replaying?) && $recording.is_replaying?
      end

      # The tick counters live on Kernel once the framework defines them there.
      if Kernel.respond_to?(:tick_count) && Kernel.respond_to?(:global_tick_count)
        def inputs_tick_count
          Kernel.tick_count
        end

        def inputs_global_tick_count
          Kernel.global_tick_count
        end
      else
        def inputs_tick_count
          @tick_count || -1
        end

        def inputs_global_tick_count
          @global_tick_count || -1
        end
      end

      # Logical top-left pixels to the grid: x - origin_x, origin_y - y.
      def inputs_to_grid x, y
        grid = $grid
        if grid.respond_to?(:origin_x)
          [x - grid.origin_x, grid.origin_y - y]
        else
          [x, (@logical_height || 720) - y]
        end
      end

      def inputs_console_toggle_keys
        console = $console
        console.respond_to?(:console_toggle_keys) ? console.console_toggle_keys : CONSOLE_TOGGLE_KEYS
      end

      private

      def record_input name, value_1, value_2, value_count
        recording = $recording
        return unless recording.respond_to?(:record_input_history)
        if value_2.is_a?(Array)
          recording.record_input_history_3_params name, value_1, value_2[0], value_2[1]
        else
          recording.record_input_history name, value_1, value_2, value_count
        end
      end

      # The user's key presses that end a replay: a console toggle key or Ctrl+R.
      def replay_stop_key? raw_key, modifier
        return true if raw_key == KEY_R && modifier == LEFT_CONTROL
        names = KeyboardKeys.sdl_to_key(raw_key, modifier) || []
        inputs_console_toggle_keys.any? { |key| names.include?(KeyboardKeys.canonical(key)) }
      end

      def mouse_button_event button, pressed
        mouse = @args.inputs.mouse
        tick_count = inputs_tick_count
        global_tick_count = inputs_global_tick_count
        changed = if pressed
                    mouse.button_pressed_in_game(button, tick_count, global_tick_count)
                  else
                    mouse.button_up_in_game(button, tick_count, global_tick_count)
                  end
        @args.inputs.set_last_active :mouse, tick_count, global_tick_count if changed
      end

      def finger_event touchid, touchx, touchy, down
        inputs = @args.inputs
        grid = $grid
        inputs.touch_split_x = grid.respond_to?(:center_x) ? grid.center_x : 640
        x, y = inputs_to_grid(touchx, touchy)
        tick_count = inputs_tick_count
        global_tick_count = inputs_global_tick_count
        finger = if down
                   inputs.finger_down_in_game(touchid, x, y, tick_count, global_tick_count)
                 else
                   inputs.finger_move_in_game(touchid, x, y, tick_count, global_tick_count)
                 end
        inputs.set_last_active :mouse, tick_count, global_tick_count if finger
      end

      def store_pose pose, x, y, z, orientation_x, orientation_y, orientation_z
        position = pose[:position]
        position[:x] = x
        position[:y] = y
        position[:z] = z
        orientation = pose[:orientation]
        orientation[:x] = orientation_x
        orientation[:y] = orientation_y
        orientation[:z] = orientation_z
        pose
      end
    end
  end
end
