// White balance, grey balance and the auto iris's rules and measurements.
#include <gtest/gtest.h>

#include "pipeline/ApplyKernel.h"
#include "pipeline/Measure.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

// A Bayer frame whose green, blue and red samples hold fixed levels.
TestImage BayerScene(int w, int h, int mode, int green, int blue, int red, bool wide) {
  TestImage img(w, h, wide ? 16 : 8, 2);
  const int levels[3] = {green, blue, red};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.set(x, y, 0, levels[RefColour(mode, x, y)], wide);
  return img;
}

WhiteBalanceRecord Balance(const TestImage& img, int mode, WhiteBalanceRecord start = {111, 222, 333, 0}) {
  start.bayerMode = mode;
  ApplyKernel(img.view(), img.bpp() == 2 ? MeasureWhiteBalance16 : MeasureWhiteBalance8, img.view(),
              nullptr, 0, 0, &start);
  return start;
}

TEST(WhiteBalance, GreySceneGivesUnityAndOddSizesKeepTheirColours) {
  for (int mode = 0; mode < 4; ++mode)
    for (bool wide : {false, true}) {
      const WhiteBalanceRecord grey = Balance(BayerScene(16, 12, mode, 80, 80, 80, wide), mode);
      EXPECT_EQ(100, grey.blueGain);
      EXPECT_EQ(100, grey.greenGain);
      EXPECT_EQ(100, grey.redGain);
      // Odd width and height: each sample keeps the colour of its own row and column parity.
      const WhiteBalanceRecord warm = Balance(BayerScene(7, 5, mode, 100, 25, 50, wide), mode);
      EXPECT_EQ(400, warm.blueGain) << "mode " << mode;
      EXPECT_EQ(200, warm.redGain) << "mode " << mode;
    }
}

TEST(WhiteBalance, GainsAreLimitedTo400) {
  const WhiteBalanceRecord r = Balance(BayerScene(10, 10, 0, 100, 20, 90, false), 0);
  EXPECT_EQ(400, r.blueGain);  // 500 limited
  EXPECT_EQ(111, r.redGain);   // trunc(100 * 100 / 90)
}

TEST(WhiteBalance, BlackOrTooSmallFrameLeavesGainsAsTheyWere) {
  const WhiteBalanceRecord black = Balance(BayerScene(10, 10, 1, 0, 0, 0, false), 1);
  EXPECT_EQ(111, black.blueGain);
  EXPECT_EQ(222, black.greenGain);
  EXPECT_EQ(333, black.redGain);
  const WhiteBalanceRecord noRed = Balance(BayerScene(10, 10, 0, 50, 50, 0, true), 0);
  EXPECT_EQ(333, noRed.redGain);
  const WhiteBalanceRecord single = Balance(BayerScene(1, 1, 0, 50, 50, 50, false), 0);
  EXPECT_EQ(111, single.blueGain);
}

TEST(GrayBalance, HalfBrightClassGets256AndSaturatedOrBlackSamplesAreIgnored) {
  TestImage img(8, 8, 16);
  // Class of (x, y) in mode 0: row phase y % 4, column phase x % 2; GrayGainR is row 0, column 1.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) img.set(x, y, 0, (y % 4 == 0 && x % 2 == 1) ? 1000 : 2000, true);
  img.set(0, 0, 0, 4095, true);  // saturated: ignored
  img.set(2, 0, 0, 0, true);     // black: not counted
  GrayGainRecord record{0, {1, 2, 3, 4, 5, 6, 7, 8}, 12};
  EXPECT_EQ(1, ApplyKernel(img.view(), MeasureGrayGains, img.view(), nullptr, 0, 0, &record));
  EXPECT_EQ(256, record.values[0]);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(128, record.values[i]);
}

TEST(GrayBalance, EmptyClassLeavesTheRecordUnchanged) {
  TestImage img(8, 3, 8);  // three rows: row phase 3 never occurs
  img.fill(90, false);
  GrayGainRecord record{0, {1, 2, 3, 4, 5, 6, 7, 8}, 8};
  ApplyKernel(img.view(), MeasureGrayGains, img.view(), nullptr, 0, 0, &record);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(i + 1, record.values[i]);
  TestImage saturated(8, 8, 8);
  saturated.fill(255, false);
  ApplyKernel(saturated.view(), MeasureGrayGains, saturated.view(), nullptr, 0, 0, &record);
  EXPECT_EQ(1, record.values[0]);
}

TEST(AutoIrisRules, FactorsOfTheFiveWindowMeans) {
  auto factor = [](std::initializer_list<int32_t> m) {
    int32_t means[5];
    std::copy(m.begin(), m.end(), means);
    return AutoIrisFactorPercent(means);
  };
  EXPECT_EQ(100, factor({120, 120, 120, 120, 120}));
  EXPECT_FALSE(AutoIrisWantsChange(100));
  EXPECT_EQ(25, factor({220, 220, 220, 220, 220}));
  EXPECT_EQ(250, AutoIrisExposure(1000, 25));
  EXPECT_EQ(150, factor({30, 30, 30, 30, 30}));
  EXPECT_EQ(1500, AutoIrisExposure(1000, 150));
  EXPECT_TRUE(AutoIrisWantsChange(factor({90, 90, 90, 90, 90})));
  EXPECT_TRUE(AutoIrisWantsChange(factor({90, 90, 90, 90, 120})));  // exactly 1.2 changes
  EXPECT_FALSE(AutoIrisWantsChange(factor({90, 90, 90, 120, 120})));
  EXPECT_EQ(40, factor({201, 201, 180, 161, 200}));  // two above 200, three from 161 to 200
  EXPECT_EQ(8191, AutoIrisExposure(8000, 125));
  EXPECT_EQ(127, AutoIrisGain(120, 125));
  EXPECT_EQ(0, AutoIrisGain(0, 150));    // a gain of 0 cannot grow
  EXPECT_EQ(1, AutoIrisExposure(1, 150));
  EXPECT_EQ(1, AutoIrisExposure(3, 25));
}

TEST(AutoIrisRules, WindowsAreCornersAndCentreInTenths) {
  KernelRect w[5];
  AutoIrisWindows(3840, 2748, w);
  EXPECT_EQ(384, w[0].left);
  EXPECT_EQ(274, w[0].top);
  EXPECT_EQ(768, w[0].right);
  EXPECT_EQ(549, w[0].bottom);
  EXPECT_EQ(1728, w[2].left);
  EXPECT_EQ(2112, w[2].right);
  EXPECT_EQ(3072, w[4].left);
  EXPECT_EQ(2473, w[4].bottom);
}

TEST(WindowMean, EightAndTwelveBitFramesGiveTheSameScale) {
  TestImage img8(20, 10, 8), img16(20, 10, 16);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      img8.set(x, y, 0, y < 5 ? 200 : 10);
      img16.set(x, y, 0, (y < 5 ? 200 : 10) << 4 | 0xF, true);
    }
  const KernelRect topHalfOfPicture{0, 0, 20, 5};  // bitmap rows 0..4 = storage rows 5..9
  EXPECT_EQ(10, ApplyKernel(img8.view(), WindowMean8, img8.view(), &topHalfOfPicture, 0, 0));
  EXPECT_EQ(10, ApplyKernel(img16.view(), WindowMean16, img16.view(), &topHalfOfPicture, 0, 0));
  const KernelRect mixed{3, 3, 13, 7};
  EXPECT_EQ(105, ApplyKernel(img8.view(), WindowMean8, img8.view(), &mixed, 3, 3));
  EXPECT_EQ(105, ApplyKernel(img16.view(), WindowMean16, img16.view(), &mixed, 3, 3));
}

}  // namespace
}  // namespace tovira::test
