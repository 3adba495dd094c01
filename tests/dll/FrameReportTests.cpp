// The frame record describes the exposure a frame was taken with. The sensor takes a new exposure from
// a later frame than the one in flight, so the frames right after a change still carry the old one:
// their records must say so, and their brightness must agree with what the record says.
//
// At the sensor's pace (its own test entry) a full frame takes 238 ms, so the frames taken right after a
// change are those that were already integrating; as fast as frames are made, newer ones would usually
// have replaced them before the test looks.

#include <cstdint>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

// The full frame; the means are taken over patches and greys away from the frame-number strip at the top
// and the moving bar near the bottom.
constexpr int kWidth = 3840, kHeight = 2748;
constexpr int kTop = 1000, kBottom = 1480, kLeft = 1000, kRight = 1640;
constexpr int kPatientMs = 60000;  // a safety net under a loaded machine, never a timing check

class EnvFrameReportSensorPace : public ToviraHandleTest {
protected:
    void SetUp() override {
        ToviraHandleTest::SetUp();
        ASSERT_NE(initialize(), 0);
        PopToviraErrors(handle);
        ASSERT_EQ(Tovira_SetColorMode(handle, 8), 1);  // the raw mosaic: brightness in proportion to exposure
        frame_.resize(size_t(kWidth) * kHeight);
    }
    void TearDown() override {
        if (handle) Tovira_StopPreview(handle);
        ToviraHandleTest::TearDown();
    }

    // The next frame after `last_` with its record; the mean of the region above.
    double next(TOVIRAX_FRAME_META& meta) {
        meta = {};
        meta.size = sizeof meta;
        const int r = ToviraX_WaitFrame(handle, last_, kPatientMs, frame_.data(), int(frame_.size()), 1, &meta);
        EXPECT_EQ(r, 1);
        if (r != 1) return -1;
        last_ = meta.frameId;
        double sum = 0;
        for (int i = kTop; i < kBottom; ++i)
            for (int j = kLeft; j < kRight; ++j) sum += frame_[size_t(i) * kWidth + j];
        return sum / (double(kBottom - kTop) * (kRight - kLeft));
    }

    unsigned long long last_ = TOVIRAX_NEXT_FRAME;
    std::vector<uint8_t> frame_;
};

TEST_F(EnvFrameReportSensorPace, FramesAfterAnExposureChangeReportTheExposureTheyWereTakenWith) {
    ASSERT_EQ(Tovira_SetExposureTime(handle, 500), 1);
    ASSERT_EQ(Tovira_StartPreview(handle), 1);
    TOVIRAX_FRAME_META meta{};
    double mean500 = 0;
    for (int i = 0; i < 3; ++i) mean500 = next(meta);
    ASSERT_EQ(meta.exposureLines, 500);
    ASSERT_GT(mean500, 5.0);

    // Up and down again: every frame's brightness follows the exposure its record names.
    for (const int lines : {1500, 500, 1500}) {
        const int before = meta.exposureLines;
        ASSERT_EQ(Tovira_SetExposureTime(handle, lines), 1);
        int newSeen = 0, checked = 0;
        while (newSeen < 2 && checked < 30) {
            const double mean = next(meta);
            ASSERT_GE(mean, 0);
            ++checked;
            const std::string what = "frame " + std::to_string(checked) + " after setting " + std::to_string(lines) +
                                     " lines (was " + std::to_string(before) + ")";
            ASSERT_TRUE(meta.exposureLines == lines || meta.exposureLines == before) << what << ": record says "
                                                                                     << meta.exposureLines;
            if (meta.exposureLines == lines) ++newSeen;
            else EXPECT_EQ(newSeen, 0) << what << ": the old exposure came back";
            const double expected = mean500 * meta.exposureLines / 500.0;
            EXPECT_NEAR(mean, expected, expected * 0.05 + 1) << what << ": record says " << meta.exposureLines
                                                           << " lines";
            // The microseconds follow the lines of the same record.
            EXPECT_GT(meta.exposureUs, 0);
        }
        EXPECT_EQ(newSeen, 2) << "the exposure of " << lines << " lines never reached the frames";
    }
}

TEST_F(EnvFrameReportSensorPace, GainsInTheRecordAreThoseTheSensorUsed) {
    ASSERT_EQ(Tovira_SetExposureTime(handle, 1000), 1);
    ASSERT_EQ(Tovira_SetGlobalGain(handle, 64), 1);
    ASSERT_EQ(Tovira_StartPreview(handle), 1);
    TOVIRAX_FRAME_META meta{};
    double mean64 = 0;
    for (int i = 0; i < 3; ++i) mean64 = next(meta);
    ASSERT_EQ(meta.globalGain, 64);
    ASSERT_EQ(meta.gainRed, 64);
    ASSERT_EQ(meta.gainBlue, 64);
    ASSERT_EQ(Tovira_SetGlobalGain(handle, 32), 1);
    int newSeen = 0;
    for (int checked = 0; newSeen < 2 && checked < 30; ++checked) {
        const double mean = next(meta);
        ASSERT_TRUE(meta.globalGain == 32 || meta.globalGain == 64) << meta.globalGain;
        // The global gain sets the four colour gains with it.
        EXPECT_EQ(meta.gainGreen1, meta.globalGain);
        EXPECT_EQ(meta.gainRed, meta.globalGain);
        EXPECT_EQ(meta.gainBlue, meta.globalGain);
        EXPECT_EQ(meta.gainGreen2, meta.globalGain);
        if (meta.globalGain == 32) ++newSeen;
        const double expected = mean64 * meta.globalGain / 64.0;
        EXPECT_NEAR(mean, expected, expected * 0.05 + 1) << "record says gain " << meta.globalGain;
    }
    EXPECT_EQ(newSeen, 2);
}

}  // namespace
