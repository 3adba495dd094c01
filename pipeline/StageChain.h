// The stages after the demosaic (hue and saturation, the composed tone table before the sharpness, the
// sharpness, the table after it) as at most two passes over the output image instead of one per stage.
// Each pass walks a band of rows a few rows at a time and runs every stage of the pass on those rows
// while they are still in cache; the result is that of the stages run one after the other over the
// whole image.
//
// Without sharpness, the first pass is the whole chain, in place on the output image. With sharpness,
// the first pass writes its result into the sharpness scratch image (the unsharpened copy the
// sharpness reads; no separate copy), and the second pass sharpens from the scratch image into the
// output, gives the pixels the sharpness leaves alone (two rows and columns at each edge) the scratch
// value, and runs the table after the sharpness in place. The second pass reads two rows above and
// below its band from the scratch image, so every band's first pass must be done before any second
// pass starts.
//
// The demosaic can run as the first stage of the first pass: each step demosaics the interior of its
// own rows (reading two raw rows beyond them) straight into the image the pass writes, and the stages
// after it find those rows in cache instead of reading the whole demosaiced frame back from memory.
// With sharpness that image is the scratch image, so the output is written only once, by the second
// pass. The demosaic's border (two rows and columns at each edge) is either in that image before the
// pass starts, or made by each step for its own rows (demosaicBorderRows).
#pragma once

#include <cstdint>

#include "pipeline/ImageView.h"

namespace tovira {

struct StageChain {
  ImageView output;
  ImageView scratch;             // same geometry as the output; used only with sharpness
  PixelKernel hueSaturation;     // nullptr: not run
  void* hueRecord;               // HueSaturationRecord
  PixelKernel toneTable;         // the family's ToneTable kernel
  void* tableBefore;             // ToneTableRecord of the composed table before the sharpness, or nullptr
  PixelKernel sharpen;           // nullptr: no sharpness (everything in the first pass)
  void* sharpenRecord;           // ValueRecord
  void* tableAfter;              // ToneTableRecord of the table after the sharpness, or nullptr
  int32_t channels;              // samples per pixel the stages write: 1 (grey) or 3 (a fourth is kept)
  bool kernelsTakeTables;        // the sharpness kernel and the edge copy apply the table that follows
                                 // them to their results (q), saving a pass
  PixelKernel demosaic = nullptr;  // interior demosaic run first in each step; nullptr: the output
                                   // already holds the demosaiced frame
  ImageView raw{};                 // the demosaic's source, same width and height as the output
  void* colourRecord = nullptr;    // ColourRecord of the demosaic
  PixelKernel demosaicBorderRows = nullptr;  // with the demosaic: its border of a step's rows (a
                                             // BorderRowsRecord kernel), run after the interior
  bool hueTakesTable = false;      // the hue/saturation kernel applies the table before the sharpness
                                   // to its results (q), saving a pass (any colour family)
  // The demosaic runs the hue/saturation and the table before the sharpness on the interior itself
  // (DemosaicInteriorHue8, whose q this is: a HuePlanes8); the step then runs them, with the
  // hue/saturation kernel, on its border pixels only.
  const void* demosaicHue = nullptr;
};

// The image the first pass writes: the scratch image with sharpness, else the output.
inline const ImageView& ChainFirstTarget(const StageChain& chain) {
  return chain.sharpen != nullptr ? chain.scratch : chain.output;
}

// Rows [begin, end) of the output image.
void RunChainFirstPass(const StageChain& chain, int32_t begin, int32_t end);
void RunChainSecondPass(const StageChain& chain, int32_t begin, int32_t end);

}  // namespace tovira
