// AVX-512 (BW, VBMI) body of the hue/saturation transform: the integer steps of HueSaturation.cpp on
// 32 pixels at a time, with mask registers where the narrower bodies blend, and byte or word permutes
// that gather the channels of 32 packed pixels into 16-bit lanes and scatter them back. This file is
// compiled for AVX-512 through the target pragma below and its functions run only after
// CpuHasAvx512Vbmi(); nothing else with external linkage is defined here, and no inline function or
// template of another header is used.
#include <immintrin.h>

#include <cstdint>

#include "pipeline/HueSaturationRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the undefined upper halves inside the widening and narrowing intrinsics for
// uninitialised values; nothing here reads them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "pipeline/TableLookupAvx512.h"

namespace tovira::hue_rows {
namespace {

// Permute indices for 32 pixels of bpp bytes (8-bit samples) or bpp / 2 samples (16-bit samples).
struct Indices {
  alignas(64) uint8_t gather8[3][64];    // channel c of pixel k into byte 2k (odd bytes zeroed by a mask)
  alignas(64) uint8_t pack[64];          // blue then green low bytes: bytes 0..31 blue, 32..63 green
  alignas(64) uint8_t scatter8[2][64];   // output bytes 0..63, 64..127 from (blue/green bytes, red words)
  alignas(64) uint16_t gather16[3][32];  // channel c of pixel k: word (bpp / 2) k + c, modulo 64
  __mmask32 upper16[3];                  // pixels whose channel c lies in words 64..127
  alignas(64) uint16_t scatter16[4][32]; // output word j of register r: from blue (0..31) or green (32..63)
  __mmask32 red16[4];                    // output words of register r that come from red
};

Indices MakeIndices(int bpp, bool sixteen) {
  Indices m{};
  const int samples = sixteen ? bpp / 2 : bpp;  // per pixel
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 32; ++k) {
      m.gather8[c][2 * k] = static_cast<uint8_t>(samples * k + c);
      m.gather8[c][2 * k + 1] = 0;
      const int w = samples * k + c;
      m.gather16[c][k] = static_cast<uint16_t>(w % 64);
      if (w >= 64) m.upper16[c] |= 1u << k;
    }
  for (int k = 0; k < 32; ++k) {
    m.pack[k] = static_cast<uint8_t>(2 * k);            // blue word k, low byte
    m.pack[32 + k] = static_cast<uint8_t>(64 + 2 * k);  // green word k, low byte
  }
  for (int half = 0; half < 2; ++half)
    for (int o = 0; o < 64; ++o) {
      const int at = 64 * half + o, k = at / samples, c = at % samples;
      uint8_t from = 0;
      if (k < 32 && c < 3) from = static_cast<uint8_t>(c == 2 ? 64 + 2 * k : 32 * c + k);
      m.scatter8[half][o] = from;
    }
  for (int r = 0; r < 4; ++r)
    for (int j = 0; j < 32; ++j) {
      const int w = 32 * r + j, k = w / samples, c = w % samples;
      uint16_t from = 0;
      if (k < 32 && c < 2) from = static_cast<uint16_t>(32 * c + k);
      if (k < 32 && c == 2) from = static_cast<uint16_t>(k), m.red16[r] |= 1u << j;
      m.scatter16[r][j] = from;
    }
  return m;
}

const Indices& IndicesFor(int bpp) {
  static const Indices three = MakeIndices(3, false), four = MakeIndices(4, false);
  static const Indices six = MakeIndices(6, true), eight = MakeIndices(8, true);
  switch (bpp) {
    case 3: return three;
    case 4: return four;
    case 6: return six;
    default: return eight;
  }
}

inline __m512i Load(const void* at) { return _mm512_load_si512(at); }

// floor(0xFF0000 / c) for c = 0..255 (0 for c = 0) as three byte tables: bits 8..15, 16..23 and 0..7.
// Built by the compiler: nothing in this file runs before a CPU check.
struct Reciprocals {
  alignas(64) uint8_t highLow[256], highHigh[256], low[256];
  constexpr Reciprocals() : highLow{}, highHigh{}, low{} {
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t r = c == 0 ? 0 : 0xFF0000u / c;
      highLow[c] = static_cast<uint8_t>(r >> 8), highHigh[c] = static_cast<uint8_t>(r >> 16);
      low[c] = static_cast<uint8_t>(r);
    }
  }
};
constexpr Reciprocals kReciprocals{};

// table[v] for 32 values 0..255 in 16-bit lanes, as 16-bit lanes: two 128-entry byte permutes, each
// writing the even bytes whose index has the top bit clear or set.
[[gnu::always_inline]] inline __m512i ByteEntry(const uint8_t* table, __m512i v) {
  const __mmask64 even = 0x5555555555555555ull, top = _mm512_movepi8_mask(v);
  const __m512i low = _mm512_maskz_permutex2var_epi8(even & ~top, _mm512_load_si512(table), v,
                                                     _mm512_load_si512(table + 64));
  const __m512i high = _mm512_maskz_permutex2var_epi8(even & top, _mm512_load_si512(table + 128), v,
                                                      _mm512_load_si512(table + 192));
  return _mm512_or_si512(low, high);
}

// Thirty-two pixels (blue, green, red 0..255 in 16-bit lanes) through the transform; grey pixels
// (chroma 0) keep their values.
// The row's constants in registers, made once before a row's loop (the stores of the loop could alias a
// constant read through a pointer, which would then be read again on every step).
struct Constants {
  __m512i steps, sectors, factor;
};
Constants MakeConstants(const RowConstants& k) {
  return {_mm512_set1_epi16(k.steps), _mm512_set1_epi16(k.sectors), _mm512_set1_epi16(k.saturation)};
}

[[gnu::always_inline]] inline void TransformThirtyTwo(__m512i& blue, __m512i& green, __m512i& red,
                                                      const Constants& k) {
  const __m512i one = _mm512_set1_epi16(1);
  const __m512i hi = _mm512_max_epi16(_mm512_max_epi16(red, green), blue);
  const __m512i lo = _mm512_min_epi16(_mm512_min_epi16(red, green), blue);
  const __m512i chroma = _mm512_sub_epi16(hi, lo), sum = _mm512_add_epi16(hi, lo);
  const __mmask32 blueTop = _mm512_cmpgt_epi16_mask(blue, red) & _mm512_cmpgt_epi16_mask(blue, green);
  const __mmask32 greenOver = _mm512_cmpgt_epi16_mask(green, red);  // not red >= green
  __m512i sector = _mm512_mask_mov_epi16(_mm512_set1_epi16(1), greenOver, _mm512_set1_epi16(3));
  sector = _mm512_mask_mov_epi16(sector, blueTop, _mm512_set1_epi16(5));
  __m512i d = _mm512_sub_epi16(green, blue);
  d = _mm512_mask_sub_epi16(d, greenOver, blue, red);
  d = _mm512_mask_sub_epi16(d, blueTop, red, green);
  const __mmask32 negative = _mm512_movepi16_mask(d);
  sector = _mm512_mask_sub_epi16(sector, negative, sector, one);
  d = _mm512_mask_add_epi16(d, negative, d, chroma);

  // Saturation table [chroma] = min((chroma * factor + 128) >> 8, 255), from the 32-bit product.
  const __m512i factor = k.factor;
  const __m512i productLow = _mm512_mullo_epi16(chroma, factor);
  const __m512i productHigh = _mm512_mulhi_epu16(chroma, factor);
  const __m512i largest = _mm512_set1_epi16(255);
  __m512i saturated = _mm512_srli_epi16(_mm512_add_epi16(_mm512_srli_epi16(productLow, 1), _mm512_set1_epi16(64)), 7);
  saturated = _mm512_mask_mov_epi16(_mm512_min_epi16(saturated, largest),
                                    _mm512_test_epi16_mask(productHigh, productHigh), largest);
  const __m512i limit = _mm512_min_epi16(sum, _mm512_sub_epi16(_mm512_set1_epi16(511), sum));
  const __m512i newChroma = _mm512_min_epi16(limit, saturated);
  const __m512i grey = _mm512_srli_epi16(_mm512_sub_epi16(sum, newChroma), 1);
  const __m512i amplitude = _mm512_sub_epi16(_mm512_srli_epi16(_mm512_add_epi16(sum, newChroma), 1), grey);

  // The rounded offset (d * r + 0x8000) >> 16 with r = floor(0xFF0000 / chroma), on 16-bit lanes: with
  // r = 256 high + low, d * high is below 65536 (at most 65280, as d <= chroma) and d * low is at most
  // 65025, so the offset is (d * high + ((d * low) >> 8) + 128) >> 8 without a carry out of 16 bits
  // (the offset is at most 255). high and low come from byte tables of the 256 chromas.
  const __m512i highWord = _mm512_or_si512(ByteEntry(kReciprocals.highLow, chroma),
                                           _mm512_slli_epi16(ByteEntry(kReciprocals.highHigh, chroma), 8));
  const __m512i lowWord = ByteEntry(kReciprocals.low, chroma);
  const __m512i offset = _mm512_srli_epi16(
      _mm512_add_epi16(_mm512_mullo_epi16(d, highWord),
                       _mm512_add_epi16(_mm512_srli_epi16(_mm512_mullo_epi16(d, lowWord), 8), _mm512_set1_epi16(128))),
      8);

  __m512i t = _mm512_add_epi16(offset, k.steps);
  const __mmask32 wraps = _mm512_cmpgt_epi16_mask(t, _mm512_set1_epi16(254));
  __m512i s = _mm512_add_epi16(sector, k.sectors);
  s = _mm512_mask_add_epi16(s, wraps, s, one);
  s = _mm512_mask_sub_epi16(s, _mm512_cmpgt_epi16_mask(s, _mm512_set1_epi16(5)), s, _mm512_set1_epi16(6));
  t = _mm512_mask_sub_epi16(t, wraps, t, largest);
  const __m512i ramp =
      _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(amplitude, t), _mm512_set1_epi16(128)), 8);

  // Sector s (0..5): red is full in 0..2, green in 2..4, blue in 4, 5, 0 (compared unsigned, so 0 - 1
  // is large); red rises in 5 and falls in 2, green rises in 1 and falls in 4, blue rises in 3, falls in 0.
  auto is = [&](int16_t sector) { return _mm512_cmpeq_epi16_mask(s, _mm512_set1_epi16(sector)); };
  const __m512i three = _mm512_set1_epi16(3);
  const __mmask32 redFull = _mm512_cmplt_epu16_mask(s, three);
  const __mmask32 greenFull = _mm512_cmplt_epu16_mask(_mm512_sub_epi16(s, _mm512_set1_epi16(2)), three);
  const __mmask32 blueFull = _mm512_cmpge_epu16_mask(_mm512_sub_epi16(s, one), three);
  auto channel = [&](__mmask32 full, __mmask32 falls, __mmask32 rises) {
    __m512i v = _mm512_mask_add_epi16(grey, full, grey, amplitude);
    v = _mm512_mask_add_epi16(v, rises, v, ramp);
    return _mm512_mask_sub_epi16(v, falls, v, ramp);
  };
  // A grey pixel needs no select: with chroma 0 the new chroma is 0, so grey is its own value and the
  // amplitude and the ramp are 0.
  red = channel(redFull, is(2), is(5));
  green = channel(greenFull, is(4), is(1));
  blue = channel(blueFull, is(0), is(3));
}

// ---- 64 pixels a step in byte lanes (8-bit samples) ----------------------------------------------
//
// The same integer steps on 64 pixels with every value that fits a byte kept in a byte lane; only the
// two products (the hue offset and the ramp) are formed in 16-bit lanes, the even and the odd pixels
// apart. The values that need more than 8 bits are reached without them:
// - the lightness sum s = hi + lo (0..510) appears only as the chroma limit min(s, 511 - s), which is the
//   byte sum, or 255 minus it where the sum carries, and in grey = (s - newChroma) >> 1, which is
//   avg(hi, lo) - avg(newChroma, 0) - ((hi ^ lo) & ~newChroma & 1) (avg rounds up);
// - the amplitude ((s + newChroma) >> 1) - grey is newChroma itself (s + newChroma and s - newChroma
//   have the same parity);
// - the shifted offset t = offset + steps wraps where offset >= 255 - steps, and is then t - 255, the
//   byte sum plus one.
// The new sector's channels are grey (lowest), grey + newChroma (highest) and a middle one that falls
// from the highest in even sectors and rises from the lowest in odd ones; a per-sector code from a byte
// shuffle says which channel takes which.

// Permute indices for 64 pixels of bpp (3 or 4) bytes.
struct ByteIndices {
  alignas(64) uint8_t gather[3][64];   // channel c of pixel k: byte bpp k + c, modulo 128
  __mmask64 upper[3];                  // pixels whose channel c lies in bytes 128 and up
  alignas(64) uint8_t scatter[4][64];  // output byte j of register r: pixel k, + 64 for green
  __mmask64 red[4];                    // output bytes of register r that come from red
};

ByteIndices MakeByteIndices(int bpp) {
  ByteIndices m{};
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 64; ++k) {
      const int at = bpp * k + c;
      m.gather[c][k] = static_cast<uint8_t>(at % 128);
      if (at >= 128) m.upper[c] |= 1ull << k;
    }
  for (int r = 0; r < bpp; ++r)
    for (int j = 0; j < 64; ++j) {
      const int at = 64 * r + j, k = at / bpp, c = at % bpp;
      m.scatter[r][j] = static_cast<uint8_t>(k + (c == 1 ? 64 : 0));
      if (c == 2) m.red[r] |= 1ull << j;
    }
  return m;
}

// Bits of a sector's code: which output channel is the highest and which the middle one, and whether
// the middle one rises (odd sectors).
enum : uint8_t { kRedHigh = 1, kRedMiddle = 2, kGreenHigh = 4, kGreenMiddle = 8, kBlueHigh = 16, kBlueMiddle = 32, kRises = 64 };
constexpr uint8_t kSectorCode[6] = {kRedHigh | kBlueMiddle,           kRedHigh | kGreenMiddle | kRises,
                                    kGreenHigh | kRedMiddle,          kGreenHigh | kBlueMiddle | kRises,
                                    kBlueHigh | kGreenMiddle,         kBlueHigh | kRedMiddle | kRises};

struct ByteRowConstants {
  ByteTable saturation, highLow, highHigh, low;
  __m512i steps, wrapFrom, codes;  // steps; 255 - steps; the sector code of (sector + wrap + shift) % 6
};

ByteRowConstants MakeByteRowConstants(const RowConstants& k) {
  ByteRowConstants c;
  c.saturation = LoadByteTable(k.saturationTable);
  c.highLow = LoadByteTable(kReciprocals.highLow), c.highHigh = LoadByteTable(kReciprocals.highHigh);
  c.low = LoadByteTable(kReciprocals.low);
  c.steps = _mm512_set1_epi8(static_cast<char>(k.steps));
  c.wrapFrom = _mm512_set1_epi8(static_cast<char>(255 - k.steps));
  alignas(64) uint8_t codes[64] = {};  // the same 16 in each 128-bit lane (the shuffle stays in its lane)
  for (int i = 0; i < 7; ++i)
    for (int lane = 0; lane < 4; ++lane) codes[16 * lane + i] = kSectorCode[(i + k.sectors) % 6];
  c.codes = Load(codes);
  return c;
}

// Sixty-four pixels (blue, green, red: one byte each) through the transform.
[[gnu::always_inline]] inline void TransformSixtyFour(__m512i& blue, __m512i& green, __m512i& red,
                                                      const ByteRowConstants& k) {
  const __m512i zero = _mm512_setzero_si512(), one = _mm512_set1_epi8(1);
  const __m512i lowBytes = _mm512_set1_epi16(0x00FF), highBytes = _mm512_set1_epi16(static_cast<short>(0xFF00));
  const __m512i hi = _mm512_max_epu8(_mm512_max_epu8(red, green), blue);
  const __m512i lo = _mm512_min_epu8(_mm512_min_epu8(red, green), blue);
  const __m512i chroma = _mm512_sub_epi8(hi, lo);
  const __mmask64 blueOverRed = _mm512_cmpgt_epu8_mask(blue, red), blueOverGreen = _mm512_cmpgt_epu8_mask(blue, green);
  const __mmask64 greenOver = _mm512_cmpgt_epu8_mask(green, red);  // not red >= green
  const __mmask64 redOverBlue = _mm512_cmpgt_epu8_mask(red, blue);
  const __mmask64 blueTop = blueOverRed & blueOverGreen;
  // d < 0: red < green in sector 5, blue < red in sector 3, green < blue in sector 1.
  const __mmask64 negative = (greenOver & (blueTop | redOverBlue)) | (~greenOver & blueOverGreen & ~blueOverRed);
  __m512i sector = _mm512_mask_mov_epi8(one, greenOver, _mm512_set1_epi8(3));
  sector = _mm512_mask_mov_epi8(sector, blueTop, _mm512_set1_epi8(5));
  sector = _mm512_mask_sub_epi8(sector, negative, sector, one);
  __m512i d = _mm512_sub_epi8(green, blue);
  d = _mm512_mask_sub_epi8(d, greenOver, blue, red);
  d = _mm512_mask_sub_epi8(d, blueTop, red, green);
  d = _mm512_mask_add_epi8(d, negative, d, chroma);  // 0..chroma

  // Saturation and chroma limit.
  const __mmask64 top = _mm512_movepi8_mask(chroma);
  const __m512i sum = _mm512_add_epi8(hi, lo);
  const __m512i limit = _mm512_mask_sub_epi8(sum, _mm512_cmplt_epu8_mask(sum, hi), _mm512_set1_epi8(-1), sum);
  const __m512i newChroma = _mm512_min_epu8(limit, Lookup(k.saturation, chroma, top));
  const __m512i oddParts = _mm512_ternarylogic_epi32(_mm512_xor_si512(hi, lo), newChroma, one, 0x20);  // a & ~b & c
  const __m512i grey = _mm512_sub_epi8(_mm512_sub_epi8(_mm512_avg_epu8(hi, lo), _mm512_avg_epu8(newChroma, zero)), oddParts);

  // The rounded offset (d * r + 0x8000) >> 16 with r = floor(0xFF0000 / chroma) = 256 high + low, as
  // (d * high + ((d * low) >> 8) + 128) >> 8 in 16-bit lanes (see TransformThirtyTwo), even and odd
  // pixels apart.
  const __m512i highLow = Lookup(k.highLow, chroma, top), highHigh = Lookup(k.highHigh, chroma, top);
  const __m512i lowPart = Lookup(k.low, chroma, top);
  auto offsetOf = [&](__m512i dw, __m512i highWord, __m512i lowWord) {
    const __m512i rest = _mm512_add_epi16(_mm512_srli_epi16(_mm512_mullo_epi16(dw, lowWord), 8), _mm512_set1_epi16(128));
    return _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(dw, highWord), rest), 8);
  };
  const __m512i evenOffset = offsetOf(_mm512_and_si512(d, lowBytes),
                                      _mm512_or_si512(_mm512_and_si512(highLow, lowBytes), _mm512_slli_epi16(highHigh, 8)),
                                      _mm512_and_si512(lowPart, lowBytes));
  const __m512i oddOffset = offsetOf(_mm512_srli_epi16(d, 8),
                                     _mm512_or_si512(_mm512_srli_epi16(highLow, 8), _mm512_and_si512(highHigh, highBytes)),
                                     _mm512_srli_epi16(lowPart, 8));
  const __m512i offset = _mm512_or_si512(evenOffset, _mm512_slli_epi16(oddOffset, 8));

  const __mmask64 wraps = _mm512_cmpge_epu8_mask(offset, k.wrapFrom);
  __m512i t = _mm512_add_epi8(offset, k.steps);
  t = _mm512_mask_add_epi8(t, wraps, t, one);
  const __m512i code = _mm512_shuffle_epi8(k.codes, _mm512_mask_add_epi8(sector, wraps, sector, one));

  // ramp = (newChroma * t + 128) >> 8: even pixels with the low product, odd ones with the high product
  // of the bytes in the high halves (exactly newChroma * t), which leaves their ramp in the high byte.
  const __m512i evenProduct = _mm512_mullo_epi16(_mm512_and_si512(newChroma, lowBytes), _mm512_and_si512(t, lowBytes));
  const __m512i oddProduct = _mm512_mulhi_epu16(_mm512_and_si512(newChroma, highBytes), _mm512_and_si512(t, highBytes));
  const __m512i rounding = _mm512_set1_epi16(128);
  const __m512i ramp = _mm512_or_si512(_mm512_srli_epi16(_mm512_add_epi16(evenProduct, rounding), 8),
                                       _mm512_and_si512(_mm512_add_epi16(oddProduct, rounding), highBytes));

  const __m512i highest = _mm512_add_epi8(grey, newChroma);
  auto has = [&](uint8_t bit) { return _mm512_test_epi8_mask(code, _mm512_set1_epi8(static_cast<char>(bit))); };
  const __m512i middle = _mm512_mask_add_epi8(_mm512_sub_epi8(highest, ramp), has(kRises), grey, ramp);
  auto channel = [&](uint8_t high, uint8_t mid) {
    return _mm512_mask_mov_epi8(_mm512_mask_mov_epi8(grey, has(high), highest), has(mid), middle);
  };
  red = channel(kRedHigh, kRedMiddle);
  green = channel(kGreenHigh, kGreenMiddle);
  blue = channel(kBlueHigh, kBlueMiddle);
}

// Rows of 64 pixels of kBpp (3 or 4) bytes; returns the pixels done (a multiple of 64).
template <int kBpp>
int32_t Row8Bytes(const uint8_t* s, uint8_t* t, int32_t n, const RowConstants& k) {
  static const ByteIndices m = MakeByteIndices(kBpp);
  const ByteRowConstants constants = MakeByteRowConstants(k);
  const bool toned = k.tone != nullptr;
  const ByteTable tone = toned ? LoadByteTable(k.tone) : ByteTable{};
  const __mmask64 write = kBpp == 3 ? ~0ull : 0x7777777777777777ull;  // a fourth byte keeps its value
  __m512i gather[3], scatter[kBpp];
  __mmask64 upper[3], redBytes[kBpp];
  for (int c = 0; c < 3; ++c) gather[c] = Load(m.gather[c]), upper[c] = m.upper[c];
  for (int r = 0; r < kBpp; ++r) scatter[r] = Load(m.scatter[r]), redBytes[r] = m.red[r];
  int32_t done = 0;
  for (; done + 64 <= n; done += 64, s += 64 * kBpp, t += 64 * kBpp) {
    __m512i in[kBpp];
    for (int r = 0; r < kBpp; ++r) in[r] = _mm512_loadu_si512(s + 64 * r);
    __m512i channel[3];
    for (int c = 0; c < 3; ++c) {
      const __m512i lower = _mm512_permutex2var_epi8(in[0], gather[c], in[1]);
      if constexpr (kBpp == 3)
        channel[c] = _mm512_mask_permutexvar_epi8(lower, upper[c], gather[c], in[2]);
      else
        channel[c] = _mm512_mask_blend_epi8(upper[c], lower, _mm512_permutex2var_epi8(in[2], gather[c], in[3]));
    }
    TransformSixtyFour(channel[0], channel[1], channel[2], constants);
    if (toned)
      for (int c = 0; c < 3; ++c) channel[c] = Lookup(tone, channel[c]);
    for (int r = 0; r < kBpp; ++r) {
      const __m512i out = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(channel[0], scatter[r], channel[1]),
                                                       redBytes[r], scatter[r], channel[2]);
      _mm512_mask_storeu_epi8(t + 64 * r, write, out);
    }
  }
  return done;
}

// Pixels from three planes, 64 a step, the last step moved back to end at n (n >= 64).
template <int kBpp>
int32_t Planes8Bytes(const uint8_t* planes, int32_t planeBytes, uint8_t* t, int32_t n, const RowConstants& k) {
  static const ByteIndices m = MakeByteIndices(kBpp);
  const ByteRowConstants constants = MakeByteRowConstants(k);
  const bool toned = k.tone != nullptr;
  const ByteTable tone = toned ? LoadByteTable(k.tone) : ByteTable{};
  const __mmask64 write = kBpp == 3 ? ~0ull : 0x7777777777777777ull;  // a fourth byte keeps its value
  __m512i scatter[kBpp];
  __mmask64 redBytes[kBpp];
  for (int r = 0; r < kBpp; ++r) scatter[r] = Load(m.scatter[r]), redBytes[r] = m.red[r];
  for (int32_t x = 0;; x += 64) {
    if (x > n - 64) x = n - 64;  // pixels written twice get the same values
    __m512i channel[3];
    for (int c = 0; c < 3; ++c) channel[c] = _mm512_loadu_si512(planes + static_cast<intptr_t>(c) * planeBytes + x);
    TransformSixtyFour(channel[0], channel[1], channel[2], constants);
    if (toned)
      for (int c = 0; c < 3; ++c) channel[c] = Lookup(tone, channel[c]);
    uint8_t* out = t + static_cast<intptr_t>(x) * kBpp;
    // The target rows (of a frame-sized image, seldom in any cache) are read in ahead of the stores.
    for (int r = 0; r < kBpp; ++r) _mm_prefetch(reinterpret_cast<const char*>(out + 4096 + 64 * r), _MM_HINT_T0);
    for (int r = 0; r < kBpp; ++r) {
      const __m512i bytes = _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(channel[0], scatter[r], channel[1]),
                                                         redBytes[r], scatter[r], channel[2]);
      _mm512_mask_storeu_epi8(out + 64 * r, write, bytes);
    }
    if (x == n - 64) break;
  }
  return n;
}

// ---- 16-bit results through a tone table ---------------------------------------------------------

// The 256-entry word table of the widened results in eight registers, looked up for 32 results 0..255:
// four 64-entry word permutes and a select by bits 6 and 7.
struct WordTable {
  __m512i part[8];
};
[[gnu::always_inline]] inline __m512i WordEntry(const WordTable& table, __m512i v) {
  const __m512i a = _mm512_permutex2var_epi16(table.part[0], v, table.part[1]);
  const __m512i b = _mm512_permutex2var_epi16(table.part[2], v, table.part[3]);
  const __m512i c = _mm512_permutex2var_epi16(table.part[4], v, table.part[5]);
  const __m512i d = _mm512_permutex2var_epi16(table.part[6], v, table.part[7]);
  const __mmask32 bit6 = _mm512_test_epi16_mask(v, _mm512_set1_epi16(64));
  const __mmask32 bit7 = _mm512_test_epi16_mask(v, _mm512_set1_epi16(128));
  return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, a, b), _mm512_mask_blend_epi16(bit6, c, d));
}


}  // namespace

int32_t Row8Avx512(const uint8_t* s, uint8_t* t, int32_t n, int32_t bpp, const RowConstants& k) {
  if (bpp != 3 && bpp != 4) return 0;
  // Groups of 64 in byte lanes first, then at most one of 32 in 16-bit lanes.
  const int32_t wide = bpp == 3 ? Row8Bytes<3>(s, t, n, k) : Row8Bytes<4>(s, t, n, k);
  s += static_cast<intptr_t>(wide) * bpp, t += static_cast<intptr_t>(wide) * bpp, n -= wide;
  const Indices& m = IndicesFor(bpp);
  const __mmask64 evenBytes = 0x5555555555555555ull;
  // 3 bytes per pixel: 96 bytes a step, the second register half used; 4: 128 bytes, fourth bytes kept.
  const __mmask64 tail = bpp == 3 ? 0xFFFFFFFFull : ~0ull;
  const __mmask64 write = bpp == 3 ? ~0ull : 0x7777777777777777ull;
  const __mmask64 writeTail = tail & write;
  const bool toned = k.tone != nullptr;
  const ByteTable tone = toned ? LoadByteTable(k.tone) : ByteTable{};
  const Constants constants = MakeConstants(k);
  const __m512i gatherBlue = Load(m.gather8[0]), gatherGreen = Load(m.gather8[1]), gatherRed = Load(m.gather8[2]);
  const __m512i pack = Load(m.pack), scatterFirst = Load(m.scatter8[0]), scatterSecond = Load(m.scatter8[1]);
  int32_t done = 0;
  for (; done + 32 <= n; done += 32, s += 32 * bpp, t += 32 * bpp) {
    const __m512i a = _mm512_loadu_si512(s), b = _mm512_maskz_loadu_epi8(tail, s + 64);
    __m512i blue = _mm512_maskz_permutex2var_epi8(evenBytes, a, gatherBlue, b);
    __m512i green = _mm512_maskz_permutex2var_epi8(evenBytes, a, gatherGreen, b);
    __m512i red = _mm512_maskz_permutex2var_epi8(evenBytes, a, gatherRed, b);
    TransformThirtyTwo(blue, green, red, constants);
    const __m512i blueGreen = _mm512_permutex2var_epi8(blue, pack, green);
    __m512i first = _mm512_permutex2var_epi8(blueGreen, scatterFirst, red);
    __m512i second = _mm512_permutex2var_epi8(blueGreen, scatterSecond, red);
    if (toned) first = Lookup(tone, first), second = Lookup(tone, second);
    _mm512_mask_storeu_epi8(t, write, first);
    _mm512_mask_storeu_epi8(t + 64, writeTail, second);
  }
  return wide + done;
}

int32_t Planes8Avx512(const uint8_t* planes, int32_t planeBytes, uint8_t* t, int32_t n, int32_t bpp,
                      const RowConstants& k) {
  if (n < 64) return 0;
  if (bpp == 3) return Planes8Bytes<3>(planes, planeBytes, t, n, k);
  return bpp == 4 ? Planes8Bytes<4>(planes, planeBytes, t, n, k) : 0;
}

int32_t Row16Avx512(const uint8_t* s, uint8_t* t, int32_t n, int32_t bpp, int32_t shift, const RowConstants& k) {
  if (bpp != 6 && bpp != 8) return 0;
  const Indices& m = IndicesFor(bpp);
  const int registers = bpp / 2;  // 64-byte registers per 32 pixels
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m512i largest = _mm512_set1_epi16(255);
  const __mmask32 write = bpp == 6 ? ~0u : 0x77777777u;  // the fourth sample of 64-bit pixels is kept
  const Constants constants = MakeConstants(k);
  const bool toned = k.tone16 != nullptr && k.toneFull != nullptr && k.toneLargest >= 1;
  WordTable tone{};
  // The same table as two byte tables, of the entries' low and of their high bytes.
  ByteTable toneLow{}, toneHigh{};
  if (toned) {
    for (int i = 0; i < 8; ++i) tone.part[i] = _mm512_loadu_si512(k.tone16 + 32 * i);
    alignas(64) uint8_t low[256], high[256];
    for (int v = 0; v < 256; ++v) low[v] = static_cast<uint8_t>(k.tone16[v]), high[v] = static_cast<uint8_t>(k.tone16[v] >> 8);
    toneLow = LoadByteTable(low), toneHigh = LoadByteTable(high);
  }
  // Thirty-two pixels' samples and the same reduced to 8 bits (16-bit lanes).
  auto gather = [&](const uint8_t* from, __m512i original[3], __m512i eight[3]) __attribute__((always_inline)) {
    const __m512i r0 = _mm512_loadu_si512(from), r1 = _mm512_loadu_si512(from + 64), r2 = _mm512_loadu_si512(from + 128);
    const __m512i r3 = registers == 4 ? _mm512_loadu_si512(from + 192) : r2;
    for (int c = 0; c < 3; ++c) {
      const __m512i index = Load(m.gather16[c]);
      original[c] = _mm512_mask_blend_epi16(m.upper16[c], _mm512_permutex2var_epi16(r0, index, r1),
                                            _mm512_permutex2var_epi16(r2, index, r3));
      // Samples above the significant range read as the largest 8-bit level.
      eight[c] = _mm512_min_epu16(_mm512_srl_epi16(original[c], count), largest);
    }
  };
  auto grey = [&](const __m512i eight[3]) {
    return static_cast<__mmask32>(_mm512_cmpeq_epi16_mask(eight[0], eight[1]) & _mm512_cmpeq_epi16_mask(eight[1], eight[2]));
  };
  // The transformed values widened (or through the table), grey pixels from their own samples.
  // Inlined: a call would pass the vectors through memory (GCC left it out of line on its own).
  // A grey pixel takes its own sample's entry instead of the widened result's.
  auto greyEntries = [&](__m512i result[3], const __m512i original[3], __mmask32 greyPixels) __attribute__((always_inline)) {
    if (greyPixels != 0)
      for (int c = 0; c < 3; ++c)
        result[c] = _mm512_mask_mov_epi16(result[c], greyPixels, Lookup16(k.toneFull, k.toneLargest, original[c], greyPixels));
  };
  auto store = [&](uint8_t* to, const __m512i result[3]) __attribute__((always_inline)) {
    for (int r = 0; r < registers; ++r) {
      const __m512i index = Load(m.scatter16[r]);
      __m512i out = _mm512_permutex2var_epi16(result[0], index, result[1]);
      out = _mm512_mask_permutexvar_epi16(out, m.red16[r], index, result[2]);
      _mm512_mask_storeu_epi16(to + 64 * r, write, out);
    }
  };
  auto scatter = [&](uint8_t* to, const __m512i original[3], const __m512i eight[3], __mmask32 greyPixels)
                     __attribute__((always_inline)) {
    __m512i result[3];
    if (toned) {  // the widened result's entry
      for (int c = 0; c < 3; ++c) result[c] = WordEntry(tone, eight[c]);
      greyEntries(result, original, greyPixels);
    } else {
      for (int c = 0; c < 3; ++c) result[c] = _mm512_mask_mov_epi16(_mm512_sll_epi16(eight[c], count), greyPixels, original[c]);
    }
    store(to, result);
  };
  int32_t done = 0;
  // Sixty-four pixels a step through the byte-lane transform: the 8-bit values of two groups of 32
  // packed into bytes (each 128-bit lane: eight of the first group, then eight of the second) and
  // unpacked again in the same order.
  if (n >= 64) {
    const ByteRowConstants byteConstants = MakeByteRowConstants(k);
    const __m512i zero = _mm512_setzero_si512();
    for (; done + 64 <= n; done += 64, s += 64 * bpp, t += 64 * bpp) {
      __m512i originalA[3], eightA[3], originalB[3], eightB[3];
      gather(s, originalA, eightA);
      gather(s + 32 * bpp, originalB, eightB);
      const __mmask32 greyA = grey(eightA), greyB = grey(eightB);
      __m512i blue = _mm512_packus_epi16(eightA[0], eightB[0]);
      __m512i green = _mm512_packus_epi16(eightA[1], eightB[1]);
      __m512i red = _mm512_packus_epi16(eightA[2], eightB[2]);
      TransformSixtyFour(blue, green, red, byteConstants);
      if (toned) {
        // The table's entries for the 64 results while they are bytes: the low and the high bytes by
        // two byte lookups, interleaved into words in the order of the unpacking below.
        const __m512i bytes[3] = {blue, green, red};
        __m512i resultA[3], resultB[3];
        for (int c = 0; c < 3; ++c) {
          const __mmask64 top = _mm512_movepi8_mask(bytes[c]);
          const __m512i low = Lookup(toneLow, bytes[c], top), high = Lookup(toneHigh, bytes[c], top);
          resultA[c] = _mm512_unpacklo_epi8(low, high), resultB[c] = _mm512_unpackhi_epi8(low, high);
        }
        greyEntries(resultA, originalA, greyA);
        greyEntries(resultB, originalB, greyB);
        store(t, resultA);
        store(t + 32 * bpp, resultB);
        continue;
      }
      eightA[0] = _mm512_unpacklo_epi8(blue, zero), eightB[0] = _mm512_unpackhi_epi8(blue, zero);
      eightA[1] = _mm512_unpacklo_epi8(green, zero), eightB[1] = _mm512_unpackhi_epi8(green, zero);
      eightA[2] = _mm512_unpacklo_epi8(red, zero), eightB[2] = _mm512_unpackhi_epi8(red, zero);
      scatter(t, originalA, eightA, greyA);
      scatter(t + 32 * bpp, originalB, eightB, greyB);
    }
  }
  for (; done + 32 <= n; done += 32, s += 32 * bpp, t += 32 * bpp) {
    __m512i original[3], eight[3];
    gather(s, original, eight);
    const __mmask32 greyPixels = grey(eight);
    TransformThirtyTwo(eight[0], eight[1], eight[2], constants);
    scatter(t, original, eight, greyPixels);
  }
  return done;
}

}  // namespace tovira::hue_rows

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#if defined(__GNUC__)
#pragma GCC pop_options
#endif
