#!/bin/sh
# Builds the libFuzzer target of the Intel HEX converter with clang in its own
# build folder and runs it for a bounded time.  Exits non-zero on any crash,
# sanitizer report, leak, time-out or out-of-memory; the offending input is
# kept under the build folder's artifacts/.
# Usage: fuzz/run.sh [SECONDS]        (default 60)
# Environment: TALVO_FUZZ_BUILD_DIR  build folder (default <source>/build-fuzz)
set -eu
seconds=${1:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${TALVO_FUZZ_BUILD_DIR:-$src/build-fuzz}

command -v clang++ >/dev/null || { echo "fuzz/run.sh: clang++ is needed" >&2; exit 1; }
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTALVO_BUILD_FUZZ=ON -DTALVO_BUILD_GUI=OFF -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_hex_to_bin

# New inputs go to a scratch corpus; the committed seeds are only read.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"
status=0
"$build/fuzz/fuzz_hex_to_bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$work" "$src/fuzz/corpus" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz/run.sh: the fuzzer found a problem (exit $status); inputs in $build/artifacts/" >&2
    exit 1
fi
echo "fuzz/run.sh: no findings in ${seconds} s"
