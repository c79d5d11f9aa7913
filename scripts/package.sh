#!/bin/sh
# Builds the Debian packages into build/packages/:
#   quorvane-share          the command line, the extension bundle, its manual page and completion
#   quorvane-share-desktop  the window, its desktop entry and icon (only when Qt 6 is found);
#                           it depends on quorvane-share
# from a release build of the programs alone (build/package, no tests or benchmarks).
#
#   scripts/package.sh
# then, for instance: sudo apt install ./build/packages/quorvane-share_*.deb
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh package
build=build/package
out=$PWD/build/packages
# For /usr, where the packages install: the manual pages name the installed paths.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out")
rm -rf "$out/_CPack_Packages"
for package in "$out"/*.deb; do
    echo "== $package"
    dpkg-deb -f "$package" Package Version Depends
done
