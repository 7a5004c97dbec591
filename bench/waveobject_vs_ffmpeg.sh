#!/usr/bin/env bash
# The wave object's SaveToFile and ConvertFile on a one-hour 44.1 kHz 16-bit
# stereo WAV (635 MB) against `ffmpeg -i f.wav -c copy` and
# `ffmpeg -i f.wav -ac 1 -ar 22050 -c:a pcm_u8` in the same run, each RUNS
# times alternately; prints the median wall time and times real time. Both
# write 635 MB (or 79 MB) to the same disk, so this is mostly disk-bound.
#
# usage: bench/waveobject_vs_ffmpeg.sh [LUM_BENCH_WAVEOBJECT] [MEDIA-DIR]
#   RUNS=n   runs per writer (default 3, at least 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build-bench/bench/lum_bench_waveobject}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}
((runs >= 3)) || runs=3
command -v ffmpeg >/dev/null || { echo "missing: ffmpeg" >&2; exit 2; }
[[ -x $bench ]] || { echo "missing: $bench (build it first: make bench-waveobject)" >&2; exit 2; }
mkdir -p "$media"

wav=$media/hour-44100-s16-stereo.wav
if [[ ! -s $wav ]]; then
    free_kb=$(df -Pk "$media" | awk 'NR == 2 { print $4 }')
    ((free_kb > 2500000)) || { echo "need 2.5 GB free in $media" >&2; exit 2; }
    echo "making $wav" >&2
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=sin(440*2*PI*t)|0.5*sin(660*2*PI*t):s=44100:d=3600" \
        -c:a pcm_s16le "$wav.part.wav"
    mv "$wav.part.wav" "$wav"
fi
out=$media/out.wav
trap 'rm -f "$out"' EXIT

wall() { # command... -> seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    rm -f "$out"
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

save=() copy=() convert=() resample=()
ff=(ffmpeg -nostdin -hide_banner -loglevel error -y -i "$wav")
for ((r = 0; r < runs; r++)); do
    save+=("$(wall "$bench" save "$wav" "$out")")
    copy+=("$(wall "${ff[@]}" -c copy "$out")")
    convert+=("$(wall "$bench" convert "$wav" "$out")")
    resample+=("$(wall "${ff[@]}" -ac 1 -ar 22050 -c:a pcm_u8 "$out")")
done

printf 'file: %s (%d bytes), runs: %d, %s, %d cores\n' "$wav" "$(stat -c %s "$wav")" "$runs" \
    "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)"
printf '%-34s %10s %12s   %s\n' writer median_s x_real_time runs
for name in save copy convert resample; do
    declare -n times=$name
    m=$(printf '%s\n' "${times[@]}" | median)
    case $name in
    save) label="TLumWave.SaveToFile" ;;
    copy) label="ffmpeg -c copy" ;;
    convert) label="TLumWave.ConvertFile 22050/8/mono" ;;
    resample) label="ffmpeg -ac 1 -ar 22050 pcm_u8" ;;
    esac
    printf '%-34s %10.3f %12.0f   %s\n' "$label" "$m" "$(awk -v m="$m" 'BEGIN { print 3600 / m }')" \
        "${times[*]}"
done
