// The PNG image data stream: images that are compressed in one part and in several, inflated with zlib
// (which checks the joins and the Adler-32) and unfiltered here, must give back every row exactly.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "output/PngDeflate.h"

namespace {

struct Shape {
    int bits, width, height, parts;
};

// Smooth pictures take the denser second compression, noise is stored rather than compressed; `kind`
// 2 puts both into one image (smooth on top, noise below).
std::vector<uint8_t> Picture(const Shape& s, int stride, int kind) {
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * s.height, 0xEE);  // padding stays 0xEE
    std::mt19937 random(static_cast<unsigned>(s.width * 31 + s.height + kind));
    const int rowBytes = s.width * s.bits / 8;
    for (int y = 0; y < s.height; ++y) {
        const bool noise = kind == 1 || (kind == 2 && y >= s.height / 2);
        for (int i = 0; i < rowBytes; ++i)
            pixels[static_cast<size_t>(y) * stride + i] =
                noise ? static_cast<uint8_t>(random()) : static_cast<uint8_t>((i / 7 + y / 3) & 0xF0);
    }
    return pixels;
}

// A storage row in PNG order: red first, 16-bit samples high byte first.
std::vector<uint8_t> PngOrder(const uint8_t* row, const Shape& s) {
    const int sample = s.bits == 16 || s.bits >= 48 ? 2 : 1, channels = s.bits / 8 / sample;
    std::vector<uint8_t> out(static_cast<size_t>(s.width) * s.bits / 8);
    for (int x = 0; x < s.width; ++x)
        for (int c = 0; c < channels; ++c) {
            const int from = channels >= 3 && c < 3 ? 2 - c : c;
            for (int b = 0; b < sample; ++b)
                out[(x * channels + c) * sample + b] = row[(x * channels + from) * sample + (sample - 1 - b)];
        }
    return out;
}

// Undoes the five PNG filters in place; false for an unknown filter type.
bool Unfilter(uint8_t type, uint8_t* row, const uint8_t* prior, int n, int bpp) {
    for (int i = 0; i < n; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
        int predicted;
        switch (type) {
            case 0: predicted = 0; break;
            case 1: predicted = a; break;
            case 2: predicted = b; break;
            case 3: predicted = (a + b) / 2; break;
            case 4: {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                break;
            }
            default: return false;
        }
        row[i] = static_cast<uint8_t>(row[i] + predicted);
    }
    return true;
}

// Compresses, inflates the whole stream (it must end exactly at its last byte) and compares each row.
void CheckRoundTrip(const Shape& s, int kind) {
    const int stride = (s.width * s.bits / 8 + 3) & ~3;
    const std::vector<uint8_t> pixels = Picture(s, stride, kind);
    std::vector<const uint8_t*> rows(static_cast<size_t>(s.height));
    for (int y = 0; y < s.height; ++y) rows[y] = pixels.data() + static_cast<size_t>(y) * stride;
    std::vector<uint8_t> stream;
    ASSERT_TRUE(DeflatePngImage(rows.data(), s.width, s.height, s.bits, stream));

    const int n = s.width * s.bits / 8;
    std::vector<uint8_t> filtered(static_cast<size_t>(n + 1) * s.height + 1);
    z_stream z = {};
    ASSERT_EQ(inflateInit(&z), Z_OK);
    z.next_in = stream.data();
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = filtered.data();
    z.avail_out = static_cast<uInt>(filtered.size());
    const int result = inflate(&z, Z_FINISH);
    const size_t inflated = filtered.size() - z.avail_out, left = z.avail_in;
    inflateEnd(&z);
    ASSERT_EQ(result, Z_STREAM_END) << z.msg;
    ASSERT_EQ(left, 0u) << "bytes after the end of the stream";
    ASSERT_EQ(inflated, static_cast<size_t>(n + 1) * s.height);

    std::vector<uint8_t> prior(static_cast<size_t>(n), 0);
    int wrongRows = 0;
    for (int y = 0; y < s.height; ++y) {
        uint8_t* row = filtered.data() + static_cast<size_t>(n + 1) * y;
        ASSERT_TRUE(Unfilter(row[0], row + 1, prior.data(), n, s.bits / 8)) << "row " << y;
        if (std::vector<uint8_t>(row + 1, row + 1 + n) != PngOrder(rows[y], s) && ++wrongRows <= 3)
            ADD_FAILURE() << "row " << y << " differs";
        std::memcpy(prior.data(), row + 1, static_cast<size_t>(n));
    }
    EXPECT_EQ(wrongRows, 0);
}

TEST(PngStream, EveryDepthInOneOrSeveralPartsInflatesToTheRowsItWasGiven) {
    const Shape shapes[] = {
        {8, 1, 1, 1},        {16, 2, 1, 1},      {24, 1, 3, 1},        {32, 5, 2, 1},  {48, 3, 3, 1},
        {64, 7, 5, 1},       {24, 322, 241, 1},  {8, 2049, 2049, 2},   {48, 1001, 701, 2},
        {16, 1501, 2801, 4}, {64, 1001, 1401, 4}, {32, 1501, 2801, 8},
        // A few very long rows: the parts are limited by the rows, not the bytes.
        {64, 999999, 3, 2},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(::testing::Message() << s.bits << " bits, " << s.width << " x " << s.height);
        EXPECT_EQ(PngStreamParts(s.width, s.height, s.bits), s.parts);
        for (int kind : {0, 1, 2}) {
            if (s.width * static_cast<int64_t>(s.height) > 4000000 && kind == 1) continue;  // time
            SCOPED_TRACE(::testing::Message() << "picture " << kind);
            CheckRoundTrip(s, kind);
        }
    }
}

TEST(PngStream, TheStreamDependsOnlyOnTheImage) {
    // Whichever thread compresses which part, the bytes are the same.
    const Shape s{48, 1001, 1401, 4};
    const int stride = (s.width * 6 + 3) & ~3;
    const std::vector<uint8_t> pixels = Picture(s, stride, 2);
    std::vector<const uint8_t*> rows(static_cast<size_t>(s.height));
    for (int y = 0; y < s.height; ++y) rows[y] = pixels.data() + static_cast<size_t>(y) * stride;
    std::vector<uint8_t> first, again;
    ASSERT_TRUE(DeflatePngImage(rows.data(), s.width, s.height, s.bits, first));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(DeflatePngImage(rows.data(), s.width, s.height, s.bits, again));
        EXPECT_TRUE(again == first) << "run " << i;
    }
}

// The parts but the last: libdeflate's stream with its final bit cleared and an empty stored block
// appended. Streams of every kind (stored, fixed and dynamic codes, one block or several) ending on every
// bit of a byte are joined with a final part and inflated as one raw stream; streams with bytes missing
// or bytes after them are refused.
TEST(PngStream, PartsEndWithoutTheFinalBitOnAByteBoundaryAndJoin) {
    std::mt19937 random(22);
    bool endings[2] = {};  // the stored block's header bits fit the last byte / run into a new one
    for (int level : {0, 1, 6, 12}) {
        struct Freer {
            void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
        };
        std::unique_ptr<libdeflate_compressor, Freer> compressor(libdeflate_alloc_compressor(level));
        ASSERT_TRUE(compressor);
        for (int i = 0; i < 60; ++i) {
            // Short and long, noisy (stored blocks), text-like (fixed codes) and long runs (dynamic).
            const size_t length = i < 20 ? static_cast<size_t>(i) : static_cast<size_t>(random() % 400000);
            std::vector<uint8_t> first(length), second(1 + random() % 1000);
            const int kind = i % 3;
            for (size_t k = 0; k < length; ++k)
                first[k] = kind == 0 ? static_cast<uint8_t>(random()) : kind == 1 ? static_cast<uint8_t>('a' + random() % 4)
                                                                                   : static_cast<uint8_t>(k / 5000);
            for (auto& b : second) b = static_cast<uint8_t>(random() % 7);
            const size_t bound = libdeflate_deflate_compress_bound(compressor.get(), length) + 6;
            std::vector<uint8_t> part(bound);
            const size_t size = libdeflate_deflate_compress(compressor.get(), first.data(), length, part.data(), bound - 6);
            ASSERT_GT(size, 0u);
            SCOPED_TRACE(::testing::Message() << "level " << level << ", " << length << " bytes, kind " << kind);
            // A stream cut short or followed by another byte is not one whole stream.
            std::vector<uint8_t> copy = part;
            EXPECT_EQ(EndDeflatePart(copy.data(), size - 1), 0u);
            copy = part;
            copy[size] = 0;
            EXPECT_EQ(EndDeflatePart(copy.data(), size + 1), 0u);

            const size_t ended = EndDeflatePart(part.data(), size);
            ASSERT_TRUE(ended == size + 4 || ended == size + 5) << ended << " from " << size;
            endings[ended - size - 4] = true;
            EXPECT_EQ(0, std::memcmp(part.data() + ended - 4, "\x00\x00\xFF\xFF", 4));

            std::vector<uint8_t> stream(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(ended));
            std::vector<uint8_t> last(libdeflate_deflate_compress_bound(compressor.get(), second.size()));
            const size_t lastSize = libdeflate_deflate_compress(compressor.get(), second.data(), second.size(), last.data(), last.size());
            ASSERT_GT(lastSize, 0u);
            stream.insert(stream.end(), last.begin(), last.begin() + static_cast<std::ptrdiff_t>(lastSize));

            std::vector<uint8_t> out(length + second.size() + 1);
            z_stream z = {};
            ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
            z.next_in = stream.data();
            z.avail_in = static_cast<uInt>(stream.size());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int result = inflate(&z, Z_FINISH);
            const size_t inflated = out.size() - z.avail_out, left = z.avail_in;
            inflateEnd(&z);
            ASSERT_EQ(result, Z_STREAM_END);
            EXPECT_EQ(left, 0u);
            ASSERT_EQ(inflated, length + second.size());
            EXPECT_TRUE(std::equal(first.begin(), first.end(), out.begin()));
            EXPECT_TRUE(std::equal(second.begin(), second.end(), out.begin() + static_cast<std::ptrdiff_t>(length)));
        }
    }
    EXPECT_TRUE(endings[0] && endings[1]) << "both endings of the stored block were tried";
}

}  // namespace
