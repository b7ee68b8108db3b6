#!/usr/bin/env bash
# Configures and builds everything into build/ (clang, so that the fuzz targets build too).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j "$(nproc)"
