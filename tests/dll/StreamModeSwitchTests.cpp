// The colour mode changed while the stream runs, or in capture mode: the next frames come in the new
// mode (record, buffer contents and GetImage agree), for every change between the six modes, and the
// callback delivery that a recording paused comes back when the recording ends.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kModes[6] = {8, 16, 24, 32, 48, 64};

class StreamModeSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(sink.window(), nullptr);
        camera = OpenCamera(sink.window(), kWidth, kHeight);
        ASSERT_NE(camera, 0);
        sink.pumpFor(30);
        sink.errors.clear();
    }
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    // Waits for a good frame message with the given bits per pixel; false when none came.
    bool frameOfMode(int bits, size_t from) {
        auto seen = [&] {
            for (size_t i = from; i < sink.frames.size(); ++i)
                if (sink.frames[i].wParam && sink.frames[i].info.bitsPerPixel == bits) return true;
            return false;
        };
        sink.pumpUntil(seen, 20000);
        return seen();
    }

    MessageSink sink;
    int camera = 0;
};

TEST_F(StreamModeSwitch, EveryChangeBetweenTheSixModesWhileStreamingDeliversFramesOfTheNewMode) {
    // Room for the deepest mode, so every mode's frame fits.
    const size_t bytes = size_t(StrideOf(kWidth, 64)) * kHeight;
    std::vector<uint8_t> buffer(bytes), image(bytes);
    sink.buffer = buffer.data();
    sink.bufferBytes = bytes;
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes), 1), 1);
    ASSERT_TRUE(frameOfMode(8, 0));
    int current = 8;
    for (int from : kModes) {
        for (int to : kModes) {
            if (from == to) continue;
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            if (current != from) {
                ASSERT_EQ(Tovira_SetColorMode(camera, from), 1);
                ASSERT_TRUE(frameOfMode(from, sink.frames.size()));
            }
            const size_t mark = sink.frames.size();
            ASSERT_EQ(Tovira_SetColorMode(camera, to), 1);
            current = to;
            ASSERT_TRUE(frameOfMode(to, mark));
            // The frame in the buffer is a picture of the new depth (its frame-number strip reads).
            const FrameMessage& last = sink.frames.back();
            if (last.wParam && last.info.bitsPerPixel == to) {
                EXPECT_EQ(last.info.width, kWidth);
                EXPECT_EQ(last.info.height, kHeight);
                EXPECT_GE(FrameNumberOf(last.pixels.data(), StrideOf(kWidth, to), to), 0);
            }
            EXPECT_EQ(Tovira_GetImage(camera, image.data(), int(bytes), 1), 1);
            for (size_t i = mark; i < sink.frames.size(); ++i) EXPECT_EQ(sink.frames[i].lParam, 0);
        }
    }
    EXPECT_EQ(Tovira_GetLastError(camera), 0);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
}

TEST_F(StreamModeSwitch, InCaptureModeTheNextSnapShotIsInTheNewMode) {
    const size_t bytes = size_t(StrideOf(kWidth, 64)) * kHeight;
    std::vector<uint8_t> buffer(bytes);
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    ASSERT_EQ(Tovira_Capture(camera), 1);
    for (int to : {48, 32, 16, 64, 24, 8, 16}) {
        SCOPED_TRACE(to);
        ASSERT_EQ(Tovira_SetColorMode(camera, to), 1);
        ASSERT_EQ(Tovira_SnapShot(camera, buffer.data(), int(bytes), 1), 1);
        EXPECT_GE(FrameNumberOf(buffer.data(), StrideOf(kWidth, to), to), 0);
    }
    EXPECT_EQ(Tovira_GetLastError(camera), 0);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
}

TEST_F(StreamModeSwitch, CallbackDeliveryResumesWhenARecordingEnds) {
    const size_t bytes = size_t(StrideOf(kWidth, 24)) * kHeight;
    std::vector<uint8_t> buffer(bytes);
    sink.buffer = buffer.data();
    sink.bufferBytes = bytes;
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes), 1), 1);
    ASSERT_TRUE(frameOfMode(24, 0));

    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    const std::string file = std::string(dir) + "tovira_resume.avi";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // A short recording; the frame messages pause while it runs.
        ASSERT_EQ(Tovira_Record(camera, file.c_str(), 400, 0), 1);
        sink.pumpFor(1500);  // the recording ends on its own meanwhile (its duration passes)
        const size_t mark = sink.frames.size();
        ASSERT_TRUE(frameOfMode(24, mark)) << "no frame message after the recording ended";
        const FrameMessage& last = sink.frames.back();
        EXPECT_EQ(last.info.buffer, buffer.data());
        EXPECT_GE(FrameNumberOf(last.pixels.data(), StrideOf(kWidth, 24), 24), 0);
    }
    // A recording stopped by StopPreview ends the delivery with the stream: a stop means the buffer is
    // the application's again, so the next plain start delivers nothing into it until CallBackPreview
    // names it again.
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 60000, 0), 1);
    sink.pumpFor(200);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    sink.pumpFor(50);
    size_t mark = sink.frames.size();
    std::memset(buffer.data(), 0xC3, buffer.size());
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    sink.pumpFor(300);
    EXPECT_EQ(sink.frames.size(), mark);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xC3);
    mark = sink.frames.size();
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes), 1), 1);
    ASSERT_TRUE(frameOfMode(24, mark));
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    DeleteFileA(file.c_str());
}

}  // namespace
