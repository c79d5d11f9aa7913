#!/bin/sh
# Installs the browser automation library the browser extension's test drives Debian's
# Chromium with (playwright-core, pinned; it brings no browser: the test uses /usr/bin/chromium)
# into BUILD_DIR/node_modules. Does nothing when that version is there already.
#
#   scripts/browser-test-deps.sh BUILD_DIR
set -eu
version=1.65.2
build=$1
# Two browser tests may start at once (ctest --parallel): one installs, the other waits for it.
mkdir -p "$build/node"
if command -v flock >/dev/null 2>&1; then
    exec 9>"$build/node/.install-lock"
    flock 9
fi
installed=$build/node/node_modules/playwright-core/package.json
if [ -f "$installed" ] && grep -q "\"version\": \"$version\"" "$installed"; then
    exit 0
fi
command -v npm >/dev/null || { echo "browser-test-deps: npm is missing (scripts/setup.sh test installs it)" >&2; exit 1; }
mkdir -p "$build/node"
cd "$build/node"
[ -f package.json ] || printf '{"name": "quorvane-browser-test", "private": true}\n' >package.json
# No browser download: playwright-core never fetches one, and the scripts of dependencies are
# not run.
npm install --no-audit --no-fund --ignore-scripts --save-exact "playwright-core@$version" >npm.log 2>&1 ||
    { cat npm.log >&2; echo "browser-test-deps: npm could not install playwright-core@$version" >&2; exit 1; }
