#include "pipeline/GrayProcessing.h"

#include <algorithm>

#include "pipeline/PixelAccess.h"

namespace tovira {
namespace {

template <class Sample>
int64_t ApplyGrayGains(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                       int32_t y, int32_t targetStride, int32_t sourceStride, const void* p) {
  if (p == nullptr) return 0;
  const auto& record = *static_cast<const GrayGainRecord*>(p);
  const int32_t largest = sizeof(Sample) == 1 ? 255 : LargestSample(record.significantBits);
  const int32_t mode = record.bayerMode & 3;
  for (int32_t i = 0; i < rect.height(); ++i) {
    const int32_t row = rect.top + i;
    // The two gains of this row, by the column parity of the first pixel and the next.
    const int64_t gains[2] = {record.values[GrayValueIndexAt(mode, rect.left, row)],
                              record.values[GrayValueIndexAt(mode, rect.left + 1, row)]};
    const uint8_t* s = RowAt(source, row, sourceStride) + static_cast<intptr_t>(rect.left) * sizeof(Sample);
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * sizeof(Sample);
    for (int32_t j = 0; j < rect.width(); ++j) {
      int64_t v;
      if constexpr (sizeof(Sample) == 1) v = s[j]; else v = Load16(s + 2 * j);
      // A negative grey offset would give a negative level: the sample goes to 0 instead of wrapping.
      const int64_t out = Clamp<int64_t>(gains[j & 1] * v / 128, 0, largest);
      if constexpr (sizeof(Sample) == 1) t[j] = static_cast<uint8_t>(out);
      else Store16(t + 2 * j, static_cast<uint16_t>(out));
    }
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(ApplyGrayGains8) {
  return ApplyGrayGains<uint8_t>(target, source, rect, x, y, targetStride, sourceStride, p);
}

TOVIRA_PIXEL_KERNEL(ApplyGrayGains16) {
  return ApplyGrayGains<uint16_t>(target, source, rect, x, y, targetStride, sourceStride, p);
}

TOVIRA_PIXEL_KERNEL(GrayFromBgr24) {
  if (sourceBpp < 3 || targetBpp < 1) return 0;
  for (int32_t i = 0; i < rect.height(); ++i) {
    const uint8_t* s = RowAt(source, rect.top + i, sourceStride) + static_cast<intptr_t>(rect.left) * sourceBpp;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * targetBpp;
    for (int32_t j = 0; j < rect.width(); ++j, s += sourceBpp, t += targetBpp)
      *t = static_cast<uint8_t>((s[2] * 30 + s[1] * 59 + s[0] * 11) / 100);
  }
  return 1;
}

}  // namespace tovira
