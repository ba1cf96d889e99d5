# The framework's logging front. Every framework message reaches the engine's
# log (file, stdout and the console) through the runtime's log_* methods, which
# write one native entry per call; Kor::Log is the module games and framework
# code use when they want the runtime's log level to decide.
module Kor
  module Log
    def self.puts *objects
      runtime = $kor
      objects.each do |object|
        if runtime.respond_to?(:log)
          runtime.log object, Log
        else
          Kernel.puts object
        end
      end
      nil
    end

    def self.log_level
      runtime = $kor
      runtime.respond_to?(:log_level) ? runtime.log_level : :on
    end
  end

  class Runtime
    # Native log entries by level; a nil subsystem is logged as "Game".
    module Logging
      LOG_LEVELS = { spam: 0, debug: 1, info: 2, warn: 3, error: 4, unfiltered: 2147483646 }
      LOG_LEVEL_SETTINGS = [:on, :off]

      def log_spam str, subsystem = nil
        __log_write__ 0, str, subsystem
      end

      def log_debug str, subsystem = nil
        __log_write__ 1, str, subsystem
      end

      def log_info str, subsystem = nil
        __log_write__ 2, str, subsystem
      end

      def log_warn str, subsystem = nil
        __log_write__ 3, str, subsystem
      end

      def log_error str, subsystem = nil
        __log_write__ 4, str, subsystem
      end

      def log_unfiltered str, subsystem = nil
        __log_write__ 2147483646, str, subsystem
      end

      # Framework messages sent through Kor::Log obey the log level; a direct
      # call always logs.
      def log obj, sender = nil, subsystem = nil
        return nil unless sender.nil? || (sender == Kor::Log && log_level == :on)
        log_info obj, subsystem
      end

      def log_level
        @log_level || :on
      end

      def log_level= value
        old = log_level
        value = :on unless LOG_LEVEL_SETTINGS.include?(value)
        return if value == old
        @log_level = value
        log_unfiltered "* IMPORTANT: Log level has been changed to: [#{value}] from [#{old}]."
      end

      private

      def __log_write__ level, str, subsystem
        text = str.to_s.delete("\0")
        subsystem = subsystem.nil? ? nil : subsystem.to_s
        misc = @ffi_misc
        if misc
          misc.log subsystem, level, text
        else
          # Before the native log binding exists (or in a bare interpreter).
          Kernel.puts "[#{subsystem || "Game"}] #{text}"
        end
        nil
      end
    end
  end
end
