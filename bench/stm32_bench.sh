#!/usr/bin/env bash
# Builds (Release, own build folder) and times STM32 downloads of one 64 KB
# image at 115200 baud on the paced F103 simulator behind a pseudo-terminal:
# `talvo download` against `stm32flash -w` on the same simulator in the same
# run, and with --verify against `stm32flash -w -v`.  Each figure is the
# median of RUNS runs.  TALVO's own time also shows without its fixed waits on
# the reset lines (RTS/DTR: 500 + 500 ms before the start byte, 200 ms at the
# end), which a pty cannot use and stm32flash does not make; and its CPU time
# (user + system) against its wall time.
# Usage: bench/stm32_bench.sh [RUNS]
# Environment: TALVO_BENCH_BUILD_DIR  build folder (default <source>/build-bench)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${TALVO_BENCH_BUILD_DIR:-$src/build-bench}
runs=${1:-3}
command -v stm32flash >/dev/null || { echo "stm32flash is not installed (Debian package stm32flash)" >&2; exit 1; }
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_BUILD_GUI=OFF \
    -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target talvo >"$build/stm32_bench-build.log" 2>&1 || { tail -20 "$build/stm32_bench-build.log" >&2; exit 1; }
talvo=$build/src/cli/talvo

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
head -c 65536 /dev/urandom >"$work/img.bin"
link=$work/stm32
"$talvo" sim stm32f103 --pace --link "$link" >/dev/null 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { cat "$work/sim.log" >&2; exit 1; }

# Runs a command; prints "wall user+system" in seconds.  A failing command
# stops the benchmark.
timed() {
    local TIMEFORMAT='%R %U %S'
    if ! { time "$@" >"$work/out.txt" 2>&1; } 2>"$work/time.txt"; then
        echo "failed: $*" >&2
        tail -20 "$work/out.txt" >&2
        exit 1
    fi
    awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/time.txt"
    # The simulator restarts a chip whose port stayed closed: let it.
    sleep 1
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

declare -a tw tc sw tvw tvc svw
for _ in $(seq "$runs"); do
    timed "$talvo" download --chip stm32 --port "$link" "$work/img.bin" >"$work/r.txt"
    read -r w c <"$work/r.txt"; tw+=("$w"); tc+=("$c")
    timed stm32flash -b 115200 -m 8n1 -w "$work/img.bin" "$link" >"$work/r.txt"
    read -r w _ <"$work/r.txt"; sw+=("$w")
    timed "$talvo" download --chip stm32 --port "$link" --verify "$work/img.bin" >"$work/r.txt"
    read -r w c <"$work/r.txt"; tvw+=("$w"); tvc+=("$c")
    timed stm32flash -b 115200 -m 8n1 -w "$work/img.bin" -v "$link" >"$work/r.txt"
    read -r w _ <"$work/r.txt"; svw+=("$w")
done
m() { printf '%s\n' "$@" | median; }
T=$(m "${tw[@]}") TC=$(m "${tc[@]}") S=$(m "${sw[@]}") TV=$(m "${tvw[@]}") TVC=$(m "${tvc[@]}") SV=$(m "${svw[@]}")
awk -v t="$T" -v tc="$TC" -v s="$S" -v tv="$TV" -v tvc="$TVC" -v sv="$SV" -v runs="$runs" 'BEGIN {
    fixed = 1.2
    printf "64 KB at 115200 on the paced stm32f103 simulator behind a pty, median of %d runs\n", runs
    printf "  talvo download           %7.2f s   stm32flash -w     %7.2f s   ratio %.2f, without the 1.2 s reset waits %.2f\n", t, s, t / s, (t - fixed) / s
    printf "  talvo download --verify  %7.2f s   stm32flash -w -v  %7.2f s   ratio %.2f, without the 1.2 s reset waits %.2f\n", tv, sv, tv / sv, (tv - fixed) / sv
    printf "  CPU / wall of talvo download: %.1f %% (%.2f s of %.2f s); with --verify %.1f %%\n", 100 * tc / t, tc, t, 100 * tvc / tv
}'
