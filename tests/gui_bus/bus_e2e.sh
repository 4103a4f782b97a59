#!/bin/sh
# The program as a technician drives it, on Xvfb with keystrokes only,
# against the module simulator over UDP: "Servis" -> "Moduly na sběrnici",
# a scan of addresses 0-10 with "Hledat", Enter on the first module found
# to connect, "Konec". Checks the table kept beside the settings file and
# the address the connection left in the settings.
#
#     bus_e2e.sh BIN_DIR
set -eu
bin=$1
work=$(mktemp -d /tmp/rq905-bus-e2e-XXXXXX)
sim_pid=
xvfb_pid=
prog_pid=
cleanup() {
    for pid in $prog_pid $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "bus_e2e: $*" >&2
    [ -f "$work/program.log" ] && cat "$work/program.log" >&2
    exit 1
}

# A copy of the program with its drivers, so that its settings file is
# this test's own.
cp "$bin/W_RQ905" "$bin"/lib*.so "$work/"

"$bin/rq905-sim" --udp 0 --fresh --quiet --state "$work/sim.state" --modules 2 --address 3 \
    </dev/null >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ready' "$work/sim.log" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$port" ] || fail "the simulator did not start: $(cat "$work/sim.log")"
printf '[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
    "$port" | iconv -f UTF-8 -t CP1250 >"$work/W_rq905.ini"

# A display of our own: the first free number from 90 on.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 100); do
    xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
done

QT_QPA_PLATFORM=xcb "$work/W_RQ905" >"$work/program.log" 2>&1 &
prog_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name 'RQ-905' | head -n 1) || fail "no main window"
xdotool windowfocus --sync "$window" || true
sleep 0.5
key() {
    xdotool key --clearmodifiers "$@"
    sleep 0.3
}

# "Servis" -> "Moduly na sběrnici", then the range's end: Alt+D, 10.
key alt+s
key m
key alt+d
key ctrl+a
xdotool type --delay 50 "10"
key alt+h
# The scan of 11 addresses takes well under a second; the table is kept
# once it ends.
for _ in $(seq 100); do
    [ -s "$work/W_rq905_moduly.txt" ] && break
    sleep 0.1
done
[ -s "$work/W_rq905_moduly.txt" ] || fail "no table kept after the scan"
grep -q "^3	9600	RQ-905  	1.02	odpov" "$work/W_rq905_moduly.txt" || fail "module 3 not in the table: $(cat "$work/W_rq905_moduly.txt")"
grep -q "^4	9600	" "$work/W_rq905_moduly.txt" || fail "module 4 not in the table"

# Enter on the first row connects to address 3; "Konec" saves it.
key alt+s
key m
key ctrl+Home
key Return
sleep 1
key alt+k
for _ in $(seq 100); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$prog_pid" 2>/dev/null && fail "the program did not end on Konec"
prog_pid=
grep -q "^Adresa=3" "$work/W_rq905.ini" || fail "the connection was not to address 3: $(iconv -f CP1250 -t UTF-8 "$work/W_rq905.ini")"
echo "bus_e2e: scanned, found modules 3 and 4, connected to 3"
