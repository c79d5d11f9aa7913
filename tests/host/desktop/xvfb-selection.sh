#!/bin/sh
# The selected text (the primary selection, set as a program holding a selection sets it, by
# xclip and by xsel) shared with --selection on a real X server (Xvfb): exactly its bytes land in
# the import folder; with nothing selected, nothing is sent and the reason is told (status 2).
#
#   xvfb-selection.sh PROGRAM
set -u
program=$1
for tool in xclip xsel xvfb-run; do
    command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUORVANE_CONTAINER_ROOT="$work/root" QT_QPA_PLATFORM=xcb PROGRAM="$program" WORK="$work"

xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    fail() { echo "xvfb-selection: $*" >&2; exit 1; }
    imported=$QUORVANE_CONTAINER_ROOT/group.app.quorvane.teleprompter/regular/imported
    n=0
    for setter in "xclip -selection primary -i" "xsel --primary --input"; do
        n=$((n + 1))
        printf "Selected with %s \342\234\223\r\nsecond\tline, no end " "${setter%% *}" >"$WORK/text$n"
        $setter <"$WORK/text$n"
        "$PROGRAM" --selection --send >"$WORK/out" 2>"$WORK/err" ||
            fail "${setter%% *}: exit status $?: $(cat "$WORK/err")"
        set -- "$imported"/*
        [ $# -eq 1 ] && [ "$1" = "$(cat "$WORK/out")" ] ||
            fail "${setter%% *}: the import folder holds $*; the outcome names $(cat "$WORK/out")"
        cmp -s "$1" "$WORK/text$n" || fail "${setter%% *}: the saved text differs from the selection"
        mv "$1" "$WORK/sent$n"
        echo "xvfb-selection: the selection set by ${setter%% *} was sent exactly"
    done
    # Nothing selected: no text, nothing sent, the reason told.
    xsel --primary --clear
    xclip -selection primary -i </dev/null
    status=0
    "$PROGRAM" --selection --send >"$WORK/out" 2>"$WORK/err" || status=$?
    [ "$status" -eq 2 ] || fail "with nothing selected: exit status $status: $(cat "$WORK/err")"
    grep -q "no text is selected" "$WORK/err" || fail "with nothing selected: $(cat "$WORK/err")"
    [ -z "$(ls "$imported")" ] || fail "with nothing selected, a text was saved"
    echo "xvfb-selection: nothing selected: $(cat "$WORK/err")"
'
