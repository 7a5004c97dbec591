#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need.
# Only missing packages are installed, so a prepared machine pays nothing.
# Extra packages for one target (the fuzzers' clang) come as arguments.
set -eu

PACKAGES="
build-essential
cmake
ninja-build
lld
pkg-config
libgtest-dev
libgmock-dev
libbenchmark-dev
libsqlite3-dev
qt6-base-dev
qt6-base-dev-tools
libgl-dev
libavcodec-dev
libavformat-dev
libavutil-dev
libswscale-dev
libswresample-dev
ffmpeg
libasound2-dev
libgsm1-dev
sndfile-programs
xvfb
xauth
fonts-ipafont-gothic
time
$*
"

missing=""
for p in $PACKAGES; do
    if ! dpkg -s "$p" >/dev/null 2>&1; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "install-deps: installing$missing"
SUDO=""
if [ "$(id -u)" != "0" ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $missing
