#!/usr/bin/env bash
# Start-up to the first shown window under wine on a virtual display: the
# program against a bare QMainWindow of the same Qt, each started RUNS
# times in one warm prefix; prints the medians and their ratio. The window
# is looked for every 2 ms (first_window.py).
#   bench/win32/startup.sh BUILD-WIN32-DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd) runs=${2:-7}
work=$(mktemp -d)
export WINEPREFIX=$work/wine WINEDEBUG=-all
unset QT_QPA_PLATFORM
trap 'kill "$xvfb" 2>/dev/null; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$work/display")
bash "$(dirname "$0")/../../scripts/wine-prefix.sh"
# A folder of the program's own, without drivers or settings.
mkdir "$work/app"
cp "$build/bin/W_RQ905.exe" "$build/bin/rq905_bare_window.exe" "$work/app/"

poll=$(cd "$(dirname "$0")" && pwd)/first_window.py
measure() { # measure EXE TITLE: milliseconds to a visible window, one line per run
    for _ in $(seq "$runs"); do
        (cd "$work/app" && python3 "$poll" "$2" wine "$1")
        wineserver -w 2>/dev/null || true
    done
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# One start each first, so that both runs find wine's own files warm.
runs=1 measure rq905_bare_window.exe 'bare window' >/dev/null
bare=$(measure rq905_bare_window.exe 'bare window' | median)
program=$(measure W_RQ905.exe 'RQ-905 \(v\.1\.02\)' | median)
echo "bare QMainWindow: ${bare} ms (median of $runs)"
echo "W_RQ905.exe:      ${program} ms (median of $runs)"
awk -v p="$program" -v b="$bare" 'BEGIN { printf "ratio:            %.2f\n", p / b }'
