// AVX2 bodies of the tone tables, with no gathers. 8-bit tables: 32 bytes a step by byte shuffles of
// the table's sixteen 16-entry pieces (TableLookupAvx2.h). The brightness alone (8-bit and
// 16-bit) is computed with the table builder's single-precision steps instead. Compiled for AVX2
// through the target pragma below; its functions run only after CpuHasAvx2() (VectorPath.cpp), nothing
// else with external linkage is defined here, and no inline function of another header is used.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/ToneRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "pipeline/TableLookupAvx2.h"

namespace tovira::tone_rows {

int64_t Lookup8Avx2(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth) {
  const ByteTable2 pieces = LoadByteTable2(table);
  // Bytes 3, 7, 11, ... keep their value with keepFourth.
  const __m256i keep = keepFourth ? _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)) : _mm256_setzero_si256();
  auto store = [&](uint8_t* to, __m256i value) {
    auto* at = reinterpret_cast<__m256i*>(to);
    if (keepFourth) value = _mm256_blendv_epi8(value, _mm256_loadu_si256(at), keep);
    _mm256_storeu_si256(at, value);
  };
  int64_t done = 0;
  for (; done + 32 <= n; done += 32)
    store(target + done, Lookup2(pieces, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + done))));
  return done;
}

int64_t Brightness8Avx2(uint8_t* target, const uint8_t* source, int64_t n, float factor, bool keepFourth) {
  const __m256 scale = _mm256_set1_ps(factor), ceiling = _mm256_set1_ps(255.0f), floor = _mm256_setzero_ps();
  const __m256i keep = keepFourth ? _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)) : _mm256_setzero_si256();
  // Eight bytes as single-precision values, through the table's builder steps, back as 32-bit values.
  auto eight = [&](const uint8_t* at) {
    const __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))));
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(v, scale), floor), ceiling));
  };
  int64_t done = 0;
  for (; done + 32 <= n; done += 32) {
    const uint8_t* from = source + done;
    // packs work per 128-bit lane: words of bytes 0..3, 8..11 | 4..7, 12..15 and so on; the permute
    // puts the four groups of eight back in order.
    const __m256i low = _mm256_packus_epi32(eight(from), eight(from + 8));
    const __m256i high = _mm256_packus_epi32(eight(from + 16), eight(from + 24));
    __m256i value = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(low, high), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    auto* at = reinterpret_cast<__m256i*>(target + done);
    if (keepFourth) value = _mm256_blendv_epi8(value, _mm256_loadu_si256(at), keep);
    _mm256_storeu_si256(at, value);
  }
  return done;
}

int64_t Brightness16Avx2(uint8_t* target, const uint8_t* source, int64_t n, float factor, int32_t largest,
                         bool keepFourth) {
  if (largest < 1 || largest > 65535) return 0;
  const __m256i top = _mm256_set1_epi16(static_cast<int16_t>(largest));
  const __m256 scale = _mm256_set1_ps(factor), ceiling = _mm256_set1_ps(static_cast<float>(largest));
  const __m256 floor = _mm256_setzero_ps();
  // Samples 3, 7, 11, ... keep their value with keepFourth.
  const __m256i keep = keepFourth ? _mm256_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull)) : _mm256_setzero_si256();
  // The single-precision product of the table's builder, clamped and truncated the same way.
  auto scaled = [&](__m256i v32) {
    const __m256 p = _mm256_mul_ps(_mm256_cvtepi32_ps(v32), scale);
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(p, floor), ceiling));
  };
  int64_t done = 0;
  for (; done + 16 <= n; done += 16) {
    auto* at = reinterpret_cast<__m256i*>(target + 2 * done);
    const __m256i v = _mm256_min_epu16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 2 * done)), top);
    const __m256i low = scaled(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)));
    const __m256i high = scaled(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
    __m256i value = _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8);
    if (keepFourth) value = _mm256_blendv_epi8(value, _mm256_loadu_si256(at), keep);
    _mm256_storeu_si256(at, value);
  }
  return done;
}

}  // namespace tovira::tone_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
