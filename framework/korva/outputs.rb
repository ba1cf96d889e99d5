# What a game draws: one Outputs per drawing pass (the screen, and every
# render target named this step), each with its typed collections. After the
# game's tick the native flush walks args.passes and their collections
# (solids first, reserved last) and packs every element.
module Kor
  # A legacy one-shot sound pushed into outputs.sounds.
  class Sound
    attr_accessor :path, :gain

    def self.parse value
      return value if value.is_a?(Sound)
      return Sound.new(value) if value.is_a?(String)
      return Sound.new(value[:path] || value[:input], value[:gain] || 1.0) if value.is_a?(Hash)
      raise "* ERROR: I don't know how to parse #{value.inspect} as a sound.\n" \
            "Push the path of a .wav or .ogg file (a String) or a Hash with ~path~ and ~gain~\n" \
            "into ~args.outputs.sounds~.\n"
    end

    def initialize path, gain = 1.0
      @path = path
      @gain = gain
    end

    def end_with? *suffixes
      @path.to_s.end_with?(*suffixes)
    end

    def to_s
      @path.to_s
    end

    def serialize
      { path: @path, gain: @gain }
    end

    def inspect
      serialize.to_s
    end
  end

  # An outputs collection. Pushing normalises the value: hashes, entities
  # and marked objects go in as they are, a list of primitives is flattened,
  # and an Array that is itself one primitive is converted in place by the
  # collection's mark_method.
  class OutputsArray < Array
    # The plain append, taken once: a reload of this file must not alias the
    # overriding push below.
    alias __append__ push unless method_defined?(:__append__)

    def mark_method
      raise "~#{self.class}~ is abstract: use one of the typed outputs collections."
    end

    def collection_name
      "primitives"
    end

    def << value
      __push__ value
    end

    def push *values
      values.each { |value| __push__ value }
      self
    end

    def __push__ value
      $perf_counter_outputs_push_count = ($perf_counter_outputs_push_count || 0) + 1
      return self if value.nil?
      if value.is_a?(Hash) || value.is_a?(Array) || value.is_a?(Struct) || !value.is_a?(Enumerable)
        add_dwim value
      else
        add_dwim value.to_a
      end
      self
    end

    # One array primitive rather than a list of primitives: it holds plain
    # values, or starts with a point or a colour.
    def array_primitive? array
      return true if array.any? { |element| element.is_a?(ValueType) }
      first = array[0]
      second = array[1]
      return true if second.is_a?(Array) && second.length == 3 && second.all? { |n| n.is_a?(Numeric) }
      return true if first.is_a?(Array) && first.length == 2 && first.all? { |n| n.is_a?(Numeric) }
      false
    end

    def mark_and_id! element
      $perf_counter_primitive_is_array = ($perf_counter_primitive_is_array || 0) + 1 if element.is_a?(Array)
      return element if resolved?(element)
      __mark__ element
    end

    def __mark__ element
      element.send mark_method
    end

    # The engine replaces these two with native versions (same behaviour);
    # they are kept here so the model also works in a bare interpreter.
    def resolved? object
      return true if object.is_a?(Hash) || object.is_a?(Kor::OpenEntity) || object.is_a?(Struct)
      return true if object.respond_to?(:draw_override)
      marker = object.primitive_marker
      !marker.nil? && marker != :pending
    end

    def add_dwim object
      return self if object.nil?
      unless object.is_a?(Hash) || object.is_a?(Struct)
        return self if object.is_a?(ValueType)
        return self if object.is_a?(Array) && object.empty?
        if !object.is_a?(Array) && object.is_a?(Enumerable)
          object = object.to_a
          return self if object.empty?
        end
      end
      if !resolved?(object) && object.is_a?(Array)
        if object.all? { |element| resolved?(element) }
          concat object
        elsif array_primitive?(object)
          mark_and_id! object
          __append__ object
        else
          object.each { |element| add_dwim element }
        end
        return self
      end
      __append__ object
      self
    end
  end

  class SolidsOutputsArray < OutputsArray
    def mark_method
      :mark_as_solid!
    end
  end

  class StaticSolidsOutputsArray < SolidsOutputsArray; end

  class SpritesOutputsArray < OutputsArray
    def mark_method
      :mark_as_sprite!
    end
  end

  class StaticSpritesOutputsArray < SpritesOutputsArray; end

  class LabelsOutputsArray < OutputsArray
    def mark_method
      :mark_as_label!
    end
  end

  class StaticLabelsOutputsArray < LabelsOutputsArray; end

  class LinesOutputsArray < OutputsArray
    def mark_method
      :mark_as_line!
    end
  end

  class StaticLinesOutputsArray < LinesOutputsArray; end

  class BordersOutputsArray < OutputsArray
    def mark_method
      :mark_as_border!
    end
  end

  class StaticBordersOutputsArray < BordersOutputsArray; end

  # A collection of mixed primitives: every element must say what it is.
  class GenericOutputsArray < OutputsArray
    CONVERSIONS = [:solid, :sprite, :label, :line, :border]

    def mark_method
      :mark_assert!
    end

    # Plain values are never primitives but not mistakes either: they are
    # the elements of an array primitive, which mark_assert! reports.
    def resolved? object
      unless object.nil? || object.is_a?(Array) || object.is_a?(ValueType) ||
             object.respond_to?(:draw_override) || object.primitive_marker
        raise "* ERROR:\n#{object.inspect}\n\nI don't know how to use the above #{object.class} with SDL's FFI. Please\n" \
              "add a method on the object called ~primitive_marker~ that\n" \
              "returns :solid, :sprite, :label, :line, or :border. If the object\n" \
              "is a Hash, please add { primitive_marker: :PRIMITIVE_SYMBOL } to the Hash.\n\n"
      end
      super
    end

    # A single unmarked element is refused at push time, whatever order the
    # append helper asks its questions in.
    def __push__ value
      resolved?(value) if value.is_a?(Hash) || !(value.nil? || value.is_a?(Enumerable))
      super
    end

    def __mark__ element
      mark_assert! element
    end

    def mark_assert! element
      if element.is_a?(Array) && element[0].is_a?(Symbol)
        rest = element[1..-1]
        raise "* ERROR:\nCannot add #{element.inspect} to outputs.#{collection_name}.\n\n" \
              "The symbol marker has been deprecated. You need to remove the symbol and instead do the following:\n\n" +
              __conversion_lines__(rest)
      end
      raise "* ERROR:\nCannot add #{element.inspect} to outputs.#{collection_name}.\n\n" \
            "Auto-guessing the primitive has been deprecated. You need to mark #{element.inspect} explicitly " \
            "as a primitive. To do so, do one of the following:\n\n" + __conversion_lines__(element)
    end

    def __conversion_lines__ element
      CONVERSIONS.map { |kind| "  args.outputs.#{collection_name} << #{element.inspect}.#{kind}\n" }.join + "\n"
    end
  end

  class PrimitivesOutputsArray < GenericOutputsArray; end

  class StaticPrimitivesOutputsArray < GenericOutputsArray
    def collection_name
      "static_primitives"
    end
  end

  # outputs.debug can also watch values: one small label per line of the
  # value's text, on a translucent white band, stacked from the top left.
  # Watch entries carry watch_label: true, which is how they are counted and
  # cleared (an Array cannot hold instance variables).
  module WatchLabels
    WATCH_LINE_HEIGHT = 22

    def watch object
      text = object.is_a?(String) ? object : object.inspect
      grid = $grid
      top = grid ? grid.top : 720
      left = grid ? grid.left : 0
      line_index = count { |e| e.is_a?(Hash) && e[:watch_label] && e[:primitive_marker] == :label }
      text.split("\n").each do |line|
        y = top - line_index * WATCH_LINE_HEIGHT
        __append__({ x: left, y: y - WATCH_LINE_HEIGHT, w: line.length * 10 + 10, h: WATCH_LINE_HEIGHT,
                     r: 255, g: 255, b: 255, a: 128, primitive_marker: :solid, watch_label: true })
        __append__({ x: left + 5, y: y - 2, text: line, size_px: 18, r: 0, g: 0, b: 0,
                     vertical_alignment_enum: 2, primitive_marker: :label, watch_label: true })
        line_index += 1
      end
      self
    end

    def clear_watch_labels!
      delete_if { |e| e.is_a?(Hash) && e[:watch_label] }
    end
  end

  class DebugOutputsArray < GenericOutputsArray
    include WatchLabels

    def collection_name
      "debug"
    end
  end

  class StaticDebugOutputsArray < GenericOutputsArray
    def collection_name
      "static_debug"
    end
  end

  class ReservedOutputsArray < GenericOutputsArray
    def collection_name
      "reserved"
    end
  end

  class StaticReservedOutputsArray < GenericOutputsArray
    def collection_name
      "static_reserved"
    end
  end

  # One drawing pass: the screen (TopLevelOutputs) or a render target.
  class Outputs
    COLLECTIONS = {
      solids: SolidsOutputsArray, static_solids: StaticSolidsOutputsArray,
      sprites: SpritesOutputsArray, static_sprites: StaticSpritesOutputsArray,
      primitives: PrimitivesOutputsArray, static_primitives: StaticPrimitivesOutputsArray,
      labels: LabelsOutputsArray, static_labels: StaticLabelsOutputsArray,
      lines: LinesOutputsArray, static_lines: StaticLinesOutputsArray,
      borders: BordersOutputsArray, static_borders: StaticBordersOutputsArray,
      debug: DebugOutputsArray, static_debug: StaticDebugOutputsArray,
      reserved: ReservedOutputsArray, static_reserved: StaticReservedOutputsArray,
      screenshots: SpritesOutputsArray
    }

    NON_STATIC = [:labels, :sprites, :lines, :solids, :borders, :primitives, :debug]
    STATIC = [:static_solids, :static_sprites, :static_labels, :static_lines, :static_borders,
              :static_primitives, :static_debug, :static_reserved]
    SERIALIZED = [:solids, :sprites, :lines, :labels, :sounds, :borders, :primitives, :static_solids,
                  :static_borders, :static_sprites, :static_lines, :static_labels, :static_primitives]

    DEFAULT_BACKGROUND_COLOR = [230, 230, 230, 255]
    LARGEST_PORTABLE_SIZE = 1600

    @size_warnings ||= {}

    class << self
      attr_reader :size_warnings
    end

    COLLECTIONS.each_key { |name| attr_reader name }

    attr_reader :args, :background_color_hash, :sounds, :a11y, :a11y_processed, :a11y_notification_queue
    attr_accessor :target, :transient, :clear_before_render

    def initialize args: nil, target: nil, background_color_override: nil
      unless args && args.is_a?(Kor::Args)
        raise ArgumentError, "Outputs.new must pass in an :args named-parameter that is non-nil and is_a? Args."
      end
      @args = args
      @target = target
      @transient = nil
      @width = nil
      @height = nil
      @clear_before_render = true
      @default_background_color = (background_color_override || DEFAULT_BACKGROUND_COLOR).dup
      __restore_background_color__
      COLLECTIONS.each { |name, klass| instance_variable_set "@#{name}".to_sym, klass.new }
      @sounds = []
      @a11y = {}
      @a11y_processed = {}
      @a11y_notification_queue = []
    end

    def << primitive
      @primitives << primitive
      self
    end

    def [] name
      @args.render_target name
    end

    def render_target name
      @args.render_target name
    end

    def transient!
      @transient = true
      self
    end

    def width
      @width || __logical_size__(:logical_width, 1280)
    end

    def height
      @height || __logical_size__(:logical_height, 720)
    end

    def width= value
      __check_size__ "width", value
      @width = value
    end

    def height= value
      __check_size__ "height", value
      @height = value
    end

    alias w width
    alias h height
    alias w= width=
    alias h= height=

    def background_color= value
      return if value == @background_color || value == @background_color_hash
      color = __parse_background_color__ value
      @background_color = color
      @background_color_hash = { r: color[0], g: color[1], b: color[2], a: color[3] }
    end

    # Black until the game runs (the first frames show nothing of a game
    # still loading); then the colour with missing channels filled in.
    def background_color
      return [0, 0, 0] unless __running__?
      color = @background_color
      [color[0] || 230, color[1] || 230, color[2] || 230, color[3] || 255]
    end

    def clear_non_static
      __restore_background_color__
      @clear_before_render = true
      @screenshots.clear if Kor.current_tick_count > 0
      NON_STATIC.each { |name| instance_variable_get("@#{name}".to_sym).clear }
      @a11y.clear
      @debug.clear_watch_labels!
    end

    def clear_non_static_reserved
      @reserved.clear
      @debug.clear_watch_labels!
    end

    def clear
      clear_non_static
      STATIC.each { |name| instance_variable_get("@#{name}".to_sym).clear }
    end

    def reset
      clear
      @a11y.clear
      @a11y_processed.clear
      @a11y_notification_queue.clear
    end

    # End of the game's tick: the pass gets its size and its sounds are
    # parsed for the audio hand-over.
    def tick
      @width ||= __logical_size__(:logical_width, 1280)
      @height ||= __logical_size__(:logical_height, 720)
      @sounds.map! { |sound| Sound.parse sound }
      self
    end

    def serialize
      result = {}
      SERIALIZED.each do |name|
        collection = name == :sounds ? @sounds : instance_variable_get("@#{name}".to_sym)
        result[name] = collection.map { |element| __serialize_element__ element }
      end
      result
    end

    def inspect
      serialize.to_s
    end

    private

    def __serialize_element__ element
      return element if element.is_a?(Hash) || element.is_a?(ValueType) || element.nil?
      return element.__hash__ if element.is_a?(Kor::OpenEntity)
      return element.serialize if element.respond_to?(:serialize)
      element.inspect
    end

    def __restore_background_color__
      @background_color = @default_background_color.dup
      color = @background_color
      @background_color_hash = { r: color[0], g: color[1], b: color[2], a: color[3] }
    end

    def __runtime__
      @args.respond_to?(:runtime) ? @args.runtime : $kor
    end

    def __running__?
      runtime = __runtime__
      return false if runtime.respond_to?(:load_status) && runtime.load_status != :ready
      global = runtime.respond_to?(:global_tick_count) ? runtime.global_tick_count : Kor.current_global_tick_count
      !global.nil? && global >= 0
    end

    def __logical_size__ name, fallback
      runtime = __runtime__
      (runtime.respond_to?(name) && runtime.send(name)) || fallback
    end

    def __outputs_name__
      @target ? "args.outputs[:#{@target}].background_color" : "args.outputs.background_color"
    end

    def __parse_background_color__ value
      begin
        color = if value.is_a?(Array)
                  value.compact
                elsif value.is_a?(Hash)
                  [value[:r], value[:g], value[:b], value[:a]].compact
                end
        valid = color && (color.length == 3 || color.length == 4) && color.all? { |c| c.is_a?(Numeric) }
        raise "expected an Array of three or four numbers" unless valid
        color
      rescue Exception => e
        raise "* ERROR: Failed to set background_color for Output.\n" \
              "~#{__outputs_name__}~ must be an Array of three or four values, [r, g, b] or [r, g, b, a]\n" \
              "(or a Hash with r, g, b and optionally a), each 0 to 255.\n" \
              "The value given was: #{value.inspect}\n" \
              "** INNER EXCEPTION:\n#{e.message}\n"
      end
    end

    def __check_size__ dimension, value
      return unless @target && value.is_a?(Numeric) && value > LARGEST_PORTABLE_SIZE
      warnings = Outputs.size_warnings
      return if warnings[@target]
      warnings[@target] = true
      Kor.log_message "* WARNING: Render target size is above what Android can render.\n\n" \
                      "The render target named ~#{@target}~ has a #{dimension} of #{value} pixels. This size is larger 1600\n" \
                      "pixels and WILL NOT render on Android devices.\n", :warn
    end
  end

  # The screen: args.outputs.
  class TopLevelOutputs < Outputs
    def background_color= value
      super
      @background_color_hash[:a] = nil
    end
  end

  # A render target, created by args.render_target(name) for one step.
  class RenderTargetOutputs < Outputs
    DEFAULT_BACKGROUND_COLOR = [255, 255, 255, 0]

    def initialize args: nil, target: nil, background_color_override: nil
      super(args: args, target: target, background_color_override: background_color_override || DEFAULT_BACKGROUND_COLOR)
    end
  end
end

KorTopLevelOutputs = Kor::TopLevelOutputs
