// Corrupt values in the stored settings: at Initialize a value its setter would refuse (or one of another
// registry type) is replaced by the default and noted once with error 12, so captures work from the
// start; values the setters accept, including the extreme ones, are kept.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

bool PutRawSetting(const char* subKey, const char* name, DWORD type, const void* data, DWORD size) {
    char path[256];
    wsprintfA(path, *subKey ? "%s\\%s" : "%s", kToviraSettingsKey, subKey);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

int Value(int (*getter)(int, int*), int handle) {
    int ok = 0;
    return getter(handle, &ok);
}

struct Corrupt {
    const char* subKey;
    const char* name;
    DWORD type;
    std::vector<uint8_t> data;
    int (*read)(int handle);  // the value in force after Initialize
    int expected;             // the default that replaces the stored value
};

std::vector<uint8_t> Dword(int32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

using StoredValues = ToviraHandleTest;

TEST_F(StoredValues, AValueTheSetterWouldRefuseIsReplacedByTheDefaultAndNotedOnce) {
    const std::vector<Corrupt> cases = {
        {"", "Color", REG_DWORD, Dword(-1), [](int h) { return Tovira_GetColorMode(h); }, 24},
        {"", "Color", REG_DWORD, Dword(99), [](int h) { return Tovira_GetColorMode(h); }, 24},
        {"", "SubSample", REG_DWORD, Dword(1000), [](int h) { return Tovira_GetSubSample(h); }, 0},
        {"", "SubSample", REG_DWORD, Dword(-1), [](int h) { return Tovira_GetSubSample(h); }, 0},
        {"", "Clock", REG_DWORD, Dword(99), [](int h) { return Tovira_GetHalfClock(h); }, 0},
        {"", "WaitTime", REG_DWORD, Dword(-5), [](int h) { return Tovira_GetWaitTime(h); }, 10},
        // Other registry types: a multi-string once read its first bytes as 6,422,625 ms.
        {"", "WaitTime", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, [](int h) { return Tovira_GetWaitTime(h); }, 10},
        {"", "Color", REG_SZ, {'3', 0}, [](int h) { return Tovira_GetColorMode(h); }, 24},
        {"", "Color", REG_BINARY, {3, 0, 0, 0, 0, 0, 0, 0}, [](int h) { return Tovira_GetColorMode(h); }, 24},
        {"Filter", "Brightness", REG_DWORD, Dword(INT_MAX), [](int h) { return Value(Tovira_GetBrightness, h); }, 0},
        {"Filter", "Gamma", REG_DWORD, Dword(INT_MAX), [](int h) { return Value(Tovira_GetGamma, h); }, 100},
        {"Filter", "R_Gain", REG_DWORD, Dword(INT_MAX), [](int h) { return Value(Tovira_GetBayerGainRed, h); }, 100},
        {"Filter", "BayerMode", REG_DWORD, Dword(99), [](int h) { return Value(Tovira_GetBayerMode, h); }, 3},
        {"Gain_00", "AutoIris", REG_DWORD, Dword(99), [](int h) { return Value(Tovira_GetAutoIris, h); }, 0},
        {"Gain_00", "Global", REG_DWORD, Dword(INT_MAX), [](int h) { return Value(Tovira_GetGlobalGain, h); }, 64},
    };
    const size_t bytes = size_t(160 * 8) * 120;  // room for any mode at 160 x 120
    std::vector<uint8_t> frame(bytes);
    for (const Corrupt& c : cases) {
        SCOPED_TRACE(std::string(c.subKey) + "\\" + c.name);
        DeleteToviraSettings();
        ASSERT_NE(initialize(), 0);  // first run: the key with its defaults
        release();
        ASSERT_TRUE(PutRawSetting(c.subKey, c.name, c.type, c.data.data(), DWORD(c.data.size())));
        ASSERT_NE(initialize(), 0);
        const std::vector<int> codes = PopToviraErrors(handle);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), TOVIRA_ERR_STORAGE), 1);
        EXPECT_EQ(c.read(handle), c.expected);
        // Capturing works at once, without the application resetting anything.
        ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 0, 160, 2748, 0, 120), 1);
        EXPECT_EQ(Tovira_Capture(handle), 1);
        EXPECT_EQ(Tovira_SnapShot(handle, frame.data(), int(frame.size()), 1), 1);
        EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
        release();
    }
}

TEST_F(StoredValues, ValuesTheSettersAcceptAreKeptWithoutANote) {
    ASSERT_NE(initialize(), 0);
    release();
    ASSERT_TRUE(PutToviraSetting("", "Color", 5));
    ASSERT_TRUE(PutToviraSetting("", "SubSample", 17));  // a readout variant only stored settings select
    ASSERT_TRUE(PutToviraSetting("", "WaitTime", 0x7fffffff));
    ASSERT_TRUE(PutToviraSetting("", "Clock", 5));
    ASSERT_TRUE(PutToviraSetting("Filter", "Hue", DWORD(-360)));
    ASSERT_TRUE(PutToviraSetting("Filter", "BayerMode", 0));
    ASSERT_TRUE(PutToviraSetting("Gain_00", "AutoIris", 2));
    ASSERT_TRUE(PutToviraSetting("Gain_00", "Exposure", 8192));
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
    EXPECT_EQ(Tovira_GetColorMode(handle), 60);
    EXPECT_EQ(Tovira_GetSubSample(handle), 2);
    EXPECT_EQ(Tovira_GetWaitTime(handle), 0x7fffffff);
    EXPECT_EQ(Tovira_GetHalfClock(handle), 5);
    EXPECT_EQ(Value(Tovira_GetHue, handle), -360);
    EXPECT_EQ(Value(Tovira_GetBayerMode, handle), 0);
    EXPECT_EQ(Value(Tovira_GetAutoIris, handle), 2);
}

}  // namespace
