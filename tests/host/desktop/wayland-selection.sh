#!/bin/sh
# The selected text on a real Wayland compositor (sway, headless), with Qt's Wayland platform:
# set by wl-copy as a program holding a selection sets it, then shared with --selection, read
# through wl-paste: exactly its bytes land in the import folder; with nothing selected, nothing is
# sent and the reason is told (status 2). Without wl-paste the selection cannot be read (the
# compositor offers it only to the program with the keyboard): nothing is sent, and the reason
# names what to install. sway refuses to run as root, so as root the compositor and the program run as
# nobody.
#
#   wayland-selection.sh PROGRAM
set -u
program=$1
for tool in sway wl-copy wl-paste; do
    command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
plugins=$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' 2>/dev/null | head -n 1)
[ -n "$plugins" ] || { echo "skipped: Qt's Wayland platform (qt6-wayland) is not installed"; exit 77; }

work=$(mktemp -d)
chmod 755 "$work"
as=""
if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || { echo "skipped: as root, setpriv is needed to run sway as nobody"; exit 77; }
    as="setpriv --reuid=nobody --regid=nogroup --clear-groups"
    chown nobody "$work"
    $as test -x "$program" ||
        { echo "skipped: nobody cannot run $program (its folders are closed to other users)"; rm -rf "$work"; exit 77; }
fi
compositor=""
cleanup() {
    [ -n "$compositor" ] && kill "$compositor" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "wayland-selection: $*" >&2; exit 1; }

runtime=$work/runtime
$as mkdir -m 700 "$runtime"
printf 'xwayland disable\n' >"$work/sway.conf"
# Only what the compositor and the program need: no X display to fall back on.
run() {
    $as env -i PATH="$path" HOME="$work" XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-quorvane \
        QUORVANE_CONTAINER_ROOT="$work/root" LANG=C.UTF-8 "$@"
}
path=/usr/local/bin:/usr/bin:/bin
$as env -i PATH="$path" HOME="$work" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
compositor=$!
# sway names its socket wayland-N; the tests name it by a link of their own.
tries=0
until socket=$(ls "$runtime" 2>/dev/null | grep -m 1 '^wayland-[0-9]*$'); do
    tries=$((tries + 1))
    [ $tries -le 100 ] || fail "sway did not start: $(tail -n 5 "$work/sway.log")"
    kill -0 "$compositor" 2>/dev/null || fail "sway stopped: $(tail -n 5 "$work/sway.log")"
    sleep 0.1
done
$as ln -s "$socket" "$runtime/wayland-quorvane"

imported=$work/root/group.app.quorvane.teleprompter/regular/imported
printf 'Selected on Wayland \342\234\223\r\nsecond\tline, no end ' >"$work/text"
chmod 644 "$work/text"
run wl-copy --primary <"$work/text" || fail "wl-copy could not set the selection"
run "$program" --selection --send >"$work/out" 2>"$work/err" || fail "exit status $?: $(cat "$work/err")"
set -- "$imported"/*
[ $# -eq 1 ] && [ "$1" = "$(cat "$work/out")" ] ||
    fail "the import folder holds $*; the outcome names $(cat "$work/out")"
cmp -s "$1" "$work/text" || fail "the saved text differs from the selection: $(od -c "$1" | head -n 4)"
rm -f "$1"
echo "wayland-selection: the selection was sent exactly"

# The same selection, and no wl-paste to find (an empty folder as the whole PATH).
mkdir -m 755 "$work/bin"
path=$work/bin
status=0
run "$program" --selection --send >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "without wl-paste: exit status $status: $(cat "$work/err")"
grep -q "install wl-clipboard" "$work/err" || fail "without wl-paste: $(cat "$work/err")"
[ -z "$(ls "$imported")" ] || fail "without wl-paste, a text was saved"
echo "wayland-selection: without wl-paste: $(cat "$work/err")"

# Nothing selected: no text, nothing sent, the reason told.
path=/usr/local/bin:/usr/bin:/bin
run wl-copy --primary --clear
status=0
run "$program" --selection --send >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "with nothing selected: exit status $status: $(cat "$work/err")"
grep -q "no text is selected" "$work/err" || fail "with nothing selected: $(cat "$work/err")"
[ -z "$(ls "$imported")" ] || fail "with nothing selected, a text was saved"
echo "wayland-selection: nothing selected: $(cat "$work/err")"
