// Settings kept in the registry, seen through the exported API with the virtual camera in slot 0: the
// first run, capture-window presets, and the pages that release writes and initialisation reads back.

#include "CameraDllSupport.h"

namespace {

using SettingsKey = ToviraHandleTest;

TEST_F(SettingsKey, FirstInitialisationCreatesTheKeyRecords12AndEndsIn24Bits) {
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_STORAGE});
    EXPECT_EQ(Tovira_GetColorMode(handle), 24);
    EXPECT_EQ(GetToviraSetting("", "Color"), 2);
    EXPECT_EQ(GetToviraSetting("Size_00", "EH"), 3840);
    EXPECT_EQ(GetToviraSetting("Size_00", "EV"), 2748);
    EXPECT_EQ(Tovira_Width(handle), 3840);
    EXPECT_EQ(Tovira_Height(handle), 2748);
    int ok = 0;
    // The full frame starts at sensor column 56.
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 56);
    EXPECT_EQ(ok, 1);
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
}

TEST_F(SettingsKey, SetCaptureWindowSelectsTheFirstPresetOfThatSize) {
    ASSERT_NE(initialize(), 0);
    PutToviraPreset(1, 3840, 2748, 1920, 1080, 960, 834);
    PutToviraPreset(2, 3840, 2748, 1920, 1080, 0, 0);
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 1920, 1080), 1);
    int th, hs, eh, tv, vs, ev;
    EXPECT_EQ(Tovira_GetCaptureWindowEx(handle, &th, &hs, &eh, &tv, &vs, &ev), 1);
    EXPECT_EQ(std::vector<int>({th, hs, eh, tv, vs, ev}), std::vector<int>({3840, 960, 1920, 2748, 834, 1080}));
    int ok = 0;
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 960 + 56);
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0346, &ok), 834 + 8);
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x034C, &ok), 1920);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
    // No preset of that size: nothing changes.
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 1920, 1081), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_WINDOW});
    EXPECT_EQ(Tovira_Height(handle), 1080);
    // The choice is not remembered.
    EXPECT_EQ(GetToviraSetting("", "Size"), 0);
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_Width(handle), 3840);
}

TEST_F(SettingsKey, PresetsEndAtTheFirstMissingNumber) {
    ASSERT_NE(initialize(), 0);
    PutToviraPreset(2, 3840, 2748, 1280, 720, 0, 0);  // "Size_01" missing
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 1280, 720), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_WINDOW});
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 3840, 2748), 1);
}

TEST_F(SettingsKey, PresetOutsideTheSensorIsReplacedByTheFullFrame) {
    ASSERT_NE(initialize(), 0);
    PutToviraPreset(1, 3840, 2748, 2000, 1000, 1900, 0);  // 1900 + 2000 > 3840
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 2000, 1000), 1);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_WINDOW_RANGE});
    int th, hs, eh, tv, vs, ev;
    Tovira_GetCaptureWindowEx(handle, &th, &hs, &eh, &tv, &vs, &ev);
    EXPECT_EQ(std::vector<int>({th, hs, eh, tv, vs, ev}), std::vector<int>({3840, 0, 3840, 2748, 0, 2748}));
    int ok = 0;
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x034C, &ok), 3840);
}

TEST_F(SettingsKey, WithoutTheKeySetCaptureWindowRecords4) {
    ASSERT_NE(initialize(), 0);
    DeleteToviraSettings();
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetCaptureWindow(handle, 3840, 2748), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_WINDOW});
}

TEST_F(SettingsKey, ReleaseWritesThePagesThatTheNextInitialisationReads) {
    ASSERT_NE(initialize(), 0);
    // First use: the page defaults.
    int ok = 0;
    EXPECT_EQ(Tovira_GetGamma(handle, &ok), 100);
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 3);
    EXPECT_EQ(Tovira_GetGlobalGain(handle, &ok), 64);
    EXPECT_EQ(Tovira_GetExposureTime(handle, &ok), 2748);

    EXPECT_EQ(Tovira_SetBrightness(handle, 25), 1);
    EXPECT_EQ(Tovira_SetHue(handle, -300), 1);
    EXPECT_EQ(Tovira_SetBayerGainBlue(handle, 321), 1);
    EXPECT_EQ(Tovira_SetGlobalGain(handle, 40), 1);
    EXPECT_EQ(Tovira_SetColorGainGreen2(handle, 70), 1);
    EXPECT_EQ(Tovira_SetExposureTime(handle, 3000), 1);
    EXPECT_EQ(Tovira_SetMirrorV(handle, 1), 1);  // Bayer mode 3 -> 2
    EXPECT_EQ(Tovira_SetAutoIris(handle, 2), 1);
    EXPECT_EQ(Tovira_SetGrayMode(handle, 1), 1);
    EXPECT_EQ(Tovira_Release(handle), 1);
    handle = 0;
    EXPECT_EQ(GetToviraSetting("Gain_00", "ColorR"), 40);
    EXPECT_EQ(GetToviraSetting("Gain_00", "ColorG2"), 70);
    EXPECT_EQ(GetToviraSetting("Gray", "Mode"), 1);

    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_GetBrightness(handle, &ok), 25);
    EXPECT_EQ(Tovira_GetHue(handle, &ok), -300);
    EXPECT_EQ(Tovira_GetBayerGainBlue(handle, &ok), 321);
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 2);
    // The analogue values went to the camera during initialisation.
    EXPECT_EQ(Tovira_GetGlobalGain(handle, &ok), 40);
    EXPECT_EQ(Tovira_GetColorGainGreen2(handle, &ok), 70);
    EXPECT_EQ(Tovira_GetColorGainRed(handle, &ok), 40);
    EXPECT_EQ(Tovira_GetExposureTime(handle, &ok), 3000);
    EXPECT_EQ(Tovira_GetMirrorV(handle), 1);
    EXPECT_EQ(Tovira_GetMirrorH(handle), 0);
    EXPECT_EQ(Tovira_GetAutoIris(handle, &ok), 2);
    // The grey values come from the camera's serial ROM at every initialisation.
    EXPECT_EQ(Tovira_GetGrayMode(handle, &ok), 0);
    EXPECT_EQ(Tovira_GetGrayGainR(handle, &ok), 128);
}

}  // namespace
