// Device names, camera information, format values and the capture window through the exported API:
// the default run with the virtual camera in slot 0, and runs of their own with cameras in slots 0 and 2
// and with no camera at all.

#include <cwchar>
#include <string>

#include "CameraDllSupport.h"

namespace {

using CameraFormat = ToviraHandleTest;

TEST_F(CameraFormat, ColourModesAreReportedWithTheirSignificantBits) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    const int set[6] = {8, 16, 24, 32, 48, 64};
    const int reported[6] = {8, 12, 24, 32, 44, 60};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Tovira_SetColorMode(handle, set[i]), 1);
        EXPECT_EQ(Tovira_GetColorMode(handle), reported[i]);
    }
    EXPECT_EQ(Tovira_SetColorMode(handle, 12), 0);
    EXPECT_EQ(Tovira_GetColorMode(handle), 60);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_PARAMETER});
    // A stored code outside 0..5 is replaced by the default (24 bits) and noted with error 12.
    ASSERT_TRUE(PutToviraSetting("", "Color", 9));
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_GetColorMode(handle), 24);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_STORAGE});
}

TEST_F(CameraFormat, SubSampleClockAndWaitTime) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    for (int code = 0; code <= 4; ++code) {
        EXPECT_EQ(Tovira_SetSubSample(handle, code), 1);
        EXPECT_EQ(Tovira_GetSubSample(handle), code);
    }
    EXPECT_EQ(Tovira_SetSubSample(handle, 5), 0);
    EXPECT_EQ(Tovira_SetSubSample(handle, -1), 0);
    EXPECT_EQ(Tovira_GetSubSample(handle), 4);
    EXPECT_EQ(Tovira_SetHalfClock(handle, 5), 1);
    EXPECT_EQ(Tovira_GetHalfClock(handle), 5);
    EXPECT_EQ(Tovira_SetHalfClock(handle, 6), 0);
    EXPECT_EQ(Tovira_GetHalfClock(handle), 5);
    EXPECT_EQ(Tovira_SetWaitTime(handle, 0), 1);
    EXPECT_EQ(Tovira_GetWaitTime(handle), 0);
    EXPECT_EQ(Tovira_SetWaitTime(handle, -1), 0);
    EXPECT_EQ(Tovira_GetWaitTime(handle), 0);
    // Only the clock records an error.
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_PARAMETER});
    // Codes 16 and 17 come only from the registry and are reported as 1/2 and 1/4.
    ASSERT_TRUE(PutToviraSetting("", "SubSample", 17));
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_GetSubSample(handle), 2);
    // Any other stored code is replaced by 0 (noted with error 12), so windows pass.
    ASSERT_TRUE(PutToviraSetting("", "SubSample", 21));
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_GetSubSample(handle), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_STORAGE});
    EXPECT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 0, 3840, 2748, 0, 2748), 1);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
}

TEST_F(CameraFormat, CameraInformationNeedsARecordOfThirtySixBytes) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    TOVIRA_CAMERA_INFO info = {};
    info.size = 32;
    EXPECT_EQ(Tovira_GetCameraInfo(handle, &info), 0);
    EXPECT_EQ(info.sensorWidth, 0);
    EXPECT_EQ(Tovira_GetCameraInfo(handle, nullptr), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>({TOVIRA_ERR_PARAMETER, TOVIRA_ERR_BUFFER}));
    info.size = sizeof info;
    EXPECT_EQ(Tovira_GetCameraInfo(handle, &info), 1);
    EXPECT_EQ(std::vector<int>({info.size, info.sensorWidth, info.sensorHeight, info.gainMin, info.gainMax,
                                info.colorGainMin, info.colorGainMax, info.exposureMin, info.exposureMax}),
              std::vector<int>({36, 3840, 2748, 0, 127, 0, 127, 1, 8191}));
}

TEST_F(CameraFormat, DeviceNameNeedsSixteenCharacters) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    char name[64];
    EXPECT_EQ(Tovira_GetDeviceName(handle, 0, name, 15), 0);
    EXPECT_EQ(Tovira_GetDeviceName(handle, 8, name, 64), 0);
    EXPECT_EQ(Tovira_GetDeviceName(handle, -1, name, 64), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>(3, TOVIRA_ERR_PARAMETER));
    EXPECT_EQ(Tovira_GetDeviceName(handle, 0, name, 16), 1);
    EXPECT_STREQ(name, "ToviraZ400KX_01");
    wchar_t wide[16];
    EXPECT_EQ(Tovira_GetDeviceNameW(handle, 0, wide, 16), 1);
    EXPECT_STREQ(wide, L"ToviraZ400KX_01");
    EXPECT_EQ(Tovira_GetDeviceNameW(handle, 0, wide, 15), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
}

TEST_F(CameraFormat, CaptureWindowExIsValidatedAndKeptWhenRejected) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 1000, 1000, 2748, 100, 600), 1);
    EXPECT_EQ(Tovira_Width(handle), 1000);
    EXPECT_EQ(Tovira_Height(handle), 600);
    int ok = 0;
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 1056);
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0342, &ok), 1192);  // blanking 192 below 1080 pixels
    EXPECT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 1, 3840, 2748, 0, 2748), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_WINDOW_RANGE});
    int th, hs, eh, tv, vs, ev;
    EXPECT_EQ(Tovira_GetCaptureWindowEx(handle, &th, &hs, &eh, &tv, &vs, &ev), 1);
    EXPECT_EQ(std::vector<int>({th, hs, eh, tv, vs, ev}), std::vector<int>({3840, 1, 3840, 2748, 0, 2748}));
    EXPECT_EQ(Tovira_GetCaptureWindowEx(handle, nullptr, nullptr, &eh, nullptr, nullptr, nullptr), 1);
    // The sensor keeps the last accepted window.
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 1056);
    // The rejected window stays until a valid one is set: the next preparation fails.
    EXPECT_EQ(Tovira_Capture(handle), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>({TOVIRA_ERR_NOT_READY, TOVIRA_ERR_WINDOW_RANGE}));
}

// ---- cameras in slots 0 and 2

using EnvTwoCameras = ToviraHandleTest;

TEST_F(EnvTwoCameras, EnumerationCountsPresentCamerasAndNamesCarryTheSlot) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    char names[10][256];
    memset(names, 'x', sizeof names);
    EXPECT_EQ(Tovira_EnumDevice(handle, &names[0][0]), 2);
    EXPECT_STREQ(names[0], "ToviraZ400KX_01");
    EXPECT_STREQ(names[1], "ToviraZ400KX_02");
    for (int i = 2; i < 10; ++i) EXPECT_EQ(names[i][0], '\0') << i;
    wchar_t wide[10][256];
    wmemset(&wide[0][0], L'x', 10 * 256);
    EXPECT_EQ(Tovira_EnumDeviceW(handle, &wide[0][0]), 2);
    EXPECT_STREQ(wide[1], L"ToviraZ400KX_02");
    EXPECT_EQ(wide[9][0], L'\0');

    char name[32];
    EXPECT_EQ(Tovira_GetDeviceName(handle, 2, name, 32), 1);
    EXPECT_STREQ(name, "ToviraZ400KX_03");
    EXPECT_EQ(Tovira_GetDeviceName(handle, 1, name, 32), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{TOVIRA_ERR_NO_CAMERA});
    wchar_t wname[32];
    EXPECT_EQ(Tovira_GetDeviceNameW(handle, 1, wname, 32), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NO_CAMERA);
}

TEST_F(EnvTwoCameras, SelectingASlotWithoutCameraIsRefused) {
    ASSERT_NE(initialize(), 0);
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_SetDeviceNumber(handle, 2), 1);
    EXPECT_EQ(Tovira_SetDeviceNumber(handle, 1), 0);
    EXPECT_EQ(Tovira_SetDeviceNumber(handle, 8), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>(2, TOVIRA_ERR_NO_CAMERA));
    // The selected camera is programmed afresh with the full frame.
    int ok = 0;
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 56);
    EXPECT_EQ(ok, 1);
    // Its analogue page is saved under its own number.
    EXPECT_EQ(Tovira_SetGlobalGain(handle, 21), 1);
    release();
    EXPECT_EQ(GetToviraSetting("Gain_02", "Global"), 21);
}

// ---- no camera at all: the library falls back to the system's driver, which has no device here

using EnvNoCamera = ToviraHandleTest;

TEST_F(EnvNoCamera, InitialisationSucceedsAndTheFirstPreparationReportsNoCamera) {
    ASSERT_NE(initialize(), 0);
    const int first = Tovira_GetLastError(handle);
    EXPECT_TRUE(first == 0 || first == TOVIRA_ERR_STORAGE) << first;
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
    char names[10][256];
    memset(names, 'x', sizeof names);
    EXPECT_EQ(Tovira_EnumDevice(handle, &names[0][0]), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(names[i][0], '\0') << i;
    char name[32];
    EXPECT_EQ(Tovira_GetDeviceName(handle, 0, name, 32), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NO_CAMERA);
    EXPECT_EQ(Tovira_SetDeviceNumber(handle, 0), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NO_CAMERA);
    // Stored values still work; the sensor cannot be reached.
    int ok = 1;
    EXPECT_EQ(Tovira_SetBrightness(handle, 10), 1);
    EXPECT_EQ(Tovira_GetBrightness(handle, &ok), 10);
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x0344, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_DEVICE_IO);
    EXPECT_EQ(Tovira_ReadSromID(handle, 0, &ok), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NOT_READY);
    // The grey values could not be read from the ROM.
    EXPECT_EQ(Tovira_GetGrayGainR(handle, &ok), 0);
    // The absence shows at the first capture preparation (2), which capture mode reports as not ready.
    PopToviraErrors(handle);
    EXPECT_EQ(Tovira_Capture(handle), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>({TOVIRA_ERR_NOT_READY, TOVIRA_ERR_NO_CAMERA}));
}

}  // namespace
