// Streaming through the DLL against the virtual camera (TOVIRA_VIRTUAL_CAMERAS=0, pace fast): frame
// messages with their record, the caller's buffer in both row orders, newest frames only, the capture
// state rules, a buffer that is too small, a window change while streaming and release while streaming.

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

// An odd-sized window, so 8-bit and 24-bit rows need padding to their stride.
constexpr int kWidth = 650;
constexpr int kHeight = 400;

class Stream : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(sink.window(), nullptr);
        camera = OpenCamera(sink.window(), kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);  // the stored default may be another mode
        sink.pumpFor(50);
        sink.errors.clear();
    }
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    std::vector<int> drainErrors() {
        std::vector<int> codes;
        for (int c = Tovira_GetLastError(camera); c != 0; c = Tovira_GetLastError(camera)) codes.push_back(c);
        return codes;
    }
    size_t goodFrames() const {
        size_t n = 0;
        for (const FrameMessage& f : sink.frames) n += f.wParam != 0;
        return n;
    }

    MessageSink sink;
    int camera = 0;
};

TEST_F(Stream, EveryColourModeDeliversRecordsAndProcessedFramesInBothRowOrders) {
    const int modes[] = {8, 16, 24, 32, 48, 64};
    for (int bits : modes) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Tovira_SetColorMode(camera, bits), 1);
        const int stride = StrideOf(kWidth, bits);
        const size_t bytes = size_t(stride) * kHeight;
        for (int rowOrder : {1, 0}) {
            SCOPED_TRACE(rowOrder);
            std::vector<uint8_t> buffer(bytes, 0xCD);
            sink.frames.clear();
            sink.buffer = buffer.data();
            sink.bufferBytes = bytes;
            ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes), rowOrder), 1);
            sink.pumpUntil([&] { return goodFrames() >= 4; }, 30000);
            ASSERT_EQ(Tovira_StopPreview(camera), 1);
            sink.pumpFor(30);
            ASSERT_GE(goodFrames(), 4u);

            int previous = -1;
            for (const FrameMessage& f : sink.frames) {
                ASSERT_NE(f.wParam, 0u) << "lParam " << f.lParam;
                EXPECT_EQ(f.lParam, 0);
                EXPECT_EQ(f.info.size, 32);
                EXPECT_EQ(f.info.width, kWidth);
                EXPECT_EQ(f.info.height, kHeight);
                EXPECT_EQ(f.info.bitsPerPixel, bits);
                EXPECT_GE(f.info.frameRate, 0);
                EXPECT_EQ(f.info.buffer, buffer.data());
                // The picture's top line is where the row order puts it: first for 1, last for 0.
                const std::vector<uint8_t> top =
                    rowOrder ? f.pixels : ReverseRows(f.pixels, stride, kHeight);
                const int number = FrameNumberOf(top.data(), stride, bits);
                ASSERT_GE(number, 0);
                // Never an older frame. The caller's buffer is one and is overwritten by every frame, so
                // two messages that queue up before the sink pumps both show the newer frame: equal
                // numbers are messages handled late, not a frame delivered twice.
                EXPECT_GE(number, previous);
                previous = number;
            }
            // After the stop the buffer holds the last processed frame, which GetImage hands out too.
            std::vector<uint8_t> image(bytes);
            ASSERT_EQ(Tovira_GetImage(camera, image.data(), int(bytes), rowOrder), 1);
            EXPECT_EQ(image, buffer);
            std::vector<uint8_t> other(bytes);
            ASSERT_EQ(Tovira_GetImage(camera, other.data(), int(bytes), !rowOrder), 1);
            EXPECT_EQ(ReverseRows(other, stride, kHeight), image);
            Tovira_Close(camera);
        }
    }
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Stream, ASlowLoopTakesTheNewestFrameAndNeverRepeatsOne) {
    // The loop sleeps far longer than the camera needs for a frame, and the application is slow too.
    ASSERT_EQ(Tovira_SetWaitTime(camera, 120), 1);
    const size_t bytes = size_t(StrideOf(kWidth, 8)) * kHeight;
    std::vector<uint8_t> buffer(bytes);
    sink.buffer = buffer.data();
    sink.bufferBytes = bytes;
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes), 1), 1);
    std::vector<int> numbers;
    sink.pumpUntil([&] { return numbers.size() >= 6; }, 30000, [&](FrameMessage& f) {
        if (f.wParam) numbers.push_back(FrameNumberOf(f.pixels.data(), StrideOf(kWidth, 8), 8));
        Sleep(150);
    });
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_GE(numbers.size(), 6u);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_GT(numbers[i], numbers[i - 1]) << i;
}

TEST_F(Stream, StartTwiceRunsOneLoopAndCaptureModeIsRefusedWhileStreaming) {
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    const int threads = ThreadCount();
    ASSERT_GT(threads, 0);
    EXPECT_EQ(Tovira_StartPreview(camera), 1);
    EXPECT_EQ(ThreadCount(), threads);

    EXPECT_EQ(Tovira_Capture(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 1);
    std::vector<uint8_t> buffer(size_t(StrideOf(kWidth, 8)) * kHeight);
    EXPECT_EQ(Tovira_SnapShot(camera, buffer.data(), int(buffer.size()), 1), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 1);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    // Idle again: a second stop is harmless and capture mode may start.
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_EQ(Tovira_Capture(camera), 1);
    EXPECT_EQ(Tovira_StartPreview(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 1);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Stream, ABufferOneByteShortGetsLParam5AndError5OnEveryFrame) {
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    const size_t bytes = size_t(StrideOf(kWidth, 24)) * kHeight;
    std::vector<uint8_t> buffer(bytes, 0xAB);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(bytes - 1), 0), 1);
    sink.pumpUntil([&] { return sink.frames.size() >= 5; }, 30000);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    sink.pumpFor(30);
    ASSERT_GE(sink.frames.size(), 5u);
    for (const FrameMessage& f : sink.frames) {
        EXPECT_EQ(f.wParam, 0u);
        EXPECT_EQ(f.lParam, 5);
    }
    // One error 5 per refused frame, and nothing was written into the buffer.
    EXPECT_GE(sink.errors.size(), sink.frames.size());
    for (int code : sink.errors) EXPECT_EQ(code, 5);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xAB);
}

TEST_F(Stream, SnapShotWithoutABufferLeavesTheFrameForGetImage) {
    const size_t bytes = size_t(StrideOf(kWidth, 8)) * kHeight;
    std::vector<uint8_t> a(bytes), b(bytes), c(bytes), d(bytes);
    ASSERT_EQ(Tovira_SnapShot(camera, nullptr, 0, 1), 1);
    ASSERT_EQ(Tovira_GetImage(camera, a.data(), int(bytes), 1), 1);
    ASSERT_EQ(Tovira_GetImage(camera, b.data(), int(bytes), 1), 1);
    EXPECT_EQ(a, b);
    const int first = FrameNumberOf(a.data(), StrideOf(kWidth, 8), 8);
    EXPECT_GE(first, 0);
    // In capture mode each snapshot is a new frame, and GetImage returns exactly the one delivered.
    ASSERT_EQ(Tovira_Capture(camera), 1);
    ASSERT_EQ(Tovira_SnapShot(camera, c.data(), int(bytes), 1), 1);
    ASSERT_EQ(Tovira_GetImage(camera, d.data(), int(bytes), 1), 1);
    EXPECT_EQ(c, d);
    EXPECT_GT(FrameNumberOf(c.data(), StrideOf(kWidth, 8), 8), first);
    // Too small: error 5 recorded by the copy and once more by the caller.
    EXPECT_EQ(Tovira_GetImage(camera, d.data(), int(bytes) - 1, 1), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 5);
    EXPECT_EQ(Tovira_GetLastError(camera), 5);
    EXPECT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(Stream, AWindowChangeWhileStreamingDeliversOnlyWholeFramesOfOneSize) {
    const int large = StrideOf(kWidth, 8) * kHeight;
    std::vector<uint8_t> buffer(large);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), large, 1), 1);
    sink.buffer = buffer.data();
    sink.bufferBytes = buffer.size();
    const int sizes[][2] = {{320, 240}, {kWidth, kHeight}, {480, 300}, {kWidth, kHeight}};
    for (const auto& size : sizes) {
        const size_t before = goodFrames();
        sink.pumpUntil([&] { return goodFrames() >= before + 2; }, 30000);
        ASSERT_EQ(Tovira_SetCaptureWindowEx(camera, 3840, 0, size[0], 2748, 0, size[1]), 1);
    }
    const size_t before = goodFrames();
    sink.pumpUntil([&] { return goodFrames() >= before + 3; }, 30000);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    sink.pumpFor(30);

    bool sawSmall = false;
    for (const FrameMessage& f : sink.frames) {
        ASSERT_NE(f.wParam, 0u) << "lParam " << f.lParam;
        const int w = f.info.width, h = f.info.height;
        const bool known = (w == 320 && h == 240) || (w == 480 && h == 300) || (w == kWidth && h == kHeight);
        ASSERT_TRUE(known) << w << " x " << h;
        sawSmall = sawSmall || w != kWidth;
        // A whole frame of that size: its number strip is intact and the rows below it are picture,
        // not the filler or blanking of a transfer laid out for another size.
        EXPECT_GE(FrameNumberOf(f.pixels.data(), StrideOf(w, 8), 8), 0) << w << " x " << h;
    }
    EXPECT_TRUE(sawSmall);
    EXPECT_EQ(sink.frames.back().info.width, kWidth);
}

TEST_F(Stream, ReleaseWhileStreamingStopsTheLoop) {
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), nullptr, 0, 0), 1);
    sink.pumpUntil([&] { return goodFrames() >= 2; }, 30000);
    ASSERT_GE(goodFrames(), 2u);
    ASSERT_EQ(Tovira_Release(camera), 1);
    camera = 0;
    sink.pumpFor(50);
    const size_t after = sink.frames.size();
    sink.pumpFor(300);
    EXPECT_EQ(sink.frames.size(), after);
}

}  // namespace
