#!/bin/sh
# The receiver's systemd user units: clean under systemd-analyze verify (no error, no warning),
# watching the default import folder, and the service's command delivering a sent text into
# ~/Teleprompter. Skipped where systemd is not installed.
#
#   units_test.sh SOURCE_DIR BUILD_DIR RECEIVER
set -eu
source_dir=$1
build=$2
receiver=$3
command -v systemd-analyze >/dev/null ||
    { echo "skipped: systemd-analyze is not installed (systemd)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

units=$source_dir/packaging/systemd
mkdir -p "$work/units" "$work/man/man1" "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
cp "$units/quorvane-receive.path" "$work/units/"
# verify wants the program at the path it runs and the page Documentation= names.
sed "s|^ExecStart=quorvane-receive |ExecStart=$receiver |" "$units/quorvane-receive.service" \
    >"$work/units/quorvane-receive.service"
cp "$build/man/quorvane-receive.1.gz" "$work/man/man1/"
XDG_RUNTIME_DIR=$work/runtime HOME=$work/home MANPATH=$work/man \
    systemd-analyze --user verify "$work/units/quorvane-receive.path" \
    "$work/units/quorvane-receive.service" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "systemd-analyze verify failed"; }
[ ! -s "$work/verify.log" ] || { cat "$work/verify.log" >&2; fail "systemd-analyze verify warned"; }

# Installed disabled: nothing in the package enables them; only [Install] says where they go.
grep -qx 'WantedBy=default.target' "$units/quorvane-receive.path" || fail "the path unit has no [Install]"
grep -qx 'Type=oneshot' "$units/quorvane-receive.service" || fail "the service is not oneshot"

# The folder the path unit watches is the one the service reads and the share sheet writes.
home=$work/home
watched=$(sed -n 's/^DirectoryNotEmpty=//p' "$units/quorvane-receive.path" | sed "s|%h|$home|g")
root=$(sed -n 's/^Environment=QUORVANE_CONTAINER_ROOT=//p' "$units/quorvane-receive.service" |
    sed "s|%h|$home|g")
[ "$watched" = "$root/group.app.quorvane.teleprompter/regular/imported" ] ||
    fail "the path unit watches $watched, the service reads $root"
[ "$root" = "$home/.local/share/quorvane/app-groups" ] ||
    fail "the units' container root $root is not the default one"
mkdir -p "$watched"
printf 'From the service\nbody' >"$watched/DAD5E5C1-6D0A-45C5-BF5A-A17800E7A647"
command=$(sed -n 's/^ExecStart=//p' "$work/units/quorvane-receive.service" | sed "s|%h|$home|g")
# shellcheck disable=SC2086 # the unit's command line, split as systemd splits it
env QUORVANE_CONTAINER_ROOT="$root" $command >"$work/run.log" 2>&1 ||
    { cat "$work/run.log" >&2; fail "the service's command failed"; }
[ "$(cat "$home/Teleprompter/From the service.txt")" = "$(printf 'From the service\nbody')" ] ||
    fail "the service's command did not deliver into ~/Teleprompter"
[ -z "$(ls -A "$watched")" ] || fail "the import folder is not empty after the service ran"
echo "units verified; the service delivered into ~/Teleprompter"
