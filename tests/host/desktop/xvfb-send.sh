#!/bin/sh
# The desktop program end to end on a real X server (Xvfb) with Qt's X11 platform: a file is
# shared with --send, the window's screenshot is written before acting, exactly the file's bytes
# land in the import folder, and the outcome says so with exit status 0.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "xvfb-send: $*" >&2; exit 1; }

printf 'Evening news\r\nfirst line \342\200\224 with a dash\n' >"$work/note"
QUORVANE_CONTAINER_ROOT="$work/root" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$program" --send --json --screenshot "$work/sheet.png" "$work/note" >"$work/out.json" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/err")"
grep -q '"outcome": "completed"' "$work/out.json" || fail "outcome: $(cat "$work/out.json")"
set -- "$work"/root/group.app.quorvane.teleprompter/regular/imported/*
[ "$#" -eq 1 ] && [ -f "$1" ] || fail "expected one file in the import folder, found: $*"
cmp -s "$1" "$work/note" || fail "the file differs from the text sent"
grep -q "$(basename "$1")" "$work/out.json" || fail "the outcome does not name the file"
[ "$(head -c 8 "$work/sheet.png" | od -An -c | tr -d ' ')" = '211PNG\r\n032\n' ] || fail "no PNG screenshot"
echo "xvfb-send: sent $(basename "$1") through the X11 window"
