// Writes one snapshot per colour mode in every file type, next to the frame itself as GetImage returns it,
// into the folder named by TOVIRA_EXTERNAL_FILES_DIR. A host-side check (tests/external-readers.py) then
// opens the files with readers that share no code with the SDK and compares them pixel by pixel.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

std::string OutputFolder() {
    char path[MAX_PATH] = {};
    GetEnvironmentVariableA("TOVIRA_EXTERNAL_FILES_DIR", path, MAX_PATH);
    return path;
}

// An odd height and a width whose 8-bit rows need padding.
constexpr int kWidth = 322;
constexpr int kHeight = 241;

TEST(EnvExternalFiles, EveryColourModeInEveryFileType) {
    const std::string folder = OutputFolder();
    ASSERT_FALSE(folder.empty()) << "TOVIRA_EXTERNAL_FILES_DIR is not set";
    CreateDirectoryA(folder.c_str(), nullptr);
    const int h = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(h, 0);
    std::FILE* index = std::fopen((folder + "\\index.txt").c_str(), "w");
    ASSERT_NE(index, nullptr);
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        ASSERT_EQ(Tovira_SetColorMode(h, bits), 1);
        ASSERT_EQ(Tovira_SnapShot(h, nullptr, 0, 1), 1) << bits << " bits: error " << Tovira_GetLastError(h);
        const int stride = StrideOf(kWidth, bits);
        std::vector<uint8_t> frame(static_cast<size_t>(stride) * kHeight);
        ASSERT_EQ(Tovira_GetImage(h, frame.data(), static_cast<int>(frame.size()), 1), 1);
        char name[64];
        std::snprintf(name, sizeof name, "mode%02d.frame", bits);
        std::FILE* f = std::fopen((folder + "\\" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(frame.data(), 1, frame.size(), f), frame.size());
        std::fclose(f);
        for (int type = 0; type <= 6; ++type) {
            static const char* const ext[] = {"bmp", "raw", "q100.jpg", "q70.jpg", "q20.jpg", "png", "tif"};
            std::snprintf(name, sizeof name, "mode%02d.%s", bits, ext[type]);
            EXPECT_EQ(Tovira_SaveImage(h, (folder + "\\" + name).c_str(), type), 1) << name;
        }
        std::fprintf(index, "%d %d %d %d\n", bits, kWidth, kHeight, stride);
    }
    std::fclose(index);
    // A short recording for the AVI reader.
    ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
    Tovira_StopPreview(h);
    ASSERT_EQ(Tovira_Record(h, (folder + "\\recording.avi").c_str(), 1500, 0), 1) << Tovira_GetLastError(h);
    MessageSink sink;
    sink.pumpFor(2500);
    Tovira_StopPreview(h);
    // The same scene as Motion JPEG, and as grey frames from colour mode 8.
    ASSERT_EQ(ToviraX_RecordEx(h, (folder + "\\recording-mjpeg.avi").c_str(), 1500, 0, TOVIRAX_CODEC_MJPEG, 90), 1)
        << Tovira_GetLastError(h);
    sink.pumpFor(2500);
    Tovira_StopPreview(h);
    ASSERT_EQ(Tovira_SetColorMode(h, 8), 1);
    ASSERT_EQ(ToviraX_RecordEx(h, (folder + "\\recording-grey.avi").c_str(), 1500, 0, TOVIRAX_CODEC_GREY8, 0), 1)
        << Tovira_GetLastError(h);
    sink.pumpFor(2500);
    Tovira_StopPreview(h);
    Tovira_Close(h);
    EXPECT_EQ(Tovira_Release(h), 1);
}

// PNG files of sizes the writer compresses in one, two, four and eight parts, odd widths and tiny
// images, each next to its frame, listed in png-index.txt as "bits width height stride".
TEST(EnvExternalFiles, PngInPartsAndTinyImages) {
    const std::string folder = OutputFolder();
    ASSERT_FALSE(folder.empty()) << "TOVIRA_EXTERNAL_FILES_DIR is not set";
    CreateDirectoryA(folder.c_str(), nullptr);
    struct Shape { int bits, width, height; };
    const Shape shapes[] = {
        {48, 17, 9},      {24, 33, 7},      {8, 9, 5},        // small: one part
        {48, 1001, 701},  {64, 1001, 701},  {8, 2049, 2049},  // two parts
        {48, 1001, 1401}, {16, 2001, 2101},                   // four parts
        {24, 2731, 2049},                                     // eight parts
    };
    std::FILE* index = std::fopen((folder + "\\png-index.txt").c_str(), "w");
    ASSERT_NE(index, nullptr);
    for (const Shape& s : shapes) {
        const int h = OpenCamera(nullptr, s.width, s.height);
        ASSERT_NE(h, 0) << s.width << " x " << s.height;
        ASSERT_EQ(Tovira_SetColorMode(h, s.bits), 1);
        ASSERT_EQ(Tovira_SnapShot(h, nullptr, 0, 1), 1) << s.bits << " bits: error " << Tovira_GetLastError(h);
        const int stride = StrideOf(s.width, s.bits);
        std::vector<uint8_t> frame(static_cast<size_t>(stride) * s.height);
        ASSERT_EQ(Tovira_GetImage(h, frame.data(), static_cast<int>(frame.size()), 1), 1);
        char name[64];
        std::snprintf(name, sizeof name, "png%02d-%dx%d", s.bits, s.width, s.height);
        const std::string base = folder + "\\" + name;
        std::FILE* f = std::fopen((base + ".frame").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(frame.data(), 1, frame.size(), f), frame.size());
        std::fclose(f);
        EXPECT_EQ(Tovira_SaveImage(h, (base + ".png").c_str(), 5), 1) << name;
        std::fprintf(index, "%d %d %d %d\n", s.bits, s.width, s.height, stride);
        Tovira_Close(h);
        EXPECT_EQ(Tovira_Release(h), 1);
    }
    std::fclose(index);
}

}  // namespace
