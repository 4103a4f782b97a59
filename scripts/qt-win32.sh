#!/usr/bin/env bash
# Builds a static 32-bit Windows Qt (qtbase only) from Debian's own qt6-base
# source with the MinGW cross compiler, and keeps it in a cache outside the
# source tree, so that fresh clones and CI reuse it. Debian packages no Qt
# for MinGW; this is the same Qt release the Linux build uses.
#
#   scripts/qt-win32.sh          build when missing, print the install prefix last
#   scripts/qt-win32.sh --print  print the prefix it would use, build nothing
#
# The cache is ${XDG_CACHE_HOME:-$HOME/.cache}/rq905/qt-<version>-win32-<hash>,
# the hash taken over the configuration below, so a changed configuration
# builds afresh beside the old one. The system's apt sources are left as they
# are: the source package is fetched through a private apt state directory.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

qt_version=6.4.2
# Everything the program and its tests need, nothing more: the build takes
# about half an hour of CPU as it is.
#  - tabletevent off: Debian's source lacks wintab.h.
#  - OpenGL stays (dynamic): 6.4.2's windows platform plugin does not
#    compile without it.
#  - accessibility on: screen readers reach the dialogs through UI Automation.
#  - every system_* library off: Qt's bundled copies are built in.
qt_options=(
    -DBUILD_SHARED_LIBS=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_accessibility=ON
    -DFEATURE_opengl_dynamic=ON
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_system_md4c=OFF
    -DFEATURE_system_libb2=OFF
    -DFEATURE_system_textmarkdownreader=OFF
)

config_hash=$( (echo "$qt_version"; printf '%s\n' "${qt_options[@]}"; cat "$root/cmake/qt-mingw-i686.cmake") |
    sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/rq905
prefix=$cache/qt-$qt_version-win32-$config_hash

if [[ "${1:-}" == "--print" ]]; then
    echo "$prefix"
    exit 0
fi

# A finished build leaves its stamp last; anything else is rebuilt.
if [[ -f "$prefix/.complete" ]]; then
    echo "Qt $qt_version for Windows: cached in $prefix" >&2
    echo "$prefix"
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in g++-mingw-w64-i686 qt6-base-dev qt6-base-dev-tools dpkg-dev ninja-build cmake; do
    installed "$p" || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

mkdir -p "$cache"
# Two runs at once (CI and a hand build) would trample one tree.
exec 9>"$cache/.qt-win32.lock"
flock 9

if [[ -f "$prefix/.complete" ]]; then
    echo "$prefix"
    exit 0
fi

started=$(date +%s)
work=$cache/qt-$qt_version-win32-$config_hash.work
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"

# deb-src entries for the same archive as the system's deb entries, in an apt
# state of our own: the system's sources and lists stay untouched.
src_list=$work/apt/sources.sources
: >"$src_list"
for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] || continue
    grep -q '^URIs:.*debian' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$src_list"
    echo >>"$src_list"
done
if [[ -f /etc/apt/sources.list ]]; then
    sed -n -e 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list >"$work/apt/sources.list"
else
    : >"$work/apt/sources.list"
fi
apt_opts=(
    -o "Dir::Etc::SourceList=$work/apt/sources.list"
    -o "Dir::Etc::SourceParts=$work/apt"
    -o "Dir::State::Lists=$work/apt/lists"
    -o "Dir::Cache::Archives=$work/apt/archives"
    -o "Dir::Cache::pkgcache="
    -o "Dir::Cache::srcpkgcache="
    -o "Debug::NoLocking=1"
    -o "APT::Sandbox::User=$(id -un)"
)
echo "Qt $qt_version for Windows: fetching Debian's qt6-base source" >&2
apt-get "${apt_opts[@]}" -q update >&2
# The very source of the Qt that the Linux build uses.
src_version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)
(cd "$work/src" && apt-get "${apt_opts[@]}" -q source "qt6-base=$src_version" >&2)
srcdir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[[ -n "$srcdir" ]] || { echo "qt6-base source not unpacked" >&2; exit 1; }

echo "Qt $qt_version for Windows: configuring" >&2
cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/qt-mingw-i686.cmake" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${qt_options[@]}" >"$work/configure.log" 2>&1 ||
    { tail -n 60 "$work/configure.log" >&2; exit 1; }

echo "Qt $qt_version for Windows: building (about 15 minutes on 2 cores; log in $work/build.log)" >&2
jobs=$(nproc 2>/dev/null || echo 2)
# Ninja's own progress, one line per tenth of the way.
set +o pipefail
cmake --build "$work/build" -j"$jobs" 2>&1 | tee "$work/build.log" |
    awk '/^\[[0-9]+\/[0-9]+\]/ { split(substr($1, 2), a, "/"); p = int(a[1] * 10 / a[2]);
         if (p > last) { last = p; printf "  %d%%\n", p * 10 > "/dev/stderr"; fflush("/dev/stderr") } }'
status=${PIPESTATUS[0]}
set -o pipefail
if ((status != 0)); then
    grep -E 'error|FAILED' "$work/build.log" | head -n 40 >&2
    exit 1
fi
cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log" >&2; exit 1; }
echo "$(($(date +%s) - started)) s" >"$prefix/.complete"
rm -rf "$work"
echo "Qt $qt_version for Windows: built in $(($(date +%s) - started)) s, installed in $prefix" >&2
echo "$prefix"
