#!/usr/bin/env bash
# Opening long files in the containers of the libavformat handler: a
# 2-hour MP4 (H.264, 180000 frames) is to open from its header without
# reading the file; a 1 GB MKV and a 1 GB MPEG-TS (MPEG-2 video and MP2
# audio, the MKV a copy of the TS) are to open in no more time than ffmpeg
# takes to read their packets once (`ffmpeg -i IN -map 0 -c copy -f null -`).
# Each file is opened RUNS times after a first read that puts it in the page
# cache; the medians of wall and CPU time are printed, with the bytes the
# open read (lum_bench_open counts them) and the ratio to ffmpeg's time.
# The machine's load average is printed first.
#
# usage: bench/open_vs_ffmpeg.sh [LUM-BENCH-OPEN] [MEDIA-DIR]
#   RUNS=n   runs per tool and input (default 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
open=${1:-$here/../build-bench/bench/lum_bench_open}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}

for tool in ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[[ -x $open ]] || { echo "missing: $open (build it first: make bench)" >&2; exit 2; }
mkdir -p "$media"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

long_mp4=$media/2h.mp4
if [[ ! -s $long_mp4 ]]; then
    echo "making $long_mp4" >&2
    ff -f lavfi -i testsrc2=size=160x90:rate=25:duration=7200 -c:v libx264 -preset ultrafast \
        -g 250 -bf 3 "$long_mp4.part.mp4"
    mv "$long_mp4.part.mp4" "$long_mp4"
fi
big_ts=$media/1g.ts
if [[ ! -s $big_ts ]]; then
    echo "making $big_ts" >&2
    ff -f lavfi -i testsrc2=size=1280x720:rate=25:duration=250 -f lavfi -i sine=duration=250 \
        -c:v mpeg2video -b:v 32M -minrate 32M -maxrate 32M -bufsize 8M -bf 2 -g 12 -c:a mp2 \
        "$big_ts.part.ts"
    mv "$big_ts.part.ts" "$big_ts"
fi
big_mkv=$media/1g.mkv
if [[ ! -s $big_mkv ]]; then
    echo "making $big_mkv" >&2
    ff -i "$big_ts" -map 0 -c copy "$big_mkv.part.mkv"
    mv "$big_mkv.part.mkv" "$big_mkv"
fi

# Prints "seconds cpu-seconds" of a command under /usr/bin/time.
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -f '%e %U %S' -o "$log" "$@" >/dev/null 2>&1 || {
        echo "failed: $*" >&2
        rm -f "$log"
        return 1
    }
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$log"
    rm -f "$log"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf 'runs per tool: %d, %s, %d cores, load average %s\n' "$runs" \
    "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %9s %8s %8s %9s %11s %9s %10s %7s  %s\n' input file_MB frames open_s open_cpu_s \
    read_MB ffmpeg_s ffm_cpu_s ratio target
for input in "$long_mp4" "$big_mkv" "$big_ts"; do
    cat "$input" >/dev/null # the page cache holds it for both tools
    read -r ot oc bytes size frames < <("$open" "$input" "$runs")
    ft=() fc=()
    for ((r = 0; r < runs; r++)); do
        read -r t c < <(measure ffmpeg -nostdin -v error -i "$input" -map 0 -c copy -f null -)
        ft+=("$t") fc+=("$c")
    done
    tt=$(printf '%s\n' "${ft[@]}" | median)
    tc=$(printf '%s\n' "${fc[@]}" | median)
    ratio=$(awk -v a="$ot" -v b="$tt" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }')
    if [[ $input == *.mp4 ]]; then
        # The index is the moov box: reading it and a few probes is the target.
        moov=$(python3 -c '
import struct, sys
f = open(sys.argv[1], "rb")
while True:
    h = f.read(8)
    if len(h) < 8: break
    n, t = struct.unpack(">I4s", h)
    if n == 1: n = struct.unpack(">Q", f.read(8))[0] - 8
    if t == b"moov": print(n); break
    f.seek(n - 8, 1)
else: print(0)' "$input")
        verdict=$(awk -v r="$bytes" -v s="$size" -v m="$moov" 'BEGIN {
            printf "reads its moov box (%.1f MB) and at most 1 MB more, not the file: %s (%.2f%% of the file)",
                m / 1048576, (r <= m + 1048576 && r < s / 10) ? "met" : "NOT met", 100 * r / s }')
    else
        verdict=$(awk -v r="$ratio" 'BEGIN { printf "<= 1: %s", (r <= 1) ? "met" : "NOT met" }')
    fi
    printf '%-8s %9.1f %8d %8.3f %9.3f %11.1f %9.3f %10.3f %7.3f  %s\n' "$(basename "$input")" \
        "$(awk -v s="$size" 'BEGIN { print s / 1048576 }')" "$frames" "$ot" "$oc" \
        "$(awk -v s="$bytes" 'BEGIN { print s / 1048576 }')" "$tt" "$tc" "$ratio" "$verdict"
done
