#include "pipeline/StageChain.h"

#include <algorithm>
#include <cstring>

#include "pipeline/ApplyKernel.h"
#include "pipeline/Demosaic.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/PixelAccess.h"
#include "pipeline/Tone.h"

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
// output (a fourth sample of the output keeps its value), through the record's table if given (16-bit
// samples above its largest value read its last entry).
void CopyPixels(const StageChain& c, int32_t row, int32_t left, int32_t right, const ToneTableRecord* record) {
  if (left >= right) return;
  const int32_t bpp = c.output.bytesPerPixel();
  const int32_t sampleBytes = c.output.bitsPerPixel == 16 || c.output.bitsPerPixel >= 48 ? 2 : 1;
  if (record != nullptr) {
    const uint8_t* from = c.scratch.row(row) + static_cast<intptr_t>(left) * bpp;
    uint8_t* to = c.output.row(row) + static_cast<intptr_t>(left) * bpp;
    if (sampleBytes == 1) {
      const auto* table = static_cast<const uint8_t*>(record->table);
      for (int32_t i = left; i < right; ++i, from += bpp, to += bpp)
        for (int32_t ch = 0; ch < c.channels; ++ch) to[ch] = table[from[ch]];
    } else {
      const auto* table = static_cast<const uint16_t*>(record->table);
      const int32_t largest = LargestSample(record->significantBits);
      for (int32_t i = left; i < right; ++i, from += bpp, to += bpp)
        for (int32_t ch = 0; ch < c.channels; ++ch)
          Store16(to + 2 * ch, table[std::min<int32_t>(Load16(from + 2 * ch), largest)]);
    }
    return;
  }
  const int32_t written = c.channels * sampleBytes;
  const uint8_t* from = c.scratch.row(row) + static_cast<intptr_t>(left) * bpp;
  uint8_t* to = c.output.row(row) + static_cast<intptr_t>(left) * bpp;
  if (written == bpp) {
    std::memcpy(to, from, static_cast<size_t>(right - left) * bpp);
    return;
  }
  for (int32_t i = left; i < right; ++i, from += bpp, to += bpp) std::memcpy(to, from, written);
}

// Sharpens rows [top, bottom) of the output from the scratch image: scratch rows top-2 .. bottom (those
// in the image) must be final. Also gives the pixels the sharpness leaves alone their scratch value and
// runs the table after the sharpness.
void SharpenRows(const StageChain& c, int32_t top, int32_t bottom) {
  if (top >= bottom) return;
  const int32_t height = c.output.height, width = c.output.width;
  // The sharpness writes rows and columns 2 .. size-3 of what it sees; with two rows more on each side
  // (clipped to the image) those are exactly rows top .. bottom-1 away from the image's edges, and the
  // last row it reads is bottom.
  const int32_t from = std::max(0, top - 2), to = std::min(height, bottom + 2);
  // The sharpness and the copy apply the table after it themselves.
  const bool tableHere = c.tableAfter != nullptr && c.kernelsTakeTables;
  const auto* table = tableHere ? static_cast<const ToneTableRecord*>(c.tableAfter) : nullptr;
  ApplyKernel(RowsOf(c.output, from, to), c.sharpen, RowsOf(c.scratch, from, to), nullptr, 0, 0,
              c.sharpenRecord, tableHere ? c.tableAfter : nullptr);
  for (int32_t row = top; row < bottom; ++row) {
    if (row < 2 || row >= height - 2 || width < 5) {
      CopyPixels(c, row, 0, width, table);
    } else {
      CopyPixels(c, row, 0, 2, table);
      CopyPixels(c, row, width - 2, width, table);
    }
  }
  if (c.tableAfter != nullptr && !tableHere) {
    const ImageView out = RowsOf(c.output, top, bottom);
    ApplyKernel(out, c.toneTable, out, nullptr, 0, 0, c.tableAfter);
  }
}

// The hue/saturation and the table after it on the pixels of rows [top, bottom) of `image` that the
// demosaic's interior did not write (those rows' border): whole rows within two of the top or bottom,
// else the two columns at each side.
void HueOfBorder(const StageChain& c, const ImageView& image, int32_t top, int32_t bottom) {
  const int32_t height = image.height, width = image.width, bpp = image.bytesPerPixel();
  const auto& hue = *static_cast<const HuePlanes8*>(c.demosaicHue);
  for (int32_t row = top; row < bottom; ++row) {
    if (row < 2 || row >= height - 2 || width < 5) {
      const ImageView line = RowsOf(image, row, row + 1);
      ApplyKernel(line, c.hueSaturation, line, nullptr, 0, 0, c.hueRecord, c.tableBefore);
    } else {
      HueOnPixels8(hue, image.row(row), 2, bpp);
      HueOnPixels8(hue, image.row(row) + static_cast<intptr_t>(width - 2) * bpp, 2, bpp);
    }
  }
}

// The rows of band [begin, end) that read scratch rows of other bands: its first two rows (unless it
// starts the image) and its last row (unless it ends the image). The first pass sharpens the rows in
// between; the second pass, after every band's first pass, these.
struct BandEdges {
  int32_t frontEnd, backBegin;
};
BandEdges EdgesOf(const StageChain& c, int32_t begin, int32_t end) {
  const int32_t frontEnd = begin == 0 ? begin : std::min(end, begin + 2);
  const int32_t backBegin = end == c.output.height ? end : std::max(frontEnd, end - 1);
  return {frontEnd, backBegin};
}

}  // namespace

void RunChainFirstPass(const StageChain& c, int32_t begin, int32_t end) {
  const BandEdges edges = EdgesOf(c, begin, end);
  int32_t sharpened = edges.frontEnd;  // rows of the band before this are sharpened or left to the second pass
  int32_t step = StepRows(c.output);
  // A demosaic step must start on an even row, so that its rows keep the Bayer phase of the frame.
  if (c.demosaic != nullptr) step = std::max(2, step & ~1);
  const ImageView& target = ChainFirstTarget(c);
  for (int32_t top = begin; top < end; top += step) {
    const int32_t bottom = std::min(end, top + step);
    // With sharpness the result goes to the scratch image: the sharpness's unsharpened source.
    const ImageView into = RowsOf(target, top, bottom);
    // The demosaiced rows: demosaiced here straight into the target, or already in the output.
    ImageView source = RowsOf(c.output, top, bottom);
    if (c.demosaic != nullptr) {
      // The interior demosaic writes rows 2 .. size-3 of what it sees; with two raw rows more on each
      // side (clipped to the frame) those are exactly rows top .. bottom-1 away from the frame's edges.
      const int32_t from = std::max(0, top - 2), to = std::min(c.output.height, bottom + 2);
      ApplyKernel(RowsOf(target, from, to), c.demosaic, RowsOf(c.raw, from, to), nullptr, 0, 0, c.colourRecord,
                  const_cast<void*>(c.demosaicHue));
      if (c.demosaicBorderRows != nullptr) {  // the border pixels of these rows, seen in the whole frame
        BorderRowsRecord rows{static_cast<const ColourRecord*>(c.colourRecord), top, bottom};
        ApplyKernel(target, c.demosaicBorderRows, c.raw, nullptr, 0, 0, &rows);
      }
      source = into;
    }
    if (c.demosaic != nullptr && c.demosaicHue != nullptr) {
      HueOfBorder(c, target, top, bottom);
    } else if (c.hueSaturation != nullptr) {
      ApplyKernel(into, c.hueSaturation, source, nullptr, 0, 0, c.hueRecord,
                  c.hueTakesTable ? c.tableBefore : nullptr);
      if (c.tableBefore != nullptr && !c.hueTakesTable)
        ApplyKernel(into, c.toneTable, into, nullptr, 0, 0, c.tableBefore);
    } else if (c.tableBefore != nullptr) {
      ApplyKernel(into, c.toneTable, source, nullptr, 0, 0, c.tableBefore);
    } else if (c.sharpen != nullptr && c.demosaic == nullptr) {
      std::memcpy(into.pixels, source.pixels, static_cast<size_t>(source.stride) * source.height);
    }
    // Scratch rows begin .. bottom-1 are final: sharpen the band's rows that read no later row, while
    // their scratch rows are still in cache.
    if (c.sharpen != nullptr) {
      const int32_t ready = std::min(edges.backBegin, bottom == c.output.height ? bottom : bottom - 1);
      SharpenRows(c, sharpened, ready);
      sharpened = std::max(sharpened, ready);
    }
  }
}

void RunChainSecondPass(const StageChain& c, int32_t begin, int32_t end) {
  const BandEdges edges = EdgesOf(c, begin, end);
  SharpenRows(c, begin, edges.frontEnd);
  SharpenRows(c, edges.backBegin, end);
}

}  // namespace tovira
