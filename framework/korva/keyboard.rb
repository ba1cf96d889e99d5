# The keyboard as the game sees it: three sets of key flags (pressed this tick,
# held, released this tick), each flag the tick number it was set at. The native
# event translation reports raw key codes and modifier bits; the tables here turn
# them into key names.
module Kor
  # Up, down, left, right and the values derived from them, for any object that
  # answers left, right, up and down.
  module DirectionalInputHelperMethods
    DIAGONAL_X = Math.cos(Math::PI / 4)
    DIAGONAL_Y = Math.sin(Math::PI / 4)

    def left_right
      (right ? 1 : 0) - (left ? 1 : 0)
    end

    def up_down
      (up ? 1 : 0) - (down ? 1 : 0)
    end

    def directional_vector
      DirectionalInputHelperMethods.vector left_right, up_down
    end

    def directional_angle
      DirectionalInputHelperMethods.angle left_right, up_down
    end

    def self.vector x, y
      return nil if x == 0 && y == 0
      return { x: DIAGONAL_X * x, y: DIAGONAL_Y * y } if x != 0 && y != 0
      { x: x, y: y }
    end

    def self.angle x, y
      return nil if x == 0 && y == 0
      Math.atan2(y, x) * 180.0 / Math::PI
    end
  end

  # One set of key flags. Every key name is an attribute holding the tick number
  # at which it was set, or false.
  class KeyboardKeys
    LETTERS = %w[a b c d e f g h i j k l m n o p q r s t u v w x y z].map(&:to_sym)
    DIGITS = [:zero, :one, :two, :three, :four, :five, :six, :seven, :eight, :nine]

    KEY_NAMES = LETTERS + DIGITS + [
      :backspace, :delete, :escape, :enter, :tab, :space, :open_square_brace, :close_square_brace,
      :semicolon, :equal, :hyphen, :single_quotation_mark, :backtick, :period, :comma, :forward_slash,
      :back_slash, :tilde, :underscore, :double_quotation_mark, :exclamation_point, :at, :hash, :dollar,
      :percent, :caret, :ampersand, :asterisk, :open_round_brace, :close_round_brace, :open_curly_brace,
      :close_curly_brace, :colon, :plus, :pipe, :question_mark, :less_than, :greater_than, :section,
      :ordinal_indicator, :superscript_two, :shift, :control, :alt, :meta, :shift_left, :shift_right,
      :control_left, :control_right, :alt_left, :alt_right, :meta_left, :meta_right, :home, :end,
      :left_arrow, :right_arrow, :up_arrow, :down_arrow, :page_up, :page_down, :ac_search, :ac_home,
      :ac_back, :ac_forward, :ac_stop, :ac_refresh, :ac_bookmarks,
      :w_scancode, :a_scancode, :s_scancode, :d_scancode
    ]

    ALIASES = {
      section_sign: :section, equal_sign: :equal, dollar_sign: :dollar, percent_sign: :percent,
      circumflex: :caret, less_than_sign: :less_than, greater_than_sign: :greater_than,
      left_shift: :shift_left, right_shift: :shift_right,
      option: :alt, option_left: :alt_left, option_right: :alt_right, left_alt: :alt_left,
      right_alt: :alt_right, left_option: :alt_left, right_option: :alt_right,
      command: :meta, command_left: :meta_left, command_right: :meta_right, left_meta: :meta_left,
      right_meta: :meta_right, left_command: :meta_left, right_command: :meta_right,
      ctrl: :control, left_control: :control_left, right_control: :control_right,
      left_ctrl: :control_left, right_ctrl: :control_right,
      backslash: :back_slash, forwardslash: :forward_slash, minus: :hyphen, dash: :hyphen,
      pageup: :page_up, pagedown: :page_down,
      left: :left_arrow, right: :right_arrow, up: :up_arrow, down: :down_arrow
    }

    KEY_NAME_LOOKUP = {}
    KEY_NAMES.each { |name| KEY_NAME_LOOKUP[name] = name }
    ALIASES.each { |name, canonical| KEY_NAME_LOOKUP[name] = canonical }

    # Character (or raw key code) -> key names.
    CHAR_TO_METHOD = begin
      table = {}
      LETTERS.each { |letter| table[letter.to_s.upcase] = [letter] }
      DIGITS.each_with_index { |digit, i| table[i.to_s] = [digit] }
      {
        "!" => [:exclamation_point], "(" => [:open_round_brace], ")" => [:close_round_brace],
        "{" => [:open_curly_brace], "}" => [:close_curly_brace], "[" => [:open_square_brace],
        "]" => [:close_square_brace], ":" => [:colon], ";" => [:semicolon], "=" => [:equal],
        "-" => [:hyphen, :minus], " " => [:space], "$" => [:dollar_sign],
        "\"" => [:double_quotation_mark], "'" => [:single_quotation_mark], "`" => [:backtick],
        "~" => [:tilde], "." => [:period], "," => [:comma], "|" => [:pipe], "_" => [:underscore],
        "#" => [:hash], "+" => [:plus], "@" => [:at], "/" => [:forward_slash], "\\" => [:back_slash],
        "*" => [:asterisk], "<" => [:less_than], ">" => [:greater_than], "^" => [:caret],
        "&" => [:ampersand], "²" => [:superscript_two], "§" => [:section], "?" => [:question_mark],
        "%" => [:percent], "º" => [:ordinal_indicator],
        8.chr => [:backspace], 27.chr => [:escape], 13.chr => [:enter], 9.chr => [:tab],
        127 => [:delete], 1073741898 => [:home], 1073741901 => [:end], 1073741903 => [:right_arrow],
        1073741904 => [:left_arrow], 1073741905 => [:down_arrow], 1073741906 => [:up_arrow],
        1073741899 => [:page_up], 1073741902 => [:page_down],
        1073742049 => [:shift_left, :shift], 1073742053 => [:shift_right, :shift],
        1073742048 => [:control_left, :control], 1073742052 => [:control_right, :control],
        1073742050 => [:alt_left, :alt], 1073742054 => [:alt_right, :alt],
        1073742051 => [:meta_left, :meta], 1073742055 => [:meta_right, :meta],
        1073742092 => [:ac_search], 1073742093 => [:ac_home], 1073742094 => [:ac_back],
        1073742095 => [:ac_forward], 1073742096 => [:ac_stop], 1073742097 => [:ac_refresh],
        1073742098 => [:ac_bookmarks]
      }.each { |key, names| table[key] = names }
      table
    end

    SHIFT_CHAR = begin
      table = {
        "`" => "~", "-" => "_", "'" => "\"", "1" => "!", "2" => "@", "3" => "#", "4" => "$",
        "5" => "%", "6" => "^", "7" => "&", "8" => "*", "9" => "(", "0" => ")", ";" => ":",
        "=" => "+", "[" => "{", "]" => "}", "\\" => "|", "/" => "?", "." => ">", "," => "<"
      }
      LETTERS.each { |letter| table[letter.to_s] = letter.to_s.upcase }
      table
    end

    SHIFT_CHAR_TO_CHAR = {
      tilde: :backtick, underscore: :hyphen, double_quotation_mark: :single_quotation_mark,
      exclamation_point: :one, at: :two, hash: :three, dollar: :four, percent: :five, caret: :six,
      ampersand: :seven, asterisk: :eight, open_round_brace: :nine, close_round_brace: :zero,
      open_curly_brace: :open_square_brace, close_curly_brace: :close_square_brace, colon: :semicolon,
      plus: :equal, pipe: :back_slash, question_mark: :forward_slash, less_than: :comma,
      greater_than: :period
    }
    CHAR_TO_SHIFT_CHAR = begin
      table = {}
      SHIFT_CHAR_TO_CHAR.each { |shifted, plain| table[plain] = shifted }
      table
    end

    SCANCODE_TO_METHOD = { 26 => :w_scancode, 4 => :a_scancode, 22 => :s_scancode, 7 => :d_scancode }

    MODIFIER_KEY_METHODS = {
      1 => [:shift_left, :shift], 2 => [:shift_right, :shift], 256 => [:alt_left, :alt],
      512 => [:alt_right, :alt], 1024 => [:meta_left, :meta], 2048 => [:meta_right, :meta],
      64 => [:control_left, :control], 128 => [:control_right, :control]
    }

    HIGH_CHARS = { 178 => "²", 167 => "§", 186 => "º" }
    SHIFT_KEYS = [1073742049, 1073742053]

    KEY_NAMES.each { |name| attr_reader name }
    ALIASES.each { |name, canonical| alias_method name, canonical }

    attr_accessor :keycodes, :char, :raw_key

    class << self
      def aliases
        ALIASES
      end

      def char_to_method_hash
        CHAR_TO_METHOD
      end

      def char_to_shift_char_hash
        CHAR_TO_SHIFT_CHAR
      end

      def shift_char_to_char_hash
        SHIFT_CHAR_TO_CHAR
      end

      def scancode_to_method_hash
        SCANCODE_TO_METHOD
      end

      def sdl_modifier_key_methods modifier
        names = []
        MODIFIER_KEY_METHODS.each { |bit, methods| names.concat(methods) if modifier & bit != 0 }
        names.uniq
      end

      # The canonical name of a key name or alias, or nil.
      def canonical name
        KEY_NAME_LOOKUP[name.to_sym]
      end

      def modifier_key? raw_key
        raw_key >= 1073742048 && raw_key <= 1073742055
      end

      def shift_key? raw_key
        SHIFT_KEYS.include?(raw_key)
      end

      # The character a key with these modifier bits types: shifted only while
      # shift (and nothing else) is down. nil for keys that are not characters.
      def char_with_shift raw_key, modifier
        return nil unless raw_key >= 0 && raw_key <= 255
        char = HIGH_CHARS[raw_key] || raw_key.chr
        return SHIFT_CHAR[char] || char if modifier == 1 || modifier == 2 || modifier == 3
        char
      end

      def char_to_method char, raw_key = nil
        names = CHAR_TO_METHOD[raw_key] if raw_key
        names ||= CHAR_TO_METHOD[char] if char
        names || (char ? [char.to_sym] : [])
      end

      # Key names of a raw key with its modifier bits, canonical and known only;
      # nil for keys the tables do not cover.
      def sdl_to_key raw_key, modifier
        return nil unless (raw_key >= 0 && raw_key <= 255) || CHAR_TO_METHOD.key?(raw_key)
        names = key_names(raw_key, modifier)
        names << :alt if modifier & 768 != 0 && !names.include?(:alt)
        names << :meta if modifier & 3072 != 0 && !names.include?(:meta)
        names << :control if modifier & 192 != 0 && !names.include?(:control)
        names << :shift if modifier & 3 != 0 && !names.include?(:shift)
        names
      end

      # The names of the key itself, without the ones its modifier bits add.
      def key_names raw_key, modifier
        char = char_with_shift(raw_key, modifier)
        char_to_method(char, raw_key).map { |name| KEY_NAME_LOOKUP[name] }.compact.uniq
      end

      # Key name -> the character or raw key that sets it (for error messages).
      def method_to_key_hash
        @method_to_key_hash ||= begin
          table = {}
          CHAR_TO_METHOD.each do |key, names|
            names.each do |name|
              canonical = KEY_NAME_LOOKUP[name]
              table[canonical] ||= key if canonical
            end
          end
          LETTERS.each { |letter| table[letter] = letter.to_s }
          SCANCODE_TO_METHOD.each { |code, name| table[name] = "scancode #{code}" }
          table
        end
      end
    end

    def initialize
      @keycodes = {}
      @char = nil
      @raw_key = nil
      @set_keys = {}
      KEY_NAMES.each { |name| instance_variable_set(IVARS[name], false) }
    end

    # Value of a key (or the first set of several), aliases resolved.
    def get keys
      if keys.is_a?(Array)
        keys.each do |key|
          value = get(key)
          return value if value
        end
        return nil
      end
      name = KEY_NAME_LOOKUP[keys.to_sym] || raise_unknown_key(keys)
      instance_variable_get(IVARS[name])
    end

    def set keys, value = true
      (keys.is_a?(Array) ? keys : [keys]).each do |key|
        name = KEY_NAME_LOOKUP[key.to_sym]
        unless name
          raise "* ERROR:\nAttempted to set the a key on the Korvane Kor's Keyboard data\n" \
                "but there is no key called :#{key} (raw key #{@raw_key.inspect}).\n"
        end
        instance_variable_set(IVARS[name], value)
        if value
          @set_keys[name] = true
        else
          @set_keys.delete(name)
        end
      end
      value
    end

    def clear_key key
      set key, false
    end

    def set? name
      @set_keys.key?(name)
    end

    def truthy_keys
      @set_keys.keys
    end

    def all? keys
      names = keys.map { |key| key.to_s }
      result = names.all? { |name| get(name.chomp("!")) }
      clear_bang_keys(names) if result
      result
    end

    def any? keys
      names = keys.map { |key| key.to_s }
      result = names.any? { |name| get(name.chomp("!")) }
      clear_bang_keys(names) if result
      result
    end

    def clear
      @set_keys.keys.each { |name| instance_variable_set(IVARS[name], false) }
      @set_keys.clear
      @keycodes.clear
      @char = nil
      @raw_key = nil
      nil
    end

    # The direction of this set alone: the arrows or the W, A, S, D scancodes.
    def directional_vector
      x = ((@right_arrow || @d_scancode) ? 1 : 0) - ((@left_arrow || @a_scancode) ? 1 : 0)
      y = ((@up_arrow || @w_scancode) ? 1 : 0) - ((@down_arrow || @s_scancode) ? 1 : 0)
      DirectionalInputHelperMethods.vector x, y
    end

    KEY_NAMES.each do |name|
      define_method("#{name}=") { |value| set(name, value) }
    end
    ALIASES.each do |name, canonical|
      define_method("#{name}=") { |value| set(canonical, value) }
    end

    IVARS = {}
    KEY_NAMES.each { |name| IVARS[name] = "@#{name}".to_sym }

    # a! answers the flag, then clears it.
    def method_missing name, *args, &block
      text = name.to_s
      if text.end_with?("!") && args.empty?
        key = KEY_NAME_LOOKUP[text.chomp("!").to_sym]
        if key
          value = instance_variable_get(IVARS[key])
          clear_key(key)
          return value
        end
      end
      return set(text.chomp("="), args[0]) if text.end_with?("=") && args.length == 1
      return super if args.length > 0 || text.start_with?("to_") || text.end_with?("?") || text.end_with?("=")
      raise_unknown_key text.chomp("!")
    end

    def respond_to_missing? name, include_private = false
      text = name.to_s
      text.end_with?("!") && KEY_NAME_LOOKUP.key?(text.chomp("!").to_sym)
    end

    def serialize
      result = {}
      @set_keys.each_key { |name| result[name] = instance_variable_get(IVARS[name]) }
      result
    end

    def inspect
      "#<Kor::KeyboardKeys #{truthy_keys.inspect}>"
    end

    def to_s
      inspect
    end

    private

    def clear_bang_keys names
      names.each { |name| clear_key(name.chomp("!").to_sym) if name.end_with?("!") }
    end

    def raise_unknown_key name
      lines = ["* ERROR:"]
      table = KeyboardKeys.method_to_key_hash
      KEY_NAMES.each do |key|
        test = table[key]
        lines << (test.is_a?(String) ? "** :#{key} #{test.inspect}" : "** :#{key} raw key #{test.inspect}")
      end
      prefix = name.to_s[0, 2]
      suggestions = KEY_NAME_LOOKUP.keys.select { |key| key.to_s.start_with?(prefix) }.map { |key| ":#{key}" }
      raise lines.join("\n") + "\nThere is no key on the keyboard called :#{name}" \
            ". Did you mean #{suggestions.join(", ")}?\n" \
            "Full list of available keys =:points_up:=.\n"
    end
  end

  # Keyboard state: the three key sets, focus, and the key queries games use.
  class Keyboard
    include DirectionalInputHelperMethods

    MODIFIER_PREFIXES = { "ctrl_" => :control, "control_" => :control, "shift_" => :shift,
                          "alt_" => :alt, "meta_" => :meta }

    attr_accessor :key_down, :key_held, :key_up, :has_focus, :active

    def initialize
      @key_down = KeyboardKeys.new
      @key_held = KeyboardKeys.new
      @key_up = KeyboardKeys.new
      @has_focus = true
      @active = nil
      # Names and raw keys physically down since their last press event: what
      # moves from key_down to key_held after a tick.
      @down_names = {}
      @down_raw_keys = {}
      @last_down_char = nil
    end

    # --- Events (the runtime's bridge calls these) ---

    def key_down_in_game raw_key, modifier, tick_count
      @key_down.keycodes[raw_key] = tick_count
      @down_raw_keys[raw_key] = true
      names = KeyboardKeys.sdl_to_key(raw_key, modifier)
      return false unless names
      char = KeyboardKeys.char_with_shift(raw_key, modifier)
      # The key's own names (and, with shift, their unshifted names) stay down
      # until its release; the names its modifier bits add belong to the modifier
      # keys' own events.
      own = KeyboardKeys.key_names(raw_key, modifier)
      if !KeyboardKeys.modifier_key?(raw_key) && (modifier & 3 != 0 || down_or_held?(:shift))
        own.dup.each do |name|
          plain = KeyboardKeys::SHIFT_CHAR_TO_CHAR[name]
          own << plain if plain && !own.include?(plain)
        end
      end
      own.each { |name| @down_names[name] = true }
      names = (own + names).uniq
      # Auto-repeat never presses a key again.
      names = names.reject { |name| @key_held.set?(name) }
      @active = tick_count
      @key_down.char = char
      @key_down.raw_key = raw_key
      @last_down_char = char
      names.each { |name| @key_down.set(name, tick_count) }
      true
    end

    def key_up_in_game raw_key, modifier, tick_count
      @key_up.keycodes[raw_key] = tick_count
      @key_held.keycodes.delete(raw_key)
      @down_raw_keys.delete(raw_key)
      names = KeyboardKeys.sdl_to_key(raw_key, modifier)
      return false unless names
      held = @key_down.truthy_keys | @key_held.truthy_keys
      if KeyboardKeys.shift_key?(raw_key)
        held.each do |name|
          shifted = KeyboardKeys::CHAR_TO_SHIFT_CHAR[name]
          names << shifted if shifted && !names.include?(shifted)
        end
      else
        names.dup.each do |name|
          plain = KeyboardKeys::SHIFT_CHAR_TO_CHAR[name]
          names << plain if plain && !names.include?(plain)
        end
      end
      names -= KeyboardKeys.sdl_modifier_key_methods(modifier)
      @active = tick_count
      @key_up.char = KeyboardKeys.char_with_shift(raw_key, modifier)
      @key_up.raw_key = raw_key
      names.each do |name|
        @key_up.set(name, tick_count)
        @key_held.clear_key(name)
        @down_names.delete(name)
      end
      true
    end

    def scancode_down_in_game raw_scancode, tick_count
      name = KeyboardKeys::SCANCODE_TO_METHOD[raw_scancode]
      return false unless name
      @down_names[name] = true
      @active = tick_count
      @key_down.set(name, tick_count) unless @key_held.set?(name)
      true
    end

    def scancode_up_in_game raw_scancode, tick_count
      name = KeyboardKeys::SCANCODE_TO_METHOD[raw_scancode]
      return false unless name
      @down_names.delete(name)
      @active = tick_count
      @key_up.set(name, tick_count)
      @key_held.clear_key(name)
      true
    end

    # --- Per-tick transitions ---

    # Before the game's tick: drop keycodes that were cleared.
    def tick_before
      [@key_down, @key_held, @key_up].each do |keys|
        keys.keycodes.keys.each { |raw_key| keys.keycodes.delete(raw_key) unless keys.keycodes[raw_key] }
      end
      nil
    end

    # After the game's tick: pressed keys that are still down become held (a key
    # pressed and released between two ticks is seen down and up in one tick, and
    # never held); the pressed and released sets start empty.
    def tick_after tick_count
      @key_down.truthy_keys.each { |name| @key_held.set(name, tick_count) if @down_names[name] }
      @key_down.keycodes.each_key { |raw_key| @key_held.keycodes[raw_key] = tick_count if @down_raw_keys[raw_key] }
      @key_held.char = @last_down_char
      @key_down.clear
      @key_up.clear
      nil
    end

    def clear
      @key_down.clear
      @key_held.clear
      @key_up.clear
      @down_names.clear
      @down_raw_keys.clear
      @active = nil
      nil
    end

    # --- Queries ---

    def down_or_held? name
      @key_down.set?(name) || @key_held.set?(name)
    end

    def key
      down = @key_down.truthy_keys
      held = @key_held.truthy_keys
      { down: down, held: held, down_or_held: (down + held).uniq, up: @key_up.truthy_keys }
    end

    def left
      key_value(:left_arrow) || key_value(:a_scancode)
    end

    def right
      key_value(:right_arrow) || key_value(:d_scancode)
    end

    def up
      key_value(:up_arrow) || key_value(:w_scancode)
    end

    def down
      key_value(:down_arrow) || key_value(:s_scancode)
    end

    def left_arrow
      key_value(:left_arrow)
    end

    def right_arrow
      key_value(:right_arrow)
    end

    def up_arrow
      key_value(:up_arrow)
    end

    def down_arrow
      key_value(:down_arrow)
    end

    def truthy_keys
      (@key_down.truthy_keys + @key_held.truthy_keys).uniq
    end

    def serialize
      { key_down: @key_down.serialize, key_held: @key_held.serialize, key_up: @key_up.serialize,
        has_focus: @has_focus, active: @active }
    end

    def inspect
      "#<Kor::Keyboard down: #{@key_down.truthy_keys.inspect}, held: #{@key_held.truthy_keys.inspect}, " \
        "up: #{@key_up.truthy_keys.inspect}>"
    end

    def to_s
      inspect
    end

    # keyboard.NAME: down or held; keyboard.ctrl_NAME (control_, shift_, alt_,
    # meta_): pressed this tick while the modifier is down or held. Each is
    # defined on first use.
    def method_missing name, *args, &block
      return super unless args.empty?
      text = name.to_s
      key = KeyboardKeys.canonical(text)
      if key
        self.class.send(:define_method, name) { key_value(key) }
        return key_value(key)
      end
      MODIFIER_PREFIXES.each do |prefix, modifier|
        next unless text.start_with?(prefix)
        rest = KeyboardKeys.canonical(text[prefix.length..-1])
        next unless rest
        self.class.send(:define_method, name) { modified_key(modifier, rest) }
        return modified_key(modifier, rest)
      end
      return super if text.start_with?("to_") || text.end_with?("?") || text.end_with?("=")
      @key_down.get(text)  # raises the unknown-key error with suggestions
    end

    def respond_to_missing? name, include_private = false
      text = name.to_s
      return true if KeyboardKeys.canonical(text)
      MODIFIER_PREFIXES.keys.any? { |prefix| text.start_with?(prefix) && KeyboardKeys.canonical(text[prefix.length..-1]) }
    end

    private

    def key_value name
      @key_down.get(name) || @key_held.get(name)
    end

    def modified_key modifier, name
      return nil unless down_or_held?(modifier)
      @key_down.get(name)
    end
  end
end
