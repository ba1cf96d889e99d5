# Loading the game's sources and reloading them while the game runs.
#
# require loads a file synchronously through the native loader
# (reload_requested_ruby_files_synchronously), which consumes reload_list from
# the front; a require made while a file is being evaluated re-enters it. Every
# path's loads are recorded in reload_list_history. Hotload polls the
# modification times of the watched files about once a second and reloads the
# ones that changed, keeping a backup copy of each.
module Kor
  class Runtime
    module Hotload
      FRAMEWORK_FILES = %w[
        cvar docs help kernel_docs kernel easing top_level log geometry geometry_docs attr_kor attr_sprite
        object object_matrix class string entity strict_entity open_entity serialize primitive
        nil_class_false_class symbol numeric_deprecated numeric hash_deprecated hash outputs_deprecated
        array_docs array outputs outputs_docs keyboard mouse inputs controller inputs_docs mouse_docs
        recording grid layout layout_docs args_deprecated fn args args_docs console_prompt console_menu
        console_evaluator console assert tests controller_config runtime/draw runtime/deprecated
        runtime/framerate runtime/framerate_diagnostics runtime/c_bridge runtime/hotload runtime/backup
        runtime/async_require runtime/platform runtime/autocomplete runtime/texture_atlas
        runtime/download_stb_rb runtime/auto_test runtime/a11y_emulation runtime/notify api runtime
        runtime_docs trace readme_docs hotload_client wizards ios_wizard itch_wizard runtime/benchmark
        tweetcart
      ]
      CORE_FILES = ["repl.rb", "app/main.rb", "app/repl.rb", "app/tests.rb", "app/test.rb", "app/stdin.rb"]
      MAIN_RB = "app/main.rb"
      MAIN_RBC = "app/main.rbc"
      REQUIRE_DEBOUNCE_TICKS = 60
      HOTLOAD_POLL_TICKS = 60

      attr_reader :load_status, :load_status_exception, :reload_list, :reload_list_history, :required_files,
                  :require_stack, :files_reloaded, :reloaded_files, :file_mtimes, :rcb_release_mode
      attr_accessor :suppress_hotload

      def hotload_init
        @load_status ||= :korvane_started
        @reload_list ||= []
        @reload_list_history ||= {}
        @required_files ||= []
        @require_stack ||= []
        @files_reloaded ||= []
        @reloaded_files ||= []
        @is_reloading = false
        @exception_occured = false
        @debug_require = false
        @hotload_debounce = 0
        @hotload_settling = {}
        @file_mtimes = {}
        files_to_reload.each do |file|
          mtime = __mtime__(file)
          @file_mtimes[file] = { current: mtime, last: mtime }
        end
      end

      # --- require ---

      def require file
        file = file.to_s
        metadata = get_require_metadata(file)
        file = metadata[:output_file]
        indent = "*" * (@require_stack.length + 1)
        log_info "#{indent} REQUIRE: Started for =#{file}=." if @debug_require
        raise "#{file} does not exist." unless metadata[:file_exist]
        if file.end_with?(".rb") && __path_exists__("#{file}c")
          file = "#{file}c"
        elsif !__path_exists__(file)
          raise "#{file} does not exist."
        end
        unless file.end_with?(".rbc")
          error = __syntax_error__(__read__(file))
          raise "** Failed to load #{file}.\n#{error}\n\n" if error
        end
        add_to_require_queue file
        @required_files << file unless @required_files.include?(file)
        __require_sync__ file
        log_info "#{indent} REQUIRE: Completed for =#{file}=." if @debug_require
        nil
      end

      def require_relative file
        current = @require_stack.last || MAIN_RB
        require File.join(File.dirname(current), file.to_s)
      end

      # A compiled file always wins over its source.
      def get_require_metadata file
        file = file.to_s
        rb = if file.end_with?(".rb")
               file
             elsif file.end_with?(".rbc")
               file[0..-2]
             else
               "#{file}.rb"
             end
        rbc = "#{rb}c"
        rb_exists = __path_exists__(rb)
        rbc_exists = __path_exists__(rbc)
        {
          input_file: file,
          file_exist: rb_exists || rbc_exists,
          file_path_with_rb_extension: rb,
          file_path_with_rbc_extension: rbc,
          file_with_rb_extension_exist: rb_exists,
          file_with_rbc_extension_exist: rbc_exists,
          output_file: rbc_exists ? rbc : rb
        }
      end

      # Loads path now; a nested require moves its file to the front of the
      # shared queue so that it is evaluated before the outer file goes on.
      def __require_sync__ path
        pushed = !@require_stack.include?(path)
        @require_stack << path if pushed
        if @reload_list.include?(path)
          @reload_list.delete path
          @reload_list.unshift path
        end
        begin
          reload_requested_ruby_files_synchronously if respond_to?(:reload_requested_ruby_files_synchronously)
        rescue Exception => e
          # Re-raised by name: the interpreter's $! does not survive the
          # calls made in between.
          __require_failed__ path
          raise e
        ensure
          @require_stack.pop if pushed
        end
        path
      end

      def add_to_require_queue path
        begin
          entry = __history_entry__(path)
          current = entry[:current]
          # A path loads at most once per second; a path whose last load
          # failed (or that never loaded) may be queued at once.
          if current[:event] && current[:event] != :reload_failed &&
             (current[:global_at] || 0) + REQUIRE_DEBOUNCE_TICKS > Kernel.global_tick_count
            return nil
          end
          __record_reload_event__ path, :reload_queued
          log_info "** INFO: =#{path}= queued to load via ~require~. (#{Kernel.global_tick_count}, #{Kernel.tick_count})",
                   "Engine"
          @reload_list << path unless @reload_list.include?(path)
          __require_sync__ path if @load_status == :ready
          nil
        rescue Exception => e
          wrapped = RuntimeError.new("* EXCEPTION: ~Runtime#add_to_require_queue~ failed for =#{path}=.\n#{e.message}")
          wrapped.set_backtrace e.backtrace if e.backtrace
          raise wrapped
        end
      end

      # Called by the native loader; answers the queue itself, which the
      # loader empties from the front.
      def get_ruby_reload_list
        return [] if @reload_list.empty?
        @reload_list.each { |path| __record_reload_event__ path, :processing }
        @exception_occured = false
        @is_reloading = true
        @reload_list
      end

      # Called by the native loader once the queue is drained. A nested load
      # leaves the bookkeeping to the outermost one.
      def reload_complete
        return unless @is_reloading
        return if @require_stack.length > 1
        @is_reloading = false
        unpause! if !@exception_occured && @paused
        @reload_list_history.each do |path, entry|
          event = entry[:current][:event]
          next unless event == :processing || event == :reload_queued
          log_info "* INFO: =#{path}= reloaded. (#{Kernel.global_tick_count}, #{Kernel.tick_count})", "Engine"
          __record_reload_event__ path, :reload_completed
        end
        @last_reload_complete_global_at = Kernel.global_tick_count
        $layout.reset if $layout && $layout.respond_to?(:reset)
        reset_framerate_calculation
        process_load_status
      end

      def process_load_status
        return if @load_status == :ready || @load_status == :boot
        return if pending_reload?
        return unless main_rb_reload_completed?
        reset_all_mtimes
        @load_status = :boot
      end

      # The first load of the game, retried from the start after a failed one
      # once a watched file changes.
      def load_main_rb
        return unless @load_status == :korvane_started
        main_exists = __path_exists__(MAIN_RB)
        if main_exists
          error = __syntax_error__(__read__(MAIN_RB))
          if error
            __main_rb_failed__ "** Failed to load #{MAIN_RB}.\n#{error}\n\n"
            return
          end
        end
        unless main_exists || __path_exists__(MAIN_RBC)
          __main_rb_failed__ "#{MAIN_RB} not found."
          return
        end
        begin
          require MAIN_RB
        rescue Exception => e
          __main_rb_failed__ e.message, e.backtrace
        end
      end

      def debug_require!
        @debug_require = true
        log_info "* REQUIRE DEBUG: ~$kor.debug_require!~ enabled in =#{@require_stack.last || MAIN_RB}=."
      end

      def pending_reload?
        @reload_list_history.any? do |_path, entry|
          event = entry[:current][:event]
          event == :reload_queued || event == :processing
        end
      end

      def main_rb_reload_completed?
        entry = @reload_list_history[MAIN_RB] || @reload_list_history[MAIN_RBC]
        return false unless entry
        entry[:history].any? { |record| record[:event] == :reload_completed }
      end

      # --- Hotload ---

      def files_to_reload
        files = @rcb_release_mode ? [] : FRAMEWORK_FILES.map { |name| "korva/#{name}.rb" }
        (files + core_files_to_reload + (@required_files || [])).uniq
      end

      def core_files_to_reload
        CORE_FILES
      end

      # About once a second of wall time, whatever the frame rate. Nothing is
      # watched before the game's first tick, except for a game paused by an
      # exception.
      def tick_hotload
        return if Kernel.tick_count <= 0 && !@paused
        @hotload_settling.keys.each { |file| reload_if_needed file } unless @hotload_settling.empty?
        rate = current_framerate
        fps_diff = rate != 0 ? 60 / rate : 1
        fps_diff = 1 if fps_diff < 1
        @hotload_debounce += fps_diff
        return if @hotload_debounce < HOTLOAD_POLL_TICKS
        @hotload_debounce = 0
        files_to_reload.each { |file| reload_if_needed file }
      end

      # A file seen for the first time is only remembered. A failed reload
      # still counts the new time as seen: the file is retried when it changes
      # again. A change stamped with the current second may still be in
      # progress (times have one-second resolution, so a later write in the
      # same second would go unseen): it is loaded once that second is over.
      def reload_if_needed file, force = false
        mtime = __mtime__(file)
        entry = (@file_mtimes[file] ||= { current: mtime, last: mtime })
        entry[:current] = mtime
        if !force && entry[:current] == entry[:last]
          @hotload_settling.delete file
          return
        end
        if !force && mtime >= Time.now.to_i
          @hotload_settling[file] = true
          return
        end
        @hotload_settling.delete file
        on_load_succeeded file if reload_ruby_file(file)
        entry[:last] = entry[:current]
      end

      def reload_ruby_file file
        return false unless file.end_with?(".rb") || file.end_with?(".rbc")
        return true if @suppress_hotload
        begin
          Backup.backup_create file, ffi_file: @ffi_file, production: @production if @ffi_file
          text = __read__(file)
          return true if text.nil? || text.strip.empty?
          if @load_status == :main_rb_load_error_shown
            Kernel.tick_count = -1
            Kernel.global_tick_count = -1
            @load_status = :korvane_started
          end
          if file.end_with?(".rb")
            error = __syntax_error__(text)
            raise "** Failed to load/reload #{file}.\n#{error}\n\n" if error
          end
          add_to_require_queue file
          log_debug "Reloaded #{file}. (#{Kernel.global_tick_count})", "Engine"
          reset_framerate_calculation
          true
        rescue Exception => e
          pretty_print_exception_and_export! e
          pause!
          show_console :exception
          false
        end
      end

      def on_load_succeeded file
        @files_reloaded << file unless @files_reloaded.include?(file)
        @reloaded_files << file unless @reloaded_files.include?(file)
      end

      def reset_all_mtimes
        (@file_mtimes.keys + files_to_reload).uniq.each do |file|
          mtime = __mtime__(file)
          @file_mtimes[file] = { current: mtime, last: mtime }
        end
        @hotload_settling.clear if @hotload_settling
      end

      private

      def __history_entry__ path
        @reload_list_history[path] ||= { current: {}, history: [] }
      end

      def __record_reload_event__ path, event
        entry = __history_entry__(path)
        record = { path: path, global_at: Kernel.global_tick_count, event: event }
        entry[:current] = record
        entry[:history] << record
        record
      end

      # A load that raised leaves nothing half-done behind: the path (and, for
      # the outermost load, everything still queued) is marked failed so that
      # it can be queued again at once, and the queue is no longer processing.
      def __require_failed__ path
        entry = @reload_list_history[path]
        event = entry && entry[:current][:event]
        __record_reload_event__ path, :reload_failed if event == :reload_queued || event == :processing
        return if @require_stack.length > 1
        @reload_list.each do |queued|
          queued_event = __history_entry__(queued)[:current][:event]
          __record_reload_event__ queued, :reload_failed if queued_event == :reload_queued || queued_event == :processing
        end
        @reload_list.clear
        @is_reloading = false
      end

      def __main_rb_failed__ text, backtrace = nil
        @load_status = :main_rb_load_failed
        @load_status_exception = text
        @load_status_backtrace = backtrace
      end

      def __path_exists__ path
        @ffi_file ? @ffi_file.path_exists(path) : false
      end

      def __mtime__ path
        @ffi_file ? @ffi_file.mtime(path) : -1
      end

      def __read__ path
        @ffi_file ? @ffi_file.read(path) : nil
      end

      # nil when the text parses, else the parser's error lines.
      def __syntax_error__ text
        return nil if text.nil? || @ffi_mrb.nil?
        result = @ffi_mrb.parse(text)
        result == "Syntax OK" ? nil : result
      end
    end
  end
end

module Kernel
  # Game files load through the runtime (hotload watches what was required).
  def require file
    $kor.require file
  end

  def require_relative file
    $kor.require_relative file
  end
end
