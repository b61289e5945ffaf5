#!/usr/bin/env bash
# Sets up, builds and runs every test: the CTest suite, the serial tests
# again under ThreadSanitizer, and a bounded fuzzing run of the HEX converter.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 600

echo "== ThreadSanitizer build of the threaded tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVO_SANITIZE=thread \
      -DTALVO_BUILD_GUI=OFF -DTALVO_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j2 --timeout 900 -L 'threads|serial'

if [ -x fuzz/run.sh ] || [ -f fuzz/run.sh ]; then
  echo "== Fuzzing the HEX converter"
  bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
fi
