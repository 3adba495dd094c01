#include "pipeline/Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pipeline/PixelAccess.h"

namespace tovira {
namespace {

// Walks the rectangle; Op(targetPixel, sourcePixel) converts one pixel. TB and SB are the bytes per
// pixel when known at compile time (0 = take the runtime value), so the common layouts get tight loops.
template <int TB, int SB, bool Flip, class Op>
int64_t ConvertPixels(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                      int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                      int32_t sourceStride, Op op) {
  const int32_t tb = TB ? TB : targetBpp, sb = SB ? SB : sourceBpp;
  const int32_t width = rect.width();
  for (int32_t i = 0; i < rect.height(); ++i) {
    const int32_t sourceRow = Flip ? rect.bottom - 1 - i : rect.top + i;
    const uint8_t* s = RowAt(source, sourceRow, sourceStride) + static_cast<intptr_t>(rect.left) * sb;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * tb;
    for (int32_t j = 0; j < width; ++j) op(t + j * tb, s + j * sb);
  }
  return 1;
}

template <bool Flip, class Op>
int64_t ConvertTo24(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                    int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                    int32_t sourceStride, Op op) {
  if (targetBpp == 3 && sourceBpp == 3)
    return ConvertPixels<3, 3, Flip>(target, source, rect, x, y, 3, 3, targetStride, sourceStride, op);
  if (targetBpp == 3 && sourceBpp == 4)
    return ConvertPixels<3, 4, Flip>(target, source, rect, x, y, 3, 4, targetStride, sourceStride, op);
  if (targetBpp == 3 && sourceBpp == 6)
    return ConvertPixels<3, 6, Flip>(target, source, rect, x, y, 3, 6, targetStride, sourceStride, op);
  if (targetBpp == 3 && sourceBpp == 8)
    return ConvertPixels<3, 8, Flip>(target, source, rect, x, y, 3, 8, targetStride, sourceStride, op);
  return ConvertPixels<0, 0, Flip>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                   sourceStride, op);
}

inline uint16_t Expand4(uint16_t v) { return static_cast<uint16_t>(v << 4); }
inline uint8_t Reduce4(uint16_t v) { return static_cast<uint8_t>(v >> 4); }

struct GrayReduce {
  void operator()(uint8_t* t, const uint8_t* s) const { *t = Reduce4(Load16(s)); }
};
struct BgrReduce {
  void operator()(uint8_t* t, const uint8_t* s) const {
    t[0] = Reduce4(Load16(s));
    t[1] = Reduce4(Load16(s + 2));
    t[2] = Reduce4(Load16(s + 4));
  }
};
struct BgrCopy {
  void operator()(uint8_t* t, const uint8_t* s) const {
    t[0] = s[0];
    t[1] = s[1];
    t[2] = s[2];
  }
};

}  // namespace

TOVIRA_PIXEL_KERNEL(Gray16To8Shift4) {
  return ConvertPixels<1, 2, false>(target, source, rect, x, y, 1, 2, targetStride, sourceStride,
                                    GrayReduce{});
}

TOVIRA_PIXEL_KERNEL(Gray16To8Shift4Flip) {
  return ConvertPixels<1, 2, true>(target, source, rect, x, y, 1, 2, targetStride, sourceStride,
                                   GrayReduce{});
}

TOVIRA_PIXEL_KERNEL(Gray16Expand4) {
  return ConvertPixels<2, 2, false>(target, source, rect, x, y, 2, 2, targetStride, sourceStride,
                                    [](uint8_t* t, const uint8_t* s) { Store16(t, Expand4(Load16(s))); });
}

TOVIRA_PIXEL_KERNEL(Bgr32To24) {
  return ConvertTo24<false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                            sourceStride, BgrCopy{});
}

TOVIRA_PIXEL_KERNEL(Bgr48To24Shift4) {
  return ConvertTo24<false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                            sourceStride, BgrReduce{});
}

TOVIRA_PIXEL_KERNEL(Bgr48To24Shift4Flip) {
  return ConvertTo24<true>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                           sourceStride, BgrReduce{});
}

TOVIRA_PIXEL_KERNEL(Bgr48Expand4) {
  return ConvertPixels<0, 0, false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                    sourceStride, [](uint8_t* t, const uint8_t* s) {
                                      for (int c = 0; c < 3; ++c) Store16(t + 2 * c, Expand4(Load16(s + 2 * c)));
                                    });
}

TOVIRA_PIXEL_KERNEL(Bgr48ToRgb48Expand4) {
  return ConvertPixels<0, 0, false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                    sourceStride, [](uint8_t* t, const uint8_t* s) {
                                      const uint16_t b = Load16(s), g = Load16(s + 2), r = Load16(s + 4);
                                      Store16(t, Expand4(r));
                                      Store16(t + 2, Expand4(g));
                                      Store16(t + 4, Expand4(b));
                                    });
}

TOVIRA_PIXEL_KERNEL(Bgr48ToBgra64Expand4) {
  return ConvertPixels<0, 0, false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                    sourceStride, [](uint8_t* t, const uint8_t* s) {
                                      const uint16_t b = Load16(s), g = Load16(s + 2), r = Load16(s + 4);
                                      Store16(t, Expand4(b));
                                      Store16(t + 2, Expand4(g));
                                      Store16(t + 4, Expand4(r));
                                      Store16(t + 6, 65535);
                                    });
}

TOVIRA_PIXEL_KERNEL(Bgr48ToRgba64Expand4) {
  return ConvertPixels<0, 0, false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                    sourceStride, [](uint8_t* t, const uint8_t* s) {
                                      const uint16_t b = Load16(s), g = Load16(s + 2), r = Load16(s + 4);
                                      Store16(t, Expand4(r));
                                      Store16(t + 2, Expand4(g));
                                      Store16(t + 4, Expand4(b));
                                      Store16(t + 6, 65535);
                                    });
}

TOVIRA_PIXEL_KERNEL(Bgr24CopyFlip) {
  if (targetBpp == 3 && sourceBpp == 3) {
    // Same layout: whole rows at once.
    const size_t bytes = static_cast<size_t>(rect.width()) * 3;
    for (int32_t i = 0; i < rect.height(); ++i) {
      std::memcpy(RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * 3,
                  RowAt(source, rect.bottom - 1 - i, sourceStride) + static_cast<intptr_t>(rect.left) * 3,
                  bytes);
    }
    return 1;
  }
  return ConvertTo24<true>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                           sourceStride, BgrCopy{});
}

TOVIRA_PIXEL_KERNEL(RowsCopyFlip) {
  const size_t bytes = static_cast<size_t>(std::min(targetStride, sourceStride));
  for (int32_t i = 0; i < rect.height(); ++i) {
    uint8_t* t = RowAt(target, y + i, targetStride);
    const uint8_t* s = RowAt(source, rect.bottom - 1 - i, sourceStride);
    if (t != s) std::memmove(t, s, bytes);
  }
  return 1;
}

TOVIRA_PIXEL_KERNEL(BgrToRgb24) {
  // Read all three channels before writing, so that the kernel also works in place.
  return ConvertPixels<0, 0, false>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                    sourceStride, [](uint8_t* t, const uint8_t* s) {
                                      const uint8_t b = s[0], g = s[1], r = s[2];
                                      t[0] = r;
                                      t[1] = g;
                                      t[2] = b;
                                    });
}

TOVIRA_PIXEL_KERNEL(Bgrx32ToBgra32) {
  return ConvertPixels<4, 4, false>(target, source, rect, x, y, 4, 4, targetStride, sourceStride,
                                    [](uint8_t* t, const uint8_t* s) {
                                      t[0] = s[0];
                                      t[1] = s[1];
                                      t[2] = s[2];
                                      t[3] = static_cast<uint8_t>(~s[3]);
                                    });
}

namespace {

// Truncation of a single-precision product towards zero; a value that no 32-bit integer holds counts
// as 0.
inline int32_t TruncIndex(float v) {
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
  return static_cast<int32_t>(v);
}

template <int Bytes>
int64_t ScaleNearest(uint8_t* target, const uint8_t* source, const KernelRect& targetRect,
                     const KernelRect& sourceRect, uint64_t targetSize, uint64_t sourceSize,
                     int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride) {
  if (targetBpp < Bytes || sourceBpp < Bytes) return 0;
  const int64_t targetWidth = SizeWidth(targetSize), targetHeight = SizeHeight(targetSize);
  const int32_t sourceWidth = SizeWidth(sourceSize), sourceHeight = SizeHeight(sourceSize);
  const int64_t W = int64_t{targetRect.right} - targetRect.left;
  const int64_t H = int64_t{targetRect.bottom} - targetRect.top;
  if (W <= 0 || H <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return 1;
  const float fx = static_cast<float>(int64_t{sourceRect.right} - sourceRect.left) / static_cast<float>(W);
  const float fy = static_cast<float>(int64_t{sourceRect.bottom} - sourceRect.top) / static_cast<float>(H);
  // Only the part of the target rectangle that lies in the target image is written.
  const int64_t iBegin = std::max<int64_t>(0, -int64_t{targetRect.top});
  const int64_t iEnd = std::min<int64_t>(H, targetHeight - targetRect.top);
  const int64_t kBegin = std::max<int64_t>(0, -int64_t{targetRect.left});
  const int64_t kEnd = std::min<int64_t>(W, targetWidth - targetRect.left);
  for (int64_t i = iBegin; i < iEnd; ++i) {
    const int32_t a = Clamp<int32_t>(TruncIndex(static_cast<float>(i) * fy), 0, sourceHeight - 1);
    const int32_t sourceRow =
        static_cast<int32_t>(Clamp<int64_t>(int64_t{sourceRect.bottom} - a - 1, 0, sourceHeight - 1));
    const uint8_t* s = RowAt(source, sourceRow, sourceStride);
    uint8_t* t = RowAt(target, static_cast<int32_t>(targetRect.top + i), targetStride);
    for (int64_t k = kBegin; k < kEnd; ++k) {
      const int32_t offset = Clamp<int32_t>(TruncIndex(static_cast<float>(k) * fx), 0, sourceWidth - 1);
      const int32_t column = static_cast<int32_t>(
          Clamp<int64_t>(int64_t{sourceRect.left} + offset, 0, sourceWidth - 1));
      std::memcpy(t + (targetRect.left + k) * targetBpp, s + static_cast<intptr_t>(column) * sourceBpp,
                  Bytes);
    }
  }
  return 1;
}

}  // namespace

TOVIRA_STRETCH_KERNEL(ScaleNearest8) {
  return ScaleNearest<1>(target, source, targetRect, sourceRect, targetSize, sourceSize, targetBpp,
                         sourceBpp, targetStride, sourceStride);
}

TOVIRA_STRETCH_KERNEL(ScaleNearest24) {
  return ScaleNearest<3>(target, source, targetRect, sourceRect, targetSize, sourceSize, targetBpp,
                         sourceBpp, targetStride, sourceStride);
}

}  // namespace tovira
