#!/usr/bin/env bash
# Sets up, builds and starts Dustmaw.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target dustmaw dustmaw-cli
exec build/src/dustmaw "$@"
