#!/bin/bash
# Register benchmark: a folder of drawings exported by tablora into one workbook and
# imported back after an openpyxl edit of one row in every drawing, at several folder
# sizes, to show how time and peak memory go with the number of drawings (one
# drawing is open at a time, so memory should not grow with them).
#
#   bench/bench_register.sh [BIN_DIR] [WORK_DIR] [DRAWINGS] [REFS]
#
# BIN_DIR defaults to build/bin (a Release build); WORK_DIR keeps the generated
# drawings between runs (default /tmp/tabro-bench-register); the folder holds
# DRAWINGS drawings (default 200) of REFS attributed references each (default 500),
# and the runs take the first quarter, half and all of them.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=$(cd "${1:-$root/build/bin}" && pwd)
work=${2:-/tmp/tabro-bench-register}
drawings=${3:-200}
refs=${4:-500}
py=/usr/bin/python3

[ -x "$bin/tablora" ] || { echo "no tablora in $bin (build Release first)"; exit 1; }
mkdir -p "$work/set" "$work/home"
cd "$work"
cp "$here/settings.reg" home/user.reg
export CADHOST_HOME=$work/home

for ((i = 1; i <= drawings; i++)); do
    f=$(printf 'set/d%04d.dxf' "$i")
    [ -f "$f" ] || { [ $((i % 50)) -eq 1 ] && echo "generating drawings $i.. of $drawings ($refs references each) ..."; \
                     $py "$root/tools/make_drawing.py" --seed "$i" "$refs" "$f.tmp" > /dev/null 2>&1 && mv "$f.tmp" "$f"; }
done

measure() {  # label, command...: prints wall seconds and peak RSS
    local label=$1; shift
    /usr/bin/time -f "%e %M" -o time.out "$@" > "$label.log" 2>&1 || { echo "$label failed: see $work/$label.log"; exit 1; }
    read -r secs kb < time.out
    printf '%-28s %8.2f s %8d MB\n' "$label" "$secs" $((kb / 1024))
}

for count in $((drawings / 4)) $((drawings / 2)) "$drawings"; do
    rm -rf "run$count" && mkdir "run$count"
    for f in $(ls set/*.dxf | head -n "$count"); do cp "$f" "run$count/"; done
    measure "export $count drawings" "$bin/tablora" export run$count/*.dxf -o "run$count.xlsx" --force
    # One attribute cell of every drawing's first row changed, as a user edits a register.
    $py - "run$count.xlsx" <<'PY'
import sys
from openpyxl import load_workbook
book = sys.argv[1]
wb = load_workbook(book)
seen = set()
for sheet in wb.worksheets:
    if sheet.sheet_state != "visible" or sheet.max_row < 2:
        continue
    header = [c.value for c in sheet[1]]
    if "Drawing" not in header:
        continue
    column = next((c.column for c in sheet[1][2:] if c.value and not c.comment), None)
    if column is None:
        continue
    drawing = header.index("Drawing") + 1
    for r in range(2, sheet.max_row + 1):
        name = sheet.cell(r, drawing).value
        if name and name not in seen and sheet.cell(r, 1).comment:
            sheet.cell(r, column).value = "edited in the register"
            seen.add(name)
wb.save(book)
print(f"  edited one row of each of {len(seen)} drawings")
PY
    measure "import $count drawings" "$bin/tablora" import "run$count.xlsx"
    tail -n 1 "import $count drawings.log"
done
