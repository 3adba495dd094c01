#include "pipeline/Sharpen.h"

#include <algorithm>

#include "pipeline/PixelAccess.h"

namespace tovira {
namespace {

constexpr int32_t kStrip = 256;  // output columns per strip of column sums (stack buffer)

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
