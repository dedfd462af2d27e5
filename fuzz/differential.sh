#!/usr/bin/env bash
# The differential harness of the stream check's fast way: builds the stream_check fuzz target, writes
# damaged variants of real streams (the bundled sample's, and any .rec or .ts files given) in batches,
# runs the target over each batch, and says how many streams and bytes were held against the plain way.
# The target aborts on the first stream the two ways report differently.
# usage: fuzz/differential.sh [streams, default 20000] [stream or recording ...]
set -euo pipefail
count=${1:-20000}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORUS_FUZZ=ON -DPELORUS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j --target stream_check_fuzzer >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/pelorus-differential-XXXXXX")
trap 'rm -rf "$work"' EXIT
batch=1000
streams=0
bytes=0
for ((first = 0; first < count; first += batch)); do
    this=$((count - first < batch ? count - first : batch))
    rm -rf "$work/batch"
    python3 "$root/fuzz/make-stream-variants.py" "$work/batch" "$this" "$first" "$root/examples/test.rec" "$@"
    "$build/fuzz/stream_check_fuzzer" -runs=0 "$work/batch"/* > "$work/log" 2>&1 || { cat "$work/log"; exit 1; }
    streams=$((streams + this))
    bytes=$((bytes + $(du -sb "$work/batch" | cut -f1) - this))
done
echo "$streams streams, $bytes bytes: the fast and the plain way gave the same report for every one"
