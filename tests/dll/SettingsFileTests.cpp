// Settings that reproduce: an instance that keeps out of the registry, a reset to the defaults, and all of
// an instance's settings saved to a text file and loaded back. A refused file names its line and problem
// and changes nothing (checked by saving every setting before and after and comparing the two files).

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

std::string TempFile(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "tovira-settings-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool SettingsKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kToviraSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

int Filter(int h, int id) {
    int ok = 0;
    const int value = Tovira_GetFilterValue(h, id, &ok);
    EXPECT_EQ(ok, 1) << "filter " << id;
    return value;
}

// A value of every page away from its default.
void SetNonDefaults(int h) {
    ASSERT_EQ(Tovira_SetColorMode(h, 48), 1);
    ASSERT_EQ(Tovira_SetSubSample(h, 1), 1);
    ASSERT_EQ(Tovira_SetHalfClock(h, 1), 1);
    ASSERT_EQ(Tovira_SetWaitTime(h, 25), 1);
    ASSERT_EQ(Tovira_SetCaptureWindowEx(h, 3840, 961, 1001, 2748, 33, 777), 1);
    ASSERT_EQ(Tovira_SetGlobalGain(h, 70), 1);
    ASSERT_EQ(Tovira_SetColorGainRed(h, 90), 1);
    ASSERT_EQ(Tovira_SetExposureTime(h, 1234), 1);
    ASSERT_EQ(Tovira_SetMirrorV(h, 1), 1);
    ASSERT_EQ(Tovira_SetAutoIris(h, 2), 1);
    ASSERT_EQ(Tovira_SetGamma(h, 120), 1);
    ASSERT_EQ(Tovira_SetHue(h, -45), 1);
    ASSERT_EQ(Tovira_SetBayerGainBlue(h, 150), 1);
    ASSERT_EQ(Tovira_SetBayerMode(h, 0), 1);
    ASSERT_EQ(Tovira_SetGrayOffsetB(h, -20), 1);
}

void ExpectNonDefaults(int h) {
    EXPECT_EQ(Tovira_GetColorMode(h), 44);
    EXPECT_EQ(Tovira_GetSubSample(h), 1);
    EXPECT_EQ(Tovira_GetHalfClock(h), 1);
    EXPECT_EQ(Tovira_GetWaitTime(h), 25);
    int ht = 0, hs = 0, w = 0, vt = 0, vs = 0, hh = 0;
    Tovira_GetCaptureWindowEx(h, &ht, &hs, &w, &vt, &vs, &hh);
    EXPECT_EQ(hs, 961);
    EXPECT_EQ(w, 1001);
    EXPECT_EQ(vs, 33);
    EXPECT_EQ(hh, 777);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 70);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_RED), 90);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_BLUE), 70);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 1234);
    int ok = 0;
    EXPECT_EQ(Tovira_GetAutoIris(h, &ok), 2);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GAMMA), 120);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_HUE), -45);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_BLUE), 150);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_OFFSET_B), -20);
}

void ExpectDefaults(int h) {
    EXPECT_EQ(Tovira_GetColorMode(h), 24);
    EXPECT_EQ(Tovira_GetSubSample(h), 0);
    EXPECT_EQ(Tovira_GetHalfClock(h), 0);
    EXPECT_EQ(Tovira_GetWaitTime(h), 10);
    EXPECT_EQ(Tovira_Width(h), 3840);
    EXPECT_EQ(Tovira_Height(h), 2748);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 64);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_RED), 64);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 2748);
    int ok = 0;
    EXPECT_EQ(Tovira_GetAutoIris(h, &ok), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GAMMA), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_HUE), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_BLUE), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 3);
}

class SettingsFile : public ToviraHandleTest {
protected:
    void TearDown() override {
        for (const std::string& f : files_) DeleteFileA(f.c_str());
        ToviraHandleTest::TearDown();
    }
    std::string file(const char* name) {
        files_.push_back(TempFile(name));
        return files_.back();
    }
    std::vector<std::string> files_;
};

TEST_F(SettingsFile, OptOutInstanceNeitherReadsNorWritesTheRegistry) {
    // What another program left behind.
    ASSERT_TRUE(PutToviraSetting("Filter", "Gamma", 120));
    ASSERT_TRUE(PutToviraSetting("Gain_00", "Exposure", 8192));
    ASSERT_TRUE(PutToviraSetting("", "Color", 0));
    EXPECT_EQ(ToviraX_InitializeEx(nullptr, 0x100), 0);  // unknown flags
    handle = ToviraX_InitializeEx(nullptr, TOVIRAX_INIT_NO_STORED_SETTINGS);
    ASSERT_NE(handle, 0);
    EXPECT_TRUE(PopToviraErrors(handle).empty());
    ExpectDefaults(handle);
    ASSERT_EQ(Tovira_SetGamma(handle, 150), 1);
    ASSERT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    release();
    EXPECT_EQ(GetToviraSetting("Filter", "Gamma"), 120);
    EXPECT_EQ(GetToviraSetting("Gain_00", "Exposure"), 8192);
    EXPECT_EQ(GetToviraSetting("Gain_00", "H_Mirror"), -12345);
    // Callers of Tovira_Initialize keep the stored settings.
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Filter(handle, TOVIRA_FILTER_GAMMA), 120);
    EXPECT_EQ(Tovira_GetColorMode(handle), 8);
    release();
    // Without any stored settings the opt-out creates none (a first run would).
    DeleteToviraSettings();
    handle = ToviraX_InitializeEx(nullptr, TOVIRAX_INIT_NO_STORED_SETTINGS);
    ASSERT_NE(handle, 0);
    EXPECT_TRUE(PopToviraErrors(handle).empty());  // no first-run 12
    ExpectDefaults(handle);
    release();
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(SettingsFile, ResetGivesTheDefaultsWhateverWasStoredOrSet) {
    ASSERT_TRUE(PutToviraSetting("Filter", "Gamma", 130));
    ASSERT_TRUE(PutToviraSetting("Gain_00", "Exposure", 8000));
    ASSERT_NE(initialize(), 0);
    SetNonDefaults(handle);
    ASSERT_EQ(ToviraX_ResetSettings(handle), 1);
    ExpectDefaults(handle);
    EXPECT_EQ(Tovira_GetMirrorV(handle), 0);
    // The camera has them too: a snapshot of the full frame in 24 bits.
    TOVIRAX_FRAME_FORMAT f{};
    f.size = sizeof f;
    ASSERT_EQ(ToviraX_GetFrameFormat(handle, 1, &f), 1);
    EXPECT_EQ(f.width, 3840);
    EXPECT_EQ(f.bitsPerPixel, 24);
}

TEST_F(SettingsFile, SavedFileLoadsBackEverySettingAndReadsAsText) {
    ASSERT_NE(initialize(), 0);
    SetNonDefaults(handle);
    const std::string saved = file("saved.ini"), again = file("again.ini");
    ASSERT_EQ(ToviraX_SaveSettings(handle, saved.c_str()), 1);
    const std::string text = ReadText(saved);
    EXPECT_NE(text.find("[Analog]"), std::string::npos) << text;
    EXPECT_NE(text.find("Exposure = 1234"), std::string::npos) << text;
    EXPECT_NE(text.find("ColorMode = 48"), std::string::npos) << text;
    ASSERT_EQ(ToviraX_ResetSettings(handle), 1);
    ExpectDefaults(handle);
    char message[256] = "untouched";
    ASSERT_EQ(ToviraX_LoadSettings(handle, saved.c_str(), message, sizeof message), 1) << message;
    EXPECT_STREQ(message, "");
    ExpectNonDefaults(handle);
    EXPECT_EQ(Tovira_GetMirrorV(handle), 1);
    // Saved again, the file is the same byte for byte.
    ASSERT_EQ(ToviraX_SaveSettings(handle, again.c_str()), 1);
    EXPECT_EQ(ReadText(again), text);
    // Another instance, kept out of the registry, takes the file and becomes the same.
    const int other = ToviraX_InitializeEx(nullptr, TOVIRAX_INIT_NO_STORED_SETTINGS);
    ASSERT_NE(other, 0);
    ASSERT_EQ(ToviraX_LoadSettings(other, saved.c_str(), nullptr, 0), 1);
    ExpectNonDefaults(other);
    Tovira_Release(other);
}

// Replaces the first occurrence of `from` in `text` by `to`.
std::string Edit(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST_F(SettingsFile, HandWrittenOdditiesAreAccepted) {
    ASSERT_NE(initialize(), 0);
    SetNonDefaults(handle);
    const std::string saved = file("odd-base.ini"), odd = file("odd.ini"), after = file("odd-after.ini");
    ASSERT_EQ(ToviraX_SaveSettings(handle, saved.c_str()), 1);
    std::string text = ReadText(saved);
    // Unix line ends, a byte-order mark, comments, blank lines, tabs and spaces, a plus sign.
    std::string unix;
    for (char c : text)
        if (c != '\r') unix += c;
    unix = "\xEF\xBB\xBF# kept under version control\n\n" + unix;
    unix = Edit(unix, "Exposure = 1234", "  Exposure\t=\t+1234   ");
    unix = Edit(unix, "[Gray]", "; the grey page\n[ Gray ]");
    WriteText(odd, unix);
    ASSERT_EQ(ToviraX_ResetSettings(handle), 1);
    char message[256] = "";
    ASSERT_EQ(ToviraX_LoadSettings(handle, odd.c_str(), message, sizeof message), 1) << message;
    ASSERT_EQ(ToviraX_SaveSettings(handle, after.c_str()), 1);
    EXPECT_EQ(ReadText(after), text);
}

TEST_F(SettingsFile, RefusedFilesNameTheProblemAndChangeNothing) {
    ASSERT_NE(initialize(), 0);
    const std::string base = file("base.ini"), bad = file("bad.ini"), before = file("before.ini"),
                      after = file("after.ini");
    SetNonDefaults(handle);
    ASSERT_EQ(ToviraX_SaveSettings(handle, base.c_str()), 1);
    const std::string text = ReadText(base);
    // The instance is in another state than the file describes, so a partial load would show.
    ASSERT_EQ(ToviraX_ResetSettings(handle), 1);
    ASSERT_EQ(ToviraX_SaveSettings(handle, before.c_str()), 1);

    struct Case {
        const char* what;
        std::string content;
        const char* messagePart;
    };
    const Case cases[] = {
        {"missing value", Edit(text, "Exposure = 1234\r\n", ""), "[Analog] Exposure is missing"},
        {"extra name", Edit(text, "Exposure = 1234", "Exposure = 1234\r\nShutter = 5"), "[Analog] Shutter is not a setting"},
        {"unknown section", text + "[Lens]\r\nFocus = 3\r\n", "unknown section [Lens]"},
        {"duplicate", Edit(text, "Gamma = 120", "Gamma = 120\r\nGamma = 90"), "[Image] Gamma a second time"},
        {"out of range", Edit(text, "Exposure = 1234", "Exposure = 9000"), "Exposure = 9000 is outside 0..8192"},
        {"negative out of range", Edit(text, "Hue = -45", "Hue = -361"), "Hue = -361 is outside -360..360"},
        {"not a colour mode", Edit(text, "ColorMode = 48", "ColorMode = 12"), "ColorMode = 12 is outside 8, 16, 24"},
        {"not a number", Edit(text, "Gamma = 120", "Gamma = high"), "Gamma = high is not a whole number"},
        {"number with junk", Edit(text, "Gamma = 120", "Gamma = 120x"), "Gamma = 120x is not a whole number"},
        {"trailing comment", Edit(text, "Gamma = 120", "Gamma = 120 ; warm"), "is not a whole number"},
        {"empty value", Edit(text, "Gamma = 120", "Gamma ="), "Gamma =  is not a whole number"},
        {"beyond int", Edit(text, "WaitTime = 25", "WaitTime = 99999999999"), "WaitTime = 99999999999 is not a whole"},
        {"no equals sign", Edit(text, "Gamma = 120", "Gamma 120"), "\"Gamma 120\" is not a name = value line"},
        {"before any section", "Gamma = 100\r\n" + text, "line 1: Gamma before any [section]"},
        {"name in the wrong section", Edit(Edit(text, "Gamma = 120\r\n", ""), "Exposure = 1234", "Exposure = 1234\r\nGamma = 120"),
         "[Analog] Gamma is not a setting of this section"},
        {"broken section line", Edit(text, "[Gray]", "[Gray"), "\"[Gray\" is not a [section] line"},
        {"window outside the sensor", Edit(text, "HStart = 961", "HStart = 3000"), "is outside the 3840 x 2748 sensor"},
        {"empty file", "", "[Camera] ColorMode is missing"},
        {"binary", std::string("\x00\x01\x02", 3), "not a text file"},
    };
    for (const Case& c : cases) {
        WriteText(bad, c.content);
        char message[256] = "";
        PopToviraErrors(handle);
        EXPECT_EQ(ToviraX_LoadSettings(handle, bad.c_str(), message, sizeof message), 0) << c.what;
        EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER) << c.what;
        EXPECT_NE(std::string(message).find(c.messagePart), std::string::npos) << c.what << ": " << message;
        ASSERT_EQ(ToviraX_SaveSettings(handle, after.c_str()), 1);
        EXPECT_EQ(ReadText(after), ReadText(before)) << c.what << ": the instance changed";
    }
    // A line number names where the problem is.
    WriteText(bad, Edit(text, "Gamma = 120", "Gamma = 999"));
    char message[256] = "";
    EXPECT_EQ(ToviraX_LoadSettings(handle, bad.c_str(), message, sizeof message), 0);
    size_t gammaLine = 1;
    for (size_t i = 0; i < text.find("Gamma = 120"); ++i) gammaLine += text[i] == '\n';
    EXPECT_EQ(std::string(message).rfind("line " + std::to_string(gammaLine) + ": [Image] Gamma", 0), 0u) << message;

    // A file that is not there, and a message buffer too small for the text: cut, terminated.
    PopToviraErrors(handle);
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(ToviraX_LoadSettings(handle, file("absent.ini").c_str(), small, sizeof small), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_STORAGE);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    EXPECT_EQ(ToviraX_LoadSettings(handle, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
    // Saving where no file can be made.
    EXPECT_EQ(ToviraX_SaveSettings(handle, "Z:\\no such folder\\x\\settings.ini"), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_STORAGE);
    ASSERT_EQ(ToviraX_SaveSettings(handle, after.c_str()), 1);
    EXPECT_EQ(ReadText(after), ReadText(before));
}

}  // namespace
