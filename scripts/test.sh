#!/usr/bin/env bash
# Sets up, builds and runs every test: the CTest suite, the same suite again
# under ThreadSanitizer, and a bounded fuzzing run of the HEX converter and
# of what the chips send.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 600

echo "== The whole suite again under ThreadSanitizer"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVO_SANITIZE=thread \
      -DTALVO_BUILD_GUI=OFF -DTALVO_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-tsan -j"$(nproc)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j2 --timeout 900

if [ -x fuzz/run.sh ] || [ -f fuzz/run.sh ]; then
  echo "== Fuzzing the HEX converter and what the chips send"
  bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
fi
