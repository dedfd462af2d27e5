#!/usr/bin/env bash
# Fuzzes header reading and the catalogue line for a given time, starting from the seed corpus.
# usage: fuzz/run.sh [seconds, default 600]
# New inputs go to fuzz/corpus-work (not committed); a crash is written to fuzz/ as crash-*.
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELORUS_FUZZ=ON -DPELORUS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j --target header_line_fuzzer >/dev/null

mkdir -p "$root/fuzz/corpus-work"
cd "$root/fuzz"
"$build/fuzz/header_line_fuzzer" -max_len=8192 -dict=header.dict -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$root/fuzz/" corpus-work corpus
