# What the runtime knows about where it runs (platform, build kind), and the
# file access the framework itself needs: game files through the virtual file
# system, and the engine's own files (exception reports, backups) in the write
# directory.
module Kor
  class Runtime
    module Platform
      MOBILE_PLATFORMS = ["iOS", "Android"]

      def platform? name
        @platform.to_s.downcase == name.to_s.downcase
      end

      def mobile?
        MOBILE_PLATFORMS.include?(@platform)
      end

      def production?
        !!@production
      end

      def steam?
        !!@steam
      end

      def read_file file_name
        @ffi_file ? @ffi_file.read(file_name.to_s) : nil
      rescue Exception => e
        raise "* ERROR:\n~$kor.read_file~ for #{file_name} failed.\n#{e.message}\n"
      end

      def write_file file_name, text
        @ffi_file ? @ffi_file.write(file_name.to_s, text.to_s) : false
      rescue Exception => e
        raise "* ERROR:\n~$kor.write_file~ for #{file_name} failed.\n#{e.message}\n"
      end

      def append_file file_name, text
        @ffi_file ? @ffi_file.append(file_name.to_s, text.to_s) : false
      rescue Exception => e
        raise "* ERROR:\n~$kor.append_file~ for #{file_name} failed.\n#{e.message}\n"
      end

      def write_file_root file_name, text
        @ffi_file ? @ffi_file.write_root(file_name.to_s, text.to_s) : false
      end

      def append_file_root file_name, text
        @ffi_file ? @ffi_file.append_root(file_name.to_s, text.to_s) : false
      end

      def stat_file path
        @ffi_file ? @ffi_file.stat(path.to_s) : nil
      end

      def list_files dir
        @ffi_file ? @ffi_file.list(dir.to_s) : []
      end

      def file_exists? path
        @ffi_file ? @ffi_file.path_exists(path.to_s) : false
      end

      def get_base_dir
        @ffi_file ? @ffi_file.get_base_dir.to_s.strip : ""
      end

      def get_game_dir
        @ffi_file ? @ffi_file.get_game_dir.to_s.strip.gsub("//", "/") : ""
      end

      # The engine's own files: beside the executable in a development build;
      # in a production build the game directory is the write directory.
      def write_file_in_write_dir file_name, text
        return false unless @ffi_file
        @production ? @ffi_file.write(file_name, text.to_s) : @ffi_file.write_root(file_name, text.to_s)
      end

      def append_file_in_write_dir file_name, text
        return false unless @ffi_file
        @production ? @ffi_file.append(file_name, text.to_s) : @ffi_file.append_root(file_name, text.to_s)
      end
    end
  end
end
