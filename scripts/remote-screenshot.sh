#!/bin/sh
# Draws the README's picture of the phone remote (docs/remote-page.png): the page in Debian's
# Chromium, headless, at a phone's size (390x844 at twice the density), driving a prompter on
# loopback, as its test does (tests/prompter/remote/remote_page_test.mjs).
#
#   scripts/remote-screenshot.sh
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane-prompter >/dev/null
scripts/browser-test-deps.sh "$PWD/build/default"
node tests/prompter/remote/remote_page_test.mjs "$PWD/build/default/bin/quorvane-prompter" \
    "$PWD/build/default/node" "$PWD/docs/remote-page.png"
