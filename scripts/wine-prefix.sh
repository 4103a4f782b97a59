#!/usr/bin/env bash
# Prepares the wine prefix named by WINEPREFIX as the Windows tests and
# benchmarks use it: created when missing, set to Windows 10 (the program
# and its installer need 10 1607 or later; wine says Windows 7 until told
# otherwise), and with a sans-serif dialog font. Wine maps "MS Shell Dlg"
# to Tahoma, which Debian's wine has only with fonts-wine; without it every
# dialog is drawn in a thin serif, unlike on Windows. Liberation Sans
# (fonts-liberation) has Arial's metrics.
#   WINEPREFIX=DIR scripts/wine-prefix.sh
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEDEBUG=${WINEDEBUG:--all}
wineboot -i >/dev/null 2>&1
winecfg -v win10 >/dev/null 2>&1
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
        printf '"%s"="Liberation Sans"\r\n' "$font"
    done
} >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
