#!/usr/bin/env bash
# Saving speed against ffmpeg: a 1280x720 clip of 3000 frames (the MJPEG
# input the extraction bench uses) saved by `lum avi save` with MJPEG and
# with FFV1, and by ffmpeg with the same encoder and settings (MJPEG at
# quality 90 %, which is qscale 4, full-range 4:2:0; FFV1 in 32-bit RGB,
# every frame a key frame, audio left out on both sides as the clip has
# none). Each tool runs alternately RUNS times; the script prints the
# median wall time of each, the frames a second, their ratio (ours over
# ffmpeg's rate) against the target of 0.9, and the CPU times.
#
# usage: bench/save_vs_ffmpeg.sh [LUM] [MEDIA-DIR]
#   RUNS=n   runs per tool and codec (default 3)
#   ONLY=x   only mjpeg or ffv1
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
lum=${1:-$here/../build-bench/src/tools/lum}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}
only=${ONLY:-}
frames=3000

for tool in ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[[ -x $lum ]] || { echo "missing: $lum (build it first: make bench-save)" >&2; exit 2; }
mkdir -p "$media"

input=$media/mjpeg.avi
if [[ ! -s $input ]]; then
    echo "making $input" >&2
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=120,hue=h=72*floor(t/10)" -an \
        -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -frames:v $frames "$input.part.avi"
    mv "$input.part.avi" "$input"
fi

# Runs a command under /usr/bin/time -v; prints "seconds cpu-seconds".
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1 || {
        echo "failed: $*" >&2
        cat "$log" >&2
        rm -f "$log"
        return 1
    }
    awk -F': ' '
        /Elapsed \(wall clock\)/ {
            n = split($2, p, ":"); s = 0
            for (i = 1; i <= n; i++) s = s * 60 + p[i]
        }
        /User time \(seconds\)/ { c += $2 }
        /System time \(seconds\)/ { c += $2 }
        END { printf "%.3f %.3f\n", s, c }' "$log"
    rm -f "$log"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# codec:lum arguments:ffmpeg arguments
codecs=(
    "mjpeg:--codec mjpeg --quality 90:-c:v mjpeg -q:v 4 -pix_fmt yuvj420p"
    "ffv1:--codec ffv1:-c:v ffv1 -g 1 -pix_fmt bgr0"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'runs per tool: %d, %s, %d cores, load average %s\n' "$runs" \
    "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %8s %8s %8s %8s %7s %8s %8s  %s\n' codec lum_s ffmpeg_s lum_fps ffm_fps ratio \
    lum_cpu ffm_cpu target
for entry in "${codecs[@]}"; do
    name=${entry%%:*}
    rest=${entry#*:}
    [[ -z $only || $name == *"$only"* ]] || continue
    read -r -a ours_args <<<"${rest%%:*}"
    read -r -a theirs_args <<<"${rest#*:}"
    ours_t=() ours_c=() theirs_t=() theirs_c=()
    for ((r = 0; r < runs; r++)); do
        read -r t c < <(measure "$lum" avi save "$input" "$work/ours.avi" "${ours_args[@]}")
        ours_t+=("$t") ours_c+=("$c")
        read -r t c < <(measure ffmpeg -nostdin -loglevel error -y -i "$input" -an \
            "${theirs_args[@]}" "$work/theirs.avi")
        theirs_t+=("$t") theirs_c+=("$c")
    done
    n=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$work/ours.avi")
    [[ $n == "$frames" ]] || echo "warning: lum wrote $n frames, not $frames" >&2
    ot=$(printf '%s\n' "${ours_t[@]}" | median)
    tt=$(printf '%s\n' "${theirs_t[@]}" | median)
    oc=$(printf '%s\n' "${ours_c[@]}" | median)
    tc=$(printf '%s\n' "${theirs_c[@]}" | median)
    awk -v name="$name" -v ot="$ot" -v tt="$tt" -v oc="$oc" -v tc="$tc" -v f="$frames" 'BEGIN {
        of = f / ot; tf = f / tt; r = of / tf
        printf "%-6s %8.2f %8.2f %8.1f %8.1f %7.3f %8.2f %8.2f  >= 0.9: %s\n",
            name, ot, tt, of, tf, r, oc, tc, (r >= 0.9) ? "met" : "NOT met" }'
    printf '       lum runs:    %s (cpu %s)\n       ffmpeg runs: %s (cpu %s)\n' \
        "${ours_t[*]}" "${ours_c[*]}" "${theirs_t[*]}" "${theirs_c[*]}"
done
