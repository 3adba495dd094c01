// The frame format a handle reports before streaming is the frame it then delivers: sizes in every colour
// mode, sub-sampling and window, and for the raw mosaic the Bayer phase of the first rows as delivered
// (checked against the colours of the virtual camera's red patch).

#include <cstdint>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

constexpr int kModes[6] = {8, 16, 24, 32, 48, 64};
constexpr int kPatientMs = 60000;  // a safety net under a loaded machine, never a timing check

struct Window {
    int x, y, width, height;
};
// An even window and one whose start, size and sub-sampled size are all odd.
constexpr Window kWindows[2] = {{0, 0, 640, 480}, {961, 835, 322, 246}};

class FrameFormat : public ToviraHandleTest {
protected:
    void SetUp() override {
        ToviraHandleTest::SetUp();
        ASSERT_NE(initialize(), 0);
        PopToviraErrors(handle);
    }
    void TearDown() override {
        if (handle) Tovira_StopPreview(handle);
        ToviraHandleTest::TearDown();
    }
    TOVIRAX_FRAME_FORMAT query(int rowOrder) {
        TOVIRAX_FRAME_FORMAT f{};
        f.size = sizeof f;
        EXPECT_EQ(ToviraX_GetFrameFormat(handle, rowOrder, &f), 1);
        return f;
    }
};

std::string Describe(int bits, int sub, const Window& w) {
    return std::to_string(bits) + " bits, sub-sampling " + std::to_string(sub) + ", window " + std::to_string(w.x) +
           "," + std::to_string(w.y) + " " + std::to_string(w.width) + "x" + std::to_string(w.height);
}

TEST_F(FrameFormat, SnapshotsTakeExactlyTheReportedBytesInEveryModeSubSamplingAndWindow) {
    for (const Window& w : kWindows)
        for (int sub = 0; sub <= 2; ++sub)
            for (int bits : kModes) {
                const std::string what = Describe(bits, sub, w);
                ASSERT_EQ(Tovira_SetColorMode(handle, bits), 1);
                ASSERT_EQ(Tovira_SetSubSample(handle, sub), 1);
                ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, w.x, w.width, 2748, w.y, w.height), 1);
                const TOVIRAX_FRAME_FORMAT f = query(1);
                const int divisor = 1 << sub;
                EXPECT_EQ(f.width, w.width / divisor) << what;
                EXPECT_EQ(f.height, w.height / divisor) << what;
                EXPECT_EQ(f.bitsPerPixel, bits) << what;
                EXPECT_EQ(f.stride % 4, 0) << what;
                EXPECT_GE(f.stride * 8, f.width * bits) << what;
                EXPECT_LT(f.stride * 8, f.width * bits + 32) << what;
                EXPECT_EQ(f.bytesPerFrame, f.stride * f.height) << what;
                EXPECT_EQ(f.channels, bits <= 16 ? 1 : bits == 24 || bits == 48 ? 3 : 4) << what;
                EXPECT_EQ(f.bitsPerSample, bits == 16 || bits >= 48 ? 12 : 8) << what;
                EXPECT_EQ(f.channelOrder, f.channels == 1 ? TOVIRAX_CHANNELS_RAW
                                          : f.channels == 3 ? TOVIRAX_CHANNELS_BGR : TOVIRAX_CHANNELS_BGRX)
                    << what;
                EXPECT_EQ(f.bayerPhase >= 0, bits <= 16) << what;
                EXPECT_EQ(f.subSample, sub) << what;
                // The buffer of the reported size is taken, one byte less is refused as too small.
                std::vector<uint8_t> buffer(size_t(f.bytesPerFrame) + 1, 0xA5);
                PopToviraErrors(handle);
                EXPECT_EQ(Tovira_SnapShot(handle, buffer.data(), f.bytesPerFrame - 1, 1), 0) << what;
                EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_BUFFER) << what;
                ASSERT_EQ(Tovira_SnapShot(handle, buffer.data(), f.bytesPerFrame, 1), 1) << what;
                EXPECT_EQ(buffer[size_t(f.bytesPerFrame)], 0xA5) << what << ": written past the reported size";
            }
}

TEST_F(FrameFormat, StreamedFramesHaveTheReportedFormat) {
    const Window& w = kWindows[1];
    std::vector<uint8_t> buffer;
    for (int bits : kModes) {
        const std::string what = Describe(bits, 1, w);
        ASSERT_EQ(Tovira_SetColorMode(handle, bits), 1);
        ASSERT_EQ(Tovira_SetSubSample(handle, 1), 1);
        ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, w.x, w.width, 2748, w.y, w.height), 1);
        const TOVIRAX_FRAME_FORMAT f = query(0);
        buffer.assign(size_t(f.bytesPerFrame), 0);
        ASSERT_EQ(Tovira_StartPreview(handle), 1) << what;
        TOVIRAX_FRAME_META meta{};
        meta.size = sizeof meta;
        ASSERT_EQ(ToviraX_WaitFrame(handle, TOVIRAX_NEXT_FRAME, kPatientMs, buffer.data(), f.bytesPerFrame, 0, &meta), 1)
            << what;
        EXPECT_EQ(meta.width, f.width) << what;
        EXPECT_EQ(meta.height, f.height) << what;
        EXPECT_EQ(meta.stride, f.stride) << what;
        EXPECT_EQ(meta.bitsPerPixel, f.bitsPerPixel) << what;
        // While streaming the query still answers, and alike.
        const TOVIRAX_FRAME_FORMAT during = query(0);
        EXPECT_EQ(during.bytesPerFrame, f.bytesPerFrame) << what;
        ASSERT_EQ(Tovira_StopPreview(handle), 1);
    }
}

// Where red lies in the 2 x 2 cell of each Bayer mode: {row, column}.
constexpr int kRedAt[4][2] = {{1, 0}, {0, 0}, {1, 1}, {0, 1}};

TEST_F(FrameFormat, RawPhaseNamesTheColoursOfTheFirstRowsAsDelivered) {
    constexpr int kRedX = 500, kRedY = 1000;  // inside the red patch at every offset below
    constexpr int kRows[2] = {48, 47};        // an even and an odd number of rows
    int checked = 0;
    for (int mirrors = 0; mirrors < 4; ++mirrors) {
        ASSERT_EQ(Tovira_SetMirrorH(handle, mirrors & 1), 1);
        ASSERT_EQ(Tovira_SetMirrorV(handle, mirrors >> 1), 1);
        for (int dx = 0; dx < 2; ++dx)
            for (int dy = 0; dy < 2; ++dy)
                for (int rows : kRows)
                    for (int rowOrder = 0; rowOrder < 2; ++rowOrder) {
                        const int width = 64 + dx;
                        ASSERT_EQ(Tovira_SetColorMode(handle, 8), 1);
                        ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, kRedX + dx, width, 2748, kRedY + dy, rows), 1);
                        const TOVIRAX_FRAME_FORMAT f = query(rowOrder);
                        const std::string what = "mirrors " + std::to_string(mirrors) + ", offset " + std::to_string(dx) +
                                                 "," + std::to_string(dy) + ", rows " + std::to_string(rows) +
                                                 ", row order " + std::to_string(rowOrder) + ": phase " +
                                                 std::to_string(f.bayerPhase);
                        ASSERT_GE(f.bayerPhase, 0) << what;
                        ASSERT_LE(f.bayerPhase, 3) << what;
                        std::vector<uint8_t> frame(size_t(f.bytesPerFrame));
                        ASSERT_EQ(Tovira_SnapShot(handle, frame.data(), f.bytesPerFrame, rowOrder), 1) << what;
                        // Mean of each cell position, away from the frame-number strip at either end.
                        double sums[2][2] = {};
                        for (int i = 10; i < f.height - 10; ++i)
                            for (int j = 0; j < f.width; ++j) sums[i & 1][j & 1] += frame[size_t(i) * f.stride + j];
                        int best[2] = {0, 0};
                        for (int r = 0; r < 2; ++r)
                            for (int c = 0; c < 2; ++c)
                                if (sums[r][c] > sums[best[0]][best[1]]) best[0] = r, best[1] = c;
                        EXPECT_EQ(best[0], kRedAt[f.bayerPhase][0]) << what;
                        EXPECT_EQ(best[1], kRedAt[f.bayerPhase][1]) << what;
                        ++checked;
                    }
    }
    EXPECT_EQ(checked, 64);
}

TEST_F(FrameFormat, RefusesABadRecordAndAWindowOutsideTheSensor) {
    TOVIRAX_FRAME_FORMAT f{};
    f.size = sizeof f - 4;
    EXPECT_EQ(ToviraX_GetFrameFormat(handle, 1, &f), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(ToviraX_GetFrameFormat(handle, 1, nullptr), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 3000, 1000, 2748, 0, 100), 0);  // stays stored
    PopToviraErrors(handle);
    f.size = sizeof f;
    EXPECT_EQ(ToviraX_GetFrameFormat(handle, 1, &f), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_WINDOW_RANGE);
}

}  // namespace
