#!/bin/sh
# Pictures of the teleprompter for the README, drawn on a virtual X display (Xvfb) with Qt's X11
# platform: the library with its editor (and a text just sent, taken in before the first frame),
# prompting a script with sections and cues, prompting mirrored for beam-splitter glass, and the
# settings window.
#
#   scripts/prompter-screenshots.sh [FOLDER]
#
# FOLDER defaults to docs/. Everything happens in a temporary home: no settings or scripts of
# the person running it are read or changed.
set -eu
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane-prompter
program=build/default/bin/quorvane-prompter
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

scripts="$home/home/Teleprompter"
imported="$home/root/group.app.quorvane.teleprompter/regular/imported"
mkdir -p "$scripts" "$imported"
chmod 700 "$scripts"
# Scripts already in the library, oldest first, then one sent from the share sheet.
printf 'Quarterly results\nRevenue grew by eight per cent, led by the northern region.\n' \
    >"$scripts/Quarterly results.txt"
sleep 1
printf 'Wedding toast\nTo the two people who taught us all how to laugh at rain.\n' \
    >"$scripts/Wedding toast.txt"
sleep 1
cp resources/sample.txt "$imported/6F1C2E0A-8B4D-4E5F-9A1B-2C3D4E5F6A7B"
# A script with a section heading and cues, as a presenter writes one.
talk="$home/Quarterly talk.txt"
printf '%s\n' 'Quarterly results' '# Opening' \
    'Good morning, everyone. [smile] Thank you for coming, and for the questions you sent ahead.' \
    '# The numbers' \
    'Revenue grew by eight per cent [slide 2] led by the northern region, where the new stores opened in spring.' \
    >"$talk"

shoot() {
    env HOME="$home/home" QUORVANE_CONTAINER_ROOT="$home/root" XDG_DATA_HOME="$home/data" \
        XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$program" --window "$@" >/dev/null
}
shoot --screenshot "$out/prompter-library.png"
shoot --prompt "$talk" --font-size 56 --speed 150 --screenshot "$out/prompter.png"
shoot --prompt resources/sample.txt --font-size 56 --speed 150 --mirror horizontal \
    --screenshot "$out/prompter-mirrored.png"
shoot --settings --screenshot "$out/prompter-settings.png"
echo "Pictures in $out/: prompter-library.png prompter.png prompter-mirrored.png prompter-settings.png"
