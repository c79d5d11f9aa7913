#!/bin/sh
# The teleprompter end to end on a real X server (Xvfb) with Qt's X11 platform: a text waiting in
# the import folder is taken into ~/Teleprompter before the library's first picture (a script of
# the old folder moved in beside it), and a
# file is prompted, mirrored, its first frame written as a picture; both runs end with status 0.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "xvfb-prompt: $*" >&2; exit 1; }
run() {
    env HOME="$work/home" QUORVANE_CONTAINER_ROOT="$work/root" XDG_DATA_HOME="$work/data" \
        XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@" 2>"$work/err"
}
is_png() { [ "$(head -c 8 "$1" | od -An -c | tr -d ' ')" = '211PNG\r\n032\n' ]; }

imported=$work/root/group.app.quorvane.teleprompter/regular/imported
mkdir -p "$imported"
printf 'Evening news\nThe bridge reopens tonight.\n' >"$work/sent"
mkdir -p "$work/data/quorvane/scripts" && chmod 700 "$work/data/quorvane/scripts"
printf 'Kept before\n' >"$work/data/quorvane/scripts/Kept before.txt"
mv "$work/sent" "$imported/6F1C2E0A-8B4D-4E5F-9A1B-2C3D4E5F6A7B"
run --screenshot "$work/library.png" || fail "library: exit status $?: $(cat "$work/err")"
is_png "$work/library.png" || fail "library: no PNG screenshot"
[ -f "$work/home/Teleprompter/Evening news.txt" ] || fail "the sent text was not taken in"
[ -z "$(ls -A "$imported")" ] || fail "the import folder still holds: $(ls -A "$imported")"
[ "$(cat "$work/home/Teleprompter/Kept before.txt")" = "Kept before" ] ||
    fail "the old folder's script did not move in"
[ -z "$(ls -A "$work/data/quorvane/scripts")" ] || fail "the old folder still holds scripts"

printf 'Good evening.\n\nThe river rose by two metres, and the old bridge closed at noon.\n' >"$work/speech.txt"
run --prompt "$work/speech.txt" --mirror horizontal --speed 160 --screenshot "$work/prompt.png" ||
    fail "prompt: exit status $?: $(cat "$work/err")"
is_png "$work/prompt.png" || fail "prompt: no PNG screenshot"
[ "$(stat -c %s "$work/prompt.png")" -gt 5000 ] || fail "prompt: the picture is nearly empty"
run --prompt "$work/missing.txt" --screenshot "$work/none.png" && fail "a missing script was reported as success"
grep -q "missing.txt" "$work/err" || fail "a missing script was not named: $(cat "$work/err")"
# A screenshot is never written through a link: the target stays as it was, the run fails.
printf 'keep me\n' >"$work/target"
ln -s "$work/target" "$work/link.png"
run --screenshot "$work/link.png" && fail "a screenshot through a link was reported as written"
[ "$(cat "$work/target")" = "keep me" ] || fail "the link's target was overwritten"
grep -q "symbolic link" "$work/err" || fail "the link was not named: $(cat "$work/err")"

# A FIFO as the settings file does not hold the start (the run would hang without a writer).
mkdir -p "$work/config/quorvane"
mkfifo "$work/config/quorvane/prompter.conf"
timeout 20 env HOME="$work/home" QUORVANE_CONTAINER_ROOT="$work/root" XDG_DATA_HOME="$work/data" \
    XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 640x480x24" "$program" --screenshot "$work/fifo.png" 2>"$work/err" ||
    fail "a FIFO as the settings file: exit status $?: $(cat "$work/err")"
is_png "$work/fifo.png" || fail "a FIFO as the settings file: no screenshot"

# The help, the version and a usage error need no display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$work/help" 2>"$work/err" ||
    fail "--help without a display: exit status $?: $(cat "$work/err")"
grep -q -- "--screenshot" "$work/help" || fail "--help without a display printed no help"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version | grep -q "quorvane-prompter" ||
    fail "--version without a display"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --speed fast 2>"$work/err"
[ $? -eq 2 ] || fail "a usage error without a display did not exit 2"
grep -q -- "--speed" "$work/err" || fail "a usage error without a display was not named"

echo "xvfb-prompt: took a sent text in and prompted a file through the X11 window"
