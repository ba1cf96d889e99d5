# Found by a relative require made outside any required file.
$require_test_app_loaded = true
