#!/usr/bin/env bash
# Builds the Debian package: a release build without tests, benchmarks or fuzz targets in
# build-package/, then cpack. The package lands in dist/; lintian's verdict is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DDM_WERROR=OFF
cmake --build build-package -j "$(nproc)"
mkdir -p dist
cpack --config build-package/CPackConfig.cmake -B build-package/cpack
cp build-package/cpack/invara-desktop-manager_*.deb dist/
deb=$(ls -t dist/invara-desktop-manager_*.deb | head -n 1)
echo "Package: $deb"
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" || true
fi
