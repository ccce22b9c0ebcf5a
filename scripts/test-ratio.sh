#!/usr/bin/env bash
# Test lines per line of code: the non-blank lines of the C++ sources and
# headers under tests/ against the program's own, under src/ and packaging/
# (which draws the installed icons).
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$1" -type f \( -name '*.cpp' -o -name '*.h' \) -exec cat {} + | grep -cv '^[[:space:]]*$'; }
code=$(( $(count src) + $(count packaging) ))
tests=$(count tests)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d, ratio %.3f\n", t, c, t / c }'
