#include "device/UnpackFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using tovira::FrameGeometry;
using tovira::UnpackFrame;

namespace {

FrameGeometry geometry(int pitch, int x0, int w, int y0, int h) {
  FrameGeometry g;
  g.linePitch = pitch;
  g.firstColumn = x0;
  g.activeWidth = w;
  g.firstLine = y0;
  g.activeLines = h;
  g.totalLines = y0 + h + 143;
  g.ringCount = 4;
  g.transferLength = tovira::transferLengthFor(pitch, y0, h);
  return g;
}

std::uint16_t unpackOne(std::uint8_t high, std::uint8_t low) {
  const FrameGeometry g = geometry(8, 5, 1, 2, 1);
  std::vector<std::uint8_t> src(2 * g.transferLength, 0);
  const std::size_t k = 2 * 8 + 5;
  src[2 * k] = high;
  src[2 * k + 1] = low;
  std::uint16_t out = 0xFFFF;
  UnpackFrame(&out, src.data(), g, true);
  return out;
}

} // namespace

TEST(Unpack, TransferLengthRoundsTheLinesUpTo1024Positions) {
  EXPECT_EQ(tovira::transferLengthFor(3952, 2, 2748), 10868736u);
  EXPECT_EQ(tovira::transferLengthFor(1024, 0, 3), 3072u);
  EXPECT_EQ(tovira::transferLengthFor(1000, 2, 1), 3072u);
}

TEST(Unpack, SplitSamplesJoinBits11To4WithTheLowNibble) {
  EXPECT_EQ(unpackOne(0xAB, 0x0C), 0xABC);
  EXPECT_EQ(unpackOne(0xAB, 0xFC), 0xABC); // the high nibble of the second byte is junk
  EXPECT_EQ(unpackOne(0xFF, 0x0F), 4095);
  EXPECT_EQ(unpackOne(0x00, 0x00), 0);
}

// Every source position holds its own index (mod 251 for bytes); the destination must show exactly the
// window positions, so blanking and filler never leak in.
TEST(Unpack, EightBitRowsComeFromTheWindowPositionsOnly) {
  const FrameGeometry g = geometry(3952, 5, 3840, 2, 6);
  std::vector<std::uint8_t> src(g.transferLength);
  for (std::size_t k = 0; k < src.size(); ++k) src[k] = std::uint8_t(k % 251);
  std::vector<std::uint8_t> dst(std::size_t(g.activeWidth) * g.activeLines + 16, 0xEE);
  ASSERT_EQ(UnpackFrame(dst.data(), src.data(), g, false), 0);
  EXPECT_EQ(dst[0], 7909 % 251);       // first pixel: position 2P + 5
  EXPECT_EQ(dst[3840], 11861 % 251);   // first pixel of the second row
  for (int i = 0; i < g.activeLines; ++i)
    for (int j = 0; j < g.activeWidth; ++j)
      ASSERT_EQ(dst[std::size_t(i) * 3840 + j], ((2 + i) * 3952 + 5 + j) % 251) << i << "," << j;
  for (std::size_t k = std::size_t(g.activeWidth) * g.activeLines; k < dst.size(); ++k) EXPECT_EQ(dst[k], 0xEE);
}

TEST(Unpack, SixteenBitRowsAreTwelveBitWordsOfTheWindow) {
  const FrameGeometry g = geometry(37, 5, 21, 2, 7); // odd sizes, not a multiple of anything
  std::vector<std::uint8_t> src(2 * g.transferLength);
  for (std::size_t k = 0; k < g.transferLength; ++k) {
    src[2 * k] = std::uint8_t(k * 7);
    src[2 * k + 1] = std::uint8_t(0xA0 | (k & 0x0F)); // junk nibble set everywhere
  }
  std::vector<std::uint16_t> dst(std::size_t(g.activeWidth) * g.activeLines + 3, 0xBEEF);
  ASSERT_EQ(UnpackFrame(dst.data(), src.data(), g, true), 0);
  for (int i = 0; i < g.activeLines; ++i)
    for (int j = 0; j < g.activeWidth; ++j) {
      const std::size_t k = std::size_t(2 + i) * 37 + 5 + j;
      const unsigned expected = (unsigned(std::uint8_t(k * 7)) << 4) | (k & 0x0F);
      ASSERT_EQ(dst[std::size_t(i) * g.activeWidth + j], expected) << i << "," << j;
    }
  for (std::size_t k = std::size_t(g.activeWidth) * g.activeLines; k < dst.size(); ++k) EXPECT_EQ(dst[k], 0xBEEF);
}

TEST(Unpack, DestinationSizeFollowsTheSampleWidth) {
  const FrameGeometry g = geometry(3952, 5, 3840, 2, 2748);
  EXPECT_EQ(tovira::unpackedFrameBytes(g, false), 3840u * 2748u);
  EXPECT_EQ(tovira::unpackedFrameBytes(g, true), 2u * 3840u * 2748u);
  EXPECT_EQ(tovira::unpackedFrameBytes(FrameGeometry{}, true), 0u);
}
