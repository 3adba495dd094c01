// Recordings in the three codecs: the writer with frames of any size in both layouts, the grey frames
// and their palette, the Motion JPEG frames against their pictures, and recordings of a streaming
// instance read back by a reader that shares no code with the writer.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "AviCheck.h"
#include "CameraTestSupport.h"
#include "OutputTestSupport.h"
#include "output/AviFrame.h"
#include "output/AviWriter.h"
#include "output/DibImage.h"
#include "output/JpegEncoder.h"

namespace {

std::wstring TempName(const wchar_t* leaf) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"tovira_" + std::to_wstring(GetCurrentProcessId()) + L"_" + leaf;
}

// A stand-in for a JPEG image of `bytes` bytes (at least 4): start marker, numbered filler, end marker.
std::vector<uint8_t> FakeJpeg(uint32_t bytes, uint32_t number) {
    std::vector<uint8_t> image(bytes);
    for (uint32_t i = 0; i < bytes; ++i) image[i] = static_cast<uint8_t>(number * 7 + i);
    image[0] = 0xFF;
    image[1] = 0xD8;
    image[bytes - 2] = 0xFF;
    image[bytes - 1] = 0xD9;
    return image;
}

// Sizes that differ from frame to frame, odd ones among them (their chunks get a filler byte).
uint32_t SizeOf(uint32_t number) { return 301 + (number * 977) % 1400; }

struct RiffLimit {
    explicit RiffLimit(uint64_t bytes) { AviWriter::SetRiffLimitForTesting(bytes); }
    ~RiffLimit() { AviWriter::SetRiffLimitForTesting(0); }
};

// Writes `frames` stand-in JPEG frames and checks what a reader finds: every frame, in order, with its
// own size and bytes, every index pointing at it.
void WriteAndReadBackMotionJpeg(const std::wstring& name, uint32_t expectedFrames, uint32_t frames,
                                bool expectLarge) {
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 64, 48, 24, expectedFrames, AviCodec::kMjpeg), 1);
    uint64_t data = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        const std::vector<uint8_t> image = FakeJpeg(SizeOf(i), i);
        ASSERT_EQ(avi.WriteFrame(image.data(), static_cast<uint32_t>(image.size())), 1) << i;
        data += image.size();
    }
    EXPECT_EQ(avi.WriteFrame(FakeJpeg(100, 0).data()), 0);  // a compressed frame needs its size
    EXPECT_EQ(avi.DataBytes(), data);
    ASSERT_EQ(avi.Finish(2500), 1);
    const AviReadBack r = ReadFinishedAvi(name);
    ASSERT_EQ(r.problem, "");
    EXPECT_EQ(r.large, expectLarge);
    EXPECT_EQ(r.handler, "MJPG");
    EXPECT_EQ(r.bitCount, 24);
    ASSERT_EQ(r.Frames(), frames);
    ASSERT_EQ(r.frames.size(), frames);
    for (uint32_t i = 0; i < frames; i += 7) {
        EXPECT_EQ(r.frames[i].bytes, SizeOf(i)) << i;
        EXPECT_EQ(ReadAviFrame(name, r.frames[i]), FakeJpeg(SizeOf(i), i)) << i;
    }
}

TEST(AviCodecs, MotionJpegFramesOfEverySizeInThePlainLayout) {
    const std::wstring name = TempName(L"mjpeg-plain.avi");
    WriteAndReadBackMotionJpeg(name, 50, 50, false);
    DeleteFileW(name.c_str());
}

TEST(AviCodecs, MotionJpegFramesContinueInAvixRiffsAndAShortLargeFileBecomesPlain) {
    const RiffLimit limit(20000);
    const std::wstring name = TempName(L"mjpeg-large.avi");
    WriteAndReadBackMotionJpeg(name, 400, 120, true);  // about 120 kB of frames in RIFFs of 20 kB
    const AviReadBack r = ReadFinishedAvi(name);
    EXPECT_GE(r.framesPerRiff.size(), 5u);
    EXPECT_LE(r.firstRiffBytes, 20000u);
    // Expected to be large, ended within its first RIFF: the frames move up behind the plain header.
    WriteAndReadBackMotionJpeg(name, 400, 6, false);
    DeleteFileW(name.c_str());
}

TEST(AviCodecs, GreyFramesCarryTheGreyPaletteInBothLayouts) {
    const std::wstring name = TempName(L"grey.avi");
    for (const bool large : {false, true}) {
        const RiffLimit limit(large ? 12000 : 0);  // the large header alone takes 5640 bytes
        AviWriter avi;
        ASSERT_EQ(avi.Open(name.c_str(), 33, 7, 8, large ? 100 : 10, AviCodec::kGrey8), 1);
        EXPECT_EQ(avi.IsLarge(), large);
        EXPECT_EQ(avi.RowBytes(), 36u);
        EXPECT_EQ(avi.HeaderBytes(), 232u + 1024u);
        std::vector<uint8_t> frame(avi.FrameBytes());
        for (uint32_t i = 0; i < 100; ++i) {
            for (size_t k = 0; k < frame.size(); ++k) frame[k] = static_cast<uint8_t>(i + k);
            ASSERT_EQ(avi.WriteFrame(frame.data()), 1);
        }
        EXPECT_EQ(avi.WriteFrame(frame.data(), 10), 0);  // an uncompressed frame has one size
        ASSERT_EQ(avi.Finish(0), 1);
        const AviReadBack r = ReadFinishedAvi(name);
        ASSERT_EQ(r.problem, "") << large;
        EXPECT_EQ(r.large, large);
        EXPECT_EQ(r.handler, "DIB ");
        EXPECT_EQ(r.bitCount, 8);
        EXPECT_TRUE(r.greyPalette);
        ASSERT_EQ(r.frames.size(), 100u);
        const std::vector<uint8_t> last = ReadAviFrame(name, r.frames[99]);
        ASSERT_EQ(last.size(), 36u * 7);
        EXPECT_EQ(last[0], 99);
        EXPECT_EQ(last[251], static_cast<uint8_t>(99 + 251));
        if (large) EXPECT_GE(r.framesPerRiff.size(), 3u);
    }
    DeleteFileW(name.c_str());
}

// ---- JPEG frames close to the picture

// Decodes a JPEG image into rows top line first (3 samples red first, or 1 grey).
std::vector<uint8_t> DecodeJpeg(const uint8_t* data, size_t bytes, int& width, int& height, int& components) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(bytes));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    components = info.output_components;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + static_cast<size_t>(info.output_scanline) * width * components;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

// A smooth picture (gradients and a bright square), storage row 0 the bottom line.
void FillPicture(CDibImage& image) {
    const int bpp = image.BytesPerPixel();
    for (int y = 0; y < image.Height(); ++y) {
        const int top = image.Height() - 1 - y;
        uint8_t* row = image.Bits() + static_cast<size_t>(y) * image.Stride();
        for (int x = 0; x < image.Width(); ++x) {
            const bool square = x > 40 && x < 90 && top > 10 && top < 50;
            for (int c = 0; c < bpp; ++c)
                row[x * bpp + c] = static_cast<uint8_t>(square ? 230 : 20 + x * (c + 1) / 3 + top);
        }
    }
}

TEST(AviCodecs, JpegFramesDecodeToTheirPictureUprightAndCloserAtHigherQuality) {
    for (const int bits : {24, 8}) {
        CDibImage picture;
        ASSERT_EQ(picture.Create(161, 75, bits), 1);
        FillPicture(picture);
        JpegMemoryEncoder encoder;
        double previous = 1e9;
        for (const int quality : {30, 75, 95}) {
            const size_t bytes = encoder.Encode(picture, quality);
            ASSERT_GT(bytes, 100u);
            int width = 0, height = 0, components = 0;
            const std::vector<uint8_t> decoded = DecodeJpeg(encoder.Data(), bytes, width, height, components);
            ASSERT_EQ(width, 161);
            ASSERT_EQ(height, 75);
            ASSERT_EQ(components, bits / 8);
            double error = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < components; ++c) {
                        // The bitmap is blue first, the JPEG red first; the bitmap's bottom line first.
                        const int source = components == 3 ? 2 - c : 0;
                        const uint8_t want = picture.Bits()[static_cast<size_t>(height - 1 - y) * picture.Stride() +
                                                            x * components + source];
                        error += std::abs(decoded[(static_cast<size_t>(y) * width + x) * components + c] - want);
                    }
            error /= static_cast<double>(width) * height * components;
            EXPECT_LT(error, quality == 95 ? 2.0 : 6.0) << bits << " bits, quality " << quality;
            EXPECT_LT(error, previous) << bits << " bits, quality " << quality;
            previous = error;
        }
    }
    CDibImage deep;
    ASSERT_EQ(deep.Create(8, 8, 48), 1);
    JpegMemoryEncoder encoder;
    EXPECT_EQ(encoder.Encode(deep, 80), 0u);  // only 8 and 24 bits
}

// ---- recordings of a streaming instance

using CodecRecording = outtest::RecordingTest;

TEST_F(CodecRecording, EachCodecGivesACompleteFileAndItsCounts) {
    struct Case { int mode, codec, quality; const char* handler; int fileBits; };
    const Case cases[] = {
        {2, TOVIRAX_CODEC_MJPEG, 80, "MJPG", 24},
        {0, TOVIRAX_CODEC_MJPEG, 50, "MJPG", 24},
        {0, TOVIRAX_CODEC_GREY8, 0, "DIB ", 8},
        {1, TOVIRAX_CODEC_GREY8, 0, "DIB ", 8},
        {4, TOVIRAX_CODEC_UNCOMPRESSED, 0, "DIB ", 24},
    };
    const std::wstring name = wideName();
    for (const Case& k : cases) {
        CTovira& c = camera(k.mode, 643, 481);
        ASSERT_EQ(c.RecordW(name.c_str(), 500, 0, k.codec, k.quality), 1) << k.mode << " " << k.codec;
        ASSERT_TRUE(waitForCompletion(c, 30000));
        TOVIRAX_RECORD_STATUS status{};
        status.size = sizeof status;
        ASSERT_EQ(c.GetRecordStatus(&status), 1);
        const AviReadBack r = ReadFinishedAvi(name);
        ASSERT_EQ(r.problem, "") << k.mode << " " << k.codec;
        EXPECT_EQ(r.handler, k.handler);
        EXPECT_EQ(r.bitCount, k.fileBits);
        EXPECT_EQ(r.width, 643u);
        EXPECT_EQ(r.height, 481u);
        EXPECT_GE(r.Frames(), 2u);
        EXPECT_EQ(status.recording, 0);
        EXPECT_EQ(status.codec, k.codec);
        EXPECT_EQ(static_cast<uint32_t>(status.framesWritten), r.Frames());
        uint64_t data = 0;
        for (const AviReadBack::Frame& f : r.frames) data += f.bytes;
        EXPECT_EQ(status.bytesWritten, data);
        if (k.codec == TOVIRAX_CODEC_MJPEG) {
            // Compressed well below the uncompressed frames.
            EXPECT_LT(data, static_cast<uint64_t>(r.Frames()) * 1932 * 481 / 2);
            int width = 0, height = 0, components = 0;
            const std::vector<uint8_t> first = ReadAviFrame(name, r.frames[0]);
            DecodeJpeg(first.data(), first.size(), width, height, components);
            EXPECT_EQ(width, 643);
            EXPECT_EQ(height, 481);
            EXPECT_EQ(components, 3);
        }
        c.StopPreview();
    }
}

TEST_F(CodecRecording, BadCodecsQualitiesAndGreyInColourModesAreRefusedWithError9) {
    CTovira& c = camera(2, 320, 240);
    const std::wstring name = wideName();
    EXPECT_EQ(c.RecordW(name.c_str(), 500, 0, 3, 0), 0);
    EXPECT_EQ(c.GetLastError(), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(c.RecordW(name.c_str(), 500, 0, -1, 0), 0);
    EXPECT_EQ(c.GetLastError(), TOVIRA_ERR_PARAMETER);
    for (const int quality : {0, 101, -5}) {
        EXPECT_EQ(c.RecordW(name.c_str(), 500, 0, TOVIRAX_CODEC_MJPEG, quality), 0) << quality;
        EXPECT_EQ(c.GetLastError(), TOVIRA_ERR_PARAMETER);
    }
    EXPECT_EQ(c.RecordW(name.c_str(), 500, 0, TOVIRAX_CODEC_GREY8, 0), 0);
    EXPECT_EQ(c.GetLastError(), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);  // nothing was created
    EXPECT_EQ(c.recording, 0);
    TOVIRAX_RECORD_STATUS status{};
    status.size = 39;
    EXPECT_EQ(c.GetRecordStatus(&status), 0);
    EXPECT_EQ(c.GetRecordStatus(nullptr), 0);
}

// Frames the recording thread could not take in time are counted, never queued: what it wrote and what
// it left out add up to the frames the stream processed between its first and last frame.
TEST_F(CodecRecording, FramesLeftOutAreCountedAndAddUpWithTheFramesWritten) {
    CTovira& c = camera(2, 1920, 1080);
    const std::wstring name = wideName();
    const uint64_t before = c.frameSequence;
    ASSERT_EQ(c.RecordW(name.c_str(), 800, 0, TOVIRAX_CODEC_MJPEG, 100), 1);
    ASSERT_TRUE(waitForCompletion(c, 30000));
    const uint64_t after = c.frameSequence;
    TOVIRAX_RECORD_STATUS status{};
    status.size = sizeof status;
    ASSERT_EQ(c.GetRecordStatus(&status), 1);
    const uint64_t taken = static_cast<uint64_t>(status.framesWritten) + status.framesDropped;
    EXPECT_GE(status.framesWritten, 1);
    EXPECT_LE(taken, after - before);
    EXPECT_GT(status.elapsedMs, 0);
    EXPECT_EQ(ReadFinishedAvi(name).problem, "");
    c.StopPreview();
}

}  // namespace
