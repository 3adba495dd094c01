// Internal interface between the sharpness kernels (Sharpen.cpp) and their AVX2 and AVX-512 rows
// (SharpenAvx2.cpp, SharpenAvx512.cpp, each compiled for its instruction set and only called when the
// CPU has it). Not for other callers.
#pragma once

#include <cstdint>

namespace tovira::sharpen_rows {

constexpr int32_t kStrip = 2048;  // samples per strip of vertical sums

// One output row of packed samples from the source rows row-2 .. row+1 (rows[0..3], from column 0):
// samples kBegin .. kEnd-1 of the row (at least 16 for 8-bit, 8 for 16-bit samples) are written to
// out (the target row, indexed like the source rows). `channels` samples per pixel (1, 3 or 4: a fourth
// sample of the target keeps its value).
// A table the 8-bit results go through, given as a product where the table allows it:
// table[v] = min(v * whole + ((v * fraction) >> 16), 255) for every v (the brightness alone, mostly).
struct ByteScale {
  int16_t whole;
  uint16_t fraction;
};
// With `scale` or `tone` (a 256-entry table), rows of at least 32 samples with 1, 3 or 4 channels take
// their results through it (scale first) and true is returned; otherwise false, and the caller applies
// the table.
bool Row8Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
              int32_t amount, const ByteScale* scale, const uint8_t* tone);
// Two output rows at once, out from rows[0..3] and nextOut from rows[1..4], which share the vertical
// sums of the three rows in between, with the table applied (scale first): rows of at least 32
// samples with 1, 3 or 4 channels; false (nothing written) for others.
bool Row8PairAvx2(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
                  int32_t channels, int32_t amount, const ByteScale* scale, const uint8_t* tone);
// The brightness alone after the 16-bit sharpness, computed in registers as its table's builder does:
// min(largest, trunc(min(v, largest) * factor)) in single precision (see BuildBrightnessTable16).
struct Brightness16 {
  float factor;
  int32_t largest;
};
void Row16Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
               int32_t amount, int32_t largest, const Brightness16* brightness);

// 16-bit samples of at most 12 bits (the pipeline's): the 16 samples of a blur sum add up to at most
// 65520, so the AVX2 and AVX-512 rows keep them in 16-bit lanes, twice the samples a step of the 32-bit
// lanes any 16-bit value needs. A strip of a row goes that way when the result's limit is at most
// kNarrowLargest and no sample of its four source rows (fourth samples aside) is above it.
constexpr int32_t kNarrowLargest = 4095;
// amount * m / 10 truncated, for 0 <= m <= kNarrowLargest and amount 0..30, as m * whole + ((m *
// fraction) >> 16), where whole * 65536 + fraction = ceil(amount * 65536 / 10): that factor exceeds
// amount / 10 by less than 0.9 / 65536, which adds less than 0.06 to m * amount / 10, whose fraction
// is at most 0.9, so the integer part never changes. Both parts fit 16-bit lanes (whole at most 3).
struct TenthScale {
  int16_t whole;
  uint16_t fraction;
};
inline TenthScale TenthScaleOf(int32_t amount) {
  const int32_t factor = (amount * 65536 + 9) / 10;
  return {static_cast<int16_t>(factor >> 16), static_cast<uint16_t>(factor & 0xFFFF)};
}

// The same with AVX-512 (BW, VBMI): at least 32 samples for 8-bit, 16 for 16-bit samples. `tone`: a
// 256-entry table the 8-bit results go through, or nullptr.
void Row8Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                int32_t amount, const uint8_t* tone);
// Two output rows at once as Row8PairAvx2 does, for rows of at least 64 samples with 1, 3 or 4 channels.
bool Row8PairAvx512(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
                    int32_t channels, int32_t amount, const uint8_t* tone);
void Row16Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                 int32_t amount, int32_t largest, const Brightness16* brightness);

}  // namespace tovira::sharpen_rows
