#!/bin/sh
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) into build-fuzz/; the corpora are kept here, next to this file.
#   fuzz_mesh    the .3d mesh reader
#   fuzz_jpeg    the picture path
#   fuzz_wav     the audio library's WAV path (libsndfile, the resampler)
#   fuzz_mp3     the audio library's MP3 path (libmpg123, the windowed reader)
#   fuzz_dialog  the dialog-template parser, the layout, the dialog rules and the painting
# Run (one job each; -close_fd_mask=2 silences the readers' own messages,
# sanitizer reports still show):
#   build-fuzz/fuzz_mesh tests/fuzz/corpus_mesh build-fuzz/seeds_mesh_large -max_len=200000 -max_total_time=300
#   build-fuzz/fuzz_jpeg tests/fuzz/corpus_jpeg -max_total_time=180 -rss_limit_mb=2048
#   ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=256 \
#     build-fuzz/fuzz_wav tests/fuzz/corpus_wav -max_total_time=300 -close_fd_mask=2
#   build-fuzz/fuzz_mp3 tests/fuzz/corpus_mp3 -max_total_time=300 -close_fd_mask=2
#   build-fuzz/fuzz_dialog tests/fuzz/corpus_dialog -max_total_time=300
# fuzz_mesh needs -max_len=200000: a mesh with more vertices than the tables
# hold (kMaxMeshVertices) takes more than 180,000 bytes. Such meshes are
# written to build-fuzz/seeds_mesh_large by every build rather than kept in
# the corpus folder.
# EXTRA_FLAGS is added to the targets' flags, e.g. to have one known kind of
# report printed but not fatal while fuzzing on:
#   EXTRA_FLAGS=-fsanitize-recover=nonnull-attribute OUT=build-fuzz-recover sh tests/fuzz/build.sh
# After a run, keep the corpus small: merge into a fresh folder and use that,
#   build-fuzz/fuzz_wav -merge=1 NEW_DIR tests/fuzz/corpus_wav
set -e
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT=${OUT:-$ROOT/build-fuzz}
CXX=${CXX:-clang++}
mkdir -p "$OUT"
FLAGS="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$ROOT ${EXTRA_FLAGS:-}"
TJ=$(pkg-config --cflags --libs libturbojpeg)
AUDIO=$(pkg-config --cflags --libs sndfile libmpg123)
BLOCKS=""
[ -f "$ROOT/display/blocks.cpp" ] && BLOCKS="$ROOT/display/blocks.cpp"
FILES="$ROOT/assets/files.cpp $ROOT/platform/win/files.cpp"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_mesh.cpp" "$ROOT/assets/mesh.cpp" $FILES -o "$OUT/fuzz_mesh"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_jpeg.cpp" "$ROOT/assets/images.cpp" $FILES $BLOCKS $TJ -o "$OUT/fuzz_jpeg"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_wav.cpp" "$ROOT/platform/bass/decode.cpp" "$ROOT/platform/bass/resample.cpp" \
  "$ROOT/platform/win/files.cpp" $AUDIO \
  -o "$OUT/fuzz_wav"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_mp3.cpp" "$ROOT/platform/bass/decode.cpp" "$ROOT/platform/bass/resample.cpp" \
  "$ROOT/platform/win/files.cpp" $AUDIO \
  -o "$OUT/fuzz_mp3"
$CXX $FLAGS "$ROOT/tests/fuzz/fuzz_dialog.cpp" "$ROOT/platform/win/dialog.cpp" "$ROOT/platform/win/dialog_paint.cpp" \
  "$ROOT/resources/resources.cpp" $(pkg-config --cflags --libs freetype2) -o "$OUT/fuzz_dialog"

$CXX -std=c++20 -O1 -I"$ROOT" "$ROOT/tests/fuzz/make_seeds.cpp" $TJ -o "$OUT/make_seeds"
rm -rf "$OUT/seeds_mesh_large"
mkdir -p "$OUT/seeds_mesh_large"
"$OUT/make_seeds" "$OUT/seeds_mesh_large"
echo "built in $OUT: fuzz_mesh fuzz_jpeg fuzz_wav fuzz_mp3 fuzz_dialog"
