# The framework's conventions for a game's own classes: an object including
# AttrKor serializes and inspects as the Hash of its instance variables, like
# the framework's own objects.
module AttrKor
  def serialize
    result = {}
    instance_variables.each do |ivar|
      value = instance_variable_get ivar
      next if value.nil? || value == false
      result[ivar.to_s[1..-1].to_sym] = Kor::Serialize.value_of(value)
    end
    result
  end

  def inspect
    serialize.to_s
  end
end
