#!/bin/sh
# Times the rasterizer's two pixel loops in WebAssembly against the native
# build, in one run: builds bench/web/bench_render_web.cpp (the reference
# scene at 640 x 480 on the renderer's workers) with emcc and with the native
# compiler, runs the two in turns (native, node, native, node, ...) and says
# whether WebAssembly draws the native picture bit for bit. The page
# bench_render_web.html runs the same program in a browser (served with
# Cross-Origin-Opener-Policy: same-origin and Cross-Origin-Embedder-Policy:
# require-corp, for the threads); it prints to the page and the console.
#
# Usage: tools/web/bench-render.sh [TURNS [ROUNDS [PASSES]]]
#   TURNS (default 3) runs of each program, alternating; each runs ROUNDS
#   rounds (default 9) of PASSES passes (default 10) per loop.
# Environment: OUT (default build-web/bench-render in the project), where the
#   programs go; DEPS (default build-web/deps/prefix, as tools/web/build-deps.sh
#   leaves it), the WebAssembly FreeType the dialog code links.
set -e

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${OUT:-$ROOT/build-web/bench-render}
DEPS=${DEPS:-$ROOT/build-web/deps/prefix}
TURNS=${1:-3}
ROUNDS=${2:-9}
PASSES=${3:-10}
JOBS=$(nproc)
mkdir -p "$OUT/wasm" "$OUT/native"
[ -f "$DEPS/lib/libfreetype.a" ] || { echo "no $DEPS/lib/libfreetype.a: run tools/web/build-deps.sh, or set DEPS" >&2; exit 1; }

# emcc runs on node: Debian's JavaScript modules live in /usr/share/nodejs,
# and node 20's built-in fetch breaks the emscripten 3.1.6 runtime.
export NODE_PATH=/usr/share/nodejs
case " ${NODE_OPTIONS:-} " in
  *" --no-experimental-fetch "*) ;;
  *) export NODE_OPTIONS="${NODE_OPTIONS:+$NODE_OPTIONS }--no-experimental-fetch" ;;
esac

# What the render bench links of the show: the portable layers it draws with
# and the virtual backend. In WebAssembly the backend's PNG writer is left out
# (there is no libpng for it); the bench never writes a file.
cd "$ROOT"
SOURCES=$(ls platform/rm/*.cpp platform/ddraw/*.cpp platform/win/*.cpp platform/virtual/*.cpp)
WASM_SOURCES=$(echo "$SOURCES" | grep -v platform/virtual/png_writer.cpp)

# The same floating-point arithmetic as the native build (no fused multiply
# and add); SSE4.2 is emscripten's SSE headers, which map to wasm SIMD (the
# rasterizer needs them). SIMD Everywhere's headers come from /usr/include,
# searched after emscripten's own.
WASM_FLAGS="-std=c++20 -O3 -msimd128 -msse4.2 -pthread -ffp-contract=off -fno-math-errno"
WASM_INCLUDES="-I$ROOT -I$DEPS/include/freetype2 -idirafter /usr/include"
WASM_LINK="-sMINIFY_HTML=0 -sPROXY_TO_PTHREAD -sPTHREAD_POOL_SIZE=8 -sINITIAL_MEMORY=268435456 -sEXIT_RUNTIME"
# As CMake builds them (RelWithDebInfo without the debug information).
NATIVE_FLAGS="-std=c++20 -O2 -DNDEBUG -ffp-contract=off -pthread"
NATIVE_INCLUDES="-I$ROOT $(pkg-config --cflags freetype2 libpng)"

export OUT WASM_FLAGS WASM_INCLUDES NATIVE_FLAGS NATIVE_INCLUDES

echo "Building in $OUT"
rm -f "$OUT"/wasm/*.o "$OUT"/native/*.o "$OUT"/wasm/*.a "$OUT"/native/*.a
# sh has no exported functions: each compile is a small shell command.
printf '%s\n' $WASM_SOURCES bench/web/bench_render_web.cpp | xargs -P "$JOBS" -I{} sh -c \
  'emcc $WASM_FLAGS $WASM_INCLUDES -c "$1" -o "$OUT/wasm/$(echo "$1" | tr / _ | sed "s/\.cpp\$/.o/")"' sh {}
printf '%s\n' $SOURCES bench/web/bench_render_web.cpp | xargs -P "$JOBS" -I{} sh -c \
  'extra=""; [ "$1" = platform/rm/raster.cpp ] && extra="-O3 -fno-math-errno";
   c++ $NATIVE_FLAGS $extra $NATIVE_INCLUDES -c "$1" -o "$OUT/native/$(echo "$1" | tr / _ | sed "s/\.cpp\$/.o/")"' sh {}

# Libraries of the layers, so that only what the bench calls is linked.
emar rcs "$OUT/wasm/layers.a" $(ls "$OUT"/wasm/platform_*.o)
ar rcs "$OUT/native/layers.a" $(ls "$OUT"/native/platform_*.o)
# The trace's writer (png_writer.cpp) is the one thing left undefined: it is
# called only when a trace file is set. Anything else undefined is an error.
emcc $WASM_FLAGS $WASM_LINK -sERROR_ON_UNDEFINED_SYMBOLS=0 "$OUT/wasm/bench_web_bench_render_web.o" \
  "$OUT/wasm/layers.a" "$DEPS/lib/libfreetype.a" -o "$OUT/wasm/bench_render_web.html" 2> "$OUT/wasm/link.log" \
  || { cat "$OUT/wasm/link.log" >&2; exit 1; }
if grep "undefined symbol" "$OUT/wasm/link.log" | grep -v "undefined symbol: _Z11vtOutputEnd" >&2; then exit 1; fi
c++ $NATIVE_FLAGS "$OUT/native/bench_web_bench_render_web.o" "$OUT/native/layers.a" \
  $(pkg-config --libs freetype2 libpng) -o "$OUT/native/bench_render_web"

echo "Processor: $(grep -m1 "model name" /proc/cpuinfo | sed 's/.*: //'), $(nproc) processors"
status=0
turn=1
while [ "$turn" -le "$TURNS" ]; do
  echo "--- turn $turn: native"
  "$OUT/native/bench_render_web" "$ROUNDS" "$PASSES" | tee "$OUT/native.txt" || status=1
  echo "--- turn $turn: WebAssembly in node $(node --version)"
  node "$OUT/wasm/bench_render_web.js" "$ROUNDS" "$PASSES" | tee "$OUT/wasm.txt" || status=1
  turn=$((turn + 1))
done
if [ "$(grep '^picture' "$OUT/native.txt")" = "$(grep '^picture' "$OUT/wasm.txt")" ]; then
  echo "WebAssembly draws the native pictures bit for bit"
else
  echo "WebAssembly and native pictures differ" >&2
  status=1
fi
exit $status
