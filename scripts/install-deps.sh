#!/usr/bin/env bash
# Installs the distribution packages korvane builds, runs and tests with; only what
# is missing is fetched. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsdl2-dev libmruby-dev mruby libphysfs-dev libopenal-dev libstb-dev liblodepng-dev
  libcjson-dev libcurl4-openssl-dev libmpg123-dev libexpat1-dev
  fonts-dejavu-core xvfb xauth
)
if [ "${1:-}" = "--test" ]; then
  packages+=(libgtest-dev googletest zip xdotool python3 sox)
fi
# The sprite benchmark (bench/sprites.sh) also runs the scene in a peer engine.
if [ "${1:-}" = "--bench" ]; then
  packages+=(love python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
