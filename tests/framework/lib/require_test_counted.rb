# Counts its own loads (require_test.rb).
$require_test_counted_loads = ($require_test_counted_loads || 0) + 1
