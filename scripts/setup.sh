#!/usr/bin/env bash
# Installs what building and testing the SDK needs on Debian bookworm (as root), once; a later run that
# finds everything installed returns at once. Then cross-builds the image libraries (also once).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(cmake ninja-build g++ make pkg-config
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
          libz-mingw-w64-dev nasm dpkg-dev patch
          wine wine64 fonts-wine xvfb xauth fonts-ipafont-gothic
          googletest imagemagick ffmpeg pngcheck python3 zip unzip)
if [ "${1:-}" = "--bench" ]; then packages+=(libbenchmark-dev libopencv-dev); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # With recommends: Wine needs its fonts (fonts-wine) and the X extensions it recommends to draw as tested.
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

bash "$top/scripts/build-thirdparty.sh"
