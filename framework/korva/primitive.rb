# Array primitives. An Array pushed into a typed outputs collection (or
# converted with array.solid, .sprite, .label, .line, .border) becomes a
# primitive in place: its singleton class gains a module that reads and
# writes the primitive's attributes by element position.
module Kor
  module Primitive
    class FrozenPrimitiveError < StandardError; end

    SOLID_POSITIONS = [:x, :y, :w, :h, :r, :g, :b, :a, :blendmode_enum, :anchor_x, :anchor_y]
    SPRITE_POSITIONS = [:x, :y, :w, :h, :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
                        :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
                        :source_x, :source_y, :source_w, :source_h, :blendmode_enum, :anchor_x, :anchor_y]
    LINE_POSITIONS = [:x, :y, :x2, :y2, :r, :g, :b, :a, :blendmode_enum]
    LABEL_POSITIONS = [:x, :y, :text, :size_enum, :alignment_enum, :r, :g, :b, :a, :font,
                       :vertical_alignment_enum, :blendmode_enum, :anchor_x, :anchor_y]
    # Labels of 3, 6 or 7 elements carry a colour right after the text.
    SHORT_LABEL_POSITIONS = [:x, :y, :text, :r, :g, :b, :a]
    SHORT_LABEL_LENGTHS = [3, 6, 7]

    @warned_locations ||= {}

    class << self
      def define_positions mod, names
        names.each_with_index do |name, index|
          mod.send(:define_method, name) { self[index] }
          mod.send(:define_method, "#{name}=".to_sym) { |value| self[index] = value }
        end
        mod.send(:define_method, :__primitive_attributes__) { names }
      end

      def convert! array, kind
        if array.frozen?
          raise FrozenPrimitiveError, "* ERROR:\nThe Array #{array.inspect} is frozen and cannot be converted to a " \
                                      "#{kind} primitive.\nConvert a copy instead: ~array.dup.#{kind}~.\n"
        end
        __warn_array_primitive__ kind if $warn_array_primitives
        array.extend module_for(array, kind)
        array
      end

      def module_for array, kind
        case kind
        when :solid then SolidArray
        when :border then BorderArray
        when :sprite then SpriteArray
        when :line then LineArray
        else SHORT_LABEL_LENGTHS.include?(array.length) ? ShortLabelArray : LabelArray
        end
      end

      def clear_array_primitive_warnings!
        @warned_locations.clear
      end

      # Arrays are the slow road to the screen (one script call per element
      # and frame): in development the first conversion from each place in
      # the game says where it happened.
      def __warn_array_primitive__ kind
        stack = Kernel.caller
        location = stack.find { |line| !line.include?("korva/") } || stack.first || "(unknown)"
        return if @warned_locations[location]
        @warned_locations[location] = true
        Kor.log_message "* ARRAY PRIMITIVE DETECTED AT:\n" + stack.join("\n") + "\n" \
                        "An Array was converted to a #{kind}. Hashes are drawn without any script call per element;\n" \
                        "consider ~{ x: ..., y: ... }~ instead.\n", :warn
      end
    end

    # What every array primitive answers besides its attributes.
    module ArrayPrimitive
      def to_hash
        result = {}
        __primitive_attributes__.each { |name| result[name] = send(name) }
        result[:primitive_marker] = primitive_marker
        result
      end

      def serialize
        to_hash
      end

      def left
        x
      end

      def bottom
        y
      end

      def right
        x + (w || 0)
      end

      def top
        y + (h || 0)
      end

      def center_x
        x + (w || 0) / 2.0
      end

      def center_y
        y + (h || 0) / 2.0
      end

      def point
        { x: x, y: y }
      end

      def rect
        { x: x, y: y, w: w, h: h }
      end
    end

    module SolidArray
      include ArrayPrimitive
      Primitive.define_positions self, SOLID_POSITIONS

      def w
        self[2] || 0
      end

      def h
        self[3] || 0
      end

      def primitive_marker
        :solid
      end
    end

    module BorderArray
      include SolidArray

      def primitive_marker
        :border
      end
    end

    module SpriteArray
      include ArrayPrimitive
      Primitive.define_positions self, SPRITE_POSITIONS

      def primitive_marker
        :sprite
      end
    end

    module LineArray
      include ArrayPrimitive
      Primitive.define_positions self, LINE_POSITIONS

      def w
        nil
      end

      def h
        nil
      end

      def left
        x2.nil? || x <= x2 ? x : x2
      end

      def right
        x2.nil? || x >= x2 ? x : x2
      end

      def bottom
        y2.nil? || y <= y2 ? y : y2
      end

      def top
        y2.nil? || y >= y2 ? y : y2
      end

      def rect
        { x: left, y: bottom, w: right - left, h: top - bottom }
      end

      def primitive_marker
        :line
      end
    end

    module LabelDimensions
      def w
        raise "Labels do not support :w."
      end

      def h
        raise "Labels do not support :h."
      end

      def right
        x
      end

      def top
        y
      end

      def rect
        { x: x, y: y }
      end

      def primitive_marker
        :label
      end
    end

    module LabelArray
      include ArrayPrimitive
      Primitive.define_positions self, LABEL_POSITIONS
      include LabelDimensions
    end

    module ShortLabelArray
      include ArrayPrimitive
      Primitive.define_positions self, SHORT_LABEL_POSITIONS
      include LabelDimensions

      def size_enum
        0
      end

      def alignment_enum
        0
      end
    end
  end
end
