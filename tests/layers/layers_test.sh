#!/bin/sh
# The layers point one way. Checks every #include under a source tree against the rooms it may
# reach:
# - the readers of the import folder (reader, receive, prompter, qttext) reach the folder only
#   through the hand-over: no header of the extension (share, styling, storage, controls), of
#   the host, or of the platform stand-in the extension runs on;
# - the host knows the extension only through the bundle, the platform and the hand-over: no
#   header of share, styling, storage or controls;
# - the hand-over knows neither side: no header of any other room;
# - the program frame (what every program shares) knows neither the extension, the host's
#   session, the platform nor any reader: both sides build on it;
# - the platform knows nothing above it (only the hand-over, below it); within it, foundation
#   knows neither ui nor extension, and ui does not know extension;
# - in the extension, styling and storage know nothing of share, and controls use styling only.
# An include that climbs out of its folder ("../") is refused too: it would hide its room.
#
#   layers_test.sh SRC          checks the tree SRC (the project's src/); exit 1 on a violation
#   layers_test.sh --selftest   plants one violation of each rule in a scratch tree and checks
#                               that each is found, and that a clean tree passes
set -u

extension='share|styling|storage|controls'
readers='reader|receive|prompter|qttext'

# check SRC ROOMS FORBIDDEN WHY: every include in ROOMS (folders under SRC) that names a
# header under one of FORBIDDEN (an alternation of paths under SRC).
check() {
    src=$1 rooms=$2 forbidden=$3 why=$4 found=0
    for room in $rooms; do
        [ -d "$src/$room" ] || continue
        hits=$(grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
            "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($forbidden)/" "$src/$room")
        if [ -n "$hits" ]; then
            printf '%s:\n%s\n' "$why" "$hits"
            found=1
        fi
    done
    return $found
}

layers() {
    src=$1 status=0
    for room in reader host handover frame platform; do
        if [ ! -d "$src/$room" ]; then
            echo "no room $src/$room: the layer rules name rooms that are gone, update them"
            status=1
        fi
    done
    check "$src" "reader receive prompter qttext" "$extension|host|platform" \
        "a reader includes the extension, the host or the platform" || status=1
    check "$src" "host" "$extension" "the host includes the extension" || status=1
    check "$src" "handover" "$extension|host|platform|$readers" \
        "the hand-over includes a room of either side" || status=1
    check "$src" "frame" "$extension|host|platform|$readers" \
        "the program frame includes a room of either side" || status=1
    check "$src" "platform" "$extension|host|frame|$readers" \
        "the platform includes a room above it" || status=1
    check "$src" "platform/foundation" "platform/ui|platform/extension" \
        "the platform's foundation includes its ui or extension" || status=1
    check "$src" "platform/ui" "platform/extension" "the platform's ui includes its extension" ||
        status=1
    check "$src" "styling storage" "share" "styling or storage includes the controller" ||
        status=1
    check "$src" "controls" "share|storage" "controls include more than styling" || status=1
    check "$src" "share styling storage controls" "host|$readers" \
        "the extension includes a host or a reader" || status=1
    relative=$(grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\.\./' "$src")
    if [ -n "$relative" ]; then
        printf 'an include climbs out of its folder:\n%s\n' "$relative"
        status=1
    fi
    return $status
}

selftest() {
    scratch=$(mktemp -d) || exit 1
    trap 'rm -rf "$scratch"' EXIT INT TERM
    failures=0
    # plant NAME FILE INCLUDE: a tree of every room, clean but for FILE including INCLUDE.
    plant() {
        tree="$scratch/$1"
        for room in reader receive prompter qttext host/session host/desktop handover frame \
            platform/foundation platform/ui platform/extension share styling storage controls; do
            mkdir -p "$tree/$room"
            printf '#include "handover/ShareContract.h"\n#include <string>\n' >"$tree/$room/Clean.cpp"
        done
        printf '// planted\n  #  include "%s"\n' "$3" >"$tree/$2"
    }
    expect() {
        if layers "$scratch/$2" >"$scratch/$2.out" 2>&1; then result=0; else result=1; fi
        if [ "$result" != "$1" ]; then
            echo "selftest: $2 gave $result, expected $1"
            cat "$scratch/$2.out"
            failures=$((failures + 1))
        fi
    }
    plant clean reader/Clean.cpp "reader/TextTitle.h"
    expect 0 clean
    n=0
    while read -r file include; do
        n=$((n + 1))
        plant "v$n" "$file" "$include"
        expect 1 "v$n"
    done <<'PLANTED'
reader/Inbox.cpp storage/ImportFolder.h
receive/main.cpp host/cli/Output.h
prompter/main.cpp platform/foundation/String.h
qttext/LazyTextView.h share/TitleLine.h
host/session/Container.cpp storage/DurableFolderWrite.h
host/desktop/main.cpp controls/QuorvaneColoredToggle.h
handover/FolderWalk.cpp platform/foundation/SystemCalls.h
handover/TextTitle.h reader/TextTitle.h
frame/Output.cpp host/session/ShareSession.h
frame/Report.h platform/foundation/PlatformError.h
platform/foundation/FileManager.cpp storage/ImportFolder.h
platform/foundation/String.h platform/ui/View.h
platform/ui/View.cpp platform/extension/ExtensionContext.h
storage/ImportFolder.cpp share/ShareError.h
controls/QuorvaneStickySlider.cpp storage/ImportFolder.h
share/ShareViewController.cpp host/session/Container.h
styling/TextColor.cpp ../share/TitleLine.h
PLANTED
    [ "$failures" -eq 0 ] && echo "selftest: the clean tree passed and $n planted violations were found"
    return $((failures != 0))
}

case ${1:-} in
    --selftest) selftest ;;
    '') echo "usage: $0 SRC | --selftest" >&2; exit 2 ;;
    *) layers "$1" && echo "layers: every include under $1 points down" ;;
esac
