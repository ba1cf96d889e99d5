# The game test runner (korvane GAME --test FILE): loads FILE after the game,
# runs each test_ method it defines once, in the order of the file, against
# the live args, prints one line per test and, as its last line,
# "N passed, N failed".
module Kor
  class Tests
    attr_reader :passed, :failed, :results

    def initialize runtime
      @runtime = runtime
      @passed = 0
      @failed = 0
      @results = []
    end

    # Loads the file and runs its tests; answers true when none failed.
    def start file
      @passed = 0
      @failed = 0
      @results = []
      names = []
      begin
        before = __defined_test_names__
        @runtime.require file
        text = @runtime.read_file(file) || @runtime.read_file(__compiled_source__(file))
        names = __ordered_test_names__(text, before)
      rescue Exception => e
        __report__ :failed, "(loading #{file})", e
      end
      __output__ "* TEST: no test_ methods found in #{file}." if names.empty? && @failed == 0
      names.each { |name| run_test name }
      summary = "#{@passed} passed, #{@failed} failed"
      # The engine prints it after shutdown, so no log line can follow it.
      if @runtime.respond_to?(:__set_final_line__)
        @runtime.__set_final_line__ summary
      else
        __output__ summary
      end
      @failed == 0
    end

    def run_test name
      assert = Assert.new
      begin
        $top_level.__send__ name, @runtime.args, assert
        if assert.assertion_count == 0
          raise Assert::Failure, "no assertion was made (call assert.ok! in a test that checks nothing else)"
        end
        __report__ :passed, name
      rescue Exception => e
        __report__ :failed, name, e
      end
    end

    private

    # Test names in the order the file defines them; names defined some other
    # way (define_method, a loop) follow in alphabetical order.
    def __ordered_test_names__ text, before
      now = __defined_test_names__
      fresh = now.reject { |name| before.include?(name) }
      ordered = []
      (text || "").each_line do |line|
        stripped = line.strip
        next unless stripped.start_with?("def test_")
        name = stripped[4..-1]
        cut = name.index(" ") || name.length
        paren = name.index("(")
        cut = paren if paren && paren < cut
        name = name[0, cut].to_sym
        ordered << name if now.include?(name) && !ordered.include?(name)
      end
      ordered + fresh.reject { |name| ordered.include?(name) }.sort
    end

    def __defined_test_names__
      names = Object.instance_methods(false)
      names += $top_level.private_methods if $top_level.respond_to?(:private_methods, true)
      names.select { |name| name.to_s.start_with?("test_") }.uniq
    end

    # The frames of the test itself: the runner's own frames below it and the
    # assertion's frames above it say nothing about the failure.
    def __test_backtrace__ error
      lines = error.backtrace || []
      cut = lines.index { |line| line.start_with?("korva/tests.rb") }
      lines = lines[0, cut] if cut
      lines.drop_while { |line| line.start_with?("korva/assert.rb") }
    end

    def __compiled_source__ file
      file.end_with?(".rb") ? "#{file}c" : file
    end

    def __report__ status, name, error = nil
      if status == :passed
        @passed += 1
        __output__ "passed: #{name}"
      else
        @failed += 1
        lines = ["failed: #{name}: #{error.message}"]
        lines << "  (#{error.class})" unless error.is_a?(Assert::Failure)
        __test_backtrace__(error).each { |line| lines << "    #{line}" }
        __output__ lines.join("\n")
      end
      @results << [status, name]
    end

    # Straight to standard output: the summary must be the runner's last line,
    # not wait for the log's next batch.
    def __output__ text
      Kernel.puts text
    end
  end
end
