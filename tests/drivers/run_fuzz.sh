#!/bin/sh
# Fuzzes the frame decoder for a while: run_fuzz.sh <seconds> [build dir].
# Needs clang-14 and libclang-rt-14-dev; builds in its own directory.
set -eu
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-$here/../../build-fuzz}
cxx=${RQ905_FUZZ_CXX:-clang++-14}

cmake -S "$here/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

# Seeds: a request and a reply, plain and behind noise.
corpus="$build/corpus"
mkdir -p "$corpus"
printf '\001\245\001\310\000\007\000\000\000\000\000\000\005\352' >"$corpus/seed-request"
printf '\003\132\001\310\000\007\000\000\000\122\121\055\071\341\075' >"$corpus/seed-reply"
printf '\007\000\132\063\132\001\310\000\007\000\000\000\122\121\055\071\341\075' >"$corpus/seed-noise"

exec "$build/rq905_fuzz_decoder" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$corpus"
