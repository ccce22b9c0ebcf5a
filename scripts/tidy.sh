#!/usr/bin/env bash
# clang-tidy over the project's own sources, every finding an error:
#   bash scripts/tidy.sh [BUILD_DIR]   (a configured build, default build-test)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-test}"
files=$(git ls-files 'src/*.cpp' 'packaging/*.cpp')
# shellcheck disable=SC2086
run-clang-tidy -quiet -j "$(nproc)" -p "$build" $files >"$build/tidy.log" 2>&1 || {
  sed "s/\x1b\[[0-9;]*m//g" "$build/tidy.log" | grep -E "(warning|error):" | sort -u >&2
  echo "clang-tidy found the above (full output in $build/tidy.log)" >&2
  exit 1
}
echo "clang-tidy: no finding in $(echo "$files" | wc -l) files"
