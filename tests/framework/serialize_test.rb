# Game state as text and back, and the Serialize mixin of framework objects.

# The save/load operations as the runtime mixes them in, on an object of the
# test's own so that loading never touches the live game's counters.
def serialize_test_io
  Object.new.extend(Kor::Runtime::SaveStateLoadState)
end

def test_state_round_trip_keeps_structure_and_ids args, assert
  state = Kor::OpenEntity.new
  state.player.x = 10
  state.player.name = "say \"hi\"\\ \n\ttab"
  state.player.inventory = [:sword, "shield", 2.5, -3, nil, true, false]
  state.settings = { volume: 0.75, "key" => :"odd symbol", 7 => [1, [2, { deep: :yes }]] }
  state.enemies = [Kor::OpenEntity.new, Kor::OpenEntity.new]
  state.enemies[0].hp = 3
  state.range = 1..5
  state.huge = 1.0e+20

  io = serialize_test_io
  text = io.serialize_state(state)
  assert.true! text.start_with?("{"), "the text form is a Hash literal"
  loaded = io.deserialize_state(text)

  assert.true! loaded.is_a?(Kor::OpenEntity)
  assert.true! loaded.player.is_a?(Kor::OpenEntity), "nested entities come back as entities"
  assert.equal! loaded.entity_id, state.entity_id, "stored ids win over new ones"
  assert.equal! loaded.player.entity_id, state.player.entity_id
  assert.equal! loaded.player.x, 10
  assert.equal! loaded.player.name, state.player.name
  assert.equal! loaded.player.inventory, state.player.inventory
  assert.true! loaded.settings.is_a?(Hash), "a Hash without entity_id stays a Hash"
  assert.equal! loaded.settings, state.settings
  assert.true! loaded.enemies.all? { |e| e.is_a?(Kor::OpenEntity) }
  assert.equal! loaded.enemies[0].hp, 3
  assert.equal! [loaded.range, loaded.huge], [1..5, 1.0e+20]
  assert.equal! io.serialize_state(loaded), text, "a second round gives the same text"

  fresh = Kor::OpenEntity.new
  assert.true! fresh.entity_id > state.enemies[1].entity_id, "new entities never reuse a loaded id"
end

def test_serialize_state_drops_thrash_counters args, assert
  state = Kor::OpenEntity.new
  state.child.value = 1
  state.hp + 1
  state.child.hp - 1
  assert.true! state.as_hash.key?(:__thrash_count__)
  text = serialize_test_io.serialize_state(state)
  assert.false! text.include?("__thrash_count__")
  assert.false! state.child.as_hash.key?(:__thrash_count__), "removed through nested entities too"
end

def test_strict_entity_shared_reference_round_trip args, assert
  shared = [1, 2, 3]
  io = serialize_test_io
  entity = args.state.new_entity_strict(:serialize_test_holder, a: shared, b: shared, c: [1, 2, 3], n: 5, m: 5)
  text = io.serialize_state(entity)
  assert.equal! entity.entity_keys_by_ref, { b: :a }, "only the same object counts, not equal values or numbers"

  loaded = io.deserialize_state(text)
  assert.true! loaded.is_a?(Kor::StrictEntity)
  assert.equal! loaded.a, [1, 2, 3]
  assert.true! loaded.a.equal?(loaded.b), "both attributes hold one and the same Array"
  assert.false! loaded.a.equal?(loaded.c)
  assert.equal! [loaded.n, loaded.m], [5, 5]
  assert.equal! loaded.entity_id, entity.entity_id
end

def test_strict_entity_load_adds_unknown_attributes args, assert
  io = serialize_test_io
  args.state.new_entity_strict(:serialize_test_saved, x: 1)
  text = "{:entity_id=>900, :entity_strict=>true, :entity_name=>:serialize_test_saved, :x=>4, :added_later=>9}"
  loaded = io.deserialize_state(text)
  assert.equal! [loaded.x, loaded.added_later], [4, 9]
end

def test_deserialize_state_inputs args, assert
  io = serialize_test_io
  assert.equal! io.deserialize_state("serialize_test_no_such_file.txt"), nil
  assert.equal! io.deserialize_state(nil), nil
  plain = io.deserialize_state("{:a=>1, :b=>[2, 3]}")
  assert.true! plain.is_a?(Hash)
  assert.equal! plain, { a: 1, b: [2, 3] }
  assert.equal! io.deserialize_state("  [1, {x: 2}]"), [1, { x: 2 }], "leading blanks and the key: form"
end

def test_deserialize_state_never_runs_code args, assert
  io = serialize_test_io
  $serialize_test_marker = nil
  texts = [
    "{:a=>($serialize_test_marker = 1)}",
    "[1, 2].each { |x| $serialize_test_marker = x }",
    "{:a=>Object.new}",
    "{:a=>1",
    "{:a=>1} trailing"
  ]
  texts.each do |text|
    error = assert.raises!(RuntimeError, text) { io.deserialize_state(text) }
    assert.true! error.message.start_with?("Failed to eval: #{text}. "), text
    assert.true! error.message.end_with?(".\nSerialization data may be corrupt."), text
  end
  assert.equal! $serialize_test_marker, nil
end

def test_corrupt_entity_data_names_the_data args, assert
  io = serialize_test_io
  text = "{:entity_id=>901, :entity_strict=>true, :entity_name=>:serialize_test_corrupt, :entity_keys_by_ref=>5}"
  error = assert.raises!(RuntimeError) { io.deserialize_state(text) }
  assert.true! error.message.include?("* ERROR:\nFailed to load entity data from:\n\n#+begin_src\n")
  assert.true! error.message.include?("The save data looks to be corrupt.\n\n** INNER EXCEPTION:\n")
  assert.true! error.message.end_with?("Serialization data may be corrupt.")

  error = assert.raises!(RuntimeError) { Kor::OpenEntity.new.load_entity_data!(5) }
  assert.true! error.message.start_with?("* ERROR:\nFailed to load entity data from:\n\n#+begin_src\n5\n#+end_src\n")
end

def test_literal_text_round_trips args, assert
  values = [
    nil, true, false, 0, -17, 1_234_567_890_123, 1.5, -0.25, 1.5e-07, 1.0e+20,
    "", "plain", "q\"uote", "back\\slash", "line\nbreak\ttab\e", "\x01\x7f", "caf\xc3\xa9", "\#{not code}",
    :sym, :"with space", :a?, :b!, :c=, :[], :[]=, :+, :<=>, :@ivar, :Const, :"9lives",
    [], [1, [2, [3]]], {}, { a: 1, "b" => 2, 3 => :c, nil => [nil], [1] => { x: 1 }, :set= => 1, :ok? => 2 },
    1..5, 1...5, -2.5..2.5
  ]
  values.each do |value|
    text = value.inspect
    assert.equal! Kor::Serialize::LiteralReader.read(text), value, text
  end
  infinite = Kor::Serialize::LiteralReader.read("[Infinity, -Infinity, NaN]")
  assert.equal! infinite[0..1], [1.0 / 0.0, -1.0 / 0.0]
  assert.true! infinite[2].nan?
end

class SerializeTestThing
  include Kor::Serialize

  def initialize
    @count = 3
    @name = "thing"
    @unset = nil
    @off = false
    @on = true
    @list = [1, 2]
    @pairs = { a: 1 }
    @child = SerializeTestChild.new
  end
end

class SerializeTestChild
  include Kor::Serialize

  def initialize
    @depth = 1
  end
end

def test_serialize_mixin args, assert
  thing = SerializeTestThing.new
  expected = { count: 3, name: "thing", on: true, list: [1, 2], pairs: { a: 1 }, child: { depth: 1 } }
  assert.equal! thing.serialize, expected, "nil and false left out, nested objects by their serialize"
  assert.equal! thing.inspect, thing.serialize.to_s
  assert.equal! [nil.serialize, false.serialize], ["nil", "nil"]
end
