#!/usr/bin/env bash
# Builds the engine for 64-bit Windows with MinGW-w64 into build-windows/:
# every library without Qt, strgen and the test programs that need no
# window, statically linked.
#   scripts/cross.sh           build only
#   scripts/cross.sh --test    build, then run the tests under Wine in a
#                              private prefix (build-windows/wine), with the
#                              simulator on a pseudo-terminal as COM1
set -euo pipefail
cd "$(dirname "$0")/.."
run_tests=
case "${1:-}" in
  --test) run_tests=1 ;;
  "") ;;
  *) echo "usage: scripts/cross.sh [--test]" >&2; exit 2 ;;
esac
extra=(g++-mingw-w64-x86-64-posix googletest)
[ -n "$run_tests" ] && extra+=(wine64)
scripts/bootstrap.sh "${extra[@]}"

build=build-windows
host=$build/host
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Two programs run on this machine: strgen packs the message strings at
# build time, the simulator answers on the line. The Windows strgen is
# built (and tested) with the rest.
cmake -S . -B "$host" -G Ninja -DTESMAR_WITH_QT=OFF -DTESMAR_BUILD_TESTS=OFF \
  -DTESMAR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$host" --target strgen k4sim
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DTESMAR_WITH_QT=OFF -DTESMAR_BUILD_BENCH=OFF -DTESMAR_HOST_STRGEN="$PWD/$host/tools/strgen/strgen" \
  -DTESMAR_GTEST_SOURCE=/usr/src/googletest "${launcher[@]}" >/dev/null
cmake --build "$build"
[ -n "$run_tests" ] || exit 0

# ---- The tests under Wine ------------------------------------------------
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$PWD/$build/wine WINEARCH=win64 WINEDEBUG=-all
# No installer dialogs for the .NET and HTML runtimes, no display needed.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1
  # Hidden windows without an X server: Wine's null display driver.
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
sim=
finish() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
}
trap finish EXIT

# The simulator's pseudo-terminal is COM1 of the prefix. Wine's device
# manager makes the prefix's dosdevices/comN links itself each time it
# starts, from the serial ports it finds (COM1 is /dev/ttyS0) unless the
# registry names one (HKLM\Software\Wine\Ports): a link made by hand is
# replaced at the first start, so the registry names the pty.
sim_log=$build/k4sim.log
sim_out=$build/k4sim.out
rm -f "$sim_log" "$sim_out"
"$host/tools/k4sim/k4sim" --log "$sim_log" >"$sim_out" &
sim=$!
for _ in $(seq 100); do [ -s "$sim_out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$sim_out")
[ -n "$pty" ] || { echo "cross: the simulator did not start" >&2; exit 1; }
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null 2>&1
"$wineserver" -w
# One server for the whole run instead of one per test. Wine's own
# services start with the first program and stay with this server: started
# here, with their output to /dev/null, they hold no test's output open
# (ctest waits for that to close), and the device manager reads the
# registry as it now is.
"$wineserver" -p >/dev/null 2>&1
"$wine" reg query 'HKLM\Software\Wine\Ports' /v COM1 >/dev/null 2>&1
com1=$(readlink "$WINEPREFIX/dosdevices/com1" || true)
echo "cross: COM1 is $com1, the simulator's $pty"

# Tests that notice where Wine differs from Windows leave themselves out
# when TESMAR_UNDER_WINE is set, saying why.
export TESMAR_UNDER_WINE=1 TESMAR_LINE_COM=1
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 180 | tee "$build/ctest.log" || status=$?

# One ctest test per program; GoogleTest's reports count the cases.
report=$build/Testing/Temporary/LastTest.log
count() { grep -hoE "^\[ *$1 *\] [0-9]+ tests?" "$report" | awk '{ n += $(NF-1) } END { print n + 0 }'; }
ran=$(grep -hoE '^\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran' "$report" |
      awk '{ n += $2 } END { print n + 0 }')
echo "cross: $ran test cases built for Windows ran under Wine: $(count PASSED) passed," \
     "$(count FAILED) failed, $(count SKIPPED) left out under Wine:"
# GoogleTest prints a skipped case's reason before its verdict.
grep -h -B1 '^\[  SKIPPED \] .*(' "$report" | grep -v '^--$' | paste - - |
  sed -E 's/^(.*)\t\[  SKIPPED \] ([^ ]+).*/  \2: \1/' || true
echo "cross: what the simulator received from the program under Wine ($sim_log):"
cat "$sim_log"
# One character a line: time, code, character ("LF" for the line feed).
received=$(awk '{ printf "%s", ($3 == "LF" ? "|" : $3) }' "$sim_log")
if [[ "$received" != *"G0B1Y0B1M1|"* ]]; then
  echo "cross: the simulator did not receive the set-up line" >&2
  status=1
fi
exit "$status"
