# Requires its sibling relatively and records whether it was loaded at once.
require_relative "require_test_inner"
$require_test_inner_seen_by_outer = Object.const_defined?(:REQUIRE_TEST_INNER)
