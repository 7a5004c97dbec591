#!/bin/sh
# Runs each fuzz target (all by default) for <seconds> on its corpus and
# seeds, one after the other, each in one process on one core. A target
# stops at its first finding, which is saved in <build>/findings/<target>/
# with the run's log beside that folder. Exits non-zero on any finding.
set -u
build=${1:?usage: run.sh <build folder> <seconds> [target...]}
seconds=${2:?usage: run.sh <build folder> <seconds> [target...]}
shift 2
targets=${*:-"fuzz_avifile fuzz_rle fuzz_dib fuzz_palette fuzz_bitmap fuzz_mmio fuzz_objstream fuzz_wave fuzz_adpcm"}
here=$(cd "$(dirname "$0")" && pwd)
seeds="$build/seeds"
[ -d "$seeds" ] || "$here/make-seeds.sh" "$seeds"
status=0
for t in $targets; do
    corpus="$build/corpus/$t"
    findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    echo "== $t for ${seconds}s"
    if ! "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=10 -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$seeds/$t" >"$build/findings/$t.log" 2>&1; then
        status=1
    fi
    grep -E '^(Done|stat::)|ERROR|SUMMARY' "$build/findings/$t.log" | head -12
    if [ -n "$(ls -A "$findings")" ]; then
        echo "!! $t: findings in $findings"
        status=1
    fi
done
exit $status
