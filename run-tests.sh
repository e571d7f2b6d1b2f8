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
# The end-to-end tests judge the workbooks they write with the Open XML SDK's
# validator, installed with npm where npm is at hand (they skip that check, with a
# line, where it is not).
.ci/install-validator.sh build/validator || echo "Workbooks will not be validated: the OOXML validator could not be installed"
# Twice as many tests as cores: the end-to-end ones spend part of their time waiting
# (on the live link's timer, on a second cadhost), and would leave a core idle.
ctest --test-dir build --output-on-failure -j"$((2 * jobs))" --timeout 600
