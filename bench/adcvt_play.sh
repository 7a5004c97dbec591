#!/bin/sh
# The share of one core that decoding a 10-minute 44.1 kHz stereo MS ADPCM
# file takes while it plays, three ways:
#  - lum_bench_adcvt: the processor time of pulling the whole file through
#    the source and TLumADPCMConverter, as a share of its playing time;
#  - `lum wave play --device virtual --meter` of the same file: the load
#    meter's mean (the output's buffer work, decoding included) and
#    /usr/bin/time over the whole program (device clock, chain, progress);
#  - beside it, at the same time, the same tone as 16-bit PCM played the same
#    way: the program's cost without decoding, so the difference of the two
#    /usr/bin/time figures is what decoding adds.
# Both plays run in real time (10 minutes). The machine's load average is
# printed before and after: other work on the machine shows in the figures.
# usage: adcvt_play.sh LUM_BENCH_ADCVT LUM MEDIA_DIR
#   PLAY_SECONDS=n  a shorter play (default 600)
set -eu
bench=$1
lum=$2
media=$3
seconds=${PLAY_SECONDS:-600}
mkdir -p "$media"
long="$media/adcvt-10min-msadpcm.wav"
[ -f "$long" ] || ffmpeg -v error -y -f lavfi -i "sine=f=440:d=600:r=44100" -ac 2 -c:a adpcm_ms "$long"
adpcm="$media/adcvt-${seconds}s-msadpcm.wav"
[ "$seconds" = 600 ] && adpcm="$long"
pcm="$media/adcvt-${seconds}s-pcm.wav"
[ -f "$adpcm" ] || ffmpeg -v error -y -f lavfi -i "sine=f=440:d=$seconds:r=44100" -ac 2 -c:a adpcm_ms "$adpcm"
[ -f "$pcm" ] || ffmpeg -v error -y -f lavfi -i "sine=f=440:d=$seconds:r=44100" -ac 2 -c:a pcm_s16le "$pcm"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
"$bench" "$long"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
/usr/bin/time -f "%U %S %e" -o "$out/adpcm.time" \
    "$lum" wave play "$adpcm" --device virtual --meter >"$out/adpcm.out" 2>/dev/null &
adpcm_pid=$!
/usr/bin/time -f "%U %S %e" -o "$out/pcm.time" \
    "$lum" wave play "$pcm" --device virtual --meter >"$out/pcm.out" 2>/dev/null &
pcm_pid=$!
wait $adpcm_pid
wait $pcm_pid

report() { # label output time
    read -r user sys wall <"$3"
    meter=$(sed -n 's/^Load: //p' "$2")
    awk -v l="$1" -v u="$user" -v s="$sys" -v w="$wall" -v m="$meter" 'BEGIN {
        printf "%-22s %6.2f s user %6.2f s system over %7.1f s: %.3f %% of one core; load meter %s\n",
            l, u, s, w, 100 * (u + s) / w, m }'
}
echo "lum wave play --device virtual of ${seconds} s, both at once:"
report "MS ADPCM (decoding):" "$out/adpcm.out" "$out/adpcm.time"
report "16-bit PCM (none):" "$out/pcm.out" "$out/pcm.time"
read -r au as aw <"$out/adpcm.time"
read -r pu ps pw <"$out/pcm.time"
awk -v a="$au" -v b="$as" -v c="$aw" -v d="$pu" -v e="$ps" -v f="$pw" 'BEGIN {
    printf "decoding adds (time, ADPCM - PCM): %.3f %% of one core\n", 100 * ((a + b) / c - (d + e) / f) }'
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
