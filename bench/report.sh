#!/usr/bin/env bash
# The performance report: builds the benchmarks (Release, in build-bench),
# runs them one after the other on this machine and prints one table of
# figure, measured value, goal and whether the goal is met.  Each ratio is
# measured side by side in the same run (the programs compared take turns).
#
# Usage: bash bench/report.sh [--stc-bytes N] [--runs N] [--stm32-runs N] [--idle-seconds S] [--no-build]
#   --stc-bytes N     image size of the STC downloads (default 32768).  The
#                     32 KB downloads take about two minutes; 8192 gives a
#                     report in a few minutes.  The floor is computed for the
#                     same image, so the ratio stays comparable, but the
#                     fixed handshake weighs more in a short download.
#   --runs N          rounds of the HEX conversion and window starts (default 21 / 7)
#   --stm32-runs N    rounds of the STM32 downloads (default 3, about a minute each)
#   --idle-seconds S  how long the idle window is watched (default 10)
#   --no-build        use build-bench as it is
# Environment: TALVO_BENCH_BUILD_DIR  build folder (default <source>/build-bench)
# Every benchmark's whole output is kept in <build>/report/.
set -uo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${TALVO_BENCH_BUILD_DIR:-$src/build-bench}
stc_bytes=32768
runs=21
window_runs=7
idle_seconds=10
stm32_runs=3
do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --stc-bytes) stc_bytes=$2; shift 2 ;;
    --stc-bytes=*) stc_bytes=${1#*=}; shift ;;
    --runs) runs=$2; window_runs=$2; shift 2 ;;
    --runs=*) runs=${1#*=}; window_runs=$runs; shift ;;
    --stm32-runs) stm32_runs=$2; shift 2 ;;
    --stm32-runs=*) stm32_runs=${1#*=}; shift ;;
    --idle-seconds) idle_seconds=$2; shift 2 ;;
    --idle-seconds=*) idle_seconds=${1#*=}; shift ;;
    --no-build) do_build=0; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "report.sh: unknown argument '$1'; see --help" >&2; exit 2 ;;
  esac
done

if [ "$do_build" = 1 ]; then
  echo "building the benchmarks (Release) in $build ..." >&2
  mkdir -p "$build"
  if ! { cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_BUILD_TESTS=OFF \
           -DTALVO_BUILD_BENCH=ON -DTALVO_BUILD_GUI=ON && cmake --build "$build" -j2; } >"$build/report-build.log" 2>&1; then
    tail -30 "$build/report-build.log" >&2
    echo "report.sh: the build failed (whole log: $build/report-build.log)" >&2
    exit 1
  fi
fi
bench=$build/bench
logs=$build/report
mkdir -p "$logs"

rows=()
# row FIGURE MEASURED GOAL-TEXT MET
row() { rows+=("$1|$2|$3|$4"); }
# met VALUE OP LIMIT: "yes" / "no" / "?" (no figure)
met() {
  awk -v v="$1" -v lim="$3" -v op="$2" 'BEGIN {
    if (v !~ /^-?[0-9.]+$/ || v < 0) { print "?"; exit }
    ok = (op == "<=") ? (v + 0 <= lim + 0) : (v + 0 >= lim + 0)
    print ok ? "yes" : "no" }'
}
# The first number after PATTERN on the last line of FILE that has it.
after() { grep -E "$2" "$1" 2>/dev/null | tail -1 | sed -E "s#.*$2[^0-9-]*(-?[0-9]+(\.[0-9]+)?).*#\1#"; }
run() { # NAME COMMAND...: runs a benchmark into $logs/NAME.log and says so
  local name=$1; shift
  echo "running $name ..." >&2
  "$@" >"$logs/$name.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || echo "  $name ended with $rc (see $logs/$name.log)" >&2
  return 0
}

# 1. STC downloads against the protocol floor, and the download process's CPU share.
run stc "$bench/stc_bench" "$stc_bytes"
kb=$(awk -v b="$stc_bytes" 'BEGIN { printf (b % 1024 ? "%.1f" : "%d"), b / 1024 }')
for fam in one-byte two-byte; do
  r=$(grep "STC $fam" "$logs/stc.log" | grep -m1 'ratio' | sed -E 's/.*ratio (-?[0-9.]+).*/\1/')
  row "STC $fam, $kb KB download / protocol floor" "${r:-?}" "<= 1.05" "$(met "${r:-x}" "<=" 1.05)"
done
#    The STC15A, STC15 and STC8 rows: the image, or the chip's code flash when smaller.
for fam in "STC15A (STC15F104E)" "STC15 (IAP15F2K61S2)" "STC8 (STC8A8K64S4A12)"; do
  line=$(grep -F "  $fam " "$logs/stc.log" | grep -m1 'ratio')
  r=$(echo "$line" | sed -E 's/.*ratio (-?[0-9.]+).*/\1/')
  n=$(echo "$line" | sed -E 's/^ *.*\) +([0-9]+) B .*/\1/')
  fkb=$(awk -v b="${n:-0}" 'BEGIN { printf (b % 1024 ? "%.1f" : "%d"), b / 1024 }')
  row "$fam, $fkb KB download / protocol floor" "${r:-?}" "<= 1.05" "$(met "${r:-x}" "<=" 1.05)"
done
cpu=$(grep 'CPU/wall' "$logs/stc.log" | sed -E 's/.*CPU\/wall (-?[0-9.]+).*/\1/' | sort -g | tail -1)
grep -q FAILED "$logs/stc.log" && cpu="?"
row "CPU share of a download (talvo download, worst family)" "${cpu:-?} %" "<= 2 %" "$(met "${cpu:-x}" "<=" 2)"
#    One lost block before a run of blocks with the same data sum: it may
#    cost its resend (one block timeout, 0.9 s), nothing for the blocks after it.
for fam in one-byte two-byte; do
  r=$(grep "STC $fam" "$logs/stc.log" | grep -m1 'lost block costs' | sed -E 's/.*costs +(-?[0-9.]+) s.*/\1/')
  row "STC $fam, $kb KB download with one lost block - without (virtual time)" "${r:-?} s" "<= 1.0 s" "$(met "${r:-x}" "<=" 1.0)"
done
#    The waits for the line before a rate change or a close, behind a
#    converter whose driver cannot tell when its transmitter is empty.
w=$(grep 'line waits' "$logs/stc.log" | sed -nE 's/.*s \(driver reports an empty transmitter\), +(-?[0-9.]+) s \(writes return at once\).*/\1/p' | sort -g | tail -1)
row "STC waits for the line before rate changes, per download (CH340-like converter)" "${w:-?} s" "<= 0.5 s" "$(met "${w:-x}" "<=" 0.5)"

# 2. STM32 against stm32flash on the same simulator, with and without the
#    fixed waits on the reset lines (which stm32flash does not make).
stm32_rows() { # LOG LINE-PATTERN LABEL
  local line all bare
  line=$(grep -E "$2" "$1" | head -1)
  all=$(sed -nE 's/.*ratio (-?[0-9.]+),.*/\1/p' <<<"$line")
  bare=$(sed -nE 's/.*reset waits (-?[0-9.]+).*/\1/p' <<<"$line")
  row "$3 / stm32flash, 64 KB (same simulator)" "${all:-?}" "-" "-"
  row "$3 / stm32flash, 64 KB, without the 1.2 s reset waits" "${bare:-?}" "<= 1.0" "$(met "${bare:-x}" "<=" 1.0)"
}
if ! command -v stm32flash >/dev/null; then
  row "STM32 64 KB download / stm32flash" "no stm32flash" "<= 1.0" "-"
else
  run stm32 env TALVO="$build/src/cli/talvo" bash "$src/bench/stm32_bench.sh" "$stm32_runs"
  stm32_rows "$logs/stm32.log" 'talvo download +[0-9]' "STM32 talvo download"
  stm32_rows "$logs/stm32.log" 'talvo download --verify' "STM32 talvo download --verify (-v)"
  for chip in stm32f401 stm32g071 stm32l431; do
    for what in "download:-w" "read:-r"; do
      line=$(grep -E "^  $chip talvo ${what%%:*} " "$logs/stm32.log" | head -1)
      bare=$(sed -nE 's/.*reset waits (-?[0-9.]+).*/\1/p' <<<"$line")
      row "$chip talvo ${what%%:*} / stm32flash ${what#*:}, 64 KB, without the 1.2 s reset waits" "${bare:-?}" "<= 1.0" "$(met "${bare:-x}" "<=" 1.0)"
    done
  done
  cpu=$(sed -nE 's/.*CPU \/ wall of talvo download: (-?[0-9.]+) %.*/\1/p' "$logs/stm32.log")
  row "CPU share of an STM32 download (talvo download)" "${cpu:-?} %" "<= 2 %" "$(met "${cpu:-x}" "<=" 2)"
fi

# 3. talvo hex2bin as a process against objcopy.
run hex "$bench/hex_bench" "$runs"
r=$(grep '^hex2bin/objcopy:' "$logs/hex.log" | sed -E 's/^hex2bin\/objcopy: (-?[0-9.]+).*/\1/')
grep -q 'OUTPUT DIFFERS' "$logs/hex.log" && r="?"
row "talvo hex2bin / objcopy, 256 KB image (process, wall)" "${r:-?}" "<= 1.0" "$(met "${r:-x}" "<=" 1.0)"

# 4. The idle window with the slogan strip: offscreen, and on an X server
#    (Xvfb) when there is one (each repaint there goes through the server).
idle_row() { # LOG LABEL
  local r c
  r=$(after "$1" 'slogan scrolling')
  c=$(after "$1" "the strip's cost")
  row "CPU share, idle window with the slogan strip ($2; strip alone: ${c:-?} %)" "${r:-?} %" "<= 0.5 %" "$(met "${r:-x}" "<=" 0.5)"
}
QT_QPA_PLATFORM=offscreen run idle "$bench/accessories_bench" "$idle_seconds" --idle-only
idle_row "$logs/idle.log" offscreen
if command -v xvfb-run >/dev/null; then
  run idle-xvfb env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$bench/accessories_bench" "$idle_seconds" --idle-only
  idle_row "$logs/idle-xvfb.log" "X11, Xvfb"
else
  row "CPU share, idle window with the slogan strip (X11, Xvfb)" "no xvfb-run" "<= 0.5 %" "-"
fi

# 5. Window start to first paint, and its resident memory: offscreen, and on
#    an X server (Xvfb) when there is one.  A bare Qt dialog measured the same
#    way in the same run shows what any Qt window takes there.
window_rows() { # LOG LABEL
  local ms cpu mb bare
  ms=$(grep '^talvo-gui: first paint:' "$1" | sed -E 's/^.*first paint: (-?[0-9.]+) ms.*/\1/')
  cpu=$(grep '^talvo-gui: first paint:' "$1" | sed -E 's/.*CPU: (-?[0-9.]+) ms.*/\1/')
  mb=$(grep '^talvo-gui: first paint:' "$1" | sed -E 's/.*RSS: (-?[0-9.]+) MB.*/\1/')
  bare=$(grep '^bare_window: first paint:' "$1" | sed -E 's/^.*first paint: (-?[0-9.]+) ms.*/\1/')
  row "window start to first paint ($2; CPU ${cpu:-?} ms; bare Qt dialog ${bare:-?} ms)" "${ms:-?} ms" "<= 300 ms" "$(met "${ms:-x}" "<=" 300)"
  row "window resident memory at first paint ($2)" "${mb:-?} MB" "<= 60 MB" "$(met "${mb:-x}" "<=" 60)"
}
QT_QPA_PLATFORM=offscreen run window-offscreen "$bench/window_bench" "$window_runs" "$build/src/gui/talvo-gui" "$bench/bare_window"
window_rows "$logs/window-offscreen.log" offscreen
if command -v xvfb-run >/dev/null; then
  run window-xvfb env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$bench/window_bench" "$window_runs" "$build/src/gui/talvo-gui" "$bench/bare_window"
  window_rows "$logs/window-xvfb.log" "X11, Xvfb"
else
  row "window start to first paint (X11, Xvfb)" "no xvfb-run" "<= 300 ms" "-"
fi

# 6. Eight boards at once against one (STC89 simulators, 4 KB image).
run multi env TALVO="$build/src/cli/talvo" sh "$src/bench/multiboard.sh" 8 3
r=$(after "$logs/multi.log" '8 boards / 1 board:')
row "8 boards at once / one board" "${r:-?}" "<= 1.1" "$(met "${r:-x}" "<=" 1.1)"

# The table.
cpu_model=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
echo
echo "TALVO performance report, $(date '+%Y-%m-%d %H:%M %Z')"
echo "Machine: ${cpu_model:-unknown CPU}, $(nproc) cores, $(awk '/^MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo) RAM," \
     "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Build: Release ($build); whole outputs in $logs/"
echo
printf '| %-84s | %-14s | %-9s | %-4s |\n' Figure Measured Goal Met
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..86})" "$(printf -- '-%.0s' {1..16})" "$(printf -- '-%.0s' {1..11})" "$(printf -- '-%.0s' {1..6})"
for r in "${rows[@]}"; do
  IFS='|' read -r figure measured goal ok <<<"$r"
  printf '| %-84s | %-14s | %-9s | %-4s |\n' "$figure" "$measured" "$goal" "$ok"
done
