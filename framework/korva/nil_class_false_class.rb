# Nil punning. When an open entity's reader answers nil (or false), NIL is
# primed with the entity and the attribute name. The next unknown method
# called on nil then acts on that attribute: a writer or reader creates the
# attribute as a new open entity and forwards the call to it, which is how
# args.state.player.x = 10 works before player exists. Arithmetic on a primed
# nil answers nil with a warning, and raises once it keeps happening.
# Unprimed, nil and false behave as they always do.
class NIL
  OPERATORS = [:*, :-, :/, :+]

  @entity = nil
  @attribute = nil

  class << self
    attr_reader :entity, :attribute

    def prime! entity, attribute
      @entity = entity
      @attribute = attribute
      $nil_punning_primed = true
    end

    def unprime!
      @entity = nil
      @attribute = nil
      $nil_punning_primed = false
    end

    def primed?
      $nil_punning_primed == true
    end

    def entity_label entity
      name = entity.__hash__[:entity_name]
      name ? "args.state.#{name}" : "args.state"
    end

    # A method with no meaning on nil was called on the primed value: warn,
    # count it per method in the entity, and raise when it keeps happening.
    def thrash! entity, attribute, method_name, args
      counts = (entity.__hash__[:__thrash_count__] ||= {})
      count = (counts[method_name] || 0) + 1
      counts[method_name] = count
      if count > 5
        raise "* ERROR:\nThe method #{method_name} was invoked on #{attribute} within args.state, but #{attribute} has\n" \
              "a value of nil. The temporary coersion of this nil value, has reached it's\n" \
              "limit (#{count} invocations of ~#{method_name}~).\n\n" \
              "Set a default value for ~#{attribute}~ before using it, for example:\n" \
              "#+begin_src\n  #{entity_label(entity)}.#{attribute} ||= 0\n#+end_src\n"
      end
      text = "* Warning: Method invoked on nil.\n" \
             "The method #{method_name} was invoked on #{attribute} within args.state, but #{attribute} has\n" \
             "a value of nil.\n\n" \
             "** Object: #{entity_label(entity)}\n" \
             "** Member: #{method_name}\n" \
             "** Attribute: #{attribute}\n" \
             "** Args: #{args.inspect}\n\n" \
             "Set a default value for this property or you might get an exception later on.\n"
      if count == 4
        text += "\n** This is invocation number #{count} of ~#{method_name}~ on this nil value.\n" \
                "After five invocations the coersion of nil stops and an exception is raised.\n" \
                "Initialize the property before the first use, for example in ~boot~ or with\n" \
                "~#{entity_label(entity)}.#{attribute} ||= DEFAULT~ at the top of ~tick~.\n"
      end
      text += "\n** Caller:\n" + Kernel.caller.join("\n") + "\n\n"
      text += "To track method invocations on ~nil~, add $kor.trace_nil_punning! in =main.rb=.\n"
      Kor.log_message text, :warn
      nil
    end
  end

  module Punning
    def method_missing name, *args, &block
      return super unless $nil_punning_primed
      entity = NIL.entity
      attribute = NIL.attribute
      NIL.unprime!
      return super unless entity

      if block || NIL::OPERATORS.include?(name) || args.length > 2
        return NIL.thrash!(entity, attribute, name, args)
      end

      hash = entity.__hash__
      if args.length == 1 && name == "#{attribute}=".to_sym
        hash[attribute] = args[0]
        return args[0]
      end

      if name == :[]
        if args[0].is_a?(Symbol)
          Kor.log_message "* WARNING: Access using [:symbol] on Entities is discouraged.\n" \
                          "~#{NIL.entity_label(entity)}.#{attribute}[#{args[0].inspect}]~ creates ~#{attribute}~ as an entity.\n" \
                          "Use ~#{NIL.entity_label(entity)}.#{attribute}.#{args[0]}~ instead.\n", :warn
        else
          Kor.log_message "* ERROR: Ambiguous indexor invocation.\n" \
                          "~#{NIL.entity_label(entity)}.#{attribute}[#{args[0].inspect}]~ was called while ~#{attribute}~ is nil.\n" \
                          "The property could be meant as an Array or as a Hash. Initialize it first, for example:\n" \
                          "#+begin_src\n  #{NIL.entity_label(entity)}.#{attribute} ||= []\n#+end_src\n", :error
          return super
        end
      end

      # Only an attribute that is still unset is created; a primed value that
      # was assigned since (or a false value) keeps its ordinary behaviour.
      return super unless nil? && hash[attribute].nil?
      child = Kor::OpenEntity.new attribute
      hash[attribute] = child
      # The interpreter's send loses the arguments when it ends in
      # method_missing, so an undefined name is handed to it directly.
      return child.__send__(name, *args) if child.respond_to?(name)
      child.method_missing name, *args
    end
  end
end

class NilClass
  include NIL::Punning

  def serialize
    "nil"
  end
end

class FalseClass
  include NIL::Punning

  def serialize
    "nil"
  end
end

$nil_punning_primed = false
$nil_punning_disabled = false unless $nil_punning_disabled == true
