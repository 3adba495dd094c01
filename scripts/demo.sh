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

# The files open in readers that share no code with the SDK.
echo "== the files, as other readers see them"
status=0
for f in out/*.bmp out/*.jpg out/*.png out/*.tif; do
  if seen=$(/usr/bin/identify-im6.q16 "$f" 2>/dev/null); then echo "  ${seen#out/}" | head -n 1
  else echo "  unreadable: $f"; status=1; fi
done
if seen=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height,nb_frames \
             -of csv=p=0 out/recording.avi); then echo "  recording.avi: $seen"
else echo "  unreadable: out/recording.avi"; status=1; fi
exit $status
