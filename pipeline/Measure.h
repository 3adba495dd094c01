// Statistics of the raw frame for the automatic exposure, white balance and grey balance, and the small
// pure rules that turn them into settings.
#pragma once

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// Mean level of the rectangle (sum / count, integer division; 0 for an empty rectangle). Called on the
// raw image with target = source. WindowMean16 averages bits 4..11 of each 12-bit sample, the same
// 8-bit scale as the preview.
TOVIRA_PIXEL_KERNEL(WindowMean8);
TOVIRA_PIXEL_KERNEL(WindowMean16);

// Per-colour sums of a Bayer frame (class of each sample by its own row and column parity).
struct BayerClassSums {
  uint64_t sum[3] = {0, 0, 0};    // indexed by BayerColour: green, blue, red
  uint64_t count[3] = {0, 0, 0};
};
BayerClassSums SumBayerClasses8(const uint8_t* frame, int32_t stride, const KernelRect& rect,
                                int32_t bayerMode);
BayerClassSums SumBayerClasses16(const uint8_t* frame, int32_t stride, const KernelRect& rect,
                                 int32_t bayerMode);

// White-balance gains from the class means: blue = trunc(100 G / B), red = trunc(100 G / R) (computed
// as S / B / 3 * 100 / k with S = G + B + R, k = S / G / 3), green 100, each limited to 400. Returns
// false (record untouched) when a class is empty or has mean 0.
bool WhiteBalanceGains(const BayerClassSums& sums, WhiteBalanceRecord& record);

// In place on the raw image, p = WhiteBalanceRecord (pre-filled with the current gains). Returns 1.
TOVIRA_PIXEL_KERNEL(MeasureWhiteBalance8);
TOVIRA_PIXEL_KERNEL(MeasureWhiteBalance16);

// Grey balance, in place on the raw image, p = GrayGainRecord. Samples equal to the largest value
// (255, or 1023/4095/16383 for 10/12/14 significant bits, else 65535) are ignored and samples of 0 are
// not counted; when all eight position classes hold samples, each value becomes trunc(A / mean * 128)
// with A the largest class mean (not limited to 255). Otherwise the record is unchanged. Returns 1.
TOVIRA_PIXEL_KERNEL(MeasureGrayGains);

// The auto iris's correction factor in hundredths, from the five window means: starts at 100; each
// mean adds -15 above 200, -10 above 160, 0 from 100 to 160, +5 from 50 to 99, +10 below 50.
int32_t AutoIrisFactorPercent(const int32_t means[5]);
// Whether the factor asks for a change: outside the open band (0.6, 1.2).
inline bool AutoIrisWantsChange(int32_t factorPercent) {
  return !(factorPercent > 60 && factorPercent < 120);
}
// New global gain trunc(gain * f) limited to 0..127, new exposure trunc(lines * f) limited to 1..8191.
int32_t AutoIrisGain(int32_t currentGain, int32_t factorPercent);
int32_t AutoIrisExposure(int32_t currentLines, int32_t factorPercent);
// The five measuring windows in bitmap coordinates for a width x height frame: the four corners and
// the centre, each a tenth of the frame wide and high.
void AutoIrisWindows(int32_t width, int32_t height, KernelRect windows[5]);

}  // namespace tovira
