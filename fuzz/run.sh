#!/bin/sh
# Builds the libFuzzer targets with clang in their own build folder and runs
# each for a bounded time: the Intel HEX converter gets half of the budget,
# the parsers of chip input share the other half.  Exits non-zero on any
# crash, sanitizer report, leak, time-out or out-of-memory; the offending
# input is kept under the build folder's artifacts/.
# Usage: fuzz/run.sh [SECONDS]        (default 60, the whole budget)
# Environment: TALVO_FUZZ_BUILD_DIR  build folder (default <source>/build-fuzz)
#              TALVO_FUZZ_RUNS       run each target for this many executions instead of a time
#              TALVO_FUZZ_TARGETS    the targets to run (default: all)
set -eu
seconds=${1:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${TALVO_FUZZ_BUILD_DIR:-$src/build-fuzz}
# target, its seed corpus, the longest input worth trying
all="fuzz_hex_to_bin:corpus:8192 fuzz_stc_status:corpus-stc-status:512 fuzz_stc_answers:corpus-stc-answers:600
     fuzz_stc_download:corpus-stc-download:4096 fuzz_stc_modern_status:corpus-stc-modern-status:300
     fuzz_stc_modern_answers:corpus-stc-modern-answers:600 fuzz_stc_modern_download:corpus-stc-modern-download:8192
     fuzz_stm32_fields:corpus-stm32-fields:300
     fuzz_stm32_download:corpus-stm32-download:4096"
targets=${TALVO_FUZZ_TARGETS:-$(for t in $all; do printf '%s ' "${t%%:*}"; done)}

command -v clang++ >/dev/null || { echo "fuzz/run.sh: clang++ is needed" >&2; exit 1; }
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTALVO_BUILD_FUZZ=ON -DTALVO_BUILD_GUI=OFF -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

count=$(echo $targets | wc -w)
mkdir -p "$build/artifacts"
failed=""
for entry in $all; do
    name=${entry%%:*}
    rest=${entry#*:}
    corpus=${rest%%:*}
    maxlen=${rest#*:}
    case " $targets " in *" $name "*) ;; *) continue ;; esac
    if [ -n "${TALVO_FUZZ_RUNS:-}" ]; then
        limit="-runs=$TALVO_FUZZ_RUNS"
    elif [ "$name" = fuzz_hex_to_bin ] && [ "$count" -gt 1 ]; then
        limit="-max_total_time=$((seconds / 2))"
    elif [ "$count" -gt 1 ]; then
        share=$((seconds / 2 / (count - 1)))
        limit="-max_total_time=$((share > 5 ? share : 5))"
    else
        limit="-max_total_time=$seconds"
    fi
    # New inputs go to a scratch corpus; the committed seeds are only read.
    work=$(mktemp -d)
    echo "== $name ($limit)"
    status=0
    "$build/fuzz/$name" $limit -timeout=10 -rss_limit_mb=2048 -max_len="$maxlen" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "$work" "$src/fuzz/$corpus" 2>"$work.log" || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^(==|SUMMARY|INFO: Seed|Done)' "$work.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$work.log" >&2
        failed="$failed $name"
    fi
    rm -rf "$work" "$work.log"
done
if [ -n "$failed" ]; then
    echo "fuzz/run.sh: the fuzzer found a problem in:$failed; inputs in $build/artifacts/" >&2
    exit 1
fi
echo "fuzz/run.sh: no findings"
