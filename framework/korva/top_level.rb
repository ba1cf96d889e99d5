# Top-level names every other framework file and every game can rely on.
$top_level = self

# The engine defines the version before this image runs; the fallback keeps the
# image loadable on its own.
Kor_VERSION = "unknown" unless Object.const_defined?(:Kor_VERSION)

XTERM_COLOR = begin
  codes = { black: 30, red: 31, green: 32, yellow: 33, blue: 34, magenta: 35, cyan: 36, white: 37 }
  colors = {}
  codes.each do |name, code|
    colors[name] = "\e[#{code}m"
    colors["bright_#{name}".to_sym] = "\e[#{code};1m"
  end
  colors[:reset] = "\e[0m"
  colors
end

ARRAY_WHITELIST = [:map, :flat_map, :map_with_index]

$perf_counter_outputs_push_count = 0
$perf_counter_primitive_is_array = 0

# A whole game in one block: TICK { |args| ... } draws into a 160x90 canvas that
# is shown scaled up to the full logical screen.
def self.TICK &block
  raise ArgumentError, "TICK needs a block: TICK { |args| ... }" unless block
  scene = block
  Object.send(:define_method, :tick) do |args|
    canvas = args.outputs[:tweetcart]
    canvas.transient!
    canvas.w = 160
    canvas.h = 90
    canvas.background_color = [0, 0, 0]
    scene.call args, canvas
    args.outputs.background_color = [0, 0, 0]
    args.outputs.sprites << { x: 0, y: 0, w: args.grid.w, h: args.grid.h, path: :tweetcart }
  end
  nil
end
