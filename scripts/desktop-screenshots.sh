#!/bin/sh
# Pictures of the desktop window for the README, drawn on a virtual X display (Xvfb) with Qt's
# X11 platform: the share sheet light and dark with our sample text, and the controls window.
#
#   scripts/desktop-screenshots.sh [FOLDER]
#
# FOLDER defaults to docs/. Nothing is shared: the sheet is closed after its picture, in a
# temporary container.
set -eu
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane-share-desktop
program=build/default/bin/quorvane-share-desktop
container=$(mktemp -d)
trap 'rm -rf "$container"' EXIT

shoot() {
    QUORVANE_CONTAINER_ROOT="$container" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@" >/dev/null
}
# --close ends the share after the picture: status 1, a cancellation, is expected.
shoot --close --appearance light --text-size Large --screenshot "$out/desktop-light.png" resources/sample.txt || [ $? -eq 1 ]
shoot --close --appearance dark --text-size Large --screenshot "$out/desktop-dark.png" resources/sample.txt || [ $? -eq 1 ]
shoot --controls --appearance light --screenshot "$out/desktop-controls.png"
echo "Pictures in $out/: desktop-light.png desktop-dark.png desktop-controls.png"
