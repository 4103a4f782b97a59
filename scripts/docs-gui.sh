#!/bin/sh
# The user's guide's pictures (docs/gui.md) are drawn by the GUI tests from
# the real widgets into the build tree's docs-gui folder. This script draws
# them again and copies them into docs/gui/:
#
#     scripts/docs-gui.sh [BUILD_DIR]           draw and copy
#     scripts/docs-gui.sh --check [BUILD_DIR]   draw and compare only
#
# The check fails when a picture the guide shows is drawn by no test, is
# missing from docs/gui/, or has another size than the one drawn now (the
# window's layout changed), and when a drawn picture is not in the guide.
set -eu
check=0
if [ "${1:-}" = "--check" ]; then
    check=1
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
drawn="$build/docs-gui"
guide="$root/docs/gui.md"
kept="$root/docs/gui"

# Every GUI test program draws its pictures; the filter runs only those.
found=0
for program in "$build"/tests/gui*/test_gui_*; do
    [ -x "$program" ] || continue
    found=1
    QT_QPA_PLATFORM=offscreen "$program" --gtest_filter='*Guide*:*Picture*:*Screenshot*' >/dev/null 2>&1 ||
        { echo "docs-gui: $program failed to draw its pictures" >&2; exit 1; }
done
[ "$found" = 1 ] || { echo "docs-gui: no GUI test programs in $build (build them first)" >&2; exit 1; }

size() { od -An -tu1 -j16 -N8 "$1" | tr -s ' ' ' '; }

status=0
shown=$(grep -o 'gui/[A-Za-z0-9_-]*\.png' "$guide" | sed 's|^gui/||' | sort -u)
for name in $shown; do
    if [ ! -f "$drawn/$name" ]; then
        echo "docs-gui: gui/$name is drawn by no test" >&2
        status=1
        continue
    fi
    if [ "$check" = 0 ]; then
        cp "$drawn/$name" "$kept/$name"
    elif [ ! -f "$kept/$name" ]; then
        echo "docs-gui: docs/gui/$name is missing" >&2
        status=1
    elif [ "$(size "$drawn/$name")" != "$(size "$kept/$name")" ]; then
        echo "docs-gui: docs/gui/$name is stale (its size differs from the window's now)" >&2
        status=1
    fi
done
for file in "$drawn"/*.png; do
    name=$(basename "$file")
    echo "$shown" | grep -qx "$name" || { echo "docs-gui: $name is drawn but not in docs/gui.md" >&2; status=1; }
done
exit $status
