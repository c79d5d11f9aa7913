#!/bin/sh
# The Debian packages: built with cpack from the build tree, listed, unpacked into a temporary
# root, and the unpacked program sends a text. The command-line package carries the program,
# the extension bundle and the platform library, with computed library dependencies; the
# desktop package, when the window is built, depends on it. Each carries the licence (the same
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

desktop=$work/packages/quorvane-share-desktop_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$desktop" ]; then
    echo "desktop package: skipped (quorvane-share-desktop is not built here; it needs Qt 6)"
else
    dpkg-deb -c "$desktop" | awk '{print $6}' >"$work/desktop.list"
    for path in ./usr/bin/quorvane-share-desktop \
        ./usr/share/applications/app.quorvane.teleprompter.share.desktop \
        ./usr/share/metainfo/app.quorvane.teleprompter.share.metainfo.xml \
        ./usr/share/icons/hicolor/scalable/apps/quorvane-share.svg \
        ./usr/share/man/man1/quorvane-share-desktop.1.gz \
        ./usr/share/bash-completion/completions/quorvane-share-desktop \
        ./usr/bin/quorvane-prompter ./usr/share/applications/app.quorvane.teleprompter.desktop \
        ./usr/share/man/man1/quorvane-prompter.1.gz \
        ./usr/share/bash-completion/completions/quorvane-prompter; do
        grep -qxF "$path" "$work/desktop.list" || fail "$(basename "$desktop") lacks $path"
    done
    # The window loads the bundle and platform library that the command-line package installs.
    dpkg-deb -f "$desktop" Depends | tr ',' '\n' | grep -qx " *quorvane-share (= $version)" ||
        fail "the desktop package does not depend on quorvane-share (= $version): $(dpkg-deb -f "$desktop" Depends)"
    echo "desktop package depends on quorvane-share (= $version)"
    # Every listing validates, and launches a desktop entry the package installs.
    for listing in "$root"/usr/share/metainfo/*.metainfo.xml; do
        appstreamcli validate --no-net --pedantic "$listing" >"$work/appstream" 2>&1 ||
            { cat "$work/appstream" >&2; fail "$(basename "$listing") does not validate"; }
        entry=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$listing")
        [ -f "$root/usr/share/applications/$entry" ] ||
            fail "$(basename "$listing") launches $entry, which the package does not install"
    done
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
