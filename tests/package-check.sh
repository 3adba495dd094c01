#!/usr/bin/env bash
# The distributable: built from the build tree under test, it holds everything listed, and its DLL is
# byte for byte the one the tests ran.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
zip=$(bash "$top/scripts/package.sh" "$build" "$out" | tail -n 1)
list=$(unzip -Z1 "$zip")
passed=0; failed=0
for entry in bin/ToviraSdk_Z400KX.dll include/ToviraSdk_Z400KX.h include/ToviraSdk_Z400KX_ext.h lib/ToviraSdk_Z400KX.def \
             lib/libToviraSdk_Z400KX.dll.a lib/ToviraSdk_Z400KX.lib samples/console/tovira_tool.exe \
             samples/console/ToviraTool.cpp samples/viewer/tovira_viewer.exe samples/viewer/ToviraViewer.cpp samples/grab/tovira_grab.exe samples/grab/grab.c \
             docs/api.md README.md licenses/zlib.txt licenses/libpng.txt licenses/libjpeg-turbo.md licenses/libdeflate.txt; do
  if grep -q "/$entry\$" <<<"$list"; then passed=$((passed + 1)); else echo "missing: $entry"; failed=$((failed + 1)); fi
done
if ls "$top"/.cache/thirdparty/install/licenses/libtiff* >/dev/null 2>&1 && grep -q '/licenses/libtiff' <<<"$list"; then
  passed=$((passed + 1)); else echo "missing: libtiff licence"; failed=$((failed + 1)); fi
mkdir "$out/x" && (cd "$out/x" && unzip -q "$zip")
if cmp -s "$out/x"/*/bin/ToviraSdk_Z400KX.dll "$build/bin/ToviraSdk_Z400KX.dll"; then passed=$((passed + 1));
else echo "the packaged DLL differs from the tested one"; failed=$((failed + 1)); fi
# The MSVC import library names the DLL and its exports.
symbols=$(x86_64-w64-mingw32-nm "$out/x"/*/lib/ToviraSdk_Z400KX.lib 2>/dev/null || true)
if grep -q '__imp_Tovira_Initialize' <<<"$symbols"; then
  passed=$((passed + 1)); else echo "ToviraSdk_Z400KX.lib lacks Tovira_Initialize"; failed=$((failed + 1)); fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
