#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: asks apt only for what is missing, and updates the package
# lists only when something is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ ccache qt6-base-dev libgl-dev googletest libgtest-dev
  # the English translation: lupdate, lrelease and their CMake package
  qt6-l10n-tools qt6-tools-dev
  # the window's Chinese texts (Qt's own dialogs and buttons too), and a
  # display for the demo on headless machines
  fonts-wqy-zenhei qt6-translations-l10n xvfb xauth
  # the Debian package (cpack's dependency scan) and its test
  dpkg-dev file
  # independent tools the tests compare against
  binutils srecord stm32flash
  # fuzzing the HEX converter
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
