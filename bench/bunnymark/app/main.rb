# The sprite benchmark: N moving 32x32 sprites from one PNG, each a Hash updated in
# tick (position and bounce) and drawn through args.outputs. The scene and motion
# model match the plain SDL loop and the peer engine's version beside it.
#
#   korvane bench/bunnymark --bunnies 5000 --frames 420 [--static 1]
#
# --frames is the number of ticks to run before quitting; --static 1 puts the
# hashes into static_sprites once instead of pushing them into sprites every tick;
# --no_gc 1 turns off the framework's full garbage collection per tick.
# The timings come from the engine (--set engine.timings true).

BUNNY_PATH = "sprites/bunny.png"
SIZE = 32
GRAVITY = 0.5
MAX_X = 1280.0 - SIZE
MAX_Y = 720.0 - SIZE

def bench_option name, default
  words = $kor.argv.split(" ")
  at = words.index("--#{name}")
  at && words[at + 1] ? words[at + 1].to_i : default
end

def make_bunnies count
  bunnies = []
  count.times do |i|
    bunnies << { x: ((i * 37) % MAX_X.to_i).to_f, y: ((i * 91) % MAX_Y.to_i).to_f,
                 w: SIZE, h: SIZE, path: BUNNY_PATH,
                 vx: ((i * 13) % 11 - 5) * 0.5 + 0.25, vy: ((i * 7) % 9 - 2).to_f }
  end
  bunnies
end

def move_bunnies bunnies, tick
  kick = tick % 7
  bunnies.each do |b|
    x = b[:x] + b[:vx]
    y = b[:y] + b[:vy]
    vy = b[:vy] - GRAVITY
    if x > MAX_X
      b[:vx] = -b[:vx]
      x = MAX_X
    elsif x < 0
      b[:vx] = -b[:vx]
      x = 0.0
    end
    if y < 0
      vy = -vy * 0.85 + kick
      y = 0.0
    elsif y > MAX_Y
      vy = 0.0
      y = MAX_Y
    end
    b[:x] = x
    b[:y] = y
    b[:vy] = vy
  end
end

def tick args
  state = args.state
  if args.state.tick_count == 0
    $bench = { bunnies: make_bunnies(bench_option("bunnies", 1000)),
               frames: bench_option("frames", 600), static: bench_option("static", 0) == 1 }
    args.outputs.static_sprites << $bench[:bunnies] if $bench[:static]
    $kor.disable_aggressive_gc! if bench_option("no_gc", 0) == 1
    puts "bunnymark: #{$bench[:bunnies].length} bunnies, #{$bench[:frames]} ticks" \
         "#{$bench[:static] ? ', static sprites' : ''}"
  end
  bunnies = $bench[:bunnies]
  move_bunnies bunnies, state.tick_count
  args.outputs.sprites << bunnies unless $bench[:static]
  $kor.request_quit if state.tick_count + 1 == $bench[:frames]
end
