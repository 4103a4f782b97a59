#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tool need, when
# they are missing. Safe to run again; does nothing when all are present.
# The 32-bit Windows cross compiler builds the driver host that serves the
# maker's Windows drivers beside ours. GNU parallel and Ansible run the
# plant-scale examples of docs/fleet.md in the tests. The gateway builds on
# libmodbus and cpp-httplib; its tests use mbpoll, pymodbus and Prometheus.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev librsvg2-bin
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-i686
    parallel ansible-core
    libmodbus-dev libcpp-httplib-dev mbpoll python3-pymodbus python3-serial-asyncio prometheus
    xvfb xdotool
)
if [[ "${1:-}" == "--with-display" ]]; then
    packages+=(xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
