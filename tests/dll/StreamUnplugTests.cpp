// The camera goes away while streaming (virtual camera unplugged after a few frames; own CTest entry with
// TOVIRA_VIRTUAL_UNPLUG_AFTER): one message with lParam 13, error 13, no frames after it, and the
// instance stays streaming until the application stops it.

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

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

    // Still streaming: a start changes nothing, capture mode is refused.
    EXPECT_EQ(Tovira_StartPreview(camera), 1);
    EXPECT_EQ(Tovira_Capture(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 1);
    // The stop collects the transfer that ended on a failed read and reports it (error 6).
    EXPECT_EQ(Tovira_StopPreview(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 6);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

}  // namespace
