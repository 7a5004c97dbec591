#!/usr/bin/env bash
# Wave reading against ffmpeg: a one-hour 44.1 kHz 16-bit stereo WAV (635 MB)
# read in one-second blocks through the wave file layer (plain and through
# the I/O buffer), and `ffmpeg -i f.wav -f null -` on the same file, each run
# alternately RUNS times; prints the median wall time and times real time of
# each. Then PCM conversion (44.1k/16/stereo to 22.05k/8/mono) in source
# frames a second. The file stays in the page cache between runs, so this
# measures reading at memory speed after the first run.
#
# usage: bench/wave_vs_ffmpeg.sh [LUM_BENCH_WAVE] [MEDIA-DIR]
#   RUNS=n   runs per reader (default 3, at least 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build-bench/bench/lum_bench_wave}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}
((runs >= 3)) || runs=3
command -v ffmpeg >/dev/null || { echo "missing: ffmpeg" >&2; exit 2; }
[[ -x $bench ]] || { echo "missing: $bench (build it first: make bench-wave)" >&2; exit 2; }
mkdir -p "$media"

wav=$media/hour-44100-s16-stereo.wav
if [[ ! -s $wav ]]; then
    free_kb=$(df -Pk "$media" | awk 'NR == 2 { print $4 }')
    ((free_kb > 1500000)) || { echo "need 1.5 GB free in $media" >&2; exit 2; }
    echo "making $wav" >&2
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=sin(440*2*PI*t)|0.5*sin(660*2*PI*t):s=44100:d=3600" \
        -c:a pcm_s16le "$wav.part.wav"
    mv "$wav.part.wav" "$wav"
fi

wall() { # command... -> seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

plain=() direct=() theirs=()
for ((r = 0; r < runs; r++)); do
    plain+=("$(wall "$bench" read "$wav")")
    direct+=("$(wall "$bench" read "$wav" --direct)")
    theirs+=("$(wall ffmpeg -nostdin -hide_banner -loglevel error -i "$wav" -f null -)")
done

printf 'file: %s (%d bytes), runs: %d, %s, %d cores\n' "$wav" "$(stat -c %s "$wav")" "$runs" \
    "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)"
printf '%-22s %10s %14s   %s\n' reader median_s x_real_time runs
for name in plain direct theirs; do
    declare -n times=$name
    m=$(printf '%s\n' "${times[@]}" | median)
    label=$name
    [[ $name == plain ]] && label="wioWaveReadData"
    [[ $name == direct ]] && label="wioWaveReadDataDirect"
    [[ $name == theirs ]] && label="ffmpeg -f null"
    printf '%-22s %10.3f %14.0f   %s\n' "$label" "$m" "$(awk -v m="$m" 'BEGIN { print 3600 / m }')" \
        "${times[*]}"
done
"$bench" read "$wav"
"$bench" convert 3600
