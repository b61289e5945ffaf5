#!/usr/bin/env bash
# The main job: set up, build, and show TALVO's main window.  Without a
# display it runs the window on a virtual display (xvfb-run), saves a picture
# of it to out/main-window.png and ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p out
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/src/gui/talvo-gui "$@"
fi
echo "run: no display; starting the window on a virtual display"
xvfb-run -a -s "-screen 0 1024x768x24" ./build/src/gui/talvo-gui --screenshot out/main-window.png "$@"
echo "run: the main window is in out/main-window.png"
