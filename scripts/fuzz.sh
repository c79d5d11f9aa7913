#!/bin/sh
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, starting from its checked-in
# seeds in fuzz/corpus/<target>/. Fails when any target finds an input that breaks a promise,
# crashes, leaks or hangs; the input is kept in build/fuzz/findings/ and its log printed.
#
#   scripts/fuzz.sh [SECONDS [TARGET...]]     (default: 120 seconds, every target)
#
# A finding is fixed, then added to the target's seeds so the test suite replays it for good.
set -eu
cd "$(dirname "$0")/.."

seconds="${1:-120}"
[ $# -gt 0 ] && shift
targets="${*:-title_line attributed_text color_helpers property_list interface_file host_options remote_command}"

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

runs=build/fuzz/runs
findings=build/fuzz/findings
rm -rf "$runs"
mkdir -p "$runs" "$findings"
status=0
for target in $targets; do
    # New inputs go to a scratch folder; the checked-in seeds are only read.
    mkdir -p "$runs/$target"
    set -- -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/$target-"
    # Each input of this target is a whole sequence of edits: keep them to a few hundred.
    [ "$target" = attributed_text ] && set -- "$@" -max_len=512
    if "build/fuzz/bin/${target}_fuzzer" "$@" "$runs/$target" "fuzz/corpus/$target" \
        >"$runs/$target.log" 2>&1; then
        executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$runs/$target.log")
        echo "fuzz $target: $executions executions in ${seconds} s, nothing found"
    else
        echo "fuzz $target: FOUND A FAULT (input in $findings/, log below)"
        tail -n 60 "$runs/$target.log"
        status=1
    fi
done
exit "$status"
