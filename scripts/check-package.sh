#!/bin/sh
# Builds the Debian package in a build folder and checks what it holds: both
# programs and lum, the compression manager module, the desktop entry and its
# icon, and the dependencies declared.
# usage: scripts/check-package.sh BUILD-DIR
set -eu
build=${1:?usage: check-package.sh BUILD-DIR}
cd "$build"
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
deb=$(ls -t snapreel_*.deb | head -n 1)
contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
status=0
for f in ./usr/bin/snapreel ./usr/bin/snapreel-cli ./usr/bin/lum ./usr/lib/snapreel/liblumacm.so \
    ./usr/share/applications/snapreel.desktop \
    ./usr/share/icons/hicolor/64x64/apps/snapreel.png; do
    if ! printf '%s\n' "$contents" | grep -qx "$f"; then
        echo "missing from $deb: $f" >&2
        status=1
    fi
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libavcodec libavformat libswscale libswresample libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    if ! printf '%s\n' "$depends" | grep -q "$d"; then
        echo "$deb does not depend on $d: $depends" >&2
        status=1
    fi
done
[ "$(dpkg-deb -f "$deb" Package)" = snapreel ] || { echo "wrong package name" >&2; status=1; }
[ $status -eq 0 ] && echo "$deb: $(printf '%s\n' "$contents" | grep -c .) entries, depends on $depends"
exit $status
