# The one runtime object ($kor, $runtime, args.kor). The native simulation tick
# calls its entry points once per step; __sdl_tick__ runs one simulation step:
# loading and hotload, engine work before the game, the game's tick, engine
# work after it, and the hand-over of audio. It also owns pause, reset, slow
# motion, the command-line switches that act on ticks and the reporting of
# exceptions raised by the game.
module Kor
  class Runtime
    include CBridge if const_defined?(:CBridge)
    include Logging
    include Hotload
    include Framerate
    include Draw
    include Platform
    include SaveStateLoadState if const_defined?(:SaveStateLoadState)

    # The command line, split at " --" into switches and their values.
    module ProcessARGSV
      def cli_arguments
        return @cli_arguments if @cli_arguments
        pieces = @argv.to_s.split(" --")
        first = pieces.shift.to_s.split(" ")
        first.shift
        game_dir = first.empty? ? "mygame" : first.join(" ")
        game_dir = "" if game_dir == "./"
        arguments = { korvane: game_dir }
        pieces.each do |piece|
          words = piece.split(" ")
          next if words.empty?
          key = words.shift.to_sym
          arguments[key] = words.empty? ? nil : words.join(" ")
        end
        @cli_arguments = arguments
      end

      # Once, in the first simulation step.
      def process_argsv
        return if @argsv_processed
        @argsv_processed = true
        arguments = cli_arguments
        if arguments.key?(:speed)
          speed = arguments[:speed].to_i.abs
          @simulation_speed = speed == 0 ? 1 : speed
        end
        @ffi_draw.set_window_scale arguments[:scale].to_f if arguments[:scale] && @ffi_draw
        if arguments.key?(:record) || arguments.key?(:replay)
          log_info "* INFO: ~--record~ and ~--replay~ are not available in this build."
        end
        if arguments.key?(:eval)
          @eval_file = arguments[:eval].to_s
          if arguments.key?(:"no-tick")
            log_info "--no-tick switch found. Exiting."
            @eval_no_tick = true
            @no_tick = true
          end
        end
        if arguments.key?(:test)
          @test_file = arguments[:test].to_s
          @no_tick = true
        end
      end

      # --eval and --test files: loaded before the step, once the game itself
      # has loaded.
      def tick_argv
        return unless @argsv_processed
        return if @quit_requested
        return unless @load_status == :ready
        __tick_eval__ if @eval_file
        __tick_test__ if @test_file
      end

      def quit_after_startup_eval?
        !!@quit_after_startup_eval
      end

      private

      def __tick_eval__
        unless @eval_started
          @eval_started = true
          if __path_exists__(@eval_file)
            require @eval_file
          else
            log_error "File does not exist: #{@eval_file}"
            self.exit_status = 1 if @eval_no_tick
          end
        end
        return unless @eval_no_tick
        # Nothing ticks under --no-tick: callbacks scheduled for later ticks
        # can never run, so the run ends here either way.
        unless @scheduled_callbacks.empty?
          log_info "* INFO: --no-tick: #{@scheduled_callbacks.length} scheduled callback(s) will not run."
        end
        @quit_after_startup_eval = true
        request_quit
      end

      def __tick_test__
        return if @tests_started
        @tests_started = true
        passed = @tests.start(@test_file)
        self.exit_status = 1 unless passed
        @quit_after_startup_eval = true
        request_quit
      end
    end

    include ProcessARGSV

    attr_reader :args, :platform, :production, :vrmode, :orientation, :logical_width, :logical_height, :argv,
                :binary_path, :y_offset, :ffi_file, :ffi_misc, :ffi_mrb, :ffi_draw, :simulation_fps,
                :rendering_fps, :slowmo_factor, :scheduled_callbacks, :seed, :tests, :device_size,
                :http_requests, :sound_queue, :key_up_queue, :render_targets_to_reset, :start_time,
                :last_tick_exception_global_at, :last_reset_global_at, :last_reset_caller, :exit_status
    attr_accessor :simulation_speed, :reset_via_ctrl_r

    def initialize platform, production, vrmode, logical_width, logical_height, argv, binary_path, y_offset,
                   orientation, remote_hotload_enabled, a11y_enabled
      $kor ||= self
      $runtime ||= self
      @binary_path = binary_path.to_s
      @argv = argv.to_s.strip
      @log_level = :on
      @platform = platform
      @production = production
      @vrmode = vrmode
      @ffi_file = __ffi_new__(:File)
      @ffi_misc = __ffi_new__(:Misc)
      @ffi_mrb = __ffi_new__(:MRB)
      @ffi_draw = __ffi_new__(:Draw)
      # Enabled by the marker file, whatever the metadata says.
      @remote_hotload_enabled = !!(@ffi_file && @ffi_file.read("metadata/korvane_remote_hotload"))
      @orientation = orientation
      @device_size = @ffi_misc && @ffi_misc.respond_to?(:device_size) ? @ffi_misc.device_size : []
      @logical_width = logical_width
      @logical_height = logical_height
      @http_requests = []
      @sound_queue = []
      @key_up_queue = []
      @render_targets_to_reset = []
      @scheduled_callbacks = {}
      @recording = nil
      @console = nil
      @tests = Tests.new(self)
      @args = Args.new(self, @recording)
      __init_inputs__
      top_level = @ffi_file ? @ffi_file.read("korva/top_level.rb") : nil
      @rcb_release_mode = top_level.nil? || top_level.strip.empty?
      @steam = __path_exists__("metadata/korvane_steam_build")
      @slowmo_factor = 1
      @slowmo_factor_debounce = nil
      @simulation_speed = 1
      @load_status = :korvane_started
      @simulation_fps = 60
      @rendering_fps = 60
      @touch_count = 0
      @mouse_grab = 0
      @cursor_shown = true
      @y_offset = y_offset
      @start_time = Time.now.to_f
      @seed = Time.now.to_i
      @reset_via_ctrl_r = true
      @a11y_enabled = a11y_enabled
      @paused = false
      @no_tick = nil
      @quit_requested = false
      @is_inside_tick = false
      @reload_debounce = 0
      @exit_status = 0
      unless @production
        $warn_array_primitives = true
        log_info "WARNING: YOU ARE IN AN UNOPTIMIZED DEV MODE.", "Engine"
      end
      hotload_init
      framerate_init
      __reset__
      __set_globals__
      $nil_punning_disabled = false
      if @ffi_misc
        @ffi_misc.cvar_register "devserver.port", "The TCP port that the dev server listens on", "uint", "9001"
      end
    end

    def inspect
      "#<Kor::Runtime #{@platform} #{@load_status} tick #{Kernel.tick_count}>"
    end

    alias to_s inspect

    # --- Native entry points, in the order the simulation tick calls them ---

    def current_fps simulation_fps, rendering_fps
      @simulation_fps = simulation_fps
      @rendering_fps = rendering_fps
    end

    # Requests from the development server, answered by the framework's
    # endpoints once they exist.
    def new_http_request address, method, uri, headers, body, reqcptr
      @http_requests << { address: address, method: method, uri: uri, headers: headers, body: body,
                          cptr: reqcptr, created_at: Kernel.global_tick_count }
      nil
    end

    def windowevent_size_changed window_width, window_height, allscreen_width_px, allscreen_height_px,
                                 allscreen_offset_x_px, allscreen_offset_y_px, texture_scale, texture_scale_enum
      @args.grid.windowevent_size_changed window_width, window_height, allscreen_width_px, allscreen_height_px,
                                          allscreen_offset_x_px, allscreen_offset_y_px, texture_scale,
                                          texture_scale_enum
    end

    def set_resize_occurred flag
      @args.events[:resize_occurred] = flag
    end

    # One native tick. Every exception of the step is caught here once: it
    # is reported, exported with the game state, and pauses the game (a
    # --no-tick or --test run ends instead).
    def __sdl_tick__ sdl_tick
      begin
        GC.start unless @disable_aggressive_gc
        @last_sdl_tick ||= sdl_tick
        @sdl_tick = sdl_tick
        return nil if sdl_tick - @last_sdl_tick < 16
        tick_argv
        return nil if @no_tick
        __sdl_tick__simulation__
        if @simulation_speed && @simulation_speed != 1
          (@simulation_speed.abs - 1).times { __sdl_tick__simulation__ }
        end
        update_simulation_audio_state if respond_to?(:update_simulation_audio_state)
      rescue Exception => e
        @last_tick_exception_global_at = Kernel.global_tick_count
        @is_inside_tick = false
        log_info "Game state and exception will be written to #{__game_state_file__} and logs/exceptions/current.txt."
        pretty_print_exception_and_export! e
        if @no_tick
          self.exit_status = 1
          request_quit
        else
          pause!
        end
      end
      nil
    end

    # One simulation step.
    def __sdl_tick__simulation__
      $puts_with_caller = false
      load_main_rb
      tick_hotload
      process_argsv
      calc_wrapper
      if @load_status == :main_rb_load_failed
        @load_status = :main_rb_load_error_shown
        error = RuntimeError.new(@load_status_exception.to_s)
        error.set_backtrace @load_status_backtrace if @load_status_backtrace
        raise error
      end
      __boot__ if @load_status == :boot
      nil
    end

    def quit_requested?
      @quit_requested
    end

    # The console takes the log lines once it exists.
    def new_log_entry level, ticks, subsystem, text
      nil
    end

    def __tick_count__
      Kernel.tick_count
    end

    def __global_tick_count__
      Kernel.global_tick_count
    end

    def tick_count
      Kernel.tick_count
    end

    def global_tick_count
      Kernel.global_tick_count
    end

    # The collection the audio engine reads after every step.
    def audio
      @args.audio
    end

    # --- Shutdown ---

    def quit
      $top_level.__send__(:shutdown, @args) if $top_level.respond_to?(:shutdown, true)
      nil
    rescue Exception => e
      pretty_print_exception_and_export! e
      nil
    end

    def quit!
      @http_requests.clear
      nil
    end

    # --- Control ---

    def request_quit
      log_info "* INFO: Quit requested (#{Kernel.global_tick_count})."
      @quit_requested = true
    end

    def request_quit_fatal reason
      @ffi_misc.request_quit_fatal reason if @ffi_misc && @ffi_misc.respond_to?(:request_quit_fatal)
      self.exit_status = 1
      request_quit
    end

    # The process's exit status once the simulation has ended.
    def exit_status= code
      @exit_status = code.to_i
      __set_exit_status__ @exit_status if respond_to?(:__set_exit_status__)
    end

    def pause!
      @paused = true
    end

    def unpause!
      @paused = false
      clear_draw_passes
      reset_framerate_calculation
    end

    def paused?
      @paused
    end

    def inside_tick?
      @is_inside_tick
    end

    def disable_aggressive_gc!
      @disable_aggressive_gc = true
    end

    def reset rng_override = nil, seed: nil, include_sprites: true
      return nil if Kernel.tick_count <= 0 && !@paused
      log_debug "~reset~ has been invoked (#{Kernel.global_tick_count}).", "Engine"
      __reset__ rng_override: rng_override, seed: seed, include_sprites: include_sprites
      unpause!
      nil
    end

    def reset_next_tick rng_override = nil, seed: nil
      log_debug "~reset_next_tick~ has been invoked (#{Kernel.global_tick_count - 1}).", "Engine"
      @reset_next_tick_flag = true
      @reset_next_tick_rng_override = rng_override
      @reset_next_tick_seed = seed
      nil
    end

    def slowmo! factor, should_notify = true
      @slowmo_was_invoked = true
      factor = factor.to_i
      factor = 1 if factor < 1
      return nil if factor == @slowmo_factor
      if factor > 1
        message = "Simulation loop slowed down to #{(60 / factor).to_i} fps. ~args.kor.slowmo! #{factor}~"
        notify message if should_notify
        log_info message
      else
        log_info "~def tick args~ SlowMo factor has been set to normal speed."
      end
      @slowmo_factor = factor
      @slowmo_factor_debounce = nil
      nil
    end

    def schedule_callback tick_count, &block
      if @scheduled_callbacks[tick_count]
        raise "Callback has already been scheduled for tick #{tick_count}. If you meant to do this, " \
              "execute $kor.scheduled_callbacks.clear first."
      end
      @scheduled_callbacks[tick_count] = block
    end

    def set_rng value = nil
      @seed = value if value
      srand @seed
      log_debug "RNG seed has been set to #{@seed}.", "Engine"
      @seed
    end

    def disable_nil_punning!
      if @is_inside_tick
        raise "* ERROR: Can't call disable_nil_punning inside tick.\n" \
              "Call ~$kor.disable_nil_punning!~ at the top of =app/main.rb= (outside of ~tick~).\n"
      end
      OpenEntity.disable_nil_punning!
    end

    def enable_nil_punning!
      OpenEntity.enable_nil_punning!
    end

    def trace_nil_punning!
      OpenEntity.trace_nil_punning!
    end

    def untrace_nil_punning!
      OpenEntity.untrace_nil_punning!
    end

    # Messages for the game maker; on screen once notifications exist.
    def notify text
      log_info text
    end

    # The console is not part of this build: its callers log instead.
    def console_visible?
      false
    end

    def show_console reason = nil
      nil
    end

    def hide_console
      nil
    end

    def replaying?
      $recording.respond_to?(:is_replaying?) && $recording.is_replaying?
    end

    def recording?
      $recording.respond_to?(:is_recording?) && $recording.is_recording?
    end

    # Reloads every render target the game named so far (after the renderer
    # lost them).
    def __reset_render_targets__
      @render_targets_to_reset.each { |name| @ffi_draw.unload_sprite name.to_s } if @ffi_draw
      @render_targets_to_reset.clear
    end

    # --- Input bookkeeping around the game's tick (the bridge does the rest) ---

    def inputs_slowmo_skip?
      __slowmo_skip__?
    end

    # Ctrl+R resets the game (at the start of the next tick unless the
    # console is up).
    def inputs_tick_before
      super
      return if __slowmo_skip__? || !@reset_via_ctrl_r
      keyboard = @args.inputs.keyboard
      down = keyboard.key_down
      held = keyboard.key_held
      return unless down.respond_to?(:r) && down.r
      return unless down.control || held.control
      console_visible? ? reset : reset_next_tick
    end

    def clear_inputs
      @files_reloaded.clear
      @reloaded_files.clear
      super
    end

    # --- Exceptions ---

    def pretty_print_exception_and_export! e
      begin
        text = __exception_text__(e)
        log_error "#{text} (#{Kernel.global_tick_count})"
        request_quit_fatal text if @production && platform?("iOS")
        export! text
        @exception_occured = true
        show_console(@is_reloading ? :exception_on_load : :exception)
      rescue Exception => inner
        log_error "* EXCEPTION: pretty_print_exception_and_export! had an unhandled exception. You might want to " \
                  "let Korvane know about this.\n** INNER EXCEPTION\n#{inner.message}\n"
      end
      nil
    end

    # The report and the game state, in logs/exceptions/ of the write
    # directory: current.txt and game_state_TICK.txt.
    def export! text
      comments = text.to_s.split("\n").map { |line| "# #{line}" }.join("\n")
      begin
        state = @args.serialize.to_s
      rescue Exception => e
        log_error "* ERROR:\nExporting the game state failed:\n\nExport exception: #{e.message}\n\n" \
                  "Original exception:\n#{comments.empty? ? "(none)" : comments}\n\n" \
                  "Please report this problem (with the text above) to the Korvane developers.\n"
        state = "(the game state could not be serialized: #{e.message})"
      end
      contents = "#{comments}\n\nGame State:\n#{state}\n"
      write_file_in_write_dir "logs/exceptions/current.txt", contents
      write_file_in_write_dir __game_state_file__, contents
      nil
    end

    private

    def __ffi_new__ name
      return nil unless Object.const_defined?(:FFI) && FFI.const_defined?(name)
      FFI.const_get(name).new
    end

    def __init_inputs__
      inputs = @args.inputs
      if @ffi_misc
        inputs.touch_enabled = @ffi_misc.respond_to?(:touch_enabled?) ? @ffi_misc.touch_enabled? : false
        locale = @ffi_misc.respond_to?(:get_locale) ? @ffi_misc.get_locale : nil
        inputs.locale_raw = locale
        inputs.locale = locale.nil? || locale.to_s.empty? ? "en" : locale.to_s
      end
    end

    def __set_globals__
      $recording ||= @recording
      $args ||= @args
      $state ||= @args.state
      $grid ||= @args.grid
      $geometry ||= Kor::Geometry if Kor.const_defined?(:Geometry)
      $tests ||= @tests
      $fn ||= Kor::Fn if Kor.const_defined?(:Fn)
      $layout ||= @args.layout
      $log ||= Kor::Log
      $inputs ||= @args.inputs
      $outputs ||= @args.outputs
      $audio ||= @args.audio
    end

    def __game_state_file__
      "logs/exceptions/game_state_#{Kernel.tick_count}.txt"
    end

    # --- The step ---

    def calc_wrapper
      __tick_slowmo__
      @debug_require = false
      tick_kor_engine_before
      tick_usr_engine
      tick_kor_engine_after
      @simulation_speed = 1 unless replaying? || recording?
    end

    # The game's tick runs on one step out of the slow-motion factor.
    def __tick_slowmo__
      if @slowmo_factor > 1
        @slowmo_factor_debounce = @slowmo_factor if @slowmo_factor_debounce.nil? || @slowmo_factor_debounce <= 0
        @slowmo_factor_debounce -= 1
      else
        @slowmo_factor_debounce = nil
      end
    end

    def __slowmo_skip__?
      !@slowmo_factor_debounce.nil? && @slowmo_factor_debounce > 0
    end

    def skip_tick_usr_engine?
      @paused || quit_after_startup_eval? || __slowmo_skip__? || @load_status != :ready || @is_reloading ||
        @reload_debounce > 0
    end

    def tick_kor_engine_before
      skip = skip_tick_usr_engine?
      clear_draw_passes
      inputs_tick_before
      @args.inputs.http_requests = @http_requests.dup
      if @load_status == :ready || @load_status == :main_rb_load_error_shown
        Kernel.global_tick_count += 1
      end
      @args.layout.reset if @args.events[:resize_occurred] && @args.layout.respond_to?(:reset)
      @args.state.__touched__ = false if @args.state.is_a?(OpenEntity)
      @args.tick_before
      return if skip || skip_tick_usr_engine?
      Kernel.tick_count += 1
      @args.state.tick_count = Kernel.tick_count if @args.state
      callback = @scheduled_callbacks[Kernel.tick_count]
      callback.call @args if callback
    end

    def tick_usr_engine
      return if skip_tick_usr_engine?
      @slowmo_was_invoked = false
      $perf_counter_outputs_push_count = 0
      $perf_counter_primitive_is_array = 0
      if @reset_next_tick_flag
        @reset_next_tick_flag = false
        __reset__ rng_override: @reset_next_tick_rng_override, seed: @reset_next_tick_seed
        # The tick that follows the reset is the game's tick 0.
        Kernel.tick_count = 0
        @args.state.tick_count = 0 if @args.state
      end
      if Kernel.tick_count == 0 && !@pixel_primed
        __prime_pixel_render_targets__
      else
        @is_inside_tick = true
        $top_level.__send__ :tick, @args if Kernel.tick_count >= 0
        @is_inside_tick = false
      end
      if !@slowmo_was_invoked && @slowmo_factor != 1
        notify "Simulation loop has been returned to 60 fps."
        @slowmo_factor = 1
        @slowmo_factor_debounce = nil
      end
    end

    # The built-in white images :pixel and :solid, drawn once before the
    # game's first tick (which then comes one step later, again as tick 0).
    def __prime_pixel_render_targets__
      @pixel_primed = true
      ["pixel", "solid"].each do |name|
        target = @args.render_target(name)
        target.transient = false
        target.w = 1280
        target.h = 1280
        target.solids << { x: 0, y: 0, w: 1280, h: 1280, r: 255, g: 255, b: 255 }
        @args.outputs.sprites << { x: 0, y: 0, w: 1, h: 1, path: name }
      end
      Kernel.tick_count = -1
      Kernel.global_tick_count = -1
      @args.state.tick_count = -1 if @args.state
    end

    def tick_kor_engine_after
      $http_server_secret = nil
      tick_framerate
      outputs = @args.outputs
      outputs.target = nil
      @args.passes << outputs unless @args.passes.include?(outputs)
      @args.passes.each(&:tick)
      @args.audio = AudioHash.new unless @args.audio.is_a?(AudioHash)
      __move_legacy_sounds__
      @args.tick_after
      inputs_tick_after
      clear_inputs
      @args.render_targets.each_key do |name|
        @render_targets_to_reset << name unless @render_targets_to_reset.include?(name)
      end
    end

    # Screen and render targets of the last step lose this step's primitives
    # (not while slow motion holds the game's tick back); render targets and
    # pixel arrays exist only in the step that names them.
    def clear_draw_passes
      ([@args.outputs] + @args.passes).each { |pass| clear_draw_primitives pass }
      @args.passes.clear
      @args.render_targets = {}
      @args.pixel_arrays = {}
    end

    def clear_draw_primitives pass
      pass.target = nil if pass.equal?(@args.outputs)
      pass.width = nil
      pass.height = nil
      pass.clear_non_static unless __slowmo_skip__?
      pass.clear_non_static_reserved
    end

    # Legacy one-shot sounds (outputs.sounds) become args.audio entries.
    def __move_legacy_sounds__
      @args.passes.each do |pass|
        sounds = pass.sounds
        next if sounds.empty?
        sounds.each do |sound|
          path = sound.respond_to?(:path) ? sound.path.to_s : sound.to_s
          gain = sound.respond_to?(:gain) ? sound.gain : 1.0
          next unless path.end_with?(".wav") || path.end_with?(".ogg") || path.end_with?(".mp3")
          if !@legacy_sound_notice_shown && (path.end_with?(".ogg") || path.end_with?(".mp3"))
            @legacy_sound_notice_shown = true
            log_info "* INFO: ~args.outputs.sounds~ plays a file once. For music and longer sounds use " \
                     "~args.audio~, which can loop, pause and change the gain while playing."
          end
          @sound_queue << { input: path, gain: gain }
        end
        sounds.clear
      end
      return if @sound_queue.empty?
      now = Time.now.to_f
      @sound_queue.each_with_index do |sound, index|
        key = "ONE_TIME_SOUND_#{sound.object_id}_#{now}_#{index}".to_sym
        @args.audio[key] = { input: sound[:input], gain: (sound[:gain] || 1.0).to_f, playtime: 0.0 }
      end
      @sound_queue.clear
    end

    def __boot__
      Kernel.tick_count = -1
      Kernel.global_tick_count = -1
      write_file_in_write_dir "tmp/src_backup/boot.txt", Time.now.to_i.to_s
      begin
        $top_level.__send__ :boot, @args if $top_level.respond_to?(:boot, true)
      rescue Exception => e
        # Loading starts over once a watched file changes.
        @load_status = :main_rb_load_error_shown
        raise e
      end
      if @args.state.nil?
        @state_nil_at_boot = true
      else
        @args.state.tick_count = -1
      end
      Kernel.global_tick_count = -1
      @load_status = :ready
      Kernel.tick_count = -1
    end

    # At most once per global tick.
    def __reset__ rng_override: nil, seed: nil, include_sprites: true
      global = Kernel.global_tick_count
      return nil if @reset_done && @last_reset_global_at == global
      @reset_done = true
      @last_reset_global_at = global
      Kor::Primitive.clear_array_primitive_warnings! if Kor.const_defined?(:Primitive)
      if $top_level.respond_to?(:reset, true)
        arity = $top_level.method(:reset).arity
        arity == 0 ? $top_level.__send__(:reset) : $top_level.__send__(:reset, @args)
      end
      __reset_sprites__ if include_sprites && global >= 0
      Entity.__reset__!
      clear_draw_passes
      __reset_state__
      @args.reset
      Kernel.tick_count = -1
      @paused = false
      unless @cursor_shown
        @cursor_shown = true
        @ffi_draw.toggle_cursor true if @ffi_draw
      end
      hide_console
      @seed = rng_override || seed || @seed
      srand @seed
      @args.inputs.keyboard.clear
      @args.grid.origin_bottom_left!
      @last_reset_caller = @is_inside_tick ? Kernel.caller : nil
      reset_framerate_calculation
      nil
    end

    def __reset_state__
      state = @args.state
      if state.is_a?(OpenEntity)
        state.clear!
        state[:entity_id] = Entity.id!
        state[:entity_keys_by_ref] = {}
      elsif !(state.nil? && @state_nil_at_boot)
        @args.state = OpenEntity.new
        $state = @args.state if $state.equal?(state)
      end
    end

    # Textures of the game's sprites are dropped so that changed files are
    # read again.
    def __reset_sprites__
      return unless @ffi_file && @ffi_draw
      __sprite_files__("sprites").each { |path| @ffi_draw.unload_sprite path }
    rescue Exception
      nil
    end

    def __sprite_files__ directory
      files = []
      (@ffi_file.list(directory) || []).each do |name|
        next if name.start_with?(".")
        path = "#{directory}/#{name}"
        stat = @ffi_file.stat(path)
        next unless stat
        stat[:file_type] == :directory ? files.concat(__sprite_files__(path)) : files << path
      end
      files
    end

    public :__reset__, :clear_draw_passes, :clear_draw_primitives

    private

    def __exception_text__ e
      message = e.message.to_s
      backtrace = (e.backtrace || []).join("\n")
      global = Kernel.global_tick_count
      if message.include?("uninitialized constant") && pending_reload?
        "* EXCEPTION: #{message}\n" \
        "** NOTE: Files are still queued to load; the constant may be defined in one of them. " \
        "Require the file that defines it before the code that uses it.\n#{backtrace}"
      elsif @last_reset_caller && @last_reset_global_at && global - @last_reset_global_at <= 2 &&
            @require_stack.empty?
        "* EXCEPTION: #{message}\n" \
        "** NOTE: This exception happened right after ~$kor.reset~ was invoked within ~tick~.\n" \
        "Use ~$kor.reset_next_tick~ instead: it resets at the start of the next tick.\n" \
        "** RESET INVOKED FROM:\n#{@last_reset_caller.join("\n")}\n#{backtrace}"
      elsif message.include?("\n")
        "* EXCEPTION:\n#{message}\n** CLASS: #{e.class}\n#{backtrace}"
      else
        "* EXCEPTION: #{message}\n#{backtrace}"
      end
    end
  end
end

KorRuntime = Kor::Runtime
