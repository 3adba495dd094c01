// Settings as named values (see SettingsFile.h). The file is plain text that people can read, diff and keep
// under version control:
//
//   ; comment
//   [Analog]
//   Exposure = 2748
//
// Loading checks the whole file before anything changes: every setting must be present exactly once,
// in its own section, as a whole number in its range; an unknown section or name, a duplicate, a line
// outside a section or a value with anything after the number refuses the file.

#include "camera/SettingsFile.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "camera/Tovira.h"

namespace tovira {
namespace {

// The settings in file order. Sections group them as the dialogs do.
enum Setting {
    kColorMode, kSubSample, kHalfClock, kWaitTime,
    kHTotal, kHStart, kWidth, kVTotal, kVStart, kHeight,
    kGlobalGain, kGainGreen1, kGainRed, kGainBlue, kGainGreen2, kExposure, kMirrorH, kMirrorV, kAutoIris,
    kBrightness, kContrast, kHue, kSaturation, kSharpness, kBayerGainRed, kBayerGainGreen, kBayerGainBlue,
    kWhiteBalanceAuto, kGamma, kBayerMode,
    kGrayMode, kGrayGainR, kGrayGainG1, kGrayGainG2, kGrayGainB, kGrayOffsetR, kGrayOffsetG1, kGrayOffsetG2,
    kGrayOffsetB,
    kSettingCount
};

struct Entry {
    const char* section;
    const char* name;
    int low, high;
    int fallback;  // the default
};

constexpr Entry kEntries[kSettingCount] = {
    {"Camera", "ColorMode", 8, 64, 24},  // 8, 16, 24, 32, 48 or 64 (checked apart)
    {"Camera", "SubSample", 0, 4, 0},
    {"Camera", "HalfClock", 0, 5, 0},
    {"Camera", "WaitTime", 0, INT_MAX, 10},
    {"Window", "HTotal", 0, INT_MAX, 3840},
    {"Window", "HStart", 0, 3836, 0},
    {"Window", "Width", 4, 3840, 3840},
    {"Window", "VTotal", 0, INT_MAX, 2748},
    {"Window", "VStart", 0, 2745, 0},
    {"Window", "Height", 3, 2748, 2748},
    {"Analog", "GlobalGain", 0, 127, 64},
    {"Analog", "GainGreen1", 0, 127, 64},
    {"Analog", "GainRed", 0, 127, 64},
    {"Analog", "GainBlue", 0, 127, 64},
    {"Analog", "GainGreen2", 0, 127, 64},
    {"Analog", "Exposure", 0, 8192, 2748},
    {"Analog", "MirrorH", 0, 1, 0},
    {"Analog", "MirrorV", 0, 1, 0},
    {"Analog", "AutoIris", 0, 2, 0},
    {"Image", "Brightness", -255, 255, 0},
    {"Image", "Contrast", -127, 127, 0},
    {"Image", "Hue", -360, 360, 0},
    {"Image", "Saturation", -255, 255, 0},
    {"Image", "Sharpness", 0, 30, 0},
    {"Image", "BayerGainRed", 0, 400, 100},
    {"Image", "BayerGainGreen", 0, 400, 100},
    {"Image", "BayerGainBlue", 0, 400, 100},
    {"Image", "WhiteBalanceAuto", 0, 1, 0},
    {"Image", "Gamma", 0, 200, 100},
    {"Image", "BayerMode", 0, 3, 3},
    {"Gray", "Mode", 0, 2, 0},
    {"Gray", "GainR", 0, 255, 128},
    {"Gray", "GainG1", 0, 255, 128},
    {"Gray", "GainG2", 0, 255, 128},
    {"Gray", "GainB", 0, 255, 128},
    {"Gray", "OffsetR", -255, 255, 128},
    {"Gray", "OffsetG1", -255, 255, 128},
    {"Gray", "OffsetG2", -255, 255, 128},
    {"Gray", "OffsetB", -255, 255, 128},
};

constexpr const char* kSections[] = {"Camera", "Window", "Analog", "Image", "Gray"};
constexpr int kColorModeBits[6] = {8, 16, 24, 32, 48, 64};
constexpr int kFullWidth = 3840, kFullHeight = 2748;

using Values = int[kSettingCount];

// Filter ids of the settings the filter setter takes, in the order above from kGlobalGain (0: not one).
int FilterIdOf(int setting) {
    switch (setting) {
        case kGlobalGain: return TOVIRA_FILTER_GLOBAL_GAIN;
        case kGainGreen1: return TOVIRA_FILTER_COLOR_GAIN_GREEN1;
        case kGainRed: return TOVIRA_FILTER_COLOR_GAIN_RED;
        case kGainBlue: return TOVIRA_FILTER_COLOR_GAIN_BLUE;
        case kGainGreen2: return TOVIRA_FILTER_COLOR_GAIN_GREEN2;
        case kExposure: return TOVIRA_FILTER_EXPOSURE_TIME;
        case kBrightness: return TOVIRA_FILTER_BRIGHTNESS;
        case kContrast: return TOVIRA_FILTER_CONTRAST;
        case kHue: return TOVIRA_FILTER_HUE;
        case kSaturation: return TOVIRA_FILTER_SATURATION;
        case kSharpness: return TOVIRA_FILTER_SHARPNESS;
        case kBayerGainRed: return TOVIRA_FILTER_BAYER_GAIN_RED;
        case kBayerGainGreen: return TOVIRA_FILTER_BAYER_GAIN_GREEN;
        case kBayerGainBlue: return TOVIRA_FILTER_BAYER_GAIN_BLUE;
        case kWhiteBalanceAuto: return TOVIRA_FILTER_BAYER_GAIN_AUTO;
        case kGamma: return TOVIRA_FILTER_GAMMA;
        case kBayerMode: return TOVIRA_FILTER_BAYER_MODE;
        case kGrayMode: return TOVIRA_FILTER_GRAY_MODE;
        case kGrayGainR: return TOVIRA_FILTER_GRAY_GAIN_R;
        case kGrayGainG1: return TOVIRA_FILTER_GRAY_GAIN_G1;
        case kGrayGainG2: return TOVIRA_FILTER_GRAY_GAIN_G2;
        case kGrayGainB: return TOVIRA_FILTER_GRAY_GAIN_B;
        case kGrayOffsetR: return TOVIRA_FILTER_GRAY_OFFSET_R;
        case kGrayOffsetG1: return TOVIRA_FILTER_GRAY_OFFSET_G1;
        case kGrayOffsetG2: return TOVIRA_FILTER_GRAY_OFFSET_G2;
        case kGrayOffsetB: return TOVIRA_FILTER_GRAY_OFFSET_B;
        default: return 0;
    }
}

// The instance's fields, setting by setting (colour mode as its bits, sub-sampling as the getter
// reports it).
int* FieldOf(CTovira& c, int setting) {
    ImageParameters& p = c.image;
    switch (setting) {
        case kHalfClock: return &c.clockCode;
        case kWaitTime: return &c.waitTime;
        case kHTotal: return &c.hTotal;
        case kHStart: return &c.hStart;
        case kWidth: return &c.effectiveWidth;
        case kVTotal: return &c.vTotal;
        case kVStart: return &c.vStart;
        case kHeight: return &c.effectiveHeight;
        case kGlobalGain: return &c.globalGain;
        case kGainGreen1: return &c.colorGainGreen1;
        case kGainRed: return &c.colorGainRed;
        case kGainBlue: return &c.colorGainBlue;
        case kGainGreen2: return &c.colorGainGreen2;
        case kExposure: return &c.exposureLines;
        case kBrightness: return &p.brightness;
        case kContrast: return &p.contrast;
        case kHue: return &p.hue;
        case kSaturation: return &p.saturation;
        case kSharpness: return &p.sharpness;
        case kBayerGainRed: return &p.bayerGainRed;
        case kBayerGainGreen: return &p.bayerGainGreen;
        case kBayerGainBlue: return &p.bayerGainBlue;
        case kWhiteBalanceAuto: return &p.whiteBalanceAuto;
        case kGamma: return &p.gamma;
        case kBayerMode: return &p.bayerMode;
        case kGrayMode: return &p.grayMode;
        case kGrayGainR: return &p.grayGain[0];
        case kGrayGainG1: return &p.grayGain[1];
        case kGrayGainG2: return &p.grayGain[2];
        case kGrayGainB: return &p.grayGain[3];
        case kGrayOffsetR: return &p.grayOffset[0];
        case kGrayOffsetG1: return &p.grayOffset[1];
        case kGrayOffsetG2: return &p.grayOffset[2];
        case kGrayOffsetB: return &p.grayOffset[3];
        default: return nullptr;
    }
}

void ValuesOf(CTovira& c, Values& v) {
    for (int s = 0; s < kSettingCount; ++s)
        if (const int* field = FieldOf(c, s)) v[s] = *field;
    v[kColorMode] = c.colorMode >= 0 && c.colorMode < 6 ? kColorModeBits[c.colorMode] : 24;
    v[kSubSample] = c.GetSubSample();
    v[kMirrorH] = c.mirrorH != 0 ? 1 : 0;
    v[kMirrorV] = c.mirrorV != 0 ? 1 : 0;
    v[kAutoIris] = static_cast<int>(c.autoIrisMode);
}

void DefaultValues(Values& v) {
    for (int s = 0; s < kSettingCount; ++s) v[s] = kEntries[s].fallback;
}

// Through the setters, in an order where none undoes another: sub-sampling before the window (the
// window goes to the camera with it), the global gain before the colour gains it also sets, the mirrors
// before the Bayer mode they move.
int Apply(CTovira& c, const Values& v, bool grayFromRom) {
    int ok = 1;
    ok &= c.SetColorMode(v[kColorMode]);
    ok &= c.SetSubSample(v[kSubSample]);
    ok &= c.SetHalfClock(v[kHalfClock]);
    ok &= c.SetWaitTime(v[kWaitTime]);
    ok &= c.SetCaptureWindowEx(v[kHTotal], v[kHStart], v[kWidth], v[kVTotal], v[kVStart], v[kHeight]);
    for (int s = kGlobalGain; s <= kExposure; ++s) ok &= c.SetFilterValue(FilterIdOf(s), v[s]);
    ok &= c.SetMirrorH(v[kMirrorH]);
    ok &= c.SetMirrorV(v[kMirrorV]);
    ok &= c.SetAutoIris(v[kAutoIris]);
    for (int s = kBrightness; s < (grayFromRom ? kGrayMode : kSettingCount); ++s)
        ok &= c.SetFilterValue(FilterIdOf(s), v[s]);
    if (grayFromRom) c.LoadGrayFromSrom();
    return ok;
}

// ---- the text

std::string Format(const Values& v) {
    std::string text = "; Z400KX camera settings, as ToviraX_SaveSettings wrote them. ToviraX_LoadSettings needs\r\n"
                       "; every value below, each once, in its section.\r\n";
    const char* section = "";
    for (int s = 0; s < kSettingCount; ++s) {
        if (std::strcmp(section, kEntries[s].section) != 0) {
            section = kEntries[s].section;
            text += std::string(s ? "\r\n[" : "[") + section + "]\r\n";
        }
        char line[96];
        std::snprintf(line, sizeof line, "%s = %d\r\n", kEntries[s].name, v[s]);
        text += line;
    }
    return text;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

// A whole decimal number with an optional sign and nothing else; false for anything else or a number
// beyond the int range.
bool ParseInt(const std::string& s, int* value) {
    size_t i = 0;
    const bool negative = !s.empty() && (s[0] == '-' || s[0] == '+') ? (i = 1, s[0] == '-') : false;
    if (i >= s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return false;
    }
    v = negative ? -v : v;
    if (v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

std::string Describe(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

bool Parse(const std::string& text, Values& v, std::string* problem) {
    bool seen[kSettingCount] = {};
    bool sectionSeen[std::size(kSections)] = {};
    const char* section = nullptr;
    size_t start = 0;
    // A UTF-8 byte-order mark, as editors may add one.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    for (int number = 1; start <= text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.find('\0') != std::string::npos) {
            *problem = Describe(number, "a zero byte: not a text file");
            return false;
        }
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (close == std::string::npos || close + 1 != line.size()) {
                *problem = Describe(number, "\"" + line + "\" is not a [section] line");
                return false;
            }
            const std::string name = Trim(line.substr(1, close - 1));
            section = nullptr;
            for (size_t k = 0; k < std::size(kSections); ++k) {
                if (name != kSections[k]) continue;
                if (sectionSeen[k]) {
                    *problem = Describe(number, "[" + name + "] a second time");
                    return false;
                }
                sectionSeen[k] = true;
                section = kSections[k];
            }
            if (!section) {
                *problem = Describe(number, "unknown section [" + name + "]");
                return false;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            *problem = Describe(number, "\"" + line + "\" is not a name = value line");
            return false;
        }
        const std::string name = Trim(line.substr(0, equals)), value = Trim(line.substr(equals + 1));
        if (!section) {
            *problem = Describe(number, name + " before any [section]");
            return false;
        }
        int setting = -1;
        for (int s = 0; s < kSettingCount; ++s)
            if (section == kEntries[s].section && name == kEntries[s].name) setting = s;
        const std::string where = "[" + std::string(section) + "] " + name;
        if (setting < 0) {
            *problem = Describe(number, where + " is not a setting of this section");
            return false;
        }
        if (seen[setting]) {
            *problem = Describe(number, where + " a second time");
            return false;
        }
        int parsed = 0;
        if (!ParseInt(value, &parsed)) {
            *problem = Describe(number, where + " = " + value + " is not a whole number");
            return false;
        }
        const Entry& e = kEntries[setting];
        bool inRange = parsed >= e.low && parsed <= e.high;
        if (setting == kColorMode) {
            inRange = false;
            for (int bits : kColorModeBits) inRange = inRange || parsed == bits;
        }
        if (!inRange) {
            *problem = Describe(number, where + " = " + value + " is outside " +
                                            (setting == kColorMode ? std::string("8, 16, 24, 32, 48, 64")
                                                                   : std::to_string(e.low) + ".." + std::to_string(e.high)));
            return false;
        }
        v[setting] = parsed;
        seen[setting] = true;
    }
    for (int s = 0; s < kSettingCount; ++s)
        if (!seen[s]) {
            *problem = std::string("[") + kEntries[s].section + "] " + kEntries[s].name + " is missing";
            return false;
        }
    if (v[kHStart] + v[kWidth] > kFullWidth || v[kVStart] + v[kHeight] > kFullHeight) {
        *problem = "[Window] the window (" + std::to_string(v[kHStart]) + ", " + std::to_string(v[kVStart]) + ") " +
                   std::to_string(v[kWidth]) + " x " + std::to_string(v[kHeight]) + " is outside the 3840 x 2748 sensor";
        return false;
    }
    return true;
}

}  // namespace

void AssignDefaultSettings(CTovira& camera) {
    Values v;
    DefaultValues(v);
    for (int s = 0; s < kSettingCount; ++s)
        if (int* field = FieldOf(camera, s)) *field = v[s];
    camera.colorMode = 2;  // 24 bits
    camera.subSample = v[kSubSample];
    camera.mirrorH = camera.mirrorV = 0;
    camera.autoIrisMode = 0;
    camera.bufferCount = 10;
}

int ResetSettings(CTovira& camera) {
    Values v;
    DefaultValues(v);
    // The grey page comes from the camera's serial ROM, as at every start.
    return Apply(camera, v, true);
}

int SaveSettingsFile(CTovira& camera, const char* fileName) {
    if (!fileName) {
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    Values v;
    ValuesOf(camera, v);
    const std::string text = Format(v);
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        camera.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const BOOL closed = CloseHandle(file);
    if (!wrote || !closed || written != text.size()) {
        DeleteFileA(fileName);  // a cut file would be refused anyway; none is clearer
        camera.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    return 1;
}

int LoadSettingsFile(CTovira& camera, const char* fileName, std::string* problem) {
    if (!fileName) {
        *problem = "no file name";
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = std::string("cannot open ") + fileName;
        camera.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    // Settings files are small; anything beyond 1 MiB is not one.
    std::string text;
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart <= (1 << 20);
    if (read) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text.empty() || (ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr) &&
                                got == text.size());
    }
    CloseHandle(file);
    if (!read) {
        *problem = std::string("cannot read ") + fileName + " (or larger than 1 MiB)";
        camera.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    Values v;
    DefaultValues(v);
    if (!Parse(text, v, problem)) {
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    return Apply(camera, v, false);
}

}  // namespace tovira
