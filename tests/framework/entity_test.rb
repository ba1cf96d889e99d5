# Open and strict entities: nil punning, generated attributes, strict errors.

def test_state_nil_punning_creates_nested_entities args, assert
  assert.equal! args.state.entity_test_unknown, nil

  args.state.entity_test_score ||= 0
  args.state.entity_test_score ||= 5
  assert.equal! args.state.entity_test_score, 0, "||= assigns once"

  args.state.entity_test_player.x = 10
  player = args.state.entity_test_player
  assert.true! player.is_a?(Kor::OpenEntity)
  assert.equal! player.x, 10
  assert.equal! player.as_hash[:entity_name], :entity_test_player

  args.state.entity_test_a.b.c = 3
  assert.equal! args.state.entity_test_a.b.c, 3, "a chain of unset attributes becomes a chain of entities"
  assert.true! args.state.entity_test_a.b.is_a?(Kor::OpenEntity)
end

def test_nil_punning_disabled_primes_nothing args, assert
  entity = Kor::OpenEntity.new
  Kor::OpenEntity.disable_nil_punning!
  begin
    assert.equal! entity.missing, nil
    assert.raises!(NoMethodError) { entity.missing.x = 1 }
    assert.equal! entity.missing, nil, "nothing was created"
  ensure
    Kor::OpenEntity.enable_nil_punning!
  end
  entity.later.x = 2
  assert.equal! entity.later.x, 2, "punning works again once enabled"
end

def test_nil_punning_indexers args, assert
  entity = Kor::OpenEntity.new
  assert.raises!(NoMethodError) { entity.items[0] }
  assert.equal! entity.items, nil, "the ambiguous indexer creates nothing"

  assert.equal! entity.config[:volume], nil
  assert.true! entity.config.is_a?(Kor::OpenEntity), "a Symbol indexer creates the entity (with a warning)"
end

def test_nil_punning_arithmetic_warns_then_raises args, assert
  entity = Kor::OpenEntity.new
  5.times { |i| assert.equal! entity.hp + 1, nil, "call #{i + 1} answers nil" }
  error = assert.raises!(RuntimeError) { entity.hp + 1 }
  assert.true! error.message.include?("The method + was invoked on hp within args.state")
  assert.equal! entity.as_hash[:__thrash_count__][:+], 6
  assert.equal! entity.hp, nil, "the attribute itself is untouched"
end

def test_stale_priming_does_not_hijack_other_nils args, assert
  entity = Kor::OpenEntity.new
  entity.speed
  entity.speed = 5
  other = nil
  assert.raises!(NoMethodError) { other.length }
  assert.equal! entity.speed, 5, "a nil that is not the attribute's keeps its ordinary error"

  entity.flag = false
  assert.equal! entity.flag, false
  assert.raises!(NoMethodError) { entity.flag.x = 1 }
  assert.equal! entity.flag, false, "false is a value, not an unset attribute"
end

def test_open_entity_rejects_what_is_not_an_attribute args, assert
  entity = Kor::OpenEntity.new
  cases = [
    -> { entity.alive? },
    -> { entity.kill! },
    -> { entity.each_thing { } },
    -> { entity + 1 },
    -> { entity.many(1, 2, 3) }
  ]
  cases.each_with_index { |call, i| assert.raises!(NoMethodError, "case #{i}") { call.call } }
  assert.equal! entity.one_argument(1), nil, "one argument without = answers nil"
  assert.raises!(RuntimeError) { entity.attributes = {} }
end

def test_open_entity_kernel_names_are_attributes args, assert
  entity = Kor::OpenEntity.new
  assert.equal! entity.open, nil
  assert.equal! entity.format, nil
  entity.open = true
  entity.rand = 4
  entity.p = :point
  assert.equal! [entity.open, entity.rand, entity.p], [true, 4, :point]
end

def test_open_entity_operations args, assert
  entity = Kor::OpenEntity.new :thing
  entity.x = 1
  entity.set! [:y, "z"], 2
  assert.equal! entity.attributes, { x: 1, y: 2, z: 2 }, "attributes leave out the bookkeeping keys"
  assert.equal! entity.merge({ w: 3 }), entity.as_hash.merge({ w: 3 })
  assert.equal! entity.as_hash[:w], nil, "merge does not change the entity"
  assert.true! entity.as_hash.equal?(entity.as_hash), "as_hash is the entity's own Hash"

  assert.true! entity == entity.entity_id, "an entity equals its id"
  assert.false! entity == Kor::OpenEntity.new
  first = Kor::OpenEntity.new
  second = Kor::OpenEntity.new
  assert.equal! second.entity_id, first.entity_id + 1, "ids come from one counter"

  entity[:hp] = 5
  assert.equal! entity.hp, 5
  assert.false! entity.__contains_array_indexers__
  entity[0] = :first
  assert.true! entity.__contains_array_indexers__

  entity.clear!
  assert.equal! entity.as_hash, {}
  assert.equal! entity.entity_id, nil
end

def test_new_entity_and_lifetime args, assert
  entity = args.state.new_entity(:bullet, speed: 3) { |e| e.damage = 2 }
  assert.equal! entity.entity_type, :bullet
  assert.equal! [entity.speed, entity.damage], [3, 2]
  now = Kor.current_tick_count
  assert.equal! entity.created_at, now
  assert.true! entity.new?
  assert.equal! entity.created_at_elapsed, 0
  assert.false! entity.old?, "no lifetime, never old"

  entity.created_at = now - 10
  entity.lifetime = 5
  assert.false! entity.new?
  assert.true! entity.new?(now - 10)
  assert.true! entity.old?
  entity.lifetime = 20
  assert.false! entity.old?
end

def test_strict_entity_attributes args, assert
  enemy = args.state.new_entity_strict(:entity_test_enemy, x: 1, y: 2) { |e| e.hp = 10 }
  assert.true! enemy.is_a?(Kor::StrictEntity)
  assert.equal! [enemy.x, enemy.y, enemy.hp], [1, 2, 10]
  assert.equal! enemy.entity_strict, true
  assert.equal! enemy.entity_type, :entity_test_enemy
  assert.equal! enemy.instance_variable_get(:@x), 1, "attributes are instance variables"

  enemy[:x] = 5
  enemy.set! [:y, :hp], 0
  assert.equal! [enemy[:x], enemy.y, enemy.hp], [5, 0, 0]
  assert.true! enemy.as_hash.equal?(enemy)
  assert.equal! enemy.to_hash[:x], 5

  error = assert.raises!(NoMethodError) { enemy.speed }
  assert.true! error.message.include?("The *strict* entity with name :entity_test_enemy doesn't have the property speed")
  assert.raises!(NoMethodError) { enemy.speed = 1 }
  assert.raises!(NoMethodError) { enemy[:speed] }

  again = args.state.new_entity_strict(:entity_test_enemy, x: 7)
  assert.equal! again.class, enemy.class, "one generated class per type"
  assert.equal! [again.x, again.y, again.hp], [7, nil, nil], "declared on first use, set per call"

  enemy.clear!
  assert.equal! [enemy.x, enemy.entity_id], [nil, nil]
end

def test_strict_entity_is_a_registered_type args, assert
  ship = args.state.new_entity_strict(:entity_test_ship, x: 0)
  assert.true! ship.is_a?(:entity_test_ship)
  assert.false! ship.is_a?(:entity_test_rock), "a type that does not exist yet"
  rock = args.state.new_entity_strict(:entity_test_rock, x: 0)
  assert.true! ship.is_a?(:entity_test_rock)
  assert.true! rock.is_a?(:entity_test_ship)
  assert.true! rock.is_a?(Kor::StrictEntity)
  assert.false! rock.is_a?(Kor::OpenEntity)
end
