#!/usr/bin/env bash
# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer, built into build-asan/
# (the normal build/ is left alone). Benchmarks and fuzz targets are not built: the fuzz targets
# run under both sanitizers in the normal suite already. Extra arguments go to ctest, for
# example -R test_net. Leak reports are off: Qt and the font and display libraries keep memory
# to the end of the process on purpose.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
if [ ! -f build-asan/CMakeCache.txt ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
    -DDM_BUILD_BENCHMARKS=OFF -DDM_BUILD_FUZZ=OFF
fi
cmake --build build-asan -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Sanitized programs are slower and larger: fewer at a time than cores.
ctest --test-dir build-asan --output-on-failure -j "$(( $(nproc) > 1 ? $(nproc) / 2 : 1 ))" "$@"
