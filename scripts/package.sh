#!/usr/bin/env bash
# Builds the Debian package of the tool: installs what is missing, builds a
# Release without tests in build-pkg/ and lets CPack write the .deb there,
# with its dependencies taken from the libraries actually linked. The last
# line printed is the package's path; install it with
#   apt install ./build-pkg/rq905_*.deb
#
#   scripts/package.sh --windows
# builds the Windows program against a static Qt of its own
# (scripts/qt-win32.sh), with rq905ctl, the simulator, our driver libraries
# and their tests, in build-win32/, and prints the MSI's and the zip's paths
# last. RQ905_HOST_SIM may name the Linux simulator for the wine tests.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_packages() {
    local sudo="" missing=() p tool qt
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
    # The cross compiler, the target's GoogleTest sources, wine (an i386
    # package), the installer writer and reader, and what the icon and the
    # installer's end-to-end test need (a dialog font for wine among them).
    for p in g++-mingw-w64-i686 googletest wine wine32:i386 wixl msitools zip librsvg2-bin icoutils \
        xvfb xauth xdotool imagemagick fonts-liberation ninja-build cmake; do
        installed "$p" || missing+=("$p")
    done
    if ((${#missing[@]} > 0)); then
        echo "Installing: ${missing[*]}" >&2
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            $sudo dpkg --add-architecture i386
        fi
        $sudo apt-get update -q >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
    fi
    # std::thread and friends need the posix thread model of the cross compiler.
    for tool in gcc g++; do
        if [[ "$(readlink -f "/usr/bin/i686-w64-mingw32-$tool")" != *-posix ]]; then
            $sudo update-alternatives --set "i686-w64-mingw32-$tool" "/usr/bin/i686-w64-mingw32-$tool-posix" >&2
        fi
    done
    qt=$(bash scripts/qt-win32.sh | tail -n 1)
    local sim=()
    [[ -n ${RQ905_HOST_SIM:-} ]] && sim=("-DRQ905_HOST_SIM=$RQ905_HOST_SIM")
    cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DRQ905_BUILD_UI=ON \
        -DRQ905_WERROR=ON "-DRQ905_QT_WIN32=$qt" "${sim[@]}" >&2
    cmake --build build-win32 -j"$(nproc 2>/dev/null || echo 2)" >&2
    local version
    version=$(sed -n 's/^project(RQ905 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    ls -l "build-win32/bin/W_RQ905.exe" >&2
    echo "$(pwd)/build-win32/pkg/RQ-905-$version-win32.msi"
    echo "$(pwd)/build-win32/pkg/RQ-905-$version-win32.zip"
}
if [[ "${1:-}" == "--windows" ]]; then
    windows_packages
    exit 0
fi

"$(pwd)/scripts/deps.sh"
# dpkg-shlibdeps finds the dependencies; lintian checks the package.
needed=()
for p in dpkg-dev fakeroot file lintian; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        needed+=("$p")
    fi
done
if ((${#needed[@]} > 0)); then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "Installing: ${needed[*]}" >&2
    $sudo apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${needed[@]}" >&2
fi

build="build-pkg"
# Debian's hardening flags, all of them, as dpkg-buildpackage would give.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# CMake's default generator, which a user's plain build gets: the one build
# that does not use Ninja, so that CI builds with both.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRQ905_TESTS=OFF -DRQ905_BUILD_UI=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >&2
rm -f "$build"/rq905_*.deb
(cd "$build" && cpack -G DEB >&2)
deb=$(ls "$(pwd)/$build"/rq905_*.deb)
echo "$deb"
