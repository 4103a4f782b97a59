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

# Seeds: the settings files of the tests, and number texts of each form.
mkdir -p "$out/corpus_ini" "$out/corpus_inttext"
cp "$root"/tests/settings/data/*.ini "$root"/tests/settings/data/*.ref "$out/corpus_ini/"
n=0
for text in "12" "  -2147483648" "+5" '$FFFFFFFF' "0x2A0" "X1f" "2A0h" "0x"; do
    n=$((n + 1))
    printf '%s' "$text" > "$out/corpus_inttext/seed$n"
done

cd "$out"
status=0
for target in fuzz_ini fuzz_inttext; do
    echo "== $target: $seconds s"
    corpus="$out/corpus_${target#fuzz_}"
    "./$target" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "$corpus" || status=1
done
exit $status
