// CDibImage: geometry, the two kinds of storage, palettes and GDI copies between images.

#include <gtest/gtest.h>

#include <cstring>

#include "output/DibImage.h"

namespace {

TEST(DibImage, CreateSetsGeometryForEveryDepthAndOddWidths) {
    struct Case { int width, bits, stride; bool dib; };
    const Case cases[] = {{1001, 8, 1004, true},  {1001, 16, 2004, true}, {1001, 24, 3004, true},
                          {1001, 32, 4004, true}, {1001, 48, 6008, false}, {1001, 64, 8008, false},
                          {640, 24, 1920, true},  {3, 8, 4, true}};
    for (const Case& c : cases) {
        CDibImage image;
        ASSERT_EQ(image.Create(c.width, 7, c.bits), 1) << c.bits;
        EXPECT_EQ(image.Width(), c.width);
        EXPECT_EQ(image.Height(), 7);
        EXPECT_EQ(image.Stride(), c.stride) << c.width << "x" << c.bits;
        EXPECT_EQ(image.BitCount(), c.bits);
        EXPECT_EQ(image.Header().biHeight, 7);  // bottom-up in GDI terms
        EXPECT_EQ(image.Header().biPlanes, 1);
        EXPECT_EQ(image.Header().biBitCount, c.bits);
        EXPECT_EQ(image.Dc() != nullptr, c.dib) << c.bits;
        EXPECT_EQ(image.Bitmap() != nullptr, c.dib) << c.bits;
        ASSERT_NE(image.Bits(), nullptr);
        const tovira::ImageView view = image.View();
        EXPECT_EQ(view.pixels, image.Bits());
        EXPECT_EQ(view.stride, c.stride);
        EXPECT_EQ(view.bitsPerPixel, c.bits);
        // Deep images are plain buffers and start zeroed, like fresh DIB sections.
        const uint8_t* bits = image.Bits();
        size_t nonZero = 0;
        for (size_t i = 0; i < image.ByteSize(); ++i) nonZero += bits[i] != 0;
        EXPECT_EQ(nonZero, 0u) << c.bits;
    }
}

TEST(DibImage, RefusesBadArgumentsAndLeavesAnEmptyImage) {
    CDibImage image;
    EXPECT_EQ(image.Create(0, 10, 24), 0);
    EXPECT_EQ(image.Create(10, -1, 24), 0);
    EXPECT_EQ(image.Create(10, 10, 0), 0);
    EXPECT_EQ(image.Create(10, 10, 12), 0);
    EXPECT_EQ(image.Create(0x7FFFFFFF, 2, 64), 0);  // the row alone overflows
    EXPECT_EQ(image.Create(100000, 100000, 24), 0);  // more than 2 GiB
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.View().pixels, nullptr);
    EXPECT_EQ(image.Header().biSize, 40u);

    CDibImage empty, like;
    EXPECT_EQ(like.CreateLike(nullptr), 0);
    EXPECT_EQ(like.CreateLike(&empty), 0);
}

TEST(DibImage, RecreateAndReleaseAnyNumberOfTimes) {
    CDibImage image;
    const int depths[] = {8, 16, 24, 32, 48, 64};
    for (int round = 0; round < 50; ++round) {
        const int bits = depths[round % 6];
        ASSERT_EQ(image.Create(33 + round, 21, bits), 1);
        std::memset(image.Bits(), 0xAB, image.ByteSize());
    }
    image.Release();
    image.Release();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Dc(), nullptr);
    EXPECT_EQ(image.BitCount(), 0);
}

TEST(DibImage, EightBitImagesCarryTheGreyRampInHeaderAndBitmap) {
    CDibImage image;
    ASSERT_EQ(image.Create(16, 4, 8), 1);
    RGBQUAD table[256] = {};
    ASSERT_EQ(GetDIBColorTable(image.Dc(), 0, 256, table), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(table[i].rgbBlue, i);
        EXPECT_EQ(table[i].rgbGreen, i);
        EXPECT_EQ(table[i].rgbRed, i);
        EXPECT_EQ(image.ColorTable()[i].rgbRed, i);
    }
}

TEST(DibImage, CreateLikeCopiesGeometryNotPixels) {
    CDibImage source, like;
    ASSERT_EQ(source.Create(1001, 5, 48), 1);
    std::memset(source.Bits(), 0x5A, source.ByteSize());
    ASSERT_EQ(like.CreateLike(&source), 1);
    EXPECT_EQ(like.Width(), 1001);
    EXPECT_EQ(like.Stride(), source.Stride());
    EXPECT_EQ(like.BitCount(), 48);
    EXPECT_NE(like.Bits(), source.Bits());
    EXPECT_EQ(like.Bits()[0], 0);
    EXPECT_EQ(like.CreateLike(&like), 0);
}

TEST(DibImage, BltFromAnEightBitImageTurnsGreyIntoColour) {
    CDibImage grey, colour;
    ASSERT_EQ(grey.Create(5, 3, 8), 1);
    ASSERT_EQ(colour.Create(5, 3, 24), 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) grey.Bits()[y * grey.Stride() + x] = static_cast<uint8_t>(40 * y + 7 * x);
    ASSERT_NE(colour.BltFrom(grey), 0);
    GdiFlush();
    // Both are bottom-up bitmaps, so storage rows correspond one to one.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* p = colour.Bits() + y * colour.Stride() + 3 * x;
            const uint8_t v = static_cast<uint8_t>(40 * y + 7 * x);
            EXPECT_EQ(p[0], v);
            EXPECT_EQ(p[1], v);
            EXPECT_EQ(p[2], v);
        }
    CDibImage deep;
    ASSERT_EQ(deep.Create(5, 3, 64), 1);
    EXPECT_EQ(colour.BltFrom(deep), 0);  // no DC: nothing to copy from
}

}  // namespace
