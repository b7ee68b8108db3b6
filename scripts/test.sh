#!/usr/bin/env bash
# Every test: installs what is missing, builds, and runs the whole CTest suite
# (unit, engine and end-to-end tests, and the bounded fuzz runs).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"
