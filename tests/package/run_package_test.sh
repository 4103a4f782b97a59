#!/usr/bin/env bash
# The Debian package, unpacked into a temporary root and run from there:
# lintian finds no error; the versions are the package's; the unpacked
# rq905ctl finds the unpacked drivers by its run path and identifies the
# unpacked simulator's module over UDP; the unpacked program, started
# offscreen and ended by SIGTERM, keeps its settings in
# $HOME/.config/rq905/W_rq905.ini and leaves its own directory alone.
#   tests/package/run_package_test.sh build-pkg/rq905_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "${1:?usage: run_package_test.sh PACKAGE.deb}")

fail() {
    echo "package test: $*" >&2
    exit 1
}

tmp=$(mktemp -d)
sim_pid=""
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

lintian --fail-on error "$deb" || fail "lintian reports errors"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
version=$(dpkg-deb -f "$deb" Version)
[[ $("$bin/rq905ctl" --version) == "rq905ctl $version" ]] || fail "rq905ctl --version is not $version"
[[ $("$bin/rq905" --version) == "rq905 $version" ]] || fail "rq905 --version is not $version"
[[ $("$bin/rq905-gateway" --version) == "rq905-gateway $version" ]] || fail "rq905-gateway --version is not $version"
# The gateway's service is installed, not enabled, and runs the installed
# program with the installed configuration file, which is a conffile.
unit=$root/usr/lib/systemd/system/rq905-gateway.service
grep -qx "ExecStart=/usr/bin/rq905-gateway --config /etc/rq905/gateway.conf" "$unit" || fail "no gateway unit"
grep -qx "DynamicUser=yes" "$unit" || fail "the gateway unit has no dynamic user"
[[ -f $root/etc/rq905/gateway.conf ]] || fail "no /etc/rq905/gateway.conf"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/rq905/gateway.conf ||
    fail "/etc/rq905/gateway.conf is no conffile"
[[ ! -e $root/etc/systemd ]] || fail "the package enables a service"

"$bin/rq905-sim" --udp 0 --fresh --state "$tmp/sim.state" --quiet </dev/null >"$tmp/sim.log" 2>&1 &
sim_pid=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^udp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/sim.log")
    [[ -n "$port" ]] && break
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$tmp/sim.log")"
    sleep 0.1
done
[[ -n "$port" ]] || fail "the simulator named no UDP port"

# Defaults shipped beside the installed programs name the simulator; a user
# with no file of their own reads them, and the first save of the user's
# file keeps them all, another interface kind's too.
settings() {
    printf '[Připojení]\r\nRozhraní=RQ-1318\r\nAdresa=1\r\nRychlost=9600\r\n[COMx]\r\nČíslo portu=2\r\n[RQ-1318]\r\nIP adresa=127.0.0.1\r\nUDP port=%s\r\nUDP timeout=500\r\n' \
        "$1" | iconv -f UTF-8 -t CP1250
}
settings "$port" >"$bin/W_rq905.ini"
cp "$bin/W_rq905.ini" "$tmp/shipped.ini"
export HOME=$tmp/home XDG_CONFIG_HOME=""
mkdir "$HOME"
"$bin/rq905ctl" identify >"$tmp/identify.txt" 2>&1 || fail "rq905ctl identify: $(cat "$tmp/identify.txt")"
grep -q "RQ-905" "$tmp/identify.txt" || fail "rq905ctl identify named no module: $(cat "$tmp/identify.txt")"

QT_QPA_PLATFORM=offscreen "$bin/rq905" >"$tmp/rq905.log" 2>&1 &
pid=$!
# SIGTERM closes the program in order only once it handles the signal.
for _ in $(seq 600); do
    mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$mask" ]] && (((0x$mask >> 14) & 1)) && break
    kill -0 "$pid" 2>/dev/null || fail "rq905 ended before it was closed: $(cat "$tmp/rq905.log")"
    sleep 0.1
done
kill -TERM "$pid"
# A program that never ends fails the test rather than holding up CI.
running() {
    local state
    state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]
}
for _ in $(seq 1200); do
    running "$pid" || break
    sleep 0.1
done
if running "$pid"; then
    kill -KILL "$pid"
    fail "rq905 did not end on SIGTERM"
fi
status=0
wait "$pid" || status=$?
[[ $status -eq 0 ]] || fail "rq905 ended with status $status: $(cat "$tmp/rq905.log")"

own=$HOME/.config/rq905/W_rq905.ini
[[ -f "$own" ]] || fail "rq905 wrote no $own"
cmp -s "$own" "$tmp/shipped.ini" || fail "$own does not hold the loaded settings in Windows-1250 with CRLF"
cmp -s "$bin/W_rq905.ini" "$tmp/shipped.ini" || fail "rq905 changed the file beside itself"
[[ $(export LC_ALL=C && cd "$bin" && echo *) == "W_rq905.ini rq905 rq905-gateway rq905-sim rq905ctl" ]] ||
    fail "rq905 left files beside itself"

# From now on the user's own file wins over the shipped one.
settings 9 >"$bin/W_rq905.ini"
"$bin/rq905ctl" identify >"$tmp/identify.txt" 2>&1 || fail "rq905ctl did not read $own: $(cat "$tmp/identify.txt")"
echo "package test: passed ($(basename "$deb"))"
