#!/bin/sh
# Export of the 100,000-reference drawing through cadhost (TABRO Export2, every
# block, all property columns, a new workbook), whole process, side by side with the
# Python peer doing the same job. Reports wall time and peak memory of each.
#
#   bench/bench_export.sh BUILD_DIR [N]     (BUILD_DIR: a Release build, e.g. build-rel)
set -eu
BUILD=${1:?usage: bench_export.sh BUILD_DIR [N]}
N=${2:-100000}
HERE=$(cd "$(dirname "$0")" && pwd)
SHARED=${TABLORA_SHARED_DIR:-$HERE/../../shared}
PY=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

$PY "$HERE/../tools/make_drawing.py" "$N" "$WORK/big.dxf" 2>/dev/null
mkdir -p "$WORK/home" "$WORK/out"
# Every block, every property column, a new workbook (bench/settings.reg).
cp "$HERE/settings.reg" "$WORK/home/user.reg"
printf 'TABRO\nExport2\n\n' > "$WORK/export.scr"

measure() { # label, then the command
    label=$1; shift
    /usr/bin/time -f "$label %e s wall, %M KB peak" "$@" >"$WORK/$label.log" 2>"$WORK/$label.err" || {
        echo "$label failed:"; tail -5 "$WORK/$label.err"; return 1; }
    tail -1 "$WORK/$label.err"
}

echo "drawing: $N references, $(du -m "$WORK/big.dxf" | cut -f1) MB"
(cd "$WORK/out" && CADHOST_HOME="$WORK/home" measure cadhost "$BUILD/bin/cadhost" --script "$WORK/export.scr" "$WORK/big.dxf")
ls -l "$WORK"/out/Book*.xlsx 2>/dev/null | awk '{print "workbook:", $5, "bytes"}'
measure peer $PY "$SHARED/peers/peer_export.py" "$WORK/big.dxf" "$WORK/peer.xlsx"
