#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer, then runs each for the
# given number of seconds (default 30). Usage: tests/fuzz/run_fuzz.sh [seconds]
# The build directory is build-fuzz at the top of the checkout, or
# RQ905_FUZZ_DIR. The main build skips this folder: it needs clang, and the
# Windows-1250 execution character set of the main build is GCC's alone.
set -eu

seconds=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${RQ905_FUZZ_DIR:-$root/build-fuzz}

if ! command -v clang++ >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    $sudo apt-get install -y clang
fi

mkdir -p "$out"
flags="-std=c++20 -g -O1 -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I$root"
clang++ $flags -o "$out/fuzz_ini" "$root/tests/fuzz/fuzz_ini.cpp" "$root/core/ProfileText.cpp" "$root/core/Cp1250.cpp"
clang++ $flags -o "$out/fuzz_inttext" "$root/tests/fuzz/fuzz_inttext.cpp" "$root/core/IntText.cpp"
# The gateway's Modbus server with libmodbus (scripts/deps.sh installs it).
gateway=""
if [ -f /usr/include/modbus/modbus.h ]; then
    clang++ $flags -I"$root/gateway" -I"$root/tools/rq905ctl" -I"$root/linkstats" -o "$out/fuzz_modbus" \
        "$root/tests/fuzz/fuzz_modbus.cpp" "$root/gateway/ModbusServer.cpp" "$root/gateway/ModbusMap.cpp" \
        "$root/gateway/Log.cpp" "$root/gateway/Cidr.cpp" "$root/core/IntText.cpp" -lmodbus
    gateway=fuzz_modbus
fi

# Seeds: the settings files of the tests, and number texts of each form.
mkdir -p "$out/corpus_ini" "$out/corpus_inttext" "$out/corpus_modbus"
cp "$root"/tests/settings/data/*.ini "$root"/tests/settings/data/*.ref "$out/corpus_ini/"
n=0
for text in "12" "  -2147483648" "+5" '$FFFFFFFF' "0x2A0" "X1f" "2A0h" "0x"; do
    n=$((n + 1))
    printf '%s' "$text" > "$out/corpus_inttext/seed$n"
done

# Modbus frames: a read of each table, each write, a frame longer than its
# function, two frames in one, a wrong protocol identifier.
n=0
for hex in 000100000006010200000008 000200000006010100000008 000300000006020400000002 \
    0004000000060103002000060005000000060106000003E8 000600000008010F000000040105 \
    00070000000B011000210002040001000F 000800010006010300000001 000900000005012B0E0100 \
    000A000000FF0103000000010000 0001000000060102; do
    n=$((n + 1))
    printf '%s' "$hex" | sed 's/../\\x&/g' | xargs -0 printf '%b' > "$out/corpus_modbus/seed$n"
done

cd "$out"
status=0
for target in fuzz_ini fuzz_inttext $gateway; do
    echo "== $target: $seconds s"
    corpus="$out/corpus_${target#fuzz_}"
    "./$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus" || status=1
done
exit $status
