#!/bin/sh
# An installed tree is relocatable: installed into a temporary prefix and moved elsewhere, the
# host still finds its platform library (run paths relative to itself) and its extension bundle
# (relative to its own folder), with no environment variable pointing at either, and sends.
#
#   install_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved

# The build tree is still there, so a run path pointing into it would hide a tree that only
# works in place: each program and the bundle's module must resolve the platform library inside
# the moved tree.
for object in "$prefix"/bin/* "$prefix"/lib/quorvane/QuorvaneShareExt.appex/*.so; do
    resolved=$(env -u LD_LIBRARY_PATH ldd "$object" | awk '$1 == "libquorvane_platform.so" {print $3}')
    # A program that does without the library (the receiver) has no line for it; one that
    # needs it and misses it has "not found".
    [ -n "$resolved" ] || continue
    case $resolved in
        "$prefix"/*) ;;
        *) fail "${object#"$prefix"/} finds libquorvane_platform.so at '$resolved', not in the moved tree" ;;
    esac
done

printf 'Moved, and still sending\nsecond line, no line end' >"$work/text.txt"
status=0
env -u QUORVANE_EXTENSION_BUNDLE -u LD_LIBRARY_PATH QUORVANE_CONTAINER_ROOT="$work/containers" \
    "$prefix/bin/quorvane-share" --send "$work/text.txt" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/out" >&2; fail "the moved quorvane-share --send exited $status"; }
imported=$work/containers/group.app.quorvane.teleprompter/regular/imported
set -- "$imported"/*
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one sent file in $imported, found: $*"
cmp -s "$1" "$work/text.txt" || fail "the sent file does not hold the text byte for byte"
echo "installed tree moved to $prefix sent $(basename "$1")"
