#!/usr/bin/env bash
# rq905ctl.exe's Czech on wine's console and through a pipe. Started from a
# terminal, wine gives the program a console; in cmd.exe set to the Czech
# console code page (852), its help (standard output) and an error
# (standard error) must arrive as the characters themselves, not as UTF-8
# bytes read in that code page. Through a pipe they stay UTF-8 bytes.
#   console_e2e.sh RQ905CTL_EXE
set -euo pipefail
ctl=$1
export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# cmd.exe as a Czech Windows opens it.
printf '@chcp 852 >nul\r\n@"%s" %%*\r\n' "$(winepath -w "$ctl" 2>/dev/null)" >"$work/czech.bat"
bat=$(winepath -w "$work/czech.bat" 2>/dev/null)

# case: where, what the command is given, a text it must show
cases=(
    "console|--help|Volby připojení (bez nich platí soubor W_rq905.ini"
    "console|identify --bogus|rq905ctl: neznámá volba --bogus"
    "pipe|--help|Volby připojení (bez nich platí soubor W_rq905.ini"
    "pipe|identify --bogus|rq905ctl: neznámá volba --bogus"
)
for c in "${cases[@]}"; do
    IFS='|' read -r where args text <<<"$c"
    if [[ $where == console ]]; then
        # script(1) gives wine a terminal; both streams reach it.
        out=$(script -qec "wine cmd /c '$bat' $args" /dev/null </dev/null || true)
    else
        out=$(wine "$ctl" $args 2>&1 | cat || true)
    fi
    out=${out//$'\r'/}
    [[ $out == *"$text"* ]] || fail "$where, rq905ctl $args: '$text' not in: $(head -c 400 <<<"$out")"
    echo "ok: $where, rq905ctl $args"
done
