#!/bin/sh
# Installs what the browser tests need: Debian's Chromium (/usr/bin/chromium)
# and puppeteer-core, which drives it over the DevTools protocol and brings no
# browser of its own. Does nothing that is already done.
#
# Usage: tools/web/install-browser.sh [DIR]
#   DIR (default: build-web in the project) receives node_modules/, installed
#   from tests/web/package.json and its package-lock.json with `npm ci`, so
#   every package has the version and checksum in the lock. The tests find
#   puppeteer-core there (tests/web/lib.mjs; WEB_NODE_DIR names another DIR).
set -e

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIR=${1:-$ROOT/build-web}
LOCKS=$ROOT/tests/web
if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi

# Chromium from Debian; without the recommended packages (the setuid sandbox,
# desktop services), which headless runs with --no-sandbox do without. node
# and npm come from Debian too when the machine has none.
missing=""
[ -x /usr/bin/chromium ] || missing="chromium"
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
command -v npm >/dev/null 2>&1 || missing="$missing npm"
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# Debian's launcher script may print a complaint of its own about /dev/shm on
# some machines: its stderr is shown only when the browser does not start.
if ! version=$(/usr/bin/chromium --version 2>/dev/null); then
  /usr/bin/chromium --version >&2 || true
  echo "/usr/bin/chromium does not start" >&2
  exit 1
fi
echo "$version"

# puppeteer-core, again only when DIR lacks the locked versions: the lock
# copied into DIR at the last install must equal the committed one, and the
# installed puppeteer-core must be the one it names.
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
want=$(node -e 'console.log(require(process.argv[1]).packages["node_modules/puppeteer-core"].version)' "$LOCKS/package-lock.json")
have=$(node -e 'try { console.log(require(process.argv[1]).version) } catch { console.log("") }' "$DIR/node_modules/puppeteer-core/package.json")
if [ "$have" != "$want" ] || ! cmp -s "$LOCKS/package-lock.json" "$DIR/package-lock.json" ||
   ! cmp -s "$LOCKS/package.json" "$DIR/package.json"; then
  echo "Installing puppeteer-core $want in $DIR/node_modules"
  cp "$LOCKS/package.json" "$LOCKS/package-lock.json" "$DIR/"
  # No download of a browser happens: puppeteer-core has no install script,
  # and the variables keep any other package from fetching one.
  PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROME_DOWNLOAD=1 \
    npm ci --prefix "$DIR" --no-audit --no-fund --loglevel=error
fi
echo "puppeteer-core $want in $DIR/node_modules"
