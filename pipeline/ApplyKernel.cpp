#include "pipeline/ApplyKernel.h"

#include <algorithm>

namespace tovira {

bool IsUsableView(const ImageView& view) {
  if (view.pixels == nullptr || view.width < 0 || view.height < 0) return false;
  if (view.bitsPerPixel == 0 || view.bitsPerPixel % 8 != 0) return false;
  const int64_t rowBytes = static_cast<int64_t>(view.width) * (view.bitsPerPixel / 8);
  return view.stride >= 0 && view.stride >= rowBytes;
}

int64_t ApplyKernel(const ImageView& target, PixelKernel kernel, const ImageView& source,
                    const KernelRect* rect, int32_t x, int32_t y, void* p, void* q) {
  if (kernel == nullptr || !IsUsableView(target) || !IsUsableView(source)) return 0;

  // Bitmap coordinates (row 0 = last storage row), 64-bit so that no sum can overflow.
  const int64_t given[4] = {rect ? rect->left : 0, rect ? rect->top : 0,
                            rect ? rect->right : source.width, rect ? rect->bottom : source.height};
  int64_t sLeft = given[0], sTop = given[1];
  const int64_t width = given[2] - given[0], height = given[3] - given[1];
  if (width <= 0 || height <= 0) return 0;

  // Target rectangle, clipped to the target.
  int64_t tLeft = x, tTop = y, tRight = int64_t{x} + width, tBottom = int64_t{y} + height;
  if (tRight <= 0 || tBottom <= 0 || tLeft >= target.width || tTop >= target.height) return 0;
  tLeft = std::max<int64_t>(tLeft, 0);
  tTop = std::max<int64_t>(tTop, 0);
  tRight = std::min<int64_t>(tRight, target.width);
  tBottom = std::min<int64_t>(tBottom, target.height);

  // The source follows what the target clipping cut off at the left and top.
  sLeft += tLeft - x;
  sTop += tTop - y;
  int64_t sRight = sLeft + (tRight - tLeft), sBottom = sTop + (tBottom - tTop);
  if (sRight <= 0 || sBottom <= 0 || sLeft >= source.width || sTop >= source.height) return 0;

  // Clipping the source moves the target with it, so that every source pixel still lands where the
  // unclipped call would have put it (also for rectangles reaching past the source's edges).
  const int64_t cutLeft = std::max<int64_t>(0, -sLeft), cutTop = std::max<int64_t>(0, -sTop);
  sLeft += cutLeft;
  sTop += cutTop;
  tLeft += cutLeft;
  tTop += cutTop;
  sRight = std::min<int64_t>(sRight, source.width);
  sBottom = std::min<int64_t>(sBottom, source.height);
  tRight = tLeft + (sRight - sLeft);
  tBottom = tTop + (sBottom - sTop);
  if (sRight <= sLeft || sBottom <= sTop) return 0;

  // Bitmap rows to storage rows.
  KernelRect storage;
  storage.left = static_cast<int32_t>(sLeft);
  storage.top = static_cast<int32_t>(source.height - sBottom);
  storage.right = static_cast<int32_t>(sRight);
  storage.bottom = static_cast<int32_t>(source.height - sTop);
  const int32_t kx = static_cast<int32_t>(tLeft);
  const int32_t ky = static_cast<int32_t>(target.height - tBottom);
  return kernel(target.pixels, source.pixels, storage, kx, ky,
                static_cast<uint16_t>(target.bitsPerPixel / 8),
                static_cast<uint16_t>(source.bitsPerPixel / 8), target.stride, source.stride, p, q);
}

int64_t ApplyStretchKernel(const ImageView& target, StretchKernel kernel, const ImageView& source,
                           const KernelRect* sourceRect, const KernelRect* targetRect, void* p,
                           void* q) {
  if (kernel == nullptr || !IsUsableView(target) || !IsUsableView(source)) return 0;
  const KernelRect wholeSource{0, 0, source.width, source.height};
  const KernelRect wholeTarget{0, 0, target.width, target.height};
  return kernel(target.pixels, source.pixels, targetRect ? *targetRect : wholeTarget,
                sourceRect ? *sourceRect : wholeSource, PackImageSize(target.width, target.height),
                PackImageSize(source.width, source.height),
                static_cast<uint16_t>(target.bitsPerPixel / 8),
                static_cast<uint16_t>(source.bitsPerPixel / 8), target.stride, source.stride, p, q);
}

}  // namespace tovira
