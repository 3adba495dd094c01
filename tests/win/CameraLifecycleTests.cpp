// The camera instance's initialisation and teardown against the virtual camera: what reaches the sensor
// and in which order, what comes from the registry and the serial ROM, and what release writes back.

#include "CameraTestSupport.h"

#include "camera/Pages.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint16_t>>;

// Index of the first write of `reg` at or after `from`, or -1.
int FindWrite(const Writes& w, uint16_t reg, size_t from = 0) {
    for (size_t i = from; i < w.size(); ++i)
        if (w[i].first == reg) return static_cast<int>(i);
    return -1;
}

TEST_F(CameraInstanceTest, FirstRunCreatesTheKeyRecords12AndEndsInColourMode24) {
    ASSERT_FALSE(CameraSettingsExist());
    CTovira& camera = initialize();
    EXPECT_EQ(initializeResult_, 1);
    EXPECT_EQ(ReadCameraSetting("", "Size"), 0);
    EXPECT_EQ(ReadCameraSetting("", "Color"), 2);
    EXPECT_EQ(ReadCameraSetting("", "SubSample"), 0);
    EXPECT_EQ(ReadCameraSetting("", "WaitTime"), 10);
    EXPECT_EQ(ReadCameraSetting("", "Clock"), 0);
    EXPECT_EQ(ReadCameraSetting("Size_00", "TH"), 3840);
    EXPECT_EQ(ReadCameraSetting("Size_00", "TV"), 2748);
    EXPECT_EQ(ReadCameraSetting("Size_00", "EH"), 3840);
    EXPECT_EQ(ReadCameraSetting("Size_00", "EV"), 2748);
    EXPECT_EQ(ReadCameraSetting("Size_00", "EHS"), 0);
    EXPECT_EQ(ReadCameraSetting("Size_00", "EVS"), 0);
    EXPECT_EQ(ReadCameraSetting("Size_00", "Buf"), 10);
    EXPECT_EQ(camera.GetColorMode(), 24);
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_STORAGE});
    // First use: pages at their defaults, grey values from the camera's ROM (neutral 128, mode 0).
    EXPECT_EQ(camera.globalGain, 64);
    EXPECT_EQ(camera.exposureLines, 2748);
    EXPECT_EQ(camera.image.bayerGainRed, 100);
    EXPECT_EQ(camera.image.gamma, 100);
    EXPECT_EQ(camera.image.bayerMode, 3);
    EXPECT_EQ(camera.image.grayMode, 0);
    EXPECT_EQ(camera.image.grayGain[0], 128);
    EXPECT_EQ(camera.image.grayOffset[3], 128);
    // The second initialisation finds everything in place.
    initialize();
    EXPECT_EQ(errors(), std::vector<int>{});
}

TEST_F(CameraInstanceTest, InitialisationCreatesEightEmptyImagesAndTheDevice) {
    CTovira& camera = initialize();
    ASSERT_NE(camera.device, nullptr);
    CDibImage* images[8] = {camera.rawImage8,    camera.rawImage16,   camera.colorImage24,   camera.colorImage32,
                            camera.colorImage48, camera.colorImage64, camera.sharpnessImage, camera.displayImage};
    for (CDibImage* image : images) {
        ASSERT_NE(image, nullptr);
        EXPECT_TRUE(image->IsEmpty());
    }
    EXPECT_EQ(camera.previewRect.right, 3840);
    EXPECT_EQ(camera.previewRect.bottom, 2748);
}

TEST_F(CameraInstanceTest, AnalogueValuesFollowTheWindowInTheirOrderAndTheDriverSettingComesLast) {
    WriteCameraSetting("Gain_00", "Global", 40);
    WriteCameraSetting("Gain_00", "ColorG1", 41);
    WriteCameraSetting("Gain_00", "ColorR", 42);
    WriteCameraSetting("Gain_00", "ColorB", 43);
    WriteCameraSetting("Gain_00", "ColorG2", 44);
    WriteCameraSetting("Gain_00", "Exposure", 500);
    WriteCameraSetting("Gain_00", "V_Mirror", 1);
    WriteCameraSetting("Gain_00", "H_Mirror", 1);
    WriteCameraSetting("Gain_00", "AutoIris", 2);
    initialize();
    const Writes w = writes();
    // The device's own start-up programs the full frame once; the instance programs its window again.
    const int firstWindow = FindWrite(w, 0x034C);
    ASSERT_GE(firstWindow, 0);
    const int window = FindWrite(w, 0x034C, firstWindow + 1);
    ASSERT_GT(window, firstWindow);
    const int global = FindWrite(w, 0x305E, window);
    ASSERT_GT(global, window);
    const Writes expected = {{0x305E, 0x1100 | 40}, {0x3056, 0x1100 | 41}, {0x305A, 0x1100 | 42},
                             {0x3058, 0x1100 | 43}, {0x305C, 0x1100 | 44}};
    ASSERT_GE(w.size(), static_cast<size_t>(global) + 7);
    EXPECT_EQ(Writes(w.begin() + global, w.begin() + global + 5), expected);
    EXPECT_EQ(w[global + 5].first, 0x3166);
    EXPECT_EQ(w[global + 6], (std::pair<uint16_t, uint16_t>{0x0202, 500}));
    // Vertical mirror first (bit 15), then horizontal (bit 14) on top of it.
    const int mirrorV = FindWrite(w, 0x3040, global);
    ASSERT_GT(mirrorV, global);
    EXPECT_EQ(w[mirrorV].second & 0xC000, 0x8000);
    const int mirrorH = FindWrite(w, 0x3040, mirrorV + 1);
    ASSERT_GT(mirrorH, mirrorV);
    EXPECT_EQ(w[mirrorH].second & 0xC000, 0xC000);
    EXPECT_EQ(sim().driverSettingValue(), 8000);
    EXPECT_EQ(camera_->autoIrisMode, 2u);
}

TEST_F(CameraInstanceTest, StoredWindowOutsideTheSensorIsReplacedByTheFullFrame) {
    initialize();  // first run: the key exists from now on
    WriteCaptureWindowPreset(0, 3840, 2748, 3840, 2748, 100, 0, 7);
    CTovira& camera = initialize();
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_WINDOW_RANGE});
    int th, hs, eh, tv, vs, ev;
    camera.GetCaptureWindowEx(&th, &hs, &eh, &tv, &vs, &ev);
    EXPECT_EQ(std::vector<int>({th, hs, eh, tv, vs, ev}), std::vector<int>({3840, 0, 3840, 2748, 0, 2748}));
    EXPECT_EQ(camera.bufferCount, 7);  // carried with the preset, not reset
    EXPECT_EQ(camera.device->GetWindowX(), 0);
    EXPECT_EQ(camera.device->GetWindowWidth(), 3840);
}

TEST_F(CameraInstanceTest, StoredPresetIsProgrammedIntoTheSensor) {
    initialize();
    WriteCaptureWindowPreset(1, 3840, 2748, 1920, 1080, 960, 834);
    WriteCameraSetting("", "Size", 1);
    CTovira& camera = initialize();
    EXPECT_EQ(errors(), std::vector<int>{});
    EXPECT_EQ(camera.Width(), 1920);
    EXPECT_EQ(camera.Height(), 1080);
    EXPECT_EQ(sim().sensor().read(0x0344), 960 + 56);
    EXPECT_EQ(sim().sensor().read(0x0346), 834 + 8);
    EXPECT_EQ(sim().sensor().read(0x034C), 1920);
    EXPECT_EQ(camera.previewRect.right, 1920);
    EXPECT_EQ(camera.previewRect.bottom, 1080);
}

TEST_F(CameraInstanceTest, PresetNumberWithoutItsSubKeyRecords12AndKeepsTheFullFrame) {
    initialize();
    WriteCaptureWindowPreset(1, 3840, 2748, 1920, 1080, 0, 0);
    WriteCaptureWindowPreset(2, 3840, 2748, 1280, 720, 0, 0);
    WriteCameraSetting("", "Size", 3);
    CTovira& camera = initialize();
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_STORAGE});
    EXPECT_EQ(camera.Width(), 3840);
    EXPECT_EQ(camera.Height(), 2748);
}

TEST_F(CameraInstanceTest, GreyCalibrationComesFromTheSerialRom) {
    initialize();
    WriteCameraSetting("Gray", "Mode", 2);
    WriteCameraSetting("Gray", "GainR1", 11);
    sim().setSrom(5, 7);  // no grey mode: 0
    for (int i = 0; i < 8; ++i) sim().setSrom(8 + i, static_cast<uint8_t>(200 + i));
    CTovira& camera = initialize();
    EXPECT_EQ(camera.image.grayMode, 0);
    EXPECT_EQ(std::vector<int>(camera.image.grayGain, camera.image.grayGain + 4), std::vector<int>({200, 201, 202, 203}));
    EXPECT_EQ(std::vector<int>(camera.image.grayOffset, camera.image.grayOffset + 4),
              std::vector<int>({204, 205, 206, 207}));
    sim().setSrom(5, 3);
    camera.LoadGrayFromSrom();
    EXPECT_EQ(camera.image.grayMode, 3);
}

TEST_F(CameraInstanceTest, CameraValuesAreLoadedLastAndReachTheDeviceOnlyLater) {
    initialize();
    WriteCameraSetting("", "Color", 5);
    WriteCameraSetting("", "SubSample", 1);
    WriteCameraSetting("", "WaitTime", 33);
    WriteCameraSetting("", "Clock", 1);
    CTovira& camera = initialize();
    EXPECT_EQ(camera.GetColorMode(), 60);
    EXPECT_EQ(camera.GetSubSample(), 1);
    EXPECT_EQ(camera.GetWaitTime(), 33);
    EXPECT_EQ(camera.GetHalfClock(), 1);
    // The window was programmed with the sub-sampling code held before loading: full resolution.
    EXPECT_EQ(sim().sensor().read(0x034C), 3840);
}

TEST_F(CameraInstanceTest, AnInstanceThatWasNeverInitialisedLeavesTheRegistryAlone) {
    {
        CTovira camera;
        camera.image.brightness = 99;
    }
    EXPECT_FALSE(CameraSettingsExist());
}

TEST_F(CameraInstanceTest, WithoutADeviceObjectEveryDeviceOperationRecordsError1) {
    CTovira camera;  // as after an initialisation that stopped before the device object existed
    EXPECT_EQ(camera.Width(), 3840);
    EXPECT_EQ(camera.Height(), 2748);
    EXPECT_EQ(camera.GetWaitTime(), 10);
    EXPECT_EQ(camera.GetColorMode(), 8);
    char names[10 * 256];
    int flag = 7;
    unsigned char port = 0;
    EXPECT_EQ(camera.EnumDevice(names), 0);
    EXPECT_EQ(camera.GetDeviceName(0, names, 256), 0);
    EXPECT_EQ(camera.SetDeviceNumber(0), 0);
    EXPECT_EQ(camera.SetCaptureWindowEx(3840, 0, 3840, 2748, 0, 2748), 0);
    EXPECT_EQ(camera.SetCaptureWindow(3840, 2748), 0);
    EXPECT_EQ(camera.SetFilterValue(TOVIRA_FILTER_BRIGHTNESS, 1), 0);
    EXPECT_EQ(camera.GetFilterValue(TOVIRA_FILTER_BRIGHTNESS, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(camera.SetMirrorH(1), 0);
    EXPECT_EQ(camera.GetMirrorV(), 0);
    EXPECT_EQ(camera.GetIOPort(&port), 0);
    EXPECT_EQ(camera.SetIOPort(4), 0);
    EXPECT_EQ(camera.ReadRegister(0x0344, &flag), 0);
    EXPECT_EQ(camera.WriteRegister(0x0344, 1), 0);
    EXPECT_EQ(camera.ReadSromID(0, &flag), 0);
    EXPECT_EQ(camera.WriteSromID(0, 1), 0);
    int recorded = 0;
    for (int code; (code = camera.GetLastError()) != 0; ++recorded) EXPECT_EQ(code, TOVIRA_ERR_NOT_READY);
    EXPECT_EQ(recorded, 15);
}

TEST_F(CameraInstanceTest, WithoutAnyCameraInitialisationSucceedsQuietly) {
    install({});
    CTovira& camera = initialize();
    EXPECT_EQ(initializeResult_, 1);
    EXPECT_EQ(errors(), std::vector<int>{TOVIRA_ERR_STORAGE});
    // The ROM reads failed: grey values at 0, not the stored page's 128.
    EXPECT_EQ(camera.image.grayGain[0], 0);
    EXPECT_EQ(camera.image.grayOffset[0], 0);
    char names[10 * 256];
    std::fill(std::begin(names), std::end(names), 'x');
    EXPECT_EQ(camera.EnumDevice(names), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(names[i * 256], '\0');
    // The absence shows at the first capture preparation.
    EXPECT_EQ(camera.PrepareCapture(), 0);
    EXPECT_EQ(camera.GetLastError(), TOVIRA_ERR_NO_CAMERA);
}

TEST_F(CameraInstanceTest, ReleaseWhileStreamingStopsTheThreadsBeforeFreeingTheDevice) {
    CTovira& camera = initialize();
    camera.SetCaptureWindowEx(3840, 0, 640, 2748, 0, 480);
    ASSERT_EQ(camera.StartPreview(), 1) << camera.GetLastError();
    // Let a few frames through.
    for (int i = 0; i < 200 && sim().framesDelivered() < 3; ++i) Sleep(10);
    EXPECT_GE(sim().framesDelivered(), 3u);
    release();
    // Every handle the transfer thread and the commands opened is closed, and nothing reads any more.
    EXPECT_EQ(driver_->openHandles(), 0);
    const uint32_t delivered = sim().framesDelivered();
    Sleep(50);
    EXPECT_EQ(sim().framesDelivered(), delivered);
    // The pages were still saved.
    EXPECT_EQ(ReadCameraSetting("Gain_00", "Global"), 64);
}

}  // namespace
