#!/usr/bin/env bash
# Checks that every include points down, sets up, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, runs every test, then the
# fuzzers briefly and clang-tidy.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=0
bash scripts/layers.sh || layers=$?
bash scripts/setup.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DDUSTMAW_SANITIZE=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
# clang-tidy reads while the fuzzers, one core each, run.
bash scripts/tidy.sh build-test >build-test/tidy.out 2>&1 &
tidy=$!
fuzz=0
bash scripts/fuzz.sh 8 || fuzz=$?
status=0
wait "$tidy" || status=$?
cat build-test/tidy.out
exit $((layers != 0 || fuzz != 0 || status != 0))
