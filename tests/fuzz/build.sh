#!/bin/sh
# Builds the two libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) into build-fuzz/, and writes a starting corpus when there is none.
# Run:  build-fuzz/fuzz_mesh tests/fuzz/corpus_mesh -max_total_time=180
#       build-fuzz/fuzz_jpeg tests/fuzz/corpus_jpeg -max_total_time=180 -rss_limit_mb=2048
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${OUT:-$ROOT/build-fuzz}
CXX=${CXX:-clang++}
mkdir -p "$OUT"
FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT"
TJ=$(pkg-config --cflags --libs libturbojpeg)
BLOCKS=""
[ -f "$ROOT/display/blocks.cpp" ] && BLOCKS="$ROOT/display/blocks.cpp"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_mesh.cpp" "$ROOT/assets/mesh.cpp" "$ROOT/assets/files.cpp" -o "$OUT/fuzz_mesh"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_jpeg.cpp" "$ROOT/assets/images.cpp" "$ROOT/assets/files.cpp" $BLOCKS $TJ \
  -o "$OUT/fuzz_jpeg"
for kind in mesh jpeg; do
  mkdir -p "$ROOT/tests/fuzz/corpus_$kind"
done
if [ -z "$(ls -A "$ROOT/tests/fuzz/corpus_mesh")" ] || [ -z "$(ls -A "$ROOT/tests/fuzz/corpus_jpeg")" ]; then
  $CXX -std=c++20 -O1 -I"$ROOT" "$ROOT/tests/fuzz/make_seeds.cpp" $TJ -o "$OUT/make_seeds"
  "$OUT/make_seeds" "$ROOT/tests/fuzz/corpus_mesh" "$ROOT/tests/fuzz/corpus_jpeg"
fi
echo "built $OUT/fuzz_mesh and $OUT/fuzz_jpeg"
