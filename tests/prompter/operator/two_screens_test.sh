#!/bin/sh
# The operator's window on a real X server with two screens (Xvfb, Qt's X11 platform): prompting
# on the second screen (--screen 1) puts the operator's window on the first and nothing but the
# prompt on the second; Escape pressed in the operator's window (the keys it does not use go to
# the prompt) ends the prompt, and the operator's window goes.
set -u
program=$1
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
pid=
fail() { echo "two_screens_test: $*" >&2; exit 1; }
command -v xdotool >/dev/null || { echo "skipped: xdotool is not installed"; exit 77; }
mkdir -p "$work/home/Teleprompter" "$work/root"
chmod 700 "$work/home/Teleprompter"
printf 'Evening news\n# The river\nThe river rose by two metres.\n' >"$work/home/Teleprompter/Evening news.txt"
export HOME="$work/home" QUORVANE_CONTAINER_ROOT="$work/root" XDG_DATA_HOME="$work/data" \
    XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24 -screen 1 800x600x24" sh -c '
    "$1" --screen 1 --prompt "$2" 2>"$3/err" &
    pid=$!
    display=${DISPLAY%.*}
    found() { DISPLAY="$display.0" xdotool search --screen "$1" --onlyvisible --name "$2" 2>/dev/null | head -n 1; }
    i=0
    while [ -z "$(found 0 "^Operator")" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    operator=$(found 0 "^Operator")
    [ -n "$operator" ] || { echo "no operator window on the first screen: $(cat "$3/err")"; kill $pid; exit 1; }
    [ -n "$(found 1 "Evening news")" ] || { echo "the prompt is not on the second screen"; kill $pid; exit 1; }
    [ -z "$(found 1 "^Operator")" ] || { echo "the operator window shows on the presenter screen"; kill $pid; exit 1; }
    [ -z "$(found 0 "Evening news")" ] || { echo "the prompt shows on the operator screen"; kill $pid; exit 1; }
    DISPLAY="$display.0" xdotool key --window "$operator" Escape
    i=0
    while [ -n "$(found 0 "^Operator")" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -z "$(found 0 "^Operator")" ] || { echo "Escape did not end the prompt"; kill $pid; exit 1; }
    kill $pid
' sh "$program" "$work/home/Teleprompter/Evening news.txt" "$work" || fail "see above"
echo "two_screens_test: passed"
