#include "pipeline/StageChain.h"

#include <algorithm>
#include <cstring>

#include "pipeline/ApplyKernel.h"

namespace tovira {
namespace {

// Rows per step: about 128 KiB of output, so a step's rows stay in the core's second-level cache
// from one stage to the next (a full-width 48-bit row is 23 KiB).
constexpr int32_t kStepBytes = 128 * 1024;

int32_t StepRows(const ImageView& image) { return std::max(1, kStepBytes / std::max(1, image.stride)); }

ImageView RowsOf(const ImageView& image, int32_t top, int32_t bottom) {
  ImageView v = image;
  v.pixels = image.row(top);
  v.height = bottom - top;
  return v;
}

// Columns [left, right) of row `row`: the samples the stages write, from the scratch image into the
// output (a fourth sample of the output keeps its value).
void CopyPixels(const StageChain& c, int32_t row, int32_t left, int32_t right) {
  if (left >= right) return;
  const int32_t bpp = c.output.bytesPerPixel();
  const int32_t sampleBytes = c.output.bitsPerPixel == 16 || c.output.bitsPerPixel >= 48 ? 2 : 1;
  const int32_t written = c.channels * sampleBytes;
  const uint8_t* from = c.scratch.row(row) + static_cast<intptr_t>(left) * bpp;
  uint8_t* to = c.output.row(row) + static_cast<intptr_t>(left) * bpp;
  if (written == bpp) {
    std::memcpy(to, from, static_cast<size_t>(right - left) * bpp);
    return;
  }
  for (int32_t i = left; i < right; ++i, from += bpp, to += bpp) std::memcpy(to, from, written);
}

}  // namespace

void RunChainFirstPass(const StageChain& c, int32_t begin, int32_t end) {
  const int32_t step = StepRows(c.output);
  for (int32_t top = begin; top < end; top += step) {
    const int32_t bottom = std::min(end, top + step);
    const ImageView out = RowsOf(c.output, top, bottom);
    if (c.sharpen == nullptr) {
      if (c.hueSaturation != nullptr) ApplyKernel(out, c.hueSaturation, out, nullptr, 0, 0, c.hueRecord);
      if (c.tableBefore != nullptr) ApplyKernel(out, c.toneTable, out, nullptr, 0, 0, c.tableBefore);
      continue;
    }
    // With sharpness the result goes to the scratch image: the sharpness's unsharpened source.
    const ImageView scratch = RowsOf(c.scratch, top, bottom);
    if (c.hueSaturation != nullptr) {
      ApplyKernel(scratch, c.hueSaturation, out, nullptr, 0, 0, c.hueRecord);
      if (c.tableBefore != nullptr) ApplyKernel(scratch, c.toneTable, scratch, nullptr, 0, 0, c.tableBefore);
    } else if (c.tableBefore != nullptr) {
      ApplyKernel(scratch, c.toneTable, out, nullptr, 0, 0, c.tableBefore);
    } else {
      std::memcpy(scratch.pixels, out.pixels, static_cast<size_t>(out.stride) * out.height);
    }
  }
}

void RunChainSecondPass(const StageChain& c, int32_t begin, int32_t end) {
  const int32_t height = c.output.height, width = c.output.width;
  const int32_t step = StepRows(c.output);
  for (int32_t top = begin; top < end; top += step) {
    const int32_t bottom = std::min(end, top + step);
    // The sharpness writes rows and columns 2 .. size-3 of what it sees; with two rows more on each
    // side (clipped to the image) those are exactly rows top .. bottom-1 away from the image's edges.
    const int32_t from = std::max(0, top - 2), to = std::min(height, bottom + 2);
    ApplyKernel(RowsOf(c.output, from, to), c.sharpen, RowsOf(c.scratch, from, to), nullptr, 0, 0,
                c.sharpenRecord);
    for (int32_t row = top; row < bottom; ++row) {
      if (row < 2 || row >= height - 2 || width < 5) {
        CopyPixels(c, row, 0, width);
      } else {
        CopyPixels(c, row, 0, 2);
        CopyPixels(c, row, width - 2, width);
      }
    }
    if (c.tableAfter != nullptr) {
      const ImageView out = RowsOf(c.output, top, bottom);
      ApplyKernel(out, c.toneTable, out, nullptr, 0, 0, c.tableAfter);
    }
  }
}

}  // namespace tovira
