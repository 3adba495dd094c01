// AVX-512 (BW, VBMI) rows of the sharpness kernels for packed layouts: the arithmetic and the strips of vertical
// sums of the SSE2 and AVX2 rows (Sharpen.cpp, SharpenAvx2.cpp), 32 8-bit or 16 16-bit samples a step,
// with masked stores where a fourth sample keeps its value. Compiled for AVX-512 through the target
// pragma below; its functions run only after CpuHasAvx512Vbmi(), and nothing else with external linkage
// is defined here.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/SharpenRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the undefined upper halves inside the widening and narrowing intrinsics for
// uninitialised values; nothing here reads them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tovira::sharpen_rows {
namespace {

inline int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Larger(int32_t a, int32_t b) { return a > b ? a : b; }

inline __m512i Load512(const void* at) { return _mm512_loadu_si512(at); }
inline __m256i Load256(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }

}  // namespace

// 8-bit samples: sums in 16 bits, amount * (v - blur) within +-7650, divided by 10 with the
// multiply-high step; the result limited to 0..255 on the way back to bytes.
void Row8Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                int32_t amount, const uint8_t* tone) {
  const int32_t c = channels;
  // The row pointers in registers: the stores below may alias anything, so rows[] would be read again.
  const uint8_t* const row0 = rows[0];
  const uint8_t* const row1 = rows[1];
  const uint8_t* const row2 = rows[2];
  const uint8_t* const row3 = rows[3];
  const __m512i amountV = _mm512_set1_epi16(static_cast<int16_t>(amount));
  const __m512i tenth = _mm512_set1_epi16(6554), zero = _mm512_setzero_si512();
  const __mmask64 write = c == 4 ? 0x77777777ull : 0xFFFFFFFFull;  // 32 bytes; fourth bytes kept
  __m512i table[4] = {zero, zero, zero, zero};
  const bool toned = tone != nullptr;
  if (toned)
    for (int i = 0; i < 4; ++i) table[i] = Load512(tone + 64 * i);
  alignas(64) uint16_t sums[kStrip + 32];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 32));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 32) {
      if (i > count - 32) i = count - 32;
      const __m512i sum = _mm512_add_epi16(
          _mm512_add_epi16(_mm512_cvtepu8_epi16(Load256(row0 + first + i)), _mm512_cvtepu8_epi16(Load256(row1 + first + i))),
          _mm512_add_epi16(_mm512_cvtepu8_epi16(Load256(row2 + first + i)), _mm512_cvtepu8_epi16(Load256(row3 + first + i))));
      _mm512_storeu_si512(sums + i, sum);
      if (i == count - 32) break;
    }
    const int32_t lastStep = se - 32;
    for (int32_t k = sb;; k += 32) {
      if (k > lastStep) k = lastStep;
      const uint16_t* at = sums + (k - sb);
      const __m512i blur = _mm512_add_epi16(_mm512_add_epi16(Load512(at), Load512(at + c)),
                                            _mm512_add_epi16(Load512(at + 2 * c), Load512(at + 3 * c)));
      const __m512i v = _mm512_cvtepu8_epi16(Load256(row2 + k));
      const __m512i n = _mm512_mullo_epi16(_mm512_sub_epi16(v, _mm512_srli_epi16(blur, 4)), amountV);
      const __m512i q = _mm512_sub_epi16(_mm512_mulhi_epi16(n, tenth), _mm512_srai_epi16(n, 15));
      const __m512i r = _mm512_max_epi16(_mm512_add_epi16(v, q), zero);
      __m512i bytes = _mm512_castsi256_si512(_mm512_cvtusepi16_epi8(r));
      if (toned) {  // 32 bytes through the table: two 128-entry permutes, a select by the top bit
        const __m512i low = _mm512_permutex2var_epi8(table[0], bytes, table[1]);
        const __m512i high = _mm512_permutex2var_epi8(table[2], bytes, table[3]);
        bytes = _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high);
      }
      _mm512_mask_storeu_epi8(out + k, write, bytes);
      if (k == lastStep) break;
    }
  }
}

// 16-bit samples (any value): sums in 32 bits, the quotient by 10 in single precision (exact products,
// see Sharpen.cpp).
void Row16Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                 int32_t amount, int32_t largest) {
  const int32_t c = channels;
  const uint8_t* const row0 = rows[0];
  const uint8_t* const row1 = rows[1];
  const uint8_t* const row2 = rows[2];
  const uint8_t* const row3 = rows[3];
  const __m512 amountF = _mm512_set1_ps(static_cast<float>(amount)), ten = _mm512_set1_ps(10.0f);
  const __m512i largestV = _mm512_set1_epi32(largest), zero = _mm512_setzero_si512();
  const __mmask32 write = c == 4 ? 0x7777u : 0xFFFFu;  // 16 samples; fourth samples kept
  alignas(64) uint32_t sums[kStrip + 32];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 16));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 16) {
      if (i > count - 16) i = count - 16;
      const int32_t at = 2 * (first + i);
      const __m512i sum = _mm512_add_epi32(
          _mm512_add_epi32(_mm512_cvtepu16_epi32(Load256(row0 + at)), _mm512_cvtepu16_epi32(Load256(row1 + at))),
          _mm512_add_epi32(_mm512_cvtepu16_epi32(Load256(row2 + at)), _mm512_cvtepu16_epi32(Load256(row3 + at))));
      _mm512_storeu_si512(sums + i, sum);
      if (i == count - 16) break;
    }
    const int32_t lastStep = se - 16;
    for (int32_t k = sb;; k += 16) {
      if (k > lastStep) k = lastStep;
      const uint32_t* at = sums + (k - sb);
      const __m512i blur = _mm512_add_epi32(_mm512_add_epi32(Load512(at), Load512(at + c)),
                                            _mm512_add_epi32(Load512(at + 2 * c), Load512(at + 3 * c)));
      const __m512i v = _mm512_cvtepu16_epi32(Load256(row2 + 2 * k));
      const __m512i difference = _mm512_sub_epi32(v, _mm512_srli_epi32(blur, 4));
      const __m512i q =
          _mm512_cvttps_epi32(_mm512_div_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(difference), amountF), ten));
      const __m512i r = _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(v, q), zero), largestV);
      _mm512_mask_storeu_epi16(out + 2 * k, write, _mm512_castsi256_si512(_mm512_cvtepi32_epi16(r)));
      if (k == lastStep) break;
    }
  }
}

}  // namespace tovira::sharpen_rows

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#if defined(__GNUC__)
#pragma GCC pop_options
#endif
