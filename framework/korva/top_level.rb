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
