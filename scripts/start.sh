#!/usr/bin/env bash
# Sets up, builds and starts Dustmaw.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/src/dustmaw ]; then
  exec build/src/dustmaw "$@"
fi
# Until the desktop window exists, show what a few files would be as enemies.
exec build/src/cli/dustmaw-cli inspect "${@:-README.md}" CMakeLists.txt
