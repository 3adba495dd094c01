#include "pipeline/Sharpen.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "pipeline/PixelAccess.h"
#include "pipeline/SharpenRows.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"

namespace tovira {
namespace {

constexpr int32_t kStrip = 256;  // output columns per strip of column sums (stack buffer)

// SSE2 rows when source and target have the same packed layout (grey, BGR, or BGR with a fourth channel
// that is kept): every sample k of a row (a byte, or a 16-bit sample) is blurred with the samples
// k - 2C .. k + C (C samples per pixel) of rows row-2 .. row+1. Per row, the vertical sums of the four
// rows are formed once for a strip of samples and then reused by the four horizontal positions that need
// each of them. The last step of a strip is moved back to end at the strip's end (those samples get the
// same values again). Returns false (nothing written) when the rows are too short for a step.
constexpr int32_t kVectorStrip = sharpen_rows::kStrip;  // samples per strip of vertical sums

// A byte table as a product, table[v] = min(v * whole + ((v * fraction) >> 16), 255) for every v, when
// one exists with whole below 128 (so the AVX2 rows' 16-bit sums stay positive): the smallest factor M
// = whole * 65536 + fraction with floor(v * M / 65536) at least table[v] for every v and below
// table[v] + 1 wherever the entry is below 255. The brightness alone is such a table for most values.
bool FindScaleOfTable(const uint8_t* table, sharpen_rows::ByteScale& scale) {
  if (table[0] != 0) return false;
  int64_t lowest = 0, highest = INT64_MAX;
  for (int64_t v = 1; v < 256; ++v) {
    lowest = std::max(lowest, (table[v] * int64_t{65536} + v - 1) / v);
    if (table[v] < 255) highest = std::min(highest, ((table[v] + 1) * int64_t{65536} + v - 1) / v - 1);
  }
  if (lowest > highest || (lowest >> 16) > 127) return false;
  scale.whole = static_cast<int16_t>(lowest >> 16);
  scale.fraction = static_cast<uint16_t>(lowest & 0xFFFF);
  return true;
}

// The same, remembered for the last table seen on this thread: the chain calls the kernel for a few
// rows at a time, a few hundred times a frame, with the same table (510 divisions each time otherwise).
bool ScaleOfTable(const uint8_t* table, sharpen_rows::ByteScale& scale) {
  thread_local struct {
    uint8_t table[256];
    bool valid, found;
    sharpen_rows::ByteScale scale;
  } last{};
  if (!last.valid || std::memcmp(last.table, table, sizeof(last.table)) != 0) {
    std::memcpy(last.table, table, sizeof(last.table));
    last.found = FindScaleOfTable(table, last.scale);
    last.valid = true;
  }
  scale = last.scale;
  return last.found;
}

// 8-bit samples: the vertical sums (at most 1020) and the blur sums (at most 4080) fit 16 bits;
// amount * (v - blur) lies within +-7650, where (n * 6554) >> 16, plus 1 for negative n, is n / 10
// truncated.
bool SharpenRows8Sse2(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                      int32_t bpp, int32_t targetStride, int32_t sourceStride, int32_t amount,
                      int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd,
                      const ToneTableRecord* toneRecord) {
  const uint8_t* tone = toneRecord != nullptr ? static_cast<const uint8_t*>(toneRecord->table) : nullptr;
  const int32_t kBegin = colBegin * bpp, kEnd = colEnd * bpp;
  if (kEnd - kBegin < 16) return false;
  const intptr_t targetShift = static_cast<intptr_t>(x - rect.left) * bpp;
  const __m128i zero = _mm_setzero_si128();
  const __m128i amountV = _mm_set1_epi16(static_cast<int16_t>(amount));
  const __m128i tenth = _mm_set1_epi16(6554);
  const __m128i keep = bpp == 4 ? _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)) : zero;
  alignas(16) uint16_t sums[kVectorStrip + 16];
  const bool avx2 = HasAvx2Path(ActiveVectorPath());
  const bool avx512 = ActiveVectorPath() == VectorPath::kAvx512;
  sharpen_rows::ByteScale scale{};
  const bool scaled = avx2 && !avx512 && tone != nullptr && ScaleOfTable(tone, scale);
  for (int32_t row = rowBegin; row < rowEnd; ++row) {
    const uint8_t* rows[4];
    for (int i = 0; i < 4; ++i) rows[i] = RowAt(source, row - 2 + i, sourceStride);
    uint8_t* out = RowAt(target, y + (row - rect.top), targetStride) + targetShift;
    if (avx2 && row + 1 < rowEnd) {  // two rows at once where the wide rows take them
      const uint8_t* const five[5] = {rows[0], rows[1], rows[2], rows[3], RowAt(source, row + 2, sourceStride)};
      uint8_t* nextOut = RowAt(target, y + (row + 1 - rect.top), targetStride) + targetShift;
      if (avx512 ? sharpen_rows::Row8PairAvx512(five, out, nextOut, kBegin, kEnd, bpp, amount, tone)
                 : sharpen_rows::Row8PairAvx2(five, out, nextOut, kBegin, kEnd, bpp, amount, scaled ? &scale : nullptr,
                                              tone)) {
        ++row;
        continue;
      }
    }
    if (avx512 && kEnd - kBegin >= 32) {
      sharpen_rows::Row8Avx512(rows, out, kBegin, kEnd, bpp, amount, tone);
      continue;
    }
    bool toned = false;  // the table applied by the AVX2 rows
    if (avx2) toned = sharpen_rows::Row8Avx2(rows, out, kBegin, kEnd, bpp, amount, scaled ? &scale : nullptr, tone);
    for (int32_t stripBegin = avx2 ? kEnd : kBegin; stripBegin < kEnd; stripBegin += kVectorStrip) {
      // Output samples [sb, se); the strip is widened backwards when its tail is shorter than a step.
      const int32_t se = std::min(stripBegin + kVectorStrip, kEnd);
      const int32_t sb = std::max(kBegin, std::min(stripBegin, se - 16));
      // Vertical sums for samples [sb - 2 bpp, se + bpp): sums[i] belongs to sample sb - 2 bpp + i.
      const int32_t first = sb - 2 * bpp, count = se - sb + 3 * bpp;
      for (int32_t i = 0;; i += 16) {
        if (i > count - 16) i = count - 16;
        __m128i lo = zero, hi = zero;
        for (const uint8_t* r : rows) {
          const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + first + i));
          lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(b, zero));
          hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(b, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8), hi);
        if (i == count - 16) break;
      }
      auto blurSum = [&](int32_t i) {  // sums of the four columns of output sample sb + i
        const uint16_t* at = sums + i;
        const __m128i a = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + bpp)));
        const __m128i b = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2 * bpp)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 3 * bpp)));
        return _mm_add_epi16(a, b);
      };
      auto half = [&](__m128i value, __m128i sum) {
        const __m128i n = _mm_mullo_epi16(_mm_sub_epi16(value, _mm_srli_epi16(sum, 4)), amountV);
        const __m128i q = _mm_sub_epi16(_mm_mulhi_epi16(n, tenth), _mm_srai_epi16(n, 15));
        return _mm_add_epi16(value, q);
      };
      const int32_t lastStep = se - 16;
      for (int32_t k = sb;; k += 16) {
        if (k > lastStep) k = lastStep;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + k));
        __m128i result = _mm_packus_epi16(half(_mm_unpacklo_epi8(v, zero), blurSum(k - sb)),
                                          half(_mm_unpackhi_epi8(v, zero), blurSum(k - sb + 8)));
        __m128i* at = reinterpret_cast<__m128i*>(out + k);
        if (bpp == 4)
          result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), _mm_andnot_si128(keep, result));
        _mm_storeu_si128(at, result);
        if (k == lastStep) break;
      }
    }
    if (tone != nullptr && !toned)  // the table after the sharpness, on the samples written (kBegin is a pixel's)
      LookupBytes(out + kBegin, out + kBegin, static_cast<size_t>(kEnd - kBegin), *toneRecord, bpp == 4);
  }
  return true;
}

// 16-bit samples (any value 0..65535): vertical and blur sums in 32 bits; n = amount * (v - blur) lies
// within +-2^21, so in single precision the product is exact, and n * 0.1f truncated is n / 10
// truncated: 0.1f is a little above 0.1, so a multiple of 10 never comes out below its quotient, and
// the product's error (below 0.02) never lifts any other n to the next integer (a fraction is at most
// 0.9). A multiplication instead of a division, which costs several times as much. C = bpp / 2 samples
// per pixel.
// `tone`: a table the results go through (largest + 1 entries of toneLargest, samples above it read the
// last entry), or nullptr; the brightness alone is computed inside the AVX2 and AVX-512 rows, any other
// table applied to each row after it is written.
bool SharpenRows16Sse2(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                       int32_t bpp, int32_t targetStride, int32_t sourceStride, int32_t amount, int32_t largest,
                       int32_t rowBegin, int32_t rowEnd, int32_t colBegin, int32_t colEnd,
                       const ToneTableRecord* toneRecord) {
  const int32_t c = bpp / 2;
  const int32_t kBegin = colBegin * c, kEnd = colEnd * c;  // in samples
  if (kEnd - kBegin < 8) return false;
  const intptr_t targetShift = static_cast<intptr_t>(x - rect.left) * bpp;
  const __m128i zero = _mm_setzero_si128();
  const __m128 amountF = _mm_set1_ps(static_cast<float>(amount)), tenthF = _mm_set1_ps(0.1f);
  const __m128i largestV = _mm_set1_epi32(largest), bias32 = _mm_set1_epi32(32768);
  const __m128i bias16 = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  const __m128i keep = bpp == 8 ? _mm_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull)) : zero;
  alignas(16) uint32_t sums[kVectorStrip + 16];
  const bool avx2 = HasAvx2Path(ActiveVectorPath());
  const bool avx512 = ActiveVectorPath() == VectorPath::kAvx512;
  const uint16_t* tone = toneRecord != nullptr ? static_cast<const uint16_t*>(toneRecord->table) : nullptr;
  const int32_t toneLargest = toneRecord != nullptr ? LargestSample(toneRecord->significantBits) : 0;
  sharpen_rows::Brightness16 brightness{toneRecord != nullptr ? toneRecord->brightnessFactor : 1.0f, toneLargest};
  const bool computed = tone != nullptr && toneRecord->brightnessOnly && avx2;
  // The table over the samples of a row the rows below wrote (a fourth sample keeps its value).
  auto applyTone = [&](uint8_t* out) {
    if (tone == nullptr || computed) return;
    for (int32_t k = kBegin; k < kEnd; ++k)
      if (c != 4 || k % 4 != 3) Store16(out + 2 * k, tone[std::min<int32_t>(Load16(out + 2 * k), toneLargest)]);
  };
  for (int32_t row = rowBegin; row < rowEnd; ++row) {
    const uint8_t* rows[4];
    for (int i = 0; i < 4; ++i) rows[i] = RowAt(source, row - 2 + i, sourceStride);
    uint8_t* out = RowAt(target, y + (row - rect.top), targetStride) + targetShift;
    if (avx512 && kEnd - kBegin >= 16) {
      sharpen_rows::Row16Avx512(rows, out, kBegin, kEnd, c, amount, largest, computed ? &brightness : nullptr);
      applyTone(out);
      continue;
    }
    if (avx2) {
      sharpen_rows::Row16Avx2(rows, out, kBegin, kEnd, c, amount, largest, computed ? &brightness : nullptr);
      applyTone(out);
      continue;
    }
    for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kVectorStrip) {
      const int32_t se = std::min(stripBegin + kVectorStrip, kEnd);
      const int32_t sb = std::max(kBegin, std::min(stripBegin, se - 8));
      const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
      for (int32_t i = 0;; i += 8) {
        if (i > count - 8) i = count - 8;
        __m128i lo = zero, hi = zero;
        for (const uint8_t* r : rows) {
          const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 2 * (first + i)));
          lo = _mm_add_epi32(lo, _mm_unpacklo_epi16(b, zero));
          hi = _mm_add_epi32(hi, _mm_unpackhi_epi16(b, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 4), hi);
        if (i == count - 8) break;
      }
      auto quarter = [&](__m128i value, int32_t i) {  // four samples: value in 32-bit lanes
        const uint32_t* at = sums + i;
        const __m128i sum = _mm_add_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + c))),
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2 * c)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 3 * c))));
        const __m128i difference = _mm_sub_epi32(value, _mm_srli_epi32(sum, 4));
        const __m128i q = _mm_cvttps_epi32(_mm_mul_ps(_mm_mul_ps(_mm_cvtepi32_ps(difference), amountF), tenthF));
        __m128i r = _mm_add_epi32(value, q);
        r = _mm_and_si128(r, _mm_cmpgt_epi32(r, _mm_set1_epi32(-1)));                 // below 0 -> 0
        const __m128i over = _mm_cmpgt_epi32(r, largestV);                             // above -> largest
        return _mm_or_si128(_mm_and_si128(over, largestV), _mm_andnot_si128(over, r));
      };
      const int32_t lastStep = se - 8;
      for (int32_t k = sb;; k += 8) {
        if (k > lastStep) k = lastStep;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + 2 * k));
        const __m128i lo = quarter(_mm_unpacklo_epi16(v, zero), k - sb);
        const __m128i hi = quarter(_mm_unpackhi_epi16(v, zero), k - sb + 4);
        // Unsigned 32 -> 16 bits with the signed pack: values 0..65535 moved down by 32768 and back.
        __m128i result = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(lo, bias32), _mm_sub_epi32(hi, bias32)), bias16);
        __m128i* at = reinterpret_cast<__m128i*>(out + 2 * k);
        if (bpp == 8)
          result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), _mm_andnot_si128(keep, result));
        _mm_storeu_si128(at, result);
        if (k == lastStep) break;
      }
    }
    applyTone(out);
  }
  return true;
}

template <class Sample, int Channels>
int64_t Sharpen(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                const void* p, const void* q) {
  constexpr int32_t kSampleBytes = sizeof(Sample);
  if (p == nullptr || targetBpp < Channels * kSampleBytes || sourceBpp < Channels * kSampleBytes) return 0;
  const auto& record = *static_cast<const ValueRecord*>(p);
  // A tone table for the results (see Sharpen.h).
  const auto* toneRecord = static_cast<const ToneTableRecord*>(q);
  if (toneRecord != nullptr && toneRecord->table == nullptr) toneRecord = nullptr;
  const uint8_t* tone = sizeof(Sample) == 1 && toneRecord != nullptr ? static_cast<const uint8_t*>(toneRecord->table) : nullptr;
  const uint16_t* tone16 = sizeof(Sample) == 2 && toneRecord != nullptr ? static_cast<const uint16_t*>(toneRecord->table) : nullptr;
  const int32_t toneLargest = toneRecord != nullptr ? LargestSample(toneRecord->significantBits) : 0;
  const int32_t largest = sizeof(Sample) == 1 ? 255 : LargestSample(record.significantBits);
  const int32_t amount = Clamp(record.value, 0, 30);  // the setter's range; keeps the product small
  auto read = [](const uint8_t* at) -> int32_t {
    if constexpr (sizeof(Sample) == 1) return *at; else return Load16(at);
  };

  // Rows and columns 2 .. size-3 of the rectangle; the blur reads columns x-2..x+1, rows y-2..y+1.
  const int32_t rowBegin = rect.top + 2, rowEnd = rect.bottom - 2;
  const int32_t colBegin = rect.left + 2, colEnd = rect.right - 2;
  if (rowBegin >= rowEnd || colBegin >= colEnd) return 1;
  // Packed layouts (grey, BGR, BGR + fourth channel) of a separate target take the vector rows.
  const int32_t sampleBpp = sourceBpp / kSampleBytes;
  const bool packed = targetBpp == sourceBpp && sourceBpp % kSampleBytes == 0 &&
                      (sampleBpp == Channels || (Channels == 3 && sampleBpp == 4));
  if (packed && target != source && ActiveVectorPath() != VectorPath::kScalar) {
    if constexpr (sizeof(Sample) == 1) {
      if (SharpenRows8Sse2(target, source, rect, x, y, sourceBpp, targetStride, sourceStride, amount, rowBegin,
                           rowEnd, colBegin, colEnd, toneRecord))
        return 1;
    } else {
      if (SharpenRows16Sse2(target, source, rect, x, y, sourceBpp, targetStride, sourceStride, amount, largest,
                            rowBegin, rowEnd, colBegin, colEnd, toneRecord))
        return 1;
    }
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
          if constexpr (sizeof(Sample) == 1) out[ch] = static_cast<uint8_t>(tone ? tone[sharpened] : sharpened);
          else Store16(out + ch * kSampleBytes,
                       static_cast<uint16_t>(tone16 ? tone16[std::min(sharpened, toneLargest)] : sharpened));
        }
      }
    }
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(SharpenGray8) {
  return Sharpen<uint8_t, 1>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p, q);
}
TOVIRA_PIXEL_KERNEL(SharpenGray16) {
  return Sharpen<uint16_t, 1>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p, q);
}
TOVIRA_PIXEL_KERNEL(SharpenBgr8) {
  return Sharpen<uint8_t, 3>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p, q);
}
TOVIRA_PIXEL_KERNEL(SharpenBgr16) {
  return Sharpen<uint16_t, 3>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride, p, q);
}

}  // namespace tovira
