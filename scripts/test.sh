#!/bin/sh
# Sets up, builds and runs the test suite.
#
#   scripts/test.sh [PRESET] [CTEST ARGS...]
#
# PRESET is a CMake preset: default (the default), ci (warnings are errors), asan
# (AddressSanitizer + UndefinedBehaviorSanitizer) or tsan (ThreadSanitizer). Tests labelled
# "slow" run only when asked for (for instance: scripts/test.sh ci -L slow), or in CI.
set -eu
cd "$(dirname "$0")/.."

preset="${1:-default}"
[ $# -gt 0 ] && shift

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if [ $# -eq 0 ]; then
    set -- -LE slow
fi
ctest --preset "$preset" --parallel "$(nproc)" "$@"
