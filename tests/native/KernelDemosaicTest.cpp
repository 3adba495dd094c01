// Demosaic and defect filter against worked values and the reference of KernelTestSupport.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

void RunDemosaic(TestImage& out, const TestImage& raw, ColourRecord colour) {
  const bool wide = raw.bpp() == 2;
  ApplyKernel(out.view(), wide ? DemosaicInterior16 : DemosaicInterior8, raw.view(), nullptr, 0, 0, &colour);
  ApplyKernel(out.view(), wide ? DemosaicBorder16 : DemosaicBorder8, raw.view(), nullptr, 0, 0, &colour);
}

TEST(Demosaic, GainFactorTruncatesGainTimes128Hundredths) {
  EXPECT_EQ(128, GainFactor(100));
  EXPECT_EQ(129, GainFactor(101));
  EXPECT_EQ(512, GainFactor(400));
  EXPECT_EQ(0, GainFactor(0));
}

TEST(Demosaic, FlatFieldIsFlatIncludingBorders) {
  for (bool wide : {false, true}) {
    for (int mode = 0; mode < 4; ++mode) {
      for (auto [w, h] : {std::pair{40, 30}, std::pair{41, 29}, std::pair{5, 4}}) {
        const int level = wide ? 3000 : 173;
        TestImage raw(w, h, wide ? 16 : 8), out(w, h, wide ? 48 : 24);
        raw.fill(level, wide);
        RunDemosaic(out, raw, {mode, 100, 100, 100});
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
              ASSERT_EQ(level, out.get(x, y, c, wide)) << "mode " << mode << " at " << x << "," << y;
      }
    }
  }
}

TEST(Demosaic, RedGainDoublesRedOnlyAndGreenGainDoesNothing) {
  for (bool wide : {false, true}) {
    TestImage raw(24, 16, wide ? 16 : 8), out(24, 16, wide ? 64 : 32);
    raw.fill(wide ? 1000 : 100, wide);
    out.fill(0x5A, false);  // fourth channel must keep its bytes
    RunDemosaic(out, raw, {0, 200, 377, 100});
    const int v = wide ? 1000 : 100;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 24; ++x) {
        EXPECT_EQ(v, out.get(x, y, 0, wide));
        EXPECT_EQ(v, out.get(x, y, 1, wide));
        EXPECT_EQ(2 * v, out.get(x, y, 2, wide));
        EXPECT_EQ(wide ? 0x5A5A : 0x5A, out.get(x, y, 3, wide));
      }
  }
}

TEST(Demosaic, ResultsAreLimitedTo255And4095) {
  TestImage raw(20, 20, 16), out(20, 20, 48);
  raw.fill(4095, true);
  RunDemosaic(out, raw, {2, 400, 100, 400});
  for (int c = 0; c < 3; ++c) EXPECT_EQ(4095, out.get(7, 9, c, true));
  EXPECT_EQ(4095, out.get(0, 0, 2, true));
  TestImage raw8(20, 20, 8), out8(20, 20, 24);
  raw8.fill(200, false);
  RunDemosaic(out8, raw8, {1, 400, 100, 300});
  EXPECT_EQ(255, out8.get(5, 5, 0));
  EXPECT_EQ(200, out8.get(5, 5, 1));
  EXPECT_EQ(255, out8.get(5, 5, 2));
}

TEST(Demosaic, MatchesReferenceOnRandomFramesOfEveryShapeAndMode) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> size(4, 70), gain(0, 400);
  for (int round = 0; round < 160; ++round) {
    const bool wide = round % 2 == 1;
    const int mode = (round / 2) % 4;
    const int w = size(rng), h = size(rng);
    const uint16_t targetBits = wide ? (round % 3 ? 48 : 64) : (round % 3 ? 24 : 32);
    TestImage raw(w, h, wide ? 16 : 8, round % 5), out(w, h, targetBits, round % 3);
    // 16-bit frames occasionally carry samples above 12 bits; they count as 4095.
    raw.fillRandom(rng, wide ? (round % 4 == 1 ? 65535 : 4095) : 255, wide);
    out.fillRandom(rng, 255, false);
    const TestImage before = out;
    const int red = gain(rng), blue = gain(rng);
    RunDemosaic(out, raw, {mode, red, 100, blue});
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int expected[3];
        RefDemosaicPixel(raw, wide, mode, red, blue, x, y, expected);
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(expected[c], out.get(x, y, c, wide))
              << "round " << round << " " << w << "x" << h << " mode " << mode << " at " << x << "," << y;
        if (out.bpp() == 4 || out.bpp() == 8) {
          for (int b = out.bpp() * 3 / 4; b < out.bpp(); ++b) {
            ASSERT_EQ(before.at(x, y)[b], out.at(x, y)[b]);
          }
        }
      }
    // Row padding is never written.
    for (int y = 0; y < h; ++y)
      for (int b = w * out.bpp(); b < out.stride(); ++b)
        ASSERT_EQ(before.bytes()[y * out.stride() + b], out.bytes()[y * out.stride() + b]);
  }
}

// Forces one demosaic path for the scope of a test.
class ForcedPath {
 public:
  explicit ForcedPath(DemosaicPath path) { SetDemosaicPath(path); }
  ~ForcedPath() { SetDemosaicPath(DemosaicPath::kAuto); }
};

std::vector<DemosaicPath> PathsToCompare() {
  std::vector<DemosaicPath> paths{DemosaicPath::kScalar, DemosaicPath::kSse2};
  SetDemosaicPath(DemosaicPath::kAvx2);
  if (ActiveDemosaicPath() == DemosaicPath::kAvx2) paths.push_back(DemosaicPath::kAvx2);
  SetDemosaicPath(DemosaicPath::kAuto);
  return paths;
}

TEST(Demosaic, EveryPathMatchesReferenceOnWideFrames) {
  // Widths around the vector steps (16 and 32 pixels, two rows per pass), odd and even heights, so that
  // full steps, the moved-back last step, the single last row and the scalar rest all occur.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> width(20, 140), height(5, 12), gain(0, 400);
  for (DemosaicPath path : PathsToCompare()) {
    ForcedPath forced(path);
    ASSERT_EQ(path, ActiveDemosaicPath());
    for (int round = 0; round < 64; ++round) {
      const bool wide = round % 2 == 1;
      const int mode = (round / 2) % 4;
      const int w = width(rng), h = height(rng);
      const uint16_t targetBits = wide ? (round % 3 ? 48 : 64) : (round % 3 ? 24 : 32);
      TestImage raw(w, h, wide ? 16 : 8, round % 7), out(w, h, targetBits, round % 5);
      raw.fillRandom(rng, wide ? (round % 4 == 1 ? 65535 : 4095) : 255, wide);
      out.fillRandom(rng, 255, false);
      const TestImage before = out;
      const int red = gain(rng), blue = gain(rng);
      RunDemosaic(out, raw, {mode, red, 100, blue});
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          int expected[3];
          RefDemosaicPixel(raw, wide, mode, red, blue, x, y, expected);
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(expected[c], out.get(x, y, c, wide)) << "path " << static_cast<int>(path) << " round "
                                                           << round << " " << w << "x" << h << " at " << x << "," << y;
          for (int b = out.bpp() * 3 / 4; out.bpp() % 4 == 0 && b < out.bpp(); ++b)
            ASSERT_EQ(before.at(x, y)[b], out.at(x, y)[b]) << "fourth channel at " << x << "," << y;
        }
        for (int b = w * out.bpp(); b < out.stride(); ++b)
          ASSERT_EQ(before.bytes()[y * out.stride() + b], out.bytes()[y * out.stride() + b]) << "padding";
      }
    }
  }
}

TEST(Demosaic, VectorPathsMatchScalarOnRectanglesAtOffsets) {
  // A rectangle of a larger raw frame at odd and even offsets, into a target at an offset: the Bayer
  // phase follows the absolute column and row, and nothing outside the target rectangle is written.
  std::mt19937 rng(8);
  std::uniform_int_distribution<int> offset(0, 5), extent(36, 90), gain(0, 400);
  for (int round = 0; round < 48; ++round) {
    const bool wide = round % 2 == 0;
    const uint16_t targetBits = wide ? (round % 4 < 2 ? 48 : 64) : (round % 4 < 2 ? 24 : 32);
    TestImage raw(100, 24, wide ? 16 : 8, round % 3), out(104, 26, targetBits, round % 2);
    raw.fillRandom(rng, wide ? 4095 : 255, wide);
    out.fillRandom(rng, 255, false);
    const int left = offset(rng), top = offset(rng);
    const KernelRect rect{left, top, left + extent(rng), top + 10 + offset(rng) * 2};
    const int tx = offset(rng), ty = offset(rng);
    ColourRecord colour{round % 4, gain(rng), 100, gain(rng)};
    auto run = [&](DemosaicPath path) {
      ForcedPath forced(path);
      TestImage result = out;
      ApplyKernel(result.view(), wide ? DemosaicInterior16 : DemosaicInterior8, raw.view(), &rect, tx, ty, &colour);
      ApplyKernel(result.view(), wide ? DemosaicBorder16 : DemosaicBorder8, raw.view(), &rect, tx, ty, &colour);
      return result;
    };
    const TestImage scalar = run(DemosaicPath::kScalar);
    ASSERT_NE(out.bytes(), scalar.bytes());
    for (DemosaicPath path : PathsToCompare()) ASSERT_EQ(scalar.bytes(), run(path).bytes()) << "path " << static_cast<int>(path) << " round " << round;
  }
}

TEST(Demosaic, InteriorAloneWritesOnlyTheInterior) {
  std::mt19937 rng(7);
  TestImage raw(53, 19, 8), out(53, 19, 24);
  raw.fillRandom(rng, 255, false);
  out.fill(0xEE, false);
  ColourRecord colour{3, 150, 100, 90};
  ApplyKernel(out.view(), DemosaicInterior8, raw.view(), nullptr, 0, 0, &colour);
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 53; ++x) {
      const bool interior = x >= 2 && x < 51 && y >= 2 && y < 17;
      if (!interior) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(0xEE, out.get(x, y, c)) << x << "," << y;
      } else {
        int expected[3];
        RefDemosaicPixel(raw, false, 3, 150, 90, x, y, expected);
        for (int c = 0; c < 3; ++c) ASSERT_EQ(expected[c], out.get(x, y, c));
      }
    }
}

TEST(Demosaic, TinyFramesStayInsideTheirBuffers) {
  std::mt19937 rng(9);
  for (int w = 1; w <= 5; ++w)
    for (int h = 1; h <= 5; ++h)
      for (bool wide : {false, true}) {
        TestImage raw(w, h, wide ? 16 : 8), out(w, h, wide ? 48 : 24);
        raw.fillRandom(rng, wide ? 4095 : 255, wide);
        RunDemosaic(out, raw, {1, 100, 100, 100});  // ASan reports any stray access
      }
}

TEST(Demosaic, BorderOfRowsInPiecesEqualsTheWholeBorder) {
  // The border made piece by piece (as the frame pipeline's bands do) writes the same pixels as the
  // whole border kernel and nothing else, for frames down to a single row and pieces of any length.
  std::mt19937 rng(17);
  const int shapes[][2] = {{1, 1}, {3, 2}, {5, 5}, {9, 4}, {33, 17}, {64, 40}};
  for (const auto& shape : shapes)
    for (bool wide : {false, true})
      for (int bits : {wide ? 48 : 24, wide ? 64 : 32}) {
        const int w = shape[0], h = shape[1];
        TestImage raw(w, h, wide ? 16 : 8), whole(w, h, bits);
        raw.fillRandom(rng, wide ? 4095 : 255, wide);
        whole.fillRandom(rng, 255, false);  // every pixel the kernels leave alone must stay as it is
        TestImage pieces = whole;
        ColourRecord colour{static_cast<int32_t>(rng() % 4), 90, 100, 140};
        ASSERT_EQ(1, ApplyKernel(whole.view(), wide ? DemosaicBorder16 : DemosaicBorder8, raw.view(), nullptr, 0, 0, &colour));
        for (int first = 0; first < h;) {
          const int end = std::min(h, first + 1 + static_cast<int>(rng() % 5));
          BorderRowsRecord rows{&colour, first, end};
          ASSERT_EQ(1, ApplyKernel(pieces.view(), wide ? DemosaicBorderRows16 : DemosaicBorderRows8, raw.view(), nullptr,
                                   0, 0, &rows));
          first = end;
        }
        EXPECT_EQ(whole.bytes(), pieces.bytes()) << w << "x" << h << " bits " << bits;
      }
}

// --- Defect filter --------------------------------------------------------------------------------

// Reference scan, straight from the description.
int64_t RefDefectFilter(TestImage& img, bool wide, ColourRecord colour, int threshold) {
  int64_t replaced = 0;
  for (int y = 2; y < img.height() - 2; ++y)
    for (int x = 2; x < img.width() - 2; ++x) {
      const int v = img.get(x, y, 0, wide);
      const int mean = (img.get(x - 2, y, 0, wide) + img.get(x + 2, y, 0, wide) + img.get(x, y - 2, 0, wide) +
                        img.get(x, y + 2, 0, wide)) / 4;
      if (wide) {
        if (std::abs(v - mean) >= threshold) img.set(x, y, 0, mean, true);
        continue;
      }
      if (v - mean < threshold) continue;
      int rgb[3];
      RefDemosaicPixel(img, false, colour.bayerMode, colour.redGain, colour.blueGain, x, y, rgb);
      const int b = rgb[0], g = rgb[1], r = rgb[2];
      const int tinted = (std::abs(r - g) > threshold) + (std::abs(r - b) > threshold) + (std::abs(g - b) > threshold);
      if (tinted >= 2) {
        img.set(x, y, 0, mean);
        ++replaced;
      }
    }
  return wide ? 0 : replaced;
}

int64_t RunDefectFilter(TestImage& img, ColourRecord colour) {
  ThresholdRecord threshold{30};
  return ApplyKernel(img.view(), FilterDefectPixels, img.view(), nullptr, 0, 0, &colour, &threshold);
}

TEST(DefectFilter, GreyAreaOutlierStaysIn8BitButIsReplacedIn16Bit) {
  TestImage raw8(12, 12, 8);
  raw8.fill(100, false);
  raw8.set(6, 6, 0, 140);
  EXPECT_EQ(0, RunDefectFilter(raw8, {0, 100, 100, 100}));
  EXPECT_EQ(140, raw8.get(6, 6));

  TestImage raw16(12, 12, 16);
  raw16.fill(1000, true);
  raw16.set(6, 6, 0, 1040, true);
  raw16.set(4, 8, 0, 900, true);  // dark outliers count as well
  EXPECT_EQ(0, RunDefectFilter(raw16, {0, 100, 100, 100}));
  EXPECT_EQ(1000, raw16.get(6, 6, 0, true));
  EXPECT_EQ(1000, raw16.get(4, 8, 0, true));
}

TEST(DefectFilter, TintedHotPixelIsReplacedAndCounted) {
  // A hot red sample (mode 0: odd rows, even columns) in a grey field tints its estimate strongly.
  TestImage raw(16, 16, 8);
  raw.fill(60, false);
  raw.set(6, 7, 0, 250);
  EXPECT_EQ(1, RunDefectFilter(raw, {0, 100, 100, 100}));
  EXPECT_EQ(60, raw.get(6, 7));
}

TEST(DefectFilter, FramesBelowFivePixelsAreUntouched) {
  std::mt19937 rng(3);
  for (auto [w, h] : {std::pair{4, 30}, std::pair{30, 4}}) {
    TestImage raw(w, h, 16);
    raw.fillRandom(rng, 4095, true);
    const TestImage before = raw;
    RunDefectFilter(raw, {0, 100, 100, 100});
    EXPECT_EQ(before.bytes(), raw.bytes());
  }
}

TEST(DefectFilter, MatchesReferenceScanOnRandomFrames) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> size(5, 60), gain(50, 300);
  int64_t totalReplaced = 0;
  int changedFrames = 0;
  for (int round = 0; round < 120; ++round) {
    const bool wide = round % 2 == 0;
    TestImage img(size(rng), size(rng), wide ? 16 : 8, round % 4);
    // Smooth background with spikes, so that both replaced and kept pixels occur.
    std::uniform_int_distribution<int> noise(0, wide ? 40 : 12), spike(0, 30);
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        int v = (wide ? 1500 : 90) + noise(rng);
        if (spike(rng) == 0) v = wide ? 4000 : 255;
        if (spike(rng) == 1 && !wide) v = ((x + y) & 1) ? 250 : 5;
        img.set(x, y, 0, v, wide);
      }
    const ColourRecord colour{round % 4, gain(rng), 100, gain(rng)};
    TestImage expected = img;
    const int64_t expectedCount = RefDefectFilter(expected, wide, colour, 30);
    totalReplaced += expectedCount;
    changedFrames += expected.bytes() != img.bytes();
    EXPECT_EQ(expectedCount, RunDefectFilter(img, colour)) << "round " << round;
    ASSERT_EQ(expected.bytes(), img.bytes()) << "round " << round;
  }
  // The scenes must exercise replacement in both depths, or the comparison proves little.
  EXPECT_GT(totalReplaced, 20);
  EXPECT_GT(changedFrames, 100);
}

TEST(EstimatePixelColor, LimitsBrightRedAndBlueInsteadOfWrapping) {
  TestImage raw(8, 8, 8);
  raw.fill(250, false);
  const EstimatedColour c = EstimatePixelColor(raw.data(), raw.stride(), 4, 4, {0, 400, 100, 400});
  EXPECT_EQ(255, c.red);
  EXPECT_EQ(255, c.blue);
  EXPECT_EQ(250, c.green);
}

}  // namespace
}  // namespace tovira::test
