#!/bin/sh
# Installs the Debian packages the build and the tests need, when any is missing.
# Needs root (or sudo) only when something has to be installed.
set -eu

packages="cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev"
packages="$packages clang libclang-rt-14-dev tmux"
# The figures report (scripts/figures.sh).
packages="$packages python3 time"
# The desktop window: Qt 6 (Widgets, D-Bus, Test; its CMake files need the GL headers), a font,
# a session bus for the tests, and a virtual X display for the end-to-end run and screenshots.
packages="$packages qt6-base-dev libgl-dev fonts-dejavu-core dbus dbus-x11 xvfb xauth"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

echo "setup: installing$missing" >&2
if [ "$(id -u)" -eq 0 ]; then
    apt_get="apt-get"
elif command -v sudo >/dev/null 2>&1; then
    apt_get="sudo apt-get"
else
    echo "setup: these packages are missing and installing them needs root:$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$apt_get update -q
# shellcheck disable=SC2086
$apt_get install -y -q --no-install-recommends $missing
