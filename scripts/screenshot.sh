#!/usr/bin/env bash
# Saves a PNG picture of the main window (offscreen, with the CJK font) to
# docs/main-window.png or to the path given.  Uses a fresh settings folder, so
# the picture shows the window as a first run does.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/main-window.png}"
[ -x build/src/gui/talvo-gui ] || bash scripts/build.sh
cfg="$(mktemp -d)"
trap 'rm -rf "$cfg"' EXIT
XDG_CONFIG_HOME="$cfg" QT_QPA_PLATFORM=offscreen ./build/src/gui/talvo-gui --screenshot "$out"
