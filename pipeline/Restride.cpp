#include "pipeline/Restride.h"

#include <cstring>

namespace tovira {
namespace {

int64_t Restride(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                 int32_t targetStride, size_t pixelBytes) {
  const size_t rowBytes = static_cast<size_t>(rect.width()) * pixelBytes;
  // Last row first: a row's new place never covers a packed row that is still to be moved.
  for (int32_t i = rect.height() - 1; i >= 0; --i) {
    const uint8_t* from = source + static_cast<size_t>(i) * rowBytes;
    uint8_t* to = target + static_cast<intptr_t>(y + i) * targetStride + x * pixelBytes;
    if (to != from) std::memmove(to, from, rowBytes);
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(RestrideRows8) {
  return Restride(target, source, rect, x, y, targetStride, 1);
}

TOVIRA_PIXEL_KERNEL(RestrideRows16) {
  return Restride(target, source, rect, x, y, targetStride, 2);
}

}  // namespace tovira
