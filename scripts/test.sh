#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --windows    32-bit Windows build in build-win32/, tests under wine
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/deps.sh"

# The 32-bit Windows build in build-win32/: the program W_RQ905.exe against a
# static Qt built from Debian's source (scripts/qt-win32.sh, cached outside
# the tree), rq905ctl, the simulator, the driver libraries, the MSI and the
# zip (scripts/package.sh --windows builds them all), then every test under
# wine, the installer's end to end among them.
#   RQ905_HOST_BUILD   Linux build directory that provides rq905-sim (build)
windows() {
    started=$(date +%s)
    jobs=$(nproc 2>/dev/null || echo 2)
    # The simulator is a Linux program too; the Windows tool reaches it over
    # UDP and through wine's COM port mapping.
    host=${RQ905_HOST_BUILD:-build}
    cmake -S . -B "$host" -G Ninja -DRQ905_WERROR=ON
    cmake --build "$host" -j"$jobs" --target rq905-sim
    RQ905_HOST_SIM="$(pwd)/$host/bin/rq905-sim" bash scripts/package.sh --windows

    # A wine prefix of its own for this run, created once before the tests
    # (its first start takes about ten seconds), as Windows 10.
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/rq905-wine.XXXXXX)
    export WINEDEBUG=-all
    trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
    bash scripts/wine-prefix.sh
    ctest --test-dir build-win32 --output-on-failure -j"$jobs" --timeout 300
    echo "windows stage: $(($(date +%s) - started)) s"
}
if [[ "${1:-}" == "--windows" ]]; then
    windows
    exit 0
fi

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
