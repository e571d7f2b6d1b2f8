#!/bin/bash
# Export and import of a generated drawing through cadhost, side by side with the
# Python peer doing the same jobs on the same machine: wall time, CPU time, peak
# memory of each whole process, and how many times faster ours is.
#
#   bench/compare.sh N [REPEAT]
#
# N: attributed references of the drawing (tools/make_drawing.py). REPEAT (default 1):
# runs of each step; the medians are printed. Export: TABRO Export2, every block,
# every property column, a new workbook (bench/settings.reg). Import: that workbook
# read back over every sheet with the properties applied (IgnoreProps off), then
# SAVE. The peer: peer_export.py, and peer_import.py --props.
#
# Environment: TABLORA_BUILD (a Release build folder, default build), TABLORA_SHARED_DIR
# (the folder holding the peer, peers/, default ../shared beside the repository), KEEP=1 keeps
# the work folder.
set -euo pipefail

n=${1:?usage: compare.sh N [REPEAT]}
repeat=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${TABLORA_BUILD:-$root/build}
bin=$(cd "$build/bin" 2>/dev/null && pwd) || { echo "no build in $build (configure and build Release first)"; exit 1; }
[ -x "$bin/cadhost" ] || { echo "no cadhost in $bin"; exit 1; }
shared=${TABLORA_SHARED_DIR:-$root/../shared}
py=/usr/bin/python3
$py -c 'import ezdxf, openpyxl' 2>/dev/null || { echo "the peer needs python3-ezdxf and python3-openpyxl"; exit 1; }

work=$(mktemp -d /tmp/tabro-compare-XXXXXX)
[ "${KEEP:-0}" = 1 ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"
cp "$here/settings.reg" "$work/home/user.reg"
export CADHOST_HOME=$work/home
cd "$work"

$py "$root/tools/make_drawing.py" "$n" big.dxf >/dev/null 2>&1
dxf_kb=$(( $(stat -c %s big.dxf) / 1024 ))
printf 'TABRO\nExport2\n\n' > export.scr
printf 'TABRO\nImport\nSAVE\n' > import.scr

# Runs the command REPEAT times (after $PREPARE each time); leaves the medians
# "wall cpu peak_kb" in $label.med.
measure() {
    local label=$1; shift
    : > "$label.runs"
    for _ in $(seq "$repeat"); do
        [ -n "${PREPARE:-}" ] && eval "$PREPARE"
        /usr/bin/time -f "%e %U %S %M" -o time.out "$@" > "$label.log" 2>&1 ||
            { echo "$label failed:"; tail -5 "$label.log"; exit 1; }
        cat time.out >> "$label.runs"
    done
    $py - "$label.runs" > "$label.med" <<'PYEOF'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1]) if line.strip()]
wall, user, system, kb = zip(*rows)
print(statistics.median(wall), statistics.median(u + s for u, s in zip(user, system)), statistics.median(kb))
PYEOF
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# Export and import both work on ours.dxf: the workbook's record names the drawing
# it came from, and an import into a drawing of another name asks first (No).
cp big.dxf ours.dxf
PREPARE='rm -f Book*.xlsx' measure ours-export "$bin/cadhost" --script export.scr ours.dxf
mv "$(ls Book*.xlsx | head -1)" ours.xlsx
PREPARE='' measure peer-export $py "$shared/peers/peer_export.py" big.dxf peer.xlsx
PREPARE='cp big.dxf ours.dxf; rm -f ours.bak' measure ours-import "$bin/cadhost" --workbook ours.xlsx --script import.scr ours.dxf
grep -q "Imported" ours-import.log || { echo "the import imported nothing:"; tail -5 ours-import.log; exit 1; }
PREPARE='' measure peer-import $py "$shared/peers/peer_import.py" peer.xlsx big.dxf peer.dxf --props
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "drawing: $n references, $((dxf_kb / 1024)) MB DXF; $(nproc) cores; load average $load_before before, $load_after after; medians of $repeat"
$py - "$dxf_kb" <<'PYEOF'
import sys
dxf_kb = float(sys.argv[1])
def med(label):
    wall, cpu, kb = map(float, open(label + ".med").read().split())
    return wall, cpu, kb
print(f"{'step':<8} {'':<6} {'wall s':>8} {'CPU s':>8} {'peak MB':>8} {'x DXF':>6}")
for step in ("export", "import"):
    ours, peer = med("ours-" + step), med("peer-" + step)
    for who, (wall, cpu, kb) in (("ours", ours), ("peer", peer)):
        print(f"{step:<8} {who:<6} {wall:8.2f} {cpu:8.2f} {kb / 1024:8.0f} {kb / dxf_kb:6.1f}")
    print(f"{step:<8} {'ratio':<6} {peer[0] / ours[0]:7.1f}x {peer[1] / ours[1]:7.1f}x {peer[2] / ours[2]:7.1f}x")
PYEOF
