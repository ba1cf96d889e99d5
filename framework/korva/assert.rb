# The assertions a game test receives: korvane GAME --test FILE calls every
# test_ method of FILE with (args, assert). A failed assertion raises
# Kor::Assert::Failure, which a game's own "rescue => e" does not swallow.
module Kor
  class Assert
    class Failure < Exception; end

    attr_reader :assertion_count

    def initialize
      @assertion_count = 0
    end

    # For a test whose only check is that it runs without an error.
    def ok!
      @assertion_count += 1
      true
    end

    def equal! actual, expected, message = nil
      @assertion_count += 1
      return true if actual == expected
      __fail__ message, "expected: #{expected.inspect}\n  actual: #{actual.inspect}"
    end

    def not_equal! actual, expected, message = nil
      @assertion_count += 1
      return true unless actual == expected
      __fail__ message, "expected anything but: #{expected.inspect}\n                actual: #{actual.inspect}"
    end

    def true! value, message = nil
      @assertion_count += 1
      return true if value
      __fail__ message, "expected a truthy value, got: #{value.inspect}"
    end

    def false! value, message = nil
      @assertion_count += 1
      return true unless value
      __fail__ message, "expected a falsy value, got: #{value.inspect}"
    end

    # Answers the exception the block raised, so the test can look at it.
    def raises! klass = StandardError, message = nil
      @assertion_count += 1
      raise ArgumentError, "raises! needs a block" unless block_given?
      begin
        yield
      rescue Failure => failure
        raise failure
      rescue Exception => e
        return e if e.is_a?(klass)
        __fail__ message, "expected #{klass} to be raised, got #{e.class}: #{e.message}"
      end
      __fail__ message, "expected #{klass} to be raised, nothing was raised"
    end

    private

    def __fail__ message, detail
      text = message ? "#{message}\n  #{detail}" : detail
      raise Failure, text
    end
  end
end
