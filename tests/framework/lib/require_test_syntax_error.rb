# Deliberately broken: an unclosed parenthesis.
def require_test_broken(
