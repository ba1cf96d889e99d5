# The text form of framework objects and of game state, and saving and
# loading game state.
module Kor
  # Mixed into framework objects (Args, Grid, input keys ...): their instance
  # variables as a Hash, for dumps and the console.
  module Serialize
    def self.value_of value
      if value.nil? || value.is_a?(ValueType) || value.is_a?(Hash)
        value
      elsif value.is_a?(Kor::OpenEntity)
        value.__hash__
      elsif value.is_a?(Enumerable)
        value.to_a
      elsif value.respond_to?(:serialize)
        value.serialize
      else
        value.inspect
      end
    end

    def serialize
      result = {}
      instance_variables.each do |ivar|
        value = instance_variable_get ivar
        next if value.nil? || value == false
        result[ivar.to_s[1..-1].chomp("=").to_sym] = Serialize.value_of(value)
      end
      result
    end

    def inspect
      serialize.to_s
    end

    # Reads the literal text that Hash#to_s writes (Hashes, Arrays, Strings,
    # Symbols, numbers, ranges, nil, true, false) without evaluating it as
    # code, so a save file can only ever produce data.
    class LiteralReader
      class Error < StandardError; end

      SYMBOL_OPERATORS = ["[]=", "[]", "<=>", "===", "==", "=~", "!=", "!~", "**", "+@", "-@", "<<", ">>",
                          "<=", ">=", "+", "-", "*", "/", "%", "<", ">", "!", "&", "|", "^", "~"]

      def self.read text
        new(text).read_document
      end

      def initialize text
        @text = text
        @pos = 0
      end

      def read_document
        value = read_value
        skip_space
        fail_at "unexpected text" if @pos < @text.length
        value
      end

      private

      def fail_at what
        raise Error, "#{what} at offset #{@pos}"
      end

      def peek offset = 0
        @text[@pos + offset]
      end

      def skip_space
        while (c = peek) && (c == " " || c == "\n" || c == "\t" || c == "\r")
          @pos += 1
        end
      end

      def starts_with? word
        @text[@pos, word.length] == word
      end

      def word_boundary? offset
        c = @text[@pos + offset]
        c.nil? || !identifier_char?(c)
      end

      def identifier_char? c
        (c >= "a" && c <= "z") || (c >= "A" && c <= "Z") || (c >= "0" && c <= "9") || c == "_" || c.getbyte(0) >= 128
      end

      def digit? c
        !c.nil? && c >= "0" && c <= "9"
      end

      def read_value
        value = read_single
        skip_space
        if starts_with?("..")
          exclusive = starts_with?("...")
          @pos += exclusive ? 3 : 2
          skip_space
          last = range_end? ? nil : read_single
          value = Range.new(value, last, exclusive)
        end
        value
      end

      def range_end?
        c = peek
        c.nil? || c == "," || c == "]" || c == "}" || c == ")"
      end

      def read_single
        skip_space
        c = peek
        fail_at "unexpected end of text" if c.nil?
        case c
        when "{" then read_hash
        when "[" then read_array
        when "\"" then read_string
        when ":" then read_symbol
        when "(" then read_parenthesised
        when "." then read_beginless_range
        else
          if c == "-" || c == "+" || digit?(c)
            read_number
          else
            read_word
          end
        end
      end

      def read_parenthesised
        @pos += 1
        value = read_value
        skip_space
        fail_at "expected ')'" unless peek == ")"
        @pos += 1
        value
      end

      def read_beginless_range
        fail_at "unexpected '.'" unless starts_with?("..")
        exclusive = starts_with?("...")
        @pos += exclusive ? 3 : 2
        Range.new(nil, read_single, exclusive)
      end

      def read_word
        ["nil", "true", "false", "Infinity", "NaN"].each do |word|
          next unless starts_with?(word) && word_boundary?(word.length)
          @pos += word.length
          return case word
                 when "nil" then nil
                 when "true" then true
                 when "false" then false
                 when "Infinity" then 1.0 / 0.0
                 else 0.0 / 0.0
                 end
        end
        fail_at "unexpected '#{peek}'"
      end

      def read_number
        start = @pos
        sign = 1
        if peek == "-" || peek == "+"
          sign = -1 if peek == "-"
          @pos += 1
          if starts_with?("Infinity")
            @pos += 8
            return sign * (1.0 / 0.0)
          end
        end
        fail_at "expected a digit" unless digit?(peek)
        float = false
        @pos += 1 while digit?(peek) || peek == "_"
        if peek == "." && digit?(peek(1))
          float = true
          @pos += 1
          @pos += 1 while digit?(peek) || peek == "_"
        end
        if peek == "e" || peek == "E"
          float = true
          @pos += 1
          @pos += 1 if peek == "+" || peek == "-"
          fail_at "expected an exponent" unless digit?(peek)
          @pos += 1 while digit?(peek)
        end
        text = @text[start...@pos].delete("_")
        float ? text.to_f : text.to_i
      end

      def read_array
        @pos += 1
        result = []
        loop do
          skip_space
          if peek == "]"
            @pos += 1
            return result
          end
          result << read_value
          skip_space
          if peek == ","
            @pos += 1
          elsif peek != "]"
            fail_at "expected ',' or ']'"
          end
        end
      end

      def read_hash
        @pos += 1
        result = {}
        loop do
          skip_space
          if peek == "}"
            @pos += 1
            return result
          end
          key = read_hash_key
          result[key] = read_value
          skip_space
          if peek == ","
            @pos += 1
          elsif peek != "}"
            fail_at "expected ',' or '}'"
          end
        end
      end

      # Both key forms: `:name=>value` / `"text"=>value` and `name: value` /
      # `"text": value`.
      def read_hash_key
        skip_space
        c = peek
        if c && (identifier_char?(c) && !digit?(c)) && !keyword_value_ahead?
          start = @pos
          @pos += 1 while peek && identifier_char?(peek)
          @pos += 1 if peek == "?" || peek == "!"
          if peek == ":" && peek(1) != ":"
            name = @text[start...@pos]
            @pos += 1
            return name.to_sym
          end
          @pos = start
        end
        key = read_value
        skip_space
        if peek == ":" && key.is_a?(String)
          @pos += 1
          return key.to_sym
        end
        fail_at "expected '=>'" unless starts_with?("=>")
        @pos += 2
        key
      end

      # nil, true and false as keys are written `nil=>...`; `nil: ...` is a
      # Symbol key. Tell them apart by the character after the word.
      def keyword_value_ahead?
        ["nil", "true", "false"].any? do |word|
          starts_with?(word) && word_boundary?(word.length) && @text[@pos + word.length] != ":"
        end
      end

      def read_symbol
        @pos += 1
        return read_string.to_sym if peek == "\""
        SYMBOL_OPERATORS.each do |operator|
          if starts_with?(operator)
            @pos += operator.length
            return operator.to_sym
          end
        end
        start = @pos
        @pos += 1 if peek == "$"
        @pos += 1 while peek == "@"
        fail_at "expected a symbol name" unless peek && identifier_char?(peek)
        @pos += 1 while peek && identifier_char?(peek)
        # `:name=` is a setter name; in `{:name==>1}` the key is still `:name=`.
        if peek == "?" || peek == "!" || (peek == "=" && (starts_with?("==>") || (peek(1) != ">" && peek(1) != "=")))
          @pos += 1
        end
        @text[start...@pos].to_sym
      end

      ESCAPES = { "n" => "\n", "t" => "\t", "r" => "\r", "e" => "\e", "a" => "\a", "b" => "\b",
                  "f" => "\f", "v" => "\v", "s" => " ", "0" => "\0" }

      def read_string
        @pos += 1
        result = ""
        loop do
          c = peek
          fail_at "unterminated string" if c.nil?
          @pos += 1
          if c == "\""
            return result
          elsif c == "\\"
            result << read_escape
          else
            result << c
          end
        end
      end

      def read_escape
        c = peek
        fail_at "unterminated string" if c.nil?
        @pos += 1
        if c == "x"
          hex = ""
          while hex.length < 2 && peek && hex_digit?(peek)
            hex << peek
            @pos += 1
          end
          fail_at "bad \\x escape" if hex.empty?
          hex.to_i(16).chr
        elsif c == "u"
          read_unicode_escape
        elsif c >= "0" && c <= "7" && digit?(peek) && peek <= "7"
          octal = c
          while octal.length < 3 && peek && peek >= "0" && peek <= "7"
            octal << peek
            @pos += 1
          end
          (octal.to_i(8) & 255).chr
        else
          ESCAPES[c] || c
        end
      end

      def hex_digit? c
        digit?(c) || (c >= "a" && c <= "f") || (c >= "A" && c <= "F")
      end

      def read_unicode_escape
        codes = []
        if peek == "{"
          @pos += 1
          loop do
            skip_space
            break if peek == "}"
            start = @pos
            @pos += 1 while peek && hex_digit?(peek)
            fail_at "bad \\u escape" if start == @pos
            codes << @text[start...@pos].to_i(16)
          end
          @pos += 1
        else
          fail_at "bad \\u escape" unless (0...4).all? { |i| peek(i) && hex_digit?(peek(i)) }
          codes << @text[@pos, 4].to_i(16)
          @pos += 4
        end
        codes.map { |code| utf8(code) }.join
      end

      def utf8 code
        bytes = if code < 0x80
                  [code]
                elsif code < 0x800
                  [0xC0 | (code >> 6), 0x80 | (code & 0x3F)]
                elsif code < 0x10000
                  [0xE0 | (code >> 12), 0x80 | ((code >> 6) & 0x3F), 0x80 | (code & 0x3F)]
                else
                  [0xF0 | (code >> 18), 0x80 | ((code >> 12) & 0x3F), 0x80 | ((code >> 6) & 0x3F), 0x80 | (code & 0x3F)]
                end
        bytes.map { |byte| byte.chr }.join
      end
    end
  end

  class Runtime
    # Saving game state to text and loading it back; mixed into the runtime.
    module SaveStateLoadState
      SERIALIZATION_SIZE_LIMIT = 20_000

      def serialize_state file_or_state, state = nil
        if file_or_state.is_a?(String)
          file = file_or_state
        else
          file = nil
          state = file_or_state
        end
        __remove_thrash_counts__ state
        text = state.to_s
        if file
          __write_state_file__ file, text
          __log_state__ "State with length of #{text.length} saved to file #{file}."
        end
        if text.length > SERIALIZATION_SIZE_LIMIT
          $serialize_state_serialization_too_large = true
          __log_state__ "* IMPORTANT: The game state is #{text.length} characters long.\n" \
                        "It was saved, but state this large is slow to save and to load, and an\n" \
                        "exception report has to write all of it. Keep ~args.state~ to the data the\n" \
                        "game needs to continue (positions, scores, flags) and rebuild everything\n" \
                        "derived from it (sprites, labels, caches) in ~tick~, or keep it outside\n" \
                        "~args.state~ (for example in an instance variable of your own class).\n", :warn
        end
        text
      end

      def deserialize_state arg
        text = __state_text__ arg
        return nil if text.nil?
        begin
          data = Serialize::LiteralReader.read(text)
          value = Entity.parse_serialization_data(data)
          tick_count = if value.is_a?(Kor::OpenEntity)
                         value.__hash__[:tick_count]
                       elsif value.is_a?(Hash)
                         value[:tick_count]
                       elsif value.is_a?(Kor::StrictEntity) && value.respond_to?(:tick_count)
                         value.tick_count
                       end
          __restore_tick_count__ tick_count if tick_count.is_a?(Integer)
          value
        rescue Exception => e
          raise "Failed to eval: #{text}. #{e.message}.\nSerialization data may be corrupt."
        end
      end

      def save_state
        serialize_state "game_state_#{Time.now.to_i}.txt", args.state
        serialize_state "game_state.txt", args.state
      end

      def load_state
        args.state = deserialize_state "game_state.txt"
      end

      def parse_serialization_data value
        Entity.parse_serialization_data value
      end

      private

      def __state_text__ arg
        return nil if arg.nil?
        arg = arg.to_s
        stripped = arg.lstrip
        return stripped if stripped.start_with?("{") || stripped.start_with?("[")
        contents = __read_state_file__ arg
        return contents if contents
        return nil if arg.end_with?(".txt") || arg.end_with?(".dat") || arg.end_with?(".rb")
        arg.strip.empty? ? nil : arg
      end

      def __remove_thrash_counts__ value, seen = {}
        if value.is_a?(Kor::OpenEntity)
          return if seen[value.object_id]
          seen[value.object_id] = true
          hash = value.__hash__
          hash.delete :__thrash_count__
          hash.each_value { |child| __remove_thrash_counts__ child, seen }
        elsif value.is_a?(Hash)
          value.each_value { |child| __remove_thrash_counts__ child, seen }
        elsif value.is_a?(Array)
          value.each { |child| __remove_thrash_counts__ child, seen }
        end
      end

      def __read_state_file__ file
        return read_file(file) if respond_to?(:read_file)
        ffi = instance_variable_get(:@ffi_file) || (Object.const_defined?(:FFI) && FFI.const_defined?(:File) && FFI::File.new)
        ffi ? ffi.read(file) : nil
      rescue Exception
        nil
      end

      def __write_state_file__ file, text
        return write_file(file, text) if respond_to?(:write_file)
        ffi = instance_variable_get(:@ffi_file) || FFI::File.new
        ffi.write file, text
      end

      def __restore_tick_count__ value
        if respond_to?(:tick_count=)
          self.tick_count = value
        elsif Kernel.respond_to?(:tick_count=)
          Kernel.tick_count = value
        end
      end

      def __log_state__ text, level = :info
        Kor.log_message text, level
      end
    end
  end
end
