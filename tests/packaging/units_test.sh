#!/bin/sh
# The receiver's systemd user units as installed: with the prefix given only at install time
# (`cmake --install BUILD --prefix ~/.local`, as the README suggests, and a prefix holding a
# space and a '%'), they land in a folder the user's service manager reads, clean under
# systemd-analyze verify (no error, no warning), and the service runs the installed receiver by
# its absolute path: its command, run as systemd runs it (tests/packaging/run_unit.py), delivers
# a sent text into ~/Teleprompter, and into the library folder the teleprompter's settings name
# once they name another. Skipped where systemd is not installed.
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
    # The service run as the service manager runs it: its environment, its environment file,
    # its command with the specifiers and variables expanded.
    service=$unit_dir/quorvane-receive.service
    rm -rf "$home/Teleprompter" "$home/.config"
    python3 "$source_dir/tests/packaging/run_unit.py" "$service" "$home" >"$work/run.log" 2>&1 ||
        { cat "$work/run.log" >&2; fail "the service's command failed"; }
    grep -qF "'$prefix/bin/quorvane-receive'" "$work/run.log" ||
        { cat "$work/run.log" >&2; fail "the service does not run the installed $prefix/bin/quorvane-receive"; }
    [ "$(cat "$home/Teleprompter/From the service.txt")" = "$(printf 'From the service\nbody')" ] ||
        fail "the service's command did not deliver into ~/Teleprompter"
    [ -z "$(ls -A "$watched")" ] || fail "the import folder is not empty after the service ran"

    # Another library folder chosen in the teleprompter's settings: the teleprompter tells the
    # unit at its start, and the service delivers there, a folder with spaces,
    # quotes, a dollar sign and a percent sign in its name too.
    if [ -x "$build/bin/quorvane-prompter" ]; then
        library="$home/My \"Talks\" \$HOME 100%"
        mkdir -p "$home/.config/quorvane" "$work/empty-root"
        python3 - "$home/.config/quorvane/prompter.conf" "$library" <<'PY'
import sys
value = sys.argv[2].replace("\\", "\\\\").replace('"', '\\"')
open(sys.argv[1], "w").write('[General]\nlibraryFolder="%s"\n' % value)
PY
        env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" XDG_RUNTIME_DIR="$work/runtime" \
            QT_QPA_PLATFORM=offscreen QUORVANE_CONTAINER_ROOT="$work/empty-root" \
            "$build/bin/quorvane-prompter" --screenshot "$work/library.png" >"$work/prompter.log" 2>&1 ||
            { cat "$work/prompter.log" >&2; fail "the teleprompter did not start"; }
        [ -d "$library" ] || fail "the teleprompter did not open its library folder '$library'"
        printf 'Into the chosen folder\n' >"$watched/0B7E1C2D-3F4A-4B5C-8D6E-7F8091A2B3C4"
        python3 "$source_dir/tests/packaging/run_unit.py" "$service" "$home" >"$work/run.log" 2>&1 ||
            { cat "$work/run.log" "$home/.config/quorvane/library.env" >&2; fail "the service's command failed for the chosen folder"; }
        [ "$(cat "$library/Into the chosen folder.txt")" = "Into the chosen folder" ] ||
            { cat "$work/run.log" "$home/.config/quorvane/library.env" >&2; fail "the service did not deliver into the folder the settings name"; }
        [ ! -e "$home/Teleprompter/Into the chosen folder.txt" ] || fail "the service delivered into ~/Teleprompter"
        # Back to the default folder (settings forgotten): the unit follows.
        env -u XDG_CONFIG_HOME HOME="$home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
            QUORVANE_CONTAINER_ROOT="$work/empty-root" "$build/bin/quorvane-prompter" --reset-settings \
            --screenshot "$work/library.png" >"$work/prompter.log" 2>&1 || fail "the teleprompter did not start"
        [ ! -e "$home/.config/quorvane/library.env" ] || fail "forgotten settings left the unit's folder behind"
    fi
    echo "units installed under '$prefix' verified; the service delivered into the library folder"
done
