# The object handed to the game's tick every step (args), with the audio hash
# and the pixel arrays it holds.

# args.audio: key -> audio entry Hash, read by the audio engine after every
# step. The master volume is kept here.
class AudioHash < Hash
  def volume
    runtime = $kor
    if runtime.respond_to?(:production) && runtime.production && Kernel.tick_count != 0 &&
       runtime.respond_to?(:platform) && runtime.platform != "Emscripten"
      inputs = runtime.respond_to?(:args) && runtime.args ? runtime.args.inputs : nil
      keyboard = inputs && inputs.keyboard
      return 0.0 if keyboard && keyboard.respond_to?(:has_focus) && keyboard.has_focus == false
    end
    @volume || 1.0
  end

  def volume= value
    value = value.to_f
    value = 0.0 if value < 0.0
    value = 1.0 if value > 1.0
    @volume = value
  end
end

module Kor
  # Pixels the game writes and the engine uploads as a texture named after the
  # array: one 32-bit ABGR value per pixel (0xAABBGGRR, red in the low byte).
  class PixelArray
    attr_accessor :width, :height, :pixels

    def initialize width = 0, height = 0
      @width = width
      @height = height
      @pixels = []
    end

    alias w width
    alias h height
    alias w= width=
    alias h= height=
  end

  class Args
    include Serialize

    attr_accessor :inputs, :outputs, :audio, :state, :temp_state, :passes, :render_targets,
                  :pixel_arrays, :grid, :layout, :events, :runtime, :recording

    def initialize runtime, recording = nil
      @runtime = runtime
      @recording = recording
      @inputs = Inputs.new
      @outputs = TopLevelOutputs.new(args: self)
      @audio = AudioHash.new
      @state = OpenEntity.new
      @state.tick_count = -1
      @temp_state = OpenEntity.new
      @passes = []
      @render_targets = {}
      @pixel_arrays = {}
      @grid = Grid.new(runtime)
      $grid = @grid
      @layout = __new_layout__
      $layout = @layout if @layout
      @events = { resize_occurred: false, raw: [] }
      @audio_object_ids = {}
    end

    alias kor runtime

    def cvars
      $cvars
    end

    def wizards
      $wizards
    end

    def geometry
      Kor.const_defined?(:Geometry) ? Kor::Geometry : nil
    end

    def fn
      Kor.const_defined?(:Fn) ? Kor::Fn : nil
    end

    def easing
      Kor.const_defined?(:Easing) ? Kor::Easing : nil
    end

    def string
      String
    end

    def tick_count
      @state.tick_count
    end

    def tick_count= value
      @state.tick_count = value
    end

    # The render target of that name for this step; created (and made a pass,
    # drawn before the screen) on first use.
    def render_target name
      name = name.to_s
      target = @render_targets[name]
      return target if target
      target = RenderTargetOutputs.new(args: self, target: name)
      @render_targets[name] = target
      @passes << target
      target
    end

    def pixel_array name
      name = name.to_s
      @pixel_arrays[name] ||= PixelArray.new
    end

    [:solids, :static_solids, :sprites, :static_sprites, :labels, :static_labels, :lines, :static_lines,
     :borders, :static_borders, :primitives, :static_primitives].each do |collection|
      define_method(collection) { @outputs.__send__(collection) }
    end

    def keyboard
      @inputs.keyboard
    end

    def mouse
      @inputs.mouse
    end

    def controller_one
      @inputs.controller_one
    end

    def controller_two
      @inputs.controller_two
    end

    def controller_three
      @inputs.controller_three
    end

    def controller_four
      @inputs.controller_four
    end

    def click
      click = @inputs.mouse.click
      click && (click.respond_to?(:point) ? click.point : click)
    end

    def click_at
      @inputs.mouse.click_at
    end

    def destructure
      [@grid, @inputs, @state, @outputs, @runtime, @passes]
    end

    # Before the game's tick: which audio entries existed when the step began.
    def tick_before
      @audio_object_ids = {}
      @audio.each_value { |entry| @audio_object_ids[entry.object_id] = true }
      nil
    end

    # After the game's tick: new audio entries reach the audio engine first
    # silent, then from their start with their own gain; touch points lose
    # their first-tick flag; temp_state and this step's events are emptied.
    def tick_after
      __start_new_audio__
      @inputs.touch.each_value { |finger| finger.first_tick_down = false if finger.respond_to?(:first_tick_down=) }
      @temp_state.clear! if @temp_state.respond_to?(:clear!)
      @events[:resize_occurred] = false
      @events[:raw] = []
      nil
    end

    # A game reset: everything drawn, every sound and this step's raw events go.
    def reset
      @outputs.reset
      @audio.clear
      @events[:raw] = []
      @state.tick_count = Kernel.tick_count if @state
      nil
    end

    def serialize
      {
        state: __entity_hash__(@state),
        temp_state: __entity_hash__(@temp_state),
        inputs: __serialize_member__(@inputs),
        passes: @passes.map { |pass| __serialize_member__(pass) },
        outputs: __serialize_member__(@outputs),
        grid: __serialize_member__(@grid)
      }
    end

    def inspect
      "#<Kor::Args tick_count: #{Kernel.tick_count}>"
    end

    alias to_s inspect

    # A game that writes args.NAME for an attribute it keeps in args.state
    # most likely forgot the .state.
    def method_missing name, *arguments, &block
      state = @state
      if arguments.length <= 1 && state.is_a?(OpenEntity) && state.as_hash.key?(name)
        raise "* ERROR - :#{name} method missing on ~#{self.class.name}~.\n" \
              "#{name}(#{arguments.map(&:inspect).join(", ")})\n" \
              "** POSSIBLE SOLUTION - ~args.state.#{name}~ exists.\n" \
              "Did you forget ~.state~ before ~.#{name}~?\n"
      end
      super
    end

    def respond_to_missing? name, include_private = false
      false
    end

    private

    def __new_layout__
      return nil unless Kor.const_defined?(:Layout)
      Kor::Layout.new(@grid.w, @grid.h, @runtime.respond_to?(:orientation) ? @runtime.orientation : :landscape)
    rescue Exception
      nil
    end

    def __entity_hash__ entity
      return nil if entity.nil?
      return entity.as_hash if entity.respond_to?(:as_hash)
      entity
    end

    def __serialize_member__ value
      value.respond_to?(:serialize) ? value.serialize : value.inspect
    end

    def __start_new_audio__
      fresh = []
      @audio.each do |key, entry|
        next unless entry.is_a?(Hash)
        fresh << [entry, entry[:gain] || 1.0, entry[:playtime] || 0.0] unless @audio_object_ids[entry.object_id]
      end
      return if fresh.empty?
      runtime = @runtime
      update = runtime.respond_to?(:update_simulation_audio_state)
      fresh.each { |entry, _gain, _playtime| entry[:gain] = 0 }
      fresh.each { runtime.update_simulation_audio_state } if update
      fresh.each do |entry, gain, playtime|
        entry[:playtime] = 0
        entry[:gain] = gain
        runtime.update_simulation_audio_state if update
      end
    end
  end
end
