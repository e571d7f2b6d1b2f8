#!/bin/bash
# Import benchmark: the 100,000-reference drawing's exported workbook read back
# into the drawing with properties on (position, scale, layer, rotation), through
# cadhost as a user runs it: open the drawing and the workbook, TABRO Import over
# every sheet, SAVE. The Python peer does the same job side by side.
#
#   bench/bench_import.sh [BIN_DIR] [WORK_DIR] [N]
#
# BIN_DIR defaults to build-import-rel/bin (a Release build); WORK_DIR keeps the
# generated drawing and workbooks between runs (default /tmp/tabro-bench-import);
# N is the number of attributed references (default 100000).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
bin=${1:-$root/build-import-rel/bin}
work=${2:-/tmp/tabro-bench-import}
n=${3:-100000}
shared=${TABLORA_SHARED_DIR:-$root/../shared}
py=/usr/bin/python3

[ -x "$bin/cadhost" ] || { echo "no cadhost in $bin (build Release first)"; exit 1; }
mkdir -p "$work/home"
cd "$work"

# Settings (bench/settings.reg): export every block with every property column;
# import every sheet of the active workbook with the properties applied.
cp "$here/settings.reg" home/user.reg
export CADHOST_HOME=$work/home

if [ ! -f big.dxf ]; then
    echo "generating $n references ..."
    $py "$root/tools/make_drawing.py" "$n" big.dxf
fi
if [ ! -f ours.xlsx ]; then
    echo "exporting with cadhost ..."
    rm -f Book*.xlsx
    # Every block, every property column: the import then has positions, scales,
    # layers and rotations to apply on each row.
    printf 'TABRO\nExport2\n\n' > export.scr
    # Exported as ours.dxf, the name the import reads: the workbook's record names
    # the drawing it came from, and an import into another asks first (No).
    cp big.dxf ours.dxf
    "$bin/cadhost" --script export.scr ours.dxf > export.log
    mv "$(ls Book*.xlsx | head -1)" ours.xlsx
fi
if [ ! -f peer.xlsx ]; then
    echo "exporting with the peer ..."
    $py "$shared/peers/peer_export.py" big.dxf peer.xlsx 2> peer_export.log
fi

measure() {  # label, command...: prints wall seconds and peak RSS
    local label=$1; shift
    /usr/bin/time -f "%e %M" -o time.out "$@" > "$label.log" 2>&1
    read -r secs kb < time.out
    printf '%-22s %8.2f s %8d MB\n' "$label" "$secs" $((kb / 1024))
    echo "$secs" > "$label.secs"
}

printf 'TABRO\nImport\nSAVE\n' > import.scr
cp big.dxf ours.dxf
measure "tabro import" "$bin/cadhost" --workbook ours.xlsx --script import.scr ours.dxf
grep -a "Imported .* sheet" "tabro import.log" || { echo "the import imported nothing:"; tail -5 "tabro import.log"; exit 1; }
measure "peer import --props" $py "$shared/peers/peer_import.py" peer.xlsx big.dxf peer.dxf --props

ours=$(cat "tabro import.secs")
peer=$(cat "peer import --props.secs")
$py - "$ours" "$peer" <<'EOF'
import sys
ours, peer = map(float, sys.argv[1:])
print(f"speed-up {peer / ours:.1f}x (target: under 6 s and at least 19x)")
EOF
