#!/bin/sh
# The share of one core that decoding a 10-minute 44.1 kHz stereo MS ADPCM
# file takes in the sound chain, measured by lum_bench_adcvt, and by
# /usr/bin/time over `lum wave play --device virtual` of a 20-second file
# (the whole program: device, clock and chain).
# usage: adcvt_play.sh LUM_BENCH_ADCVT LUM MEDIA_DIR
set -eu
bench=$1
lum=$2
media=$3
mkdir -p "$media"
long="$media/adcvt-10min-msadpcm.wav"
short="$media/adcvt-20s-msadpcm.wav"
[ -f "$long" ] || ffmpeg -v error -y -f lavfi -i "sine=f=440:d=600:r=44100" -ac 2 -c:a adpcm_ms "$long"
[ -f "$short" ] || ffmpeg -v error -y -f lavfi -i "sine=f=440:d=20:r=44100" -ac 2 -c:a adpcm_ms "$short"
"$bench" "$long"
/usr/bin/time -f "lum wave play of 20 s: %U s user, %S s system, %P of one core" \
    "$lum" wave play "$short" --device virtual >/dev/null
