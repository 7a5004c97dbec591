#!/bin/sh
# Drawing benches: a 1280x720 MJPEG file drawn at its rate (25 frames a
# second) through frame drawing must use under half a core; then the same
# file as fast as it goes, locator lines on a window surface, and the DIB
# canvas against the drawing service.
#
# usage: bench/draw_bench.sh BENCH_BINARY MEDIA_DIR [SECONDS]
set -eu
bench=$1
media=$2
seconds=${3:-10}
mkdir -p "$media"
clip="$media/mjpeg-1280x720-25.avi"
if [ ! -f "$clip" ]; then
    ffmpeg -v error -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=$seconds" \
        -c:v mjpeg -q:v 3 -y "$clip"
fi
out=$("$bench" play "$clip" "$seconds")
echo "$out"
share=$(echo "$out" | sed -n 's/^cpu .*= \([0-9.]*\) of one core$/\1/p')
if awk "BEGIN { exit !($share < 0.5) }"; then
    echo "PASS: $share of a core drawing at the file's rate (limit 0.5)"
else
    echo "FAIL: $share of a core drawing at the file's rate (limit 0.5)"
    status=1
fi
"$bench" fast "$clip"
"$bench" lines
"$bench" canvas
exit "${status:-0}"
