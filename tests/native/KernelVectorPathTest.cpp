// The vector bodies of the tone and colour kernels against their scalar loops, which stay the reference:
// random images of odd and even sizes, padded strides, fourth channels, the full range of 16-bit samples,
// every path this CPU can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/Sharpen.h"
#include "pipeline/SharpenRows.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

// Runs `kernel` on copies of the same images once per path and expects identical bytes.
struct PathRun {
  std::vector<VectorPath> paths{VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512, VectorPath::kAuto};
  ~PathRun() { SetVectorPath(VectorPath::kAuto); }
};

struct KernelCase {
  PixelKernel kernel;
  uint16_t bits;
  bool wide;
  const char* name;
};

void ExpectPathsEqual(const KernelCase& k, TestImage target, const TestImage& source, bool inPlace, void* p,
                      void* q, const std::string& what) {
  PathRun run;
  SetVectorPath(VectorPath::kScalar);
  TestImage expected = target;
  TestImage expectedSource = source;
  int64_t expectedResult = inPlace ? ApplyKernel(expected.view(), k.kernel, expected.view(), nullptr, 0, 0, p, q)
                                   : ApplyKernel(expected.view(), k.kernel, source.view(), nullptr, 0, 0, p, q);
  for (VectorPath path : run.paths) {
    SetVectorPath(path);
    TestImage out = target;
    const int64_t result = inPlace ? ApplyKernel(out.view(), k.kernel, out.view(), nullptr, 0, 0, p, q)
                                   : ApplyKernel(out.view(), k.kernel, source.view(), nullptr, 0, 0, p, q);
    ASSERT_EQ(expectedResult, result) << k.name << " " << what << " path " << VectorPathName(ActiveVectorPath());
    ASSERT_EQ(expected.bytes(), out.bytes()) << k.name << " " << what << " path " << VectorPathName(ActiveVectorPath());
  }
}

TEST(VectorPaths, SharpenEqualsScalarForEveryFamilyAndFullRangeSamples) {
  std::mt19937 rng(5);
  const KernelCase families[] = {{SharpenGray8, 8, false, "SharpenGray8"},   {SharpenGray16, 16, true, "SharpenGray16"},
                                 {SharpenBgr8, 24, false, "SharpenBgr8/24"}, {SharpenBgr8, 32, false, "SharpenBgr8/32"},
                                 {SharpenBgr16, 48, true, "SharpenBgr16/48"}, {SharpenBgr16, 64, true, "SharpenBgr16/64"}};
  const int sizes[][2] = {{5, 5}, {9, 7}, {21, 13}, {64, 9}, {701, 6}, {1100, 5}, {2051, 5}};
  std::uniform_int_distribution<int> amount(1, 30);
  for (const KernelCase& f : families)
    for (const auto& size : sizes)
      for (int32_t maxSample : {f.wide ? 4095 : 255, f.wide ? 65535 : 255}) {
        TestImage source(size[0], size[1], f.bits, (size[0] % 3) * 4);
        source.fillRandom(rng, maxSample, f.wide);
        TestImage target = source;
        target.fillRandom(rng, maxSample, f.wide);  // the fourth channel and the frame must stay as they are
        ValueRecord record{amount(rng), maxSample > 4095 ? 16 : 12};
        ExpectPathsEqual(f, target, source, false, &record, nullptr,
                         std::to_string(size[0]) + "x" + std::to_string(size[1]) + " max " + std::to_string(maxSample));
        if (!f.wide) {  // the 8-bit families with the brightness after them (computed on the AVX2 path)
          uint8_t table[256];
          BuildBrightnessTable8(37, table);
          ToneTableRecord brightness{table, 8};
          brightness.brightnessOnly = true;
          brightness.brightnessFactor = BrightnessFactor(37);
          ExpectPathsEqual(f, target, source, false, &record, &brightness,
                           std::to_string(size[0]) + "x" + std::to_string(size[1]) + " with brightness");
        }
      }
}

TEST(VectorPaths, SharpenWithTheTableAfterItEqualsScalarForEveryBrightnessAndAnyTable) {
  // The 8-bit rows take their results through the table after the sharpness: on the AVX2 path as a
  // product where the table is one (most brightness values), else by shuffles; every brightness value
  // (tables with and without such a product, factors below and above 1), a table of random bytes and
  // one of a steep product, every channel count, rows that end in a partial step and padded strides.
  std::mt19937 rng(77);
  const KernelCase families[] = {{SharpenGray8, 8, false, "SharpenGray8"}, {SharpenBgr8, 24, false, "SharpenBgr8/24"},
                                 {SharpenBgr8, 32, false, "SharpenBgr8/32"}};
  std::vector<std::pair<std::vector<uint8_t>, std::string>> tables;
  for (int32_t b = -255; b <= 255; ++b) {
    std::vector<uint8_t> table(256);
    BuildBrightnessTable8(b, table.data());
    tables.emplace_back(table, "brightness " + std::to_string(b));
  }
  std::vector<uint8_t> random(256), steep(256);
  for (auto& v : random) v = static_cast<uint8_t>(rng());
  for (int v = 0; v < 256; ++v) steep[v] = static_cast<uint8_t>(std::min(255, v * 100));  // whole 100: at the limit
  tables.emplace_back(random, "random table");
  tables.emplace_back(steep, "steep product");
  std::uniform_int_distribution<int> amount(1, 30);
  for (const KernelCase& f : families)
    for (const auto& [table, name] : tables) {
      const int width = 37 + static_cast<int>(rng() % 40);
      TestImage source(width, 6, f.bits, width % 4);
      source.fillRandom(rng, 255, false);
      TestImage target = source;
      target.fillRandom(rng, 255, false);
      ValueRecord record{amount(rng), 12};
      ToneTableRecord tone{table.data(), 8};
      ExpectPathsEqual(f, target, source, false, &record, &tone, name + ", " + std::to_string(width) + " wide");
    }
}

TEST(VectorPaths, SixteenBitSharpenWithTheTableAfterItEqualsScalar) {
  // The 16-bit families take their results through the table after the sharpness: the brightness alone
  // computed in the AVX2 and AVX-512 rows, any other table read after each row; samples above the
  // table's 12 bits (read as its last entry), brightness below and above 1, every channel count, the
  // SSE2 rows and rows too short for the wide steps.
  std::mt19937 rng(78);
  const KernelCase families[] = {{SharpenGray16, 16, true, "SharpenGray16"}, {SharpenBgr16, 48, true, "SharpenBgr16/48"},
                                 {SharpenBgr16, 64, true, "SharpenBgr16/64"}};
  struct Table {
    std::vector<uint16_t> entries;
    bool brightness;
    int32_t value;
  };
  std::vector<Table> tables;
  for (int32_t b : {-255, -100, -1, 1, 10, 77, 255}) {
    Table t{std::vector<uint16_t>(4096), true, b};
    BuildBrightnessTable16(b, 12, t.entries.data());
    tables.push_back(t);
  }
  Table random{std::vector<uint16_t>(4096), false, 0};
  for (auto& v : random.entries) v = static_cast<uint16_t>(rng());
  tables.push_back(random);
  std::uniform_int_distribution<int> amount(1, 30);
  for (const KernelCase& f : families)
    for (const Table& table : tables)
      for (int width : {7, 37, 130})
        for (int32_t maxSample : {4095, 65535}) {
          TestImage source(width, 6, f.bits, width % 4 * 2);
          source.fillRandom(rng, maxSample, true);
          TestImage target = source;
          target.fillRandom(rng, maxSample, true);
          ValueRecord record{amount(rng), maxSample > 4095 ? 16 : 12};
          ToneTableRecord tone{table.entries.data(), 12};
          tone.brightnessOnly = table.brightness;
          tone.brightnessFactor = BrightnessFactor(table.value);
          ExpectPathsEqual(f, target, source, false, &record, &tone,
                           (table.brightness ? "brightness " + std::to_string(table.value) : std::string("random table")) +
                               ", " + std::to_string(width) + " wide, max " + std::to_string(maxSample));
        }
}

TEST(VectorPaths, SharpenQuotientsByTenAreExactAtMultiplesOfTen) {
  // The 16-bit rows divide amount * (v - blur) by 10 as a product with 0.1f; amounts that are multiples
  // of 10 make every such product a multiple of 10, where a quotient a little low would truncate to
  // the integer below. Full-range samples give the largest products.
  std::mt19937 rng(10);
  const KernelCase families[] = {{SharpenGray16, 16, true, "SharpenGray16"}, {SharpenBgr16, 48, true, "SharpenBgr16/48"}};
  for (const KernelCase& f : families)
    for (int32_t amount : {10, 20, 30})
      for (int width : {37, 701}) {
        TestImage source(width, 6, f.bits, 0);
        source.fillRandom(rng, 65535, true);
        TestImage target = source;
        ValueRecord record{amount, 16};
        ExpectPathsEqual(f, target, source, false, &record, nullptr,
                         std::to_string(width) + " wide, amount " + std::to_string(amount));
      }
  for (int32_t n = -(1 << 21); n <= (1 << 21); ++n)  // the identity the rows rely on
    ASSERT_EQ(n / 10, static_cast<int32_t>(static_cast<float>(n) * 0.1f)) << n;
  // The 16-bit lanes of samples of at most 12 bits: the quotient as a product with a 16-bit fraction.
  for (int32_t amount = 0; amount <= 30; ++amount) {
    const sharpen_rows::TenthScale scale = sharpen_rows::TenthScaleOf(amount);
    for (int32_t m = 0; m <= sharpen_rows::kNarrowLargest; ++m)
      ASSERT_EQ(m * amount / 10, m * scale.whole + ((m * scale.fraction) >> 16)) << m << " * " << amount;
  }
}

TEST(VectorPaths, SixteenBitSharpenOfTwelveBitSamplesFallsBackWhereASampleIsLarger) {
  // Samples of at most 12 bits are sharpened in 16-bit lanes strip by strip (2048 samples), and a strip
  // with a larger sample in any of its four rows goes the 32-bit way: one such sample in the first or
  // the last strip of a row, in a row above, on or below the one sharpened, or in a fourth sample
  // (which never counts); with and without the brightness after it.
  std::mt19937 rng(12);
  const KernelCase families[] = {{SharpenGray16, 16, true, "SharpenGray16"}, {SharpenBgr16, 48, true, "SharpenBgr16/48"},
                                 {SharpenBgr16, 64, true, "SharpenBgr16/64"}};
  uint16_t table[4096];
  BuildBrightnessTable16(10, 12, table);
  ToneTableRecord brightness{table, 12};
  brightness.brightnessOnly = true;
  brightness.brightnessFactor = BrightnessFactor(10);
  for (const KernelCase& f : families) {
    const int channels = f.bits / 16, width = 4200 / channels;
    for (int place = 0; place < 5; ++place) {
      TestImage source(width, 7, f.bits, 6);
      source.fillRandom(rng, 4095, true);
      const int x = place % 2 == 0 ? 3 : width - 4, y = place < 2 ? 1 : place < 4 ? 5 : 3;
      source.set(x, y, place == 4 ? channels - 1 : 1, 4096 + static_cast<int32_t>(rng() % 61440), true);
      TestImage target = source;
      target.fillRandom(rng, 65535, true);
      ValueRecord record{10 + place, 12};
      const std::string what = "sample above 12 bits at " + std::to_string(x) + "," + std::to_string(y);
      ExpectPathsEqual(f, target, source, false, &record, nullptr, what);
      ExpectPathsEqual(f, target, source, false, &record, &brightness, what + " with brightness");
    }
  }
}

TEST(VectorPaths, DefectFilterEqualsScalarOnNoisyFramesWithChainsOfReplacements) {
  std::mt19937 rng(30);
  const int sizes[][2] = {{5, 5}, {12, 9}, {13, 8}, {37, 21}, {257, 7}};
  const KernelCase k{FilterDefectPixels, 16, true, "FilterDefectPixels16"};
  for (const auto& size : sizes)
    for (int32_t maxSample : {60, 4095, 65535})
      for (int32_t threshold : {1, 30, 400}) {
        TestImage frame(size[0], size[1], 16, (size[1] % 2) * 4);
        frame.fillRandom(rng, maxSample, true);
        // Rows of alternating outliers: every other pixel is replaced and feeds its right partner.
        for (int x = 0; x < size[0]; x += 2) frame.set(x, size[1] / 2, 0, x % 4 ? maxSample : 0, true);
        ColourRecord colour{static_cast<int32_t>(rng() % 4), 100, 100, 100};
        ThresholdRecord limit{threshold};
        ExpectPathsEqual(k, frame, frame, true, &colour, &limit,
                         std::to_string(size[0]) + "x" + std::to_string(size[1]) + " max " +
                             std::to_string(maxSample) + " threshold " + std::to_string(threshold));
      }
}

TEST(VectorPaths, HueSaturationEqualsScalarOnEveryColour) {
  // All 2^24 colours once, as a 4096 x 4096 BGR image, for one hue and saturation with every sector.
  TestImage cube(4096, 4096, 24);
  for (int32_t i = 0; i < 4096 * 4096; ++i) {
    uint8_t* p = cube.at(i % 4096, i / 4096);
    p[0] = static_cast<uint8_t>(i), p[1] = static_cast<uint8_t>(i >> 8), p[2] = static_cast<uint8_t>(i >> 16);
  }
  HueSaturationRecord record{-97, 0, 141, 12};
  ExpectPathsEqual({HueSaturationBgr8, 24, false, "HueSaturationBgr8"}, cube, cube, true, &record, nullptr, "cube");
}

TEST(VectorPaths, HueSaturationInGroupsEqualsScalarAtEveryShiftAndWithATable) {
  // Rows long enough for the 8-bit groups of 64 pixels, then one of 32 and a rest (16-bit: groups of
  // 32; AVX2 8-bit: groups of 32 in byte lanes, then of 16); hues that move every sector onto every other (including the wrap of the shifted offset) and
  // saturations at their limits; with and without the tone table the kernels apply to their results
  // (16-bit: looked up for the widened results in registers and for grey pixels in the whole table).
  std::mt19937 rng(64);
  uint8_t table8[256];
  for (auto& v : table8) v = static_cast<uint8_t>(rng());
  std::vector<uint16_t> table16(4096);
  for (auto& v : table16) v = static_cast<uint16_t>(rng());
  ToneTableRecord tone8{table8, 8}, tone16{table16.data(), 12};
  const KernelCase families[] = {{HueSaturationBgr8, 24, false, "HueSaturationBgr8/24"},
                                 {HueSaturationBgr8, 32, false, "HueSaturationBgr8/32"},
                                 {HueSaturationBgr16, 48, true, "HueSaturationBgr16/48"},
                                 {HueSaturationBgr16, 64, true, "HueSaturationBgr16/64"}};
  const int hues[] = {0, 1, -1, 59, 60, 61, 119, 180, 241, 300, 359, 360, -360, -181};
  const int saturations[] = {-255, -254, -1, 0, 1, 100, 254, 255};
  for (const KernelCase& f : families)
    for (int width : {32, 63, 64, 101, 130, 263})
      for (int round = 0; round < 14; ++round) {
        // 16-bit samples above the 12 significant bits in some rounds (read as the largest level, and
        // past the table's end for grey pixels).
        const int32_t maxSample = f.wide ? (round % 3 == 0 ? 65535 : 4095) : 255;
        TestImage image(width, 3, f.bits, round % 2 * 8);
        image.fillRandom(rng, maxSample, f.wide);
        for (int x = 0; x < width; x += 5)  // pixels with two equal channels
          image.set(x, 1, x % 3, image.get(x, 1, (x + 1) % 3, f.wide), f.wide);
        for (int x = 0; x < width; x += 7)  // grey pixels
          for (int c = 1; c < 3; ++c) image.set(x, 2, c, image.get(x, 2, 0, f.wide), f.wide);
        HueSaturationRecord record{hues[round], 0, saturations[(round + width) % 8], 12};
        const std::string what = std::to_string(width) + " wide, hue " + std::to_string(record.hue) +
                                 " saturation " + std::to_string(record.saturation);
        ExpectPathsEqual(f, image, image, true, &record, nullptr, what);
        ExpectPathsEqual(f, image, image, true, &record, f.wide ? &tone16 : &tone8, what + " with a table");
      }
}

TEST(VectorPaths, HueSaturationEqualsScalarForEveryChromaAtEverySaturation) {
  // The byte lanes compute the saturation table's entry and the chroma limit instead of looking them up:
  // every chroma 0..255 in one row at every saturation -255..255, with lightness sums below 256 (hi +
  // lo = c), around 255 and above (510 - c, where the limit is 511 - s), in 3- and 4-byte pixels.
  const KernelCase families[] = {{HueSaturationBgr8, 24, false, "HueSaturationBgr8/24"},
                                 {HueSaturationBgr8, 32, false, "HueSaturationBgr8/32"}};
  for (const KernelCase& f : families) {
    TestImage image(256, 3, f.bits, 4);
    for (int c = 0; c < 256; ++c) {
      const int rows[3][3] = {{0, c / 3, c}, {127 - c / 2, 127 - c / 2 + c / 3, 127 - c / 2 + c},
                              {255 - c, 255 - c + c / 3, 255}};
      for (int y = 0; y < 3; ++y)
        for (int ch = 0; ch < 3; ++ch) image.at(c, y)[ch] = static_cast<uint8_t>(rows[y][ch]);
    }
    for (int32_t saturation = -255; saturation <= 255; ++saturation) {
      HueSaturationRecord record{saturation % 7 == 0 ? 0 : 37, 0, saturation, 12};
      ExpectPathsEqual(f, image, image, true, &record, nullptr, "saturation " + std::to_string(saturation));
    }
  }
}

TEST(VectorPaths, HueSaturationEqualsScalarForEveryLayoutHueAndSaturation) {
  std::mt19937 rng(31);
  const KernelCase families[] = {{HueSaturationBgr8, 24, false, "HueSaturationBgr8/24"},
                                 {HueSaturationBgr8, 32, false, "HueSaturationBgr8/32"},
                                 {HueSaturationBgr16, 48, true, "HueSaturationBgr16/48"},
                                 {HueSaturationBgr16, 64, true, "HueSaturationBgr16/64"}};
  const int sizes[][2] = {{1, 3}, {7, 2}, {8, 1}, {23, 5}, {64, 3}};
  std::uniform_int_distribution<int> hue(-360, 360), saturation(-255, 255);
  for (const KernelCase& f : families)
    for (const auto& size : sizes)
      for (int round = 0; round < 6; ++round) {
        // 16-bit samples also above 4095 (read as the largest 8-bit level) and with low bits set.
        const int32_t maxSample = f.wide ? (round % 2 ? 65535 : 4095) : 255;
        TestImage image(size[0], size[1], f.bits, round % 3 * 4);
        image.fillRandom(rng, maxSample, f.wide);
        for (int x = 0; x < size[0]; x += 3)  // some grey pixels
          for (int c = 1; c < 3; ++c) image.set(x, 0, c, image.get(x, 0, 0, f.wide), f.wide);
        // 16-bit samples reduced by 4 (12 significant bits), by 8 and by 0 bits.
        const int32_t bits = round == 4 ? 16 : round == 5 ? 8 : 12;
        HueSaturationRecord record{round == 0 ? 0 : hue(rng), 0, round == 1 ? 0 : saturation(rng), bits};
        if (round == 2) record.saturation = -255;
        if (round == 3) record.saturation = 255, record.hue = 360;
        const std::string what = std::to_string(size[0]) + "x" + std::to_string(size[1]) + " bits " +
                                 std::to_string(bits) + " hue " +
                                 std::to_string(record.hue) + " saturation " + std::to_string(record.saturation);
        ExpectPathsEqual(f, image, image, true, &record, nullptr, what + " in place");
        TestImage target(size[0], size[1], f.bits, 4);
        target.fillRandom(rng, 255, false);
        ExpectPathsEqual(f, target, image, false, &record, nullptr, what + " to another image");
      }
}

TEST(VectorPaths, DemosaicHandingItsRowsToTheHueAsPlanesEqualsTheTwoStagesApart) {
  // The demosaic's interior with the hue/saturation and a table after it equals the two kernels run one
  // after the other on the interior, on every demosaic and vector path: interiors shorter than a vector
  // step, around the AVX2 and AVX-512 groups, around and past the planes' width (2048 columns), odd
  // heights (one output row left over from the pairs), every Bayer mode, 3- and 4-byte pixels whose
  // fourth byte keeps its value, with and without the table.
  struct Restore {
    ~Restore() {
      SetVectorPath(VectorPath::kAuto);
      SetDemosaicPath(DemosaicPath::kAuto);
    }
  } restore;
  std::mt19937 rng(2048);
  uint8_t table[256];
  for (auto& v : table) v = static_cast<uint8_t>(rng());
  ToneTableRecord tone{table, 8};
  const int widths[] = {5, 6, 35, 36, 37, 67, 68, 69, 101, 2051, 2052, 2053, 2085, 4101};
  const DemosaicPath demosaicPaths[] = {DemosaicPath::kAvx2, DemosaicPath::kSse2, DemosaicPath::kScalar};
  const VectorPath vectorPaths[] = {VectorPath::kScalar, VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512};
  int round = 0;
  for (int width : widths)
    for (uint16_t bits : {24, 32}) {
      ++round;
      const int height = 5 + round % 3;
      TestImage raw(width, height, 8, round % 2 * 4);
      raw.fillRandom(rng, 255, false);
      TestImage target(width, height, bits, round % 3 * 4);
      target.fillRandom(rng, 255, false);
      const ColourRecord colour{round % 4, 100 + round * 7, 100, 160 - round * 3};
      const HueSaturationRecord record{round * 53 % 720 - 360, 0, round * 71 % 511 - 255, 12};
      for (ToneTableRecord* after : {static_cast<ToneTableRecord*>(nullptr), &tone}) {
        SetVectorPath(VectorPath::kScalar);
        SetDemosaicPath(DemosaicPath::kScalar);
        TestImage expected = target;
        ApplyKernel(expected.view(), DemosaicInterior8, raw.view(), nullptr, 0, 0, const_cast<ColourRecord*>(&colour));
        const KernelRect interior{2, 2, width - 2, height - 2};  // rows 2 .. height-3 either way up
        ApplyKernel(expected.view(), HueSaturationBgr8, expected.view(), &interior, 2, 2,
                    const_cast<HueSaturationRecord*>(&record), after);
        HuePlanes8 planes;
        PrepareHuePlanes8(record, after, planes);
        for (DemosaicPath demosaic : demosaicPaths)
          for (VectorPath path : vectorPaths) {
            SetDemosaicPath(demosaic);
            SetVectorPath(path);
            TestImage out = target;
            ASSERT_EQ(1, ApplyKernel(out.view(), DemosaicInteriorHue8, raw.view(), nullptr, 0, 0,
                                     const_cast<ColourRecord*>(&colour), &planes));
            ASSERT_EQ(expected.bytes(), out.bytes())
                << width << "x" << height << " bits " << bits << (after ? " with a table" : "") << " demosaic path "
                << static_cast<int>(ActiveDemosaicPath()) << " vector path " << VectorPathName(ActiveVectorPath());
          }
      }
    }
  // Other pixel sizes are refused, with nothing written.
  TestImage raw(40, 8, 8), wide(40, 8, 48);
  raw.fillRandom(rng, 255, false);
  wide.fillRandom(rng, 255, false);
  const TestImage before = wide;
  ColourRecord colour{0, 100, 100, 100};
  HuePlanes8 planes;
  PrepareHuePlanes8({30, 0, 20, 12}, nullptr, planes);
  EXPECT_EQ(0, ApplyKernel(wide.view(), DemosaicInteriorHue8, raw.view(), nullptr, 0, 0, &colour, &planes));
  EXPECT_EQ(before.bytes(), wide.bytes());
}

TEST(VectorPaths, ToneTablesEqualScalarForEveryByteAndLayout) {
  std::mt19937 rng(12);
  uint8_t table[256];
  for (auto& v : table) v = static_cast<uint8_t>(rng());  // any table: every entry must land in place
  ToneTableRecord record{table, 8};
  const KernelCase kernels[] = {{ToneTableGray8, 8, false, "ToneTableGray8"}, {ToneTableBgr8, 24, false, "ToneTableBgr8/24"},
                                {ToneTableBgr8, 32, false, "ToneTableBgr8/32"}};
  for (const KernelCase& k : kernels)
    for (int w : {1, 21, 64, 65, 130, 257}) {
      TestImage image(w, 5, k.bits, w % 2 * 4);
      image.fillRandom(rng, 255, false);
      ExpectPathsEqual(k, image, image, true, &record, nullptr, "width " + std::to_string(w));
      TestImage target(w, 5, k.bits, 4);  // a separate target: its fourth bytes stay as they are
      target.fillRandom(rng, 255, false);
      ExpectPathsEqual(k, target, image, false, &record, nullptr, "to another image, width " + std::to_string(w));
    }
}

// TOVIRA_VECTOR_PATH (how the DLL is told which path to take): its spellings, that it chooses the path
// only while the program leaves the choice automatic, that the demosaic follows it down to SSE2 and its
// scalar loops, and that a path the CPU lacks falls back to the next narrower one.
TEST(VectorPaths, EnvironmentVariableChoosesThePathWhileTheChoiceIsAutomatic) {
  EXPECT_EQ(VectorPath::kAvx512, ParseVectorPath("AVX-512"));
  EXPECT_EQ(VectorPath::kAvx512, ParseVectorPath("avx512"));
  EXPECT_EQ(VectorPath::kAvx2, ParseVectorPath("Avx2"));
  EXPECT_EQ(VectorPath::kSse2, ParseVectorPath("sse2"));
  EXPECT_EQ(VectorPath::kScalar, ParseVectorPath("SCALAR"));
  for (const char* other : {"auto", "", "avx", "sse", "avx2x", "0", "avx5122"})
    EXPECT_EQ(VectorPath::kAuto, ParseVectorPath(other)) << "'" << other << "'";
  EXPECT_EQ(VectorPath::kAuto, ParseVectorPath(nullptr));

  struct Restore {
    ~Restore() {
      unsetenv("TOVIRA_VECTOR_PATH");
      ReloadEnvironmentVectorPath();
      SetVectorPath(VectorPath::kAuto);
      SetDemosaicPath(DemosaicPath::kAuto);
    }
  } restore;
  SetVectorPath(VectorPath::kAuto);
  SetDemosaicPath(DemosaicPath::kAuto);
  unsetenv("TOVIRA_VECTOR_PATH");
  ReloadEnvironmentVectorPath();
  const VectorPath automatic = ActiveVectorPath();
  const DemosaicPath automaticDemosaic = ActiveDemosaicPath();
  const bool avx2 = automatic == VectorPath::kAvx2 || automatic == VectorPath::kAvx512;

  struct Case {
    const char* value;
    VectorPath path;
    DemosaicPath demosaic;
  };
  const Case cases[] = {
      {"scalar", VectorPath::kScalar, DemosaicPath::kScalar},
      {"sse2", VectorPath::kSse2, DemosaicPath::kSse2},
      {"avx2", avx2 ? VectorPath::kAvx2 : VectorPath::kSse2, automaticDemosaic},
      {"avx512", automatic, automaticDemosaic},
      {"auto", automatic, automaticDemosaic},
      {"nonsense", automatic, automaticDemosaic},
  };
  for (const Case& c : cases) {
    setenv("TOVIRA_VECTOR_PATH", c.value, 1);
    ReloadEnvironmentVectorPath();
    EXPECT_EQ(c.path, ActiveVectorPath()) << c.value;
    EXPECT_EQ(c.demosaic, ActiveDemosaicPath()) << c.value;
  }
  // A path the program sets itself wins over the variable.
  setenv("TOVIRA_VECTOR_PATH", "scalar", 1);
  ReloadEnvironmentVectorPath();
  SetVectorPath(VectorPath::kSse2);
  SetDemosaicPath(DemosaicPath::kAvx2);
  EXPECT_EQ(VectorPath::kSse2, ActiveVectorPath());
  EXPECT_EQ(automaticDemosaic, ActiveDemosaicPath());
  // Read once: a change without a reload is not seen (the kernels ask for the path on every row).
  SetVectorPath(VectorPath::kAuto);
  EXPECT_EQ(VectorPath::kScalar, ActiveVectorPath());
  setenv("TOVIRA_VECTOR_PATH", "sse2", 1);
  EXPECT_EQ(VectorPath::kScalar, ActiveVectorPath());
}

}  // namespace
}  // namespace tovira::test
