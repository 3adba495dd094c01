// Parameter access through the instance, checked at the sensor: which registers each setter writes,
// the I/O-port bits, the serial-ROM identifier bytes, the exposure in microseconds, device selection.

#include "CameraTestSupport.h"

#include "device/ToviraZ400KXSdk.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint16_t>>;

class CameraParameters : public CameraInstanceTest {
protected:
    void SetUp() override {
        CameraInstanceTest::SetUp();
        initialize();
        errors();
        driver_->clearLog();
    }
    CTovira& camera() { return *camera_; }
};

TEST_F(CameraParameters, GlobalGainSetsAllFiveValuesButWritesOnlyItsRegister) {
    EXPECT_EQ(camera().SetFilterValue(TOVIRA_FILTER_GLOBAL_GAIN, 40), 1);
    EXPECT_EQ(writes(), (Writes{{0x305E, 0x1128}}));
    EXPECT_EQ(camera().globalGain, 40);
    EXPECT_EQ(camera().colorGainGreen1, 40);
    EXPECT_EQ(camera().colorGainRed, 40);
    EXPECT_EQ(camera().colorGainBlue, 40);
    EXPECT_EQ(camera().colorGainGreen2, 40);
    int flag = 0;
    EXPECT_EQ(camera().GetFilterValue(TOVIRA_FILTER_GLOBAL_GAIN, &flag), 40);
    EXPECT_EQ(flag, 1);
}

TEST_F(CameraParameters, EachColourGainGoesToItsOwnRegisterAndReadsBackFromIt) {
    const struct {
        int id;
        uint16_t reg;
        int CTovira::*field;
    } gains[] = {{TOVIRA_FILTER_COLOR_GAIN_RED, 0x305A, &CTovira::colorGainRed},
                 {TOVIRA_FILTER_COLOR_GAIN_GREEN1, 0x3056, &CTovira::colorGainGreen1},
                 {TOVIRA_FILTER_COLOR_GAIN_GREEN2, 0x305C, &CTovira::colorGainGreen2},
                 {TOVIRA_FILTER_COLOR_GAIN_BLUE, 0x3058, &CTovira::colorGainBlue}};
    int value = 100;
    for (const auto& g : gains) {
        driver_->clearLog();
        EXPECT_EQ(camera().SetFilterValue(g.id, value), 1);
        EXPECT_EQ(writes(), (Writes{{g.reg, static_cast<uint16_t>(0x1100 | value)}})) << g.id;
        EXPECT_EQ(camera().*g.field, value);
        int flag = 0;
        EXPECT_EQ(camera().GetFilterValue(g.id, &flag), value);
        EXPECT_EQ(flag, 1);
        driver_->clearLog();
        EXPECT_EQ(camera().SetFilterValue(g.id, 128), 0);  // out of range: nothing written
        EXPECT_TRUE(writes().empty());
        EXPECT_EQ(camera().*g.field, value);
        EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_PARAMETER);
        ++value;
    }
}

TEST_F(CameraParameters, ExposureZeroWritesOneLineAndReadsBackFromTheSensor) {
    EXPECT_EQ(camera().SetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, 0), 1);
    const Writes w = writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].first, 0x3166);
    EXPECT_EQ(w[1], (std::pair<uint16_t, uint16_t>{0x0202, 1}));
    EXPECT_EQ(camera().exposureLines, 0);
    EXPECT_EQ(camera().GetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, nullptr), 1);
    EXPECT_EQ(camera().SetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, 8192), 1);
    EXPECT_EQ(camera().SetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, 8193), 0);
    EXPECT_EQ(camera().SetFilterValue(TOVIRA_FILTER_EXPOSURE_TIME, -1), 0);
    EXPECT_EQ(camera().exposureLines, 8192);
    EXPECT_EQ(sim().sensor().read(0x0202), 8192);
}

TEST_F(CameraParameters, FailedSensorReadGivesZeroWithTheFlagStillSet) {
    driver_->failNextReplies(2);
    int flag = 0;
    EXPECT_EQ(camera().GetFilterValue(TOVIRA_FILTER_COLOR_GAIN_RED, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(camera().GetLastError(), 0);
}

TEST_F(CameraParameters, RealExposureFollowsLineAndFrameLengthOfThePreparation) {
    int flag = 0;
    // Nothing prepared yet: line and frame length 0.
    EXPECT_EQ(camera().GetRealExposureTime(&flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(camera().SetRealExposureTime(452624), 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_NOT_READY);
    EXPECT_TRUE(writes().empty());

    // As a preparation of the full frame leaves them.
    camera().lineLength = 3952;
    camera().frameLength = 2891;
    camera().exposureScale = static_cast<double>(1.0f / 24.0f);
    camera().exposureLines = 2748;
    EXPECT_EQ(camera().GetRealExposureTime(nullptr), 452624);
    EXPECT_EQ(camera().lastRealExposure, 452624);
    // The inverse truncates twice: 452,624 us are 2747 whole lines.
    EXPECT_EQ(camera().SetRealExposureTime(452624), 1);
    EXPECT_EQ(camera().exposureLines, 2747);
    EXPECT_EQ(sim().sensor().read(0x0202), 2747);
    EXPECT_EQ(camera().SetRealExposureTime(100000), 1);
    EXPECT_EQ(camera().exposureLines, 606);
    // Shorter than one frame: no line left.
    EXPECT_EQ(camera().SetRealExposureTime(100), 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(camera().lastRealExposure, 100);
    // 1.4 s are 8501 lines, beyond the exposure setter's 8192: refused, and the rejected lines do not
    // stay behind for the next preparation.
    EXPECT_EQ(camera().SetRealExposureTime(1400000), 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(camera().exposureLines, 606);
    EXPECT_EQ(sim().sensor().read(0x0202), 606);
    // Far beyond 32 bits of line positions.
    EXPECT_EQ(camera().SetRealExposureTime(0x7FFFFFFF), 0);
    EXPECT_EQ(camera().exposureLines, 606);
}

TEST_F(CameraParameters, IoPortReportsTheTwoInputsAndSwitchesOnlyTheOutputBit) {
    unsigned char value = 0xFF;
    EXPECT_EQ(camera().GetIOPort(&value), 1);
    EXPECT_EQ(value, 0);
    sim().setInputs(false, true);
    EXPECT_EQ(camera().GetIOPort(&value), 1);
    EXPECT_EQ(value, 2);
    sim().setInputs(true, true);
    EXPECT_EQ(camera().GetIOPort(&value), 1);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(camera().GetIOPort(nullptr), 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_PARAMETER);

    const uint8_t before = sim().ioPort();
    EXPECT_EQ(camera().SetIOPort(4), 1);
    EXPECT_EQ(sim().ioPort(), before | 0x40);
    EXPECT_EQ(camera().SetIOPort(0xFB), 1);  // every bit but bit 2
    EXPECT_EQ(sim().ioPort(), before & ~0x40);
}

TEST_F(CameraParameters, RegistersPassThroughWithoutTouchingTheInstance) {
    int flag = 0;
    EXPECT_EQ(camera().ReadRegister(0x0344, &flag), 56);
    EXPECT_EQ(flag, 1);
    driver_->clearLog();
    EXPECT_EQ(camera().WriteRegister(0x305A, 0x1105), 1);
    EXPECT_EQ(writes(), (Writes{{0x305A, 0x1105}}));
    EXPECT_EQ(camera().colorGainRed, 64);
    driver_->failNextReplies(2);
    EXPECT_EQ(camera().ReadRegister(0x0344, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_DEVICE_IO);
    driver_->setOpenFails(true);
    EXPECT_EQ(camera().WriteRegister(0x0344, 1), 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_DEVICE_IO);
}

TEST_F(CameraParameters, SerialRomIdentifierIndexAboveSevenIsRefusedWithoutATransfer) {
    int flag = 1;
    EXPECT_EQ(camera().ReadSromID(8, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_NOT_READY);
    EXPECT_EQ(camera().WriteSromID(-1, 1), 0);  // 255 as a byte
    EXPECT_EQ(camera().GetLastError(), TOVIRA_ERR_NOT_READY);
    EXPECT_TRUE(driver_->log().empty());

    EXPECT_EQ(camera().WriteSromID(7, 0x1A5), 1);  // the byte only
    EXPECT_EQ(sim().srom(15), 0xA5);
    EXPECT_EQ(camera().ReadSromID(7, &flag), 0xA5);
    EXPECT_EQ(flag, 1);
    // The identifier bytes are the grey calibration the next load takes.
    camera().LoadGrayFromSrom();
    EXPECT_EQ(camera().image.grayOffset[3], 0xA5);
}

class CameraTwoSlots : public CameraInstanceTest {
protected:
    void SetUp() override {
        CameraInstanceTest::SetUp();
        install({0, 2});
        initialize();
        errors();
    }
};

TEST_F(CameraTwoSlots, SelectingTheSecondCameraStartsItAndTakesItsGreyCalibration) {
    sim(2).setSrom(8, 55);
    sim(2).setSrom(5, 1);
    const int startups = sim(2).startupCount();
    EXPECT_EQ(camera_->SetDeviceNumber(2), 1);
    EXPECT_EQ(camera_->device->GetDeviceNumber(), 2);
    EXPECT_EQ(sim(2).startupCount(), startups + 1);
    EXPECT_EQ(camera_->image.grayGain[0], 55);
    EXPECT_EQ(camera_->image.grayMode, 1);
    // Absent slots and numbers outside the eight slots.
    for (int n : {1, 8, 22, -1}) {
        EXPECT_EQ(camera_->SetDeviceNumber(n), 0) << n;
        EXPECT_EQ(camera_->GetLastError(), TOVIRA_ERR_NO_CAMERA) << n;
    }
    EXPECT_EQ(camera_->device->GetDeviceNumber(), 2);
    // The analogue page is saved under the camera selected at release.
    camera_->SetFilterValue(TOVIRA_FILTER_GLOBAL_GAIN, 33);
    release();
    EXPECT_EQ(ReadCameraSetting("Gain_02", "Global"), 33);
    EXPECT_EQ(ReadCameraSetting("Gain_00", "Global"), -12345);
}

}  // namespace
