#!/bin/sh
# Builds (Release, own build folder) and runs the HEX conversion benchmark:
# a 256 KB image's HEX through TALVO's converter, objcopy and srec_cat.
# Usage: bench/hex_bench.sh [RUNS] [RECORD_BYTES]
# Environment: TALVO_BENCH_BUILD_DIR  build folder (default <source>/build-bench)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${TALVO_BENCH_BUILD_DIR:-$src/build-bench}
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTALVO_BUILD_TESTS=OFF -DTALVO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target hex_bench talvo >"$build/hex_bench-build.log" 2>&1 || { tail -20 "$build/hex_bench-build.log" >&2; exit 1; }
"$build/bench/hex_bench" "$@"
