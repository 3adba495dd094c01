// Gamma, contrast and brightness in the four pixel families:
//   Gray8 (colour mode 8), Gray16 (mode 16, 12 significant bits), Bgr8 (modes 24, 32: blue, green, red
//   bytes; a fourth byte is left alone), Bgr16 (modes 48, 64: 16-bit samples, fourth sample left alone).
// All run in place on the output image with p = ValueRecord {value, significant bits}; the 16-bit
// families take their largest value (1 << bits) - 1 from the record (bits limited to 8..16) and treat
// samples above it as the largest value.
#pragma once

#include <cstddef>

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// Gamma 0..200 (100 neutral): exponent gamma / 100 up to 100, (gamma - 100) / 10 + 1 above.
// 8-bit table entry i = trunc(pow(i / 255, e) * 255); 16-bit entry i = trunc(pow(i / 2^bits, e) *
// (2^bits - 1)). GammaBgr8 keeps the exponent within 0.001..99.999.
TOVIRA_PIXEL_KERNEL(GammaGray8);
TOVIRA_PIXEL_KERNEL(GammaGray16);
TOVIRA_PIXEL_KERNEL(GammaBgr8);
TOVIRA_PIXEL_KERNEL(GammaBgr16);

// Contrast m in -127..127 (0 neutral): 0 below m, the largest value above largest - m, else
// trunc(256 / (256 - 2m) * (i - m)) (16-bit: m scaled by 2^(bits-8)).
TOVIRA_PIXEL_KERNEL(ContrastGray8);
TOVIRA_PIXEL_KERNEL(ContrastGray16);
TOVIRA_PIXEL_KERNEL(ContrastBgr8);
TOVIRA_PIXEL_KERNEL(ContrastBgr16);

// Brightness b in -255..255 (0 neutral): factor 1 - |b| / 255 below 0, 1 + 10 b / 255 above (double,
// then used in single precision); out = trunc(v * factor) limited to 0..largest.
TOVIRA_PIXEL_KERNEL(BrightnessGray8);
TOVIRA_PIXEL_KERNEL(BrightnessGray16);
TOVIRA_PIXEL_KERNEL(BrightnessBgr8);
TOVIRA_PIXEL_KERNEL(BrightnessBgr16);

// Gamma, contrast and brightness are each one table per sample, so consecutive stages of them compose
// into one table with the same result: table[v] = brightness[contrast[gamma[v]]] for the stages that
// run (in that order). p = ToneTableRecord. The 16-bit kernels read samples above the record's largest
// value as the largest value, as every single stage does.
struct ToneTableRecord {
  const void* table;        // 256 bytes (8-bit families) or largest + 1 16-bit entries
  int32_t significantBits;  // 16-bit families: the largest value is (1 << bits) - 1
  // True when the table is the brightness alone: BuildBrightnessTable8's or BuildBrightnessTable16's
  // entries for brightnessFactor (v times the factor in single precision, truncated, at most the largest
  // value). The AVX2 bodies then compute the entries instead of reading the table.
  bool brightnessOnly = false;
  float brightnessFactor = 1.0f;
};
TOVIRA_PIXEL_KERNEL(ToneTableGray8);
TOVIRA_PIXEL_KERNEL(ToneTableGray16);
TOVIRA_PIXEL_KERNEL(ToneTableBgr8);
TOVIRA_PIXEL_KERNEL(ToneTableBgr16);

// Which of the three table stages run, and with which values (a stage at its neutral value is left out).
struct ToneStages {
  bool gamma = false, contrast = false, brightness = false;
  int32_t gammaValue = 100, contrastValue = 0, brightnessValue = 0;
};
// The composed table of the stages for the 8-bit families (`colour`: Bgr8, whose gamma exponent is kept
// within 0.001..99.999) and the 16-bit families (2^bits entries).
void ComposeToneTable8(const ToneStages& stages, bool colour, uint8_t table[256]);
void ComposeToneTable16(const ToneStages& stages, int32_t significantBits, uint16_t* table);

// t[i] = table[s[i]] for n bytes (t may be s); with keepFourth every fourth byte (3, 7, ...) of t keeps
// its value. Eight bytes a step in one 64-bit read and write (the path without VBMI byte permutes).
void LookupBytes(uint8_t* t, const uint8_t* s, size_t n, const uint8_t* table, bool keepFourth);
// The same through a record's 8-bit table; on the AVX2 path the brightness alone is computed.
void LookupBytes(uint8_t* t, const uint8_t* s, size_t n, const ToneTableRecord& record, bool keepFourth);

// Table builders (exposed for the kernels' tests and for the benchmarks).
double GammaExponent(int32_t gamma);
void BuildGammaTable8(int32_t gamma, bool limitExponent, uint8_t table[256]);
void BuildGammaTable16(int32_t gamma, int32_t significantBits, uint16_t* table);  // 2^bits entries
void BuildContrastTable8(int32_t contrast, uint8_t table[256]);
void BuildContrastTable16(int32_t contrast, int32_t significantBits, uint16_t* table);
float BrightnessFactor(int32_t brightness);
void BuildBrightnessTable8(int32_t brightness, uint8_t table[256]);
void BuildBrightnessTable16(int32_t brightness, int32_t significantBits, uint16_t* table);

}  // namespace tovira
