// The one dispatcher every pixel operation goes through.
#pragma once

#include "pipeline/ImageView.h"

namespace tovira {

// Runs `kernel` once, synchronously, from `source` into `target` (the same view for in-place work).
//
// `rect` (nullptr = the whole source) and (x, y) are in bitmap coordinates, where row 0 is the LAST
// storage row (the top row of a bottom-up Windows bitmap): the rectangle lies in the source and (x, y)
// is where its row-0-side corner lands in the target. The rectangle is clipped to the target and to the
// source, keeping source and target pixels in correspondence, then turned into storage rows for the
// kernel. A full-frame call (no rectangle, (0, 0), equal sizes) passes (0, 0, width, height) and (0, 0).
//
// Returns the kernel's result, or 0 without calling it when the kernel is missing, a view has no
// pixels or an inconsistent geometry, or nothing of the rectangle overlaps both images.
int64_t ApplyKernel(const ImageView& target, PixelKernel kernel, const ImageView& source,
                    const KernelRect* rect = nullptr, int32_t x = 0, int32_t y = 0,
                    void* p = nullptr, void* q = nullptr);

// The stretch dispatcher behind CDibImage::StretchFrom: calls `kernel` once with both pixel buffers,
// the target and source rectangles in storage rows (nullptr = the whole image), the packed image sizes,
// bytes per pixel and strides, and p, q. Returns the kernel's result, 0 when no kernel is given or a
// view has no pixels.
int64_t ApplyStretchKernel(const ImageView& target, StretchKernel kernel, const ImageView& source,
                           const KernelRect* sourceRect = nullptr,
                           const KernelRect* targetRect = nullptr, void* p = nullptr,
                           void* q = nullptr);

// True when the view's geometry is usable by a kernel: pixels present, sizes non-negative, a whole
// number of bytes per pixel and a stride that holds a row.
bool IsUsableView(const ImageView& view);

}  // namespace tovira
