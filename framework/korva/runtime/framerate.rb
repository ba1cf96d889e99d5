# The frame rate of the game's simulation as the framework measures it: steps
# counted against wall-clock time since the last reset of the measurement,
# with a warning when a game stays below 30 fps for a while.
module Kor
  class Runtime
    module Framerate
      FRAMERATE_WARNING_STEPS = 120
      FRAMERATE_WARNING_BELOW = 30
      FRAMERATE_QUIET_TICKS = 1800

      def framerate_init
        @framerate_warning_disabled ||= false
        @framerate_last_warning_at ||= nil
        @framerate_diagnostics ||= nil
        reset_framerate_calculation
      end

      # Starts the measurement over (after a reset, a reload, a pause): the
      # count starts at 10 so that the first readings lean towards 60.
      def reset_framerate_calculation
        @framerate_sum = 0.0
        @framerate_count = 10
        @framerate_steps = 0
        @framerate_last_step_at = nil
        @framerate_reset_global_at = Kernel.global_tick_count
      end

      def current_framerate
        sum = @framerate_sum || 0.0
        return 60 if sum == 0
        rate = @framerate_count / sum
        return 60 if rate.nan? || rate > 58
        rate.round
      end

      def disable_framerate_warning!
        @framerate_warning_disabled = true
      end

      def framerate_get_diagnostics
        @framerate_diagnostics
      end

      alias get_framerate_diagnostics framerate_get_diagnostics

      # One simulation step; a paused step starts the measurement over.
      def tick_framerate
        if @paused
          reset_framerate_calculation
          return
        end
        now = Time.now.to_f
        @framerate_sum += now - @framerate_last_step_at if @framerate_last_step_at
        @framerate_last_step_at = now
        @framerate_count += 1
        @framerate_steps += 1
        __framerate_warning__ if __framerate_warning_due__?
      end

      private

      def __framerate_warning_due__?
        return false if @framerate_warning_disabled
        return false unless @framerate_steps > FRAMERATE_WARNING_STEPS
        rate = current_framerate
        return false unless rate < FRAMERATE_WARNING_BELOW
        return false unless Kernel.tick_count > 60
        global = Kernel.global_tick_count
        [@last_reset_global_at, @last_reload_complete_global_at, @framerate_last_warning_at].each do |at|
          return false if at && global - at <= FRAMERATE_QUIET_TICKS
        end
        return false if console_visible?
        return false if replaying?
        true
      end

      def __framerate_warning__
        rate = current_framerate
        @framerate_last_warning_at = Kernel.global_tick_count
        log_warn "* WARNING: Framerate below 30fps for over 120 frames."
        log_warn "* WARNING: The average FPS was #{rate}.\n" \
                 "- $kor.get_framerate_diagnostics  : Get framerate diagnostics.\n" \
                 "- $kor.disable_framerate_warning! : Disable this warning.\n"
        @framerate_diagnostics = __framerate_capture__(rate)
      end

      # The size of every output collection of every pass, and the push
      # counters, at the moment the warning was given.
      def __framerate_capture__ rate
        collections = {}
        @args.passes.each do |pass|
          name = pass.target || "screen"
          sizes = {}
          Outputs::COLLECTIONS.each_key do |collection|
            value = pass.__send__(collection)
            sizes[collection] = value.length if value.respond_to?(:length)
          end
          collections[name] = sizes
        end
        { framerate: rate, global_tick_count: Kernel.global_tick_count,
          outputs_push_count: $perf_counter_outputs_push_count,
          primitive_is_array_count: $perf_counter_primitive_is_array, passes: collections }
      end
    end
  end
end
