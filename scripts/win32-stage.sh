#!/usr/bin/env bash
# Stages the Windows files (stripped) and writes the MSI and the portable
# zip from them; run by the Windows build (cmake/WindowsPackage.cmake).
#   win32-stage.sh PKGDIR STRIP VERSION SOURCEDIR ICON PROGRAM CTL SIM -- DRIVER...
# The program and rq905ctl lie in RQ-905\; our substitute driver libraries,
# with the simulator, in RQ-905\Simulator\, never beside the program, where
# they would win Windows' library search over the maker's.
set -euo pipefail
pkg=$1 strip=$2 version=$3 src=$4 icon=$5 program=$6 ctl=$7 sim=$8
shift 9
stage=$pkg/stage
top=$stage/RQ-905
rm -rf "$stage"
mkdir -p "$top/Simulator"
"$strip" -o "$top/W_RQ905.exe" "$program"
"$strip" -o "$top/rq905ctl.exe" "$ctl"
"$strip" -o "$top/Simulator/rq905-sim.exe" "$sim"
for driver in "$@"; do
    "$strip" -o "$top/Simulator/$(basename "$driver")" "$driver"
done
# The documents a Windows user reads, with Windows line ends.
for doc in windows rq905ctl; do
    sed 's/$/\r/' "$src/docs/$doc.md" >"$top/$doc.md"
done
sed 's/$/\r/' "$src/docs/simulator.md" >"$top/Simulator/simulator.md"
# The licence and the licences of what the program links.
sed 's/$/\r/' "$src/LICENSE" >"$top/LICENSE.txt"
sed 's/$/\r/' "$src/data/copyright" >"$top/copyright.txt"

msi=$pkg/RQ-905-$(sed -n 's/^project(RQ905 VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")-win32
rm -f "$msi.msi" "$msi.zip"
# This wixl takes only relative source paths: it runs in the staging folder.
cp "$icon" "$stage/rq905.ico"
(cd "$stage" && wixl -a x86 -D "Version=$version" -D BinDir=RQ-905 -D SimDir=RQ-905/Simulator -D DocDir=RQ-905 \
    -D IconFile=rq905.ico -o "$msi.msi" "$src/data/windows/rq905.wxs")
(cd "$stage" && zip -q -r -X "$msi.zip" RQ-905)
