#!/usr/bin/env bash
# Times the stream check (-s) on one recording, interleaved, against the machine's own copy and read
# (cp, cat > /dev/null), pelorus without -s, and the two designs a checked copy can have: read each
# piece into a buffer, check it and write it, or map the recording and write and check the mapped
# bytes. Prints each command's median time with its spread, the median of its per-round ratio to cp
# (copies) or to cat (reads), and the peak memory. A benchmark, not a test: it judges nothing.
#
# usage: bench/stream_check.sh [stream size in MiB, default 1024] [rounds, default 15]
# BENCH_DIR picks where the recording and the copies go (default: TMPDIR); a new folder is made there.
set -euo pipefail

size_mib=${1:-1024}
rounds=${2:-15}
source "$(dirname "$0")/common.sh"

# The sample's header, then its stream of real packets over and over: the checker does its whole work
# on every packet, and finds a continuity error at each seam.
head -c 3760 "$root/examples/test.rec" > "$work/a.rec"
tail -c +3761 "$root/examples/test.rec" > "$work/packets"
target=$((size_mib * 1048576))
while [ "$(stat -c %s "$work/a.rec")" -lt "$target" ]; do cat "$work/packets" >> "$work/a.rec"; done
truncate -s "$target" "$work/a.rec"
rm "$work/packets"

P=$build/pelorus
D=$build/bench/checked_copy_designs
names=(cp pelorus pelorus_s buffered_128k buffered_1m mapped_4m populated_4m cat pelorus_t_s buffered_read_128k populated_read_4m)
declare -A commands=(
    [cp]="cp $work/a.rec $work/out.cp"
    [pelorus]="$P -i $work/a.rec -o $work/out.ts -c $work/out.csv"
    [pelorus_s]="$P -s -i $work/a.rec -o $work/out.ts -c $work/out.csv"
    [buffered_128k]="$D buffered 131072 $work/a.rec $work/out.buffered"
    [buffered_1m]="$D buffered 1048576 $work/a.rec $work/out.buffered"
    [mapped_4m]="$D mapped 4194304 $work/a.rec $work/out.mapped"
    [populated_4m]="$D populated 4194304 $work/a.rec $work/out.mapped"
    [cat]="cat $work/a.rec"
    [pelorus_t_s]="$P -t -s -i $work/a.rec -c $work/out.csv"
    [buffered_read_128k]="$D buffered 131072 $work/a.rec"
    [populated_read_4m]="$D populated 4194304 $work/a.rec"
)
declare -A reference=([cat]=cat [pelorus_t_s]=cat [buffered_read_128k]=cat [populated_read_4m]=cat)
declare -A labels=(
    [cp]="cp of the whole recording"
    [pelorus]="pelorus"
    [pelorus_s]="pelorus -s"
    [buffered_128k]="design: buffer of 128 KiB, check, write"
    [buffered_1m]="design: buffer of 1 MiB, check, write"
    [mapped_4m]="design: map 4 MiB, write and check it"
    [populated_4m]="design: same, the mapping populated first"
    [cat]="cat > /dev/null"
    [pelorus_t_s]="pelorus -t -s"
    [buffered_read_128k]="design: buffer of 128 KiB, check only"
    [populated_read_4m]="design: map 4 MiB populated, check only"
)

cat "$work/a.rec" > /dev/null   # the page cache holds the recording from here on
for name in "${names[@]}"; do : > "$work/$name.times"; done
for ((round = 1; round <= rounds; round++)); do
    # Rotated, so that no command always follows the same one.
    for ((index = 0; index < ${#names[@]}; index++)); do
        name=${names[(index + round) % ${#names[@]}]}
        rm -f "$work"/out.*
        start=$(now_us)
        ${commands[$name]} > /dev/null 2>&1
        end=$(now_us)
        echo $((end - start)) >> "$work/$name.times"
    done
done
for name in pelorus_s pelorus_t_s cp cat; do
    rm -f "$work"/out.*
    /usr/bin/time -f %M -o "$work/$name.rss" ${commands[$name]} > /dev/null 2>&1
done

spread() { sort -n | awk 'NR == 1 { low = $1 } { high = $1 } END { printf "%.3f-%.3f", low / 1e6, high / 1e6 }'; }
best() { sort -n | head -n 1; }
ratio_median() { paste "$work/$1.times" "$work/$2.times" | awk '{ print $1 / $2 }' | median; }

echo "stream of $size_mib MiB of real packets, $rounds interleaved rounds, hot page cache, in $(df --output=fstype "$work" | tail -1)"
printf '%-42s %9s %14s %9s %9s %9s %11s\n' "command" "median s" "spread s" "ratio" "best s" "best ratio" "peak RSS"
for name in "${names[@]}"; do
    ref=${reference[$name]:-cp}
    rss=$( [ -f "$work/$name.rss" ] && echo "$(cat "$work/$name.rss") KiB" || echo "")
    printf '%-42s %9.3f %14s %7.3f %s %9.3f %9.3f %s %11s\n' "${labels[$name]}" "$(awk -v t="$(median < "$work/$name.times")" 'BEGIN { print t / 1e6 }')" \
        "$(spread < "$work/$name.times")" "$(ratio_median "$name" "$ref")" "$( [ "$ref" = cat ] && echo c || echo p)" \
        "$(awk -v t="$(best < "$work/$name.times")" 'BEGIN { print t / 1e6 }')" \
        "$(awk -v t="$(best < "$work/$name.times")" -v r="$(best < "$work/$ref.times")" 'BEGIN { print t / r }')" \
        "$( [ "$ref" = cat ] && echo c || echo p)" "$rss"
done
echo "ratio: the median of the per-round ratios; best ratio: the fastest run over the reference's fastest;"
echo "to cp (p) for copies and to cat > /dev/null (c) for reads. On a noisy machine the best runs show the cost"
echo "of the work itself, the medians what a user meets."
