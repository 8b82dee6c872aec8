#!/bin/sh
# Installs what the cross build for 64-bit ARM and its emulated tests need,
# when any is missing: the native packages (install-deps.sh), Debian's cross
# compiler, qemu's user-mode emulator, Python 3 (the shot comparison) and the
# arm64 builds of the same libraries beside the native ones (multiarch).
# apt-get as root, through sudo otherwise.
set -e
sh "$(dirname "$0")/install-deps.sh"
if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

NATIVE="crossbuild-essential-arm64 qemu-user python3"
# The libraries are the -dev packages that install-deps.sh names, but SIMD
# Everywhere's, which is headers only and serves every architecture.
ARM64=$(sed -n '/^PACKAGES="/,/"/p' "$(dirname "$0")/install-deps.sh" | tr -d '"\\' |
  sed 's/^PACKAGES=//' | tr -s ' ' '\n' | grep -e '-dev$' | grep -vx libsimde-dev)
missing=""
for p in $NATIVE; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
for p in $ARM64; do
  dpkg-query -W -f='${Status}' "$p:arm64" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p:arm64"
done
[ -z "$missing" ] && exit 0

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "Adding the arm64 architecture to dpkg"
  $SUDO dpkg --add-architecture arm64
fi
echo "Installing:$missing"
# The native and arm64 builds of a library must be the same version: apt
# brings the native one up to the arm64 one where they differ.
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
