#!/bin/sh
# Draws the README's picture of the operator's window (docs/prompter-operator.png): a prompter on
# a virtual X display with two screens (Xvfb), prompting on the second (--screen 1) with the
# remote on, so the operator's window takes the first; the first screen is photographed as it
# shows, a few seconds into the take.
#
#   scripts/operator-screenshot.sh [FOLDER]
#
# FOLDER defaults to docs/. PROMPTER names a program already built (otherwise the default preset
# builds it). Everything happens in a temporary home: no settings or scripts of
# the person running it are read or changed.
set -eu
cd "$(dirname "$0")/.."
out="${1:-docs}"
mkdir -p "$out"
scripts/setup.sh
program=${PROMPTER:-}
if [ -z "$program" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target quorvane-prompter >/dev/null
    program=$PWD/build/default/bin/quorvane-prompter
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/home/Teleprompter" "$home/root"
chmod 700 "$home/home/Teleprompter"
script="$home/home/Teleprompter/Quarterly talk.txt"
printf '%s\n' 'Quarterly talk' '# Opening' \
    'Good morning, everyone. [smile] Thank you for coming, and for the questions you sent ahead.' \
    'We have a lot to cover this morning, so let us begin with where we stand.' \
    '# The numbers' \
    'Revenue grew by eight per cent [slide 2] led by the northern region, where the new stores opened in spring.' \
    'Costs rose by less than we planned, thanks to the work of the logistics team.' \
    '# What comes next' \
    'Next quarter we open four more stores and bring the online shop to two new countries.' \
    '# Questions' 'Thank you. [pause] I am happy to take your questions now.' >"$script"
export HOME="$home/home" QUORVANE_CONTAINER_ROOT="$home/root" XDG_DATA_HOME="$home/data" \
    XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=xcb QUORVANE_REMOTE_TOKEN=3f9c0e4b7a1d2c5e8f60718293a4b5c6
xvfb-run -a -s "-screen 0 1280x800x24 -screen 1 1280x720x24" sh -c '
    "$1" --screen 1 --font-size 56 --speed 150 --remote 127.0.0.1:8765 --prompt "$2" >/dev/null &
    program=$!
    sleep 6
    import -display "${DISPLAY%.*}.0" -window root "$3"
    kill "$program"
' sh "$program" "$script" "$out/prompter-operator.png"
echo "Picture in $out/prompter-operator.png"
