#!/usr/bin/env bash
# Builds the Debian package build/package/talvo_VERSION_amd64.deb and, when
# lintian is installed, checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
(cd build && cpack -G DEB)
deb=$(ls -t build/package/talvo_*.deb | head -n 1)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
if command -v lintian >/dev/null; then
  echo "lintian:"; lintian "$deb" || true
fi
