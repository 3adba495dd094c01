// The portable view of an image that every pixel kernel works on, and the kernel contracts.
//
// CDibImage owns the memory (DIB section or plain buffer) and hands out ImageViews; the pixel core never
// includes a Windows header. Storage row 0 is the first row of the buffer and holds the top line of the
// picture. Sixteen-bit samples are little-endian; colour pixels are blue, green, red (then a fourth
// channel for 32 and 64 bits per pixel).
#pragma once

#include <cstdint>

namespace tovira {

struct ImageView {
  uint8_t* pixels = nullptr;  // height * stride bytes
  int32_t width = 0;          // pixels
  int32_t height = 0;         // rows
  int32_t stride = 0;         // bytes per stored row: width * bytes per pixel rounded up to 4
  uint16_t bitsPerPixel = 0;  // 8, 16, 24, 32, 48 or 64

  int32_t bytesPerPixel() const { return bitsPerPixel / 8; }
  uint8_t* row(int32_t y) const { return pixels + static_cast<intptr_t>(y) * stride; }
};

// Same layout as the Windows RECT: right and bottom are exclusive.
struct KernelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};
static_assert(sizeof(KernelRect) == 16, "KernelRect must have RECT's layout");

// A pixel kernel walks `rect` of the source (storage rows, already clipped to the source) and writes
// the matching pixels of the target, whose first pixel is at column x, storage row y (already clipped
// to the target). Source pixel (left + j, top + i) corresponds to target pixel (x + j, y + i) unless the
// kernel says otherwise. Target and source may be the same buffer (in-place kernels). p and q point to
// small records of int32 values built by the caller; a kernel may write results into them.
// The result's meaning belongs to the kernel (mostly 1; statistics kernels return a mean or a count).
using PixelKernel = int64_t (*)(uint8_t* target, const uint8_t* source, const KernelRect& rect,
                                int32_t x, int32_t y, uint16_t targetBytesPerPixel,
                                uint16_t sourceBytesPerPixel, int32_t targetStride,
                                int32_t sourceStride, void* p, void* q);

// A stretch kernel (used by the preview to scale into its display image) receives both rectangles in
// storage rows, the two image sizes packed as width in the low and height in the high 32 bits, and the
// same bytes-per-pixel, stride and parameter arguments as a pixel kernel. It must stay inside both
// images whatever the rectangles say.
using StretchKernel = int64_t (*)(uint8_t* target, const uint8_t* source, const KernelRect& targetRect,
                                  const KernelRect& sourceRect, uint64_t targetSize,
                                  uint64_t sourceSize, uint16_t targetBytesPerPixel,
                                  uint16_t sourceBytesPerPixel, int32_t targetStride,
                                  int32_t sourceStride, void* p, void* q);

// Declares or defines a function with the PixelKernel signature.
#define TOVIRA_PIXEL_KERNEL(name)                                                                  \
  int64_t name(uint8_t* target, const uint8_t* source, const ::tovira::KernelRect& rect,           \
               int32_t x, int32_t y, uint16_t targetBpp, uint16_t sourceBpp, int32_t targetStride, \
               int32_t sourceStride, void* p, void* q)

// Declares or defines a function with the StretchKernel signature.
#define TOVIRA_STRETCH_KERNEL(name)                                                               \
  int64_t name(uint8_t* target, const uint8_t* source, const ::tovira::KernelRect& targetRect,    \
               const ::tovira::KernelRect& sourceRect, uint64_t targetSize, uint64_t sourceSize,  \
               uint16_t targetBpp, uint16_t sourceBpp, int32_t targetStride, int32_t sourceStride, \
               void* p, void* q)

inline uint64_t PackImageSize(int32_t width, int32_t height) {
  return static_cast<uint32_t>(width) | (static_cast<uint64_t>(static_cast<uint32_t>(height)) << 32);
}
inline int32_t SizeWidth(uint64_t size) { return static_cast<int32_t>(size & 0xFFFFFFFFu); }
inline int32_t SizeHeight(uint64_t size) { return static_cast<int32_t>(size >> 32); }

}  // namespace tovira
