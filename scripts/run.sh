#!/usr/bin/env bash
# Starts the RQ-905 service tool against the module simulator: installs what
# is missing, builds, starts rq905-sim on loopback (UDP and a pseudo-
# terminal), prepares the settings beside the program when there are none,
# and opens the main window. Closing the window stops the simulator.
#   RQ905_SIM_PORT   UDP port of the simulator (default 3180)
#   RQ905_SIM_ARGS   further simulator options, e.g. "--faults 0.1"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    cat >&2 <<'MSG'
rq905: there is no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset).
  - On a desktop, start this command from a terminal of the desktop session.
  - Over SSH, connect with X forwarding: ssh -X host, then run it again.
  - On a machine without any display, use a virtual one:
        sudo apt-get install -y xvfb && xvfb-run -a scripts/run.sh
    (the window is then invisible; the command-line tests need none: scripts/test.sh)
MSG
    exit 2
fi

"$root/scripts/deps.sh"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target W_RQ905 rq905-sim rq905ctl \
    TCOM318 TPCI318 TPCI1318 TUSB1318 TRQ1318

bin="$root/build/bin"
port="${RQ905_SIM_PORT:-3180}"
state_dir="$root/build/sim"
mkdir -p "$state_dir"
pty_link="$state_dir/rq905-sim.pty"

# The simulator's inputs walk so the monitors show life.
log="$state_dir/rq905-sim.log"
# shellcheck disable=SC2086
"$bin/rq905-sim" --udp "$port" --link "$pty_link" --state "$state_dir/rq905-sim.state" \
    --pattern walk ${RQ905_SIM_ARGS:-} </dev/null >"$log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT

for _ in $(seq 50); do
    grep -q '^udp ' "$log" 2>/dev/null && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "rq905: the simulator did not start (is UDP port $port in use? set RQ905_SIM_PORT):" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.1
done
echo "rq905: simulator running: $(grep -E '^(udp|pty) ' "$log" | tr '\n' ' ')(log: $log)"

# Settings a user has saved are never overwritten.
ini="$bin/W_rq905.ini"
if [[ ! -e "$ini" ]]; then
    printf '[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=1\r\nRychlost=9600\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=200\r\n' \
        "$port" | iconv -f UTF-8 -t CP1250 >"$ini"
    echo "rq905: prepared $ini for the simulator"
fi

# The serial kinds reach the simulator's pseudo-terminal too.
export RQ905_COM1="$pty_link" RQ905_PCI318="$pty_link" RQ905_PCI1318="$pty_link" RQ905_USB1318="$pty_link"
"$bin/W_RQ905"
