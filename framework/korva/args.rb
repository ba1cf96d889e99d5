# The object handed to the game's tick every step.
module Kor
  class Args
    # Game state: any attribute can be read (nil until set) and assigned.
    class State
      def initialize
        @values = {}
      end

      def method_missing name, *arguments
        text = name.to_s
        if text.end_with?("=") && arguments.length == 1
          @values[text[0..-2].to_sym] = arguments[0]
        elsif arguments.empty?
          @values[name]
        else
          super
        end
      end

      def respond_to_missing? name, include_private = false
        true
      end

      def as_hash
        @values
      end

      def inspect
        @values.inspect
      end
    end

    # What the game draws. Collections are kept but not yet drawn: there are no
    # render passes.
    class Outputs
      COLLECTIONS = [:solids, :sprites, :primitives, :labels, :lines, :borders, :debug]

      COLLECTIONS.each do |collection|
        define_method(collection) { @collections[collection] }
        define_method("static_#{collection}".to_sym) { @collections["static_#{collection}".to_sym] }
      end

      def initialize
        @collections = {}
        COLLECTIONS.each do |collection|
          @collections[collection] = []
          @collections["static_#{collection}".to_sym] = []
        end
      end

      # Non-static collections hold one step's primitives.
      def clear_non_static
        COLLECTIONS.each { |collection| @collections[collection].clear }
      end
    end

    attr_reader :runtime, :outputs, :events
    attr_accessor :state

    def initialize runtime
      @runtime = runtime
      @state = State.new
      @state.tick_count = -1
      @outputs = Outputs.new
      @events = { resize_occurred: false, raw: [] }
    end

    def kor
      @runtime
    end

    def tick_count
      @state.tick_count
    end

    def tick_count= value
      @state.tick_count = value
    end

    def cvars
      $cvars
    end
  end
end
