#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs each for SECONDS (default 60) from its seed corpus in
# fuzz/corpus/<target>/. What a run adds to the corpus stays in
# build-fuzz/corpus/<target>/; a failing input is saved as
# build-fuzz/<target>-crash-... and the script fails.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/bootstrap.sh clang

targets=(parmrk_fuzz str0_fuzz strgen_fuzz layout_fuzz scpi_fuzz)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESMAR_FUZZ=ON -DTESMAR_BUILD_TESTS=OFF \
  -DTESMAR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  log=build-fuzz/$target.log
  if ! build-fuzz/fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/$target-" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: $target failed (log: $log)" >&2
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$log" | sed "s/^/fuzz: $target /"
done
