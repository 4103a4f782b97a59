#!/usr/bin/env bash
# The Linux rq905ctl through libTRQ1318.so, which hands its calls to
# rq905-drvhost.exe under wine, which loads our own TRQ1318.DLL, which talks
# UDP to the simulator: identify, a configuration write read back, the
# inputs, and the status register cleared.
#   drvhost_e2e.sh LINUX_BIN_DIR TRQ1318_DLL
set -euo pipefail
bin=$1 dll=$2
# 77: skipped, when the Linux build beside the simulator lacks the tool, the
# library or the host.
for f in rq905ctl libTRQ1318.so rq905-drvhost.exe; do
    [[ -e $bin/$f ]] || { echo "no $bin/$f"; exit 77; }
done
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=${WINEDEBUG:--all}
cleanup() {
    [[ -n ${simpid:-} ]] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/rq905-sim" --fresh --state "$work/state" --udp 0 --inputs 5 --quiet >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 100); do
    grep -q '^ready' "$work/sim.out" && break
    sleep 0.1
done
port=$(sed -n 's/^udp 127\.0\.0\.1://p' "$work/sim.out")
[[ -n $port ]] || { cat "$work/sim.out"; exit 1; }

# A name in small letters: the bridge matches it regardless of case.
mkdir "$work/win"
cp "$dll" "$work/win/trq1318.dll"
export RQ905_WINDRIVERS=$work/win
"$bin/rq905ctl" drivers check | grep -q '^TRQ1318.DLL: načte se, všech sedm' || {
    "$bin/rq905ctl" drivers check
    exit 1
}

connection=(--kind lan --ip 127.0.0.1 --udp-port "$port" --address 1)
expect() {  # expect TEXT COMMAND...: the command succeeds and prints TEXT
    local text=$1 out
    shift
    out=$("$bin/rq905ctl" "$@" "${connection[@]}")
    [[ $out == *"$text"* ]] || { echo "rq905ctl $*: '$out' lacks '$text'"; exit 1; }
}
expect '"name":"RQ-905  ","version":"1.02"' identify --json
expect '"written":[32,33,34]' config write --din-negation 0x81 --json
expect '"din_negation":129' config read --json
expect '{"inputs":132,' din --json
expect '{"cleared":true}' status --clear --json
echo "identify, config write and read-back, din, status clear through the driver host passed"

# The program's connection dialog, offscreen, through the same host: the
# connection end-to-end test of the Linux build with the setting made.
gui=$bin/../tests/gui_e2e/test_gui_connect_e2e
if [[ -x $gui ]]; then
    # Without the library in the directory the dialog must fail (code 29),
    # which shows that it went to the host at all.
    mkdir "$work/empty"
    if RQ905_WINDRIVERS=$work/empty QT_QPA_PLATFORM=offscreen "$gui" >"$work/gui.out" 2>&1; then
        echo "the connection dialog connected without the Windows library"
        exit 1
    fi
    QT_QPA_PLATFORM=offscreen "$gui" >"$work/gui.out" 2>&1 || { cat "$work/gui.out"; exit 1; }
    echo "connection dialog through the driver host passed"
else
    echo "no $gui (a build without the user interface): connection dialog not tried"
fi
