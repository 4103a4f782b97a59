#!/usr/bin/env bash
# The installer end to end under wine, as a Windows user meets it: the MSI
# installs quietly into a fresh prefix; the installed W_RQ905.exe starts on
# a virtual X display with Qt's windows platform, started in the
# simulator's folder as its Start-menu entry does; keystrokes connect it
# through our TRQ1318.DLL to the installed rq905-sim.exe over UDP; "Konec"
# closes it; the settings file is then the user's own, in %APPDATA%, in
# Windows-1250 with CRLF; uninstalling leaves no program file behind.
#   msi_e2e.sh MSI SCREENSHOT.png
set -euo pipefail
msi=$1 shot=$2
work=$(mktemp -d)
export WINEPREFIX=$work/wine WINEDEBUG=-all
unset QT_QPA_PLATFORM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
cleanup() {
    [[ -n ${xvfb:-} ]] && kill "$xvfb" 2>/dev/null
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
export DISPLAY=:$(head -n 1 "$work/display")

# Windows 10 and a sans-serif dialog font, as on Windows.
bash "$(dirname "$0")/../../scripts/wine-prefix.sh"
installed() { compgen -G "$WINEPREFIX/drive_c/Program Files*/RQ-905/W_RQ905.exe" >/dev/null; }
# Windows older than 10 1607 is refused, with its reason in Czech.
reason=$(msiinfo export "$msi" LaunchCondition | grep -F 'WINDOWSBUILD >= 14393' || true)
[[ $reason == *'Servisní nástroj RQ-905 pracuje jen na Windows 10 od verze 1607 (sestavení 14393)'* ]] ||
    fail "no Czech launch condition for Windows 10 1607: '$reason'"
winecfg -v win7 >/dev/null 2>&1
wine msiexec /i "$(winepath -w "$msi")" /qn >/dev/null 2>&1 && fail "installed on Windows 7"
installed && fail "files installed on Windows 7"
winecfg -v win10 >/dev/null 2>&1
wine msiexec /i "$(winepath -w "$msi")" /qn >/dev/null 2>&1 || fail "msiexec /i"
dir=
for d in "Program Files (x86)" "Program Files"; do
    [[ -f "$WINEPREFIX/drive_c/$d/RQ-905/W_RQ905.exe" ]] && dir="$WINEPREFIX/drive_c/$d/RQ-905"
done
[[ -n $dir ]] || fail "W_RQ905.exe not installed"
# The maker's libraries must win: none of ours beside the program.
if compgen -G "$dir/*.DLL" >/dev/null || compgen -G "$dir/*.dll" >/dev/null; then fail "a driver library beside W_RQ905.exe"; fi
[[ -f "$dir/Simulator/TRQ1318.DLL" ]] || fail "substitute libraries not installed"
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Servisní nástroj RQ-905.lnk' | head -n 1)
[[ -n $menu ]] || fail "no Start-menu entry"
# The licence beside the program and in the zip; the version as the
# program and the file names give it.
grep -q 'GNU GENERAL PUBLIC LICENSE' "$dir/LICENSE.txt" || fail "no LICENSE.txt installed"
python3 -c 'import sys, zipfile; sys.exit("RQ-905/LICENSE.txt" not in zipfile.ZipFile(sys.argv[1]).namelist())' \
    "${msi%.msi}.zip" || fail "no LICENSE.txt in the zip"
shown=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {key = $0} /DisplayName .*RQ-905/ {ours = key} /DisplayVersion/ {v[key] = $NF} END {print v[ours]}')
[[ $shown == 1.02 ]] || fail "installed programs show version '$shown', not 1.02"

# The Windows simulator, as the Start-menu entry starts it, on a port of its own.
port=$((20000 + RANDOM % 20000))
(cd "$dir/Simulator" && exec wine rq905-sim.exe --udp "$port" --modules 1 >"$work/sim.out" 2>&1) &
sim=$!
for _ in $(seq 200); do
    grep -q '^ready' "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '^ready' "$work/sim.out" || { cat "$work/sim.out" >&2; fail "rq905-sim.exe did not start"; }

trace_win='C:\rq905-trace.txt'
(cd "$dir/Simulator" && RQ905_TRACE=$trace_win exec wine ../W_RQ905.exe >"$work/app.out" 2>&1) &
app=$!
window=$(xdotool search --sync --onlyvisible --name 'RQ-905 \(v\.1\.02\)' | head -n 1)
[[ -n $window ]] || fail "main window not shown"

key() { # key KEYS...: one key at a time into the window that has the focus
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.15
    done
}
type_text() {
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 40 "$1"
    sleep 0.1
}
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.5
key alt+p
dialog=$(xdotool search --sync --onlyvisible --name 'Připojení modulu' | head -n 1)
[[ -n $dialog ]] || fail "connection dialog not shown"
sleep 0.5
# Focus starts on the address; the kind list is five tabs on. End picks the
# LAN converter, the last kind; then its port and time-out, back to the IP
# address and the module address, and on to "Inicializace připojení".
key Tab Tab Tab Tab Tab End
key Tab
type_text "$port"
key Tab
type_text 1000
key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
type_text 127.0.0.1
key shift+Tab
type_text 1
key Tab Tab Tab space
trace=$WINEPREFIX/drive_c/rq905-trace.txt
connected=
for _ in $(seq 100); do
    # The three identification transactions, each answered.
    if (($(grep -ac 'TRQ1318 .* Send .* taken .*| result 0 ' "$trace" 2>/dev/null || true) >= 3)); then
        connected=1
        break
    fi
    sleep 0.1
done
sleep 1
import -display "$DISPLAY" -window root "$shot" 2>/dev/null || true
[[ -n $connected ]] || fail "no identification went over the link (trace: $(head -c 600 "$trace" 2>/dev/null))"
# Close the dialog with its "Cancel", then the program with "Konec".
key Tab space
for _ in $(seq 50); do
    xdotool search --onlyvisible --name 'Připojení modulu' >/dev/null 2>&1 || break
    sleep 0.1
done
sleep 0.5
# The main window with the module in its status bar.
import -display "$DISPLAY" -window root "$shot" 2>/dev/null || true
key alt+k
for _ in $(seq 100); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app" 2>/dev/null && fail "Konec did not end the program"

ini=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Roaming/RQ-905/W_rq905.ini' | head -n 1)
[[ -n $ini ]] || fail "no settings file in %APPDATA%\\RQ-905"
[[ ! -e $dir/W_rq905.ini ]] || fail "settings written beside the installed program"
text=$(iconv -f CP1250 -t UTF-8 "$ini") || fail "settings file is not Windows-1250"
[[ $text == *$'Rozhraní=RQ-1318\r'* ]] || fail "settings lack the LAN kind: $text"
[[ $text == *$'UDP port='"$port"$'\r'* ]] || fail "settings lack the UDP port: $text"
grep -q $'[^\r]$' "$ini" && fail "a settings line without CRLF"

# The simulator's registers are the user's own, not the installed folder's.
state=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Local/RQ-905/rq905-sim.state' | head -n 1)
[[ -n $state ]] || fail "simulator state not in %LOCALAPPDATA%\\RQ-905"
kill "$sim" 2>/dev/null || true
wineserver -k 2>/dev/null || true
wine msiexec /x "$(winepath -w "$msi")" /qn >/dev/null 2>&1 || fail "msiexec /x"
left=$(find "$dir" -type f 2>/dev/null | head -n 5 || true)
[[ -z $left ]] || fail "left after uninstall: $left"
echo "installed, connected over UDP to rq905-sim.exe, settings in $(basename "$(dirname "$ini")"), uninstalled"
