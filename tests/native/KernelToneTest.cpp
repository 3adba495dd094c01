// Grey gains, grey from colour, hue/saturation, gamma, contrast, sharpness and brightness.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/GrayProcessing.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/Sharpen.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

int64_t InPlace(TestImage& img, PixelKernel kernel, void* p) {
  return ApplyKernel(img.view(), kernel, img.view(), nullptr, 0, 0, p);
}

// A one-row grey image holding `values`, run through the kernel, read back.
std::vector<int> MapGray(PixelKernel kernel, ValueRecord record, const std::vector<int>& values, bool wide) {
  TestImage img(static_cast<int>(values.size()), 1, wide ? 16 : 8);
  for (size_t i = 0; i < values.size(); ++i) img.set(static_cast<int>(i), 0, 0, values[i], wide);
  InPlace(img, kernel, &record);
  std::vector<int> out;
  for (size_t i = 0; i < values.size(); ++i) out.push_back(img.get(static_cast<int>(i), 0, 0, wide));
  return out;
}

TEST(Gamma, WorkedValues) {
  EXPECT_EQ(127, MapGray(GammaGray8, {50, 12}, {64}, false)[0]);
  EXPECT_EQ((std::vector<int>{255, 244}), MapGray(GammaGray8, {200, 12}, {255, 254}, false));
  EXPECT_EQ((std::vector<int>{255, 255, 255}), MapGray(GammaGray8, {0, 12}, {0, 1, 200}, false));
  // The colour kernel keeps its exponent at 0.001 or more, so black stays black.
  TestImage bgr(2, 1, 24);
  bgr.fill(0, false);
  bgr.set(1, 0, 2, 200);
  ValueRecord zero{0, 12};
  InPlace(bgr, GammaBgr8, &zero);
  EXPECT_EQ(0, bgr.get(0, 0, 0));
  EXPECT_EQ(static_cast<int>(std::pow(200 / 255.0, 0.001) * 255), bgr.get(1, 0, 2));
}

TEST(Gamma, SixteenBitTableAndOutOfRangeSamples) {
  const auto out = MapGray(GammaGray16, {50, 12}, {0, 1024, 4095, 5000, 65535}, true);
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(static_cast<int>(std::sqrt(1024 / 4096.0) * 4095), out[1]);
  EXPECT_EQ(static_cast<int>(std::sqrt(4095 / 4096.0) * 4095), out[2]);
  EXPECT_EQ(out[2], out[3]);  // above 12 bits: the table's last entry, never a read past it
  EXPECT_EQ(out[2], out[4]);
}

TEST(Contrast, WorkedValues) {
  EXPECT_EQ((std::vector<int>{0, 0, 0, 128, 255, 255}),
            MapGray(ContrastGray8, {127, 12}, {0, 100, 127, 128, 129, 255}, false));
  EXPECT_EQ((std::vector<int>{63, 191}), MapGray(ContrastGray8, {-127, 12}, {0, 255}, false));
  // 16 bits: the same curve on a 4096-step scale (m scaled by 16).
  const auto out = MapGray(ContrastGray16, {64, 12}, {1023, 1024, 2048, 3071, 3072, 4095}, true);
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(0, out[1]);
  EXPECT_EQ(2048, out[2]);
  EXPECT_EQ(4094, out[3]);
  EXPECT_EQ(4095, out[4]);
  EXPECT_EQ(4095, out[5]);
}

TEST(Brightness, WorkedValues) {
  EXPECT_EQ(198, MapGray(BrightnessGray8, {25, 12}, {100}, false)[0]);
  EXPECT_EQ((std::vector<int>{0, 0}), MapGray(BrightnessGray8, {-255, 12}, {100, 255}, false));
  EXPECT_EQ((std::vector<int>{11, 255}), MapGray(BrightnessGray8, {255, 12}, {1, 24}, false));
  EXPECT_EQ((std::vector<int>{1980, 4095}), MapGray(BrightnessGray16, {25, 12}, {1000, 4000}, true));
}

// All three channels of the colour families follow the grey curves, fourth channel untouched.
TEST(ToneFamilies, ColourKernelsMatchTheirGreyCurvesOnEveryChannel) {
  struct Family {
    PixelKernel grey, colour;
    int value;
  };
  std::mt19937 rng(5);
  for (bool wide : {false, true}) {
    const Family families[] = {
        {wide ? GammaGray16 : GammaGray8, wide ? GammaBgr16 : GammaBgr8, 137},
        {wide ? ContrastGray16 : ContrastGray8, wide ? ContrastBgr16 : ContrastBgr8, -40},
        {wide ? BrightnessGray16 : BrightnessGray8, wide ? BrightnessBgr16 : BrightnessBgr8, 77},
    };
    for (const Family& f : families) {
      TestImage bgr(13, 7, wide ? 64 : 32, 4);
      bgr.fillRandom(rng, wide ? 4095 : 255, wide);
      const TestImage before = bgr;
      ValueRecord record{f.value, 12};
      InPlace(bgr, f.colour, &record);
      std::vector<int> all;
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x)
          for (int c = 0; c < 3; ++c) all.push_back(before.get(x, y, c, wide));
      const auto expected = MapGray(f.grey, record, all, wide);
      size_t i = 0;
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
          for (int c = 0; c < 3; ++c) ASSERT_EQ(expected[i++], bgr.get(x, y, c, wide));
          ASSERT_EQ(before.get(x, y, 3, wide), bgr.get(x, y, 3, wide));
        }
    }
  }
}

// --- Sharpness --------------------------------------------------------------------------------------

void RefSharpen(TestImage& out, const TestImage& src, int amount, int channels, bool wide) {
  const int largest = wide ? 4095 : 255;
  for (int y = 2; y < src.height() - 2; ++y)
    for (int x = 2; x < src.width() - 2; ++x)
      for (int c = 0; c < channels; ++c) {
        int sum = 0;
        for (int dy = -2; dy <= 1; ++dy)
          for (int dx = -2; dx <= 1; ++dx) sum += src.get(x + dx, y + dy, c, wide);
        const int v = src.get(x, y, c, wide), blur = sum >> 4;
        out.set(x, y, c, std::clamp(v + amount * (v - blur) / 10, 0, largest), wide);
      }
}

TEST(ToneFamilies, ByteRunsThroughATableOnEveryPathKeepFourthBytesAndTails) {
  // The lookup the paths without byte permutes use (eight bytes a word; 32 bytes a step by byte
  // shuffles on the AVX2 and AVX-512 paths), a tail byte by byte, in place or into another buffer, with
  // every fourth byte kept or not; every byte value in every position of a 32-byte step.
  std::mt19937 rng(8);
  uint8_t table[256];
  for (auto& v : table) v = static_cast<uint8_t>(rng());
  for (VectorPath path : {VectorPath::kScalar, VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512}) {
    SetVectorPath(path);
    for (size_t n : {0, 1, 7, 8, 9, 31, 32, 33, 41, 63, 64, 65, 100, 256, 259})
      for (bool keepFourth : {false, true})
        for (bool inPlace : {false, true}) {
          std::vector<uint8_t> source(n), target(n);
          for (size_t i = 0; i < n; ++i) source[i] = static_cast<uint8_t>(n == 256 ? i * 33 : rng());
          for (auto& v : target) v = static_cast<uint8_t>(rng());
          std::vector<uint8_t> expected = inPlace ? source : target;
          for (size_t i = 0; i < n; ++i)
            if (!keepFourth || i % 4 != 3) expected[i] = table[source[i]];
          std::vector<uint8_t>& out = inPlace ? source : target;
          LookupBytes(out.data(), source.data(), n, table, keepFourth);
          EXPECT_EQ(expected, out) << n << " bytes, keep fourth " << keepFourth << ", in place " << inPlace << " "
                                   << VectorPathName(ActiveVectorPath());
        }
  }
  SetVectorPath(VectorPath::kAuto);
}

TEST(Sharpen, FlatImageUnchangedAndBrightPointGrowsWithDarkerNeighbours) {
  TestImage img(12, 12, 8);
  img.fill(100, false);
  TestImage scratch = img;
  ValueRecord record{20, 12};
  ApplyKernel(img.view(), SharpenGray8, scratch.view(), nullptr, 0, 0, &record);
  EXPECT_EQ(scratch.bytes(), img.bytes());

  img.set(6, 6, 0, 160);
  scratch = img;
  ApplyKernel(img.view(), SharpenGray8, scratch.view(), nullptr, 0, 0, &record);
  EXPECT_GT(img.get(6, 6), 160);
  EXPECT_LT(img.get(5, 6), 100);
  EXPECT_LT(img.get(7, 7), 100);
  EXPECT_EQ(100, img.get(1, 6));  // the two-pixel frame keeps its input
}

TEST(Sharpen, MatchesReferenceInAllFamilies) {
  std::mt19937 rng(8);
  struct Family {
    PixelKernel kernel;
    uint16_t bits;
    int channels;
    bool wide;
  };
  const Family families[] = {{SharpenGray8, 8, 1, false}, {SharpenGray16, 16, 1, true},
                             {SharpenBgr8, 24, 3, false}, {SharpenBgr8, 32, 3, false},
                             {SharpenBgr16, 48, 3, true}, {SharpenBgr16, 64, 3, true}};
  std::uniform_int_distribution<int> size(1, 300), amount(1, 30);
  for (int round = 0; round < 24; ++round) {
    const Family& f = families[round % 6];
    const int w = round < 6 ? 290 : size(rng) % 40 + 1;  // wide frames cross the strip boundaries
    TestImage src(w, size(rng) % 20 + 1, f.bits, round % 3);
    src.fillRandom(rng, f.wide ? 4095 : 255, f.wide);
    TestImage out = src, expected = src;
    const int s = amount(rng);
    ValueRecord record{s, 12};
    ApplyKernel(out.view(), f.kernel, src.view(), nullptr, 0, 0, &record);
    RefSharpen(expected, src, s, f.channels, f.wide);
    ASSERT_EQ(expected.bytes(), out.bytes()) << "round " << round;
  }
}

TEST(Sharpen, RectanglesAtOffsetsMatchReferenceOfTheCrop) {
  // The kernel called directly with a storage rectangle and a target position: the rectangle is the
  // frame, and only its inner pixels land in the target (the fourth byte of 32-bit pixels untouched).
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> offset(0, 7), extent(5, 70), amount(1, 30);
  const struct {
    PixelKernel kernel;
    uint16_t bits;
    int channels;
  } families[] = {{SharpenGray8, 8, 1}, {SharpenBgr8, 24, 3}, {SharpenBgr8, 32, 3}};
  for (int round = 0; round < 36; ++round) {
    const auto& f = families[round % 3];
    const int bpp = f.bits / 8;
    TestImage src(90, 30, f.bits, round % 4), target(100, 34, f.bits, round % 3);
    src.fillRandom(rng, 255, false);
    target.fillRandom(rng, 255, false);
    const KernelRect rect{offset(rng), offset(rng), 0, 0};
    const KernelRect r{rect.left, rect.top, rect.left + extent(rng), rect.top + 5 + offset(rng) * 2};
    const int tx = offset(rng), ty = offset(rng);
    TestImage crop(r.width(), r.height(), f.bits);
    for (int yy = 0; yy < r.height(); ++yy)
      std::memcpy(crop.at(0, yy), src.at(r.left, r.top + yy), static_cast<size_t>(r.width()) * bpp);
    TestImage expected(r.width(), r.height(), f.bits);
    for (int yy = 0; yy < r.height(); ++yy)
      std::memcpy(expected.at(0, yy), target.at(tx, ty + yy), static_cast<size_t>(r.width()) * bpp);
    const int s = amount(rng);
    RefSharpen(expected, crop, s, f.channels, false);
    ValueRecord record{s, 12};
    f.kernel(target.data(), src.data(), r, tx, ty, static_cast<uint16_t>(bpp), static_cast<uint16_t>(bpp),
             target.stride(), src.stride(), &record, nullptr);
    for (int yy = 0; yy < r.height(); ++yy)
      ASSERT_EQ(0, std::memcmp(expected.at(0, yy), target.at(tx, ty + yy), static_cast<size_t>(r.width()) * bpp))
          << "round " << round << " row " << yy;
  }
}

// --- Grey gains and grey from colour ----------------------------------------------------------------

TEST(GrayGains, OneRaisedValueScalesOnlyItsPosition) {
  TestImage img(8, 8, 8);
  img.fill(100, false);
  GrayGainRecord record{0, {255, 128, 128, 128, 128, 128, 128, 128}, 8};
  InPlace(img, ApplyGrayGains8, &record);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool rPosition = (y % 4 == 0) && (x % 2 == 1);  // row phase 0, column phase 1
      EXPECT_EQ(rPosition ? 199 : 100, img.get(x, y)) << x << "," << y;
    }
  img.fill(200, false);
  InPlace(img, ApplyGrayGains8, &record);
  EXPECT_EQ(255, img.get(1, 0));  // limited
}

TEST(GrayGains, MatchReferenceForEveryModeAndNegativeOffsetsGiveBlack) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> value(-255, 300);
  for (int round = 0; round < 40; ++round) {
    const bool wide = round % 2 == 1;
    const int mode = round % 4;
    TestImage img(9 + round % 5, 11 + round % 3, wide ? 16 : 8, round % 2);
    img.fillRandom(rng, wide ? 4095 : 255, wide);
    const TestImage before = img;
    GrayGainRecord record{mode, {}, wide ? 12 : 8};
    for (int& v : record.values) v = value(rng);
    InPlace(img, wide ? ApplyGrayGains16 : ApplyGrayGains8, &record);
    // Row phase from the Bayer mode's row offset, column phase from its column offset.
    const int rowOffset = (mode == 1 || mode == 3) ? 1 : 0, colOffset = (mode == 2 || mode == 3) ? 1 : 0;
    const int table[4][2] = {{1, 0}, {3, 2}, {5, 4}, {7, 6}};
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        const int gain = record.values[table[(y + rowOffset) % 4][(x + colOffset) % 2]];
        const int expected = std::clamp(gain * before.get(x, y, 0, wide) / 128, 0, wide ? 4095 : 255);
        ASSERT_EQ(expected, img.get(x, y, 0, wide)) << "mode " << mode << " at " << x << "," << y;
      }
  }
}

TEST(GrayFromBgr24, WeightsRedGreenBlue) {
  TestImage bgr(3, 1, 24), grey(3, 1, 8);
  const int pixels[3][3] = {{0, 0, 255}, {0, 255, 0}, {10, 20, 30}};  // blue, green, red
  for (int x = 0; x < 3; ++x)
    for (int c = 0; c < 3; ++c) bgr.set(x, 0, c, pixels[x][c]);
  ApplyKernel(grey.view(), GrayFromBgr24, bgr.view());
  EXPECT_EQ(76, grey.get(0, 0));
  EXPECT_EQ(150, grey.get(1, 0));
  EXPECT_EQ((30 * 30 + 20 * 59 + 10 * 11) / 100, grey.get(2, 0));
}

// --- Hue and saturation -------------------------------------------------------------------------

TEST(HueSaturation, HueShiftStepsOfWorkedAngles) {
  EXPECT_EQ(255, HueShiftSteps(60));
  EXPECT_EQ(1275, HueShiftSteps(300));
  EXPECT_EQ(0, HueShiftSteps(0));
  EXPECT_EQ(0, HueShiftSteps(360));
  EXPECT_EQ(HueShiftSteps(300), HueShiftSteps(-60) + 1);  // -60 lands one step short of 300
}

struct Rgb {
  int r, g, b;
};

Rgb Transform(Rgb in, int hue, int saturation) {
  TestImage img(1, 1, 24);
  img.set(0, 0, 0, in.b), img.set(0, 0, 1, in.g), img.set(0, 0, 2, in.r);
  HueSaturationRecord record{hue, 0, saturation, 12};
  InPlace(img, HueSaturationBgr8, &record);
  return {img.get(0, 0, 2), img.get(0, 0, 1), img.get(0, 0, 0)};
}

TEST(HueSaturation, SixtyAndThreeHundredDegreesTurnThePrimaries) {
  auto expectRgb = [](Rgb expected, Rgb actual) {
    EXPECT_EQ(expected.r, actual.r);
    EXPECT_EQ(expected.g, actual.g);
    EXPECT_EQ(expected.b, actual.b);
  };
  expectRgb({255, 255, 0}, Transform({255, 0, 0}, 60, 0));    // red -> yellow
  expectRgb({0, 255, 255}, Transform({0, 255, 0}, 60, 0));    // green -> cyan
  expectRgb({255, 0, 255}, Transform({0, 0, 255}, 60, 0));    // blue -> magenta
  expectRgb({255, 0, 255}, Transform({255, 0, 0}, 300, 0));   // red -> magenta
  expectRgb({0, 0, 255}, Transform({0, 255, 255}, 60, 0));    // cyan -> blue
}

// Independent model: HSL in double precision, hue turned, chroma scaled by (s + 256) / 256 and limited
// by the lightness.
Rgb ReferenceHsl(Rgb in, int hue, int saturation) {
  const double r = in.r, g = in.g, b = in.b;
  const double hi = std::max({r, g, b}), lo = std::min({r, g, b}), chroma = hi - lo;
  double h = 0;
  if (chroma > 0) {
    if (hi == r) h = std::fmod((g - b) / chroma + 6.0, 6.0);
    else if (hi == g) h = (b - r) / chroma + 2.0;
    else h = (r - g) / chroma + 4.0;
  }
  h = std::fmod(h + hue / 60.0 + 12.0, 6.0);
  const double sum = hi + lo;
  const double c = std::min({chroma * (saturation + 256) / 256.0, sum, 510.0 - sum});
  const double low = (sum - c) / 2, xpart = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
  double rr = 0, gg = 0, bb = 0;
  switch (static_cast<int>(h)) {
    case 0: rr = c, gg = xpart; break;
    case 1: rr = xpart, gg = c; break;
    case 2: gg = c, bb = xpart; break;
    case 3: gg = xpart, bb = c; break;
    case 4: rr = xpart, bb = c; break;
    default: rr = c, bb = xpart; break;
  }
  return {static_cast<int>(std::lround(rr + low)), static_cast<int>(std::lround(gg + low)),
          static_cast<int>(std::lround(bb + low))};
}

TEST(HueSaturation, FollowsTheHslModelOnRandomColours) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> channel(0, 255), hue(-360, 360), sat(-255, 255);
  for (int i = 0; i < 20000; ++i) {
    const Rgb in{channel(rng), channel(rng), channel(rng)};
    const int h = hue(rng), s = i % 3 == 0 ? 0 : sat(rng);
    const Rgb out = Transform(in, h, s), ref = ReferenceHsl(in, h, s);
    ASSERT_NEAR(ref.r, out.r, 4) << in.r << "," << in.g << "," << in.b << " hue " << h << " sat " << s;
    ASSERT_NEAR(ref.g, out.g, 4) << in.r << "," << in.g << "," << in.b << " hue " << h << " sat " << s;
    ASSERT_NEAR(ref.b, out.b, 4) << in.r << "," << in.g << "," << in.b << " hue " << h << " sat " << s;
  }
}

TEST(HueSaturation, FullDesaturationGreysAndGreyIsUnchanged) {
  std::mt19937 rng(22);
  std::uniform_int_distribution<int> channel(0, 255);
  for (int i = 0; i < 2000; ++i) {
    const Rgb in{channel(rng), channel(rng), channel(rng)};
    const Rgb out = Transform(in, 0, -255);
    const int lightness = (std::max({in.r, in.g, in.b}) + std::min({in.r, in.g, in.b})) / 2;
    EXPECT_LE(std::max({out.r, out.g, out.b}) - std::min({out.r, out.g, out.b}), 1);
    EXPECT_NEAR(lightness, out.g, 1);
    const int v = channel(rng);
    const Rgb grey = Transform({v, v, v}, 123, 200);
    EXPECT_EQ(v, grey.r);
    EXPECT_EQ(v, grey.g);
    EXPECT_EQ(v, grey.b);
  }
}

TEST(HueSaturation, SixteenBitFamilyWorksOnBits4To11AndLeavesTheFourthSample) {
  std::mt19937 rng(23);
  TestImage wide(17, 5, 64), narrow(17, 5, 24);
  wide.fillRandom(rng, 4095, true);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 17; ++x)
      for (int c = 0; c < 3; ++c) narrow.set(x, y, c, wide.get(x, y, c, true) >> 4);
  const TestImage before = wide;
  HueSaturationRecord record{75, 0, 90, 12};
  InPlace(wide, HueSaturationBgr16, &record);
  InPlace(narrow, HueSaturationBgr8, &record);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 17; ++x) {
      const bool grey = before.get(x, y, 0, true) >> 4 == before.get(x, y, 1, true) >> 4 &&
                        before.get(x, y, 1, true) >> 4 == before.get(x, y, 2, true) >> 4;
      for (int c = 0; c < 3 && !grey; ++c) ASSERT_EQ(narrow.get(x, y, c) << 4, wide.get(x, y, c, true));
      ASSERT_EQ(before.get(x, y, 3, true), wide.get(x, y, 3, true));
    }
}

// The 16-bit composed tables on every vector path against the scalar loop: grey, BGR and BGR with a
// fourth sample, in place and into another image, odd widths, samples above the table's last entry
// (which read that entry), and tables of 12 and 16 significant bits (the last entry at the very end).
TEST(ToneTable16, VectorPathsEqualScalarForEveryLayoutAndOutOfRangeSamples) {
  std::mt19937 rng(16);
  struct Case {
    PixelKernel kernel;
    uint16_t bits;
  };
  const Case cases[] = {{ToneTableGray16, 16}, {ToneTableBgr16, 48}, {ToneTableBgr16, 64}};
  // Random tables, then the brightness alone (which the AVX2 and AVX-512 paths compute instead of
  // reading): darkest, darker, brighter, brightest.
  for (int32_t brightness : {0, -255, -77, 41, 255})
  for (int32_t significant : {12, 16}) {
    std::vector<uint16_t> table(size_t{1} << significant);
    for (auto& v : table) v = static_cast<uint16_t>(rng());
    ToneTableRecord record{table.data(), significant};
    if (brightness != 0) {
      BuildBrightnessTable16(brightness, significant, table.data());
      record.brightnessOnly = true;
      record.brightnessFactor = BrightnessFactor(brightness);
    }
    for (const Case& c : cases)
      for (int w : {1, 7, 31, 32, 33, 100, 257}) {
        TestImage source(w, 4, c.bits, w % 2 * 4);
        source.fillRandom(rng, 65535, true);
        source.set(0, 0, 0, (1 << significant) - 1, true);  // the last entry itself
        TestImage target(w, 4, c.bits, 4);
        target.fillRandom(rng, 65535, true);
        SetVectorPath(VectorPath::kScalar);
        TestImage expectedInPlace = source, expected = target;
        ApplyKernel(expectedInPlace.view(), c.kernel, expectedInPlace.view(), nullptr, 0, 0, &record);
        ApplyKernel(expected.view(), c.kernel, source.view(), nullptr, 0, 0, &record);
        for (VectorPath path : {VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512}) {
          SetVectorPath(path);
          TestImage inPlace = source, out = target;
          ApplyKernel(inPlace.view(), c.kernel, inPlace.view(), nullptr, 0, 0, &record);
          ApplyKernel(out.view(), c.kernel, source.view(), nullptr, 0, 0, &record);
          EXPECT_EQ(expectedInPlace.bytes(), inPlace.bytes())
              << "bits " << c.bits << " width " << w << " table bits " << significant << " brightness "
              << brightness << " " << VectorPathName(path);
          EXPECT_EQ(expected.bytes(), out.bytes())
              << "bits " << c.bits << " width " << w << " table bits " << significant << " brightness "
              << brightness << " " << VectorPathName(path);
        }
      }
  }
  SetVectorPath(VectorPath::kAuto);
}

// The 8-bit composed tables on every path against the scalar loop: grey, BGR and BGR with a fourth byte,
// in place and into another image, odd widths and padded strides.
TEST(ToneTable8, VectorPathsEqualScalarForEveryLayout) {
  std::mt19937 rng(18);
  struct Case {
    PixelKernel kernel;
    uint16_t bits;
  };
  const Case cases[] = {{ToneTableGray8, 8}, {ToneTableBgr8, 24}, {ToneTableBgr8, 32}};
  uint8_t table[256];
  ToneTableRecord record{table, 8};
  // A random table, then the brightness alone (which the AVX2 path computes instead of reading).
  for (int32_t brightness : {0, -255, -77, 41, 255})
  for (const Case& c : cases)
    for (int w : {1, 7, 10, 11, 31, 33, 64, 100, 257}) {
      if (brightness == 0) {
        for (auto& v : table) v = static_cast<uint8_t>(rng());
        record.brightnessOnly = false;
      } else {
        BuildBrightnessTable8(brightness, table);
        record.brightnessOnly = true;
        record.brightnessFactor = BrightnessFactor(brightness);
      }
      TestImage source(w, 3, c.bits, w % 3 * 4);
      source.fillRandom(rng, 255, false);
      TestImage target(w, 3, c.bits, 4);
      target.fillRandom(rng, 255, false);
      SetVectorPath(VectorPath::kScalar);
      TestImage expectedInPlace = source, expected = target;
      ApplyKernel(expectedInPlace.view(), c.kernel, expectedInPlace.view(), nullptr, 0, 0, &record);
      ApplyKernel(expected.view(), c.kernel, source.view(), nullptr, 0, 0, &record);
      for (VectorPath path : {VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512}) {
        SetVectorPath(path);
        TestImage inPlace = source, out = target;
        ApplyKernel(inPlace.view(), c.kernel, inPlace.view(), nullptr, 0, 0, &record);
        ApplyKernel(out.view(), c.kernel, source.view(), nullptr, 0, 0, &record);
        EXPECT_EQ(expectedInPlace.bytes(), inPlace.bytes())
            << "bits " << c.bits << " width " << w << " brightness " << brightness << " " << VectorPathName(path);
        EXPECT_EQ(expected.bytes(), out.bytes())
            << "bits " << c.bits << " width " << w << " brightness " << brightness << " " << VectorPathName(path);
      }
    }
  SetVectorPath(VectorPath::kAuto);
}

}  // namespace
}  // namespace tovira::test
