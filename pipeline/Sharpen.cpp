#include "pipeline/Sharpen.h"

#include <emmintrin.h>

#include <algorithm>

#include "pipeline/PixelAccess.h"

namespace tovira {
namespace {

constexpr int32_t kStrip = 256;  // output columns per strip of column sums (stack buffer)

// SSE2 rows for 8-bit samples when source and target have the same packed layout (one byte per channel,
// `bpp` bytes per pixel, a fourth byte kept as it is): every byte k of a row is one sample, and its blur
// partners are the bytes k - 2 bpp .. k + bpp of the rows row-2 .. row+1. Sixteen bytes per step; the
// last step of a row is moved back to end at the row's end (those bytes get the same values again).
// amount * (v - blur) lies within +-7650, where (n * 6554) >> 16, plus 1 for negative n, is n / 10
// truncated. Returns false (nothing written) when the rows are too short for a step.
bool SharpenRows8Sse2(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                      int32_t bpp, int32_t targetStride, int32_t sourceStride, int32_t amount,
                      int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd) {
  const int32_t kBegin = colBegin * bpp, kEnd = colEnd * bpp;
  if (kEnd - kBegin < 16) return false;
  const intptr_t targetShift = static_cast<intptr_t>(x - rect.left) * bpp;
  const __m128i zero = _mm_setzero_si128();
  const __m128i amountV = _mm_set1_epi16(static_cast<int16_t>(amount));
  const __m128i tenth = _mm_set1_epi16(6554);
  const __m128i keep = bpp == 4 ? _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)) : zero;
  const intptr_t offsets[4] = {-2 * bpp, -bpp, 0, bpp};
  const int32_t lastStep = kEnd - 16;
  for (int32_t row = rowBegin; row < rowEnd; ++row) {
    const uint8_t* rows[4];
    for (int i = 0; i < 4; ++i) rows[i] = RowAt(source, row - 2 + i, sourceStride);
    uint8_t* out = RowAt(target, y + (row - rect.top), targetStride) + targetShift;
    for (int32_t k = kBegin;; k += 16) {
      if (k > lastStep) k = lastStep;
      __m128i sumLo = zero, sumHi = zero;
      for (const uint8_t* r : rows)
        for (intptr_t o : offsets) {
          const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + k + o));
          sumLo = _mm_add_epi16(sumLo, _mm_unpacklo_epi8(b, zero));
          sumHi = _mm_add_epi16(sumHi, _mm_unpackhi_epi8(b, zero));
        }
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + k));
      auto half = [&](__m128i value, __m128i sum) {
        const __m128i n = _mm_mullo_epi16(_mm_sub_epi16(value, _mm_srli_epi16(sum, 4)), amountV);
        const __m128i q = _mm_sub_epi16(_mm_mulhi_epi16(n, tenth), _mm_srai_epi16(n, 15));
        return _mm_add_epi16(value, q);
      };
      __m128i result = _mm_packus_epi16(half(_mm_unpacklo_epi8(v, zero), sumLo),
                                        half(_mm_unpackhi_epi8(v, zero), sumHi));
      __m128i* at = reinterpret_cast<__m128i*>(out + k);
      if (bpp == 4)
        result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), _mm_andnot_si128(keep, result));
      _mm_storeu_si128(at, result);
      if (k == lastStep) break;
    }
  }
  return true;
}

template <class Sample, int Channels>
int64_t Sharpen(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                const void* p) {
  constexpr int32_t kSampleBytes = sizeof(Sample);
  if (p == nullptr || targetBpp < Channels * kSampleBytes || sourceBpp < Channels * kSampleBytes) return 0;
  const auto& record = *static_cast<const ValueRecord*>(p);
  const int32_t largest = sizeof(Sample) == 1 ? 255 : LargestSample(record.significantBits);
  const int32_t amount = Clamp(record.value, 0, 30);  // the setter's range; keeps the product small
  auto read = [](const uint8_t* at) -> int32_t {
    if constexpr (sizeof(Sample) == 1) return *at; else return Load16(at);
  };

  // Rows and columns 2 .. size-3 of the rectangle; the blur reads columns x-2..x+1, rows y-2..y+1.
  const int32_t rowBegin = rect.top + 2, rowEnd = rect.bottom - 2;
  const int32_t colBegin = rect.left + 2, colEnd = rect.right - 2;
  if (rowBegin >= rowEnd || colBegin >= colEnd) return 1;
  if constexpr (sizeof(Sample) == 1) {
    // Packed layouts (grey 1, BGR 3, BGR + fourth byte 4 bytes per pixel) of a separate target.
    const bool packed = targetBpp == sourceBpp && (sourceBpp == Channels || (Channels == 3 && sourceBpp == 4));
    if (packed && target != source &&
        SharpenRows8Sse2(target, source, rect, x, y, sourceBpp, targetStride, sourceStride, amount, rowBegin,
                         rowEnd, colBegin, colEnd))
      return 1;
  }

  int32_t columnSums[(kStrip + 3) * Channels];
  for (int32_t stripBegin = colBegin; stripBegin < colEnd; stripBegin += kStrip) {
    const int32_t stripEnd = std::min(stripBegin + kStrip, colEnd);
    const int32_t sumsBegin = stripBegin - 2, sumsEnd = stripEnd + 1;  // columns covered by sums
    for (int32_t row = rowBegin; row < rowEnd; ++row) {
      // Vertical sums of the four rows row-2 .. row+1 for every column the strip's blurs touch.
      for (int32_t c = sumsBegin; c < sumsEnd; ++c) {
        for (int ch = 0; ch < Channels; ++ch) {
          int32_t sum = 0;
          for (int32_t r = row - 2; r <= row + 1; ++r)
            sum += read(RowAt(source, r, sourceStride) + static_cast<intptr_t>(c) * sourceBpp + ch * kSampleBytes);
          columnSums[(c - sumsBegin) * Channels + ch] = sum;
        }
      }
      const uint8_t* s = RowAt(source, row, sourceStride);
      uint8_t* t = RowAt(target, y + (row - rect.top), targetStride);
      for (int32_t c = stripBegin; c < stripEnd; ++c) {
        const int32_t* sums = columnSums + (c - 2 - sumsBegin) * Channels;
        uint8_t* out = t + static_cast<intptr_t>(x + (c - rect.left)) * targetBpp;
        for (int ch = 0; ch < Channels; ++ch) {
          const int32_t blur =
              (sums[ch] + sums[Channels + ch] + sums[2 * Channels + ch] + sums[3 * Channels + ch]) >> 4;
          const int32_t v = read(s + static_cast<intptr_t>(c) * sourceBpp + ch * kSampleBytes);
          const int32_t sharpened = Clamp(v + amount * (v - blur) / 10, 0, largest);
          if constexpr (sizeof(Sample) == 1) out[ch] = static_cast<uint8_t>(sharpened);
          else Store16(out + ch * kSampleBytes, static_cast<uint16_t>(sharpened));
        }
      }
    }
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(SharpenGray8) {
  return Sharpen<uint8_t, 1>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(SharpenGray16) {
  return Sharpen<uint16_t, 1>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(SharpenBgr8) {
  return Sharpen<uint8_t, 3>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(SharpenBgr16) {
  return Sharpen<uint16_t, 3>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p);
}

}  // namespace tovira
