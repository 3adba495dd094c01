#!/usr/bin/env bash
# Cross-builds the image libraries the DLL links statically (libpng 1.6, libjpeg-turbo 2.1 with the jpeg-8
# API, libtiff 4.5 without codecs, libdeflate 1.14 for the PNG writer's compression) from Debian's source
# packages into .cache/thirdparty. zlib comes from Debian's libz-mingw-w64-dev. A finished build leaves a
# stamp and is not rebuilt.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache="$top/.cache/thirdparty"
prefix="$cache/install"
stamp="$prefix/.built-v1"
# libdeflate (the PNG writer's deflate) has a stamp of its own, so an existing cache only adds it (v3:
# Debian's source as it is; v2 had a patch applied, so a cache with v2 builds it again).
deflateStamp="$prefix/.built-libdeflate-v3"
[ -f "$stamp" ] && [ -f "$deflateStamp" ] && exit 0

if ! grep -rqs '^deb-src .*bookworm main\|^Types: deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  # The entry must name the same keyring as the binary entries, or apt refuses the whole list.
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  if grep -rqs "Signed-By: $keyring" /etc/apt/sources.list.d/; then
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm main" > /etc/apt/sources.list.d/tovira-src.list
  else
    echo "deb-src http://deb.debian.org/debian bookworm main" > /etc/apt/sources.list.d/tovira-src.list
  fi
  apt-get update -qq
fi

mkdir -p "$cache/src" "$prefix"
cd "$cache/src"
for pkg in libpng1.6 libjpeg-turbo tiff libdeflate; do
  if ! ls -d "$pkg"-*/ >/dev/null 2>&1 && ! ls -d "${pkg%1.6}"*-*/ >/dev/null 2>&1; then
    apt-get source -qq --download-only "$pkg" >/dev/null 2>&1
    dsc=$(ls "${pkg}"_*.dsc | head -n 1)
    dpkg-source -x --no-check "$dsc" >/dev/null
  fi
done

src() { ls -d "$cache/src/$1"-*/ | head -n 1; }

# libdeflate 1.14 builds with a plain Makefile; its library is the C files of lib/ and lib/x86/, built
# from Debian's source unchanged (the PNG writer uses only its public API).
if [ ! -f "$deflateStamp" ]; then
  rm -rf "$cache/build/deflate" "$cache/build/deflate-src"
  mkdir -p "$cache/build"
  deflateSource="$(src libdeflate)"
  mkdir -p "$cache/build/deflate" "$prefix/include" "$prefix/lib" "$prefix/licenses"
  for c in "$deflateSource"lib/*.c "$deflateSource"lib/x86/*.c; do
    x86_64-w64-mingw32-gcc-posix -O2 -DNDEBUG -I"$deflateSource" -c "$c" \
      -o "$cache/build/deflate/$(basename "$(dirname "$c")")_$(basename "${c%.c}").o"
  done
  rm -f "$prefix/lib/libdeflate.a"
  x86_64-w64-mingw32-ar rcs "$prefix/lib/libdeflate.a" "$cache/build/deflate"/*.o
  cp "$deflateSource/libdeflate.h" "$prefix/include/"
  cp "$deflateSource/COPYING" "$prefix/licenses/libdeflate.txt"
  touch "$deflateStamp"
fi
[ -f "$stamp" ] && exit 0

toolchain="$top/cmake/mingw-w64.cmake"
common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
        -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DCMAKE_C_FLAGS="-O2")

cmake -S "$(src libpng1.6)" -B "$cache/build/png" "${common[@]}" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=ON \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include >/dev/null
cmake --build "$cache/build/png" -j2 >/dev/null
cmake --install "$cache/build/png" >/dev/null

cmake -S "$(src libjpeg-turbo)" -B "$cache/build/jpeg" "${common[@]}" -Wno-dev \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_JPEG8=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON \
  -DCMAKE_ASM_NASM_COMPILER=nasm -DCMAKE_SYSTEM_PROCESSOR=AMD64 >/dev/null
cmake --build "$cache/build/jpeg" -j2 >/dev/null
cmake --install "$cache/build/jpeg" >/dev/null

cmake -S "$(src tiff)" -B "$cache/build/tiff" "${common[@]}" \
  -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
  -Dzlib=OFF -Dlibdeflate=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF \
  -Dwebp=OFF -Dpixarlog=OFF -Dcxx=OFF >/dev/null
cmake --build "$cache/build/tiff" -j2 >/dev/null
cmake --install "$cache/build/tiff" >/dev/null

# The static libraries under the names the build links (libpng installs libpng16.a; names vary by version).
cd "$prefix/lib"
[ -f libpng16.a ] || cp "$(ls libpng16*.a libpng*.a 2>/dev/null | head -n 1)" libpng16.a
[ -f libjpeg.a ] || cp "$(ls libjpeg*.a | head -n 1)" libjpeg.a
[ -f libtiff.a ] || cp "$(ls libtiff*.a | head -n 1)" libtiff.a
mkdir -p "$prefix/licenses"
cp "$(src libpng1.6)/LICENSE" "$prefix/licenses/libpng.txt"
cp "$(src libjpeg-turbo)/LICENSE.md" "$prefix/licenses/libjpeg-turbo.md"
cp "$(src tiff)/LICENSE.md" "$prefix/licenses/libtiff.md" 2>/dev/null || cp "$(src tiff)/COPYRIGHT" "$prefix/licenses/libtiff.txt"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$prefix/licenses/zlib.txt"
touch "$stamp"
echo "image libraries built into .cache/thirdparty/install"
