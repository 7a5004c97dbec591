#!/usr/bin/env bash
# Whole-file conversion against ffmpeg: a one-hour 44.1 kHz 16-bit stereo WAV
# to IMA ADPCM with `lum wave convert --format ima` (TLumACM.ProcessFile
# through the compression manager module) and with
# `ffmpeg -c:a adpcm_ima_wav`, alternately RUNS times in the same run.
# Prints the median wall time, times real time and processor time of each,
# and the machine's load average before and after (other work on the
# machine shows in the figures). Both outputs are checked to decode to the
# hour.
#
# usage: bench/convert_vs_ffmpeg.sh [LUM] [MEDIA-DIR]
#   RUNS=n   runs per converter (default 3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
lum=${1:-$here/../build-bench/src/tools/lum}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}
((runs >= 1)) || runs=1
command -v ffmpeg >/dev/null || { echo "missing: ffmpeg" >&2; exit 2; }
[[ -x $lum ]] || { echo "missing: $lum (build it first: make bench-convert)" >&2; exit 2; }
mkdir -p "$media"

# The same file as bench/wave_vs_ffmpeg.sh makes.
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
ours=$media/hour-ima-lum.wav
theirs=$media/hour-ima-ffmpeg.wav
trap 'rm -f "$ours" "$theirs"' EXIT

timed() { # command... -> "wall cpu"
    local t
    t=$(mktemp)
    /usr/bin/time -f "%e %U %S" -o "$t" "$@" >/dev/null 2>&1
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$t"
    rm -f "$t"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
cat "$wav" >/dev/null # into the page cache for both
lw=() lc=() fw=() fc=()
for ((r = 0; r < runs; r++)); do
    read -r w c < <(timed "$lum" wave convert "$wav" "$ours" --format ima)
    lw+=("$w") lc+=("$c")
    read -r w c < <(timed ffmpeg -nostdin -hide_banner -loglevel error -y -i "$wav" \
        -c:a adpcm_ima_wav "$theirs")
    fw+=("$w") fc+=("$c")
done

duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
printf 'file: %s (%d bytes), runs: %d\n' "$wav" "$(stat -c %s "$wav")" "$runs"
show() { # label out walls... -- cpus...
    local label=$1 out=$2 w c
    shift 2
    w=$(printf '%s\n' "${@:1:runs}" | median)
    c=$(printf '%s\n' "${@:runs+1}" | median)
    awk -v l="$label" -v w="$w" -v c="$c" -v s="$(stat -c %s "$out")" -v d="$(duration "$out")" 'BEGIN {
        printf "%-34s %7.2f s wall (%6.1f x real time), %7.2f s processor, %d bytes, decodes to %.1f s\n",
            l, w, 3600 / w, c, s, d }'
}
show "lum wave convert --format ima:" "$ours" "${lw[@]}" "${lc[@]}"
show "ffmpeg -c:a adpcm_ima_wav:" "$theirs" "${fw[@]}" "${fc[@]}"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
