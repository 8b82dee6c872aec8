#!/bin/sh
# Checks that the wasm libraries of build-deps.sh decode as the native build:
# check-decoders.c is built natively against Debian's -dev libraries and with
# emcc (-pthread) against the wasm prefix, both decode the same JPEG, MP3 and
# WAV files and render the same text with FreeType, and their outputs are
# compared byte for byte.
#
# Usage: tools/web/check-decoders.sh [CACHE]
#   CACHE as for build-deps.sh (default: build-web/deps in the project); the
#   programs and outputs go to CACHE/check. MP3_SECONDS (default 10, 0 for
#   the whole file), DATA (default: the project's DATA) and FONT may be set.
# Exits 1 if any output differs.
set -e

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
CACHE=${1:-$ROOT/build-web/deps}
CACHE=$(cd "$CACHE" && pwd)
PREFIX=$CACHE/prefix
OUT=$CACHE/check
DATA=${DATA:-$ROOT/DATA}
FONT=${FONT:-/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf}
MP3_SECONDS=${MP3_SECONDS:-10}
[ -f "$PREFIX/lib/libmpg123.a" ] || { echo "No wasm libraries in $PREFIX: run build-deps.sh first" >&2; exit 1; }

# emcc runs on node (see build-deps.sh).
export NODE_PATH=/usr/share/nodejs
case " ${NODE_OPTIONS:-} " in
  *" --no-experimental-fetch "*) ;;
  *) export NODE_OPTIONS="${NODE_OPTIONS:+$NODE_OPTIONS }--no-experimental-fetch" ;;
esac

rm -rf "$OUT"
mkdir -p "$OUT/native" "$OUT/wasm" "$OUT/native-generic"

# Native: Debian's shared libraries, as the show links them.
cc -O2 -std=c11 "$HERE/check-decoders.c" -o "$OUT/check-native" \
  $(pkg-config --cflags --libs libturbojpeg libmpg123 sndfile freetype2)
# Browser: the static wasm libraries. -pthread as in the show (objects with
# shared-memory atomics link only into a -pthread program); NODERAWFS lets the
# program read and write the real files when run under node.
emcc -O2 -std=c11 -pthread "$HERE/check-decoders.c" -o "$OUT/check-wasm.js" \
  -I"$PREFIX/include" -I"$PREFIX/include/freetype2" \
  "$PREFIX/lib/libturbojpeg.a" "$PREFIX/lib/libmpg123.a" "$PREFIX/lib/libsndfile.a" "$PREFIX/lib/libfreetype.a" \
  -sNODERAWFS=1 -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1 -Wno-pthreads-mem-growth

run() {
  dir=$1; shift
  "$@" "$OUT/$dir" "$FONT" "$MP3_SECONDS" "$DATA/menu.wav" "$DATA/music.mp3" "$DATA"/*.jpg >"$OUT/$dir.txt" 2>&1 ||
    { cat "$OUT/$dir.txt" >&2; exit 1; }
  sed -n 's/^mpg123 decoder: /  mpg123 synthesis: /p' "$OUT/$dir.txt"
}
echo "native:"; run native "$OUT/check-native"
echo "wasm (node $(node --version)):"; run wasm node "$OUT/check-wasm.js"
# The native run again with mpg123's portable C synthesis, to tell the
# decoder's choice of code path apart from the compilers.
echo "native, generic mpg123 synthesis:"; CHECK_MP3_DECODER=generic run native-generic "$OUT/check-native"

# Byte for byte, every output of the wasm run against the native one.
echo "wasm against native:"
status=0
for f in "$OUT"/native/*; do
  name=$(basename "$f")
  printf "  %-20s " "$name"
  "$OUT/check-native" --compare "$f" "$OUT/wasm/$name" || status=1
done
printf "  %-20s " "music.mp3.s16 (both generic)"
"$OUT/check-native" --compare "$OUT/native-generic/music.mp3.s16" "$OUT/wasm/music.mp3.s16" || true
[ $status = 0 ] && echo "All outputs identical." || echo "Some outputs differ."
exit $status
