#include "pipeline/HueSaturation.h"

#include <algorithm>
#include <array>

#include "pipeline/PixelAccess.h"

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

template <class Sample>
int64_t HueSaturation(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                      int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                      int32_t sourceStride, const void* p) {
  constexpr int32_t kSampleBytes = sizeof(Sample);
  if (p == nullptr || targetBpp < 3 * kSampleBytes || sourceBpp < 3 * kSampleBytes) return 0;
  const auto& record = *static_cast<const HueSaturationRecord*>(p);
  // Built for this call only: two instances with different saturations never share it.
  uint8_t saturationTable[256];
  BuildSaturationTable(record.saturation, saturationTable);
  const int32_t hueSteps = HueShiftSteps(record.hue);
  const int32_t bits = Clamp(record.significantBits, 8, 16);
  const int32_t shift = sizeof(Sample) == 1 ? 0 : bits - 8;
  for (int32_t i = 0; i < rect.height(); ++i) {
    const uint8_t* s = RowAt(source, rect.top + i, sourceStride) + static_cast<intptr_t>(rect.left) * sourceBpp;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * targetBpp;
    for (int32_t j = 0; j < rect.width(); ++j, s += sourceBpp, t += targetBpp) {
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
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(HueSaturationBgr8) {
  return HueSaturation<uint8_t>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(HueSaturationBgr16) {
  return HueSaturation<uint16_t>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                                 sourceStride, p);
}

}  // namespace tovira
