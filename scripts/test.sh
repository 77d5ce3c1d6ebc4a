#!/usr/bin/env bash
# Builds Tesmar and runs every test, headless.
#   scripts/test.sh                      plain build in build/
#   TESMAR_SANITIZE=address scripts/test.sh   ASan + UBSan build in build-address/
#   TESMAR_SANITIZE=thread  scripts/test.sh   TSan build in build-thread/
#   TESMAR_CLANG=1 ...                        the same with clang, whose lock
#                                             analysis must pass (-clang suffix)
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=${TESMAR_SANITIZE:-}
clang=${TESMAR_CLANG:-}
scripts/bootstrap.sh test ${clang:+clang}

build=build${sanitize:+-$sanitize}${clang:+-clang}
compiler=()
[ -n "$clang" ] && compiler=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTESMAR_THREAD_SAFETY=ON)
cmake -S . -B "$build" -G Ninja -DTESMAR_SANITIZE="$sanitize" "${compiler[@]}" -DTESMAR_BUILD_TESTS=ON \
  -DTESMAR_BUILD_BENCH=$([ -z "$sanitize" ] && echo ON || echo OFF) >/dev/null
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# On a real X server Qt runs threads of its own (D-Bus, the glib loop) that
# are not built for ThreadSanitizer, so it reports their hand-overs as races;
# the thread build leaves the X server tests out (our own threads are
# covered by every other test there, offscreen).
skip=()
[ "$sanitize" = thread ] && skip=(-LE xserver)
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 180 "${skip[@]}"
