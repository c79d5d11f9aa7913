#!/bin/sh
# The Debian packages: built with cpack from the build tree, listed, unpacked into a temporary
# root, and the unpacked program sends a text. The command-line package carries the program,
# the extension bundle and the platform library, with computed library dependencies; the
# desktop package, when the window is built, depends on it; the teleprompter's package holds
# nothing of the share and installs alone. Each carries the licence (the same
# as the repository's LICENSE) and a Debian changelog, and lintian finds neither an error nor
# a warning in them; the AppStream listing validates.
#
#   package_test.sh BUILD_DIR VERSION SANITIZERS SOURCE_DIR
set -eu
build=$1
# The packages' version: the project's, with the Debian revision.
version=$2-1
source_dir=$4
if [ -n "${3:-}" ]; then
    echo "skipped: packages are made from unsanitized builds (this one uses $3)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Where a package cannot be built, scripts/package.sh builds none and names what is missing:
# here Qt 6 is hidden from a fresh configure, as on a machine without it.
status=0
QUORVANE_PACKAGE_SETUP=no QUORVANE_PACKAGE_BUILD="$work/without-qt" \
    QUORVANE_PACKAGE_CMAKE_ARGS=-DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
    sh "$source_dir/scripts/package.sh" >"$work/package.out" 2>"$work/package.err" || status=$?
[ "$status" -ne 0 ] || fail "scripts/package.sh without Qt succeeded: $(cat "$work/package.out")"
for missing in "quorvane-share-desktop: Qt 6" "quorvane-prompter: Qt 6" qt6-base-dev; do
    grep -qF "$missing" "$work/package.err" ||
        fail "scripts/package.sh without Qt does not say '$missing': $(cat "$work/package.err")"
done
[ ! -e "$work/without-qt/bin/quorvane-share" ] || fail "scripts/package.sh without Qt built programs before refusing"
rm -rf "$work/without-qt"

(cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }

cli=$work/packages/quorvane-share_${version}_$(dpkg --print-architecture).deb
[ -f "$cli" ] || fail "no $(basename "$cli") among: $(ls "$work/packages")"
dpkg-deb -c "$cli" | awk '{print $6}' >"$work/cli.list"
for path in ./usr/bin/quorvane-share \
    ./usr/lib/quorvane/libquorvane_platform.so \
    ./usr/lib/quorvane/QuorvaneShareExt.appex/Info.json \
    ./usr/lib/quorvane/QuorvaneShareExt.appex/MainInterface.json \
    ./usr/lib/quorvane/QuorvaneShareExt.appex/libQuorvaneShareExt.so \
    ./usr/share/man/man1/quorvane-share.1.gz \
    ./usr/share/bash-completion/completions/quorvane-share \
    ./usr/bin/quorvane-receive \
    ./usr/share/man/man1/quorvane-receive.1.gz \
    ./usr/share/bash-completion/completions/quorvane-receive \
    ./usr/lib/systemd/user/quorvane-receive.path \
    ./usr/lib/systemd/user/quorvane-receive.service; do
    grep -qxF "$path" "$work/cli.list" || fail "$(basename "$cli") lacks $path"
done
# A server installs the command line alone: nothing of the window, nothing needing Qt.
if grep -q desktop "$work/cli.list"; then fail "the command-line package holds desktop files"; fi
[ "$(dpkg-deb -f "$cli" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$cli" Version), not $version"
dpkg-deb -f "$cli" Maintainer | grep -q '<.*@.*>' || fail "no maintainer with an address"
depends=$(dpkg-deb -f "$cli" Depends)
case $depends in *libc6*libstdc++6* | *libstdc++6*libc6*) ;; *) fail "dependencies not computed: '$depends'" ;; esac
case $depends in *Qt* | *qt6*) fail "the command-line package depends on Qt: '$depends'" ;; esac

root=$work/root
for package in "$work"/packages/*.deb; do
    dpkg-deb -x "$package" "$root"
done
printf 'Unpacked from the package\n' >"$work/text.txt"
status=0
env -u QUORVANE_EXTENSION_BUNDLE -u LD_LIBRARY_PATH QUORVANE_CONTAINER_ROOT="$work/containers" \
    "$root/usr/bin/quorvane-share" --send "$work/text.txt" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/out" >&2; fail "the unpacked quorvane-share --send exited $status"; }
set -- "$work"/containers/group.app.quorvane.teleprompter/regular/imported/*
[ $# -eq 1 ] && cmp -s "$1" "$work/text.txt" || fail "the unpacked program did not save the text"
# ... and the unpacked receiver takes it out.
env -u LD_LIBRARY_PATH QUORVANE_CONTAINER_ROOT="$work/containers" \
    "$root/usr/bin/quorvane-receive" --to "$work/received" >"$work/out" 2>&1 ||
    { cat "$work/out" >&2; fail "the unpacked quorvane-receive --to failed"; }
cmp -s "$work/received/Unpacked from the package.txt" "$work/text.txt" ||
    fail "the unpacked receiver did not deliver the text"

arch=$(dpkg --print-architecture)
desktop=$work/packages/quorvane-share-desktop_${version}_$arch.deb
prompter=$work/packages/quorvane-prompter_${version}_$arch.deb
if [ ! -f "$desktop" ] || [ ! -f "$prompter" ]; then
    [ ! -f "$desktop" ] && [ ! -f "$prompter" ] ||
        fail "one desktop package without the other: $(ls "$work/packages")"
    echo "desktop packages: skipped (the window and the teleprompter are not built here; they need Qt 6)"
else
    dpkg-deb -c "$desktop" | awk '{print $6}' >"$work/desktop.list"
    for path in ./usr/bin/quorvane-share-desktop \
        ./usr/share/applications/app.quorvane.teleprompter.share.desktop \
        ./usr/share/metainfo/app.quorvane.teleprompter.share.metainfo.xml \
        ./usr/share/icons/hicolor/scalable/apps/quorvane-share.svg \
        ./usr/share/man/man1/quorvane-share-desktop.1.gz \
        ./usr/share/bash-completion/completions/quorvane-share-desktop \
        ./usr/share/applications/app.quorvane.teleprompter.share.selection.desktop \
        ./usr/share/nautilus-python/extensions/quorvane-share-nautilus.py \
        ./usr/share/webext/quorvane-share/manifest.json ./usr/share/webext/quorvane-share/background.js \
        ./usr/share/chromium/extensions/quorvane-share \
        "./usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/send-to-teleprompter@quorvane.example" \
        ./usr/lib/quorvane/quorvane-browser-host ./etc/chromium.d/quorvane-share \
        ./etc/chromium/native-messaging-hosts/app.quorvane.teleprompter.share.json \
        ./usr/lib/mozilla/native-messaging-hosts/app.quorvane.teleprompter.share.json; do
        grep -qxF "$path" "$work/desktop.list" || fail "$(basename "$desktop") lacks $path"
    done
    # The browsers find the extension through the links and the host through the manifests,
    # which name the installed host and the extension's ids (Chromium's follows from the key
    # in the extension's manifest); the administrator's files in /etc are conffiles.
    for link in usr/share/chromium/extensions/quorvane-share \
        "usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/send-to-teleprompter@quorvane.example"; do
        [ -f "$root/$link/manifest.json" ] || fail "/$link does not lead to the extension"
    done
    chromium_id=$(python3 -c 'import base64, hashlib, json, sys
key = base64.b64decode(json.load(open(sys.argv[1]))["key"])
print("".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32]))' \
        "$root/usr/share/webext/quorvane-share/manifest.json")
    hosts=$root/etc/chromium/native-messaging-hosts/app.quorvane.teleprompter.share.json
    python3 - "$hosts" "$root/usr/lib/mozilla/native-messaging-hosts/app.quorvane.teleprompter.share.json" \
        "$chromium_id" "$root/usr/share/webext/quorvane-share/manifest.json" <<'CHECK' || fail "the host manifests do not match the extension"
import json, sys
chromium, firefox, chromium_id, extension = (sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4])
gecko_id = json.load(open(extension))["browser_specific_settings"]["gecko"]["id"]
for path, key, allowed in ((chromium, "allowed_origins", f"chrome-extension://{chromium_id}/"),
                           (firefox, "allowed_extensions", gecko_id)):
    manifest = json.load(open(path))
    assert manifest["name"] == "app.quorvane.teleprompter.share", manifest
    assert manifest["path"] == "/usr/lib/quorvane/quorvane-browser-host", manifest
    assert manifest["type"] == "stdio" and manifest[key] == [allowed], manifest
CHECK
    dpkg-deb -e "$desktop" "$work/desktop-control"
    for conffile in /etc/chromium.d/quorvane-share /etc/chromium/native-messaging-hosts/app.quorvane.teleprompter.share.json; do
        grep -qxF "$conffile" "$work/desktop-control/conffiles" || fail "$conffile is not a conffile"
    done
    dpkg-deb -c "$prompter" | awk '{print $6}' >"$work/prompter.list"
    for path in ./usr/bin/quorvane-prompter ./usr/share/applications/app.quorvane.teleprompter.desktop \
        ./usr/share/metainfo/app.quorvane.teleprompter.metainfo.xml \
        ./usr/share/man/man1/quorvane-prompter.1.gz \
        ./usr/share/bash-completion/completions/quorvane-prompter; do
        grep -qxF "$path" "$work/prompter.list" || fail "$(basename "$prompter") lacks $path"
    done
    # A writing laptop takes the window without the teleprompter, and the prompting machine the
    # teleprompter without the window: neither holds the other's program.
    if grep -q quorvane-prompter "$work/desktop.list"; then fail "the desktop package holds the teleprompter"; fi
    if grep -qE 'quorvane-share|platform|appex' "$work/prompter.list"; then
        fail "the teleprompter's package holds the share programs: $(grep -E 'quorvane-share|platform|appex' "$work/prompter.list")"
    fi
    # The window loads the bundle and platform library that the command-line package installs.
    dpkg-deb -f "$desktop" Depends | tr ',' '\n' | grep -qx " *quorvane-share (= $version)" ||
        fail "the desktop package does not depend on quorvane-share (= $version): $(dpkg-deb -f "$desktop" Depends)"
    case $(dpkg-deb -f "$prompter" Depends) in
        *quorvane*) fail "the teleprompter depends on another of ours: $(dpkg-deb -f "$prompter" Depends)" ;;
        *libQt6Widgets* | *libqt6widgets*) ;;
        *) fail "the teleprompter's dependencies were not computed: $(dpkg-deb -f "$prompter" Depends)" ;;
    esac
    # Where it follows the voice, the teleprompter recommends the recogniser's model.
    if ldd "$build/bin/quorvane-prompter" | grep -q libpocketsphinx; then
        dpkg-deb -f "$prompter" Recommends | grep -qw pocketsphinx-en-us ||
            fail "the teleprompter follows the voice but does not recommend pocketsphinx-en-us"
    fi
    # Both windows recommend Qt's Wayland platform; the window also wl-paste, which reads the
    # selection on Wayland.
    for recommended in "$desktop qt6-wayland" "$desktop wl-clipboard" "$prompter qt6-wayland"; do
        dpkg-deb -f "${recommended% *}" Recommends | tr ',' '\n' | grep -qx " *${recommended##* }" ||
            fail "$(basename "${recommended% *}") does not recommend ${recommended##* }"
    done
    echo "desktop package depends on quorvane-share (= $version); the teleprompter on none of ours"
    # Every listing validates, and launches a desktop entry the package installs.
    for listing in "$root"/usr/share/metainfo/*.metainfo.xml; do
        appstreamcli validate --no-net --pedantic "$listing" >"$work/appstream" 2>&1 ||
            { cat "$work/appstream" >&2; fail "$(basename "$listing") does not validate"; }
        entry=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$listing")
        [ -f "$root/usr/share/applications/$entry" ] ||
            fail "$(basename "$listing") launches $entry, which the package does not install"
    done
    # Each installs alone with only what it needs, as apt resolves it against this system
    # (simulated: nothing is installed): the command line alone, the teleprompter alone, the
    # window with the command line; the window alone is refused for want of quorvane-share.
    simulate() { apt-get install --simulate -q "$@" >"$work/simulated" 2>&1; }
    for alone in "$cli" "$prompter"; do
        simulate "$alone" || { cat "$work/simulated" >&2; fail "$(basename "$alone") does not install alone"; }
        ours=$(sed -n 's/^Inst \(quorvane-[^ ]*\).*/\1/p' "$work/simulated" | tr '\n' ' ')
        [ "$ours" = "$(dpkg-deb -f "$alone" Package) " ] ||
            fail "installing $(basename "$alone") alone installs: $ours"
    done
    simulate "$cli" "$desktop" || { cat "$work/simulated" >&2; fail "the window with the command line does not install"; }
    if simulate "$desktop"; then fail "the window installs without quorvane-share, whose bundle it loads"; fi
    grep -q 'Depends: quorvane-share (= ' "$work/simulated" ||
        { cat "$work/simulated" >&2; fail "the window alone was refused, but not for want of quorvane-share"; }
    # The teleprompter unpacked alone starts and loads no library
    # of ours.
    dpkg-deb -x "$prompter" "$work/prompter-alone"
    QT_QPA_PLATFORM=offscreen "$work/prompter-alone/usr/bin/quorvane-prompter" --version \
        >"$work/prompter-version" 2>&1 || { cat "$work/prompter-version" >&2; fail "the teleprompter unpacked alone does not start"; }
    if ldd "$work/prompter-alone/usr/bin/quorvane-prompter" | grep -q 'not found'; then
        fail "the teleprompter unpacked alone misses a library: $(ldd "$work/prompter-alone/usr/bin/quorvane-prompter" | grep 'not found')"
    fi
    echo "each package installs alone (the window with quorvane-share)"
fi

# The licence: LICENSE's grant, word for word, is the copyright file's Expat text, its
# copyright line names the same years and holders, and each package carries that file.
awk '/^License: Expat$/ {n++; next} n == 2 && /^ / {sub(/^ /, ""); if ($0 == ".") $0 = ""; print}' \
    "$source_dir/packaging/debian/copyright" >"$work/copyright.grant"
sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" >"$work/license.grant"
[ -s "$work/license.grant" ] && cmp -s "$work/license.grant" "$work/copyright.grant" ||
    fail "LICENSE and packaging/debian/copyright grant different terms"
holders=$(sed -n 's/^Copyright: //p' "$source_dir/packaging/debian/copyright")
grep -qxF "Copyright (c) $holders" "$source_dir/LICENSE" ||
    fail "LICENSE does not name the copyright file's holders ($holders)"
for package in "$work"/packages/*.deb; do
    name=$(dpkg-deb -f "$package" Package)
    cmp -s "$root/usr/share/doc/$name/copyright" "$source_dir/packaging/debian/copyright" ||
        fail "$name does not carry the copyright file"
    zcat "$root/usr/share/doc/$name/changelog.Debian.gz" | head -n 1 | grep -qF "$name ($version)" ||
        fail "$name's changelog does not open with $name ($version)"
done

# lintian: no error and no warning (informational notes are allowed).
if ! lintian --fail-on error,warning "$work"/packages/*.deb \
    >"$work/lintian" 2>&1; then
    cat "$work/lintian" >&2
    fail "lintian reports errors or warnings"
fi
echo "packages: $(cd "$work/packages" && ls ./*.deb | tr '\n' ' ')"
