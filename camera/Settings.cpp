// The camera values and capture-window presets kept in the registry, and the grey calibration in the
// camera's serial ROM.

#include "camera/Settings.h"

#include <cstdio>

#include "camera/RegistryKey.h"
#include "camera/StoredValue.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"

namespace tovira {
namespace {

// The seven values of a preset sub-key, always in this order.
constexpr const char* kPresetValueNames[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};

void PresetSubKeyName(int number, char (&name)[16]) { std::snprintf(name, sizeof name, "Size_%02d", number); }

// Reads the seven values into the given fields; a missing value leaves its field as it was.
void ReadPresetValues(const RegistryKey& preset, int32_t* const (&fields)[7]) {
    for (int i = 0; i < 7; ++i) preset.readInt(kPresetValueNames[i], fields[i]);
}

// First run on this account: the settings key with the full-frame preset "Size_00" and the camera values.
bool CreateDefaultSettings() {
    const RegistryKey key = CreateSettingsKey();
    if (!key) return false;
    {
        const RegistryKey preset = key.createChild("Size_00");
        if (!preset) return false;
        const int32_t values[7] = {3840, 2748, 3840, 2748, 0, 0, 10};
        for (int i = 0; i < 7; ++i) preset.writeInt(kPresetValueNames[i], values[i]);
    }
    key.writeInt("Size", 0);
    key.writeInt("Color", 2);
    key.writeInt("SubSample", 0);
    key.writeInt("WaitTime", 10);
    key.writeInt("Clock", 0);
    return true;
}

}  // namespace

bool ReadCaptureWindowPresets(std::vector<CaptureWindowPreset>* presets) {
    presets->clear();
    const RegistryKey key = OpenSettingsKey();
    if (!key) return false;
    for (int number = 0; number < kMaxCaptureWindowPresets; ++number) {
        char name[16];
        PresetSubKeyName(number, name);
        const RegistryKey sub = key.openChild(name);
        if (!sub) break;  // presets are numbered without gaps
        CaptureWindowPreset p;
        int32_t* const fields[7] = {&p.hTotal, &p.vTotal, &p.effectiveWidth, &p.effectiveHeight,
                                    &p.hStart, &p.vStart, &p.bufferCount};
        ReadPresetValues(sub, fields);
        presets->push_back(p);
    }
    return true;
}

}  // namespace tovira

using tovira::RegistryKey;

int CTovira::LoadCaptureWindowSettings() {
    const RegistryKey key = tovira::OpenSettingsKey();
    if (!key) {
        // The key is created with its defaults; the instance keeps its constructor values, which equal
        // the written window, until the next load.
        tovira::CreateDefaultSettings();
        RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    int32_t presetNumber = 0;
    if (!key.readInt("Size", &presetNumber)) {
        RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    char name[16];
    // A number outside 0..99 names no preset.
    const RegistryKey preset = (presetNumber >= 0 && presetNumber < tovira::kMaxCaptureWindowPresets)
                                   ? (tovira::PresetSubKeyName(presetNumber, name), key.openChild(name))
                                   : RegistryKey();
    if (!preset) {
        RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    // The preset in use is checked like the camera values: a value of another type, or an empty window,
    // would make every capture fail until the application reset it. Such a preset is replaced by the
    // full frame and noted once (error 12 at Initialize). A window that leaves the sensor is Initialize's
    // to refuse (error 7, full frame).
    int32_t values[7] = {hTotal, vTotal, effectiveWidth, effectiveHeight, hStart, vStart, bufferCount};
    int replaced = 0;
    constexpr int32_t kAny = 0x7FFFFFFF;
    const tovira::StoredRange kWindow[7] = {{-kAny, kAny}, {-kAny, kAny}, {1, kAny},     {1, kAny},
                                            {-kAny, kAny}, {-kAny, kAny}, {-kAny, kAny}};
    for (int i = 0; i < 7; ++i)
        tovira::ReadStoredValue(preset, tovira::kPresetValueNames[i], kWindow[i], values[i], &values[i], &replaced);
    if (replaced > 0) {
        const int32_t fullFrame[6] = {3840, 2748, 3840, 2748, 0, 0};
        for (int i = 0; i < 6; ++i) values[i] = fullFrame[i];
        ++storedValuesReplaced;
    }
    int32_t* const fields[7] = {&hTotal, &vTotal, &effectiveWidth, &effectiveHeight, &hStart, &vStart, &bufferCount};
    for (int i = 0; i < 7; ++i) *fields[i] = values[i];
    return 1;
}

int CTovira::LoadCameraSettings() {
    const RegistryKey key = tovira::OpenSettingsKey();
    if (!key) {
        RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    // A stored value its setter would refuse is replaced by the default the first run writes. Sub-sampling
    // also accepts 16 and 17, the second readout variants that only a stored setting can select.
    using tovira::ReadStoredValue;
    int* replaced = &storedValuesReplaced;
    ReadStoredValue(key, "Color", {0, 5}, 2, &colorMode, replaced);
    ReadStoredValue(key, "SubSample", {0, 4, 16, 17}, 0, &subSample, replaced);
    ReadStoredValue(key, "WaitTime", {0, INT32_MAX}, 10, &waitTime, replaced);
    ReadStoredValue(key, "Clock", {0, 5}, 0, &clockCode, replaced);
    return 1;
}

int CTovira::LoadGrayFromSrom() {
    if (!device) return 0;
    // Grey mode at ROM address 5, grey gains R, G1, G2, B at 8..11 and offsets at 12..15. A byte whose
    // read fails stays 0.
    uint8_t bytes[9] = {};
    device->ReadSromByte(5, &bytes[0]);
    for (int i = 0; i < 8; ++i) device->ReadSromByte(static_cast<uint8_t>(8 + i), &bytes[1 + i]);
    image.grayMode = bytes[0] <= 3 ? bytes[0] : 0;
    for (int i = 0; i < 4; ++i) image.grayGain[i] = bytes[1 + i];
    for (int i = 0; i < 4; ++i) image.grayOffset[i] = bytes[5 + i];
    return 1;
}
