#!/usr/bin/env bash
# Times one batch over a folder of small recordings against the README's loop of one run per
# recording, each writing its .ts file into one catalogue, and prints the medians and their ratio. A
# benchmark, not a test: it prints figures and judges nothing.
#
# usage: bench/batch.sh [recordings, default 1000] [stream bytes each, default 1024] [rounds, default 5]
# BENCH_DIR picks where the recordings go (default: TMPDIR); a new folder is made there.
set -euo pipefail

count=${1:-1000}
stream_bytes=${2:-1024}
rounds=${3:-5}
source "$(dirname "$0")/common.sh"

# The sample's header and first sync byte, then random bytes; every recording is known by its own
# name, so each gets its own line.
mkdir "$work/recs"
{ head -c 3761 "$root/examples/test.rec"; head -c $((stream_bytes - 1)) /dev/urandom; } > "$work/one.rec"
names=()
for ((index = 0; index < count; index++)); do names+=("$(printf '%s/recs/r%05d.rec' "$work" "$index")"); done
tee "${names[@]}" < "$work/one.rec" > /dev/null

clean() { rm -f "$work"/recs/*.ts "$work"/*.csv; }

loop() {
    for recording in "$work"/recs/*.rec; do
        "$build/pelorus" "$recording" "${recording%.rec}.ts" "$work/loop.csv" > /dev/null
    done
}

batch() { "$build/pelorus" -b "$work/recs" -c "$work/batch.csv" > /dev/null; }

: > "$work/loop.times"
: > "$work/batch.times"
for ((round = 1; round <= rounds; round++)); do
    for name in loop batch; do
        clean
        start=$(now_us)
        "$name"
        echo $(($(now_us) - start)) >> "$work/$name.times"
    done
done
lines=$(($(wc -l < "$work/batch.csv") - 1))

loop_us=$(median < "$work/loop.times")
batch_us=$(median < "$work/batch.times")
awk -v count="$count" -v bytes="$stream_bytes" -v rounds="$rounds" -v loop="$loop_us" -v batch="$batch_us" -v lines="$lines" 'BEGIN {
    printf "%d recordings of %d stream bytes, %d rounds, median wall time\n", count, bytes, rounds
    printf "  one run per recording (the README loop)  %9.3f s\n", loop / 1e6
    printf "  pelorus -b over the folder               %9.3f s   (%d lines)\n", batch / 1e6, lines
    printf "  the batch is %.1fx faster\n", loop / batch
}'
