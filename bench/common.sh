# Sourced by the benchmarks: builds the program and the timing tools in build-bench, makes a scratch
# folder for the recording and the copies (in BENCH_DIR, else TMPDIR) that goes when the script ends,
# and gives the helpers the figures are made with.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench

command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (Debian package 'time')"; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPELORUS_BUILD_BENCHMARKS=ON -DPELORUS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j >/dev/null

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/pelorus-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Timed runs carry no wrapper: the clock is the shell's own, so no extra process lands in the figure.
now_us() { local t=${EPOCHREALTIME/[.,]/}; echo "$t"; }

median() { sort -n | awk '{ value[NR] = $1 } END { print (NR % 2) ? value[(NR + 1) / 2] : (value[NR / 2] + value[NR / 2 + 1]) / 2 }'; }
