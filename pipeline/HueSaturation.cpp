#include "pipeline/HueSaturation.h"

#include <algorithm>
#include <array>

#include <emmintrin.h>

#include "pipeline/HueSaturationRows.h"
#include "pipeline/PixelAccess.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"

namespace tovira {
namespace {

// Immutable tables, shared freely.
constexpr std::array<uint32_t, 256> MakeReciprocals() {
  std::array<uint32_t, 256> r{};
  for (uint32_t d = 1; d < 256; ++d) r[d] = 0xFF0000u / d;
  return r;
}
constexpr std::array<uint32_t, 256> kReciprocal = MakeReciprocals();

// Hue sector k: channels at the maximum, and the packed step of the channel that ramps.
constexpr uint32_t kSectorMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int32_t kSectorRamp[6] = {-1, 256, -65536, 1, -256, 65536};

inline uint32_t Grey(int32_t v) { return static_cast<uint32_t>(v) * 0x010101u; }
// Largest chroma that keeps every channel inside 0..255 at lightness sum s (0..510).
inline int32_t ChromaLimit(int32_t s) { return std::min(s, 511 - s); }

}  // namespace

int32_t HueShiftSteps(int32_t hueDegrees) {
  const int32_t l = static_cast<int32_t>(static_cast<int64_t>(hueDegrees) * 65536 / 360) & 0xFFFF;
  const int32_t x = (6 * l) >> 8;
  const int32_t o = (x + 256) >> 9;
  int32_t f = x % 512;
  if (f >= 256) f -= 512;
  int32_t a = f + 510 * (o % 3);
  if (a < 0) a += 1530;
  if (a > 1529) a -= 1530;
  return a;
}

void BuildSaturationTable(int32_t saturation, uint8_t table[256]) {
  const int64_t s = static_cast<int64_t>(Clamp(saturation, -255, 255) + 256) << 8;
  for (int64_t d = 0; d < 256; ++d) table[d] = static_cast<uint8_t>(std::min<int64_t>((d * s + 0x8000) >> 16, 255));
}

uint32_t HueSaturationPixel(int32_t red, int32_t green, int32_t blue, int32_t hueSteps,
                            const uint8_t* saturationTable) {
  const int32_t hi = std::max({red, green, blue}), lo = std::min({red, green, blue});
  const int32_t chroma = hi - lo, sum = hi + lo;
  int32_t sector, d;
  if (blue > red && blue > green) {
    sector = 5, d = red - green;
  } else if (red >= green) {
    sector = 1, d = green - blue;
  } else {
    sector = 3, d = blue - red;
  }
  if (d < 0) --sector, d += chroma;
  const int32_t newChroma = std::min<int32_t>(ChromaLimit(sum), saturationTable[chroma]);
  int32_t result = static_cast<int32_t>(Grey((sum - newChroma) >> 1));
  if (chroma != 0) {
    int32_t t = static_cast<int32_t>((static_cast<uint32_t>(d) * kReciprocal[chroma] + 0x8000u) >> 16) +
                hueSteps % 255;
    const int32_t k = (sector + hueSteps / 255 + (t > 254 ? 1 : 0)) % 6;
    if (t >= 255) t -= 255;
    const int32_t amplitude = ((sum + newChroma) >> 1) - ((sum - newChroma) >> 1);
    result += static_cast<int32_t>(Grey(amplitude) & kSectorMask[k]) +
              ((amplitude * t + 128) >> 8) * kSectorRamp[k];
  }
  return static_cast<uint32_t>(result) & 0xFFFFFFu;
}

namespace {

// The rounded hue offset of every chroma c (1..255) and offset d (0..c) as the scalar transform forms
// it, ((d * reciprocal[c] + 0x8000) >> 16), at [c * 256 + d] (at most 255); the vector rows look it up.
struct OffsetSteps {
  uint8_t at[256 * 256];
  OffsetSteps() : at{} {
    for (uint32_t c = 1; c < 256; ++c)
      for (uint32_t d = 0; d <= c; ++d) at[c * 256 + d] = static_cast<uint8_t>((d * kReciprocal[c] + 0x8000u) >> 16);
  }
};
const OffsetSteps& Offsets() {
  static const OffsetSteps table;
  return table;
}

// Eight pixels through the transform in 16-bit lanes (blue, green, red: 0..255 each), the same
// integer steps as HueSaturationPixel. The packed sum there never carries from one channel into the
// next (each channel stays within 0..255: a falling ramp is at most the amplitude it falls from, and
// the grey level plus the amplitude is at most 255), so each channel is computed on its own: grey level,
// plus the amplitude where the sector's mask has the channel, plus or minus the ramp where the sector
// ramps it. Grey pixels (chroma 0) come out unchanged by the caller's blend.
struct HueConstants {
  __m128i steps;       // hue shift mod 255
  __m128i sectors;     // hue shift / 255
  __m128i saturation;  // saturation + 256 (1..511), the saturation table's factor
};

inline void TransformEight(__m128i& blue, __m128i& green, __m128i& red, const HueConstants& k,
                           const OffsetSteps& offsets) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i hi = _mm_max_epi16(_mm_max_epi16(red, green), blue);
  const __m128i lo = _mm_min_epi16(_mm_min_epi16(red, green), blue);
  const __m128i chroma = _mm_sub_epi16(hi, lo), sum = _mm_add_epi16(hi, lo);
  const __m128i blueTop = _mm_and_si128(_mm_cmpgt_epi16(blue, red), _mm_cmpgt_epi16(blue, green));
  const __m128i greenOver = _mm_cmpgt_epi16(green, red);  // not red >= green
  auto select = [](__m128i mask, __m128i a, __m128i b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); };
  __m128i sector = select(blueTop, _mm_set1_epi16(5), select(greenOver, _mm_set1_epi16(3), _mm_set1_epi16(1)));
  __m128i d = select(blueTop, _mm_sub_epi16(red, green),
                     select(greenOver, _mm_sub_epi16(blue, red), _mm_sub_epi16(green, blue)));
  const __m128i negative = _mm_cmpgt_epi16(zero, d);
  sector = _mm_add_epi16(sector, negative);  // -1 where negative
  d = _mm_add_epi16(d, _mm_and_si128(negative, chroma));

  // Saturation table [chroma] = min((chroma * factor + 128) >> 8, 255), from the 32-bit product.
  const __m128i productLow = _mm_mullo_epi16(chroma, k.saturation);
  const __m128i productHigh = _mm_mulhi_epu16(chroma, k.saturation);
  __m128i saturated = _mm_srli_epi16(_mm_add_epi16(_mm_srli_epi16(productLow, 1), _mm_set1_epi16(64)), 7);
  saturated = _mm_or_si128(saturated, _mm_cmpgt_epi16(productHigh, zero));  // >= 65536: all ones, limited below
  saturated = _mm_min_epi16(_mm_and_si128(saturated, _mm_set1_epi16(0x1FF)), _mm_set1_epi16(255));
  const __m128i limit = _mm_min_epi16(sum, _mm_sub_epi16(_mm_set1_epi16(511), sum));
  const __m128i newChroma = _mm_min_epi16(limit, saturated);
  const __m128i grey = _mm_srli_epi16(_mm_sub_epi16(sum, newChroma), 1);
  const __m128i amplitude = _mm_sub_epi16(_mm_srli_epi16(_mm_add_epi16(sum, newChroma), 1), grey);

  // Offset within the sector from the table (eight scalar reads).
  alignas(16) uint16_t index[8], offset[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_or_si128(_mm_slli_epi16(chroma, 8), d));
  for (int i = 0; i < 8; ++i) offset[i] = offsets.at[index[i]];
  __m128i t = _mm_add_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(offset)), k.steps);
  const __m128i wraps = _mm_cmpgt_epi16(t, _mm_set1_epi16(254));
  __m128i s = _mm_sub_epi16(_mm_add_epi16(sector, k.sectors), wraps);  // + 1 where t > 254
  s = _mm_sub_epi16(s, _mm_and_si128(_mm_cmpgt_epi16(s, _mm_set1_epi16(5)), _mm_set1_epi16(6)));
  t = _mm_sub_epi16(t, _mm_and_si128(wraps, _mm_set1_epi16(255)));
  const __m128i ramp = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(amplitude, t), _mm_set1_epi16(128)), 8);

  __m128i is[6];
  for (int i = 0; i < 6; ++i) is[i] = _mm_cmpeq_epi16(s, _mm_set1_epi16(static_cast<int16_t>(i)));
  auto channel = [&](__m128i m0, __m128i m1, __m128i m2, __m128i falls, __m128i rises) {
    __m128i v = _mm_add_epi16(grey, _mm_and_si128(_mm_or_si128(_mm_or_si128(m0, m1), m2), amplitude));
    v = _mm_add_epi16(v, _mm_and_si128(rises, ramp));
    return _mm_sub_epi16(v, _mm_and_si128(falls, ramp));
  };
  const __m128i isGrey = _mm_cmpeq_epi16(chroma, zero);
  const __m128i newRed = channel(is[0], is[1], is[2], is[2], is[5]);
  const __m128i newGreen = channel(is[2], is[3], is[4], is[4], is[1]);
  const __m128i newBlue = channel(is[4], is[5], is[0], is[0], is[3]);
  red = select(isGrey, red, newRed);
  green = select(isGrey, green, newGreen);
  blue = select(isGrey, blue, newBlue);
}

// A row of n pixels in groups of eight; returns the pixels done (a multiple of eight). The samples are
// gathered into channel rows and scattered back by plain loops; 16-bit samples are reduced to 8 bits
// on the way in and widened on the way out, except grey pixels, which keep their samples.
template <class Sample>
int32_t HueSaturationRowSse2(const uint8_t* s, uint8_t* t, int32_t n, int32_t sourceBpp, int32_t targetBpp,
                             int32_t shift, const HueConstants& k, const OffsetSteps& offsets) {
  int32_t done = 0;
  alignas(16) uint16_t in[3][8], out[3][8];
  for (; done + 8 <= n; done += 8, s += 8 * sourceBpp, t += 8 * targetBpp) {
    for (int i = 0; i < 8; ++i)
      for (int c = 0; c < 3; ++c) {
        if constexpr (sizeof(Sample) == 1) in[c][i] = s[i * sourceBpp + c];
        else in[c][i] = static_cast<uint16_t>(std::min(Load16(s + i * sourceBpp + 2 * c) >> shift, 255));
      }
    __m128i blue = _mm_load_si128(reinterpret_cast<const __m128i*>(in[0]));
    __m128i green = _mm_load_si128(reinterpret_cast<const __m128i*>(in[1]));
    __m128i red = _mm_load_si128(reinterpret_cast<const __m128i*>(in[2]));
    TransformEight(blue, green, red, k, offsets);
    _mm_store_si128(reinterpret_cast<__m128i*>(out[0]), blue);
    _mm_store_si128(reinterpret_cast<__m128i*>(out[1]), green);
    _mm_store_si128(reinterpret_cast<__m128i*>(out[2]), red);
    for (int i = 0; i < 8; ++i) {
      const bool greyPixel = in[0][i] == in[1][i] && in[1][i] == in[2][i];
      for (int c = 0; c < 3; ++c) {
        if constexpr (sizeof(Sample) == 1) {
          t[i * targetBpp + c] = static_cast<uint8_t>(out[c][i]);
        } else if (greyPixel) {
          if (t != s) Store16(t + i * targetBpp + 2 * c, Load16(s + i * sourceBpp + 2 * c));
        } else {
          Store16(t + i * targetBpp + 2 * c, static_cast<uint16_t>(out[c][i] << shift));
        }
      }
    }
  }
  return done;
}

template <class Sample>
int64_t HueSaturation(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                      int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                      int32_t sourceStride, const void* p, const void* q) {
  constexpr int32_t kSampleBytes = sizeof(Sample);
  if (p == nullptr || targetBpp < 3 * kSampleBytes || sourceBpp < 3 * kSampleBytes) return 0;
  // 8-bit samples: a tone table for the results (see HueSaturation.h).
  const uint8_t* tone = nullptr;
  if (sizeof(Sample) == 1 && q != nullptr) tone = static_cast<const uint8_t*>(static_cast<const ToneTableRecord*>(q)->table);
  // 16-bit samples: a table of largest + 1 entries for the results, and its entries for the 256
  // widened results of the transform (the AVX-512 rows look those up in registers).
  const uint16_t* tone16 = nullptr;
  int32_t toneLargest = 0;
  uint16_t widenedTone[256];
  if (sizeof(Sample) == 2 && q != nullptr) {
    const auto& r = *static_cast<const ToneTableRecord*>(q);
    tone16 = static_cast<const uint16_t*>(r.table);
    toneLargest = LargestSample(r.significantBits);
  }
  const auto& record = *static_cast<const HueSaturationRecord*>(p);
  // Built for this call only: two instances with different saturations never share it.
  uint8_t saturationTable[256];
  BuildSaturationTable(record.saturation, saturationTable);
  const int32_t hueSteps = HueShiftSteps(record.hue);
  const int32_t bits = Clamp(record.significantBits, 8, 16);
  const int32_t shift = sizeof(Sample) == 1 ? 0 : bits - 8;
  const bool vector = ActiveVectorPath() != VectorPath::kScalar;
  const HueConstants constants{_mm_set1_epi16(static_cast<int16_t>(hueSteps % 255)),
                               _mm_set1_epi16(static_cast<int16_t>(hueSteps / 255)),
                               _mm_set1_epi16(static_cast<int16_t>(Clamp(record.saturation, -255, 255) + 256))};
  const OffsetSteps* offsets = vector ? &Offsets() : nullptr;
  // AVX2: the same layout in source and target.
  const bool wide = HasAvx2Path(ActiveVectorPath()) && sourceBpp == targetBpp &&
                    (sourceBpp == 3 * kSampleBytes || sourceBpp == 4 * kSampleBytes);
  if (tone16 != nullptr)
    for (int32_t v = 0; v < 256; ++v) widenedTone[v] = tone16[std::min(v << shift, toneLargest)];
  const bool wideTone16 = tone16 != nullptr && toneLargest >= 1;
  const hue_rows::RowConstants rowConstants{static_cast<int16_t>(hueSteps % 255), static_cast<int16_t>(hueSteps / 255),
                                            static_cast<int16_t>(Clamp(record.saturation, -255, 255) + 256),
                                            offsets ? offsets->at : nullptr, tone, saturationTable,
                                            wideTone16 ? widenedTone : nullptr, wideTone16 ? tone16 : nullptr,
                                            toneLargest};
  for (int32_t i = 0; i < rect.height(); ++i) {
    const uint8_t* s = RowAt(source, rect.top + i, sourceStride) + static_cast<intptr_t>(rect.left) * sourceBpp;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * targetBpp;
    int32_t j = 0;
    if (wide && ActiveVectorPath() == VectorPath::kAvx512) {
      j = sizeof(Sample) == 1 ? hue_rows::Row8Avx512(s, t, rect.width(), sourceBpp, rowConstants)
                              : hue_rows::Row16Avx512(s, t, rect.width(), sourceBpp, shift, rowConstants);
      s += static_cast<intptr_t>(j) * sourceBpp, t += static_cast<intptr_t>(j) * targetBpp;
    }
    // The pixels from here on get the tone table after the transform (the AVX-512 rows applied it).
    uint8_t* const untoned = t;
    const int32_t tonedPixels = j;
    if (wide && sizeof(Sample) == 1 && j == 0) {
      j = hue_rows::Row8BytesAvx2(s, t, rect.width(), sourceBpp, rowConstants);
      s += static_cast<intptr_t>(j) * sourceBpp, t += static_cast<intptr_t>(j) * targetBpp;
    }
    int32_t clampedPixels = 0;  // 16-bit: pixels from tonedPixels on whose samples the AVX2 rows limited
    if (wide) {
      const int32_t more = sizeof(Sample) == 1
                               ? hue_rows::Row8Avx2(s, t, rect.width() - j, sourceBpp, rowConstants)
                               : hue_rows::Row16Avx2(s, t, rect.width() - j, sourceBpp, shift, rowConstants);
      s += static_cast<intptr_t>(more) * sourceBpp, t += static_cast<intptr_t>(more) * targetBpp;
      j += more;
      if (sizeof(Sample) == 2 && wideTone16) clampedPixels = more;
    }
    if (vector) {
      const int32_t more =
          HueSaturationRowSse2<Sample>(s, t, rect.width() - j, sourceBpp, targetBpp, shift, constants, *offsets);
      s += static_cast<intptr_t>(more) * sourceBpp, t += static_cast<intptr_t>(more) * targetBpp;
      j += more;
    }
    for (; j < rect.width(); ++j, s += sourceBpp, t += targetBpp) {
      int32_t b, g, r;
      if constexpr (sizeof(Sample) == 1) {
        b = s[0], g = s[1], r = s[2];
      } else {
        // Samples above the significant range read as the largest 8-bit level.
        b = std::min(Load16(s) >> shift, 255);
        g = std::min(Load16(s + 2) >> shift, 255);
        r = std::min(Load16(s + 4) >> shift, 255);
      }
      if (r == g && g == b) {  // grey keeps its value (also keeps the 16-bit low bits)
        if (t != s) std::copy(s, s + 3 * kSampleBytes, t);
        continue;
      }
      const uint32_t packed = HueSaturationPixel(r, g, b, hueSteps, saturationTable);
      if constexpr (sizeof(Sample) == 1) {
        t[0] = static_cast<uint8_t>(packed), t[1] = static_cast<uint8_t>(packed >> 8);
        t[2] = static_cast<uint8_t>(packed >> 16);
      } else {
        Store16(t, static_cast<uint16_t>((packed & 0xFF) << shift));
        Store16(t + 2, static_cast<uint16_t>(((packed >> 8) & 0xFF) << shift));
        Store16(t + 4, static_cast<uint16_t>(((packed >> 16) & 0xFF) << shift));
      }
    }
    if (tone != nullptr) {
      uint8_t* at = untoned;
      const size_t pixels = static_cast<size_t>(rect.width() - tonedPixels);
      if (targetBpp == 3 || targetBpp == 4) {
        LookupBytes(at, at, pixels * static_cast<size_t>(targetBpp), *static_cast<const ToneTableRecord*>(q),
                    targetBpp == 4);
      } else {
        for (size_t k = 0; k < pixels; ++k, at += targetBpp)
          for (int c = 0; c < 3; ++c) at[c] = tone[at[c]];
      }
    }
    if (tone16 != nullptr) {  // the AVX-512 rows applied it when they had the whole table
      uint8_t* at = wideTone16 ? untoned : untoned - static_cast<intptr_t>(tonedPixels) * targetBpp;
      int32_t k = wideTone16 ? tonedPixels : 0;
      // The AVX2 rows' samples are within the table already.
      if (clampedPixels > 0 && targetBpp == 6) {
        const int32_t samples = 3 * clampedPixels;
        for (int32_t i = 0; i < samples; ++i) Store16(at + 2 * i, tone16[Load16(at + 2 * i)]);
        at += static_cast<intptr_t>(clampedPixels) * targetBpp, k += clampedPixels;
      } else if (clampedPixels > 0) {
        for (const int32_t end = k + clampedPixels; k < end; ++k, at += targetBpp)
          for (int c = 0; c < 3; ++c) Store16(at + 2 * c, tone16[Load16(at + 2 * c)]);
      }
      for (; k < rect.width(); ++k, at += targetBpp)
        for (int c = 0; c < 3; ++c) Store16(at + 2 * c, tone16[std::min<int32_t>(Load16(at + 2 * c), toneLargest)]);
    }
  }
  return 1;
}

}  // namespace

void PrepareHuePlanes8(const HueSaturationRecord& record, const ToneTableRecord* tone, HuePlanes8& planes) {
  planes.hueSteps = HueShiftSteps(record.hue);
  planes.saturation = Clamp(record.saturation, -255, 255);
  BuildSaturationTable(record.saturation, planes.saturationTable);
  planes.tone = tone;
}

namespace {

// One pixel through the transform (grey pixels keep their value) and the table.
inline void HuePixel8(const HuePlanes8& h, const uint8_t* table, int32_t blue, int32_t green, int32_t red,
                      uint8_t* out) {
  if (!(red == green && green == blue)) {
    const uint32_t packed = HueSaturationPixel(red, green, blue, h.hueSteps, h.saturationTable);
    blue = static_cast<int32_t>(packed & 0xFF), green = static_cast<int32_t>((packed >> 8) & 0xFF);
    red = static_cast<int32_t>(packed >> 16);
  }
  out[0] = table ? table[blue] : static_cast<uint8_t>(blue);
  out[1] = table ? table[green] : static_cast<uint8_t>(green);
  out[2] = table ? table[red] : static_cast<uint8_t>(red);
}

}  // namespace

void HueFromPlanes8(const HuePlanes8& h, const uint8_t* planes, int32_t planeBytes, uint8_t* target, int32_t n,
                    int32_t bpp) {
  if (n <= 0 || (bpp != 3 && bpp != 4)) return;
  const auto* table = h.tone != nullptr ? static_cast<const uint8_t*>(h.tone->table) : nullptr;
  const VectorPath path = ActiveVectorPath();
  const hue_rows::RowConstants k{static_cast<int16_t>(h.hueSteps % 255), static_cast<int16_t>(h.hueSteps / 255),
                                 static_cast<int16_t>(h.saturation + 256), nullptr, table, h.saturationTable,
                                 nullptr, nullptr, 0};
  int32_t done = path == VectorPath::kAvx512 ? hue_rows::Planes8Avx512(planes, planeBytes, target, n, bpp, k) : 0;
  if (done == n) return;  // the AVX-512 rows applied the table
  if (HasAvx2Path(path)) done = hue_rows::Planes8Avx2(planes, planeBytes, target, n, bpp, k);
  if (done == n) {
    if (h.tone != nullptr) LookupBytes(target, target, static_cast<size_t>(n) * bpp, *h.tone, bpp == 4);
    return;
  }
  for (int32_t i = 0; i < n; ++i)
    HuePixel8(h, table, planes[i], planes[planeBytes + i], planes[2 * planeBytes + i], target + static_cast<intptr_t>(i) * bpp);
}

void HueOnPixels8(const HuePlanes8& h, uint8_t* pixels, int32_t n, int32_t bpp) {
  const auto* table = h.tone != nullptr ? static_cast<const uint8_t*>(h.tone->table) : nullptr;
  for (int32_t i = 0; i < n; ++i, pixels += bpp) HuePixel8(h, table, pixels[0], pixels[1], pixels[2], pixels);
}

TOVIRA_PIXEL_KERNEL(HueSaturationBgr8) {
  return HueSaturation<uint8_t>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                sourceStride, p, q);
}
TOVIRA_PIXEL_KERNEL(HueSaturationBgr16) {
  return HueSaturation<uint16_t>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                 sourceStride, p, q);
}

}  // namespace tovira
