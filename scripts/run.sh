#!/usr/bin/env bash
# The main job: set up, build, and show TALVO at work.  With a display it
# opens the main window.  Without one it runs the window on a virtual display
# (xvfb-run) and lets it program the bundled example firmware into two
# simulated boards, an STC89 and an STM32F103, through its own controls
# (chip type, port, "打开文件", "下载程序"): each download's log is printed, a
# picture of each finished window is saved in docs/, and the run ends 0 only
# when both boards' flash holds the example image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/src/gui/talvo-gui "$@"
fi
echo "run: no display; the window programs the examples into two simulated boards on a virtual display"
# A settings folder of its own: the demo starts as a first run does and
# leaves the user's settings alone.
cfg="$(mktemp -d)"
trap 'rm -rf "$cfg"' EXIT
mkdir -m 700 "$cfg/runtime"
status=0
XDG_CONFIG_HOME="$cfg" XDG_RUNTIME_DIR="$cfg/runtime" xvfb-run -a -s "-screen 0 1024x768x24" ./build/src/gui/talvo-gui \
  --demo examples --pictures docs --port sim:stc89c52rc --port sim:stm32f103 \
  --port sim:stc15w4k56s4 --port sim:stc8a8k64s4a12 "$@" || status=$?
if [ "$status" -eq 0 ]; then
  echo "run: every board holds its example firmware; pictures: docs/demo-stc89.png docs/demo-stm32f103.png docs/demo-stc15.png docs/demo-stc8.png"
else
  echo "run: the demo failed (exit $status); see the lines above" >&2
fi
exit "$status"
