// AVX-512 (BW, VBMI) bodies of the tone tables. 8-bit: 64 samples per step through the 256-entry table
// held in four registers, with two 128-entry byte permutes and a select by the sample's top bit; 16-bit:
// 32 samples per step through gathers. Compiled for AVX-512 through the target pragma below; its functions
// run only after CpuHasAvx512Vbmi() (VectorPath.cpp), and nothing else with external linkage is defined here.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/ToneRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the undefined upper halves inside the widening intrinsics for uninitialised values;
// nothing here reads them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tovira::tone_rows {

int64_t Lookup8Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth) {
  // With keepFourth, every fourth byte (bytes 3, 7, ...) of the target keeps its value.
  const __mmask64 write = keepFourth ? 0x7777777777777777ull : ~0ull;
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  int64_t done = 0;
  for (; done + 64 <= n; done += 64) {
    const __m512i v = _mm512_loadu_si512(source + done);
    const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);   // entries 0..127 by the low 7 bits
    const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);  // entries 128..255
    const __mmask64 top = _mm512_movepi8_mask(v);              // samples >= 128
    _mm512_mask_storeu_epi8(target + done, write, _mm512_mask_blend_epi8(top, low, high));
  }
  return done;
}

// 16-bit tables: 32 samples a step, in two gathers of sixteen 32-bit reads whose low halves are the
// entries. A read at the last entry would pass the table's end, so indices stop one short of it and the
// samples at or above the largest value take the last entry from a register.
int64_t Lookup16Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint16_t* table, int32_t largest,
                       bool keepFourth) {
  if (largest < 1) return 0;
  const __mmask32 write = keepFourth ? 0x77777777u : ~0u;
  const __m512i top = _mm512_set1_epi16(static_cast<int16_t>(largest));
  const __m512i below = _mm512_set1_epi16(static_cast<int16_t>(largest - 1));
  const __m512i last = _mm512_set1_epi16(static_cast<int16_t>(table[largest]));
  const __m512i evenWords = _mm512_set_epi16(62, 60, 58, 56, 54, 52, 50, 48, 46, 44, 42, 40, 38, 36, 34, 32, 30, 28,
                                             26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  int64_t done = 0;
  for (; done + 32 <= n; done += 32) {
    const __m512i v = _mm512_loadu_si512(source + 2 * done);
    const __mmask32 atTop = _mm512_cmpge_epu16_mask(v, top);
    const __m512i index = _mm512_min_epu16(v, below);
    const __m512i low = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(index)), table, 2);
    const __m512i high = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(index, 1)), table, 2);
    const __m512i entries = _mm512_mask_mov_epi16(_mm512_permutex2var_epi16(low, evenWords, high), atTop, last);
    _mm512_mask_storeu_epi16(target + 2 * done, write, entries);
  }
  return done;
}

}  // namespace tovira::tone_rows

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#if defined(__GNUC__)
#pragma GCC pop_options
#endif
