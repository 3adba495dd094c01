// Parameter records handed to kernels through their p and q pointers. Each is a small block of signed
// 32-bit values that the caller builds on the stack for one call.
#pragma once

#include <cstdint>

namespace tovira {

// Demosaic and defect filter: the Bayer phase and the three Bayer gains (100 = unity; the green gain is
// carried but never applied).
struct ColourRecord {
  int32_t bayerMode;
  int32_t redGain;
  int32_t greenGain;
  int32_t blueGain;
};

// Defect filter threshold (the pipeline passes 30).
struct ThresholdRecord {
  int32_t threshold;
};

// Grey gains and grey balance: Bayer mode, the eight grey values (128 = unity) and the significant bits
// of the samples (8 for 8-bit frames, 12 for 16-bit frames). MeasureGrayGains overwrites the values.
struct GrayGainRecord {
  int32_t bayerMode;
  int32_t values[8];  // GrayGainR, GrayGainG1, GrayGainG2, GrayGainB, GrayOffsetR, G1, G2, B
  int32_t significantBits;
};
enum GrayValueIndex : int {
  kGrayGainR = 0,
  kGrayGainG1,
  kGrayGainG2,
  kGrayGainB,
  kGrayOffsetR,
  kGrayOffsetG1,
  kGrayOffsetG2,
  kGrayOffsetB,
};

// Hue and saturation: hue in degrees (-360..360), a lightness offset that is always 0, saturation
// (-255..255) and the significant bits of 16-bit samples.
struct HueSaturationRecord {
  int32_t hue;
  int32_t lightness;
  int32_t saturation;
  int32_t significantBits;
};

// Gamma, contrast, sharpness and brightness: one parameter value and the significant bits of 16-bit
// samples.
struct ValueRecord {
  int32_t value;
  int32_t significantBits;
};

// White balance measurement: three results (blue, green, red gain) followed by the Bayer mode. The
// caller fills the gains with the current ones; they are left as they were when a colour class is
// empty or black.
struct WhiteBalanceRecord {
  int32_t blueGain;
  int32_t greenGain;
  int32_t redGain;
  int32_t bayerMode;
};

// The largest sample of a 16-bit family: (1 << bits) - 1 with bits limited to 8..16.
inline int32_t LargestSample(int32_t significantBits) {
  if (significantBits < 8) significantBits = 8;
  if (significantBits > 16) significantBits = 16;
  return (1 << significantBits) - 1;
}

}  // namespace tovira
