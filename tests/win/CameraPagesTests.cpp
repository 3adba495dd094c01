// The registry pages and camera values as stored data: defaults for missing keys, values missing from a
// page, values of another type or size than a 4-byte REG_DWORD or outside their setters' ranges, and what
// a save writes.

#include "CameraTestSupport.h"

#include <cstring>

#include "camera/Pages.h"

namespace {

// A value of any type and size below the settings key.
void WriteRawSetting(const char* subKey, const char* name, DWORD type, const void* data, DWORD size) {
    tovira::RegistryKey key = tovira::CreateSettingsKey();
    ASSERT_TRUE(key);
    tovira::RegistryKey target = *subKey ? key.createChild(subKey) : std::move(key);
    ASSERT_TRUE(target);
    ASSERT_EQ(RegSetValueExA(target.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

class CameraPages : public CameraInstanceTest {
protected:
    CTovira camera;  // no device object: the analogue page is the one of device 0
};

TEST_F(CameraPages, MissingKeysGiveTheDefaults) {
    camera.image.whiteBalanceAuto = 1;
    camera.image.whiteBalanceOnce[0] = camera.image.whiteBalanceOnce[1] = 1;
    camera.image.grayBalanceRequest = 1;
    camera.image.reserved[4] = 9;
    camera.image.reserved[5] = 9;  // the tenth parameter after the grey offsets is not touched
    camera.mirrorH = 1;
    tovira::LoadAnalogPage(camera);
    tovira::LoadImageFilterPage(camera);
    tovira::LoadGrayFilterPage(camera);
    EXPECT_EQ(std::vector<int>({camera.globalGain, camera.colorGainGreen1, camera.colorGainRed, camera.colorGainBlue,
                                camera.colorGainGreen2, camera.exposureLines}),
              std::vector<int>({64, 64, 64, 64, 64, 2748}));
    EXPECT_EQ(camera.mirrorH, 0u);
    const ImageParameters& p = camera.image;
    EXPECT_EQ(std::vector<int>({p.brightness, p.contrast, p.hue, p.saturation, p.sharpness, p.bayerGainRed,
                                p.bayerGainGreen, p.bayerGainBlue, p.gamma, p.bayerMode}),
              std::vector<int>({0, 0, 0, 0, 0, 100, 100, 100, 100, 3}));
    EXPECT_EQ(p.whiteBalanceAuto, 0);
    EXPECT_EQ(p.whiteBalanceOnce[1], 0);
    EXPECT_EQ(p.grayBalanceRequest, 0);
    EXPECT_EQ(p.reserved[4], 0);
    EXPECT_EQ(p.reserved[5], 9);
    EXPECT_EQ(p.grayMode, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.grayGain[i], 128);
        EXPECT_EQ(p.grayOffset[i], 128);
    }
    // Loading writes nothing.
    EXPECT_FALSE(CameraSettingsExist());
}

TEST_F(CameraPages, AValueMissingFromTheAnaloguePageRepeatsTheOneBeforeIt) {
    WriteCameraSetting("Gain_00", "Global", 20);
    WriteCameraSetting("Gain_00", "ColorG1", 30);
    WriteCameraSetting("Gain_00", "ColorB", 50);
    WriteCameraSetting("Gain_00", "Exposure", 700);
    WriteCameraSetting("Gain_00", "H_Mirror", 1);
    tovira::LoadAnalogPage(camera);
    EXPECT_EQ(camera.globalGain, 20);
    EXPECT_EQ(camera.colorGainGreen1, 30);
    EXPECT_EQ(camera.colorGainRed, 30);  // "ColorR" missing
    EXPECT_EQ(camera.colorGainBlue, 50);
    EXPECT_EQ(camera.colorGainGreen2, 50);
    EXPECT_EQ(camera.exposureLines, 700);
    EXPECT_EQ(camera.mirrorV, 700u);
    EXPECT_EQ(camera.mirrorH, 1u);
    EXPECT_EQ(camera.autoIrisMode, 1u);
}

TEST_F(CameraPages, AValueMissingFromTheFilterPageLeavesItsField) {
    WriteCameraSetting("Filter", "Gamma", 150);
    WriteCameraSetting("Gray", "OffsetG2", 3);
    camera.image.brightness = 12;
    camera.image.bayerMode = 2;
    camera.image.whiteBalanceAuto = 1;
    camera.image.grayOffset[1] = 44;
    tovira::LoadImageFilterPage(camera);
    tovira::LoadGrayFilterPage(camera);
    EXPECT_EQ(camera.image.gamma, 150);
    EXPECT_EQ(camera.image.brightness, 12);
    EXPECT_EQ(camera.image.bayerMode, 2);
    EXPECT_EQ(camera.image.whiteBalanceAuto, 1);  // only a missing sub-key clears the flags
    EXPECT_EQ(camera.image.grayOffset[2], 3);
    EXPECT_EQ(camera.image.grayOffset[1], 44);
}

TEST_F(CameraPages, SavedPagesAreDwordsInTheirNames) {
    camera.image.brightness = -255;
    camera.image.grayGain[3] = 250;
    camera.image.grayOffset[0] = -7;
    camera.colorGainGreen2 = 12;
    camera.mirrorV = 1;
    tovira::SaveAnalogPage(camera);
    tovira::SaveImageFilterPage(camera);
    tovira::SaveGrayFilterPage(camera);
    EXPECT_EQ(ReadCameraSetting("Filter", "Brightness"), -255);
    EXPECT_EQ(ReadCameraSetting("Filter", "R_Gain"), 0);
    EXPECT_EQ(ReadCameraSetting("Gray", "GainB1"), 250);
    EXPECT_EQ(ReadCameraSetting("Gray", "OffsetR1"), -7);
    EXPECT_EQ(ReadCameraSetting("Gray", "Mode"), 0);
    EXPECT_EQ(ReadCameraSetting("Gain_00", "ColorG2"), 12);
    EXPECT_EQ(ReadCameraSetting("Gain_00", "V_Mirror"), 1);
    // What was saved loads back into a blank instance.
    CTovira other;
    tovira::LoadAnalogPage(other);
    tovira::LoadImageFilterPage(other);
    tovira::LoadGrayFilterPage(other);
    EXPECT_EQ(other.image.brightness, -255);
    EXPECT_EQ(other.image.grayOffset[0], -7);
    EXPECT_EQ(other.colorGainGreen2, 12);
    EXPECT_EQ(other.mirrorV, 1u);
}

TEST_F(CameraPages, ValuesOfOtherTypesAndSizesAreReplacedByTheDefaults) {
    WriteCameraSetting("", "Size", 0);
    // Eight bytes where four belong, a two-byte value, a long string and an empty value: none is a
    // setting, each gets the first run's default and is counted once.
    const uint8_t wide[8] = {5, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE};
    WriteRawSetting("", "Color", REG_QWORD, wide, sizeof wide);
    const uint8_t narrow[2] = {0x21, 0x01};
    WriteRawSetting("", "WaitTime", REG_BINARY, narrow, sizeof narrow);
    const char text[] = "a string much longer than four bytes";
    WriteRawSetting("", "Clock", REG_SZ, text, sizeof text);
    WriteRawSetting("", "SubSample", REG_BINARY, nullptr, 0);
    camera.subSample = 3;
    camera.storedValuesReplaced = 0;
    EXPECT_EQ(camera.LoadCameraSettings(), 1);
    EXPECT_EQ(camera.colorMode, 2);
    EXPECT_EQ(camera.waitTime, 10);
    EXPECT_EQ(camera.clockCode, 0);
    EXPECT_EQ(camera.subSample, 0);
    EXPECT_EQ(camera.storedValuesReplaced, 4);
    EXPECT_EQ(camera.GetLastError(), 0);  // Initialize notes it, once for all values
    // The reader underneath still takes at most four bytes of any value (the presets use it).
    const tovira::RegistryKey key = tovira::OpenSettingsKey();
    int32_t fields[2] = {0, 0x5A5A5A5A};
    ASSERT_TRUE(key.readInt("Color", &fields[0]));
    EXPECT_EQ(fields[0], 5);
    EXPECT_EQ(fields[1], 0x5A5A5A5A);
    ASSERT_TRUE(key.readInt("WaitTime", &fields[0]));
    EXPECT_EQ(fields[0], 0x0121);
}

TEST_F(CameraPages, PageValuesOutsideTheirSettersRangesAreReplacedByTheDefaults) {
    WriteCameraSetting("Gain_00", "Global", 128);
    WriteCameraSetting("Gain_00", "Exposure", 8193);
    WriteCameraSetting("Gain_00", "V_Mirror", 2);
    WriteCameraSetting("Gain_00", "AutoIris", 3);
    WriteCameraSetting("Filter", "Contrast", -128);
    WriteCameraSetting("Filter", "Sharpness", 31);
    WriteCameraSetting("Filter", "BayerMode", 4);
    WriteCameraSetting("Gray", "Mode", 3);
    WriteCameraSetting("Gray", "GainG1", 256);
    WriteCameraSetting("Gray", "OffsetB1", -256);
    // Edges of the ranges are kept.
    WriteCameraSetting("Gain_00", "ColorR", 127);
    WriteCameraSetting("Filter", "Hue", -360);
    WriteCameraSetting("Gray", "OffsetR1", -255);
    camera.storedValuesReplaced = 0;
    tovira::LoadAnalogPage(camera);
    tovira::LoadImageFilterPage(camera);
    tovira::LoadGrayFilterPage(camera);
    EXPECT_EQ(camera.globalGain, 64);
    EXPECT_EQ(camera.colorGainRed, 127);
    EXPECT_EQ(camera.exposureLines, 2748);
    EXPECT_EQ(camera.mirrorV, 0u);
    EXPECT_EQ(camera.autoIrisMode, 0u);
    EXPECT_EQ(camera.image.contrast, 0);
    EXPECT_EQ(camera.image.sharpness, 0);
    EXPECT_EQ(camera.image.bayerMode, 3);
    EXPECT_EQ(camera.image.hue, -360);
    EXPECT_EQ(camera.image.grayMode, 0);
    EXPECT_EQ(camera.image.grayGain[1], 128);
    EXPECT_EQ(camera.image.grayOffset[3], 128);
    EXPECT_EQ(camera.image.grayOffset[0], -255);
    EXPECT_EQ(camera.storedValuesReplaced, 10);
}

TEST_F(CameraPages, CameraSettingsWithoutTheKeyRecord12) {
    camera.colorMode = 4;
    EXPECT_EQ(camera.LoadCameraSettings(), 0);
    EXPECT_EQ(camera.GetLastError(), TOVIRA_ERR_STORAGE);
    EXPECT_EQ(camera.colorMode, 4);
    // The key without its values: everything stays.
    WriteCameraSetting("", "Size", 0);
    EXPECT_EQ(camera.LoadCameraSettings(), 1);
    EXPECT_EQ(camera.colorMode, 4);
    EXPECT_EQ(camera.GetWaitTime(), 10);
}

TEST_F(CameraPages, CaptureWindowPresetNeedsSizeAndItsSubKey) {
    WriteCaptureWindowPreset(0, 3840, 2748, 2000, 1000, 0, 0);
    // No "Size" value: error 12, window unchanged.
    EXPECT_EQ(camera.LoadCaptureWindowSettings(), 0);
    EXPECT_EQ(camera.GetLastError(), TOVIRA_ERR_STORAGE);
    EXPECT_EQ(camera.Width(), 3840);
    for (int bad : {-1, 100}) {
        WriteCameraSetting("", "Size", bad);
        EXPECT_EQ(camera.LoadCaptureWindowSettings(), 0) << bad;
        EXPECT_EQ(camera.GetLastError(), TOVIRA_ERR_STORAGE);
    }
    WriteCameraSetting("", "Size", 0);
    EXPECT_EQ(camera.LoadCaptureWindowSettings(), 1);
    EXPECT_EQ(camera.Width(), 2000);
    EXPECT_EQ(camera.Height(), 1000);
    EXPECT_EQ(camera.GetLastError(), 0);
}

}  // namespace
