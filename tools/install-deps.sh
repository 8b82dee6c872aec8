#!/bin/sh
# Installs the Debian packages the build, the tests and the show need, when
# any is missing: apt-get as root, through sudo otherwise.
set -e
PACKAGES="cmake ninja-build g++ pkg-config make \
  libsdl2-dev libsdl2-ttf-dev libasound2-dev libfontconfig-dev fonts-dejavu-core \
  libturbojpeg0-dev libpng-dev libmpg123-dev libsndfile1-dev libfreetype-dev libmp3lame-dev \
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libsimde-dev \
  libgtest-dev libbenchmark-dev libx11-dev libxtst-dev xvfb"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
