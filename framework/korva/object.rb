# Core-class extensions every later framework file relies on.

# Classes whose instances are plain values: outputs collections ignore them
# when pushed on their own, and an Array holding one is a single array
# primitive rather than a list of primitives.
module ValueType
end

[Numeric, String, Symbol, TrueClass, FalseClass].each do |klass|
  klass.include ValueType
end

class Object
  # Objects are not primitives unless they say so. Outputs collections ask
  # every element for its marker, so the answer must exist on every object.
  def primitive_marker
    nil
  end
end
