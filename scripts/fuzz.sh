#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while:
#   bash scripts/fuzz.sh [SECONDS]   (default 15 a target)
# Fails on any finding, which is kept in build-fuzz/. New inputs go to
# build-fuzz/corpus; the seeds in fuzz/corpus stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-15}"
CXX=clang++ CC=clang cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUSTMAW_FUZZ=ON \
  -DDUSTMAW_SANITIZE=ON -DDUSTMAW_TESTS=OFF -DDUSTMAW_BENCH=OFF >/dev/null
targets=(pe ini chara rgn drop history)
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
# The targets that need files write them on tmpfs, into a folder removed afterwards.
DUSTMAW_FUZZ_DIR=$(mktemp -d /dev/shm/dustmaw-fuzz.XXXXXX)
export DUSTMAW_FUZZ_DIR
trap 'rm -rf "$DUSTMAW_FUZZ_DIR"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  log="build-fuzz/fuzz_$t.log"
  status=0
  "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/ "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "fuzz_$t found a failing input (see $log; its full allocation stacks:" \
      "ASAN_OPTIONS=malloc_context_size=30:fast_unwind_on_malloc=0 build-fuzz/fuzz/fuzz_$t INPUT)" >&2
    exit 1
  fi
  echo "fuzz_$t: $(grep -m1 '^stat::number_of_executed_units' "$log" | awk '{print $2}') inputs, no finding"
done
