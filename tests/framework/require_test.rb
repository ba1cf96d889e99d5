# require and require_relative, the once-per-second rule, load failures, and
# hotload's reload of a changed file with its backup. Files that tests change
# are written beside the engine (the base directory), never into the game.

def require_test_write name, text
  path = "tmp/require_test/#{name}"
  $kor.write_file_root path, text
  path
end

# Global ticks pass without stepping: require loads a path at most once a
# second.
def require_test_later
  Kernel.global_tick_count += 61
end

def test_require_adds_the_extension_and_loads_once_per_second args, assert
  require "lib/require_test_counted"
  require "lib/require_test_counted.rb"
  assert.equal! $require_test_counted_loads, 1
  assert.true! $kor.required_files.include?("lib/require_test_counted.rb"), "the file is watched from now on"
  assert.false! $kor.required_files.include?("lib/require_test_inner.rb")
  history = $kor.reload_list_history["lib/require_test_counted.rb"][:history].map { |record| record[:event] }
  assert.equal! history, [:reload_queued, :processing, :reload_completed]
  require_test_later
  require "lib/require_test_counted"
  assert.equal! $require_test_counted_loads, 2, "a second later it loads again"
end

def test_relative_requires args, assert
  require "lib/require_test_outer"
  assert.true! $require_test_inner_seen_by_outer, "the sibling loaded before the outer file went on"
  require_relative "require_test_app"
  assert.true! $require_test_app_loaded, "outside any require, relative means app/"
end

def test_require_failures args, assert
  missing = assert.raises!(RuntimeError) { require "lib/require_test_missing" }
  assert.equal! missing.message, "lib/require_test_missing.rb does not exist."
  syntax = assert.raises!(RuntimeError) { require "lib/require_test_syntax_error" }
  assert.true! syntax.message.start_with?("** Failed to load lib/require_test_syntax_error.rb.\nline "), syntax.message
  assert.false! Object.respond_to?(:require_test_broken, true)
end

def test_a_file_that_raised_can_load_again_at_once args, assert
  path = require_test_write "raises.rb", "$require_test_attempts = ($require_test_attempts || 0) + 1\nraise 'require test boom'\n"
  error = assert.raises!(RuntimeError) { require path }
  assert.true! error.message.include?("require test boom"), error.message
  assert.false! $kor.pending_reload?, "nothing is left half-loaded"
  require_test_write "raises.rb", "$require_test_attempts += 1\n$require_test_fixed = true\n"
  require path
  assert.true! $require_test_fixed, "the fixed file loaded within the same second"
  assert.equal! $require_test_attempts, 2
end

def test_reload_keeps_the_last_good_code_until_a_good_version_comes args, assert
  path = require_test_write "hot.rb", "def require_test_version; 1; end\n"
  require path
  assert.equal! require_test_version, 1
  args.state.require_test_kept = :state

  require_test_later
  require_test_write "hot.rb", "def require_test_version; 2; end\n"
  assert.true! $kor.reload_ruby_file(path)
  assert.equal! require_test_version, 2
  assert.equal! $kor.read_file("tmp/src_backup/src_backup_tmp_require_test_hot.rb"),
                "def require_test_version; 2; end\n", "the reloaded text is backed up"
  assert.true! $kor.read_file("tmp/src_backup/src_backup_changes.txt").include?(",#{path}")

  require_test_later
  require_test_write "hot.rb", "def require_test_version; 3\n"
  assert.false! $kor.reload_ruby_file(path)
  assert.true! $kor.paused?, "a broken reload pauses the game"
  assert.equal! require_test_version, 2, "the previous code stays"
  assert.true! $kor.read_file("logs/exceptions/current.txt").include?("Failed to load/reload #{path}.")

  require_test_later
  require_test_write "hot.rb", "def require_test_version; 4; end\n"
  assert.true! $kor.reload_ruby_file(path)
  assert.equal! require_test_version, 4
  assert.false! $kor.paused?, "a good reload resumes the game"
  assert.equal! args.state.require_test_kept, :state
end

def test_unchanged_times_do_not_reload args, assert
  path = require_test_write "mtime.rb", "$require_test_mtime_loads = ($require_test_mtime_loads || 0) + 1\n"
  require path
  $kor.reload_if_needed path
  $kor.reload_if_needed path
  assert.equal! $require_test_mtime_loads, 1, "a file seen with the same time is not loaded again"
  assert.true! $kor.files_to_reload.include?(path)
  assert.true! $kor.files_to_reload.include?("app/main.rb")
end
