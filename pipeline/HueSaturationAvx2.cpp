// AVX2 body of the hue/saturation transform for 8-bit BGR and BGR + fourth byte pixels (see
// HueSaturation.cpp for the integer steps, which this file repeats on sixteen pixels at a time). This
// file is compiled for AVX2 through the target pragma below and its function runs only after
// CpuHasAvx2(); nothing else with external linkage is defined here, and no inline function or template
// of another header is used, so no AVX2 code can stand in for an SSE2 copy at link time.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/HueSaturationRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif


namespace tovira::hue_rows {
namespace {

// pshufb masks, per 128-bit lane of eight pixels. Channel c of pixel k lies at byte bpp * k + c of the
// lane's pixels; the `low` register holds bytes 0..15 of them and the `high` register bytes
// shift..shift+15 (shift 8 for 3 bytes per pixel, 16 for 4). Gathering puts channel c of pixel k into
// 16-bit element k; scattering puts it back from registers packed as blue/green bytes and red bytes.
struct Masks {
  alignas(32) uint8_t gatherLow[3][32], gatherHigh[3][32];
  alignas(32) uint8_t scatter[4][32];  // [0]: bytes 0..15 from blue/green, [1]: from red, [2], [3]: bytes 16..31
};

Masks MakeMasks(int bpp) {
  Masks m;
  const int shift = bpp == 3 ? 8 : 16;
  for (int lane = 0; lane < 2; ++lane)
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 16; ++i) {
        const int k = i / 2, at = bpp * k + c;
        const bool value = i % 2 == 0;
        m.gatherLow[c][16 * lane + i] = value && at < 16 ? static_cast<uint8_t>(at) : 0x80;
        m.gatherHigh[c][16 * lane + i] = value && at >= 16 ? static_cast<uint8_t>(at - shift) : 0x80;
      }
  // Output byte o (0..31) of the lane: pixel o / bpp, channel o % bpp (the fourth byte is not written).
  // Packed sources: blue/green register bytes 0..7 blue of pixels 0..7, 8..15 green; red register
  // bytes 0..7 red.
  for (int lane = 0; lane < 2; ++lane)
    for (int o = 0; o < 32; ++o) {
      const int k = o / bpp, c = o % bpp;
      uint8_t fromBlueGreen = 0x80, fromRed = 0x80;
      if (k < 8 && c < 3) {
        if (c == 2) fromRed = static_cast<uint8_t>(k);
        else fromBlueGreen = static_cast<uint8_t>(8 * c + k);
      }
      const int half = o < 16 ? 0 : 2;
      m.scatter[half][16 * lane + o % 16] = fromBlueGreen;
      m.scatter[half + 1][16 * lane + o % 16] = fromRed;
    }
  return m;
}

const Masks& MasksFor(int bpp) {
  static const Masks three = MakeMasks(3), four = MakeMasks(4);
  return bpp == 3 ? three : four;
}

// The byte blend: b where the top bit of mask's byte is set, else a. Written as the instruction itself:
// GCC 12 turns the intrinsic into a select on "mask < 0" and emits a compare before the blend whenever
// the mask is not a compare already (a loaded or shifted mask). Here that made the byte-lane transform
// about a tenth slower; in the table lookups (TableLookupAvx2.h) the intrinsic measured faster.
[[gnu::always_inline]] inline __m256i Blend(__m256i a, __m256i b, __m256i mask) {
  __m256i result;
  __asm__("vpblendvb %3, %2, %1, %0" : "=x"(result) : "x"(a), "x"(b), "x"(mask));
  return result;
}

inline __m256i Select(__m256i mask, __m256i a, __m256i b) { return Blend(b, a, mask); }

// Sixteen pixels (blue, green, red 0..255 in 16-bit elements) through the transform.
inline void TransformSixteen(__m256i& blue, __m256i& green, __m256i& red, const RowConstants& k) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i hi = _mm256_max_epi16(_mm256_max_epi16(red, green), blue);
  const __m256i lo = _mm256_min_epi16(_mm256_min_epi16(red, green), blue);
  const __m256i chroma = _mm256_sub_epi16(hi, lo), sum = _mm256_add_epi16(hi, lo);
  const __m256i blueTop = _mm256_and_si256(_mm256_cmpgt_epi16(blue, red), _mm256_cmpgt_epi16(blue, green));
  const __m256i greenOver = _mm256_cmpgt_epi16(green, red);
  __m256i sector = Select(blueTop, _mm256_set1_epi16(5), Select(greenOver, _mm256_set1_epi16(3), _mm256_set1_epi16(1)));
  __m256i d = Select(blueTop, _mm256_sub_epi16(red, green),
                     Select(greenOver, _mm256_sub_epi16(blue, red), _mm256_sub_epi16(green, blue)));
  const __m256i negative = _mm256_cmpgt_epi16(zero, d);
  sector = _mm256_add_epi16(sector, negative);
  d = _mm256_add_epi16(d, _mm256_and_si256(negative, chroma));

  const __m256i factor = _mm256_set1_epi16(k.saturation);
  const __m256i productLow = _mm256_mullo_epi16(chroma, factor);
  const __m256i productHigh = _mm256_mulhi_epu16(chroma, factor);
  __m256i saturated = _mm256_srli_epi16(_mm256_add_epi16(_mm256_srli_epi16(productLow, 1), _mm256_set1_epi16(64)), 7);
  saturated = _mm256_or_si256(saturated, _mm256_cmpgt_epi16(productHigh, zero));
  saturated = _mm256_min_epi16(_mm256_and_si256(saturated, _mm256_set1_epi16(0x1FF)), _mm256_set1_epi16(255));
  const __m256i limit = _mm256_min_epi16(sum, _mm256_sub_epi16(_mm256_set1_epi16(511), sum));
  const __m256i newChroma = _mm256_min_epi16(limit, saturated);
  const __m256i grey = _mm256_srli_epi16(_mm256_sub_epi16(sum, newChroma), 1);
  const __m256i amplitude = _mm256_sub_epi16(_mm256_srli_epi16(_mm256_add_epi16(sum, newChroma), 1), grey);

  // The rounded offset (d * r + 0x8000) >> 16 with r = floor(0xFF0000 / chroma), in 32-bit lanes. r is
  // the truncated single-precision quotient, which is exact for every chroma 1..255: a quotient that is
  // not an integer lies at least 1 / chroma from the next one, more than half the spacing of floats
  // there, so rounding never reaches it. Grey pixels divide by 1 (their d is 0), so nothing divides by
  // zero whatever the caller's floating-point exception mask. d * r + 0x8000 stays below 2^32.
  // (Gathers from a table were several times slower on CPUs that make gathers safe in microcode.)
  const __m256 dividend = _mm256_set1_ps(16711680.0f);
  const __m256i one32 = _mm256_set1_epi32(1), half = _mm256_set1_epi32(0x8000);
  auto offsetOf = [&](__m128i chromaHalf, __m128i dHalf) {
    const __m256i divisor = _mm256_max_epi32(_mm256_cvtepu16_epi32(chromaHalf), one32);
    const __m256i r = _mm256_cvttps_epi32(_mm256_div_ps(dividend, _mm256_cvtepi32_ps(divisor)));
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(_mm256_cvtepu16_epi32(dHalf), r), half), 16);
  };
  const __m256i first = offsetOf(_mm256_castsi256_si128(chroma), _mm256_castsi256_si128(d));
  const __m256i second = offsetOf(_mm256_extracti128_si256(chroma, 1), _mm256_extracti128_si256(d, 1));
  const __m256i offset = _mm256_permute4x64_epi64(_mm256_packus_epi32(first, second), 0xD8);

  __m256i t = _mm256_add_epi16(offset, _mm256_set1_epi16(k.steps));
  const __m256i wraps = _mm256_cmpgt_epi16(t, _mm256_set1_epi16(254));
  __m256i s = _mm256_sub_epi16(_mm256_add_epi16(sector, _mm256_set1_epi16(k.sectors)), wraps);
  s = _mm256_sub_epi16(s, _mm256_and_si256(_mm256_cmpgt_epi16(s, _mm256_set1_epi16(5)), _mm256_set1_epi16(6)));
  t = _mm256_sub_epi16(t, _mm256_and_si256(wraps, _mm256_set1_epi16(255)));
  const __m256i ramp =
      _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(amplitude, t), _mm256_set1_epi16(128)), 8);

  __m256i is[6];
  for (int i = 0; i < 6; ++i) is[i] = _mm256_cmpeq_epi16(s, _mm256_set1_epi16(static_cast<int16_t>(i)));
  auto channel = [&](__m256i m0, __m256i m1, __m256i m2, __m256i falls, __m256i rises) {
    __m256i v = _mm256_add_epi16(grey, _mm256_and_si256(_mm256_or_si256(_mm256_or_si256(m0, m1), m2), amplitude));
    v = _mm256_add_epi16(v, _mm256_and_si256(rises, ramp));
    return _mm256_sub_epi16(v, _mm256_and_si256(falls, ramp));
  };
  const __m256i isGrey = _mm256_cmpeq_epi16(chroma, zero);
  const __m256i newRed = channel(is[0], is[1], is[2], is[2], is[5]);
  const __m256i newGreen = channel(is[2], is[3], is[4], is[4], is[1]);
  const __m256i newBlue = channel(is[4], is[5], is[0], is[0], is[3]);
  red = Select(isGrey, red, newRed);
  green = Select(isGrey, green, newGreen);
  blue = Select(isGrey, blue, newBlue);
}

inline __m256i MaskAt(const uint8_t* bytes) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes)); }

inline __m256i LoadLanes(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// 16-bit samples: channel c of pixel k lies at bytes bpp * k + 2c, +1 of the lane's pixels, in register
// (bpp * k + 2c) / 16 of the three (bpp 6) or four (bpp 8) registers of a lane.
struct Masks16 {
  alignas(32) uint8_t gather[3][4][32];   // channel, register
  alignas(32) uint8_t scatter[3][4][32];  // channel, register
  alignas(32) uint8_t keep[4][32];        // 0xFF on the bytes of a fourth sample
};

Masks16 MakeMasks16(int bpp) {
  Masks16 m;
  for (int lane = 0; lane < 2; ++lane)
    for (int r = 0; r < 4; ++r)
      for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 3; ++c) {
          const int at = bpp * (i / 2) + 2 * c + i % 2;
          m.gather[c][r][16 * lane + i] = at / 16 == r ? static_cast<uint8_t>(at % 16) : 0x80;
        }
        const int at = 16 * r + i, k = at / bpp, b = at % bpp, c = b / 2;
        for (int ch = 0; ch < 3; ++ch)
          m.scatter[ch][r][16 * lane + i] = c == ch ? static_cast<uint8_t>(2 * k + b % 2) : 0x80;
        m.keep[r][16 * lane + i] = c == 3 ? 0xFF : 0x00;
      }
  return m;
}

const Masks16& Masks16For(int bpp) {
  static const Masks16 six = MakeMasks16(6), eight = MakeMasks16(8);
  return bpp == 6 ? six : eight;
}

inline void StoreLanes(uint8_t* low, uint8_t* high, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(low), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(high), _mm256_extracti128_si256(v, 1));
}

// ---- 32 pixels a step in byte lanes (3 bytes per pixel) -------------------------------------------
//
// The integer steps of HueSaturationPixel with every value that fits a byte kept in a byte lane, as the
// AVX-512 body does, but with nothing looked up in a table of 256 entries (a byte table costs sixteen
// shuffles here):
// - the sector comes from a 16-entry shuffle of four comparisons (blue > red, blue > green,
//   green > red, red > blue), the offset d from the middle channel (r + g + b - hi - lo, wrapping in
//   bytes): d = mid - lo in odd sectors and hi - mid in even ones, which is what the scalar steps give
//   after adding the chroma to a negative d, ties included;
// - the saturation table's entry min((c * f + 128) >> 8, 255), f = saturation + 256, is
//   c + ((c * (f - 256) + 128) >> 8), and the rounded quotient is a rounding high product
//   (mulhrs(c << 7, f - 256) = (c * (f - 256) * 128 + 2^14) >> 15), in 16-bit lanes, even and odd
//   pixels apart;
// - the reciprocal floor(0xFF0000 / c) is the truncated single-precision quotient (exact, see
//   TransformSixteen), in 32-bit lanes, four groups of eight pixels taken apart by shifts and masks;
// - the chroma limit, the grey level and the amplitude as in the AVX-512 byte lanes (see
//   HueSaturationAvx512.cpp): min(s, 511 - s) from the byte sum and its carry, grey = avg(hi, lo) -
//   avg(newChroma, 0) - ((hi ^ lo) & ~newChroma & 1), amplitude = newChroma;
// - each output channel is the grey level, the highest value (grey + newChroma) or the middle one
//   (grey + ramp where it rises, highest - ramp where it falls), chosen by the bits of a per-sector
//   code from a shuffle.
// A tone table for the results is left to the caller's pass over the row while it is in the first-level
// cache: looked up here, in registers, the sixteen table pieces took registers from the transform and
// the whole was slower than the two apart (3.78 against 3.31 x OpenCV in the same run).

// Bits of a sector's code, placed so that a 16-bit left shift by 0..6 moves each to its byte's top bit
// (which the byte blend reads).
enum : uint8_t {
  kRisesBit = 0x80, kRedHighBit = 0x40, kRedMiddleBit = 0x20, kGreenHighBit = 0x10,
  kGreenMiddleBit = 0x08, kBlueHighBit = 0x04, kBlueMiddleBit = 0x02
};
constexpr uint8_t kSectorBits[6] = {kRedHighBit | kBlueMiddleBit,   kRedHighBit | kGreenMiddleBit | kRisesBit,
                                    kGreenHighBit | kRedMiddleBit,  kGreenHighBit | kBlueMiddleBit | kRisesBit,
                                    kBlueHighBit | kGreenMiddleBit, kBlueHighBit | kRedMiddleBit | kRisesBit};

// The sector of a pixel (0..5) from its comparisons: index bit 0 blue > red, 1 blue > green, 2 green >
// red, 3 red > blue (impossible combinations give 0).
constexpr uint8_t SectorOf(int index) {
  const bool blueOverRed = index & 1, blueOverGreen = index & 2, greenOverRed = index & 4, redOverBlue = index & 8;
  if (blueOverRed && blueOverGreen) return greenOverRed ? 4 : 5;  // blue the largest: d = r - g
  if (!greenOverRed) return blueOverGreen ? 0 : 1;                // red >= green: d = g - b
  return redOverBlue ? 2 : 3;                                     // d = b - r
}

struct ByteMasks {
  alignas(32) uint8_t gather[3][32];      // shuffle of the blended registers into channel c of pixels 0..15
  alignas(32) uint8_t fromSecond[3][32];  // 0x80 where the byte channel c needs comes from the second register
  alignas(32) uint8_t fromThird[3][32];   // ... from the third
  alignas(32) uint8_t spread[3][32];      // channel c of pixel k to byte (3 k + c) % 16
  alignas(32) uint8_t greenAt[3][32];     // output register j: 0x80 on the bytes of green
  alignas(32) uint8_t redAt[3][32];       // ... of red
  alignas(32) uint8_t sector[32];         // the sector of a comparison index
  alignas(32) uint8_t odd[32];            // 0x80 for the odd sectors of a comparison index
};

ByteMasks MakeByteMasks() {
  ByteMasks m{};
  for (int lane = 0; lane < 2; ++lane) {
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 16; ++k) {
        const int at = 3 * k + c, p = at % 16;  // the 16 positions of a channel are all different
        m.gather[c][16 * lane + k] = static_cast<uint8_t>(p);
        m.fromSecond[c][16 * lane + p] = at / 16 == 1 ? 0x80 : 0;
        m.fromThird[c][16 * lane + p] = at / 16 == 2 ? 0x80 : 0;
        m.spread[c][16 * lane + p] = static_cast<uint8_t>(k);
      }
    for (int j = 0; j < 3; ++j)
      for (int p = 0; p < 16; ++p) {
        const int c = (16 * j + p) % 3;
        m.greenAt[j][16 * lane + p] = c == 1 ? 0x80 : 0;
        m.redAt[j][16 * lane + p] = c == 2 ? 0x80 : 0;
      }
    for (int i = 0; i < 16; ++i) {
      m.sector[16 * lane + i] = SectorOf(i);
      m.odd[16 * lane + i] = SectorOf(i) % 2 ? 0x80 : 0;
    }
  }
  return m;
}

struct ByteConstants {
  __m256i sector, odd, codes, steps, wrapFrom, saturation;
  // Plain constants, held where the compiler cannot see their values: otherwise it builds them again
  // inside the loop (three instructions each) when it runs short of registers, instead of reading them.
  __m256i one, two, four, eight, flip, ones, lowBytes, highBytes, top, scaled, byte0, half, rounding;
  __m256 dividend;
};

ByteConstants MakeByteConstants(const ByteMasks& m, const RowConstants& k) {
  ByteConstants c;
  c.sector = MaskAt(m.sector), c.odd = MaskAt(m.odd);
  alignas(32) uint8_t codes[32] = {};  // the code of (sector + wrap + shift) % 6, in both lanes
  for (int i = 0; i < 7; ++i) codes[i] = codes[16 + i] = kSectorBits[(i + k.sectors) % 6];
  c.codes = MaskAt(codes);
  c.steps = _mm256_set1_epi8(static_cast<char>(k.steps));
  c.wrapFrom = _mm256_set1_epi8(static_cast<char>(255 - k.steps));
  c.saturation = _mm256_set1_epi16(static_cast<int16_t>(k.saturation - 256));
  c.one = _mm256_set1_epi8(1), c.two = _mm256_set1_epi8(2), c.four = _mm256_set1_epi8(4), c.eight = _mm256_set1_epi8(8);
  c.flip = _mm256_set1_epi8(static_cast<char>(0x80)), c.ones = _mm256_set1_epi8(-1);
  c.lowBytes = _mm256_set1_epi16(0x00FF), c.highBytes = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  c.top = _mm256_set1_epi16(255), c.scaled = _mm256_set1_epi16(0x7F80), c.rounding = _mm256_set1_epi16(128);
  c.byte0 = _mm256_set1_epi32(0xFF), c.half = _mm256_set1_epi32(0x8000);
  c.dividend = _mm256_set1_ps(16711680.0f);
  __m256i* hidden[] = {&c.one,  &c.two,       &c.four,      &c.eight, &c.flip,  &c.ones,    &c.lowBytes,
                       &c.highBytes, &c.top, &c.scaled, &c.byte0, &c.half, &c.rounding};
  for (__m256i* v : hidden) __asm__("" : "+x"(*v));
  __asm__("" : "+x"(c.dividend));
  return c;
}

// a >= b for unsigned bytes.
inline __m256i AtLeast(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(_mm256_max_epu8(a, b), a); }

// Thirty-two pixels (blue, green, red: one byte each) through the transform.
[[gnu::always_inline]] inline void TransformThirtyTwo(__m256i& blue, __m256i& green, __m256i& red,
                                                      const ByteConstants& k) {
  const __m256i zero = _mm256_setzero_si256(), one = k.one;
  const __m256i lowBytes = k.lowBytes, highBytes = k.highBytes;
  const __m256i hi = _mm256_max_epu8(_mm256_max_epu8(red, green), blue);
  const __m256i lo = _mm256_min_epu8(_mm256_min_epu8(red, green), blue);
  const __m256i chroma = _mm256_sub_epi8(hi, lo);

  // Sector and offset d (0..chroma).
  const __m256i flip = k.flip;
  const __m256i r = _mm256_xor_si256(red, flip), g = _mm256_xor_si256(green, flip), b = _mm256_xor_si256(blue, flip);
  const __m256i index = _mm256_or_si256(
      _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi8(b, r), one), _mm256_and_si256(_mm256_cmpgt_epi8(b, g), k.two)),
      _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi8(g, r), k.four), _mm256_and_si256(_mm256_cmpgt_epi8(r, b), k.eight)));
  const __m256i sector = _mm256_shuffle_epi8(k.sector, index);
  const __m256i middle = _mm256_sub_epi8(_mm256_add_epi8(_mm256_add_epi8(red, green), blue), _mm256_add_epi8(hi, lo));
  const __m256i d = Blend(_mm256_sub_epi8(hi, middle), _mm256_sub_epi8(middle, lo),
                                       _mm256_shuffle_epi8(k.odd, index));

  // Saturation: min(c + ((c * (f - 256) + 128) >> 8), 255), even and odd pixels in 16-bit lanes.
  const __m256i evenChroma = _mm256_and_si256(chroma, lowBytes), oddChroma = _mm256_srli_epi16(chroma, 8);
  const __m256i top = k.top, scaled = k.scaled;
  const __m256i evenSaturated = _mm256_min_epi16(
      _mm256_add_epi16(evenChroma, _mm256_mulhrs_epi16(_mm256_slli_epi16(evenChroma, 7), k.saturation)), top);
  const __m256i oddSaturated = _mm256_min_epi16(
      _mm256_add_epi16(oddChroma, _mm256_mulhrs_epi16(_mm256_and_si256(_mm256_srli_epi16(chroma, 1), scaled), k.saturation)), top);
  const __m256i saturated = _mm256_or_si256(evenSaturated, _mm256_slli_epi16(oddSaturated, 8));
  // Chroma limit min(s, 511 - s): the byte sum, or 255 minus it where hi + lo carries.
  const __m256i sum = _mm256_add_epi8(hi, lo);
  const __m256i noCarry = AtLeast(sum, hi);
  const __m256i limit = _mm256_xor_si256(_mm256_xor_si256(sum, noCarry), k.ones);
  const __m256i newChroma = _mm256_min_epu8(limit, saturated);
  const __m256i oddParts = _mm256_and_si256(_mm256_andnot_si256(newChroma, _mm256_xor_si256(hi, lo)), one);
  const __m256i grey = _mm256_sub_epi8(_mm256_sub_epi8(_mm256_avg_epu8(hi, lo), _mm256_avg_epu8(newChroma, zero)), oddParts);

  // The rounded offset (d * r + 0x8000) >> 16, r = floor(0xFF0000 / chroma), in four groups of eight
  // pixels: byte j of each 32-bit lane. Grey pixels divide by 1 (their d is 0).
  const __m256i divisors = _mm256_max_epu8(chroma, one);
  const __m256 dividend = k.dividend;
  const __m256i byte0 = k.byte0, half = k.half;
  auto offsetOf = [&](int shift) {
    const __m256i c = _mm256_and_si256(_mm256_srli_epi32(divisors, shift), byte0);
    const __m256i dj = _mm256_and_si256(_mm256_srli_epi32(d, shift), byte0);
    const __m256i reciprocal = _mm256_cvttps_epi32(_mm256_div_ps(dividend, _mm256_cvtepi32_ps(c)));
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(dj, reciprocal), half), 16);
  };
  const __m256i offset = _mm256_or_si256(_mm256_or_si256(offsetOf(0), _mm256_slli_epi32(offsetOf(8), 8)),
                                         _mm256_or_si256(_mm256_slli_epi32(offsetOf(16), 16), _mm256_slli_epi32(offsetOf(24), 24)));

  // Shifted offset t, wrapping past 254 into the next sector.
  const __m256i wraps = AtLeast(offset, k.wrapFrom);
  const __m256i t = _mm256_sub_epi8(_mm256_add_epi8(offset, k.steps), wraps);
  const __m256i code = _mm256_shuffle_epi8(k.codes, _mm256_sub_epi8(sector, wraps));

  // ramp = (newChroma * t + 128) >> 8: even pixels from the low product, odd ones from the high product
  // of the high bytes (exactly newChroma * t), which leaves their ramp in the high byte.
  const __m256i rounding = k.rounding;
  const __m256i evenProduct = _mm256_mullo_epi16(_mm256_and_si256(newChroma, lowBytes), _mm256_and_si256(t, lowBytes));
  const __m256i oddProduct = _mm256_mulhi_epu16(_mm256_and_si256(newChroma, highBytes), _mm256_and_si256(t, highBytes));
  const __m256i ramp = _mm256_or_si256(_mm256_srli_epi16(_mm256_add_epi16(evenProduct, rounding), 8),
                                       _mm256_and_si256(_mm256_add_epi16(oddProduct, rounding), highBytes));

  const __m256i highest = _mm256_add_epi8(grey, newChroma);
  const __m256i between = Blend(_mm256_sub_epi8(highest, ramp), _mm256_add_epi8(grey, ramp), code);
  auto channel = [&](int highShift) {  // the high bit's shift; the middle bit is the next one down
    const __m256i high = _mm256_slli_epi16(code, highShift), mid = _mm256_slli_epi16(code, highShift + 1);
    return Blend(Blend(grey, highest, high), between, mid);
  };
  red = channel(1);
  green = channel(3);
  blue = channel(5);
}

}  // namespace

namespace {

// Four bytes per pixel, 128 bytes a step: a shuffle within each 128-bit lane gathers the lane's four
// pixels as a 32-bit group per channel (blue, green, red, fourth), and 32-bit and 64-bit unpacks put
// the groups of the four registers together. A channel register then holds, in its 32-bit groups, the
// pixels 0..3, 8..11, 16..19, 24..27 (low lane) and 4..7, 12..15, 20..23, 28..31 (high lane).
inline __m256i GroupBytes() {
  return _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                          0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
}

// The way back from that order is the same steps in reverse; the fourth byte of every target pixel
// keeps its value.
[[gnu::always_inline]] inline void StoreGrouped4(uint8_t* t, __m256i blue, __m256i green, __m256i red) {
  const __m256i keep = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  // Per lane: blue, green, red of one register's pixels (and green again where the fourth byte goes).
  const __m256i blueRed01 = _mm256_unpacklo_epi32(blue, red), blueRed23 = _mm256_unpackhi_epi32(blue, red);
  const __m256i green01 = _mm256_unpacklo_epi32(green, green), green23 = _mm256_unpackhi_epi32(green, green);
  auto store = [&](int i, __m256i grouped) {
    auto* at = reinterpret_cast<__m256i*>(t + 32 * i);
    const __m256i bytes = _mm256_shuffle_epi8(grouped, GroupBytes());  // the grouping shuffle is its own inverse
    _mm256_storeu_si256(at, Blend(bytes, _mm256_loadu_si256(at), keep));
  };
  store(0, _mm256_unpacklo_epi32(blueRed01, green01));
  store(1, _mm256_unpackhi_epi32(blueRed01, green01));
  store(2, _mm256_unpacklo_epi32(blueRed23, green23));
  store(3, _mm256_unpackhi_epi32(blueRed23, green23));
}

// Three bytes per pixel: channel registers with pixels 0..15 in the low lanes and 16..31 in the high
// lanes to 96 bytes.
[[gnu::always_inline]] inline void StoreSequential3(uint8_t* t, __m256i blue, __m256i green, __m256i red,
                                                    const ByteMasks& m) {
  blue = _mm256_shuffle_epi8(blue, MaskAt(m.spread[0]));
  green = _mm256_shuffle_epi8(green, MaskAt(m.spread[1]));
  red = _mm256_shuffle_epi8(red, MaskAt(m.spread[2]));
  auto output = [&](int j) { return Blend(Blend(blue, green, MaskAt(m.greenAt[j])), red, MaskAt(m.redAt[j])); };
  StoreLanes(t, t + 48, output(0));
  StoreLanes(t + 16, t + 64, output(1));
  StoreLanes(t + 32, t + 80, output(2));
}

const ByteMasks& TheByteMasks() {
  static const ByteMasks m = MakeByteMasks();
  return m;
}

}  // namespace

int32_t Row8BytesAvx2(const uint8_t* s, uint8_t* t, int32_t n, int32_t bpp, const RowConstants& k) {
  if (bpp != 3 && bpp != 4) return 0;
  const ByteMasks& m = TheByteMasks();
  const ByteConstants constants = MakeByteConstants(m, k);
  int32_t done = 0;
  if (bpp == 4) {
    for (; done + 32 <= n; done += 32, s += 128, t += 128) {
      auto load = [&](int i) {
        return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32 * i)), GroupBytes());
      };
      const __m256i q0 = load(0), q1 = load(1), q2 = load(2), q3 = load(3);
      const __m256i low01 = _mm256_unpacklo_epi32(q0, q1), high01 = _mm256_unpackhi_epi32(q0, q1);
      const __m256i low23 = _mm256_unpacklo_epi32(q2, q3), high23 = _mm256_unpackhi_epi32(q2, q3);
      __m256i blue = _mm256_unpacklo_epi64(low01, low23), green = _mm256_unpackhi_epi64(low01, low23);
      __m256i red = _mm256_unpacklo_epi64(high01, high23);
      TransformThirtyTwo(blue, green, red, constants);
      StoreGrouped4(t, blue, green, red);
    }
    return done;
  }
  for (; done + 32 <= n; done += 32, s += 96, t += 96) {
    // Pixels 0..15 in the low lanes, 16..31 in the high lanes.
    const __m256i first = LoadLanes(s, s + 48), second = LoadLanes(s + 16, s + 64), third = LoadLanes(s + 32, s + 80);
    auto gather = [&](int c) {
      const __m256i mixed = Blend(Blend(first, second, MaskAt(m.fromSecond[c])), third,
                                               MaskAt(m.fromThird[c]));
      return _mm256_shuffle_epi8(mixed, MaskAt(m.gather[c]));
    };
    __m256i blue = gather(0), green = gather(1), red = gather(2);
    TransformThirtyTwo(blue, green, red, constants);
    StoreSequential3(t, blue, green, red, m);
  }
  return done;
}

// How far ahead of the stores the target row is read into the cache.
constexpr int32_t kPrefetchAhead = 4096;

int32_t Planes8Avx2(const uint8_t* planes, int32_t planeBytes, uint8_t* t, int32_t n, int32_t bpp,
                    const RowConstants& k) {
  if ((bpp != 3 && bpp != 4) || n < 32) return 0;
  const ByteMasks& m = TheByteMasks();
  const ByteConstants constants = MakeByteConstants(m, k);
  // The grouped order of four-byte pixels (see GroupBytes): 32-bit groups 0, 2, 4, 6 in the low lane.
  const __m256i grouped = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  for (int32_t x = 0;; x += 32) {
    if (x > n - 32) x = n - 32;  // the last step ends at the row's end (pixels written twice alike)
    auto load = [&](int c) {
      return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(planes + static_cast<intptr_t>(c) * planeBytes + x));
    };
    __m256i blue = load(0), green = load(1), red = load(2);
    // The target rows (of a frame-sized image, seldom in any cache) are read in ahead of the stores,
    // which would otherwise wait for their lines.
    const uint8_t* ahead = t + static_cast<intptr_t>(x) * bpp + kPrefetchAhead;
    _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
    if (bpp == 4) _mm_prefetch(reinterpret_cast<const char*>(ahead + 127), _MM_HINT_T0);
    if (bpp == 4) {
      blue = _mm256_permutevar8x32_epi32(blue, grouped), green = _mm256_permutevar8x32_epi32(green, grouped);
      red = _mm256_permutevar8x32_epi32(red, grouped);
      TransformThirtyTwo(blue, green, red, constants);
      StoreGrouped4(t + 4 * static_cast<intptr_t>(x), blue, green, red);
    } else {
      TransformThirtyTwo(blue, green, red, constants);
      StoreSequential3(t + 3 * static_cast<intptr_t>(x), blue, green, red, m);
    }
    if (x == n - 32) break;
  }
  return n;
}

int32_t Row8Avx2(const uint8_t* s, uint8_t* t, int32_t n, int32_t bpp, const RowConstants& k) {
  if (bpp != 3 && bpp != 4) return 0;
  const Masks& m = MasksFor(bpp);
  const int shift = bpp == 3 ? 8 : 16, lane = 8 * bpp;
  int32_t done = 0;
  for (; done + 16 <= n; done += 16, s += 16 * bpp, t += 16 * bpp) {
    const __m256i low = LoadLanes(s, s + lane), high = LoadLanes(s + shift, s + lane + shift);
    __m256i channels[3];
    for (int c = 0; c < 3; ++c)
      channels[c] = _mm256_or_si256(_mm256_shuffle_epi8(low, MaskAt(m.gatherLow[c])),
                                    _mm256_shuffle_epi8(high, MaskAt(m.gatherHigh[c])));
    TransformSixteen(channels[0], channels[1], channels[2], k);
    const __m256i blueGreen = _mm256_packus_epi16(channels[0], channels[1]);  // per lane: 8 blue, 8 green
    const __m256i redRed = _mm256_packus_epi16(channels[2], channels[2]);
    const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, MaskAt(m.scatter[0])),
                                          _mm256_shuffle_epi8(redRed, MaskAt(m.scatter[1])));
    const __m256i second = _mm256_or_si256(_mm256_shuffle_epi8(blueGreen, MaskAt(m.scatter[2])),
                                           _mm256_shuffle_epi8(redRed, MaskAt(m.scatter[3])));
    if (bpp == 3) {
      // 24 bytes per lane: 16 from `first`, 8 from `second`.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), _mm256_castsi256_si128(first));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(t + 16), _mm256_castsi256_si128(second));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 24), _mm256_extracti128_si256(first, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(t + 40), _mm256_extracti128_si256(second, 1));
    } else {
      // 32 bytes per lane; the fourth byte of every target pixel keeps its value.
      const __m256i keep = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
      const __m256i lo = _mm256_permute2x128_si256(first, second, 0x20);   // pixels 0..7
      const __m256i hi = _mm256_permute2x128_si256(first, second, 0x31);   // pixels 8..15
      auto* at = reinterpret_cast<__m256i*>(t);
      _mm256_storeu_si256(at, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(at), keep),
                                              _mm256_andnot_si256(keep, lo)));
      _mm256_storeu_si256(at + 1, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(at + 1), keep),
                                                  _mm256_andnot_si256(keep, hi)));
    }
  }
  return done;
}

int32_t Row16Avx2(const uint8_t* s, uint8_t* t, int32_t n, int32_t bpp, int32_t shift, const RowConstants& k) {
  if (bpp != 6 && bpp != 8) return 0;
  const Masks16& m = Masks16For(bpp);
  static const ByteMasks byteMasks = MakeByteMasks();
  const ByteConstants byteConstants = MakeByteConstants(byteMasks, k);
  const int registers = bpp / 2, lane = 8 * bpp;
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m256i largest = _mm256_set1_epi16(255);
  const bool clampToTone = k.toneFull != nullptr;
  const __m256i toneTop = _mm256_set1_epi16(static_cast<int16_t>(k.toneLargest));
  // Sixteen pixels' samples (pixels 0..7 in the low lanes, 8..15 in the high lanes) and the same
  // reduced to 8 bits.
  auto gather = [&](const uint8_t* from, __m256i original[3], __m256i eight[3]) __attribute__((always_inline)) {
    __m256i in[4];
    for (int r = 0; r < registers; ++r) in[r] = LoadLanes(from + 16 * r, from + lane + 16 * r);
    for (int c = 0; c < 3; ++c) {
      original[c] = _mm256_shuffle_epi8(in[0], MaskAt(m.gather[c][0]));
      for (int r = 1; r < registers; ++r)
        original[c] = _mm256_or_si256(original[c], _mm256_shuffle_epi8(in[r], MaskAt(m.gather[c][r])));
      // Samples above the significant range read as the largest 8-bit level.
      eight[c] = _mm256_min_epu16(_mm256_srl_epi16(original[c], count), largest);
    }
  };
  // The transformed 8-bit values widened again; grey pixels keep their samples.
  auto scatter = [&](uint8_t* to, const __m256i original[3], const __m256i eight[3], __m256i isGrey)
                     __attribute__((always_inline)) {
    __m256i result[3];
    for (int c = 0; c < 3; ++c) result[c] = Select(isGrey, original[c], _mm256_sll_epi16(eight[c], count));
    // With a tone table to follow, samples above its last entry read that entry: clamped here, so the
    // table pass after these rows reads the table without a compare per sample.
    if (clampToTone)
      for (int c = 0; c < 3; ++c) result[c] = _mm256_min_epu16(result[c], toneTop);
    for (int r = 0; r < registers; ++r) {
      __m256i out = _mm256_or_si256(
          _mm256_or_si256(_mm256_shuffle_epi8(result[0], MaskAt(m.scatter[0][r])),
                          _mm256_shuffle_epi8(result[1], MaskAt(m.scatter[1][r]))),
          _mm256_shuffle_epi8(result[2], MaskAt(m.scatter[2][r])));
      if (bpp == 8) {  // the fourth sample of every target pixel keeps its value
        const __m256i keep = MaskAt(m.keep[r]);
        out = _mm256_or_si256(_mm256_andnot_si256(keep, out),
                              _mm256_and_si256(keep, LoadLanes(to + 16 * r, to + lane + 16 * r)));
      }
      StoreLanes(to + 16 * r, to + lane + 16 * r, out);
    }
  };
  auto grey = [&](const __m256i eight[3]) {
    return _mm256_and_si256(_mm256_cmpeq_epi16(eight[0], eight[1]), _mm256_cmpeq_epi16(eight[1], eight[2]));
  };
  int32_t done = 0;
  // Thirty-two pixels a step through the byte-lane transform: the 8-bit values of two groups of sixteen
  // packed into bytes (each 128-bit lane: eight of the first group, then eight of the second) and
  // unpacked again in the same order.
  for (; done + 32 <= n; done += 32, s += 32 * bpp, t += 32 * bpp) {
    __m256i originalA[3], eightA[3], originalB[3], eightB[3];
    gather(s, originalA, eightA);
    gather(s + 16 * bpp, originalB, eightB);
    const __m256i greyA = grey(eightA), greyB = grey(eightB);
    __m256i blue = _mm256_packus_epi16(eightA[0], eightB[0]);
    __m256i green = _mm256_packus_epi16(eightA[1], eightB[1]);
    __m256i red = _mm256_packus_epi16(eightA[2], eightB[2]);
    TransformThirtyTwo(blue, green, red, byteConstants);
    const __m256i zero = _mm256_setzero_si256();
    eightA[0] = _mm256_unpacklo_epi8(blue, zero), eightB[0] = _mm256_unpackhi_epi8(blue, zero);
    eightA[1] = _mm256_unpacklo_epi8(green, zero), eightB[1] = _mm256_unpackhi_epi8(green, zero);
    eightA[2] = _mm256_unpacklo_epi8(red, zero), eightB[2] = _mm256_unpackhi_epi8(red, zero);
    scatter(t, originalA, eightA, greyA);
    scatter(t + 16 * bpp, originalB, eightB, greyB);
  }
  for (; done + 16 <= n; done += 16, s += 16 * bpp, t += 16 * bpp) {
    __m256i original[3], eight[3];
    gather(s, original, eight);
    const __m256i isGrey = grey(eight);
    TransformSixteen(eight[0], eight[1], eight[2], k);
    scatter(t, original, eight, isGrey);
  }
  return done;
}

}  // namespace tovira::hue_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
