#!/usr/bin/env bash
# rq905ctl.exe under wine against the Linux simulator: identify, a
# configuration write read back, and the inputs. "udp" runs a copy of the
# tool with TRQ1318.DLL beside it and the connection in its own
# W_rq905.ini; "com" goes through TCOM318.DLL to a COM port that wine maps
# to the simulator's pseudo-terminal. "winsim" is "udp" against
# rq905-sim.exe under wine, whose console then changes the inputs.
#   wine_e2e.sh SIMULATOR RQ905CTL_EXE udp|com|winsim
set -euo pipefail
sim=$1 ctl=$2 transport=$3
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=${WINEDEBUG:--all}
com=9
cleanup() {
    [[ -n ${simpid:-} ]] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    exec 3>&-
    [[ $transport == com ]] && rm -f "$WINEPREFIX/dosdevices/com$com"
    rm -rf "$work"
}
trap cleanup EXIT

# Inputs 5 and no negation at the start, so that the negation written
# below shows in the inputs read after it.
if [[ $transport == winsim ]]; then
    # Its console is a pipe held open here, as a terminal would be.
    mkfifo "$work/console"
    exec 3<>"$work/console"
    wine "$sim" --fresh --state "$work/state" --udp 0 --inputs 5 --quiet <"$work/console" >"$work/sim.out" 2>&1 &
else
    "$sim" --fresh --state "$work/state" --udp 0 --pty --inputs 5 --quiet >"$work/sim.out" 2>&1 &
fi
simpid=$!
for _ in $(seq 600); do
    grep -q '^ready' "$work/sim.out" && break
    sleep 0.1
done
port=$(sed -n 's/^udp 127\.0\.0\.1://p' "$work/sim.out" | tr -d '\r')
pty=$(sed -n 's/^pty //p' "$work/sim.out")
[[ -n $port && ( -n $pty || $transport == winsim ) ]] || { cat "$work/sim.out"; exit 1; }

case $transport in
    udp | winsim)
        # Wine's file server may hold the simulator's save of its state
        # file on a busy machine longer than the automatic time-out.
        udptimeout=0
        [[ $transport == winsim ]] && udptimeout=2000
        mkdir "$work/app"
        cp "$ctl" "$(dirname "$ctl")/TRQ1318.DLL" "$work/app/"
        ctl=$work/app/$(basename "$ctl")
        printf '[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=%s\r\n' \
            "$port" "$udptimeout" | iconv -f UTF-8 -t CP1250 >"$work/app/W_rq905.ini"
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
if [[ $transport == winsim ]]; then
    echo "inputs 0x30" >&3
    for _ in $(seq 100); do
        grep -q '^ok' "$work/sim.out" && break
        sleep 0.1
    done
    expect '{"inputs":177,' din --json
    echo quit >&3
    for _ in $(seq 100); do
        kill -0 "$simpid" 2>/dev/null || break
        sleep 0.1
    done
    ! kill -0 "$simpid" 2>/dev/null || { echo "rq905-sim.exe did not end on quit"; exit 1; }
    wait "$simpid" || { echo "rq905-sim.exe ended with $? on quit"; exit 1; }
    simpid=
    # Each write replaced the state file, which Windows' rename refuses.
    grep -q ' 33=129 ' "$work/state" || { cat "$work/state" "$work/sim.out"; exit 1; }
fi
echo "$transport: identify, config write and read-back, din passed"
