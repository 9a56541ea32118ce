#!/usr/bin/env bash
# The test command: builds from scratch twice (warnings as errors; then
# AddressSanitizer with UndefinedBehaviorSanitizer) and runs every test in
# both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

rm -rf build-test build-test-asan

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_WERROR=ON
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

cmake -S . -B build-test-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVANE_WERROR=ON \
  -DTORVANE_SANITIZE=ON
cmake --build build-test-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-test-asan --output-on-failure -j "$jobs"
