// Grey-frame processing: per-position grey gains on raw grey frames and grey from colour.
#pragma once

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// In place on the raw image, p = GrayGainRecord. Each sample is scaled by one of the eight grey values
// chosen by its position in a 4-row by 2-column cycle, out = gain * v / 128 limited to
// 0..largest (255 for 8 significant bits, (1 << bits) - 1 for 16-bit frames):
//   row phase 0: G1, R   1: B, G2   2: OffsetG1, OffsetR   3: OffsetB, OffsetG2   (column phase 0, 1)
// Phases follow the sample's own storage row and column: row phase (row + (mode 1 or 3 ? 1 : 0)) mod 4,
// column phase (column + (mode 2 or 3 ? 1 : 0)) mod 2.
TOVIRA_PIXEL_KERNEL(ApplyGrayGains8);
TOVIRA_PIXEL_KERNEL(ApplyGrayGains16);

// 24-bit (or 32-bit) source -> 8-bit target: grey = (30 red + 59 green + 11 blue) / 100.
TOVIRA_PIXEL_KERNEL(GrayFromBgr24);

// Index 0..7 into GrayGainRecord::values for the sample at column x, storage row y.
inline int GrayValueIndexAt(int32_t bayerMode, int32_t x, int32_t y) {
  static constexpr int kTable[4][2] = {{kGrayGainG1, kGrayGainR},
                                       {kGrayGainB, kGrayGainG2},
                                       {kGrayOffsetG1, kGrayOffsetR},
                                       {kGrayOffsetB, kGrayOffsetG2}};
  const int rowPhase = (y + ((bayerMode == 1 || bayerMode == 3) ? 1 : 0)) & 3;
  const int colPhase = (x + ((bayerMode == 2 || bayerMode == 3) ? 1 : 0)) & 1;
  return kTable[rowPhase][colPhase];
}

}  // namespace tovira
