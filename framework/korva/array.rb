# Array primitives as games ask for them (array.solid, .sprite, .label,
# .line, .border) and as the typed outputs collections mark them. The
# conversion happens in place (Kor::Primitive).
class Array
  [:solid, :sprite, :label, :line, :border].each do |kind|
    define_method("#{kind}!".to_sym) { Kor::Primitive.convert!(self, kind) }
    define_method(kind) { Kor::Primitive.convert!(self, kind) }
    define_method("mark_as_#{kind}!".to_sym) { Kor::Primitive.convert!(self, kind) }
  end
end
