#!/bin/sh
# Builds the retained-mode tests (tests/test_rm.cpp: the reference pictures,
# and the check that both pixel loops and any number of workers draw the same
# picture) for WebAssembly with GoogleTest from Debian's sources
# (/usr/src/googletest), and runs them in node.
#
# Usage: tools/web/test-rm.sh [GTEST_ARGUMENTS...]
# Environment: OUT (default build-web/test-rm in the project), where the
#   program goes; DEPS (default build-web/deps/prefix, as
#   tools/web/build-deps.sh leaves it), the show's libraries for WebAssembly.
set -e

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${OUT:-$ROOT/build-web/test-rm}
DEPS=${DEPS:-$ROOT/build-web/deps/prefix}
GTEST=/usr/src/googletest/googletest
JOBS=$(nproc)
[ -f "$DEPS/lib/libfreetype.a" ] || { echo "no $DEPS/lib/libfreetype.a: run tools/web/build-deps.sh, or set DEPS" >&2; exit 1; }
[ -f "$GTEST/src/gtest-all.cc" ] || { echo "no GoogleTest sources in $GTEST (Debian's googletest)" >&2; exit 1; }
mkdir -p "$OUT"

export NODE_PATH=/usr/share/nodejs
case " ${NODE_OPTIONS:-} " in
  *" --no-experimental-fetch "*) ;;
  *) export NODE_OPTIONS="${NODE_OPTIONS:+$NODE_OPTIONS }--no-experimental-fetch" ;;
esac

# The show and the virtual backend without its PNG writer (no libpng for
# WebAssembly; these tests write no file), flags as in tools/web/bench-render.sh.
cd "$ROOT"
SOURCES=$(ls shell/*.cpp display/*.cpp direction/*.cpp scene/*.cpp assets/*.cpp audio/*.cpp resources/*.cpp \
  platform/win/*.cpp platform/ddraw/*.cpp platform/rm/*.cpp platform/bass/*.cpp platform/virtual/*.cpp |
  grep -v platform/virtual/png_writer.cpp)
FLAGS="-std=c++20 -O3 -msimd128 -msse4.2 -pthread -ffp-contract=off -fno-math-errno"
INCLUDES="-I$ROOT -I$ROOT/tests -I$DEPS/include -I$DEPS/include/freetype2 -I$GTEST/include -I$GTEST -idirafter /usr/include"
export OUT FLAGS INCLUDES

echo "Building in $OUT"
rm -f "$OUT"/*.o "$OUT"/*.a
printf '%s\n' $SOURCES tests/test_rm.cpp "$GTEST/src/gtest-all.cc" "$GTEST/src/gtest_main.cc" | xargs -P "$JOBS" -I{} sh -c \
  'emcc $FLAGS $INCLUDES -c "$1" -o "$OUT/$(basename "$(dirname "$1")")_$(basename "$1" .cc).o"' sh {}
emar rcs "$OUT/show.a" $(ls "$OUT"/*.o | grep -v -e /tests_test_rm -e /src_gtest)
# The trace's writer (png_writer.cpp) is the one thing left undefined: it is
# called only when a trace file is set. Anything else undefined is an error.
emcc $FLAGS -sPROXY_TO_PTHREAD -sPTHREAD_POOL_SIZE=8 -sINITIAL_MEMORY=536870912 -sEXIT_RUNTIME -sNODERAWFS \
  -sERROR_ON_UNDEFINED_SYMBOLS=0 "$OUT/tests_test_rm.cpp.o" "$OUT/src_gtest-all.o" "$OUT/src_gtest_main.o" \
  "$OUT/show.a" "$DEPS/lib/libmpg123.a" "$DEPS/lib/libsndfile.a" "$DEPS/lib/libturbojpeg.a" "$DEPS/lib/libfreetype.a" \
  -o "$OUT/test_rm.js" 2> "$OUT/link.log" || { cat "$OUT/link.log" >&2; exit 1; }
if grep "undefined symbol" "$OUT/link.log" | grep -v "undefined symbol: _Z11vtOutputEnd" >&2; then exit 1; fi

node "$OUT/test_rm.js" "$@"
