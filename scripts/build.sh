#!/usr/bin/env bash
# Configures and builds the Windows tree (DLL, samples, Windows tests) in build/win and, with --host, the
# host tree (portable core with sanitizer tests) in build/host.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ ! -f build/win/CMakeCache.txt ]; then
  cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build/win -j2
if [ "${1:-}" = "--host" ]; then
  if [ ! -f build/host/CMakeCache.txt ]; then
    cmake -S . -B build/host -G Ninja >/dev/null
  fi
  cmake --build build/host -j2
fi
