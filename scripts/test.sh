#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/deps.sh"

build=build
# Warnings fail this build, unlike a user's plain configure.
extra=(-DRQ905_WERROR=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
    build=build-asan
    extra+=(-DRQ905_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja "${extra[@]}"
cmake --build "$build" -j"$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300
