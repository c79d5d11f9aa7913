#!/bin/sh
# The main job: sets up and builds the share host (what running needs, no tests), shares a text
# through it into the default container (Send to Teleprompter), then lists the import folder.
#
#   scripts/share-sample.sh [FILE]
#
# FILE (relative to the folder this is called from) defaults to our sample text. The container
# is under $XDG_DATA_HOME (else ~/.local/share), or QUORVANE_CONTAINER_ROOT when it is set.
set -eu
here="$(pwd)"
project="$(cd "$(dirname "$0")/.." && pwd)"

if [ $# -gt 0 ]; then
    case "$1" in
        /*) text="$1" ;;
        *) text="$here/$1" ;;
    esac
else
    text="$project/resources/sample.txt"
fi

cd "$project"
scripts/setup.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane-share
build/release/bin/quorvane-share --send "$text"
echo "Import folder:"
build/release/bin/quorvane-share --list
