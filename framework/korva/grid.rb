# The game's coordinate system (args.grid, $grid): the logical area with its
# origin at the bottom left or the centre, y up, and the whole window
# ("allscreen") in logical units, device pixels and window points. The native
# side reports window changes through windowevent_size_changed and learns the
# origin through FFI::Draw#set_grid.
module Kor
  class Grid
    include Serialize

    SCREEN_Y_DIRECTION = -1.0

    attr_reader :runtime, :ffi_draw, :origin_name, :origin_x, :origin_y,
                :w, :h, :w_px, :h_px, :native_scale,
                :left, :right, :bottom, :top, :left_px, :right_px, :bottom_px, :top_px,
                :center_x, :center_y,
                :allscreen_w, :allscreen_h, :allscreen_w_px, :allscreen_h_px, :allscreen_w_pt, :allscreen_h_pt,
                :allscreen_left, :allscreen_right, :allscreen_bottom, :allscreen_top,
                :allscreen_left_px, :allscreen_right_px, :allscreen_bottom_px, :allscreen_top_px,
                :allscreen_offset_x, :allscreen_offset_y, :allscreen_offset_x_px, :allscreen_offset_y_px,
                :texture_scale, :texture_scale_enum

    # Unknown class-level calls (Grid.w, Grid.left ...) go to the grid of the
    # running game and are defined for later calls.
    def self.method_missing name, *args, &block
      grid = $grid
      return super unless grid.is_a?(Grid) && grid.respond_to?(name)
      define_singleton_method(name) { |*a, &b| Grid.__forward__ name, a, b }
      grid.__send__ name, *args, &block
    end

    def self.__forward__ name, args, block
      grid = $grid
      raise NoMethodError.new("undefined method '#{name}' for Grid: the game has no grid yet", name) unless grid
      grid.__send__ name, *args, &block
    end

    def initialize runtime
      @runtime = runtime
      @ffi_draw = runtime.respond_to?(:ffi_draw) ? runtime.ffi_draw : nil
      @w = runtime.respond_to?(:logical_width) && runtime.logical_width || 1280
      @h = runtime.respond_to?(:logical_height) && runtime.logical_height || 720
      @origin_name = nil
      __store_window__ @w, @h, @w, @h, 0, 0, 1.0, 100
      origin_bottom_left!
    end

    def x
      @left
    end

    def y
      @bottom
    end

    def x_px
      @left_px
    end

    def y_px
      @bottom_px
    end

    def allscreen_x
      @allscreen_left
    end

    def allscreen_y
      @allscreen_bottom
    end

    def allscreen_x_px
      @allscreen_left_px
    end

    def allscreen_y_px
      @allscreen_bottom_px
    end

    def w_half
      @w / 2
    end

    def h_half
      @h / 2
    end

    def center
      return { x: 0, y: 0, w: 0, h: 0 } if @origin_name == :center
      { x: @center_x, y: @center_y }
    end

    def rect
      { x: @left, y: @bottom, w: @w, h: @h }
    end

    def rect_px
      { x: @left_px, y: @bottom_px, w: @w_px, h: @h_px }
    end

    def allscreen_rect
      { x: @allscreen_left, y: @allscreen_bottom, w: @allscreen_w, h: @allscreen_h }
    end

    def allscreen_rect_px
      { x: @allscreen_left_px, y: @allscreen_bottom_px, w: @allscreen_w_px, h: @allscreen_h_px }
    end

    def orientation
      @runtime.respond_to?(:orientation) ? @runtime.orientation : :landscape
    end

    def origin_bottom_left!
      return if @origin_name == :bottom_left
      @origin_name = :bottom_left
      __recompute__
      __set_grid__
    end

    def origin_center!
      return if @origin_name == :center
      @origin_name = :center
      __recompute__
      __set_grid__
    end

    def transform_x x
      @origin_x + x
    end

    def untransform_x x
      x - @origin_x
    end

    def transform_y y
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    def untransform_y y
      @origin_y + y * SCREEN_Y_DIRECTION
    end

    def windowevent_size_changed window_width, window_height, allscreen_width_px, allscreen_height_px,
                                 allscreen_offset_x_px, allscreen_offset_y_px, texture_scale, texture_scale_enum
      __store_window__ window_width, window_height, allscreen_width_px, allscreen_height_px,
                       allscreen_offset_x_px, allscreen_offset_y_px, texture_scale, texture_scale_enum
      __recompute__
      self
    end

    def letterbox?
      @letterbox = __cvar_flag__("game_metadata.hd_letterbox") if @letterbox.nil?
      @letterbox
    end

    def hd?
      @hd = __cvar_flag__("game_metadata.hd") if @hd.nil?
      @hd
    end

    def highdpi?
      @highdpi = __cvar_flag__("game_metadata.highdpi") if @highdpi.nil?
      @highdpi
    end

    alias letterbox letterbox?
    alias hd hd?
    alias highdpi highdpi?

    def serialize
      result = super
      result.delete :runtime
      result.delete :ffi_draw
      result
    end

    private

    def __store_window__ window_width, window_height, allscreen_width_px, allscreen_height_px,
                         allscreen_offset_x_px, allscreen_offset_y_px, texture_scale, texture_scale_enum
      @allscreen_w_pt = window_width
      @allscreen_h_pt = window_height
      @texture_scale = texture_scale.to_f.round(2)
      @texture_scale_enum = texture_scale_enum
      @allscreen_w_px = allscreen_width_px
      @allscreen_h_px = allscreen_height_px
      @allscreen_offset_x_px = allscreen_offset_x_px
      @allscreen_offset_y_px = allscreen_offset_y_px
    end

    # Derives every bound from the stored window geometry and the origin.
    def __recompute__
      @w_px = @allscreen_w_px - 2 * @allscreen_offset_x_px
      @h_px = @allscreen_h_px - 2 * @allscreen_offset_y_px
      scale = (@w_px.to_f / @w).round(2)
      # A minimised or zero-sized window must not turn every size into
      # Infinity; keep the logical size as the pixel size until it recovers.
      scale = 1.0 unless scale > 0 && scale.finite?
      @native_scale = scale
      @allscreen_w = (@allscreen_w_px / scale).to_i
      @allscreen_h = (@allscreen_h_px / scale).to_i
      @allscreen_offset_x = (@allscreen_offset_x_px / scale).to_i
      @allscreen_offset_y = (@allscreen_offset_y_px / scale).to_i

      # The window's edges: the letterbox bands lie outside the logical area.
      @allscreen_left_px = -@allscreen_offset_x_px
      @allscreen_bottom_px = -@allscreen_offset_y_px
      @allscreen_right_px = @allscreen_left_px + @allscreen_w_px
      @allscreen_top_px = @allscreen_bottom_px + @allscreen_h_px
      @allscreen_left = -@allscreen_offset_x
      @allscreen_bottom = -@allscreen_offset_y
      @allscreen_right = @allscreen_left + @allscreen_w
      @allscreen_top = @allscreen_bottom + @allscreen_h

      @left = 0
      @bottom = 0
      @right = @w
      @top = @h
      @left_px = 0
      @bottom_px = 0
      @right_px = @w_px
      @top_px = @h_px

      if @origin_name == :center
        half_w = @w / 2
        half_h = @h / 2
        half_w_px = @w_px / 2
        half_h_px = @h_px / 2
        @allscreen_left_px -= half_w_px
        @allscreen_right_px -= half_w_px
        @allscreen_bottom_px -= half_h_px
        @allscreen_top_px -= half_h_px
        @allscreen_left -= half_w
        @allscreen_right -= half_w
        @allscreen_bottom -= half_h
        @allscreen_top -= half_h
        @left -= half_w
        @right -= half_w
        @bottom -= half_h
        @top -= half_h
        @left_px -= half_w_px
        @right_px -= half_w_px
        @bottom_px -= half_h_px
        @top_px -= half_h_px
        @center_x = 0
        @center_y = 0
        @origin_x = half_w
        @origin_y = half_h
      else
        @center_x = @w / 2
        @center_y = @h / 2
        @origin_x = 0
        @origin_y = @h
      end
    end

    def __set_grid__
      return unless @ffi_draw
      @ffi_draw.set_grid @origin_x.to_f, @origin_y.to_f, SCREEN_Y_DIRECTION.to_i
    end

    def __cvar_flag__ name
      misc = @runtime.respond_to?(:ffi_misc) ? @runtime.ffi_misc : nil
      misc ||= FFI::Misc.new if Object.const_defined?(:FFI) && FFI.const_defined?(:Misc)
      return false unless misc && misc.respond_to?(:cvar_get)
      value = misc.cvar_get name
      value == true || (value.is_a?(Numeric) && value != 0) || value == "true" || value == "1"
    rescue Exception
      false
    end
  end
end

Grid = Kor::Grid

# Distances from the edges of the logical area, in game coordinates.
class Numeric
  def from_top
    $grid ? $grid.top - self : 720 - self
  end

  def from_right
    $grid ? $grid.right - self : 1280 - self
  end

  def from_left
    $grid ? $grid.left + self : self
  end

  def from_bottom
    $grid ? $grid.bottom + self : self
  end
end
