#!/usr/bin/env bash
# The two set-up commands of the README:
#   scripts/dev.sh run   install what is missing, build, run the sample game in mygame/
#   scripts/dev.sh test  install what is missing, build, run every test
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

build() { # build <dir> [cmake args...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

case "${1:-}" in
  run)
    scripts/install-deps.sh
    build build -DKORVANE_TESTS=OFF
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
      exec build/korvane
    fi
    echo "No display found: running the sample game under Xvfb for 5 seconds."
    # SIGINT reaches the engine as a window-close request: it shuts down in order.
    status=0
    xvfb-run -a timeout --preserve-status -s INT 5 build/korvane > build/sample-run.log 2>&1 || status=$?
    grep -E 'Game Title|tick|Logging shutting down' build/sample-run.log | head -20 || true
    echo "The sample game ran and exited with status $status; full output in build/sample-run.log."
    exit "$status"
    ;;
  test)
    scripts/install-deps.sh --test
    build build
    # The suite runs under Xvfb so the real-window tests have a display; the rest
    # use SDL's offscreen driver.
    xvfb-run -a -s "-screen 0 1920x1080x24" ctest --test-dir build --output-on-failure -j"$jobs"
    # Unit tests and the framework's Ruby tests again under AddressSanitizer and
    # UndefinedBehaviorSanitizer.
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON
    # System libraries (D-Bus, Mesa, Xlib) keep a few allocations until exit;
    # tests/sanitizer/lsan.supp names them so only our own leaks fail the run.
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      LSAN_OPTIONS="suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0" \
      SDL_FRAMEBUFFER_ACCELERATION=0 \
      xvfb-run -a ctest --test-dir build-asan --output-on-failure -j"$jobs" -L "unit|framework"
    ;;
  *)
    echo "usage: scripts/dev.sh run|test" >&2
    exit 2
    ;;
esac
