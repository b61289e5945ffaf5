#!/bin/sh
# Several boards at once against one alone: the wall time of `talvo download`
# programming BOARDS simulated STC89 boards in parallel, divided by the wall
# time of one board alone, with the same image, both measured in this run
# (the median of RUNS tries each).  The work is waiting on wires, not CPU, so
# the ratio should stay near 1 even on two cores.
# Usage: bench/multiboard.sh [BOARDS] [RUNS] [IMAGE_BYTES]
# Prints one line: "8 boards / 1 board: RATIO (8: X s, 1: Y s)".
# Environment: TALVO                  a built `talvo` to measure (nothing is built then)
#              TALVO_BENCH_BUILD_DIR  build folder otherwise (default <source>/build-bench)
set -eu
boards=${1:-8}
runs=${2:-3}
bytes=${3:-4096}
src=$(cd "$(dirname "$0")/.." && pwd)
talvo=${TALVO:-}
if [ -z "$talvo" ]; then
    build=${TALVO_BENCH_BUILD_DIR:-$src/build-bench}
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_BUILD_GUI=OFF \
        -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j2 --target talvo >"$build/multiboard-build.log" 2>&1 ||
        { tail -20 "$build/multiboard-build.log" >&2; exit 1; }
    talvo="$build/src/cli/talvo"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The same image for every download: IMAGE_BYTES of random data (an
# STC89C52RC holds 8 KB).
head -c "$bytes" /dev/urandom >"$work/image.bin"
ports=""
i=0
while [ "$i" -lt "$boards" ]; do ports="$ports --port sim:stc89c52rc"; i=$((i + 1)); done

# Seconds of one download command; fails the benchmark when a board fails.
timed() {
    start=$(date +%s.%N)
    # shellcheck disable=SC2086
    if ! "$talvo" download --chip stc89 $1 "$work/image.bin" >"$work/out.txt" 2>&1; then
        echo "multiboard: a download failed:" >&2
        tail -20 "$work/out.txt" >&2
        exit 1
    fi
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/one"
: >"$work/many"
r=0
while [ "$r" -lt "$runs" ]; do
    timed "--port sim:stc89c52rc" >>"$work/one"
    timed "$ports" >>"$work/many"
    r=$((r + 1))
done
one=$(median <"$work/one")
many=$(median <"$work/many")
echo "$boards $one $many" | awk '{ printf "%d boards / 1 board: %.3f (%d: %.2f s, 1: %.2f s)\n", $1, $3 / $2, $1, $3, $2 }'
