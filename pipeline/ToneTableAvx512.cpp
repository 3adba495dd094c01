// AVX-512 (VBMI) body of the 8-bit tone tables: 64 samples per step through the 256-entry table held in
// four registers, with two 128-entry byte permutes and a select by the sample's top bit. Compiled for
// AVX-512 through the target pragma below; its function runs only after CpuHasAvx512Vbmi() (VectorPath.cpp), and nothing
// else with external linkage is defined here.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/ToneRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
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

}  // namespace tovira::tone_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
