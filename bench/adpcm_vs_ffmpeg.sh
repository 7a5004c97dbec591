#!/usr/bin/env bash
# ADPCM decoding against ffmpeg: 10-minute 44.1 kHz stereo MS ADPCM and IMA
# ADPCM files (made by ffmpeg) decoded by the library's block decoders
# (lum_bench_adpcm: read through the wave file layer and decoded to 16-bit
# PCM) and by `ffmpeg -i f.wav -f null -`, alternately RUNS times each.
# Prints the median wall time and samples (frames x channels) a second of
# each; both include starting the program and reading the file.
#
# usage: bench/adpcm_vs_ffmpeg.sh [LUM_BENCH_ADPCM] [MEDIA-DIR]
#   RUNS=n   runs per decoder (default 5, at least 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build-bench/bench/lum_bench_adpcm}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-5}
((runs >= 3)) || runs=3
command -v ffmpeg >/dev/null || { echo "missing: ffmpeg" >&2; exit 2; }
[[ -x $bench ]] || { echo "missing: $bench (build it first: make bench-adpcm)" >&2; exit 2; }
mkdir -p "$media"

wall() { # command... -> seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf 'runs: %d, %s, %d cores\n' "$runs" "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)"
printf '%-10s %-16s %10s %14s   %s\n' codec decoder median_s Msamples_s runs
for codec in adpcm_ms adpcm_ima_wav; do
    wav=$media/10min-44100-stereo-$codec.wav
    if [[ ! -s $wav ]]; then
        ffmpeg -nostdin -hide_banner -loglevel error -y \
            -f lavfi -i "aevalsrc=0.6*sin(440*2*PI*t)+0.2*sin(3000*2*PI*t)|0.5*sin(660*2*PI*t):s=44100:d=600" \
            -c:a $codec "$wav.part.wav"
        mv "$wav.part.wav" "$wav"
    fi
    samples=$("$bench" "$wav" | sed -n 's/.*: \([0-9]*\) samples.*/\1/p')
    ours=() theirs=()
    for ((r = 0; r < runs; r++)); do
        ours+=("$(wall "$bench" "$wav")")
        theirs+=("$(wall ffmpeg -nostdin -hide_banner -loglevel error -i "$wav" -f null -)")
    done
    for name in ours theirs; do
        declare -n times=$name
        m=$(printf '%s\n' "${times[@]}" | median)
        label=$([[ $name == ours ]] && echo "lum" || echo "ffmpeg -f null")
        printf '%-10s %-16s %10.3f %14.1f   %s\n' "$codec" "$label" "$m" \
            "$(awk -v s="$samples" -v m="$m" 'BEGIN { print s / m / 1e6 }')" "${times[*]}"
    done
    "$bench" "$wav"
done
