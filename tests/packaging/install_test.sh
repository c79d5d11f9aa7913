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
    # The readers of the import folder (the receiver, the teleprompter) never load the platform
    # stand-in: they have no line for it; one that needs it and misses it has "not found".
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

# Installing never changes which program opens a text file. Private XDG folders: a text editor
# "installed" in one data folder, our prefix in another (searched first, as /usr/local is before
# /usr), each folder's MIME cache made as a package's trigger makes it. The default for
# text/plain, asked as a freedesktop desktop (xdg-mime) and a GNOME one (gio) ask, is the same
# with our files as without, whether the person chose the editor, chose nothing, or has no
# editor at all; and the file managers' actions offer Send to Teleprompter for text files.
[ -f "$prefix/share/applications/app.quorvane.teleprompter.share.desktop" ] || {
    echo "defaults: skipped (the desktop window is not built here)"
    exit 0
}
for tool in xdg-mime update-desktop-database; do
    command -v $tool >/dev/null || fail "$tool is missing (scripts/setup.sh test installs it)"
done
xdg=$work/xdg
mkdir -p "$xdg/home" "$xdg/config" "$xdg/editor/applications" "$xdg/mime-only"
# The system's MIME database (text/plain and its parents), without the system's applications.
ln -s /usr/share/mime "$xdg/mime-only/mime"
cat >"$xdg/editor/applications/org.example.Editor.desktop" <<'ENTRY'
[Desktop Entry]
Type=Application
Name=Editor
Exec=true %f
MimeType=text/plain;
ENTRY
update-desktop-database "$prefix/share/applications"
update-desktop-database "$xdg/editor/applications"
# The default application for text/plain through TOOL, with DATA_DIRS as the system's folders.
default_for_text() {
    tool=$1
    data_dirs=$2
    env -i PATH="$PATH" HOME="$xdg/home" XDG_CONFIG_HOME="$xdg/config" XDG_CONFIG_DIRS="$xdg/config" \
        XDG_DATA_HOME="$xdg/home" XDG_DATA_DIRS="$data_dirs" XDG_CURRENT_DESKTOP=X-Test sh -c '
        case $0 in
            xdg-mime) xdg-mime query default text/plain ;;
            gio) gio mime text/plain 2>/dev/null | sed -n "s/^Default application for .*: //p" ;;
        esac' "$tool"
}
tools=xdg-mime
command -v gio >/dev/null && tools="$tools gio"
for chosen in editor nothing; do
    for editor in installed absent; do
        [ $chosen = editor ] && [ $editor = absent ] && continue
        rm -f "$xdg/config/mimeapps.list"
        [ $chosen = editor ] &&
            printf '[Default Applications]\ntext/plain=org.example.Editor.desktop;\n' >"$xdg/config/mimeapps.list"
        without=$xdg/mime-only
        [ $editor = installed ] && without=$xdg/editor:$without
        for tool in $tools; do
            before=$(default_for_text $tool "$without")
            after=$(default_for_text $tool "$prefix/share:$without")
            [ "$before" = "$after" ] || fail "$tool: installing changed the default for text/plain" \
                "from '$before' to '$after' (person chose $chosen, editor $editor)"
            case $before in
                *quorvane*) fail "$tool: the share window is the default for text/plain" ;;
            esac
        done
        echo "defaults: text/plain opens with '${before:-nothing}' with and without our files (chose $chosen, editor $editor; $tools)"
    done
done
for action in kio/servicemenus/app.quorvane.teleprompter.share.desktop \
    nemo/actions/app.quorvane.teleprompter.share.nemo_action; do
    grep -qE '^Mime[Tt]ypes?=(.*;)?text/plain;' "$prefix/share/$action" ||
        fail "$action does not offer text files"
    grep -qE '^Exec=quorvane-share-desktop ' "$prefix/share/$action" ||
        fail "$action does not run quorvane-share-desktop"
done
