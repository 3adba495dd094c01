#!/usr/bin/env bash
# The distributable as a user gets it: built from the build tree under test, unzipped into an empty folder,
# it holds everything its README lists, its DLL is byte for byte the one the tests ran, the shipped samples
# run where they are, and the samples build from their own CMakeLists.txt with mingw-w64 (as the README
# says) and run. Windows programs run under Wine with the virtual camera.
#   tests/package-check.sh <windows build dir>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
zip=$(bash "$top/scripts/package.sh" "$build" "$out" | tail -n 1)
list=$(unzip -Z1 "$zip")
passed=0; failed=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

for entry in bin/ToviraSdk_Z400KX.dll include/ToviraSdk_Z400KX.h include/ToviraSdk_Z400KX_ext.h include/ToviraSdk_Z400KX.hpp \
             lib/ToviraSdk_Z400KX.def lib/libToviraSdk_Z400KX.dll.a lib/ToviraSdk_Z400KX.lib \
             lib/cmake/ToviraSdk_Z400KX/ToviraSdk_Z400KXConfig.cmake lib/cmake/ToviraSdk_Z400KX/ToviraSdk_Z400KXConfigVersion.cmake \
             samples/console/tovira_tool.exe samples/console/ToviraTool.cpp samples/viewer/tovira_viewer.exe \
             samples/viewer/ToviraViewer.cpp samples/grab/tovira_grab.exe samples/grab/grab.c \
             samples/grabpp/tovira_grabpp.exe samples/grabpp/grabpp.cpp \
             docs/api.md README.md licenses/zlib.txt licenses/libpng.txt licenses/libjpeg-turbo.md licenses/libdeflate.txt; do
  if grep -q "/$entry\$" <<<"$list"; then pass; else fail "missing: $entry"; fi
done
for sample in console viewer grab grabpp; do
  for entry in CMakeLists.txt ToviraSdk_Z400KX.dll; do
    if grep -q "/samples/$sample/$entry\$" <<<"$list"; then pass; else fail "missing: samples/$sample/$entry"; fi
  done
done
if ls "$top"/.cache/thirdparty/install/licenses/libtiff* >/dev/null 2>&1 && grep -q '/licenses/libtiff' <<<"$list"; then
  pass; else fail "missing: libtiff licence"; fi

mkdir "$out/x" && (cd "$out/x" && unzip -q "$zip")
root=$(echo "$out/x"/*)
for dll in "$root/bin/ToviraSdk_Z400KX.dll" "$root"/samples/*/ToviraSdk_Z400KX.dll; do
  if cmp -s "$dll" "$build/bin/ToviraSdk_Z400KX.dll"; then pass; else fail "${dll#$root/} differs from the tested DLL"; fi
done
# The MSVC import library names the DLL and its exports, the extension's included.
symbols=$(x86_64-w64-mingw32-nm "$root/lib/ToviraSdk_Z400KX.lib" 2>/dev/null || true)
for symbol in __imp_Tovira_Initialize __imp_ToviraX_LoadSettings; do
  if grep -q "$symbol" <<<"$symbols"; then pass; else fail "ToviraSdk_Z400KX.lib lacks $symbol"; fi
done

# The README is the zip's own: every path its table names is in the zip, and it sends nobody to the
# repository's folders or scripts.
readme="$root/README.md"
for path in $(grep -o '^| `[^`]*`' "$readme" | sed 's/^| `//; s/`$//' | sed 's/ .*//'); do
  path=${path//\\//}
  if [ -e "$root/$path" ]; then pass; else fail "README lists $path, which the zip lacks"; fi
done
for repository_only in scripts/ build/win apps/ bench/ .cache; do
  if grep -q "$repository_only" "$readme"; then fail "README points to $repository_only"; else pass; fi
done

# Following the README: the virtual camera switched on, the samples started where they ship.
export TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
wine="$build/wine-run.sh"
run() { # folder, program and arguments: exit code 0 and the output kept for the report
  local folder=$1
  shift
  if (cd "$folder" && "$wine" "$@" >"$out/run.txt" 2>&1); then pass; else
    fail "$* in ${folder#$root/}: $(tail -n 5 "$out/run.txt")"; fi
}
run "$root/samples/grab" ./tovira_grab.exe 3 24 grab.png
[ -s "$root/samples/grab/grab.png" ] && pass || fail "the shipped tovira_grab saved no grab.png"
run "$root/samples/grabpp" ./tovira_grabpp.exe 3 8 grab.tif
grep -q 'saved grab.tif' "$out/run.txt" && pass || fail "the shipped tovira_grabpp did not report its file"
run "$root/samples/console" ./tovira_tool.exe snapshot 48 6 frame.tif
[ -s "$root/samples/console/frame.tif" ] && pass || fail "the shipped tovira_tool saved no frame.tif"

# Building the samples as the README says for mingw-w64, in the unzipped folder: what a mingw shell on
# Windows gives CMake by itself (the system and the compilers) is named here.
cross=(-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix
       -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres)
for sample in grab grabpp console viewer; do
  folder="$root/samples/$sample"
  if (cd "$folder" && cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${cross[@]}" >"$out/cmake.txt" 2>&1 &&
      cmake --build build >>"$out/cmake.txt" 2>&1); then pass; else
    fail "samples/$sample does not build with its CMakeLists.txt: $(tail -n 15 "$out/cmake.txt")"; continue; fi
  [ -f "$folder/build/ToviraSdk_Z400KX.dll" ] && pass || fail "samples/$sample: the build did not put the DLL beside the program"
done
run "$root/samples/grab/build" ./tovira_grab.exe 2 8 built.bmp
run "$root/samples/grabpp/build" ./tovira_grabpp.exe 2 48 built.png
grep -q 'saved built.png' "$out/run.txt" && pass || fail "the built tovira_grabpp did not save its file"
run "$root/samples/console/build" ./tovira_tool.exe help

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
