# The sample game: balls and stars bounce around a backdrop that is drawn once
# into a render target, under a title centred with the measured size of its
# text. You steer the big star with the arrow keys, WASD or a controller's
# d-pad and stick; a mouse click sends it where you clicked, and space (or the
# controller's A button) adds another bouncing ball. Everything the game
# remembers lives in args.state; once a second it prints what it is doing.

TITLE = "Korvane"
SUBTITLE = "sprites, labels and a render target, sixty times a second"
COLOURS = [[255, 110, 110], [110, 220, 140], [120, 160, 255], [255, 210, 90], [220, 130, 255]]

def tick args
  build_backdrop args unless args.state.backdrop_ready
  args.state.movers ||= Array.new(10) { |i| new_mover args, i }
  args.state.movers.each { |mover| move mover, args.grid }
  steer_player args

  args.outputs.background_color = [12, 14, 24]
  args.outputs.sprites << { x: 0, y: 0, w: 1280, h: 720, path: :backdrop }
  args.outputs.sprites << args.state.movers
  args.outputs.sprites << args.state.player
  draw_title args
  report args if args.state.tick_count % 60 == 0
end

# Drawn on the first tick only; later ticks draw the finished target as one
# sprite (the engine keeps its pixels).
def build_backdrop args
  backdrop = args.outputs[:backdrop]
  backdrop.w = 1280
  backdrop.h = 720
  backdrop.background_color = [18, 22, 38]
  32.times do |col|
    18.times do |row|
      next unless (col + row) % 2 == 1
      backdrop.solids << { x: col * 40, y: row * 40, w: 40, h: 40, r: 24, g: 30, b: 52 }
    end
  end
  backdrop.borders << { x: 16, y: 16, w: 1248, h: 688, r: 80, g: 100, b: 160 }
  args.state.backdrop_ready = true
end

# A strict entity is itself a sprite: the engine reads its x, y, w, h, path,
# angle and colour straight from it; dx, dy and spin are the game's own.
def new_mover args, index
  star = index % 2 == 1
  size = star ? 48 : 40 + index * 4
  r, g, b = COLOURS[index % COLOURS.length]
  args.state.new_entity_strict(:mover,
                               x: 80 + index * 110, y: 120 + (index * 137) % 400, w: size, h: size,
                               path: star ? "sprites/star.png" : "sprites/ball.png",
                               dx: 2 + index % 3, dy: 3 - index % 5, angle: 0, spin: star ? 3 : 0,
                               r: r, g: g, b: b)
end

# The player's star follows the keyboard or the first controller (left_right and
# up_down answer -1, 0 or 1 from either); a click moves it at once.
def steer_player args
  player = args.state.player ||= args.state.new_entity_strict(:player, x: 616, y: 300, w: 64, h: 64,
                                                               path: "sprites/star.png", angle: 0)
  player.x = (player.x + args.inputs.left_right * 6).clamp(0, args.grid.w - player.w)
  player.y = (player.y + args.inputs.up_down * 6).clamp(0, args.grid.h - player.h)
  player.angle += 2
  if (click = args.inputs.mouse.click)
    player.x = click.x - player.w / 2
    player.y = click.y - player.h / 2
  end
  if args.inputs.keyboard.key_down.space || args.inputs.controller_one.key_down.a
    args.state.movers << new_mover(args, args.state.movers.length)
  end
end

# Bounces off the edges of the logical screen.
def move mover, grid
  mover.x += mover.dx
  mover.y += mover.dy
  mover.dx = -mover.dx if mover.x < 0 || mover.x + mover.w > grid.w
  mover.dy = -mover.dy if mover.y < 0 || mover.y + mover.h > grid.h
  mover.angle += mover.spin
end

# The title sits on a panel sized from the measured text, centred on the
# screen. Collections draw in a fixed order (solids, sprites, labels, lines,
# borders), so the panel is a sprite of the built-in white :pixel, pushed after
# the movers, and its frame and the underline come after the labels.
def draw_title args
  title_w, title_h = text_size TITLE, 12
  sub_w, sub_h = text_size SUBTITLE, 1
  panel_w = [title_w, sub_w].max + 48
  panel_h = title_h + sub_h + 36
  panel_x = (args.grid.w - panel_w) / 2
  panel_y = args.grid.h - 40 - panel_h
  title_y = panel_y + panel_h - 12
  args.outputs.sprites << { x: panel_x, y: panel_y, w: panel_w, h: panel_h, path: :pixel,
                            r: 0, g: 0, b: 0, a: 160 }
  args.outputs.borders << { x: panel_x, y: panel_y, w: panel_w, h: panel_h, r: 80, g: 100, b: 160 }
  args.outputs.labels << { x: (args.grid.w - title_w) / 2, y: title_y, text: TITLE, size_enum: 12,
                           r: 240, g: 240, b: 255 }
  args.outputs.lines << { x: (args.grid.w - title_w) / 2, y: title_y - title_h - 2,
                          x2: (args.grid.w + title_w) / 2, y2: title_y - title_h - 2, r: 240, g: 200, b: 90 }
  args.outputs.labels << { x: (args.grid.w - sub_w) / 2, y: title_y - title_h - 10, text: SUBTITLE,
                           size_enum: 1, r: 170, g: 180, b: 210 }
  args.outputs.labels << { x: 30, y: 50, text: "tick #{args.state.tick_count}", r: 170, g: 180, b: 210 }
end

# [width, height] of a label's text in logical units, as it will be drawn.
def text_size text, size_enum
  return $kor.calcstringbox(text, size_enum) if $kor.respond_to?(:calcstringbox)
  $kor.ffi_misc.calcstringbox(text, size_enum.to_f, "font.ttf")
end

def report args
  leader = args.state.movers.first
  puts "mygame: tick #{args.state.tick_count}, #{args.state.movers.length} sprites bouncing, " \
       "the first at (#{leader.x}, #{leader.y}), the player at (#{args.state.player.x}, #{args.state.player.y})"
end
