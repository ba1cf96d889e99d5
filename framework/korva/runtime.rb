# The one runtime object ($kor): the native simulation tick calls its entry
# points every step, and __sdl_tick__ runs loading, the game's tick and the
# engine work around it.
module Kor
  class Runtime
    attr_reader :args, :platform, :production, :vrmode, :orientation,
                :logical_width, :logical_height, :argv, :binary_path, :y_offset,
                :load_status, :load_status_exception, :reload_list, :required_files,
                :require_stack, :simulation_fps, :rendering_fps

    def initialize platform, production, vrmode, logical_width, logical_height, argv,
                   binary_path, y_offset, orientation, remote_hotload_enabled, a11y_enabled
      $kor ||= self
      $runtime ||= self
      @binary_path = binary_path
      @argv = argv.strip
      @platform = platform
      @production = production
      @vrmode = vrmode
      @ffi_draw = FFI::Draw.new
      @orientation = orientation
      @logical_width = logical_width
      @logical_height = logical_height
      @y_offset = y_offset
      @a11y_enabled = a11y_enabled
      @reload_list = []
      @required_files = []
      @require_stack = []
      @is_reloading = false
      @load_status = :korvane_started
      @load_status_exception = nil
      @simulation_fps = 60
      @rendering_fps = 60
      @paused = false
      @quit_requested = false
      @tick_count = -1
      @global_tick_count = -1
      @last_sdl_tick = nil
      @sdl_tick = nil
      @args = Args.new self
      $args ||= @args
      $state ||= @args.state
    end

    def ffi_draw
      @ffi_draw
    end

    # Until the log binding exists, framework messages go straight to stdout.
    def log text
      puts text
    end

    # --- Native entry points, in the order the simulation tick calls them ---

    def current_fps simulation_fps, rendering_fps
      @simulation_fps = simulation_fps
      @rendering_fps = rendering_fps
    end

    def controller_key_down player, key; end
    def controller_key_held player, key; end
    def controller_key_up player, key; end

    def raw_event event
      @args.events[:raw] << event
    end

    [1, 2, 3, 4].each do |player|
      [:left_analog_x, :left_analog_y, :right_analog_x, :right_analog_y].each do |axis|
        define_method("#{axis}_player_#{player}".to_sym) { |value| }
      end
    end

    def left_controller_position x, y, z, rx, ry, rz; end
    def right_controller_position x, y, z, rx, ry, rz; end
    def headset_position x, y, z, rx, ry, rz; end

    def new_http_request *request; end

    def windowevent_size_changed window_width, window_height, allscreen_width_px, allscreen_height_px,
                                 allscreen_offset_x_px, allscreen_offset_y_px, texture_scale, texture_scale_enum
      @window_size = [window_width, window_height]
    end

    def set_resize_occurred flag
      @args.events[:resize_occurred] = flag
    end

    def __sdl_tick__ sdl_tick
      begin
        GC.start
        @last_sdl_tick ||= sdl_tick
        @sdl_tick = sdl_tick
        return if sdl_tick - @last_sdl_tick < 16
        __sdl_tick__simulation__
      rescue Exception => e
        report_exception e
        pause!
      end
    end

    def pixel_arrays; end

    # Render passes come with the outputs; nothing is drawn yet.
    def passes
      []
    end

    def take_screenshot
      false
    end

    def target pass; nil; end
    def render_transient pass; false; end
    def render_width pass; @logical_width; end
    def render_height pass; @logical_height; end

    def draw_solid primitive; end
    def draw_sprite primitive; end
    def draw_label primitive; end
    def draw_line primitive; end
    def draw_border primitive; end
    def draw_primitive primitive; end
    def draw_screenshots; end

    def quit_requested?
      @quit_requested
    end

    def new_log_entry level, ticks, subsystem, message; end

    def __tick_count__
      @tick_count
    end

    def __global_tick_count__
      @global_tick_count
    end

    # --- Shutdown ---

    def quit
      $top_level.shutdown(@args) if $top_level.respond_to?(:shutdown, true)
    rescue Exception => e
      report_exception e
    end

    def quit!; end

    # --- Control ---

    def request_quit
      log "* INFO: Quit requested (#{@global_tick_count})."
      @quit_requested = true
    end

    def pause!
      @paused = true
    end

    def unpause!
      @paused = false
    end

    def paused?
      @paused
    end

    def tick_count
      @tick_count
    end

    def global_tick_count
      @global_tick_count
    end

    # --- Loading ---

    # Loads a game file now: when this returns, the file and everything it
    # required have run.
    def require file
      file = file.to_s
      file = "#{file}.rb" unless file.end_with?(".rb") || file.end_with?(".rbc")
      add_to_require_queue file
      @required_files << file unless @required_files.include?(file)
      __require_sync__ file
      nil
    end

    def add_to_require_queue path
      @reload_list << path unless @reload_list.include?(path)
      nil
    end

    def __require_sync__ path
      @require_stack << path
      reload_requested_ruby_files_synchronously
      path
    ensure
      @require_stack.pop
    end

    # Called by the native loader, which consumes the list from the front.
    def get_ruby_reload_list
      return [] if @reload_list.empty?
      @is_reloading = true
      @reload_list
    end

    def reload_complete
      return unless @is_reloading
      @is_reloading = false
      process_load_status
    end

    def process_load_status
      return if @load_status == :ready || @load_status == :boot
      @load_status = :boot if @reload_list.empty?
    end

    def load_main_rb
      return unless @load_status == :korvane_started
      begin
        require "app/main.rb"
      rescue Exception => e
        @reload_list.clear
        @is_reloading = false
        @load_status = :main_rb_load_failed
        @load_status_exception = e
      end
    end

    private

    def __sdl_tick__simulation__
      load_main_rb
      tick_before
      tick_game
      @args.events[:raw] = []
      @args.events[:resize_occurred] = false
      if @load_status == :main_rb_load_failed
        @load_status = :main_rb_load_error_shown
        raise @load_status_exception
      end
      boot if @load_status == :boot
    end

    def skip_game_tick?
      @paused || @load_status != :ready
    end

    def tick_before
      @args.outputs.clear_non_static unless skip_game_tick?
      if @load_status == :ready || @load_status == :main_rb_load_error_shown
        @global_tick_count += 1
      end
      return if skip_game_tick?
      @tick_count += 1
      @args.state.tick_count = @tick_count
    end

    def tick_game
      return if skip_game_tick? || @tick_count < 0
      $top_level.send(:tick, @args)
    end

    def boot
      @tick_count = -1
      @global_tick_count = -1
      $top_level.send(:boot, @args) if $top_level.respond_to?(:boot, true)
      @args.state.tick_count = -1 if @args.state
      @global_tick_count = -1
      @load_status = :ready
    end

    # Printed with its backtrace; the game pauses and the engine keeps ticking.
    def report_exception e
      lines = ["* EXCEPTION: #{e.class}: #{e.message}"]
      (e.backtrace || []).each { |line| lines << "    #{line}" }
      log lines.join("\n")
    end
  end
end

KorRuntime = Kor::Runtime
