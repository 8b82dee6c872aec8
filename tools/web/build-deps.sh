#!/bin/sh
# Builds the libraries the show links (mpg123, libjpeg-turbo's TurboJPEG,
# libsndfile, FreeType, zlib and libpng) as static WebAssembly libraries with
# -pthread, from Debian's own source packages, so that the browser decodes as
# the native build.
#
# Usage: tools/web/build-deps.sh [CACHE]
#   CACHE (default: build-web/deps in the project) receives the source
#   packages in src/, the build trees and logs in build/ and the results in
#   prefix/ (include/, lib/, lib/pkgconfig/). A library already in prefix/ is
#   not built again.
set -e

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
CACHE=${1:-$ROOT/build-web/deps}
mkdir -p "$CACHE"
CACHE=$(cd "$CACHE" && pwd)
SRC=$CACHE/src
BUILD=$CACHE/build
PREFIX=$CACHE/prefix
JOBS=2
FLAGS="-O2 -pthread"
if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
started=$(date +%s)
mkdir -p "$SRC" "$BUILD" "$PREFIX"
# Relative paths any build step makes up land in the cache, never elsewhere.
cd "$CACHE"

# Tools: emscripten (the compiler), dpkg-dev (apt-get source unpacks with
# dpkg-source), cmake/make/pkg-config for the builds, node to run emcc itself.
missing=""
for p in emscripten dpkg-dev cmake make pkg-config; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# emcc runs on node: Debian's JavaScript modules live in /usr/share/nodejs,
# and node 20's built-in fetch breaks the emscripten 3.1.6 runtime it loads.
export NODE_PATH=/usr/share/nodejs
case " ${NODE_OPTIONS:-} " in
  *" --no-experimental-fetch "*) ;;
  *) export NODE_OPTIONS="${NODE_OPTIONS:+$NODE_OPTIONS }--no-experimental-fetch" ;;
esac

# Runs a command with its output in a log file; shows the log's end if it fails.
logged() {
  log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "Failed: $* (full log: $log)" >&2
    exit 1
  fi
}

# Adds deb-src entries beside the machine's Debian entries (same addresses,
# suites, components and keys) in files of our own, unless some exist.
# Only Debian archives ("/debian..." in the address) carry source packages.
add_deb_src() {
  lists=$(ls /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
  deb822=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  if { [ -n "$lists" ] && grep -qs '^[[:space:]]*deb-src[[:space:]]' $lists; } ||
     { [ -n "$deb822" ] && grep -qsi '^Types:.*deb-src' $deb822; }; then
    return 0
  fi
  tmp=$(mktemp -d)
  : >"$tmp/list"; : >"$tmp/sources"
  # One-line format: "deb [options] URI suite components" becomes "deb-src ...".
  [ -n "$lists" ] &&
    sed -n 's|^[[:space:]]*deb[[:space:]]\(.*/debian[-a-z]*/\{0,1\}[[:space:]].*\)$|deb-src \1|p' $lists >"$tmp/list"
  # deb822 format, one stanza a paragraph: enabled "deb" stanzas of Debian
  # archives are copied with "Types: deb-src"; comment lines are dropped.
  [ -n "$deb822" ] && awk 'BEGIN { RS = ""; FS = "\n" }
    {
      keep = 0; enabled = 1; out = ""
      for (i = 1; i <= NF; i++) {
        line = $i
        if (line ~ /^#/) continue
        if (tolower(line) ~ /^types:/ && line ~ /[[:space:]]deb([[:space:]]|$)/) { keep++; line = "Types: deb-src" }
        if (tolower(line) ~ /^uris:/ && line ~ /\/debian[-a-z]*\/?([[:space:]]|$)/) keep++
        if (tolower(line) ~ /^enabled:[[:space:]]*no/) enabled = 0
        out = out line "\n"
      }
      if (keep == 2 && enabled) printf "%s\n", out
    }' $deb822 >"$tmp/sources"
  if [ ! -s "$tmp/list" ] && [ ! -s "$tmp/sources" ]; then
    echo "No Debian archive in the apt sources to take source packages from" >&2
    rm -rf "$tmp"; exit 1
  fi
  echo "Adding deb-src entries in /etc/apt/sources.list.d/velkor-deb-src.*"
  [ -s "$tmp/list" ] && $SUDO cp "$tmp/list" /etc/apt/sources.list.d/velkor-deb-src.list
  [ -s "$tmp/sources" ] && $SUDO cp "$tmp/sources" /etc/apt/sources.list.d/velkor-deb-src.sources
  rm -rf "$tmp"
  $SUDO apt-get update -qq
}

# Sets $dir to the unpacked source of package $1, fetching it once into $SRC
# (dpkg-source applies Debian's patches while unpacking).
sources_ready=""
fetch() {
  pkg=$1
  dir=$(find "$SRC" -maxdepth 1 -type d -name "$pkg-[0-9]*" | sort -V | tail -n 1)
  [ -n "$dir" ] && return 0
  if [ -z "$sources_ready" ]; then
    add_deb_src
    # deb-src entries may exist while their index was never downloaded.
    apt-cache showsrc "$pkg" 2>/dev/null | grep -q '^Package:' || $SUDO apt-get update -qq
    sources_ready=1
  fi
  # The versions the indexes offer, newest first. A mirror may lag behind its
  # own index (a security update listed whose files are not there yet): the
  # next version down is then taken.
  versions=$(apt-cache showsrc "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | sort -u -V -r)
  [ -n "$versions" ] || { echo "$pkg: no source package in the apt indexes" >&2; exit 1; }
  dsc=""
  for v in $versions; do
    file="$SRC/${pkg}_$(echo "$v" | sed 's/^[0-9]*://').dsc"
    # apt-get checks each file it downloads against the signed index. Some
    # mirrors lack the upstream signatures (*.asc) the .dsc also names: a
    # failed download is accepted when only those are missing.
    (cd "$SRC" && apt-get source --download-only -qq "$pkg=$v" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2) || true
    check=""; complete=""
    if [ -f "$file" ]; then
      complete=1
      for f in $(sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* //p' "$file"); do
        [ -f "$SRC/$f" ] && continue
        case $f in
          *.asc) check="--no-check" ;;
          *) echo "$pkg $v: $f could not be downloaded" >&2; complete="" ;;
        esac
      done
    fi
    if [ -n "$complete" ]; then dsc=$file; break; fi
    # An incomplete version leaves no .dsc behind to be taken for a later one.
    rm -f "$file"
    echo "$pkg $v: not complete on the mirror, trying the previous version"
  done
  [ -n "$dsc" ] || { echo "$pkg: no version of the source package could be downloaded" >&2; exit 1; }
  [ -n "$check" ] && echo "$pkg: upstream signature missing on the mirror, unpacking without it"
  (cd "$SRC" && logged "$BUILD/$pkg.unpack.log" dpkg-source -x $check "$dsc")
  dir=$(find "$SRC" -maxdepth 1 -type d -name "$pkg-[0-9]*" | sort -V | tail -n 1)
}

# Configures, builds and installs a CMake project for emscripten with the
# options all share: cross-compiled checks run under node, and the results go
# into the one prefix, libraries in lib/. The directories are typed PATH and
# relative: an untyped value would be made absolute from the current directory.
wasm_cmake() {
  src=$1; bld=$2; shift 2
  rm -rf "$bld"
  logged "$bld.configure.log" emcmake cmake -S "$src" -B "$bld" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node -DCMAKE_BUILD_TYPE=None "-DCMAKE_C_FLAGS=$FLAGS" \
    "-DCMAKE_INSTALL_PREFIX=$PREFIX" -DCMAKE_INSTALL_LIBDIR:PATH=lib -DCMAKE_INSTALL_INCLUDEDIR:PATH=include "$@"
  logged "$bld.build.log" cmake --build "$bld" -j$JOBS
  logged "$bld.install.log" cmake --install "$bld"
}

# Checks that a step left its library in the prefix, and notes its time.
report=""
step_done() {
  [ -f "$PREFIX/lib/$2" ] || { echo "$1: $PREFIX/lib/$2 was not installed" >&2; exit 1; }
  report="$report  $1: $(( $(date +%s) - $3 ))s
"
}

# mpg123: autotools. The generic floating-point decoder (no x86 assembly);
# only the library matters, so no audio output modules and no network code.
if [ ! -f "$PREFIX/lib/libmpg123.a" ]; then
  t=$(date +%s); fetch mpg123
  echo "Building mpg123 from $dir"
  rm -rf "$BUILD/mpg123"; mkdir -p "$BUILD/mpg123"; cd "$BUILD/mpg123"
  logged "$BUILD/mpg123.configure.log" env CFLAGS="$FLAGS" emconfigure "$dir/configure" --prefix="$PREFIX" \
    --disable-shared --enable-static --with-cpu=generic_fpu --with-audio=dummy \
    --enable-modules=no --enable-network=no
  logged "$BUILD/mpg123.build.log" emmake make -j$JOBS
  logged "$BUILD/mpg123.install.log" emmake make install
  cd "$CACHE"
  step_done mpg123 libmpg123.a "$t"
fi

# libjpeg-turbo: CMake, without the SIMD code (x86/ARM assembly only); the
# show calls the TurboJPEG API.
if [ ! -f "$PREFIX/lib/libturbojpeg.a" ]; then
  t=$(date +%s); fetch libjpeg-turbo
  echo "Building libjpeg-turbo from $dir"
  wasm_cmake "$dir" "$BUILD/libjpeg-turbo" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=ON
  step_done libjpeg-turbo libturbojpeg.a "$t"
fi

# libsndfile: CMake, with its built-in formats (WAV among them) only; the
# external codecs (FLAC, Ogg, Opus, MP3) are neither needed nor built.
if [ ! -f "$PREFIX/lib/libsndfile.a" ]; then
  t=$(date +%s); fetch libsndfile
  echo "Building libsndfile from $dir"
  wasm_cmake "$dir" "$BUILD/libsndfile" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF -DBUILD_REGTEST=OFF
  step_done libsndfile libsndfile.a "$t"
fi

# zlib: its own configure script (not autoconf), static only; `make libz.a`
# leaves out the example programs that `make` would also build.
if [ ! -f "$PREFIX/lib/libz.a" ]; then
  t=$(date +%s); fetch zlib
  echo "Building zlib from $dir"
  rm -rf "$BUILD/zlib"; mkdir -p "$BUILD/zlib"; cd "$BUILD/zlib"
  logged "$BUILD/zlib.configure.log" env CFLAGS="$FLAGS" emconfigure "$dir/configure" --static \
    --prefix="$PREFIX" --libdir="$PREFIX/lib" --includedir="$PREFIX/include"
  logged "$BUILD/zlib.build.log" emmake make -j$JOBS libz.a
  logged "$BUILD/zlib.install.log" emmake make install
  cd "$CACHE"
  step_done zlib libz.a "$t"
fi

# FreeType: CMake, on the wasm zlib above (its own copy of zlib would clash
# with that in a program that links both) and with no other optional
# dependency (bzip2, PNG, HarfBuzz, Brotli): the dialog renders the outlines
# of a TrueType font only. A FreeType built with its own zlib is built again.
if [ ! -f "$PREFIX/lib/libfreetype.a" ] || ! grep -q zlib "$PREFIX/lib/pkgconfig/freetype2.pc"; then
  t=$(date +%s); fetch freetype
  echo "Building FreeType from $dir"
  wasm_cmake "$dir" "$BUILD/freetype" -DBUILD_SHARED_LIBS=OFF \
    -DFT_DISABLE_ZLIB=FALSE -DFT_REQUIRE_ZLIB=TRUE \
    "-DZLIB_LIBRARY:FILEPATH=$PREFIX/lib/libz.a" "-DZLIB_INCLUDE_DIR:PATH=$PREFIX/include" \
    -DFT_DISABLE_BZIP2=TRUE -DFT_DISABLE_PNG=TRUE \
    -DFT_DISABLE_HARFBUZZ=TRUE -DFT_DISABLE_BROTLI=TRUE
  step_done freetype libfreetype.a "$t"
fi

# libpng: CMake, static only, without its programs and tests, linked against
# the wasm zlib above: its library and headers are named outright, so that
# neither the system's zlib nor an emscripten port can be found instead. The
# hardware optimizations are SIMD code for other processors.
if [ ! -f "$PREFIX/lib/libpng16.a" ]; then
  t=$(date +%s); fetch libpng1.6
  echo "Building libpng from $dir"
  wasm_cmake "$dir" "$BUILD/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
    "-DZLIB_LIBRARY:FILEPATH=$PREFIX/lib/libz.a" "-DZLIB_INCLUDE_DIR:PATH=$PREFIX/include"
  grep -qF "Found ZLIB: $PREFIX/lib/libz.a" "$BUILD/libpng.configure.log" ||
    { echo "libpng: zlib was not taken from $PREFIX (see $BUILD/libpng.configure.log)" >&2; exit 1; }
  step_done libpng libpng16.a "$t"
fi

# The show's build finds the libraries through pkg-config in the prefix alone
# (PKG_CONFIG_LIBDIR, never the system's .pc files); static links need
# `pkg-config --static`, which adds the zlib that libpng requires.
for m in libmpg123 libturbojpeg sndfile freetype2 zlib libpng; do
  PKG_CONFIG_LIBDIR=$PREFIX/lib/pkgconfig pkg-config --exists "$m" ||
    { echo "pkg-config does not find $m in $PREFIX/lib/pkgconfig" >&2; exit 1; }
done

# The versions in the prefix, from the Debian source packages they came from
# (upstream version first).
echo "Static wasm libraries (-pthread) in $PREFIX:"
for pkg in mpg123 libjpeg-turbo libsndfile freetype zlib libpng1.6; do
  debian=$(sed -n 's/^Version: //p' "$SRC/${pkg}_"*.dsc 2>/dev/null | sort -V | tail -n 1)
  upstream=$(echo "$debian" | sed 's/^[0-9]*://; s/-[^-]*$//; s/[+.]dfsg.*//')
  echo "  $pkg ${upstream:-?} (Debian source ${debian:-?})"
done
[ -z "$report" ] || printf "Built now:\n%s" "$report"
echo "Took $(( $(date +%s) - started ))s"
