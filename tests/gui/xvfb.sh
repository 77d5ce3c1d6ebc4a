#!/bin/sh
# Runs a command on a private virtual X display. Xvfb picks a free display
# number itself (-displayfd), so parallel tests never race for one.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
server=$!
tries=0
until [ -s "$dir/display" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "xvfb.sh: Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.05
done
DISPLAY=:$(head -n1 "$dir/display")
export DISPLAY
"$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit "$status"
