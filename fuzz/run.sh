#!/usr/bin/env bash
# Fuzzes one target for a given time, starting from its seed corpus: header_line (header reading and
# the catalogue line) or stream_check (the stream check).
# usage: fuzz/run.sh [seconds, default 600] [target, default header_line]
# New inputs go to fuzz/corpus-work or fuzz/stream-corpus-work (not committed); a crash is written to
# fuzz/ as crash-*.
set -euo pipefail
seconds=${1:-600}
target=${2:-header_line}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPELORUS_FUZZ=ON -DPELORUS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j --target "${target}_fuzzer" >/dev/null

cd "$root/fuzz"
case $target in
    header_line) corpus=corpus; options=(-max_len=8192 -dict=header.dict) ;;
    stream_check) corpus=stream-corpus; options=(-max_len=16384) ;;
    *) echo "unknown target: $target" >&2; exit 2 ;;
esac
mkdir -p "$corpus-work"
"$build/fuzz/${target}_fuzzer" "${options[@]}" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$root/fuzz/" "$corpus-work" "$corpus"
