#!/usr/bin/env bash
# Times pelorus extracting one recording against the machine's own copies and against other copy designs
# run through the library, interleaved, and prints the median time, the ratio to cp and the peak memory
# of each. A benchmark, not a test: it prints figures and judges nothing.
#
# usage: bench/extraction.sh [stream size in MiB, default 1024] [runs of each, default 15]
# BENCH_DIR picks where the recording and the copies go (default: TMPDIR); a new folder is made there.
set -euo pipefail

size_mib=${1:-1024}
runs=${2:-15}
source "$(dirname "$0")/common.sh"

# The sample's header and first sync byte, then random bytes: nothing repeats, so nothing compresses
# or deduplicates along the way.
head -c 3761 "$root/examples/test.rec" > "$work/a.rec"
head -c $((size_mib * 1048576 - 1)) /dev/urandom >> "$work/a.rec"

names=(pelorus cp dd buffered whole_16m_chunks)
declare -A commands=(
    [pelorus]="$build/pelorus -i $work/a.rec -o $work/out.ts -c $work/list.csv"
    [cp]="cp $work/a.rec $work/out.cp"
    [dd]="dd if=$work/a.rec of=$work/out.dd bs=16M iflag=skip_bytes skip=3760 status=none"
    [buffered]="$build/bench/copy_through_library buffered 524288 $work/a.rec $work/out.buffered"
    [whole_16m_chunks]="$build/bench/copy_through_library buffered 16777216 $work/a.rec $work/out.whole"
)
declare -A labels=(
    [pelorus]="pelorus (the program as built)"
    [cp]="cp of the whole recording"
    [dd]="dd bs=16M iflag=skip_bytes skip=3760"
    [buffered]="library, buffered fallback, 512 KiB pieces"
    [whole_16m_chunks]="library, whole 16 MiB reads and writes"
)

cat "$work/a.rec" > /dev/null   # warm the page cache
for name in "${names[@]}"; do : > "$work/$name.times"; : > "$work/$name.rss"; done

for ((run = 1; run <= runs; run++)); do
    # Rotate the order so that no command always follows the same one.
    for ((index = 0; index < ${#names[@]}; index++)); do
        name=${names[(index + run) % ${#names[@]}]}
        rm -f "$work"/out.*
        sync
        start=$(now_us)
        ${commands[$name]} > /dev/null
        end=$(now_us)
        echo $((end - start)) >> "$work/$name.times"
    done
done

# Peak resident memory comes from separate runs under /usr/bin/time.
for ((run = 1; run <= 3; run++)); do
    for name in "${names[@]}"; do
        rm -f "$work"/out.*
        /usr/bin/time -f %M -o "$work/rss.last" ${commands[$name]} > /dev/null
        cat "$work/rss.last" >> "$work/$name.rss"
    done
done

# The ratio of each run to the run of the reference in the same round, then the median of those ratios:
# a slow moment of the machine then weighs on both sides of a pair.
median_ratio() { paste "$work/$1.times" "$work/$2.times" | awk '{ print $1 / $2 }' | median; }
cp_rss=$(sort -n "$work/cp.rss" | tail -n 1)

echo "stream of $size_mib MiB, $runs interleaved rounds, hot page cache"
printf '%-42s %14s %12s %17s %13s %14s\n' "copy" "median seconds" "ratio to cp" "ratio to 16M copy" "peak RSS KiB" "RSS minus cp's"
for name in "${names[@]}"; do
    time_median=$(median < "$work/$name.times")
    rss=$(sort -n "$work/$name.rss" | tail -n 1)
    printf '%-42s %14.3f %12.3f %17.3f %13d %+14d\n' "${labels[$name]}" "$(awk -v t="$time_median" 'BEGIN { print t / 1e6 }')" \
        "$(median_ratio "$name" cp)" "$(median_ratio "$name" whole_16m_chunks)" "$rss" $((rss - cp_rss))
done
echo "(ratios are medians of the per-round ratios; peak RSS is the largest of three further runs)"
