#!/usr/bin/env bash
# Extraction speed against ffmpeg's select filter on three 1280x720 inputs of
# 3000 frames (MJPEG, MPEG-4 ASP with two B-frames, H.264 with three
# B-frames). Each tool runs alternately RUNS times per input; the script
# prints the median wall time of each, their ratio, and each one's peak
# memory (largest resident set over the runs), and how many of the stills
# have the pixels of ffmpeg's picture of the same frame.
#
# usage: bench/extract_vs_ffmpeg.sh [SNAPREEL-CLI] [MEDIA-DIR]
#   RUNS=n   runs per tool and input (default 3, at least 3)
#   ONLY=x   only the inputs whose name contains x (mjpeg, mpeg4, h264)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../build-bench/src/app/snapreel-cli}
media=${2:-$here/../build-bench/bench-media}
runs=${RUNS:-3}
only=${ONLY:-}
((runs >= 3)) || runs=3

for tool in ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[[ -x $cli ]] || { echo "missing: $cli (build it first: make bench)" >&2; exit 2; }
mkdir -p "$media"

# The synthetic source: testsrc2 at 25 frames a second, 120 s, its hue turned
# by 72 degrees every 10 s so that the extraction has scenes to find.
source_args=(-f lavfi -i "testsrc2=size=1280x720:rate=25:duration=120,hue=h=72*floor(t/10)")

make_input() { # name, encoder arguments...
    local name=$1
    shift
    local out=$media/$name.avi
    if [[ ! -s $out ]]; then
        echo "making $out" >&2
        ffmpeg -nostdin -hide_banner -loglevel error -y "${source_args[@]}" -an "$@" \
            -frames:v 3000 "$out.part.avi"
        mv "$out.part.avi" "$out"
    fi
    printf '%s\n' "$out"
}

# Runs a command under /usr/bin/time -v; prints "seconds kilobytes".
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
        /Maximum resident set size/ { m = $2 }
        END { printf "%.3f %d\n", s, m }' "$log"
    rm -f "$log"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n 1; }

inputs=(
    "mjpeg:-c:v mjpeg -q:v 3 -pix_fmt yuvj420p"
    "mpeg4:-c:v mpeg4 -vtag XVID -bf 2 -q:v 4"
    "h264:-c:v libx264 -preset medium -bf 3 -pix_fmt yuv420p"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'runs per tool: %d, %s, %d cores\n' "$runs" "$(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)" "$(nproc)"
printf '%-6s %12s %12s %7s %13s %13s %6s %6s %6s\n' input snapreel_s ffmpeg_s ratio snapreel_kB ffmpeg_kB stills same bmps
for entry in "${inputs[@]}"; do
    name=${entry%%:*}
    [[ -z $only || $name == *"$only"* ]] || continue
    read -r -a enc <<<"${entry#*:}"
    input=$(make_input "$name" "${enc[@]}")
    ours_t=() ours_m=() theirs_t=() theirs_m=()
    for ((r = 0; r < runs; r++)); do
        rm -rf "$work/ours" "$work/theirs"
        mkdir -p "$work/ours" "$work/theirs"
        read -r t m < <(measure "$cli" extract "$input" -o "$work/ours" --quiet --step 60 --level 160)
        ours_t+=("$t") ours_m+=("$m")
        read -r t m < <(measure ffmpeg -nostdin -loglevel error -y -i "$input" \
            -vf 'select=not(mod(n\,60))' -vsync 0 "$work/theirs/out%d.bmp")
        theirs_t+=("$t") theirs_m+=("$m")
    done
    ot=$(printf '%s\n' "${ours_t[@]}" | median)
    tt=$(printf '%s\n' "${theirs_t[@]}" | median)
    om=$(printf '%s\n' "${ours_m[@]}" | largest)
    tm=$(printf '%s\n' "${theirs_m[@]}" | largest)
    stills=$(find "$work/ours" -name '*.BMP' | wc -l)
    bmps=$(find "$work/theirs" -name '*.bmp' | wc -l)
    # Each still's pixels against ffmpeg's picture of the same frame (both
    # bottom-up 24 bits behind a 54-byte header).
    same=0
    for still in "$work"/ours/*.BMP; do
        [[ -e $still ]] || continue
        index=$(($(basename "$still" .BMP) - 10000))
        theirs=$work/theirs/out$((index / 60 + 1)).bmp
        size=$(($(stat -c %s "$still") - 54))
        [[ -e $theirs ]] && cmp -s <(tail -c "$size" "$still") <(tail -c "$size" "$theirs") &&
            same=$((same + 1))
    done
    printf '%-6s %12.3f %12.3f %7.3f %13d %13d %6d %6d %6d\n' "$name" "$ot" "$tt" \
        "$(awk -v a="$ot" -v b="$tt" 'BEGIN { print (b > 0) ? a / b : 0 }')" "$om" "$tm" "$stills" \
        "$same" "$bmps"
    printf '       snapreel runs: %s\n       ffmpeg runs:   %s\n' "${ours_t[*]}" "${theirs_t[*]}"
done
