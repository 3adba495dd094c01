// Table lookups with AVX-512 (BW, VBMI): a 256-entry byte table held in four registers, looked up for 64
// bytes at once (two 128-entry byte permutes and a select by the top bit of each byte), and a 16-bit
// table in memory, looked up for 32 samples by gathers.
//
// For the files compiled for AVX-512 only (HueSaturationAvx512.cpp, SharpenAvx512.cpp,
// ToneTableAvx512.cpp): include it after their target pragma. Everything here has internal linkage, so each such file has its own copy and no
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

// table[min(v, largest)] for the 32 samples of v in `lanes` (the others 0), from a table of largest + 1
// entries (largest >= 1): two gathers of sixteen 32-bit reads whose low halves are the entries. A read at
// the last entry would pass the table's end, so indices stop one short of it and samples at or above
// the largest value take the last entry from a register.
[[gnu::always_inline]] inline __m512i Lookup16(const uint16_t* table, int32_t largest, __m512i v,
                                               __mmask32 lanes = ~0u) {
  const __m512i evenWords = _mm512_set_epi16(62, 60, 58, 56, 54, 52, 50, 48, 46, 44, 42, 40, 38, 36, 34, 32, 30, 28,
                                             26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  const __mmask32 atTop = _mm512_cmpge_epu16_mask(v, _mm512_set1_epi16(static_cast<int16_t>(largest)));
  const __m512i index = _mm512_min_epu16(v, _mm512_set1_epi16(static_cast<int16_t>(largest - 1)));
  const __m512i zero = _mm512_setzero_si512();
  const __m512i low = _mm512_mask_i32gather_epi32(zero, static_cast<__mmask16>(lanes),
                                                  _mm512_cvtepu16_epi32(_mm512_castsi512_si256(index)), table, 2);
  const __m512i high = _mm512_mask_i32gather_epi32(zero, static_cast<__mmask16>(lanes >> 16),
                                                   _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(index, 1)), table, 2);
  return _mm512_mask_mov_epi16(_mm512_permutex2var_epi16(low, evenWords, high), atTop,
                               _mm512_set1_epi16(static_cast<int16_t>(table[largest])));
}

}  // namespace
}  // namespace tovira
