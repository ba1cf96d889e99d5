# The runtime's side of the frame flush. After each step the native walk asks
# for the passes and their sizes, packs hashes and plain objects itself and
# calls the draw_* fallbacks below for everything else (solids, borders,
# array primitives, mixed collections). Each fallback reads the attributes by
# name and makes one FFI::Draw call.
module Kor
  class Runtime
    module Draw
      LABEL_CONTRACT = "- x: Numeric\n- y: Numeric\n- text: String\n" \
                       "- size_enum or size_px: Numeric (optional)\n- alignment_enum: 0, 1 or 2 (optional)\n" \
                       "- vertical_alignment_enum: 0, 1 or 2 (optional)\n- r, g, b, a: 0 to 255 (optional)\n" \
                       "- font: the path of a .ttf file (optional)\n- blendmode_enum: 0 to 4 (optional)\n" \
                       "- anchor_x, anchor_y: Numeric (optional)\n"
      SOLID_BORDER_CONTRACT = "- x: Numeric\n- y: Numeric\n- w: Numeric\n- h: Numeric\n" \
                              "- r, g, b, a: 0 to 255 (optional)\n- blendmode_enum: 0 to 4 (optional)\n" \
                              "- anchor_x, anchor_y: Numeric (optional)\n"
      LINE_CONTRACT = "- x: Numeric\n- y: Numeric\n- x2 and y2, or w and h: Numeric\n" \
                      "- r, g, b, a: 0 to 255 (optional)\n- blendmode_enum: 0 to 4 (optional)\n"
      SPRITE_CONTRACT = "- x: Numeric\n- y: Numeric\n- w: Numeric\n- h: Numeric\n" \
                        "- path: String, the png file or render target to draw\n" \
                        "- angle: Numeric (optional)\n- r, g, b, a: 0 to 255 (optional)\n" \
                        "- tile_x, tile_y, tile_w, tile_h: Numeric (optional)\n" \
                        "- source_x, source_y, source_w, source_h: Numeric (optional)\n" \
                        "- flip_horizontally, flip_vertically: true or false (optional)\n" \
                        "- angle_anchor_x, angle_anchor_y: 0.0 to 1.0 (optional)\n" \
                        "- blendmode_enum: 0 to 4 (optional)\n- anchor_x, anchor_y: Numeric (optional)\n"
      CONTRACTS = { solid: SOLID_BORDER_CONTRACT, border: SOLID_BORDER_CONTRACT, sprite: SPRITE_CONTRACT,
                    label: LABEL_CONTRACT, line: LINE_CONTRACT }

      # --- Answers to the native frame flush ---

      def passes
        @args.passes
      rescue Exception => e
        __report_draw_failure__ e
        []
      end

      def take_screenshot
        !@args.outputs.screenshots.empty?
      end

      def target pass
        pass ? pass.target : nil
      end

      def render_width pass
        pass ? pass.width : 0
      end

      def render_height pass
        pass ? pass.height : 0
      end

      def render_transient pass
        pass ? pass.transient : false
      end

      def background_color
        @args.outputs.background_color
      end

      # Arrays whose size does not match their width and height are skipped.
      def pixel_arrays
        @args.pixel_arrays.each do |name, pixel_array|
          pixels = pixel_array.pixels
          width = pixel_array.width.to_i
          height = pixel_array.height.to_i
          next unless pixels.is_a?(Array) && width > 0 && height > 0 && pixels.length == width * height
          @ffi_draw.upload_pixel_array name.to_s, width, height, pixels
        end
        nil
      rescue Exception => e
        __report_draw_failure__ e
        nil
      end

      def draw_screenshots
        @args.outputs.screenshots.each { |request| draw_screenshot request }
        nil
      rescue Exception => e
        __report_draw_failure__ e
        nil
      end

      # The native walk's fallbacks. A primitive that cannot be drawn is
      # reported like an exception in tick and pauses the game.
      def draw_solid p
        __draw_solid__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_sprite p
        __draw_sprite__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_label p
        __draw_label__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_line p
        __draw_line__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_border p
        __draw_border__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_primitive p
        __draw_primitive__ p
      rescue Exception => e
        __report_draw_failure__ e
      end

      def draw_screenshot p
        return nil if p.nil?
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        @ffi_draw.draw_screenshot (__attr__(p, :path) || "screenshot.png").to_s,
                                  __attr__(p, :x) || 0, __attr__(p, :y) || 0,
                                  __attr__(p, :w) || @logical_width, __attr__(p, :h) || @logical_height,
                                  __attr__(p, :angle) || 0, __attr__(p, :a),
                                  __attr__(p, :r) || 0, __attr__(p, :g) || 0, __attr__(p, :b) || 0,
                                  __attr__(p, :tile_x), __attr__(p, :tile_y), __attr__(p, :tile_w),
                                  __attr__(p, :tile_h), !!__attr__(p, :flip_horizontally),
                                  !!__attr__(p, :flip_vertically), __attr__(p, :angle_anchor_x),
                                  __attr__(p, :angle_anchor_y), __attr__(p, :source_x), __attr__(p, :source_y),
                                  __attr__(p, :source_w), __attr__(p, :source_h)
      end

      def raise_conversion_for_rendering_failed p, e, kind
        raise "* ERROR:\nFailed to convert #{__inspect_primitive__ p} for rendering (#{kind}).\n\n" \
              "A primitive must respond to :primitive_marker, and then subsequently\n" \
              "respond to ALL the methods required for that specific marker:\n\n" \
              "#{CONTRACTS[kind]}\n#{e.message}\n"
      end

      private

      def __draw_solid__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        begin
          w = __attr__(p, :w)
          h = __attr__(p, :h)
          if w.nil? && h.nil?
            @ffi_draw.draw_triangle __need__(p, :x), __need__(p, :y), __attr__(p, :x2), __attr__(p, :y2),
                                    __attr__(p, :x3), __attr__(p, :y3), __attr__(p, :r), __attr__(p, :g),
                                    __attr__(p, :b), __attr__(p, :a), nil, nil, nil, nil, nil, nil, nil,
                                    __blendmode__(p)
          else
            @ffi_draw.draw_solid_3 __need__(p, :x), __need__(p, :y), w, h, __attr__(p, :r), __attr__(p, :g),
                                   __attr__(p, :b), __attr__(p, :a), __blendmode__(p),
                                   __attr__(p, :anchor_x) || 0, __attr__(p, :anchor_y) || 0
          end
        rescue Exception => e
          raise_conversion_for_rendering_failed p, e, :solid
        end
      end

      def __draw_border__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        begin
          @ffi_draw.draw_border_3 __need__(p, :x), __need__(p, :y), __need__(p, :w), __need__(p, :h),
                                  __attr__(p, :r), __attr__(p, :g), __attr__(p, :b), __attr__(p, :a),
                                  __blendmode__(p), __attr__(p, :anchor_x) || 0, __attr__(p, :anchor_y) || 0
        rescue Exception => e
          raise_conversion_for_rendering_failed p, e, :border
        end
      end

      def __draw_sprite__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        begin
          w = __attr__(p, :w)
          h = __attr__(p, :h)
          if w.nil? && h.nil? && !__attr__(p, :x2).nil?
            @ffi_draw.draw_triangle __need__(p, :x), __need__(p, :y), __need__(p, :x2), __need__(p, :y2),
                                    __need__(p, :x3), __need__(p, :y3), __attr__(p, :r) || 255,
                                    __attr__(p, :g) || 255, __attr__(p, :b) || 255, __attr__(p, :a),
                                    (__attr__(p, :path) || "pixel").to_s, __attr__(p, :source_x),
                                    __attr__(p, :source_y), __attr__(p, :source_x2), __attr__(p, :source_y2),
                                    __attr__(p, :source_x3), __attr__(p, :source_y3), __blendmode__(p)
          elsif p.is_a?(Hash)
            @ffi_draw.draw_sprite_hash p
          else
            @ffi_draw.draw_sprite_5 __need__(p, :x), __need__(p, :y), w, h, (__attr__(p, :path) || "pixel").to_s,
                                    __attr__(p, :angle), __attr__(p, :a), __attr__(p, :r), __attr__(p, :g),
                                    __attr__(p, :b), __attr__(p, :tile_x), __attr__(p, :tile_y),
                                    __attr__(p, :tile_w), __attr__(p, :tile_h), !!__attr__(p, :flip_horizontally),
                                    !!__attr__(p, :flip_vertically), __attr__(p, :angle_anchor_x),
                                    __attr__(p, :angle_anchor_y), __attr__(p, :source_x), __attr__(p, :source_y),
                                    __attr__(p, :source_w), __attr__(p, :source_h), __blendmode__(p),
                                    __attr__(p, :anchor_x), __attr__(p, :anchor_y)
          end
        rescue Exception => e
          raise_conversion_for_rendering_failed p, e, :sprite
        end
      end

      def __draw_label__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        begin
          vertical = __attr__(p, :vertical_alignment_enum)
          @ffi_draw.draw_label_5 __need__(p, :x), __need__(p, :y), (__attr__(p, :text) || "").to_s,
                                 __attr__(p, :size_enum), __attr__(p, :alignment_enum), __attr__(p, :r),
                                 __attr__(p, :g), __attr__(p, :b), __attr__(p, :a), __font__(p),
                                 vertical.nil? ? 2 : vertical, __blendmode__(p), __attr__(p, :size_px),
                                 __attr__(p, :anchor_x), __attr__(p, :anchor_y)
        rescue Exception => e
          raise_conversion_for_rendering_failed p, e, :label
        end
      end

      def __draw_line__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        begin
          x = __need__(p, :x)
          y = __need__(p, :y)
          x2 = __attr__(p, :x2)
          if x2.nil?
            w = __attr__(p, :w)
            h = __attr__(p, :h)
            w = 1 if w.nil? || w == 0
            h = 1 if h.nil? || h == 0
            x2 = x + w - 1
            y2 = y + h - 1
          else
            y2 = __need__(p, :y2)
          end
          @ffi_draw.draw_line_2 x, y, x2, y2, __attr__(p, :r), __attr__(p, :g), __attr__(p, :b),
                                __attr__(p, :a), __blendmode__(p)
        rescue Exception => e
          raise_conversion_for_rendering_failed p, e, :line
        end
      end

      def __draw_primitive__ p
        return nil if p.nil?
        return p.draw_override(@ffi_draw) if p.respond_to?(:draw_override)
        p = p.as_hash if p.is_a?(Kor::OpenEntity)
        marker = __attr__(p, :primitive_marker)
        case marker
        when :solid then __draw_solid__ p
        when :sprite then __draw_sprite__ p
        when :label then __draw_label__ p
        when :line then __draw_line__ p
        when :border then __draw_border__ p
        else
          raise "* ERROR:\n#{__inspect_primitive__ p}\n\nI don't know how to use the above #{p.class} with SDL's FFI. Please\n" \
                "add a method on the object called ~primitive_marker~ that\n" \
                "returns :solid, :sprite, :label, :line, or :border. If the object\n" \
                "is a Hash, please add { primitive_marker: :PRIMITIVE_SYMBOL } to the Hash.\n\n"
        end
      end

      # Hashes are read by key; everything else by message send.
      def __attr__ p, name
        return p[name] if p.is_a?(Hash)
        p.respond_to?(name) ? p.__send__(name) : nil
      end

      # A required attribute: an object that lacks the method raises, which
      # becomes the conversion error. Values themselves are converted natively.
      def __need__ p, name
        p.is_a?(Hash) ? p[name] : p.__send__(name)
      end

      def __blendmode__ p
        value = __attr__(p, :blendmode_enum)
        value.nil? ? 1 : value
      end

      def __font__ p
        font = __attr__(p, :font)
        font.nil? ? nil : font.to_s
      end

      def __inspect_primitive__ p
        text = p.inspect
        text.length > 2000 ? text[0, 2000] + " ..." : text
      rescue Exception
        "(#{p.class})"
      end

      # One report per failure run: a paused game (whose static outputs may
      # still hold the bad primitive) is not reported again every frame.
      def __report_draw_failure__ e
        return nil if @paused
        pretty_print_exception_and_export! e
        pause!
        nil
      end
    end
  end
end
