// The C++ layer (ToviraSdk_Z400KX.hpp) over the DLL: errors as exceptions with the SDK's code, the stream
// and the frame callback ended by their destructors in the safe order, lent frames handed back when they
// end, and the settings struct read and applied whole.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX.hpp"

namespace {

constexpr int kPatientMs = 60000;  // a safety net under a loaded machine, never a timing check

class CppLayer : public ::testing::Test {
protected:
    void SetUp() override { DeleteToviraSettings(); }
    void TearDown() override { DeleteToviraSettings(); }
};

TEST_F(CppLayer, FailuresThrowTheCodeWithTheCallAndItsText) {
    tovira::Camera camera;
    try {
        camera.setColorMode(12);
        FAIL() << "no exception";
    } catch (const tovira::Error& e) {
        EXPECT_EQ(e.code(), TOVIRA_ERR_PARAMETER);
        const std::string what = e.what();
        EXPECT_NE(what.find("Tovira_SetColorMode"), std::string::npos) << what;
        EXPECT_NE(what.find(tovira::ErrorText(TOVIRA_ERR_PARAMETER)), std::string::npos) << what;
    }
    // The history is empty again: the exception took the code.
    EXPECT_EQ(Tovira_GetLastError(camera.handle()), 0);
    EXPECT_THROW(camera.setWindow(3000, 0, 1000, 100), tovira::Error);
}

TEST_F(CppLayer, AMovedCameraReleasesOnceAndTheStreamStopsWhenItEnds) {
    tovira::Camera first;
    const int handle = first.handle();
    tovira::Camera camera = std::move(first);
    EXPECT_EQ(first.handle(), 0);
    EXPECT_EQ(camera.handle(), handle);
    camera.setColorMode(8);
    camera.setWindow(0, 0, 320, 240);
    unsigned long long last = 0;
    {
        tovira::Stream stream = camera.stream();
        for (int i = 0; i < 3; ++i) {
            const tovira::OwnedFrame frame = stream.next(kPatientMs);
            EXPECT_EQ(frame.width(), 320);
            EXPECT_EQ(frame.size(), size_t(frame.stride()) * 240);
            EXPECT_GT(frame.meta().frameId, last);  // each frame once, newer than the one before
            last = frame.meta().frameId;
        }
    }
    // Stopped: waiting for a frame fails at once with error 1.
    TOVIRAX_FRAME_META meta{};
    meta.size = sizeof meta;
    EXPECT_EQ(ToviraX_WaitFrame(camera.handle(), TOVIRAX_NEXT_FRAME, 1000, nullptr, 0, 1, &meta), -1);
    EXPECT_EQ(Tovira_GetLastError(camera.handle()), TOVIRA_ERR_NOT_READY);
    camera.release();
    EXPECT_EQ(Tovira_GetColorMode(handle), -1);  // the handle is gone
}

TEST_F(CppLayer, LentFramesGoBackWhenTheyEndAndTheCallbackEndsBeforeItsBuffers) {
    tovira::Camera camera;
    camera.setColorMode(8);
    camera.setWindow(0, 0, 320, 240);
    std::mutex lock;
    std::vector<tovira::LentFrame> kept;
    std::atomic<int> called{0};
    {
        // Two buffers: frames kept by the test hold them; giving them back lets frames come again.
        auto callback = camera.onFrame(
            [&](tovira::LentFrame frame) {
                EXPECT_EQ(frame.format().bytesPerFrame, frame.stride() * frame.height());
                std::lock_guard<std::mutex> guard(lock);
                kept.push_back(std::move(frame));
                ++called;
            },
            2);
        tovira::Stream stream = camera.stream();
        const DWORD start = GetTickCount();
        while (called < 2 && GetTickCount() - start < kPatientMs) Sleep(5);
        ASSERT_EQ(called.load(), 2);
        // Both buffers are out: nothing more arrives until one is given back.
        {
            std::lock_guard<std::mutex> guard(lock);
            kept.clear();
        }
        while (called < 4 && GetTickCount() - start < kPatientMs) Sleep(5);
        EXPECT_GE(called.load(), 4);
        std::lock_guard<std::mutex> guard(lock);
        kept.clear();
    }
    TOVIRAX_COUNTERS counts{};
    counts.size = sizeof counts;
    ToviraX_GetFrameMeta(camera.handle(), nullptr, &counts);
    EXPECT_GE(counts.delivered, 4u);
}

TEST_F(CppLayer, SettingsStructReadsAndAppliesEverySetting) {
    tovira::Camera camera({nullptr, false});
    tovira::Settings s = camera.settings();
    EXPECT_EQ(s.colorMode, 24);
    EXPECT_EQ(s.exposureLines, 2748);
    EXPECT_EQ(s.bayerMode, 3);
    s.colorMode = 48;
    s.windowX = 961;
    s.windowWidth = 1001;
    s.exposureLines = 1500;
    s.mirrorH = true;
    s.gamma = 140;
    s.bayerMode = 0;
    s.grayOffset[3] = -7;
    camera.apply(s);
    const tovira::Settings back = camera.settings();
    EXPECT_EQ(back.colorMode, 48);
    EXPECT_EQ(back.windowX, 961);
    EXPECT_EQ(back.windowWidth, 1001);
    EXPECT_EQ(back.exposureLines, 1500);
    EXPECT_TRUE(back.mirrorH);
    EXPECT_EQ(back.gamma, 140);
    EXPECT_EQ(back.bayerMode, 0);  // the mirror moved it first, the struct's value then holds
    EXPECT_EQ(back.grayOffset[3], -7);
    const tovira::FrameFormat f = camera.format();
    EXPECT_EQ(f.width, 1001);
    EXPECT_EQ(f.bitsPerPixel, 48);
    camera.resetSettings();
    EXPECT_EQ(camera.settings().gamma, 100);
}

TEST_F(CppLayer, RecordingInACodecAndItsCounts) {
    tovira::Camera camera;
    camera.setColorMode(24);
    camera.setWindow(0, 0, 320, 240);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + "tovira_cpp_" + std::to_string(GetCurrentProcessId()) + ".avi";
    EXPECT_THROW(camera.record(file, 500, TOVIRAX_CODEC_MJPEG, 0), tovira::Error);  // no quality
    camera.record(file, 300, TOVIRAX_CODEC_MJPEG, 80);
    TOVIRAX_RECORD_STATUS status = camera.recordStatus();
    const DWORD start = GetTickCount();
    while (status.recording && GetTickCount() - start < kPatientMs) {
        Sleep(10);
        status = camera.recordStatus();
    }
    EXPECT_EQ(status.recording, 0);
    EXPECT_EQ(status.codec, TOVIRAX_CODEC_MJPEG);
    EXPECT_GE(status.framesWritten, 1);
    EXPECT_GT(status.bytesWritten, 0u);
    EXPECT_TRUE(DeleteFileA(file.c_str()));
}

}  // namespace
