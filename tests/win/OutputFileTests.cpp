// Image files from every colour mode, read back with the library that wrote them (BMP and raw by hand)
// and compared with the output image pixel by pixel.

#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "OutputTestSupport.h"
#include "output/FileWriter.h"
#include "output/ImageFiles.h"

namespace {

using outtest::InstanceWithImages;
using outtest::Sample;

std::vector<uint8_t> ReadAll(const std::string& name) {
    std::vector<uint8_t> data;
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return data;
}
bool Exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }
uint32_t U32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
uint16_t U16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }

// Sample c (0 blue, 1 green, 2 red, 3 fourth) of picture pixel (x, y) as stored in the output image.
uint16_t Stored(const CDibImage& image, int x, int y, int c) {
    const uint8_t* p = image.Bits() + static_cast<size_t>(y) * image.Stride() + x * image.BytesPerPixel();
    return image.BitCount() >= 48 || image.BitCount() == 16 ? U16(p + 2 * c) : p[c];
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "tovira_files_" + std::to_string(GetCurrentProcessId()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& f : written) DeleteFileA(f.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    std::string Path(const std::string& leaf) {
        written.push_back(folder + "\\" + leaf);
        return written.back();
    }
    // The output image of `mode` at width x height, filled with the test pattern.
    CDibImage& Picture(int mode, int width, int height) {
        EXPECT_TRUE(subject.Prepare(mode, width, height));
        CDibImage& image = *subject.Output(mode);
        outtest::FillPattern(image);
        return image;
    }

    InstanceWithImages subject;
    std::string folder;
    std::vector<std::string> written;
};

TEST_F(Files, BmpHasTheLayoutAndTheRowsBottomUpForEveryDepth) {
    for (int mode = 0; mode < 6; ++mode) {
        CDibImage& image = Picture(mode, 1001, 7);
        const std::string name = Path("bmp" + std::to_string(mode) + ".bmp");
        ASSERT_EQ(SaveImageFile(name.c_str(), &image, 0), 1) << mode;
        const std::vector<uint8_t> file = ReadAll(name);
        const uint32_t offset = image.BitCount() <= 8 ? 1078 : 54;
        ASSERT_EQ(file.size(), offset + image.ByteSize()) << mode;
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(U32(&file[2]), file.size());
        EXPECT_EQ(U32(&file[10]), offset);
        EXPECT_EQ(U32(&file[14]), 40u);
        EXPECT_EQ(static_cast<int32_t>(U32(&file[18])), 1001);
        EXPECT_EQ(static_cast<int32_t>(U32(&file[22])), 7);
        EXPECT_EQ(U16(&file[26]), 1);
        EXPECT_EQ(U16(&file[28]), image.BitCount());
        EXPECT_EQ(U32(&file[30]), 0u);
        if (offset == 1078)
            for (int i = 0; i < 256; ++i) {
                EXPECT_EQ(file[54 + 4 * i], i);
                EXPECT_EQ(file[54 + 4 * i + 2], i);
                EXPECT_EQ(file[54 + 4 * i + 3], 0);
            }
        // File row r is picture row height - 1 - r, byte for byte including the padding.
        for (int r = 0; r < 7; ++r)
            EXPECT_EQ(0, std::memcmp(&file[offset + r * image.Stride()],
                                     image.Bits() + (6 - r) * image.Stride(), image.Stride()))
                << "mode " << mode << " row " << r;
    }
}

TEST_F(Files, Bmp24Of640x480HasTheDocumentedSize) {
    CDibImage& image = Picture(2, 640, 480);
    const std::string name = Path("vga.bmp");
    ASSERT_EQ(SaveImageFile(name.c_str(), &image, 0), 1);
    EXPECT_EQ(ReadAll(name).size(), 921654u);
}

TEST_F(Files, RawIsTheBufferAsStoredWithPaddedRows) {
    CDibImage& image = Picture(1, 1001, 9);
    const std::string name = Path("frame.raw");
    ASSERT_EQ(SaveImageFile(name.c_str(), &image, 1), 1);
    const std::vector<uint8_t> file = ReadAll(name);
    ASSERT_EQ(file.size(), 2004u * 9);
    EXPECT_EQ(0, std::memcmp(file.data(), image.Bits(), file.size()));
}

TEST_F(Files, UnknownTypesEmptyImagesAndMissingFoldersWriteNothing) {
    CDibImage& image = Picture(2, 16, 8);
    for (int type : {7, -1, 1000}) {
        const std::string name = Path("bad" + std::to_string(type + 1));
        EXPECT_EQ(SaveImageFile(name.c_str(), &image, type), 0);
        EXPECT_FALSE(Exists(name));
    }
    const std::string missing = folder + "\\no such folder\\x.bmp";
    for (int type = 0; type <= 6; ++type) EXPECT_EQ(SaveImageFile(missing.c_str(), &image, type), 0) << type;
    CDibImage empty;
    for (int type = 0; type <= 6; ++type) {
        const std::string name = Path("empty" + std::to_string(type));
        EXPECT_EQ(SaveImageFile(name.c_str(), &empty, type), 0);
        EXPECT_FALSE(Exists(name)) << type;
    }
    EXPECT_EQ(SaveImageFile(Path("null").c_str(), nullptr, 0), 0);
}

TEST_F(Files, ExistingFilesAreTruncated) {
    CDibImage& image = Picture(0, 8, 2);
    const std::string name = Path("over.raw");
    {
        CFileWriter big;
        ASSERT_EQ(big.Open(name.c_str()), 1);
        std::vector<uint8_t> junk(100000, 0xEE);
        ASSERT_TRUE(big.Write(junk.data(), junk.size()));
    }
    ASSERT_EQ(SaveImageFile(name.c_str(), &image, 1), 1);
    EXPECT_EQ(ReadAll(name).size(), 16u);
}

// ---- PNG

struct PngPicture {
    int width = 0, height = 0, depth = 0, colourType = 0, channels = 0;
    std::vector<std::vector<uint8_t>> rows;  // as stored: 16-bit samples high byte first
    uint16_t SampleAt(int x, int y, int c) const {
        const uint8_t* p = rows[y].data() + (x * channels + c) * (depth / 8);
        return depth == 16 ? static_cast<uint16_t>(p[0] << 8 | p[1]) : p[0];
    }
};

bool ReadPng(const std::string& name, PngPicture& picture) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    picture.width = static_cast<int>(png_get_image_width(png, info));
    picture.height = static_cast<int>(png_get_image_height(png, info));
    picture.depth = png_get_bit_depth(png, info);
    picture.colourType = png_get_color_type(png, info);
    picture.channels = png_get_channels(png, info);
    png_bytepp rows = png_get_rows(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    picture.rows.clear();
    for (int y = 0; y < picture.height; ++y) picture.rows.emplace_back(rows[y], rows[y] + rowBytes);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

TEST_F(Files, PngHasDepthAndColourTypePerModeAndRedFirstSamples) {
    struct Expect { int depth, colourType, channels; };
    const Expect expect[6] = {{8, PNG_COLOR_TYPE_GRAY, 1},       {16, PNG_COLOR_TYPE_GRAY, 1},
                              {8, PNG_COLOR_TYPE_RGB, 3},        {8, PNG_COLOR_TYPE_RGB_ALPHA, 4},
                              {16, PNG_COLOR_TYPE_RGB, 3},       {16, PNG_COLOR_TYPE_RGB_ALPHA, 4}};
    for (int mode = 0; mode < 6; ++mode) {
        CDibImage& image = Picture(mode, 37, 11);
        const std::string name = Path("png" + std::to_string(mode) + ".png");
        ASSERT_EQ(SaveImageFile(name.c_str(), &image, 5), 1) << mode;
        PngPicture png;
        ASSERT_TRUE(ReadPng(name, png)) << mode;
        EXPECT_EQ(png.width, 37);
        EXPECT_EQ(png.height, 11);
        EXPECT_EQ(png.depth, expect[mode].depth) << mode;
        EXPECT_EQ(png.colourType, expect[mode].colourType) << mode;
        ASSERT_EQ(png.channels, expect[mode].channels);
        const bool twelveBit = mode == 1 || mode == 4 || mode == 5;
        int mismatches = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < png.channels; ++c) {
                    uint32_t expected;
                    if (c == 3) {
                        // Opaque whatever a 64-bit source's fourth sample; a 32-bit source's fourth byte,
                        // which the pipeline leaves 0, is complemented.
                        expected = twelveBit ? 65535 : 255 - Stored(image, x, y, 3);
                    } else {
                        // The file is red first; the image blue first.
                        const int source = png.channels == 1 ? 0 : 2 - c;
                        expected = Stored(image, x, y, source);
                        if (twelveBit) expected = (expected << 4) & 0xFFFF;
                    }
                    if (png.SampleAt(x, y, c) != expected && ++mismatches < 4)
                        ADD_FAILURE() << "mode " << mode << " (" << x << "," << y << ") c" << c << ": "
                                      << png.SampleAt(x, y, c) << " != " << expected;
                }
        EXPECT_EQ(mismatches, 0) << mode;
    }
}

TEST_F(Files, TwelveBitSamplesWidenToTheTopOfTheSixteenBitRange) {
    CDibImage& image = Picture(1, 4, 2);
    uint16_t* p = reinterpret_cast<uint16_t*>(image.Bits());
    p[0] = 4095;
    p[1] = 1023;
    p[2] = 0;
    const std::string name = Path("top.png");
    ASSERT_EQ(SaveImageFile(name.c_str(), &image, 5), 1);
    PngPicture png;
    ASSERT_TRUE(ReadPng(name, png));
    EXPECT_EQ(png.SampleAt(0, 0, 0), 65520);
    EXPECT_EQ(png.SampleAt(1, 0, 0), 16368);
    EXPECT_EQ(png.SampleAt(2, 0, 0), 0);
}

// ---- TIFF

TEST_F(Files, TiffHasTagsAndUnpaddedRedFirstSamples) {
    struct Expect { int bits, photometric, samples; };
    const Expect expect[6] = {{8, 1, 1}, {16, 1, 1}, {8, 2, 3}, {8, 2, 4}, {16, 2, 3}, {16, 2, 4}};
    for (int mode = 0; mode < 6; ++mode) {
        CDibImage& image = Picture(mode, 1001, 5);  // rows not a multiple of 4 in every depth
        if (mode == 3 || mode == 5)  // the fourth sample of the source must not reach the file
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 1001; ++x) {
                    uint8_t* px = image.Bits() + y * image.Stride() + x * image.BytesPerPixel();
                    std::memset(px + image.BytesPerPixel() * 3 / 4, 0x77, image.BytesPerPixel() / 4);
                }
        const std::string name = Path("tif" + std::to_string(mode) + ".tif");
        ASSERT_EQ(SaveImageFile(name.c_str(), &image, 6), 1) << mode;
        TIFF* tiff = TIFFOpen(name.c_str(), "rc");  // no strip chopping: see the strips as written
        ASSERT_NE(tiff, nullptr);
        uint32_t width = 0, height = 0;
        uint16_t bits = 0, photometric = 0, samples = 0, compression = 0, planar = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
        EXPECT_EQ(width, 1001u);
        EXPECT_EQ(height, 5u);
        EXPECT_EQ(bits, expect[mode].bits) << mode;
        EXPECT_EQ(photometric, expect[mode].photometric) << mode;
        EXPECT_EQ(samples, expect[mode].samples) << mode;
        EXPECT_EQ(compression, COMPRESSION_NONE);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(TIFFNumberOfStrips(tiff), 1u);
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        const int hasExtra = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
        if (samples == 4) {
            ASSERT_TRUE(hasExtra);
            ASSERT_EQ(extraCount, 1);
            EXPECT_EQ(extra[0], EXTRASAMPLE_UNSPECIFIED);
        }
        const int bytes = bits / 8;
        const size_t rowBytes = static_cast<size_t>(1001) * samples * bytes;
        ASSERT_EQ(static_cast<size_t>(TIFFScanlineSize(tiff)), rowBytes);
        std::vector<uint8_t> row(rowBytes);
        int mismatches = 0;
        for (int y = 0; y < 5; ++y) {
            ASSERT_EQ(TIFFReadScanline(tiff, row.data(), y), 1);
            for (int x = 0; x < 1001; ++x)
                for (int c = 0; c < samples; ++c) {
                    const uint8_t* s = row.data() + (x * samples + c) * bytes;
                    const uint32_t got = bytes == 2 ? U16(s) : s[0];
                    uint32_t expected;
                    if (c == 3) {
                        expected = bytes == 2 ? 65535 : 0;  // 32-bit: allocated as zero; 64-bit: 65535
                    } else {
                        expected = Stored(image, x, y, samples == 1 ? 0 : 2 - c);
                        if (bytes == 2) expected = (expected << 4) & 0xFFFF;
                    }
                    if (got != expected && ++mismatches < 4)
                        ADD_FAILURE() << "mode " << mode << " (" << x << "," << y << ") c" << c << ": " << got
                                      << " != " << expected;
                }
        }
        EXPECT_EQ(mismatches, 0) << mode;
        TIFFClose(tiff);
    }
}

// ---- JPEG

struct JpegPicture {
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    std::vector<uint8_t> pixels;  // top line first, red first
    int quantTable0 = 0;          // first entry of the luminance table: tells the quality
};

struct JpegReadErrors {
    jpeg_error_mgr standard;
    std::jmp_buf back;
};

bool ReadJpeg(const std::string& name, JpegPicture& picture) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct cinfo{};
    JpegReadErrors errors{};
    cinfo.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegReadErrors*>(c->err)->back, 1); };
    if (setjmp(errors.back)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    picture.progressive = cinfo.progressive_mode != 0;
    picture.quantTable0 = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : -1;
    jpeg_start_decompress(&cinfo);
    picture.width = static_cast<int>(cinfo.output_width);
    picture.height = static_cast<int>(cinfo.output_height);
    picture.components = cinfo.output_components;
    picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height * picture.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * picture.width * picture.components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

// A smooth picture that JPEG reproduces closely: top dark, bottom bright, colours apart.
void FillSmooth(CDibImage& image) {
    const int bpp = image.BytesPerPixel();
    const bool deep = image.BitCount() == 16 || image.BitCount() >= 48;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            uint8_t* p = image.Bits() + y * image.Stride() + x * bpp;
            const int channels = deep ? bpp / 2 : bpp;
            for (int c = 0; c < channels && c < 3; ++c) {
                const int v8 = (40 + 3 * y + x + 50 * c) % 256;
                if (deep) {
                    const uint16_t v = static_cast<uint16_t>(v8 << 4 | 0xA);  // bits 4..11 carry the picture
                    std::memcpy(p + 2 * c, &v, 2);
                } else {
                    p[c] = static_cast<uint8_t>(v8);
                }
            }
        }
}

TEST_F(Files, JpegIsProgressiveUprightAndCloseToThePictureInEveryMode) {
    for (int mode = 0; mode < 6; ++mode) {
        CDibImage& image = Picture(mode, 61, 50);
        FillSmooth(image);
        const int qualities[3] = {100, 70, 20};
        size_t previousSize = SIZE_MAX;
        for (int q = 0; q < 3; ++q) {
            const std::string name = Path("jpg" + std::to_string(mode) + "_" + std::to_string(q) + ".jpg");
            ASSERT_EQ(SaveImageFile(name.c_str(), &image, 2 + q), 1) << mode;
            JpegPicture jpeg;
            ASSERT_TRUE(ReadJpeg(name, jpeg));
            EXPECT_TRUE(jpeg.progressive);
            EXPECT_EQ(jpeg.width, 61);
            EXPECT_EQ(jpeg.height, 50);
            const bool grey = mode <= 1;
            ASSERT_EQ(jpeg.components, grey ? 1 : 3) << mode;
            // libjpeg's quality scaling of the standard luminance table's first entry (16).
            const int scale = qualities[q] < 50 ? 5000 / qualities[q] : 200 - 2 * qualities[q];
            EXPECT_EQ(jpeg.quantTable0, std::max(1, std::min(255, (16 * scale + 50) / 100))) << qualities[q];
            const size_t size = ReadAll(name).size();
            EXPECT_LT(size, previousSize);
            previousSize = size;
            double error = 0;
            for (int y = 0; y < 50; ++y)
                for (int x = 0; x < 61; ++x)
                    for (int c = 0; c < jpeg.components; ++c) {
                        const uint16_t stored = Stored(image, x, y, grey ? 0 : 2 - c);
                        const int expected = mode == 1 || mode >= 4 ? (stored >> 4) & 255 : stored;
                        error += std::abs(jpeg.pixels[(y * 61 + x) * jpeg.components + c] - expected);
                    }
            error /= 61.0 * 50 * jpeg.components;
            // Chroma subsampling costs the colour modes some accuracy; a picture upside down or with
            // red and blue exchanged is off by far more.
            EXPECT_LT(error, q == 0 ? 4.5 : q == 1 ? 8.0 : 14.0) << "mode " << mode << " quality " << qualities[q];
        }
    }
}

}  // namespace
