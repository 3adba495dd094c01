#!/usr/bin/env bash
# Installs what is needed, builds the SDK and runs the console demo under Wine against the virtual camera
# (Xvfb as the display). Its files land in out/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p out
export WINEPREFIX="$top/build/win/wineprefix"
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null' EXIT
export TOVIRA_VIRTUAL_CAMERAS="${TOVIRA_VIRTUAL_CAMERAS:-0}"
export TOVIRA_VIRTUAL_PACE="${TOVIRA_VIRTUAL_PACE:-sensor}"
# The wrapper makes the Wine prefix on first use and starts Xvfb when there is no display.
build/win/wine-run.sh build/win/bin/tovira_tool.exe demo out
