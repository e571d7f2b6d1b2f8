#!/usr/bin/env bash
# Sets up what is needed, builds Tablora (Release) and runs the main job on the
# bundled example drawing: cadhost opens examples/site.dxf, loads the module and
# exports every block with its attributes to a workbook in build/example/.
set -euo pipefail
cd "$(dirname "$0")"
.ci/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTABLORA_BENCH=OFF
cmake --build build -j"$jobs" --target cadhost tabro tabrores
mkdir -p build/example
rm -f build/example/Book*.xlsx
cd build/example
../bin/cadhost --script ../../examples/export-all.scr ../../examples/site.dxf
echo
echo "Workbook written: $(ls "$PWD"/Book*.xlsx 2>/dev/null || echo none)"
