#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR (default build/), installs it, runs
# the installed program (the refusal of two paths, and a real window on a
# virtual X server through the entry tests), then removes it again.
set -euo pipefail
TAMBERLO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$TAMBERLO_ROOT/build}
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

cd "$build"
rm -f tamberlo_*.deb
cpack -G DEB >/dev/null
deb=$(ls tamberlo_*.deb)
echo "Built $deb, depending on: $(dpkg-deb -f "$deb" Depends)"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "./$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq tamberlo >/dev/null' EXIT

installed=$(command -v tamberlo)
status=0
output=$(QT_QPA_PLATFORM=offscreen "$installed" one two) || status=$?
if [ "$status" -ne 1 ] || [ "$output" != "At most one path to watch per app instance!" ]; then
    echo "installed $installed answered two paths with status $status and: $output" >&2
    exit 1
fi
TAMBERLO_EXECUTABLE=$installed QT_QPA_PLATFORM=offscreen tests/tst_entry
echo "The installed package works."
