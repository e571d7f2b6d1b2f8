#!/usr/bin/env bash
# Sets up what is needed, builds Tablora (Release) into build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
.ci/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
# TABLORA_CMAKE_ARGS: further configure options, blank-separated (CI turns on the
# slow tests with -DTABLORA_SLOW_TESTS=ON).
# shellcheck disable=SC2086
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTABLORA_BENCH=OFF ${TABLORA_CMAKE_ARGS:-}
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600
