#!/usr/bin/env bash
# Builds (Release, own build folder) and times STM32 downloads of one 64 KB
# image at 115200 baud on the paced F103 simulator behind a pseudo-terminal:
# `talvo download` against `stm32flash -w` on the same simulator in the same
# run, and with --verify against `stm32flash -w -v`.  Each figure is the
# median of RUNS runs.  TALVO's own time also shows without its fixed waits on
# the reset lines (RTS/DTR: 500 + 500 ms before the start byte, 200 ms at the
# end), which a pty cannot use and stm32flash does not make; and its CPU time
# (user + system) against its wall time.
# Then, on each of the paced stm32f401, stm32g071 and stm32l431 simulators,
# `talvo download` against `stm32flash -w` and `talvo read` of 64 KB against
# `stm32flash -r` (also with and without the reset waits).
# Usage: bench/stm32_bench.sh [RUNS] [CHIPS...]   (CHIPS: default the three above; "none" skips them)
# Environment: TALVO                  a built `talvo` to measure (nothing is built then)
#              TALVO_BENCH_BUILD_DIR  build folder otherwise (default <source>/build-bench)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
shift || true
chips=("$@")
[ ${#chips[@]} -eq 0 ] && chips=(stm32f401 stm32g071 stm32l431)
[ "${chips[0]}" = none ] && chips=()
command -v stm32flash >/dev/null || { echo "stm32flash is not installed (Debian package stm32flash)" >&2; exit 1; }
talvo=${TALVO:-}
if [ -z "$talvo" ]; then
    build=${TALVO_BENCH_BUILD_DIR:-$src/build-bench}
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_BUILD_GUI=OFF \
        -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j2 --target talvo >"$build/stm32_bench-build.log" 2>&1 || { tail -20 "$build/stm32_bench-build.log" >&2; exit 1; }
    talvo=$build/src/cli/talvo
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
head -c 65536 /dev/urandom >"$work/img.bin"
link=$work/stm32
# start_sim CHIP: a paced simulator of CHIP on $link (the one before it stopped).
start_sim() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=; fi
    rm -f "$link"
    "$talvo" sim "$1" --pace --link "$link" >/dev/null 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
    [ -e "$link" ] || { cat "$work/sim.log" >&2; exit 1; }
}
start_sim stm32f103

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
# spread "TALVO-TIMES" "STM32FLASH-TIMES": the lowest and highest ratio of the
# runs' pairs without the reset waits, "low-high".
spread() {
    paste -d' ' <(tr ' ' '\n' <<<"$1") <(tr ' ' '\n' <<<"$2") |
        awk '{r = ($1 - 1.2) / $2; if (NR == 1 || r < lo) lo = r; if (NR == 1 || r > hi) hi = r}
             END {printf "%.3f-%.3f", lo, hi}'
}

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
SP=$(spread "${tw[*]}" "${sw[*]}") SPV=$(spread "${tvw[*]}" "${svw[*]}")
awk -v t="$T" -v tc="$TC" -v s="$S" -v tv="$TV" -v tvc="$TVC" -v sv="$SV" -v runs="$runs" -v sp="$SP" -v spv="$SPV" 'BEGIN {
    fixed = 1.2
    printf "64 KB at 115200 on the paced stm32f103 simulator behind a pty, median of %d runs\n", runs
    printf "  talvo download           %7.2f s   stm32flash -w     %7.2f s   ratio %.3f, without the 1.2 s reset waits %.3f (runs %s)\n", t, s, t / s, (t - fixed) / s, sp
    printf "  talvo download --verify  %7.2f s   stm32flash -w -v  %7.2f s   ratio %.3f, without the 1.2 s reset waits %.3f (runs %s)\n", tv, sv, tv / sv, (tv - fixed) / sv, spv
    printf "  CPU / wall of talvo download: %.1f %% (%.2f s of %.2f s); with --verify %.1f %%\n", 100 * tc / t, tc, t, 100 * tvc / tv
}'

# The newer parts: download and read, each against stm32flash, taking turns.
for chip in "${chips[@]}"; do
    start_sim "$chip"
    declare -a dw=() dsw=() rw=() rsw=()
    for _ in $(seq "$runs"); do
        timed "$talvo" download --chip stm32 --port "$link" "$work/img.bin" >"$work/r.txt"
        read -r w _ <"$work/r.txt"; dw+=("$w")
        timed stm32flash -b 115200 -m 8n1 -w "$work/img.bin" "$link" >"$work/r.txt"
        read -r w _ <"$work/r.txt"; dsw+=("$w")
        rm -f "$work/t.bin" "$work/s.bin"
        timed "$talvo" read --chip stm32 --port "$link" --length 65536 "$work/t.bin" >"$work/r.txt"
        read -r w _ <"$work/r.txt"; rw+=("$w")
        timed stm32flash -b 115200 -m 8n1 -r "$work/s.bin" -S 0x08000000:65536 "$link" >"$work/r.txt"
        read -r w _ <"$work/r.txt"; rsw+=("$w")
        cmp -s "$work/t.bin" "$work/s.bin" || { echo "talvo read and stm32flash -r differ on $chip" >&2; exit 1; }
    done
    D=$(m "${dw[@]}") DS=$(m "${dsw[@]}") R=$(m "${rw[@]}") RS=$(m "${rsw[@]}")
    SD=$(spread "${dw[*]}" "${dsw[*]}") SR=$(spread "${rw[*]}" "${rsw[*]}")
    awk -v chip="$chip" -v d="$D" -v ds="$DS" -v r="$R" -v rs="$RS" -v runs="$runs" -v sd="$SD" -v sr="$SR" 'BEGIN {
        fixed = 1.2
        printf "64 KB at 115200 on the paced %s simulator behind a pty, median of %d runs\n", chip, runs
        printf "  %s talvo download  %7.2f s   stm32flash -w  %7.2f s   ratio %.3f, without the 1.2 s reset waits %.3f (runs %s)\n", chip, d, ds, d / ds, (d - fixed) / ds, sd
        printf "  %s talvo read      %7.2f s   stm32flash -r  %7.2f s   ratio %.3f, without the 1.2 s reset waits %.3f (runs %s)\n", chip, r, rs, r / rs, (r - fixed) / rs, sr
    }'
done
