#!/bin/sh
# The receiver's systemd user units as installed: with the prefix given only at install time
# (`cmake --install BUILD --prefix ~/.local`, as the README suggests, and a prefix holding a
# space and a '%'), they land in a folder the user's service manager reads, clean under
# systemd-analyze verify (no error, no warning), and the service runs the installed receiver by
# its absolute path: its command, split as systemd splits it, delivers a sent text into
# ~/Teleprompter. Skipped where systemd is not installed.
#
#   units_test.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1
build=$2
command -v systemd-analyze >/dev/null ||
    { echo "skipped: systemd-analyze is not installed (systemd)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
units=$source_dir/packaging/systemd

# Installed disabled: nothing in the package enables them; only [Install] says where they go.
grep -qx 'WantedBy=default.target' "$units/quorvane-receive.path" || fail "the path unit has no [Install]"
grep -qx 'Type=oneshot' "$units/quorvane-receive.service" || fail "the service is not oneshot"

home=$work/home
mkdir -p "$work/runtime" "$home"
chmod 700 "$work/runtime"
for prefix in "$home/.local" "$work/odd prefix%i"; do
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log" >&2; fail "installing into '$prefix' failed"; }
    unit_dir=$prefix/share/systemd/user
    [ -f "$unit_dir/quorvane-receive.service" ] && [ -f "$unit_dir/quorvane-receive.path" ] ||
        fail "installing into '$prefix' put no units in $unit_dir"
    [ ! -e "$prefix/lib/systemd" ] || fail "installing into '$prefix' left units in lib/systemd, where the user's manager never looks"
    # The folder is one the user's service manager reads: ~/.local/share by default, and
    # PREFIX/share once PREFIX/share is among the data folders, as for /usr/local.
    XDG_RUNTIME_DIR=$work/runtime HOME=$home XDG_DATA_DIRS="$prefix/share:/usr/share" \
        systemd-analyze --user unit-paths 2>/dev/null | grep -qxF "$unit_dir" ||
        fail "the user's service manager does not read $unit_dir"
    XDG_RUNTIME_DIR=$work/runtime HOME=$home MANPATH=$prefix/share/man \
        systemd-analyze --user verify "$unit_dir/quorvane-receive.path" \
        "$unit_dir/quorvane-receive.service" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "systemd-analyze verify failed for '$prefix'"; }
    [ ! -s "$work/verify.log" ] || { cat "$work/verify.log" >&2; fail "systemd-analyze verify warned for '$prefix'"; }

    # The folder the path unit watches is the one the service reads and the share sheet writes.
    watched=$(sed -n 's/^DirectoryNotEmpty=//p' "$unit_dir/quorvane-receive.path" | sed "s|%h|$home|g")
    root=$(sed -n 's/^Environment=QUORVANE_CONTAINER_ROOT=//p' "$unit_dir/quorvane-receive.service" |
        sed "s|%h|$home|g")
    [ "$watched" = "$root/group.app.quorvane.teleprompter/regular/imported" ] ||
        fail "the path unit watches $watched, the service reads $root"
    [ "$root" = "$home/.local/share/quorvane/app-groups" ] ||
        fail "the units' container root $root is not the default one"
    mkdir -p "$watched"
    printf 'From the service\nbody' >"$watched/DAD5E5C1-6D0A-45C5-BF5A-A17800E7A647"
    # The command as systemd reads it: %h is the home folder, %i (this unit is no template)
    # nothing, %% a '%', double quotes group.
    line=$(sed -n 's/^ExecStart=//p' "$unit_dir/quorvane-receive.service" |
        sed "s|%%|@PERCENT@|g; s|%h|$home|g; s|%i||g; s|@PERCENT@|%|g")
    eval "set -- $line"
    [ "$1" = "$prefix/bin/quorvane-receive" ] || fail "the service runs '$1', not the installed $prefix/bin/quorvane-receive"
    rm -rf "$home/Teleprompter"
    env -i PATH=/usr/bin:/bin QUORVANE_CONTAINER_ROOT="$root" "$@" >"$work/run.log" 2>&1 ||
        { cat "$work/run.log" >&2; fail "the service's command failed"; }
    [ "$(cat "$home/Teleprompter/From the service.txt")" = "$(printf 'From the service\nbody')" ] ||
        fail "the service's command did not deliver into ~/Teleprompter"
    [ -z "$(ls -A "$watched")" ] || fail "the import folder is not empty after the service ran"
    echo "units installed under '$prefix' verified; the service delivered into ~/Teleprompter"
done
