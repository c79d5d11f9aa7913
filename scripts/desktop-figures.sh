#!/bin/sh
# Figures of the desktop window, on Qt's headless platform and on a virtual X display:
#   - a 100 MB text: first paint after delivery, scrolling steps, and the peak memory of the
#     benchmark and of the whole program (/usr/bin/time -v);
#   - a 1 KB share: from the program's start until its window has been drawn (the run ends right
#     after the window's screenshot is written and the sheet is closed, so this is an upper
#     bound), median of five runs.
#
#   scripts/desktop-figures.sh [MEGABYTES]
set -eu
cd "$(dirname "$0")/.."
megabytes="${1:-100}"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target desktop_bench quorvane-share-desktop >/dev/null
bin=build/default/bin
work=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export QUORVANE_CONTAINER_ROOT="$work/root"

peak() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1" | awk '{printf "%.1f MB", $1 / 1024}'; }
elapsed() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1"; }

echo "== $megabytes MB text, headless platform (desktop_bench)"
/usr/bin/time -v "$bin/desktop_bench" "$megabytes" 2>"$work/bench.time"
echo "peak memory               $(peak "$work/bench.time")"

echo "== the whole program sharing $megabytes MB (read, present, window, close)"
python3 -c "
import sys
line = b'The harbour bridge reopens after two years of repairs, and the council votes tonight. ' * 3 + b'\n'
with open(sys.argv[1], 'wb') as f:
    f.write(b'Evening bulletin\n')
    for _ in range(int(sys.argv[2]) * 1048576 // len(line)):
        f.write(line)
" "$work/big.txt" "$megabytes"
QT_QPA_PLATFORM=offscreen /usr/bin/time -v "$bin/quorvane-share-desktop" --close "$work/big.txt" \
    >/dev/null 2>"$work/program.time" || true
echo "elapsed                   $(elapsed "$work/program.time")"
echo "peak memory               $(peak "$work/program.time")"

echo "== a 1 KB share, from start to the window drawn (median of 5)"
head -c 1024 "$work/big.txt" >"$work/small.txt"
median() {
    for i in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$bin/quorvane-share-desktop" --close --screenshot "$work/shot.png" "$work/small.txt" \
            >/dev/null 2>&1 || true
        echo $(( ($(date +%s%N) - start) / 1000000 ))
    done | sort -n | sed -n 3p
}
echo "headless platform         $(QT_QPA_PLATFORM=offscreen median) ms"
if command -v Xvfb >/dev/null; then
    Xvfb :97 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    sleep 1
    echo "X11 on Xvfb               $(DISPLAY=:97 QT_QPA_PLATFORM=xcb median) ms"
fi
