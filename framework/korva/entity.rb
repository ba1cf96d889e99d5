# Entity bookkeeping shared by open and strict entities: the id counter, the
# registry of generated strict classes, and the rebuilding of entities from
# loaded save data.
module Kor
  # Framework messages go through the runtime's log when there is one (it
  # reaches the console and the log file), otherwise to standard output.
  def self.log_message text, level = :info
    runtime = $kor
    if runtime
      leveled = "log_#{level}".to_sym
      return runtime.send(leveled, text) if runtime.respond_to?(leveled)
      return runtime.log(text) if runtime.respond_to?(:log)
    end
    Kernel.puts text
    nil
  end

  def self.current_tick_count
    return Kernel.tick_count if Kernel.respond_to?(:tick_count)
    return $kor.tick_count if $kor.respond_to?(:tick_count)
    -1
  end

  def self.current_global_tick_count
    return Kernel.global_tick_count if Kernel.respond_to?(:global_tick_count)
    return $kor.global_tick_count if $kor.respond_to?(:global_tick_count)
    -1
  end

  class Entity
    # Kept when a reload re-runs this file: live entities hold these ids.
    @id ||= 0
    @strict_entities ||= {}

    class << self
      attr_reader :strict_entities

      def id!
        @id += 1
      end

      def __reset_id__!
        @id = 0
      end

      # Loaded entities keep their stored ids; the counter moves past them so
      # entities created later never share an id with a loaded one.
      def __bump_id__! value
        @id = value if value.is_a?(Integer) && value > @id
      end

      # Everything a game reset forgets about entities.
      def __reset__!
        __reset_id__!
        @strict_entities.clear
        NIL.unprime! if Object.const_defined?(:NIL)
      end

      def new_entity type, init_hash = nil, &block
        entity = OpenEntity.new type
        entity[:entity_type] = type
        entity[:created_at] = Kor.current_tick_count
        entity[:global_created_at] = Kor.current_global_tick_count
        (init_hash || {}).each { |key, value| entity[key] = value }
        block.call(entity) if block
        entity
      end

      # The first use of a type decides its attributes: every key of the init
      # hash plus every key the block assigns on a trial open entity.
      def new_entity_strict type, init_hash = nil, &block
        init_hash ||= {}
        klass = @strict_entities[type]
        unless klass
          trial = OpenEntity.new type
          init_hash.each { |key, value| trial[key] = value }
          block.call(trial) if block
          names = init_hash.keys.map { |key| key.to_sym }
          trial.as_hash.each_key { |key| names << key.to_sym unless names.include?(key.to_sym) }
          klass = Class.new(StrictEntity)
          klass.__declare_attributes__ names
          @strict_entities[type] = klass
        end
        klass.new type, init_hash, block
      end

      # Rebuilds entities from evaluated save data: hashes carrying an
      # entity_id become entities again, arrays are rebuilt element by
      # element, everything else is kept as it is.
      def parse_serialization_data value
        if value.is_a?(Hash) && value[:entity_id] && value[:entity_strict]
          entity = new_entity_strict value[:entity_name], value
          entity.load_entity_data! value
          entity
        elsif value.is_a?(Hash) && value[:entity_id]
          entity = OpenEntity.new
          entity.load_entity_data! value
          entity
        elsif value.is_a?(Array)
          value.map { |element| parse_serialization_data element }
        else
          value
        end
      end

      def load_failure_message data, exception
        "* ERROR:\nFailed to load entity data from:\n\n#+begin_src\n#{data}\n#+end_src\n\n" \
        "The save data looks to be corrupt.\n\n** INNER EXCEPTION:\n#{exception.message}\n"
      end
    end
  end
end
