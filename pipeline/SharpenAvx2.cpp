// AVX2 rows of the sharpness kernels for packed layouts (see Sharpen.cpp for the arithmetic and the
// SSE2 rows it repeats with wider registers). Compiled for AVX2 through the target pragma below; its
// functions run only after CpuHasAvx2(), and nothing else with external linkage is defined here.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/SharpenRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace tovira::sharpen_rows {
namespace {

inline int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Larger(int32_t a, int32_t b) { return a > b ? a : b; }

inline __m256i Load256(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }
inline __m128i Load128(const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); }

}  // namespace

// 8-bit samples: sums in 16 bits (vertical at most 1020, blur at most 4080), amount * (v - blur) within
// +-7650, divided by 10 with the multiply-high step.
void Row8Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
              int32_t amount) {
  const int32_t c = channels;
  const __m256i amountV = _mm256_set1_epi16(static_cast<int16_t>(amount));
  const __m256i tenth = _mm256_set1_epi16(6554);
  const __m128i keep = c == 4 ? _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)) : _mm_setzero_si128();
  alignas(32) uint16_t sums[kStrip + 16];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 16));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 16) {
      if (i > count - 16) i = count - 16;
      __m256i sum = _mm256_cvtepu8_epi16(Load128(rows[0] + first + i));
      for (int r = 1; r < 4; ++r) sum = _mm256_add_epi16(sum, _mm256_cvtepu8_epi16(Load128(rows[r] + first + i)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), sum);
      if (i == count - 16) break;
    }
    const int32_t lastStep = se - 16;
    for (int32_t k = sb;; k += 16) {
      if (k > lastStep) k = lastStep;
      const uint16_t* at = sums + (k - sb);
      const __m256i blur = _mm256_add_epi16(_mm256_add_epi16(Load256(at), Load256(at + c)),
                                            _mm256_add_epi16(Load256(at + 2 * c), Load256(at + 3 * c)));
      const __m256i v = _mm256_cvtepu8_epi16(Load128(rows[2] + k));
      const __m256i n = _mm256_mullo_epi16(_mm256_sub_epi16(v, _mm256_srli_epi16(blur, 4)), amountV);
      const __m256i q = _mm256_sub_epi16(_mm256_mulhi_epi16(n, tenth), _mm256_srai_epi16(n, 15));
      const __m256i r = _mm256_add_epi16(v, q);
      __m128i result = _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
      __m128i* target = reinterpret_cast<__m128i*>(out + k);
      if (c == 4) result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(target), keep), _mm_andnot_si128(keep, result));
      _mm_storeu_si128(target, result);
      if (k == lastStep) break;
    }
  }
}

// 16-bit samples (any value): sums in 32 bits, the quotient by 10 as a product with 0.1f in single
// precision (exact, see Sharpen.cpp).
void Row16Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
               int32_t amount, int32_t largest) {
  const int32_t c = channels;
  const __m256 amountF = _mm256_set1_ps(static_cast<float>(amount)), tenthF = _mm256_set1_ps(0.1f);
  const __m256i largestV = _mm256_set1_epi32(largest), zero = _mm256_setzero_si256();
  const __m128i keep = c == 4 ? _mm_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull)) : _mm_setzero_si128();
  alignas(32) uint32_t sums[kStrip + 16];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 8));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 8) {
      if (i > count - 8) i = count - 8;
      __m256i sum = _mm256_cvtepu16_epi32(Load128(rows[0] + 2 * (first + i)));
      for (int r = 1; r < 4; ++r)
        sum = _mm256_add_epi32(sum, _mm256_cvtepu16_epi32(Load128(rows[r] + 2 * (first + i))));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), sum);
      if (i == count - 8) break;
    }
    const int32_t lastStep = se - 8;
    for (int32_t k = sb;; k += 8) {
      if (k > lastStep) k = lastStep;
      const uint32_t* at = sums + (k - sb);
      const __m256i blur = _mm256_add_epi32(_mm256_add_epi32(Load256(at), Load256(at + c)),
                                            _mm256_add_epi32(Load256(at + 2 * c), Load256(at + 3 * c)));
      const __m256i v = _mm256_cvtepu16_epi32(Load128(rows[2] + 2 * k));
      const __m256i difference = _mm256_sub_epi32(v, _mm256_srli_epi32(blur, 4));
      const __m256i q =
          _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(difference), amountF), tenthF));
      const __m256i r = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(v, q), zero), largestV);
      __m128i result = _mm_packus_epi32(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
      __m128i* target = reinterpret_cast<__m128i*>(out + 2 * k);
      if (c == 4) result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(target), keep), _mm_andnot_si128(keep, result));
      _mm_storeu_si128(target, result);
      if (k == lastStep) break;
    }
  }
}

}  // namespace tovira::sharpen_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
