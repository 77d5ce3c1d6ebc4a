#!/usr/bin/env bash
# Builds the program and the simulator (no tests: see scripts/test.sh) and
# starts the front panel. When no instrument is configured as COM1 (see
# README), the K4-18/3 simulator is started on a pseudo-terminal and linked
# as COM1 in a private folder, and the panel talks to it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DTESMAR_BUILD_TESTS=OFF >/dev/null
cmake --build build --target tesmar k4sim

config_home=${XDG_CONFIG_HOME:-$HOME/.config}
if [ -e "$config_home/tesmar/dosdevices/com1" ]; then
  exec build/app/tesmar
fi

private=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$private"' EXIT
mkdir -p "$private/tesmar/dosdevices"
build/tools/k4sim/k4sim --com 1 --dosdevices "$private/tesmar/dosdevices" &
sim=$!
for _ in $(seq 50); do [ -e "$private/tesmar/dosdevices/com1" ] && break; sleep 0.1; done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; starting the panel under Xvfb" >&2
  XDG_CONFIG_HOME="$private" xvfb-run -a build/app/tesmar
else
  XDG_CONFIG_HOME="$private" build/app/tesmar
fi
