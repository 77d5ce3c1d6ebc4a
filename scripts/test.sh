#!/usr/bin/env bash
# Builds Tesmar and runs every test, headless.
#   scripts/test.sh                      plain build in build/
#   TESMAR_SANITIZE=address scripts/test.sh   ASan + UBSan build in build-address/
#   TESMAR_SANITIZE=thread  scripts/test.sh   TSan build in build-thread/
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

sanitize=${TESMAR_SANITIZE:-}
build=build${sanitize:+-$sanitize}
cmake -S . -B "$build" -G Ninja -DTESMAR_SANITIZE="$sanitize" -DTESMAR_BUILD_BENCH=$([ -z "$sanitize" ] && echo ON || echo OFF) >/dev/null
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 180
