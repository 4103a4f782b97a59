#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --windows    32-bit Windows build in build-win32/, tests under wine
set -euo pipefail
cd "$(dirname "$0")/.."

"$(pwd)/scripts/deps.sh"

# The 32-bit Windows build (core, link, drivers, rq905ctl and their tests)
# in build-win32/, run under wine against the Linux simulator. Installs the
# cross compiler, GoogleTest's sources and wine when missing.
#   RQ905_HOST_BUILD   Linux build directory that provides rq905-sim (build)
windows() {
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then
        sudo="sudo"
    fi
    installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
    missing=()
    for p in g++-mingw-w64-i686 googletest wine wine32:i386; do
        installed "$p" || missing+=("$p")
    done
    if ((${#missing[@]} > 0)); then
        echo "Installing: ${missing[*]}"
        # wine32 is an i386 package.
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            $sudo dpkg --add-architecture i386
        fi
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
    fi
    # std::thread and friends need the posix thread model of the cross compiler.
    for tool in gcc g++; do
        if [[ "$(readlink -f "/usr/bin/i686-w64-mingw32-$tool")" != *-posix ]]; then
            $sudo update-alternatives --set "i686-w64-mingw32-$tool" "/usr/bin/i686-w64-mingw32-$tool-posix"
        fi
    done

    jobs=$(nproc 2>/dev/null || echo 2)
    started=$(date +%s)

    # The simulator is a Linux program; the Windows tool reaches it over UDP
    # and through wine's COM port mapping.
    host=${RQ905_HOST_BUILD:-build}
    cmake -S . -B "$host" -G Ninja -DRQ905_WERROR=ON
    cmake --build "$host" -j"$jobs" --target rq905-sim

    cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DRQ905_BUILD_UI=OFF \
        -DRQ905_WERROR=ON "-DRQ905_HOST_SIM=$(pwd)/$host/bin/rq905-sim"
    cmake --build build-win32 -j"$jobs"

    # A wine prefix of its own for this run, created once before the tests
    # (its first start takes about ten seconds).
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/rq905-wine.XXXXXX)
    export WINEDEBUG=-all
    trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
    wineboot -i >/dev/null 2>&1
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
