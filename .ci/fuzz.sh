#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ from its seeds, bounded by a number of runs
# with a fixed random seed, so that a pass here is the same pass on any machine: a
# slower machine does not run fewer inputs, a faster one does not find what an
# earlier run could not have. A deeper search, for a finding to fix rather than a
# gate, is the same with FUZZ_RUNS_SCALE above 1 (or another FUZZ_SEED).
#
#   .ci/fuzz.sh [TARGET...]      (all targets when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."

scale=${FUZZ_RUNS_SCALE:-1}
seed=${FUZZ_SEED:-1}
out=build-fuzz/corpus

# target:max_len:runs — the runs give each target roughly half a minute on CI's
# machine with the sanitizers on.
targets=(
    dxf:65536:15000 xlsx:262144:12000 xml:65536:120000 registry:65536:60000 typelib:65536:300000
    registrar:65536:100000 registry_roundtrip:65536:6000 profile:8192:2500 settings_int:8192:4000
    cell_number:4096:150000 keyword:4096:60000 units:4096:200000 script:65536:8000
    xlsx_parts:65536:1500 xml_expat:65536:100000 menu:65536:60000 help_text:65536:12000 mtext:8192:200000
)

seed_corpus() {
    local name=$1 dir=$2
    case $name in
        dxf) cp tests/fixtures/dxf/*.dxf examples/*.dxf fuzz/seeds/dxf/* "$dir"/ ;;
        xlsx) cp tests/fixtures/xlsx/*.xlsx "$dir"/ ;;
        xml)
            python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i, n in enumerate(z.namelist()): open(f"{sys.argv[2]}/part{i}.xml", "wb").write(z.read(n))' \
                tests/fixtures/xlsx/openpyxl-comments-textformat.xlsx "$dir" ;;
        registry)
            cp tests/fixtures/registry/*.reg "$dir"/
            # The editor's own exports are UTF-16LE with a byte order mark; seed that form too.
            python3 -c 'import sys; open(sys.argv[2], "wb").write(b"\xff\xfe" + open(sys.argv[1], encoding="utf-8").read().encode("utf-16-le"))' \
                tests/fixtures/registry/settings.reg "$dir/settings-utf16.reg" ;;
        *) cp "fuzz/seeds/$name"/* "$dir"/ ;;
    esac
}

wanted=("$@")
for entry in "${targets[@]}"; do
    IFS=: read -r name max_len runs <<<"$entry"
    if ((${#wanted[@]})) && [[ " ${wanted[*]} " != *" $name "* ]]; then continue; fi
    # A fresh corpus each time: what an earlier run added would change the inputs.
    rm -rf "${out:?}/$name"
    mkdir -p "$out/$name"
    seed_corpus "$name" "$out/$name"
    echo "=== fuzz $name: $((runs * scale)) runs, seed $seed"
    log="$out/$name.log"
    rc=0
    (cd build-fuzz && exec "fuzz/${name}_fuzz" -seed="$seed" -runs=$((runs * scale)) -max_len="$max_len" \
        -rss_limit_mb=2048 -timeout=60 -print_final_stats=1 "corpus/$name") >"$log" 2>&1 || rc=$?
    if ((rc != 0)); then
        tail -n 80 "$log"
        echo "=== fuzz $name FAILED (exit $rc); the input is in build-fuzz/ as crash-*, leak-*, timeout-* or oom-*"
        exit "$rc"
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" | tr '\n' ' '
    echo
done
echo "=== fuzzing found nothing"
