// Output conversions, nearest-neighbour scaling and the row re-stride.
#include <gtest/gtest.h>

#include <random>

#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"
#include "pipeline/Restride.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

TEST(Convert, TwelveBitGreyReducesFromBits4To11AndExpandsBy4) {
  TestImage wide(3, 2, 16), screen(3, 2, 8), flipped(3, 2, 8), file(3, 2, 16);
  const int samples[2][3] = {{4095, 1023, 2048}, {16, 15, 4000}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) wide.set(x, y, 0, samples[y][x], true);
  ApplyKernel(screen.view(), Gray16To8Shift4, wide.view());
  ApplyKernel(flipped.view(), Gray16To8Shift4Flip, wide.view());
  ApplyKernel(file.view(), Gray16Expand4, wide.view());
  EXPECT_EQ(255, screen.get(0, 0));
  EXPECT_EQ(63, screen.get(1, 0));
  EXPECT_EQ(128, screen.get(2, 0));  // bright areas stay bright (bits 2..9 would give 0 here)
  EXPECT_EQ(1, screen.get(0, 1));
  EXPECT_EQ(0, screen.get(1, 1));
  EXPECT_EQ(65520, file.get(0, 0, 0, true));
  EXPECT_EQ(16368, file.get(1, 0, 0, true));
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(screen.get(x, 0), flipped.get(x, 1));
    EXPECT_EQ(screen.get(x, 1), flipped.get(x, 0));
  }
}

TEST(Convert, FortyEightBitLayoutsForScreenFilesAndAvi) {
  for (uint16_t bits : {48, 64}) {
    TestImage src(2, 2, bits), screen(2, 2, 24), avi(2, 2, 24), png(2, 2, bits), tiff(2, 2, bits);
    const int px[2][2][3] = {{{1023, 2048, 4095}, {0, 1, 16}}, {{100, 200, 300}, {4000, 3000, 2000}}};
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) {
        for (int c = 0; c < 3; ++c) src.set(x, y, c, px[y][x][c], true);
        if (bits == 64) src.set(x, y, 3, 1234, true);
      }
    ApplyKernel(screen.view(), Bgr48To24Shift4, src.view());
    ApplyKernel(avi.view(), Bgr48To24Shift4Flip, src.view());
    ApplyKernel(png.view(), bits == 48 ? Bgr48Expand4 : Bgr48ToBgra64Expand4, src.view());
    ApplyKernel(tiff.view(), bits == 48 ? Bgr48ToRgb48Expand4 : Bgr48ToRgba64Expand4, src.view());
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        for (int c = 0; c < 3; ++c) {
          const int v = px[y][x][c];
          EXPECT_EQ((v >> 4) & 255, screen.get(x, y, c));
          EXPECT_EQ((v >> 4) & 255, avi.get(x, 1 - y, c));
          EXPECT_EQ((v << 4) & 65535, png.get(x, y, c, true));
          EXPECT_EQ((v << 4) & 65535, tiff.get(x, y, 2 - c, true));
        }
    EXPECT_EQ(65520, png.get(0, 0, 2, true));  // 4095 widens to 65520 in PNG and TIFF
    if (bits == 64) {
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
          EXPECT_EQ(65535, png.get(x, y, 3, true));
          EXPECT_EQ(65535, tiff.get(x, y, 3, true));
        }
    }
  }
}

TEST(Convert, EightBitColourLayouts) {
  std::mt19937 rng(31);
  TestImage bgrx(5, 3, 32), bgr(5, 3, 24), flip(5, 3, 24), rgb(5, 3, 32), bgra(5, 3, 32), fromBgrx(5, 3, 24);
  bgrx.fillRandom(rng, 255, false);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) bgrx.set(x, y, 3, y == 0 ? 0 : 17 * x);
  rgb.fill(9, false);
  ApplyKernel(bgr.view(), Bgr32To24, bgrx.view());
  ApplyKernel(flip.view(), Bgr24CopyFlip, bgrx.view());
  ApplyKernel(rgb.view(), BgrToRgb24, bgrx.view());
  ApplyKernel(bgra.view(), Bgrx32ToBgra32, bgrx.view());
  ApplyKernel(fromBgrx.view(), Bgr24CopyFlip, bgr.view());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(bgrx.get(x, y, c), bgr.get(x, y, c));
        EXPECT_EQ(bgrx.get(x, y, c), flip.get(x, 2 - y, c));
        EXPECT_EQ(bgrx.get(x, y, c), rgb.get(x, y, 2 - c));
        EXPECT_EQ(bgrx.get(x, y, c), bgra.get(x, y, c));
        EXPECT_EQ(bgrx.get(x, y, c), fromBgrx.get(x, 2 - y, c));
      }
      EXPECT_EQ(9, rgb.get(x, y, 3));  // a target's fourth byte is left alone
      EXPECT_EQ(255 - bgrx.get(x, y, 3), bgra.get(x, y, 3));
    }
  EXPECT_EQ(255, bgra.get(2, 0, 3));  // fourth bytes of 0 become an opaque alpha
}

TEST(Convert, RowsCopyFlipCopiesTheShorterStride) {
  TestImage wide(5, 3, 8, 8), narrow(5, 3, 8);  // strides 16 and 8
  for (size_t i = 0; i < wide.bytes().size(); ++i) wide.data()[i] = static_cast<uint8_t>(i);
  narrow.fill(0, false);
  ApplyKernel(narrow.view(), RowsCopyFlip, wide.view());
  for (int y = 0; y < 3; ++y)
    for (int b = 0; b < narrow.stride(); ++b)
      EXPECT_EQ(wide.bytes()[(2 - y) * wide.stride() + b], narrow.bytes()[y * narrow.stride() + b]);
  TestImage back(5, 3, 8, 8);
  ApplyKernel(back.view(), RowsCopyFlip, narrow.view());
  for (int y = 0; y < 3; ++y)
    for (int b = 0; b < back.stride(); ++b)
      EXPECT_EQ(b < 8 ? wide.bytes()[y * wide.stride() + b] : 0, back.bytes()[y * back.stride() + b]);
}

TEST(Convert, EveryKernelStaysInsideOddSizedPaddedImages) {
  std::mt19937 rng(32);
  struct Case {
    PixelKernel kernel;
    uint16_t target, source;
  };
  const Case cases[] = {{Gray16To8Shift4, 8, 16},       {Gray16To8Shift4Flip, 8, 16},
                        {Gray16Expand4, 16, 16},        {Bgr32To24, 24, 32},
                        {Bgr48To24Shift4, 24, 48},      {Bgr48To24Shift4, 24, 64},
                        {Bgr48To24Shift4Flip, 24, 64},  {Bgr48Expand4, 48, 48},
                        {Bgr48ToRgb48Expand4, 48, 48},  {Bgr48ToBgra64Expand4, 64, 64},
                        {Bgr48ToRgba64Expand4, 64, 64}, {Bgr24CopyFlip, 24, 24},
                        {Bgr24CopyFlip, 24, 32},        {RowsCopyFlip, 16, 16},
                        {BgrToRgb24, 24, 32},           {Bgrx32ToBgra32, 32, 32}};
  for (const Case& c : cases)
    for (int w = 1; w < 8; ++w) {
      TestImage src(w, 3, c.source, w % 3), dst(w, 3, c.target, 1);
      src.fillRandom(rng, 255, false);
      const TestImage before = dst;
      EXPECT_EQ(1, ApplyKernel(dst.view(), c.kernel, src.view()));
      for (int y = 0; y < 3; ++y)  // padding untouched (RowsCopyFlip copies whole strides, by design)
        for (int b = w * dst.bpp(); b < dst.stride() && c.kernel != RowsCopyFlip; ++b)
          ASSERT_EQ(before.bytes()[y * dst.stride() + b], dst.bytes()[y * dst.stride() + b]);
    }
}

// --- Scaling ------------------------------------------------------------------------------------

TEST(ScaleNearest, HalvingTakesEverySecondPixelFromTheLastRowUp) {
  TestImage src(640, 480, 24), dst(320, 240, 24);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      src.set(x, y, 0, x & 255), src.set(x, y, 1, y & 255), src.set(x, y, 2, (x >> 8) + 4 * (y >> 8));
    }
  ASSERT_EQ(1, ApplyStretchKernel(dst.view(), ScaleNearest24, src.view()));
  for (int i = 0; i < 240; ++i)
    for (int k = 0; k < 320; ++k) {
      const int sx = 2 * k, sy = 479 - 2 * i;
      ASSERT_EQ(sx & 255, dst.get(k, i, 0));
      ASSERT_EQ(sy & 255, dst.get(k, i, 1));
      ASSERT_EQ((sx >> 8) + 4 * (sy >> 8), dst.get(k, i, 2));
    }
}

TEST(ScaleNearest, EnlargesAndStaysInsideForAnyRectangles) {
  TestImage src(3, 2, 8), dst(7, 5, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) src.set(x, y, 0, 10 * y + x);
  ApplyStretchKernel(dst.view(), ScaleNearest8, src.view());
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k < 7; ++k) {
      const int a = static_cast<int>(i * (2.0f / 5.0f)), sx = static_cast<int>(k * (3.0f / 7.0f));
      EXPECT_EQ(10 * (1 - a) + sx, dst.get(k, i));
    }
  std::mt19937 rng(33);
  std::uniform_int_distribution<int> coord(-20, 30);
  for (int round = 0; round < 500; ++round) {
    KernelRect t{coord(rng), coord(rng), coord(rng), coord(rng)}, s{coord(rng), coord(rng), coord(rng), coord(rng)};
    ApplyStretchKernel(dst.view(), round % 2 ? ScaleNearest8 : ScaleNearest24, src.view(), &s, &t);
  }
  TestImage bgr(4, 4, 24), grey(4, 4, 8);
  EXPECT_EQ(0, ApplyStretchKernel(grey.view(), ScaleNearest24, bgr.view()));  // too few bytes per pixel
}

// --- Re-stride ------------------------------------------------------------------------------------

TEST(RestrideRows, SpreadsPackedRowsInPlaceAndKeepsPadding) {
  for (bool wide : {false, true}) {
    for (int w : {1, 3, 5, 6, 7, 13}) {
      const int h = 5, bpp = wide ? 2 : 1;
      TestImage img(w, h, wide ? 16 : 8);
      for (size_t i = 0; i < img.bytes().size(); ++i) img.data()[i] = static_cast<uint8_t>(0xC0 + i % 7);
      std::vector<uint8_t> packed(static_cast<size_t>(w) * h * bpp);
      for (size_t i = 0; i < packed.size(); ++i) packed[i] = static_cast<uint8_t>(i * 13 + 1);
      std::memcpy(img.data(), packed.data(), packed.size());
      const TestImage before = img;
      ApplyKernel(img.view(), wide ? RestrideRows16 : RestrideRows8, img.view());
      for (int y = 0; y < h; ++y)
        for (int b = 0; b < img.stride(); ++b) {
          const uint8_t got = img.bytes()[y * img.stride() + b];
          if (b < w * bpp) ASSERT_EQ(packed[y * w * bpp + b], got) << w << " row " << y;
          else ASSERT_EQ(before.bytes()[y * img.stride() + b], got);  // padding left as it was
        }
    }
  }
}

}  // namespace
}  // namespace tovira::test
