# Attribute mixins that make a game's own object a primitive. The native
# packers read an object's attributes by method call and need every one of
# them to exist; these modules declare them all (unset ones read nil and take
# the packer's default).
module AttrRect
  include AttrKor

  attr_accessor :x, :y, :w, :h, :anchor_x, :anchor_y

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

  def point
    { x: x, y: y }
  end

  def rect
    { x: x, y: y, w: w, h: h }
  end
end

module AttrSprite
  include AttrRect

  attr_accessor :path, :angle, :a, :r, :g, :b, :tile_x, :tile_y, :tile_w, :tile_h,
                :flip_horizontally, :flip_vertically, :angle_anchor_x, :angle_anchor_y,
                :source_x, :source_y, :source_w, :source_h, :blendmode_enum,
                :x2, :y2, :x3, :y3, :source_x2, :source_y2, :source_x3, :source_y3

  def primitive_marker
    :sprite
  end
end

module AttrLabel
  include AttrKor

  attr_accessor :x, :y, :z, :text, :font, :size_enum, :size_px, :alignment_enum, :vertical_alignment_enum,
                :r, :g, :b, :a, :blendmode_enum, :anchor_x, :anchor_y

  def primitive_marker
    :label
  end
end

module AttrLine
  include AttrKor

  attr_accessor :x, :y, :w, :h, :x2, :y2, :r, :g, :b, :a, :blendmode_enum

  def primitive_marker
    :line
  end
end
