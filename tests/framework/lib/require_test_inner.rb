REQUIRE_TEST_INNER = :loaded unless Object.const_defined?(:REQUIRE_TEST_INNER)
