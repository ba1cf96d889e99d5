#!/usr/bin/env bash
# The sprite benchmark in one command: builds korvane and the plain SDL loop in
# build/ (or the directory given with --build), then runs korvane's bunnymark, the
# peer engine's version and the SDL loop on one fresh Xvfb display, on the default
# renderer and with SDL_RENDER_DRIVER=software, and prints the table. Options go to
# bench/sprites.py (--sizes 1000,5000 --frames 300 --no-bisect --verbose ...).
# The peer engine comes with scripts/install-deps.sh --bench.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="$root/build"
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(realpath "$2")"; args+=("$1" "$build"); shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target korvane bench_bunnymark_sdl -j2 >/dev/null
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
  python3 "$here/sprites.py" --build "$build" "${args[@]}"
