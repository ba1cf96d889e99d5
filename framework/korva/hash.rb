# Hash primitives: the marker a mixed outputs collection (primitives, debug,
# reserved) needs, and the conversions that set it. Only the "!" forms
# exist: plain names such as label or sprite stay free as Hash attributes.
class Hash
  # Answered from the Hash (Object#primitive_marker would otherwise shadow
  # the key).
  def primitive_marker
    self[:primitive_marker]
  end

  [:solid, :sprite, :label, :line, :border].each do |kind|
    define_method("#{kind}!".to_sym) do
      self[:primitive_marker] = kind
      self
    end
  end
end
