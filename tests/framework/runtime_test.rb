# The runtime's step: tick counters, pause, exceptions, slow motion, resets,
# scheduled callbacks and the audio hand-over, driven through __sdl_tick__ the
# way the native simulation calls it (17 ms apart).

# The game's tick for these tests: whatever the running test puts here.
def tick args
  $runtime_test_tick.call(args) if $runtime_test_tick
end

def runtime_test_run steps, &body
  runtime = $kor
  no_tick = runtime.instance_variable_get(:@no_tick)
  runtime.instance_variable_set(:@no_tick, nil)
  $runtime_test_clock ||= runtime.instance_variable_get(:@sdl_tick) + 1000
  $runtime_test_tick = body
  steps.times do
    $runtime_test_clock += 17
    runtime.__sdl_tick__ $runtime_test_clock
  end
ensure
  $runtime_test_tick = nil
  runtime.instance_variable_set(:@no_tick, no_tick)
end

# Records what the audio engine would see while a test asks for it.
# (Singleton methods are defined once: removing them again is not reliable.)
def $kor.update_simulation_audio_state
  rounds = $runtime_test_audio_rounds
  if rounds
    entry = $kor.args.audio[:runtime_test_sound]
    rounds << [entry[:gain], entry[:playtime]] if entry
  elsif Kor::Runtime.method_defined?(:update_simulation_audio_state)
    super
  end
end

# Unpaused, normal speed, no reset pending; the next step is the game's tick 0.
def runtime_test_fresh
  $kor.instance_variable_set :@reset_next_tick_flag, false
  $kor.unpause! if $kor.paused?
  $kor.slowmo! 1
  runtime_test_run(1) { }
  $kor.__reset__
end

# Must stay first: it sees the runtime before the game ever ticked.
def test_first_tick_is_tick_zero_one_step_after_priming args, assert
  assert.equal! Kernel.tick_count, -1
  seen = []
  runtime_test_run(1) { |a| seen << a.state.tick_count }
  assert.equal! seen, [], "the priming step does not call tick"
  assert.equal! args.passes.map(&:target), ["pixel", "solid", nil], "the built-in targets, then the screen"
  assert.equal! args.render_target(:pixel).solids.first, { x: 0, y: 0, w: 1280, h: 1280, r: 255, g: 255, b: 255 }
  assert.equal! Kernel.tick_count, -1
  assert.equal! Kernel.global_tick_count, -1

  runtime_test_run(2) { |a| seen << [a.state.tick_count, Kernel.tick_count, Kernel.global_tick_count] }
  assert.equal! seen, [[0, 0, 0], [1, 1, 1]]
  assert.false! args.render_targets.key?("pixel"), "render targets live for one step"
end

def test_pause_skips_the_game_tick_but_not_the_step args, assert
  runtime_test_fresh
  calls = 0
  runtime_test_run(2) { calls += 1 }
  $kor.pause!
  global = Kernel.global_tick_count
  args.outputs.static_solids << { x: 1, y: 1, w: 1, h: 1 }
  runtime_test_run(3) { calls += 1 ; args.outputs.solids << { x: 0, y: 0, w: 5, h: 5 } }
  assert.equal! calls, 2, "no tick while paused"
  assert.equal! Kernel.global_tick_count, global + 3, "the global count goes on"
  assert.equal! Kernel.tick_count, 1
  assert.equal! args.outputs.static_solids.length, 1, "static outputs stay while paused"
  $kor.unpause!
  runtime_test_run(1) { |a| calls += 1; assert.equal! a.state.tick_count, 2, "the tick count resumes" }
  assert.equal! calls, 3
  args.outputs.static_solids.clear
end

def test_tick_that_raises_is_reported_once_and_pauses args, assert
  runtime_test_fresh
  calls = 0
  runtime_test_run(4) do |a|
    calls += 1
    a.state.runtime_test_marker = "still here"
    raise "runtime test boom" if a.state.tick_count == 1
  end
  assert.equal! calls, 2, "tick is not called again after raising"
  assert.true! $kor.paused?
  report = $kor.read_file("logs/exceptions/current.txt")
  assert.true! report.start_with?("# * EXCEPTION: runtime test boom\n"), report[0, 80]
  assert.true! report.include?("\n\nGame State:\n"), "the state follows the commented report"
  assert.true! report.include?("still here"), "the dump holds args.state"
  assert.equal! $kor.read_file("logs/exceptions/game_state_1.txt"), report
  runtime_test_run(2) { calls += 1 }
  assert.equal! calls, 2, "still paused"
  $kor.unpause!
  runtime_test_run(1) { calls += 1 }
  assert.equal! calls, 3, "unpause! resumes the tick"
end

def test_slowmo_runs_the_tick_every_factor_steps_while_asked args, assert
  runtime_test_fresh
  ticks = []
  runtime_test_run(7) do |a|
    ticks << Kernel.global_tick_count
    $kor.slowmo! 2
  end
  steps = (1...ticks.length).map { |i| ticks[i] - ticks[i - 1] }
  assert.equal! steps, [2, 2, 2], "one step out of two once slow motion is on"
  assert.equal! $kor.slowmo_factor, 2
  count = ticks.length
  runtime_test_run(6) { ticks << Kernel.global_tick_count }
  assert.equal! $kor.slowmo_factor, 1, "a tick without slowmo! returns to normal speed"
  assert.true! ticks.length - count >= 5, "back to one tick per step"
end

def test_slowmo_keeps_outputs_of_skipped_steps args, assert
  runtime_test_fresh
  runtime_test_run(1) do |a|
    $kor.slowmo! 3
    a.outputs.solids << { x: 0, y: 0, w: 10, h: 10 }
  end
  runtime_test_run(1) { }
  assert.equal! args.outputs.solids.length, 1, "a skipped step keeps the last tick's primitives"
  $kor.slowmo! 1
end

def test_reset_is_ignored_before_the_game_ticked args, assert
  runtime_test_fresh
  args.state.runtime_test_kept = 1
  $kor.reset
  assert.equal! args.state.runtime_test_kept, 1, "tick count -1, not paused: nothing happens"
end

def test_reset_inside_tick_empties_state_and_restarts_the_tick_count args, assert
  runtime_test_fresh
  seen = []
  runtime_test_run(5) do |a|
    seen << a.state.tick_count
    a.state.runtime_test_value ||= :set
    $kor.reset if a.state.tick_count == 2
  end
  assert.equal! seen, [0, 1, 2, 0, 1]
  assert.equal! args.state.runtime_test_value, :set
  runtime_test_run(1) { |a| $kor.reset }
  assert.equal! args.state.runtime_test_value, nil, "the state was emptied"
  assert.not_equal! args.state.entity_id, nil, "and given a new id"
end

def test_reset_next_tick_resets_before_the_next_tick args, assert
  runtime_test_fresh
  seen = []
  runtime_test_run(4) do |a|
    seen << [a.state.tick_count, a.state.runtime_test_flag]
    a.state.runtime_test_flag = true
    $kor.reset_next_tick if a.state.tick_count == 1 && seen.length == 2
  end
  assert.equal! seen, [[0, nil], [1, true], [0, nil], [1, true]], "the tick after the request is tick 0 of a fresh state"
end

def test_schedule_callback_runs_just_before_its_tick args, assert
  runtime_test_fresh
  order = []
  $kor.scheduled_callbacks.clear
  $kor.schedule_callback(2) { order << [:callback, Kernel.tick_count] }
  error = assert.raises!(RuntimeError) { $kor.schedule_callback(2) { } }
  assert.true! error.message.start_with?("Callback has already been scheduled for tick 2.")
  runtime_test_run(4) { |a| order << [:tick, a.state.tick_count] }
  assert.equal! order, [[:tick, 0], [:tick, 1], [:callback, 2], [:tick, 2], [:tick, 3]]
  $kor.scheduled_callbacks.clear
end

def test_audio_plain_hash_is_replaced_and_new_entries_start_silent args, assert
  runtime_test_fresh
  runtime_test_run(1) { |a| a.audio = { music: { input: "sounds/x.ogg" } } }
  assert.true! args.audio.is_a?(AudioHash)
  assert.equal! args.audio.length, 0

  rounds = $runtime_test_audio_rounds = []
  begin
    runtime_test_run(1) { |a| a.audio[:runtime_test_sound] = { input: "sounds/x.wav", gain: 0.5, playtime: 3.0 } }
  ensure
    $runtime_test_audio_rounds = nil
  end
  # Per new entry once with gain 0, then from the start with its own gain;
  # then once more after the step.
  assert.equal! rounds, [[0, 3.0], [0.5, 0], [0.5, 0]]
  args.audio.clear
end

def test_legacy_sounds_become_audio_entries args, assert
  runtime_test_fresh
  runtime_test_run(1) { |a| a.outputs.sounds << "sounds/ding.wav" << "sounds/bad.txt" }
  entries = args.audio.values
  assert.equal! entries, [{ input: "sounds/ding.wav", gain: 1.0, playtime: 0.0 }], "only sound files are queued"
  assert.true! args.audio.keys.first.to_s.start_with?("ONE_TIME_SOUND_")
  assert.equal! args.outputs.sounds, []
  args.audio.clear
end

def test_args_hints_at_a_forgotten_state args, assert
  args.state.runtime_test_score = 3
  error = assert.raises!(RuntimeError) { args.runtime_test_score }
  assert.true! error.message.start_with?("* ERROR - :runtime_test_score method missing on ~Kor::Args~.\n")
  assert.true! error.message.include?("Did you forget ~.state~ before ~.runtime_test_score~?")
  assert.raises!(NoMethodError) { args.runtime_test_never_set }
end

def test_cli_arguments args, assert
  runtime = $kor
  saved = runtime.argv
  cases = [
    ["./korvane mygame --speed 3 --eval app/x.rb --no-tick",
     { korvane: "mygame", speed: "3", eval: "app/x.rb", "no-tick": nil }],
    ["korvane", { korvane: "mygame" }],
    ["korvane ./ --test a test.rb", { korvane: "", test: "a test.rb" }]
  ]
  cases.each do |argv, expected|
    runtime.instance_variable_set :@argv, argv
    runtime.instance_variable_set :@cli_arguments, nil
    assert.equal! runtime.cli_arguments, expected, argv
  end
ensure
  runtime.instance_variable_set :@argv, saved
  runtime.instance_variable_set :@cli_arguments, nil
end

def test_ctrl_r_resets_the_game_before_its_next_tick args, assert
  runtime_test_fresh
  runtime_test_run(3) { |a| a.state.runtime_test_ctrl_r = :before }
  $kor.key_down_raw 114, 64
  seen = []
  runtime_test_run(2) { |a| seen << [a.state.tick_count, a.state.runtime_test_ctrl_r] }
  $kor.key_up_raw 114, 64
  runtime_test_run(1) { }
  assert.equal! seen, [[0, nil], [1, nil]]
end
