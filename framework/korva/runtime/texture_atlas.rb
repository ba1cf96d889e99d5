# HD sprite variants: image files named NAME@SCALE beside NAME (scales 125 to
# 400) are found once at start-up, so that the renderer can pick the variant
# matching the window's texture scale.
module Kor
  class TextureAtlas
    SCALES = [100, 125, 150, 175, 200, 250, 300, 400]
    # Per target scale, the scales to try in order (the first one found wins).
    FALLBACKS = {
      100 => [100], 125 => [125, 100], 150 => [150, 100], 175 => [175, 150, 100], 200 => [200, 100],
      250 => [250, 125, 100], 300 => [300, 150, 100], 400 => [400, 200, 100]
    }

    class << self
      def get_texture_atlas sprites_directory, ffi_file:, cli_arguments: {}
        directory = normalize_directory(sprites_directory)
        debug = cli_arguments.is_a?(Hash) && cli_arguments.key?(:debug_texture_atlases)
        Kernel.puts "* DETERMINING TEXTURE ATLASES - Begin: #{Time.now}" if debug
        Kernel.puts "* DETERMINING TEXTURE ATLASES - Search Directory: #{directory}" if debug
        entries = collect_files(directory, "", ffi_file).map { |path| entry_for(directory, path) }
        atlas = {}
        entries.each do |entry|
          next unless entry[:atlas_scale_enum] == 100
          related = entries.select do |other|
            other[:dirname] == entry[:dirname] && other[:atlas_basename] == entry[:atlas_basename]
          end
          next unless related.length > 1
          by_scale = {}
          related.each { |other| by_scale[other[:atlas_scale_enum]] ||= other }
          by_scale[100] = entry
          variants = {}
          SCALES.each do |scale|
            chosen_scale = FALLBACKS[scale].find { |candidate| by_scale[candidate] }
            chosen = by_scale[chosen_scale]
            variants["texture_#{scale}".to_sym] = "#{directory}/#{chosen[:path]}"
            variants["texture_#{scale}_scale_enum".to_sym] = chosen_scale
          end
          atlas["#{directory}/#{entry[:path]}"] = variants
        end
        Kernel.puts "* DETERMINING TEXTURE ATLASES - End: #{Time.now}" if debug
        atlas
      end

      def normalize_directory directory
        directory = directory.to_s.strip
        return "sprites" if directory.empty? || directory == "." || directory == "./" || directory.include?("..")
        directory = directory[1..-1] if directory.start_with?("/")
        directory = directory[0..-2] if directory.end_with?("/")
        directory.empty? ? "sprites" : directory
      end

      # Paths relative to the directory, without a leading "/"; directories
      # whose name starts with "." are skipped.
      def collect_files directory, relative, ffi_file
        here = relative.empty? ? directory : "#{directory}/#{relative}"
        found = []
        (ffi_file.list(here) || []).each do |name|
          next if name.start_with?(".")
          path = relative.empty? ? name : "#{relative}/#{name}"
          stat = ffi_file.stat("#{directory}/#{path}")
          next unless stat
          if stat[:file_type] == :directory
            found.concat collect_files(directory, path, ffi_file)
          else
            found << path
          end
        end
        found
      end

      def entry_for directory, path
        parts = path.split("/")
        file_name = parts.pop
        dirname = parts.join("/")
        pieces = file_name.split(".", -1)
        if pieces.length == 1
          name = file_name
          extension = nil
        elsif pieces.length == 2 && pieces[0].empty?
          name = ".#{pieces[1]}"
          extension = nil
        else
          extension = pieces.pop
          name = pieces.join(".")
        end
        at = name.split("@", -1)
        atlas_basename = name
        scale = 100
        if at.length == 2
          atlas_basename = at[0]
          number = at[1].to_i
          scale = number if number.to_s == at[1]
        end
        { path: path, dirname: dirname, basename: name, atlas_basename: atlas_basename,
          atlas_scale_enum: scale, extension: extension }
      end
    end
  end
end
