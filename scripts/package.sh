#!/usr/bin/env bash
# Builds the Debian package of the tool: installs what is missing, builds a
# Release without tests in build-pkg/ and lets CPack write the .deb there,
# with its dependencies taken from the libraries actually linked. The last
# line printed is the package's path; install it with
#   apt install ./build-pkg/rq905_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

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
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRQ905_TESTS=OFF -DRQ905_BUILD_UI=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >&2
rm -f "$build"/rq905_*.deb
(cd "$build" && cpack -G DEB >&2)
deb=$(ls "$(pwd)/$build"/rq905_*.deb)
echo "$deb"
