#!/bin/sh
# The main job: sets up and builds, shares our sample text through the share host into the
# default container (Send to Teleprompter), then lists the import folder.
#
#   scripts/share-sample.sh [FILE]
#
# FILE defaults to resources/sample.txt. The container is under $XDG_DATA_HOME (else
# ~/.local/share), or QUORVANE_CONTAINER_ROOT when it is set.
set -eu
cd "$(dirname "$0")/.."

text="${1:-resources/sample.txt}"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvane-share
build/default/bin/quorvane-share --send "$text"
echo "Import folder:"
build/default/bin/quorvane-share --list
