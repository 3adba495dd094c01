// A 256-entry byte table held in four AVX-512 registers and looked up for 64 bytes at once: two
// 128-entry byte permutes (VBMI) and a select by the top bit of each byte.
//
// For the files compiled for AVX-512 only (HueSaturationAvx512.cpp, SharpenAvx512.cpp): include it after
// their target pragma. Everything here has internal linkage, so each such file has its own copy and no
// AVX-512 code can stand in for a copy of another file at link time.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace tovira {
namespace {

struct ByteTable {
  __m512i part[4];
};

inline ByteTable LoadByteTable(const uint8_t* table) {
  ByteTable t;
  for (int i = 0; i < 4; ++i) t.part[i] = _mm512_loadu_si512(table + 64 * i);
  return t;
}

// table[v] for 64 bytes; `top` has the bytes of 128 and up (when several tables share an index).
[[gnu::always_inline]] inline __m512i Lookup(const ByteTable& table, __m512i v, __mmask64 top) {
  const __m512i low = _mm512_permutex2var_epi8(table.part[0], v, table.part[1]);
  const __m512i high = _mm512_permutex2var_epi8(table.part[2], v, table.part[3]);
  return _mm512_mask_blend_epi8(top, low, high);
}
[[gnu::always_inline]] inline __m512i Lookup(const ByteTable& table, __m512i v) {
  return Lookup(table, v, _mm512_movepi8_mask(v));
}

}  // namespace
}  // namespace tovira
