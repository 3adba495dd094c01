#!/usr/bin/env bash
# Builds the distributable zip of the SDK from a Windows build tree:
#   bash scripts/package.sh [build dir, default build/win] [output folder, default dist]
# The zip holds the DLL, the C headers and the C++ header, the .def, import libraries for mingw (.a) and MSVC
# (.lib), a CMake package, the four sample programs (each with the DLL beside it, its sources and a
# CMakeLists.txt), its own README, the API reference and the licences of the bundled libraries.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/win}" && pwd)
out=$(mkdir -p "${2:-$top/dist}" && cd "${2:-$top/dist}" && pwd)
if [ -z "${1:-}" ]; then
  bash "$top/scripts/setup.sh"
  bash "$top/scripts/build.sh"
fi

name=ToviraSdk_Z400KX-2.5.5.14
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/$name"
mkdir -p "$root"/{bin,include,lib/cmake/ToviraSdk_Z400KX,samples,docs,licenses}

cp "$build/bin/ToviraSdk_Z400KX.dll" "$root/bin/"
cp "$build/bin/ToviraZ400KXCapture.ax" "$root/bin/"   # DirectShow capture source: regsvr32 it (docs/directshow.md)
cp "$top/include/ToviraSdk_Z400KX.h" "$top/include/ToviraSdk_Z400KX_ext.h" "$top/include/ToviraSdk_Z400KX.hpp" "$root/include/"
cp "$top/api/ToviraSdk_Z400KX.def" "$root/lib/"
cp "$build/lib/libToviraSdk_Z400KX.dll.a" "$build/lib/ToviraSdk_Z400KX.lib" "$root/lib/"
cp "$top/docs/zip/cmake/"*.cmake "$root/lib/cmake/ToviraSdk_Z400KX/"
# Each sample: the program with the DLL beside it (so it starts where it ships), its sources and its
# CMakeLists.txt.
sample() { # folder in the zip, program, sources...
  local folder=$1 program=$2
  shift 2
  mkdir -p "$root/samples/$folder"
  cp "$build/bin/$program" "$build/bin/ToviraSdk_Z400KX.dll" "$@" "$top/docs/zip/samples/$folder/CMakeLists.txt" \
     "$root/samples/$folder/"
}
sample console tovira_tool.exe "$top/apps/console/"*.cpp "$top/apps/console/"*.h
sample viewer tovira_viewer.exe "$top/apps/viewer/"*.cpp "$top/apps/viewer/"*.h
sample grab tovira_grab.exe "$top/apps/grab/"*.c
sample grabpp tovira_grabpp.exe "$top/apps/grabpp/"*.cpp
cp "$top/docs/zip/README.md" "$root/"
cp "$top/docs/api.md" "$root/docs/"
cp "$top/docs/directshow.md" "$root/docs/"
if [ -d "$top/docs/screenshots" ]; then cp -r "$top/docs/screenshots" "$root/docs/"; fi
cp "$top/.cache/thirdparty/install/licenses/"* "$root/licenses/"

rm -f "$out/$name.zip"
(cd "$stage" && zip -qr "$out/$name.zip" "$name")
echo "$out/$name.zip"
