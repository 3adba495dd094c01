// Bilinear Bayer demosaic with the red and blue gains applied on the way.
//
// Every output pixel is interpolated at the centre of its 2 x 2 cell (columns x-1, x, storage rows
// y-1, y): green is the mean of the cell's two greens, red and blue are the cell's sample weighted 9,
// the two same-colour samples beyond the centre horizontally and vertically weighted 3 and the
// diagonal one weighted 1, times the gain factor trunc(gain * 1.28), shifted right by 11.
// The colour of a raw sample follows from the Bayer mode and the parity of its own storage row and
// column (odd widths and heights included):
//   mode 0: even rows G B, odd rows R G;   mode 1: even rows R G, odd rows G B;
//   mode 2: even rows B G, odd rows G R;   mode 3: even rows G R, odd rows B G.
#pragma once

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// p = ColourRecord. The source rectangle is treated as the frame. Targets step by their own bytes per
// pixel (24/32 bits for the 8-bit kernels, 48/64 for the 16-bit ones); a fourth channel is never
// written. 8-bit results are limited to 255, 16-bit results to 4095 (16-bit samples above 4095 count
// as 4095).
//
// Interior: rows and columns 2 .. size-3.
TOVIRA_PIXEL_KERNEL(DemosaicInterior8);
TOVIRA_PIXEL_KERNEL(DemosaicInterior16);
// DemosaicInterior8 followed, on the pixels it wrote, by the hue/saturation transform and the table
// after it as HueFromPlanes8 gives them; q: the HuePlanes8 (HueSaturation.h). On the AVX2 path the
// demosaic hands its rows over as planes of bytes, and neither stage splits or joins the channels of
// BGR pixels but the last. 3 or 4 bytes per target pixel only (else nothing is written and 0 returned).
TOVIRA_PIXEL_KERNEL(DemosaicInteriorHue8);
// Border: the two outermost rows and columns on each side; a neighbour outside the frame is replaced by
// the sample four pixels further inward (same colour). Frames smaller than 4 pixels stay memory-safe
// (neighbours are then folded back inside by steps of two).
TOVIRA_PIXEL_KERNEL(DemosaicBorder8);
TOVIRA_PIXEL_KERNEL(DemosaicBorder16);
// The border pixels of frame rows [first, end) only, with the values the Border kernels give them: for
// callers that build the frame band by band. p = BorderRowsRecord; target and source are the whole
// frame as for the Border kernels.
struct BorderRowsRecord {
  const ColourRecord* colour;
  int32_t first, end;
};
TOVIRA_PIXEL_KERNEL(DemosaicBorderRows8);
TOVIRA_PIXEL_KERNEL(DemosaicBorderRows16);

// Which code the interior kernels run. kAuto (the default) takes AVX2 when the CPU has it and SSE2
// otherwise; the other values force one path, for tests and benchmarks that compare them (kAvx2 on a
// CPU without AVX2 runs SSE2). Process-wide; not meant to be changed while frames are processed.
enum class DemosaicPath : int32_t { kAuto = 0, kScalar = 1, kSse2 = 2, kAvx2 = 3 };
void SetDemosaicPath(DemosaicPath path);
// The path the kernels use now (never kAuto).
DemosaicPath ActiveDemosaicPath();

// The integer gain factor: trunc(gain * 1.28) with the gain limited to 0..400 (100 -> 128).
int32_t GainFactor(int32_t gain);

// Colour (0 green, 1 blue, 2 red) of the raw sample at column x, storage row y.
inline int BayerColourAt(int32_t bayerMode, int32_t x, int32_t y) {
  const int rowPhase = (y + ((bayerMode == 1 || bayerMode == 3) ? 1 : 0)) & 1;
  const int colPhase = (x + ((bayerMode == 2 || bayerMode == 3) ? 1 : 0)) & 1;
  if (rowPhase == colPhase) return 0;
  return rowPhase == 0 ? 1 : 2;
}
enum BayerColour : int { kBayerGreen = 0, kBayerBlue = 1, kBayerRed = 2 };

}  // namespace tovira
