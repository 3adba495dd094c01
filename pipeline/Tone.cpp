#include "pipeline/Tone.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "pipeline/PixelAccess.h"
#include "pipeline/ToneRows.h"
#include "pipeline/VectorPath.h"

namespace tovira {

double GammaExponent(int32_t gamma) {
  return gamma <= 100 ? gamma / 100.0 : (gamma - 100) / 10.0 + 1.0;
}

void BuildGammaTable8(int32_t gamma, bool limitExponent, uint8_t table[256]) {
  double e = GammaExponent(gamma);
  if (limitExponent) e = Clamp(e, 0.001, 99.999);
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(std::pow(i / 255.0, e) * 255.0);
}

void BuildGammaTable16(int32_t gamma, int32_t significantBits, uint16_t* table) {
  const int32_t largest = LargestSample(significantBits);
  const double e = GammaExponent(gamma), size = largest + 1.0;
  for (int32_t i = 0; i <= largest; ++i)
    table[i] = static_cast<uint16_t>(std::pow(i / size, e) * largest);
}

void BuildContrastTable8(int32_t contrast, uint8_t table[256]) {
  const int32_t m = Clamp(contrast, -127, 127);
  const double scale = 256.0 / (256 - 2 * m);
  for (int32_t i = 0; i < 256; ++i)
    table[i] = i < m ? 0 : (i > 255 - m ? 255 : static_cast<uint8_t>(scale * (i - m)));
}

void BuildContrastTable16(int32_t contrast, int32_t significantBits, uint16_t* table) {
  const int32_t largest = LargestSample(significantBits);
  const int32_t size = largest + 1;
  const int32_t k = Clamp(contrast, -127, 127) * (size / 256);
  const double scale = static_cast<double>(size) / (size - 2 * k);
  for (int32_t i = 0; i <= largest; ++i)
    table[i] = i < k ? 0 : (i > largest - k ? largest : static_cast<uint16_t>(scale * (i - k)));
}

float BrightnessFactor(int32_t brightness) {
  const int32_t b = Clamp(brightness, -255, 255);
  const double f = b < 0 ? 1.0 - -b * (1.0 / 255.0) : 1.0 + b * (10.0 / 255.0);
  return static_cast<float>(f);
}

void BuildBrightnessTable8(int32_t brightness, uint8_t table[256]) {
  const float factor = BrightnessFactor(brightness);
  for (int v = 0; v < 256; ++v)
    table[v] = static_cast<uint8_t>(Clamp<float>(static_cast<float>(v) * factor, 0.0f, 255.0f));
}

void BuildBrightnessTable16(int32_t brightness, int32_t significantBits, uint16_t* table) {
  const int32_t largest = LargestSample(significantBits);
  const float factor = BrightnessFactor(brightness);
  for (int32_t v = 0; v <= largest; ++v) {
    const float scaled = static_cast<float>(v) * factor;
    table[v] = static_cast<uint16_t>(Clamp<float>(scaled, 0.0f, static_cast<float>(largest)));
  }
}

void ComposeToneTable8(const ToneStages& stages, bool colour, uint8_t table[256]) {
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
  uint8_t stage[256];
  auto apply = [&] {
    for (int v = 0; v < 256; ++v) table[v] = stage[table[v]];
  };
  if (stages.gamma) BuildGammaTable8(stages.gammaValue, colour, stage), apply();
  if (stages.contrast) BuildContrastTable8(stages.contrastValue, stage), apply();
  if (stages.brightness) BuildBrightnessTable8(stages.brightnessValue, stage), apply();
}

void ComposeToneTable16(const ToneStages& stages, int32_t significantBits, uint16_t* table) {
  const int32_t largest = LargestSample(significantBits);
  for (int32_t v = 0; v <= largest; ++v) table[v] = static_cast<uint16_t>(v);
  // The usual 12 bits build on the stack: nothing is allocated per frame.
  uint16_t local[4096];
  std::vector<uint16_t> heap(largest < 4096 ? 0 : static_cast<size_t>(largest) + 1);
  uint16_t* stage = largest < 4096 ? local : heap.data();
  // Every stage's entries lie within 0..largest, so each indexes the next table directly.
  auto apply = [&] {
    for (int32_t v = 0; v <= largest; ++v) table[v] = stage[table[v]];
  };
  if (stages.gamma) BuildGammaTable16(stages.gammaValue, significantBits, stage), apply();
  if (stages.contrast) BuildContrastTable16(stages.contrastValue, significantBits, stage), apply();
  if (stages.brightness) BuildBrightnessTable16(stages.brightnessValue, significantBits, stage), apply();
}

void LookupBytes(uint8_t* t, const uint8_t* s, size_t n, const uint8_t* table, bool keepFourth) {
  // Bytes 3 and 7 of each word are fourth bytes when the run starts on a pixel.
  const uint64_t kept = keepFourth ? 0xFF000000FF000000ull : 0;
  // On the AVX2 and AVX-512 paths 32 bytes a step by byte shuffles (the scalar path keeps the words).
  size_t i = 0;
  if (n >= 32 && HasAvx2Path(ActiveVectorPath()))
    i = static_cast<size_t>(tone_rows::Lookup8Avx2(t, s, static_cast<int64_t>(n), table, keepFourth));
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, s + i, 8);
    const uint32_t low = static_cast<uint32_t>(v), high = static_cast<uint32_t>(v >> 32);
    const uint32_t a = table[low & 0xFF] | table[(low >> 8) & 0xFF] << 8 | table[(low >> 16) & 0xFF] << 16 |
                       static_cast<uint32_t>(table[low >> 24]) << 24;
    const uint32_t b = table[high & 0xFF] | table[(high >> 8) & 0xFF] << 8 | table[(high >> 16) & 0xFF] << 16 |
                       static_cast<uint32_t>(table[high >> 24]) << 24;
    uint64_t r = a | static_cast<uint64_t>(b) << 32;
    if (keepFourth) {
      uint64_t old;
      std::memcpy(&old, t + i, 8);
      r = (r & ~kept) | (old & kept);
    }
    std::memcpy(t + i, &r, 8);
  }
  for (; i < n; ++i)
    if (!keepFourth || i % 4 != 3) t[i] = table[s[i]];
}

void LookupBytes(uint8_t* t, const uint8_t* s, size_t n, const ToneTableRecord& record, bool keepFourth) {
  const auto* table = static_cast<const uint8_t*>(record.table);
  size_t done = 0;
  // On AVX-512 the table is a few byte permutes; on AVX2 the brightness's arithmetic is cheaper than
  // the sixteen shuffles of a table.
  if (record.brightnessOnly && n >= 32 && ActiveVectorPath() == VectorPath::kAvx2)
    done = static_cast<size_t>(
        tone_rows::Brightness8Avx2(t, s, static_cast<int64_t>(n), record.brightnessFactor, keepFourth));
  LookupBytes(t + done, s + done, n - done, table, keepFourth);
}

namespace {

// Table lookup over 1 (grey) or 3 (blue, green, red) channels of each pixel.
template <int Channels>
int64_t Lookup8(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                const uint8_t* table, const ToneTableRecord* record = nullptr) {
  const ToneTableRecord plain{table, 8};
  const ToneTableRecord& tableRecord = record != nullptr ? *record : plain;
  if (targetBpp < Channels || sourceBpp < Channels) return 0;
  const bool wide = ActiveVectorPath() == VectorPath::kAvx512;
  for (int32_t i = 0; i < rect.height(); ++i) {
    const uint8_t* s = RowAt(source, rect.top + i, sourceStride) + static_cast<intptr_t>(rect.left) * sourceBpp;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * targetBpp;
    if (targetBpp == Channels && sourceBpp == Channels) {  // packed samples: one flat run per row
      const int32_t n = rect.width() * Channels;
      const int32_t j = wide ? static_cast<int32_t>(tone_rows::Lookup8Avx512(t, s, n, table, false)) : 0;
      LookupBytes(t + j, s + j, static_cast<size_t>(n - j), tableRecord, false);
      continue;
    }
    if (Channels == 3 && targetBpp == 4 && sourceBpp == 4 && wide) {  // BGR + a fourth byte kept
      const int32_t done = static_cast<int32_t>(tone_rows::Lookup8Avx512(t, s, rect.width() * 4, table, true)) / 4;
      s += 4 * done, t += 4 * done;
      for (int32_t j = done; j < rect.width(); ++j, s += 4, t += 4)
        for (int c = 0; c < 3; ++c) t[c] = table[s[c]];
      continue;
    }
    if (Channels == 3 && targetBpp == 4 && sourceBpp == 4) {  // BGR + a fourth byte kept, in words
      LookupBytes(t, s, static_cast<size_t>(rect.width()) * 4, tableRecord, true);
      continue;
    }
    for (int32_t j = 0; j < rect.width(); ++j, s += sourceBpp, t += targetBpp)
      for (int c = 0; c < Channels; ++c) t[c] = table[s[c]];
  }
  return 1;
}

template <int Channels>
int64_t Lookup16(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                 int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                 const uint16_t* table, int32_t largest, const ToneTableRecord* brightness = nullptr) {
  if (targetBpp < 2 * Channels || sourceBpp < 2 * Channels) return 0;
  const VectorPath path = ActiveVectorPath();
  // The brightness alone is computed on the AVX2 and AVX-512 paths (no gathers); other tables are read.
  const bool computed = brightness != nullptr && brightness->brightnessOnly && HasAvx2Path(path);
  const bool wide = path == VectorPath::kAvx512 && !computed;
  auto vector = [&](uint8_t* t, const uint8_t* s, int32_t n, bool keepFourth) -> int32_t {
    if (computed)
      return static_cast<int32_t>(tone_rows::Brightness16Avx2(t, s, n, brightness->brightnessFactor, largest, keepFourth));
    if (wide) return static_cast<int32_t>(tone_rows::Lookup16Avx512(t, s, n, table, largest, keepFourth));
    return 0;
  };
  for (int32_t i = 0; i < rect.height(); ++i) {
    const uint8_t* s = RowAt(source, rect.top + i, sourceStride) + static_cast<intptr_t>(rect.left) * sourceBpp;
    uint8_t* t = RowAt(target, y + i, targetStride) + static_cast<intptr_t>(x) * targetBpp;
    if (targetBpp == 2 * Channels && sourceBpp == 2 * Channels) {  // packed samples: one flat run
      const int32_t n = rect.width() * Channels;
      int32_t j = vector(t, s, n, false);
      for (; j < n; ++j) {
        const int32_t v = Load16(s + 2 * j);
        Store16(t + 2 * j, table[v > largest ? largest : v]);
      }
      continue;
    }
    int32_t j = 0;
    if (Channels == 3 && targetBpp == 8 && sourceBpp == 8) {  // BGR + a fourth sample kept
      j = vector(t, s, rect.width() * 4, true) / 4;
      s += 8 * j, t += 8 * j;
    }
    for (; j < rect.width(); ++j, s += sourceBpp, t += targetBpp)
      for (int c = 0; c < Channels; ++c) {
        // Samples above the significant range read the table's last entry.
        const int32_t v = Load16(s + 2 * c);
        Store16(t + 2 * c, table[v > largest ? largest : v]);
      }
  }
  return 1;
}

// A table of 2^bits 16-bit entries: on the stack for the usual 12 bits, on the heap beyond.
class Table16 {
 public:
  explicit Table16(int32_t significantBits) : largest_(LargestSample(significantBits)) {
    if (largest_ >= static_cast<int32_t>(sizeof(local_) / sizeof(local_[0]))) {
      heap_.resize(static_cast<size_t>(largest_) + 1);
      data_ = heap_.data();
    }
  }
  uint16_t* data() { return data_; }
  int32_t largest() const { return largest_; }

 private:
  int32_t largest_;
  uint16_t local_[4096];
  std::vector<uint16_t> heap_;
  uint16_t* data_ = local_;
};

inline const ValueRecord* Record(const void* p) { return static_cast<const ValueRecord*>(p); }

template <int Channels>
int64_t Gamma16(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                const void* p) {
  if (p == nullptr) return 0;
  Table16 table(Record(p)->significantBits);
  BuildGammaTable16(Record(p)->value, Record(p)->significantBits, table.data());
  return Lookup16<Channels>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                            sourceStride, table.data(), table.largest());
}

template <int Channels>
int64_t Contrast16(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                   int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                   int32_t sourceStride, const void* p) {
  if (p == nullptr) return 0;
  Table16 table(Record(p)->significantBits);
  BuildContrastTable16(Record(p)->value, Record(p)->significantBits, table.data());
  return Lookup16<Channels>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                            sourceStride, table.data(), table.largest());
}

template <int Channels>
int64_t Brightness16(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x,
                     int32_t y, int32_t targetBpp, int32_t sourceBpp, int32_t targetStride,
                     int32_t sourceStride, const void* p) {
  if (p == nullptr) return 0;
  Table16 table(Record(p)->significantBits);
  BuildBrightnessTable16(Record(p)->value, Record(p)->significantBits, table.data());
  return Lookup16<Channels>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,
                            sourceStride, table.data(), table.largest());
}

template <int Channels>
int64_t ToneTable16(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                    int32_t targetBpp, int32_t sourceBpp, int32_t targetStride, int32_t sourceStride,
                    const void* p) {
  const auto* record = static_cast<const ToneTableRecord*>(p);
  if (record == nullptr || record->table == nullptr) return 0;
  return Lookup16<Channels>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride,
                            static_cast<const uint16_t*>(record->table), LargestSample(record->significantBits), record);
}

}  // namespace

#define TOVIRA_TABLE8_KERNEL(name, channels, build)                                              \
  TOVIRA_PIXEL_KERNEL(name) {                                                                     \
    if (p == nullptr) return 0;                                                                   \
    uint8_t table[256];                                                                           \
    build;                                                                                        \
    return Lookup8<channels>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride,      \
                             sourceStride, table);                                                \
  }

TOVIRA_TABLE8_KERNEL(GammaGray8, 1, BuildGammaTable8(Record(p)->value, false, table))
TOVIRA_TABLE8_KERNEL(GammaBgr8, 3, BuildGammaTable8(Record(p)->value, true, table))
TOVIRA_TABLE8_KERNEL(ContrastGray8, 1, BuildContrastTable8(Record(p)->value, table))
TOVIRA_TABLE8_KERNEL(ContrastBgr8, 3, BuildContrastTable8(Record(p)->value, table))
TOVIRA_TABLE8_KERNEL(BrightnessGray8, 1, BuildBrightnessTable8(Record(p)->value, table))
TOVIRA_TABLE8_KERNEL(BrightnessBgr8, 3, BuildBrightnessTable8(Record(p)->value, table))

#define TOVIRA_TABLE16_KERNEL(name, channels, implementation)                                      \
  TOVIRA_PIXEL_KERNEL(name) {                                                                     \
    return implementation<channels>(target, source, rect, x, y, targetBpp, sourceBpp,             \
                                    targetStride, sourceStride, p);                              \
  }

TOVIRA_TABLE16_KERNEL(GammaGray16, 1, Gamma16)
TOVIRA_TABLE16_KERNEL(GammaBgr16, 3, Gamma16)
TOVIRA_TABLE16_KERNEL(ContrastGray16, 1, Contrast16)
TOVIRA_TABLE16_KERNEL(ContrastBgr16, 3, Contrast16)
TOVIRA_TABLE16_KERNEL(BrightnessGray16, 1, Brightness16)
TOVIRA_TABLE16_KERNEL(BrightnessBgr16, 3, Brightness16)
TOVIRA_TABLE16_KERNEL(ToneTableGray16, 1, ToneTable16)
TOVIRA_TABLE16_KERNEL(ToneTableBgr16, 3, ToneTable16)

TOVIRA_PIXEL_KERNEL(ToneTableGray8) {
  const auto* record = static_cast<const ToneTableRecord*>(p);
  if (record == nullptr || record->table == nullptr) return 0;
  return Lookup8<1>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride,
                    static_cast<const uint8_t*>(record->table), record);
}
TOVIRA_PIXEL_KERNEL(ToneTableBgr8) {
  const auto* record = static_cast<const ToneTableRecord*>(p);
  if (record == nullptr || record->table == nullptr) return 0;
  return Lookup8<3>(target, source, rect, x, y, targetBpp, sourceBpp, targetStride, sourceStride,
                    static_cast<const uint8_t*>(record->table), record);
}

}  // namespace tovira
