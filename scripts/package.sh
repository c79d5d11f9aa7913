#!/bin/sh
# Builds the Debian packages into build/packages/:
#   quorvane-share          the command line, the receiver, the extension bundle (no Qt)
#   quorvane-share-desktop  the window and every way into it (menu entries, file managers, the
#                           browser extension and its host); it depends on quorvane-share
#   quorvane-prompter       the teleprompter
# from a release build of the programs alone (build/package, no tests or benchmarks). All three
# or none: where one cannot be built (Qt 6 missing), it stops before building and names what
# is missing, rather than leaving a set the README's install steps cannot use.
#
#   scripts/package.sh
# then, for instance: sudo apt install ./build/packages/quorvane-share_*.deb
#
# QUORVANE_PACKAGE_BUILD (default build/package) is the build tree, QUORVANE_PACKAGE_SETUP=no
# leaves out installing what building needs, and QUORVANE_PACKAGE_CMAKE_ARGS are added to the
# configure step (the packaging tests use these).
set -eu
cd "$(dirname "$0")/.."

[ "${QUORVANE_PACKAGE_SETUP:-yes}" = no ] || scripts/setup.sh package
build=${QUORVANE_PACKAGE_BUILD:-build/package}
out=$PWD/build/packages
mkdir -p "$build"
# For /usr, where the packages install: the manual pages name the installed paths.
# shellcheck disable=SC2086 # the extra arguments are words for cmake
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCHMARKS=OFF ${QUORVANE_PACKAGE_CMAKE_ARGS:-} \
    >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "package.sh: configuring the build failed; no package was built" >&2
    exit 1
fi
if [ -s "$build/debian/missing-packages" ]; then
    echo "package.sh: no package was built; these cannot be built here:" >&2
    sed 's/^/  /' "$build/debian/missing-packages" >&2
    echo "Install Qt 6's development files (Debian: qt6-base-dev libgl-dev, which" >&2
    echo "'scripts/setup.sh package' installs) and run scripts/package.sh again." >&2
    exit 1
fi
cmake --build "$build"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out")
rm -rf "$out/_CPack_Packages"
for package in "$out"/*.deb; do
    echo "== $package"
    dpkg-deb -f "$package" Package Version Depends
done
