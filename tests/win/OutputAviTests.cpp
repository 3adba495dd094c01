// The AVI writer's layout, the frames built from every colour mode, and recordings of a streaming
// instance against the virtual camera.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CameraTestSupport.h"
#include "OutputTestSupport.h"
#include "output/AviFrame.h"
#include "output/AviWriter.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& name) {
    std::vector<uint8_t> data;
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return data;
}
uint32_t U32(const std::vector<uint8_t>& d, size_t at) { uint32_t v; std::memcpy(&v, &d[at], 4); return v; }
std::string Id(const std::vector<uint8_t>& d, size_t at) { return std::string(reinterpret_cast<const char*>(&d[at]), 4); }

std::string TempName(const char* leaf) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "tovira_" + std::to_string(GetCurrentProcessId()) + "_" + leaf;
}

// Checks the structure of a finished file of `frames` frames of width x height; returns the offset of
// the first frame's data.
void ExpectCompleteFile(const std::vector<uint8_t>& d, int width, int height, uint32_t frames) {
    const uint32_t row = (3u * width + 3) & ~3u, size = row * height;
    ASSERT_GE(d.size(), 232u);
    EXPECT_EQ(Id(d, 0), "RIFF");
    EXPECT_EQ(U32(d, 4), d.size() - 8);
    EXPECT_EQ(Id(d, 8), "AVI ");
    EXPECT_EQ(U32(d, 16), 200u);
    EXPECT_EQ(Id(d, 24), "avih");
    EXPECT_EQ(U32(d, 44), 0x00010010u);
    EXPECT_EQ(U32(d, 48), frames);
    EXPECT_EQ(U32(d, 56), 1u);
    EXPECT_EQ(U32(d, 60), size + 8);
    EXPECT_EQ(U32(d, 64), static_cast<uint32_t>(width));
    EXPECT_EQ(U32(d, 68), static_cast<uint32_t>(height));
    EXPECT_EQ(U32(d, 92), 124u);
    EXPECT_EQ(Id(d, 108), "vids");
    EXPECT_EQ(Id(d, 112), "DIB ");
    EXPECT_EQ(U32(d, 132), 10000000u);
    EXPECT_EQ(U32(d, 140), frames);
    EXPECT_EQ(U32(d, 144), size + 8);
    EXPECT_EQ(U32(d, 180), 40u);
    EXPECT_EQ(U32(d, 194 - 2) >> 16, 24u);  // bit count at 194
    EXPECT_EQ(Id(d, 228), "movi");
    EXPECT_EQ(U32(d, 224), 4 + frames * (8 + size));
    const size_t indexAt = 232 + static_cast<size_t>(frames) * (8 + size);
    ASSERT_EQ(d.size(), indexAt + 8 + 16 * frames);
    EXPECT_EQ(Id(d, indexAt), "idx1");
    EXPECT_EQ(U32(d, indexAt + 4), 16 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        const size_t e = indexAt + 8 + 16 * i;
        EXPECT_EQ(Id(d, e), "00db");
        EXPECT_EQ(U32(d, e + 4), 0x10u);
        EXPECT_EQ(U32(d, e + 8), 4 + i * (8 + size));
        EXPECT_EQ(U32(d, e + 12), size);
        EXPECT_EQ(Id(d, 228 + U32(d, e + 8)), "00db");
        EXPECT_EQ(U32(d, 232 + i * (8 + size) + 4), size);
    }
}

TEST(AviLayout, FullFrameHeadersAfterOpen) {
    const std::string name = TempName("full.avi");
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 3840, 2748, 24), 1);
    EXPECT_EQ(avi.FrameBytes(), 31656960u);
    avi.Reset();  // closes the file, no index
    const std::vector<uint8_t> d = ReadFile(name);
    ASSERT_EQ(d.size(), 232u);
    EXPECT_EQ(U32(d, 4), 0u);        // later
    EXPECT_EQ(U32(d, 32), 33333u);   // 1,000,000 / 30
    EXPECT_EQ(U32(d, 60), 31656968u);
    EXPECT_EQ(U32(d, 128), 333333u); // 10,000,000 / 30
    EXPECT_EQ(U32(d, 144), 31656968u);
    EXPECT_EQ(U32(d, 184), 3840u);
    EXPECT_EQ(U32(d, 188), 2748u);
    EXPECT_EQ(U32(d, 224), 0u);
    DeleteFileA(name.c_str());
}

TEST(AviLayout, FramesIndexSizesAndMeasuredRate) {
    const std::string name = TempName("rate.avi");
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 1001, 3, 24), 1);
    EXPECT_EQ(avi.RowBytes(), 3004u);
    std::vector<uint8_t> frame(avi.FrameBytes());
    for (uint32_t i = 0; i < 90; ++i) {
        std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(i));
        ASSERT_EQ(avi.WriteFrame(frame.data()), 1);
    }
    const uint32_t rate = AviWriter::MeasuredRate(90, 3000);
    EXPECT_EQ(rate, 3000u);
    ASSERT_EQ(avi.Finish(rate), 1);
    const std::vector<uint8_t> d = ReadFile(name);
    ExpectCompleteFile(d, 1001, 3, 90);
    EXPECT_EQ(U32(d, 32), 33333u);
    EXPECT_EQ(U32(d, 128), 333333u);
    EXPECT_EQ(d[232 + 8 + 89 * (8 + 3004 * 3)], 89);  // the frames in order
    DeleteFileA(name.c_str());
}

TEST(AviLayout, ZeroElapsedOrZeroRateNeverDividesByZero) {
    EXPECT_EQ(AviWriter::MeasuredRate(5, 0), 0u);
    EXPECT_EQ(AviWriter::MeasuredRate(1, 200000), 0u);  // slower than 1/100 frame per second
    const std::string name = TempName("zero.avi");
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 8, 2, 8), 1);
    std::vector<uint8_t> frame(avi.FrameBytes());
    avi.WriteFrame(frame.data());
    ASSERT_EQ(avi.Finish(0), 1);
    const std::vector<uint8_t> d = ReadFile(name);
    ExpectCompleteFile(d, 8, 2, 1);
    EXPECT_EQ(U32(d, 32), 33333u);  // the nominal timing stays
    EXPECT_EQ(avi.Open("Z:\\no such folder\\x.avi", 8, 2, 8), 0);
    EXPECT_EQ(avi.Open(name.c_str(), 0, 2, 8), 0);
    DeleteFileA(name.c_str());
}

// The large layout's header with a lowered RIFF limit: super index in the stream list, "odml" after it,
// "movi" behind them; RIFFs within the limit; the file written as far as frames were accepted.
TEST(AviLayout, LargeLayoutHeadersAndRiffsWithinTheLimit) {
    const std::string name = TempName("large.avi");
    AviWriter::SetRiffLimitForTesting(20000);
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 32, 16, 24, 100), 1);  // 100 frames of 1544 bytes: past one RIFF
    EXPECT_TRUE(avi.IsLarge());
    std::vector<uint8_t> frame(avi.FrameBytes(), 0x5A);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(avi.WriteFrame(frame.data()), 1) << i;
    ASSERT_EQ(avi.Finish(3000), 1);
    AviWriter::SetRiffLimitForTesting(0);
    const std::vector<uint8_t> d = ReadFile(name);
    const uint32_t slots = 256;
    EXPECT_EQ(Id(d, 220), "indx");
    EXPECT_EQ(U32(d, 224), 24 + 16 * slots);
    EXPECT_EQ(U32(d, 92), 156 + 16 * slots);  // strl: strh, strf and the super index
    const size_t odml = 252 + 16 * slots;
    EXPECT_EQ(Id(d, odml), "LIST");
    EXPECT_EQ(Id(d, odml + 8), "odml");
    EXPECT_EQ(Id(d, odml + 12), "dmlh");
    EXPECT_EQ(U32(d, odml + 20), 40u);  // all frames
    EXPECT_EQ(U32(d, 140), 40u);
    EXPECT_EQ(Id(d, odml + 268 + 8), "movi");
    EXPECT_EQ(U32(d, 16), odml + 268 - 20);  // hdrl ends where movi starts
    // The RIFFs tile the file, none past the limit; the super index lists each one's frames.
    uint32_t riffs = 0, frames = 0;
    for (size_t at = 0; at < d.size(); ++riffs) {
        ASSERT_EQ(Id(d, at), "RIFF");
        EXPECT_EQ(Id(d, at + 8), riffs == 0 ? "AVI " : "AVIX");
        const size_t size = U32(d, at + 4) + 8ull;
        EXPECT_LE(size, 20000u);
        const uint32_t inRiff = U32(d, 252 + 16 * riffs + 12);
        EXPECT_GT(inRiff, 0u);
        frames += inRiff;
        at += size;
        ASSERT_LE(at, d.size());
    }
    EXPECT_EQ(U32(d, 232), riffs);  // super index entries in use
    EXPECT_GE(riffs, 3u);
    EXPECT_EQ(frames, 40u);
    EXPECT_EQ(U32(d, 48), U32(d, 252 + 12));  // the main header counts the first RIFF
    DeleteFileA(name.c_str());
}

// A plain file that gets more frames than expected stops at twice the RIFF limit rather than growing
// past what plain readers take; what it holds is finished.
TEST(AviLayout, PlainLayoutRefusesFramesPastItsLimit) {
    const std::string name = TempName("plainlimit.avi");
    AviWriter::SetRiffLimitForTesting(20000);
    AviWriter avi;
    ASSERT_EQ(avi.Open(name.c_str(), 32, 16, 24, 2), 1);
    EXPECT_FALSE(avi.IsLarge());
    std::vector<uint8_t> frame(avi.FrameBytes());
    int written = 0;
    while (avi.WriteFrame(frame.data()) == 1) ++written;
    EXPECT_EQ(avi.WriteFrame(frame.data()), -1);
    ASSERT_EQ(avi.Finish(0), 1);
    AviWriter::SetRiffLimitForTesting(0);
    const std::vector<uint8_t> d = ReadFile(name);
    EXPECT_LE(d.size(), 40000u);
    EXPECT_GT(d.size() + 1544 + 16, 40000u);  // one more frame would not have fitted
    ExpectCompleteFile(d, 32, 16, static_cast<uint32_t>(written));
    DeleteFileA(name.c_str());
}

// Frame pixel (x, y) of the picture, bottom line first in the frame data.
const uint8_t* FramePixel(const CDibImage& frame, int x, int y) {
    return frame.Bits() + static_cast<size_t>(frame.Height() - 1 - y) * frame.Stride() + 3 * x;
}

TEST(AviFrames, EveryColourModeGivesTheUprightPictureInBlueGreenRedAndTheGreyModesInGrey) {
    outtest::InstanceWithImages subject;
    const int width = 1001, height = 6;
    AviFrameBuilder builder;
    ASSERT_EQ(builder.Create(width, height), 1);
    for (int mode = 0; mode < 6; ++mode) {
        ASSERT_TRUE(subject.Prepare(mode, width, height));
        CDibImage& output = *subject.Output(mode);
        outtest::FillPattern(output);
        const CDibImage* frame = builder.Build(output);
        ASSERT_NE(frame, nullptr) << mode;
        EXPECT_EQ(frame->Stride(), 3004);
        int mismatches = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    int expected;
                    switch (mode) {
                        case 0: expected = outtest::Sample(x, y, 0, 8); break;
                        case 1: expected = outtest::Sample(x, y, 0, 12) >> 4; break;
                        case 2: case 3: expected = outtest::Sample(x, y, c, 8); break;
                        default: expected = outtest::Sample(x, y, c, 12) >> 4; break;
                    }
                    if (FramePixel(*frame, x, y)[c] != expected && ++mismatches < 4)
                        ADD_FAILURE() << "mode " << mode << " (" << x << "," << y << ") c" << c;
                }
        EXPECT_EQ(mismatches, 0) << mode;
        // The grey frame of the grey modes (bits 4..11 of 12-bit samples), none of the colour modes.
        const CDibImage* grey = builder.BuildGrey(output);
        if (mode > 1) {
            EXPECT_EQ(grey, nullptr) << mode;
            continue;
        }
        ASSERT_NE(grey, nullptr) << mode;
        ASSERT_EQ(grey->Stride(), 1004);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (grey->Bits()[static_cast<size_t>(height - 1 - y) * 1004 + x] != FramePixel(*frame, x, y)[0] &&
                    ++mismatches < 4)
                    ADD_FAILURE() << "grey, mode " << mode << " (" << x << "," << y << ")";
        EXPECT_EQ(mismatches, 0) << mode;
    }
    CDibImage other;
    other.Create(width + 1, height, 24);
    EXPECT_EQ(builder.Build(other), nullptr);
    EXPECT_EQ(builder.BuildGrey(other), nullptr);
}

// ---- recordings of a streaming instance

using Recording = outtest::RecordingTest;

TEST_F(Recording, CompletesAfterItsDurationWithTheMeasuredRate) {
    CTovira& c = camera(2, 320, 240);
    ASSERT_EQ(c.GetColorMode(), 24);
    ASSERT_EQ(c.Record(name.c_str(), 400, 0), 1);
    ASSERT_TRUE(waitForCompletion(c, 20000));
    EXPECT_EQ(c.State(), CameraState::Streaming);  // the preview goes on
    const std::vector<uint8_t> d = ReadFile(name);
    ASSERT_GE(d.size(), 232u);
    const uint32_t frames = U32(d, 48);
    EXPECT_GE(frames, 2u);
    ExpectCompleteFile(d, 320, 240, frames);
    // The measured rate replaced the nominal 30 in both headers, consistently (rate in 1/100 fps).
    const uint32_t microseconds = U32(d, 32), scale = U32(d, 128);
    EXPECT_NE(microseconds, 0u);
    EXPECT_NEAR(static_cast<double>(scale), 10.0 * microseconds, 10.0);
    // A second recording after the first completed is accepted.
    ASSERT_EQ(c.Record(name.c_str(), 100, 0), 1);
    c.StopPreview();
    ExpectCompleteFile(ReadFile(name), 320, 240, U32(ReadFile(name), 48));
}

TEST_F(Recording, StoppedEarlyTheFileIsStillComplete) {
    for (int mode : {0, 1, 2, 4}) {
        CTovira& c = camera(mode, 1001, 40);
        ASSERT_EQ(c.Record(name.c_str(), 600000, 0), 1) << mode;
        outtest::PumpMessages(30);
        EXPECT_EQ(c.StopPreview(), 1);
        EXPECT_EQ(c.recording, 0);
        const std::vector<uint8_t> d = ReadFile(name);
        ASSERT_GE(d.size(), 232u);
        ExpectCompleteFile(d, 1001, 40, U32(d, 48));
        // Each row ends in one filler byte.
        EXPECT_EQ(U32(d, 60), 3004u * 40 + 8);
        release();
    }
}

TEST_F(Recording, SecondStartWhileRecordingIsRefusedAndTheFirstGoesOn) {
    CTovira& c = camera(2, 64, 48);
    ASSERT_EQ(c.Record(name.c_str(), 600000, 0), 1);
    errors();
    const std::string other = TempName("other.avi");
    EXPECT_EQ(c.Record(other.c_str(), 100, 0), 0);
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_STORAGE});
    EXPECT_EQ(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(c.recording, 1);
    outtest::PumpMessages(10);
    release();  // the release finishes the file
    const std::vector<uint8_t> d = ReadFile(name);
    ExpectCompleteFile(d, 64, 48, U32(d, 48));
}

TEST_F(Recording, EmptyNamesAndBadFilesAreRefused) {
    CTovira& c = camera(2, 64, 48);
    errors();
    EXPECT_EQ(c.Record("", 100, 0), 0);
    EXPECT_EQ(c.Record(nullptr, 100, 0), 0);
    EXPECT_EQ(errors(), (std::vector<int>{TOVIRA_ERR_PARAMETER, TOVIRA_ERR_PARAMETER}));
    EXPECT_EQ(c.Record("Z:\\no such folder\\x.avi", 100, 0), 0);
    EXPECT_EQ(errors().front(), TOVIRA_ERR_STORAGE);
    EXPECT_EQ(c.recording, 0);
    EXPECT_EQ(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
    std::wstring wide(1100, L'a');
    EXPECT_EQ(c.RecordW(wide.c_str(), 100, 0), 0);
    EXPECT_EQ(errors().front(), TOVIRA_ERR_STORAGE);
}

}  // namespace

// ---- saving through the instance

class SavingThroughTheInstance : public CameraInstanceTest {};

TEST_F(SavingThroughTheInstance, WholeFramesEmptyImagesAndWideNames) {
    CTovira& c = initialize();
    const std::string name = TempName("save.bmp");
    DeleteFileA(name.c_str());
    // Nothing captured yet: the output image is empty, nothing is written, and the reason is recorded.
    errors();
    EXPECT_EQ(c.SaveImage(name.c_str(), 0), 0);
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_NOT_READY});

    ASSERT_EQ(c.SetColorMode(24), 1);
    ASSERT_EQ(c.SetCaptureWindowEx(3840, 0, 640, 2748, 0, 480), 1);
    ASSERT_EQ(c.SnapShot(nullptr, 0, 0), 1);
    EXPECT_EQ(c.SaveImage(name.c_str(), 0), 1);
    std::vector<uint8_t> d = ReadFile(name);
    EXPECT_EQ(d.size(), 921654u);
    // The BMP holds the frame of the output image, bottom line first.
    std::vector<uint8_t> frame(1920 * 480);
    ASSERT_EQ(c.GetImage(frame.data(), static_cast<int>(frame.size()), 0), 1);  // 0: bottom-up
    EXPECT_EQ(0, std::memcmp(d.data() + 54, frame.data(), frame.size()));
    EXPECT_EQ(c.SaveImage(name.c_str(), 7), 0);
    EXPECT_EQ(c.SaveImage(name.c_str(), -1), 0);

    // A wide name is used as given, whatever its length: one the file system refuses records 12 (there is
    // no conversion buffer any more whose overflow recorded 1).
    errors();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::wstring wide;
    for (const char* p = temp; *p; ++p) wide += static_cast<wchar_t>(*p);
    wide.append(1100, L'x');
    EXPECT_EQ(c.SaveImageW(wide.c_str(), 1), 0);
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_STORAGE});
    const std::string shortName = TempName("wide.raw");
    std::wstring shortWide(shortName.begin(), shortName.end());
    EXPECT_EQ(c.SaveImageW(shortWide.c_str(), 1), 1);
    EXPECT_EQ(ReadFile(shortName).size(), 921600u);
    DeleteFileA(shortName.c_str());
    DeleteFileA(name.c_str());
}
