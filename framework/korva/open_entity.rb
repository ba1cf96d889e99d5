# An entity on which any attribute can be written and read without being
# declared (args.state is one). Attributes live in one Hash (@hash, which the
# native packers read directly); a reader or writer is generated on the class
# the first time a name is used, so later calls are ordinary method calls.
# A reader that answers nil primes nil punning (nil_class_false_class.rb), so
# args.state.player.x = 10 works before player exists.
module Kor
  class OpenEntity
    include Kor::Geometry if Kor.const_defined?(:Geometry)

    RESERVED_KEYS = [:entity_id, :entity_type, :__thrash_count__, :entity_name, :created_at, :global_created_at]

    # Operators on an entity are mistakes, not attribute names.
    OPERATORS = [:+, :-, :/, :*]

    # Names the interpreter and the engine probe on any object: answered from
    # the Hash but never turned into generated methods, which would make every
    # entity claim to support them.
    HOOK_NAMES = [:draw_override, :to_ary, :to_str, :to_hash, :to_proc, :to_a, :to_int]

    # Kernel methods every object answers. As attribute names they must read
    # the entity's Hash, so their readers exist from the start.
    KERNEL_NAMES = [:p, :print, :puts, :printf, :format, :sprintf, :rand, :srand, :loop, :gets, :open]

    @tracing_nil_punning ||= false
    @hash_warning_shown ||= false

    class << self
      def __define_reader__ name
        define_method(name) do
          @__touched__ = true
          value = @hash[name]
          NIL.prime!(self, name) if !value && !$nil_punning_disabled
          value
        end
      end

      def __define_writer__ setter, key
        define_method(setter) do |value|
          @__touched__ = true
          NIL.unprime! if value.nil? && $nil_punning_primed && !$nil_punning_disabled
          @hash[key] = value
        end
      end

      def parse_serialization_data value
        Entity.parse_serialization_data value
      end

      def disable_nil_punning!
        $nil_punning_disabled = true
        NIL.unprime!
      end

      def enable_nil_punning!
        $nil_punning_disabled = false
      end

      def trace_nil_punning!
        @tracing_nil_punning = true
        Kor.log_message "* INFO: trace_nil_punning! enabled\n"
      end

      def untrace_nil_punning!
        @tracing_nil_punning = false
      end

      def tracing_nil_punning?
        @tracing_nil_punning
      end

      def __hash_warning_shown__
        shown = @hash_warning_shown
        @hash_warning_shown = true
        shown
      end
    end

    KERNEL_NAMES.each { |name| __define_reader__ name }

    attr_accessor :__touched__, :__contains_array_indexers__

    def initialize name = nil
      if OpenEntity.tracing_nil_punning?
        Kor.log_message "* INFO: OpenEntity#new invocation occurred (trace_nil_punning!)\n" +
                        Kernel.caller.join("\n") + "\n"
      end
      @hash = { entity_id: Entity.id!, entity_keys_by_ref: {} }
      @hash[:entity_name] = name if name
      @__touched__ = false
      @__contains_array_indexers__ = false
    end

    def method_missing name, *args, &block
      text = name.to_s
      if block || OPERATORS.include?(name) || args.length > 2 || text.end_with?("!") || text.end_with?("?")
        return super
      end
      if args.empty?
        return @hash[name] if HOOK_NAMES.include?(name)
        OpenEntity.__define_reader__ name
        __send__ name
      elsif args.length == 1 && text.end_with?("=")
        OpenEntity.__define_writer__ name, text[0..-2].to_sym
        __send__ name, args[0]
      else
        nil
      end
    end

    def [] key
      value = @hash[key]
      NIL.prime!(self, key) if !value && !$nil_punning_disabled
      value
    end

    def []= key, value
      @__contains_array_indexers__ = true if key.is_a?(Integer) && !@hash.key?(key)
      @hash[key] = value
    end

    # The Hash itself, without the array-indexer advice (used by the
    # framework where the advice would be noise).
    def __hash__
      @hash
    end

    def as_hash
      if @__contains_array_indexers__ && !@__array_indexer_advice_shown__
        @__array_indexer_advice_shown__ = true
        Kor.log_message "* IMPORTANT:\nThis dynamic entity contains array indexers. " \
                        "Integer keys were assigned with ~[]=~, so the entity is being used as an Array.\n" \
                        "Use an Array attribute instead (for example ~args.state.items ||= []~).\n"
      end
      @hash
    end

    def attributes
      @hash.reject { |key, _| RESERVED_KEYS.include?(key) || key == :entity_keys_by_ref }
    end

    def attributes= value
      raise "* ERROR: You cannot use the property ~attributes~ for an object under ~args.state~ because it " \
            "would overwrite ~Object::attributes~. Please pick a different property name."
    end

    def set! key_or_keys, value
      keys = key_or_keys.is_a?(Array) ? key_or_keys : [key_or_keys]
      keys.each { |key| @hash[key.to_sym] = value }
      value
    end

    def merge *hashes
      result = @hash.dup
      hashes.each { |other| result.merge!(other.is_a?(OpenEntity) ? other.__hash__ : other) }
      result
    end

    def clear!
      @hash.clear
      self
    end

    def == other
      equal?(other) || (other.is_a?(Numeric) && other == @hash[:entity_id])
    end

    def entity_id
      @hash[:entity_id]
    end

    def primitive_marker
      @hash[:primitive_marker]
    end

    def created_at_elapsed
      created_at = @hash[:created_at]
      created_at && Kor.current_tick_count - created_at
    end

    def global_created_at_elapsed
      created_at = @hash[:global_created_at]
      created_at && Kor.current_global_tick_count - created_at
    end

    def new? tick_count_override = nil
      created_at = @hash[:created_at]
      !created_at.nil? && created_at == (tick_count_override || Kor.current_tick_count)
    end

    def old?
      lifetime = @hash[:lifetime]
      return false unless lifetime.is_a?(Numeric)
      elapsed = created_at_elapsed
      !elapsed.nil? && elapsed > lifetime
    end

    def new_entity type, init_hash = nil, &block
      Entity.new_entity type, init_hash, &block
    end

    def new_entity_strict type, init_hash = nil, &block
      Entity.new_entity_strict type, init_hash, &block
    end

    def to_s
      @hash.to_s
    end

    def inspect
      @hash.to_s
    end

    def serialize
      @hash
    end

    def hash
      unless OpenEntity.__hash_warning_shown__
        Kor.log_message "* WARNING:\nEntity#hash has been renamed to Entity#as_hash so as not to clober Object#hash. " \
                        "Use ~as_hash~ to get the attributes of an entity.\n"
      end
      super
    end

    def load_entity_data! data
      begin
        data.each { |key, value| self[key] = Entity.parse_serialization_data(value) }
        refs = data[:entity_keys_by_ref]
        refs.each { |name, original| @hash[name] = @hash[original] } if refs.is_a?(Hash)
        Entity.__bump_id__! @hash[:entity_id]
      rescue Exception => e
        raise Entity.load_failure_message(data, e)
      end
      self
    end

    def meta
      @__meta__ ||= {}
    end

    def meta! values
      meta.merge!(values)
      self
    end

    def with_meta values
      meta! values
    end
  end
end
