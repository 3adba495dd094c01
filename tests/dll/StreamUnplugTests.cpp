// The camera goes away while streaming (virtual camera unplugged after a few frames; own CTest entry with
// TOVIRA_VIRTUAL_UNPLUG_AFTER): one message with lParam 13, error 13, no frames after it; the instance
// stays streaming until the application stops it, but no later start succeeds.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

// After the loss every start fails at the call with the codes of an instance that never found a camera
// (preparation 2, then the start's own code), a recording leaves no file, and the camera is not listed.
void ExpectEveryStartFailsAsWithoutCamera(int camera) {
    std::vector<uint8_t> buffer(size_t(StrideOf(320, 24)) * 240);
    PopToviraErrors(camera);
    EXPECT_EQ(Tovira_StartPreview(camera), 0);
    EXPECT_EQ(PopToviraErrors(camera), std::vector<int>({1, 2}));
    EXPECT_EQ(Tovira_Capture(camera), 0);
    EXPECT_EQ(PopToviraErrors(camera), std::vector<int>({1, 2}));
    EXPECT_EQ(Tovira_SnapShot(camera, buffer.data(), int(buffer.size()), 1), 0);
    EXPECT_EQ(PopToviraErrors(camera), std::vector<int>({1, 2}));
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    const std::string file = std::string(dir) + "tovira_after_loss.avi";
    DeleteFileA(file.c_str());
    EXPECT_EQ(Tovira_Record(camera, file.c_str(), 1000, 0), 0);
    EXPECT_EQ(PopToviraErrors(camera), std::vector<int>({12, 1, 2}));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "an empty recording was left";
    char names[10][256];
    memset(names, 'x', sizeof names);
    EXPECT_EQ(Tovira_EnumDevice(camera, &names[0][0]), 0);
    EXPECT_EQ(names[0][0], '\0');
}

TEST(EnvStreamUnplug, TheEndOfTheTransferIsToldOnceAndTheStateStaysStreaming) {
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 320, 240);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    sink.pumpFor(30);
    sink.errors.clear();

    std::vector<uint8_t> buffer(size_t(StrideOf(320, 24)) * 240);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(buffer.size()), 1), 1);
    auto lost = [&] {
        for (const FrameMessage& f : sink.frames)
            if (f.lParam == 13) return true;
        return false;
    };
    sink.pumpUntil(lost, 30000);
    ASSERT_TRUE(lost());
    // Time for anything that would still come.
    sink.pumpFor(500);

    int lostMessages = 0;
    bool afterLoss = false;
    for (const FrameMessage& f : sink.frames) {
        if (f.lParam == 13) {
            EXPECT_EQ(f.wParam, 0u);
            ++lostMessages;
            afterLoss = true;
        } else {
            EXPECT_FALSE(afterLoss) << "a frame message after the loss";
            EXPECT_EQ(f.lParam, 0);
        }
    }
    EXPECT_EQ(lostMessages, 1);
    ASSERT_FALSE(sink.errors.empty());
    EXPECT_EQ(sink.errors.back(), 13);
    EXPECT_EQ(Tovira_GetLastError(camera), 13);

    // The stop collects the transfer that ended on a failed read and reports it (error 6).
    EXPECT_EQ(Tovira_StopPreview(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 6);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    ExpectEveryStartFailsAsWithoutCamera(camera);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

// Own CTest entry (one loss per process): the application starts again without stopping the dead stream.
TEST(EnvStreamUnplugRestart, AStartWithoutAStopAfterTheLossFailsAtTheCall) {
    MessageSink sink;
    const int camera = OpenCamera(sink.window(), 320, 240);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    std::vector<uint8_t> buffer(size_t(StrideOf(320, 24)) * 240);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(buffer.size()), 1), 1);
    auto lost = [&] {
        for (const FrameMessage& f : sink.frames)
            if (f.lParam == 13) return true;
        return false;
    };
    sink.pumpUntil(lost, 30000);
    ASSERT_TRUE(lost());
    sink.pumpFor(200);  // the loop records error 13 right after the message
    PopToviraErrors(camera);
    // Nobody stopped the dead stream: the start must not claim success.
    EXPECT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(buffer.size()), 1), 0);
    EXPECT_EQ(PopToviraErrors(camera), std::vector<int>({8, 1, 2}));
    const size_t messages = sink.frames.size();
    ExpectEveryStartFailsAsWithoutCamera(camera);
    // The dead stream was collected by the start: the stop has nothing left to report.
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_EQ(Tovira_GetLastError(camera), 0);
    sink.pumpFor(100);
    EXPECT_EQ(sink.frames.size(), messages);
    EXPECT_EQ(Tovira_Release(camera), 1);
}


}  // namespace
