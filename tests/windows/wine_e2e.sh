#!/usr/bin/env bash
# rq905ctl.exe under wine against the Linux simulator: identify, a
# configuration write read back, and the inputs. "udp" runs a copy of the
# tool with TRQ1318.DLL beside it and the connection in its own
# W_rq905.ini; "com" goes through TCOM318.DLL to a COM port that wine maps
# to the simulator's pseudo-terminal.
#   wine_e2e.sh SIMULATOR RQ905CTL_EXE udp|com
set -euo pipefail
sim=$1 ctl=$2 transport=$3
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=${WINEDEBUG:--all}
com=9
cleanup() {
    [[ -n ${simpid:-} ]] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    [[ $transport == com ]] && rm -f "$WINEPREFIX/dosdevices/com$com"
    rm -rf "$work"
}
trap cleanup EXIT

# Inputs 5 and no negation at the start, so that the negation written
# below shows in the inputs read after it.
"$sim" --fresh --state "$work/state" --udp 0 --pty --inputs 5 --quiet >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 100); do
    grep -q '^ready' "$work/sim.out" && break
    sleep 0.1
done
port=$(sed -n 's/^udp 127\.0\.0\.1://p' "$work/sim.out")
pty=$(sed -n 's/^pty //p' "$work/sim.out")
[[ -n $port && -n $pty ]] || { cat "$work/sim.out"; exit 1; }

case $transport in
    udp)
        mkdir "$work/app"
        cp "$ctl" "$(dirname "$ctl")/TRQ1318.DLL" "$work/app/"
        ctl=$work/app/$(basename "$ctl")
        printf '[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=0\r\n' \
            "$port" | iconv -f UTF-8 -t CP1250 >"$work/app/W_rq905.ini"
        connection=()
        ;;
    com)
        mkdir -p "$WINEPREFIX/dosdevices"
        ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"
        connection=(--kind com --com "$com" --address 1 --speed 9600)
        ;;
    *) exit 2 ;;
esac

expect() {  # expect TEXT COMMAND...: the command succeeds and prints TEXT
    local text=$1 out
    shift
    out=$(wine "$ctl" "$@" "${connection[@]}" | tr -d '\r')
    [[ $out == *"$text"* ]] || { echo "rq905ctl $*: '$out' lacks '$text'"; exit 1; }
}
expect '"name":"RQ-905  ","version":"1.02"' identify --json
expect '"written":[32,33,34]' config write --din-negation 0x81 --json
expect '"din_negation":129' config read --json
expect '{"inputs":132,' din --json
if [[ $transport == com ]]; then
    # While one program watches the port, a second is refused (code 4).
    timeout 60 wine "$ctl" din --watch "${connection[@]}" >"$work/watch" 2>&1 &
    watch=$!
    for _ in $(seq 100); do
        [[ -s $work/watch ]] && break
        sleep 0.1
    done
    out=$(wine "$ctl" identify --json "${connection[@]}" | tr -d '\r' || true)
    kill "$watch" && wait "$watch" || true
    [[ $out == *'"code":4,'* ]] || { echo "second program on the port: '$out'"; exit 1; }
fi
echo "$transport: identify, config write and read-back, din passed"
