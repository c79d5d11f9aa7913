#!/bin/sh
# Installs the Debian packages that are missing for a purpose:
#
#   scripts/setup.sh run     what building and running the share host needs
#   scripts/setup.sh package that, and what building the Debian packages needs
#   scripts/setup.sh test    that, and what the tests, benchmarks, fuzzing and figures need
#
# Needs root (or sudo) only when something has to be installed.
set -eu

purpose="${1:-test}"

# Building and running: the compiler, CMake, Ninja, the JSON library, and for the terminal
# sheet terminfo, Unicode grapheme clusters and the bidirectional algorithm.
packages="cmake ninja-build g++ nlohmann-json3-dev libncurses-dev libutf8proc-dev libfribidi-dev pkg-config"
# The share host checks its text as UTF-8 with simdjson's vectorised validator.
packages="$packages libsimdjson-dev"
# Debian packages: cpack's library dependencies (scripts/package.sh).
packaging="dpkg-dev file"
# The desktop packages (the window, the teleprompter) are built with Qt 6: scripts/package.sh
# makes all three packages or none.
packaging="$packaging qt6-base-dev libgl-dev"
# The teleprompter's voice-following, built into its package where these are found.
packaging="$packaging libpocketsphinx-dev qt6-multimedia-dev"
case "$purpose" in
    run) ;;
    package) packages="$packages $packaging" ;;
    test)
        packages="$packages libgtest-dev libgmock-dev libbenchmark-dev"
        # The packaging tests: the packages, the desktop entry's and manual pages' checks.
        packages="$packages $packaging desktop-file-utils man-db groff-base"
        # The packages' own checks (lintian, the AppStream listing), and which program opens a
        # text file by default, asked as freedesktop (xdg-mime) and GNOME (gio) desktops ask.
        packages="$packages lintian appstream xdg-utils libglib2.0-bin shared-mime-info"
        # Fuzzing (clang's libFuzzer and sanitizer runtimes) and the terminal tests.
        packages="$packages clang libclang-rt-14-dev tmux"
        # The staging path on a real FAT file system (mkfs.vfat; fusefat where the kernel has no
        # FAT driver).
        packages="$packages dosfstools fusefat"
        # The import folder kept in step between two computers (the two-machine test).
        packages="$packages syncthing"
        # The receiver's user units, checked with systemd-analyze verify.
        packages="$packages systemd"
        # The figures report (scripts/figures.sh).
        packages="$packages python3 time"
        # The desktop window: Qt 6 (Widgets, D-Bus, Test; its CMake files need the GL
        # headers), a font, a session bus for its tests, and a virtual X display for the
        # end-to-end run and the screenshots.
        packages="$packages qt6-base-dev libgl-dev fonts-dejavu-core dbus dbus-x11 xvfb xauth"
        # A colour emoji font, which both desktop programs draw emoji in.
        packages="$packages fonts-noto-color-emoji"
        # Sharing from anywhere on the desktop: the browser extension in Debian's Chromium,
        # driven by playwright-core (npm, pinned, into the build tree by
        # scripts/browser-test-deps.sh); GNOME Files' item through nautilus-python's
        # bindings; the primary selection set with xclip and xsel (wl-paste on Wayland).
        packages="$packages chromium python3-nautilus gir1.2-nautilus-4.0 xclip xsel wl-clipboard"
        # The same extension in Debian's Firefox ESR, driven over WebDriver BiDi by Debian's
        # Python WebSocket client.
        packages="$packages firefox-esr python3-websocket"
        # The selection on Wayland: a headless compositor (sway) and Qt's Wayland platform.
        packages="$packages sway qt6-wayland"
        # Node.js and npm: kept when the machine has them already (a Node.js from another
        # source bundles its own npm, which Debian's npm package conflicts with).
        if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
            packages="$packages nodejs npm"
        fi
        # The prompter's remote: Qt's HTTP and WebSocket servers and the QR code of its
        # address (its page is tested in the same Chromium, with the same driver).
        packages="$packages qt6-httpserver-dev qt6-websockets-dev libqrencode-dev"
        # The operator's window's picture: a screen of the virtual display photographed
        # (ImageMagick's import; scripts/operator-screenshot.sh).
        packages="$packages imagemagick"
        # The operator's window's test on two X screens finds its windows with xdotool.
        packages="$packages xdotool"
        # Voice-following: the recogniser with its English model, Qt Multimedia for the
        # microphone; synthetic readings (espeak-ng), noise mixed in (sox) and a sound server
        # with a virtual microphone (pulseaudio, pactl) for its tests and figures.
        packages="$packages libpocketsphinx-dev pocketsphinx-en-us qt6-multimedia-dev"
        packages="$packages espeak-ng libespeak-ng1 sox pulseaudio pulseaudio-utils"
        ;;
    *)
        echo "setup: unknown purpose '$purpose' (use run, package or test)" >&2
        exit 2
        ;;
esac

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
