#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DDUSTMAW_SANITIZE=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
# The readers of untrusted bytes under libFuzzer, briefly.
bash scripts/fuzz.sh 10
# The project's own code under clang-tidy.
bash scripts/tidy.sh build-test
