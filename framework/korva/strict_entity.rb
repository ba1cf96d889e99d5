# An entity whose attributes are fixed when its type is first created
# (Entity.new_entity_strict). Attributes live in instance variables, so the
# native sprite packer reads them without method calls; an undeclared
# attribute is an error instead of a silent nil.
module Kor
  class StrictEntity
    include Kor::Geometry if Kor.const_defined?(:Geometry)

    FIXED_ATTRIBUTES = [:entity_id, :entity_name, :entity_type, :entity_strict, :created_at,
                        :global_created_at_elapsed, :entity_keys_by_ref]

    # Names that would break the object itself if they became accessors.
    PROTECTED_NAMES = [:class, :hash, :object_id, :send, :__send__, :__id__, :respond_to?, :is_a?,
                       :kind_of?, :instance_of?, :inspect, :to_s, :to_hash, :as_hash, :==, :equal?,
                       :method_missing, :instance_variable_get, :instance_variable_set,
                       :instance_variables, :initialize, :load_entity_data!, :clear!, :set!, :nil?]

    attr_accessor(*FIXED_ATTRIBUTES)

    def self.__declare_attributes__ names
      names.each { |name| __declare_attribute__ name }
    end

    def self.__declare_attribute__ name
      name = name.to_sym
      return if PROTECTED_NAMES.include?(name)
      attr_accessor name
    end

    def initialize type, init_hash = nil, block = nil
      @entity_id = Entity.id!
      @entity_name = type
      @entity_type = type
      @entity_strict = true
      @created_at = Kor.current_tick_count
      @global_created_at_elapsed = Kor.current_global_tick_count
      @entity_keys_by_ref = {}
      (init_hash || {}).each { |key, value| instance_variable_set("@#{key}".to_sym, value) }
      block.call(self) if block
    end

    def [] key
      send key.to_sym
    end

    def []= key, value
      send "#{key}=".to_sym, value
    end

    def set! key_or_keys, value
      keys = key_or_keys.is_a?(Array) ? key_or_keys : [key_or_keys]
      keys.each { |key| self[key] = value }
      value
    end

    def as_hash
      self
    end

    def to_hash
      update_entity_keys_by_ref
      result = {}
      instance_variables.each do |ivar|
        result[ivar.to_s[1..-1].to_sym] = instance_variable_get(ivar)
      end
      result
    end

    def serialize
      to_hash
    end

    # Groups attributes that hold one and the same object, so that saving
    # writes the object once and loading restores the sharing.
    def update_entity_keys_by_ref
      groups = {}
      instance_variables.each do |ivar|
        next if ivar == :@entity_keys_by_ref
        value = instance_variable_get ivar
        next if value.nil? || value == true || value == false
        next if value.is_a?(Symbol) || value.is_a?(Integer) || value.is_a?(Float) || value.is_a?(String)
        (groups[value.object_id] ||= []) << ivar.to_s[1..-1].to_sym
      end
      refs = {}
      groups.each_value do |names|
        next if names.length < 2
        # Instance variable order is not stable; name order is.
        names = names.sort_by { |name| name.to_s }
        names[1..-1].each { |name| refs[name] = names[0] }
      end
      @entity_keys_by_ref = refs
    end

    # The text form: every attribute, with shared objects written once (the
    # other names are restored from entity_keys_by_ref on load).
    def to_s
      hash = to_hash
      @entity_keys_by_ref.each_key { |name| hash[name] = nil }
      hash.to_s
    end

    def inspect
      to_s
    end

    def clear!
      instance_variables.each { |ivar| instance_variable_set ivar, nil }
      self
    end

    # A strict entity also answers to the type names of strict entities
    # (is_a?(:enemy)); a name with no such type is simply false.
    def is_a? klass
      return true if Entity.strict_entities[klass]
      return false unless klass.is_a?(Module)
      super
    end

    def load_entity_data! data
      begin
        data.each do |key, value|
          key = key.to_sym
          self.class.__declare_attribute__ key unless respond_to?("#{key}=".to_sym)
          self[key] = Entity.parse_serialization_data(value)
        end
        refs = data[:entity_keys_by_ref] || {}
        refs.each { |name, original| self[name] = self[original] }
        @entity_keys_by_ref = refs
        Entity.__bump_id__! @entity_id
      rescue Exception => e
        raise Entity.load_failure_message(data, e)
      end
      self
    end

    def method_missing name, *args, &block
      raise NoMethodError.new(
        "* ERROR:\nThe *strict* entity with name :#{@entity_name} doesn't have the property #{name}. When converting\n" \
        "an entity to a strict entity, every property it will ever use must be known when its type is first created.\n\n" \
        "** POSSIBLE SOLUTION:\nDeclare the property (with a default value) where the entity type is first created:\n" \
        "#+begin_src\n  args.state.new_entity_strict(:#{@entity_name}, #{name.to_s.chomp('=')}: nil)\n#+end_src\n",
        name)
    end
  end
end
