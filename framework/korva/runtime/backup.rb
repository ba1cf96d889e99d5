# Copies of every game source file as it was when hotload picked it up, under
# tmp/src_backup/ in the write directory: the latest copy of each file, a
# dated archive of every copy, and a change list with an HTML index.
module Kor
  class Backup
    STYLE_SHEET = "body { font-family: sans-serif; margin: 2em; }\n" \
                  "a { color: #0366d6; text-decoration: none; }\n" \
                  "a:hover { text-decoration: underline; }\n" \
                  "li { margin: 0.3em 0; }\n"

    @changes_truncated ||= false

    class << self
      def backup_directory
        "tmp/src_backup"
      end

      def changes_file
        "#{backup_directory}/src_backup_changes.txt"
      end

      # Development builds only (the style sheet excepted); a file already
      # under the backup directory is never copied again.
      def backup_create file, ffi_file:, production: false
        __write__ ffi_file, "#{backup_directory}/src_backup.css", STYLE_SHEET, production
        return nil if production || file.to_s.include?("src_backup")
        unless @changes_truncated
          @changes_truncated = true
          __write__ ffi_file, changes_file, ""
        end
        latest = backup_file file, ffi_file: ffi_file
        return nil unless latest
        changes = backup_load_changes ffi_file: ffi_file
        changes[file.to_s] = { latest: latest, at: Time.now.to_i, file: file.to_s }
        backup_write_changes changes, ffi_file: ffi_file
        backup_create_index ffi_file: ffi_file, changes: changes
        latest
      end

      # Answers the path of the latest copy, or nil when the file cannot be
      # read.
      # (Parenthesised: the parser takes the line after a trailing required
      # keyword for its default value.)
      def backup_file(file, ffi_file:)
        text = ffi_file.read(file.to_s)
        return nil if text.nil?
        name = backup_name file
        now = Time.now
        date = format("%04d-%02d-%02d", now.year, now.month, now.day)
        __write__ ffi_file, "#{backup_directory}/archived/#{date}/src_backup_#{name}_#{now.to_i}.rb", text
        latest = "#{backup_directory}/src_backup_#{name}.rb"
        __write__ ffi_file, latest, text
        latest
      end

      # "app/lib/foo.rb" -> "app_lib_foo"
      def backup_name file
        name = file.to_s.split("/").join("_")
        name.end_with?(".rb") ? name[0..-4] : name
      end

      # source path -> {latest:, at:, file:}, from lines "latest, time, source".
      def backup_load_changes(ffi_file:)
        changes = {}
        text = ffi_file.read(changes_file) || ""
        text.each_line do |line|
          next if line.strip.empty?
          latest, at, file = line.split(",").map(&:strip)
          next if file.nil? || file.empty?
          changes[file] = { latest: latest, at: at.to_i, file: file }
        end
        changes
      end

      def backup_write_changes(changes, ffi_file:)
        lines = changes.values.map { |change| "#{change[:latest]},#{change[:at]},#{change[:file]}" }
        __write__ ffi_file, changes_file, lines.join("\n")
      end

      def backup_create_index ffi_file:, changes: nil
        changes ||= backup_load_changes(ffi_file: ffi_file)
        items = changes.values.map do |change|
          target = change[:latest].to_s.split("/").last
          "  <li><a href=\"#{__html__ target}\">#{__html__ change[:file]}</a></li>\n"
        end
        html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Source backups</title>\n" \
               "<link rel=\"stylesheet\" href=\"src_backup.css\">\n</head>\n<body>\n<h1>Source backups</h1>\n" \
               "<ul>\n#{items.join}</ul>\n</body>\n</html>\n"
        __write__ ffi_file, "#{backup_directory}/src_backup_changes.html", html
      end

      private

      # The write directory: beside the executable in a development build;
      # in a production build the game directory is the write directory.
      def __write__ ffi_file, path, text, production = false
        production ? ffi_file.write(path, text) : ffi_file.write_root(path, text)
      end

      def __html__ text
        text.to_s.gsub("&", "&amp;").gsub("<", "&lt;").gsub(">", "&gt;").gsub("\"", "&quot;")
      end
    end
  end
end
