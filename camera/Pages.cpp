// Registry load and save of the analogue, image-filter and grey-filter pages.

#include "camera/Pages.h"

#include <cstdio>
#include <iterator>

#include "camera/RegistryKey.h"
#include "camera/StoredValue.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"

namespace tovira {
namespace {

// The analogue values are kept per camera: "Gain_00" .. "Gain_07" after the selected device number.
void AnalogSubKeyName(const CTovira& camera, char (&name)[16]) {
    const int number = camera.device ? camera.device->GetDeviceNumber() : 0;
    std::snprintf(name, sizeof name, "Gain_%02d", number);
}

// Each stored value with the range its setter accepts and the default that replaces a value outside it.
struct AnalogValue {
    const char* name;
    int32_t CTovira::*field;
    StoredRange range;
    int32_t fallback;
};

struct AnalogUnsignedValue {
    const char* name;
    uint32_t CTovira::*field;
    StoredRange range;
    int32_t fallback;
};

constexpr AnalogValue kAnalogInts[] = {
    {"Global", &CTovira::globalGain, {0, 127}, 64},          {"ColorG1", &CTovira::colorGainGreen1, {0, 127}, 64},
    {"ColorR", &CTovira::colorGainRed, {0, 127}, 64},        {"ColorB", &CTovira::colorGainBlue, {0, 127}, 64},
    {"ColorG2", &CTovira::colorGainGreen2, {0, 127}, 64},    {"Exposure", &CTovira::exposureLines, {0, 8192}, 2748},
};
constexpr AnalogUnsignedValue kAnalogUnsigned[] = {{"V_Mirror", &CTovira::mirrorV, {0, 1}, 0},
                                                   {"H_Mirror", &CTovira::mirrorH, {0, 1}, 0},
                                                   {"AutoIris", &CTovira::autoIrisMode, {0, 2}, 0}};

struct ImageValue {
    const char* name;
    int32_t ImageParameters::*field;
    StoredRange range;
};

constexpr ImageValue kFilterValues[] = {
    {"Brightness", &ImageParameters::brightness, {-255, 255}}, {"Contrast", &ImageParameters::contrast, {-127, 127}},
    {"Hue", &ImageParameters::hue, {-360, 360}},               {"Saturation", &ImageParameters::saturation, {-255, 255}},
    {"Sharpness", &ImageParameters::sharpness, {0, 30}},       {"R_Gain", &ImageParameters::bayerGainRed, {0, 400}},
    {"G_Gain", &ImageParameters::bayerGainGreen, {0, 400}},    {"B_Gain", &ImageParameters::bayerGainBlue, {0, 400}},
    {"Gamma", &ImageParameters::gamma, {0, 200}},              {"BayerMode", &ImageParameters::bayerMode, {0, 3}},
};
constexpr int kFilterDefaults[] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 3};

// The grey page's order: mode, gains R, G1, G2, B, offsets R, G1, G2, B.
constexpr const char* kGrayGainNames[4] = {"GainR1", "GainG1", "GainG2", "GainB1"};
constexpr const char* kGrayOffsetNames[4] = {"OffsetR1", "OffsetG1", "OffsetG2", "OffsetB1"};

}  // namespace

void LoadAnalogPage(CTovira& camera) {
    char subKeyName[16];
    AnalogSubKeyName(camera, subKeyName);
    const RegistryKey key = OpenSettingsKey();
    const RegistryKey page = key ? key.openChild(subKeyName) : RegistryKey();
    if (!page) {
        camera.globalGain = camera.colorGainGreen1 = camera.colorGainRed = camera.colorGainBlue =
            camera.colorGainGreen2 = 64;
        camera.exposureLines = 2748;
        camera.mirrorV = camera.mirrorH = 0;
        camera.autoIrisMode = 0;
        return;
    }
    // All nine values pass through one scratch value, as the stored page always did: a value missing
    // from the sub-key repeats the one read before it.
    // A stored value its setter would refuse is replaced by the default.
    int32_t scratch = 0;
    for (const AnalogValue& v : kAnalogInts) {
        ReadStoredValue(page, v.name, v.range, v.fallback, &scratch, &camera.storedValuesReplaced);
        camera.*v.field = scratch;
    }
    for (const AnalogUnsignedValue& v : kAnalogUnsigned) {
        ReadStoredValue(page, v.name, v.range, v.fallback, &scratch, &camera.storedValuesReplaced);
        camera.*v.field = static_cast<uint32_t>(scratch);
    }
}

void SaveAnalogPage(const CTovira& camera) {
    char subKeyName[16];
    AnalogSubKeyName(camera, subKeyName);
    const RegistryKey key = CreateSettingsKey();
    const RegistryKey page = key ? key.createChild(subKeyName) : RegistryKey();
    if (!page) return;  // the values are lost without a message
    for (const AnalogValue& v : kAnalogInts) page.writeInt(v.name, camera.*v.field);
    for (const AnalogUnsignedValue& v : kAnalogUnsigned) page.writeInt(v.name, static_cast<int32_t>(camera.*v.field));
}

void LoadImageFilterPage(CTovira& camera) {
    ImageParameters& p = camera.image;
    const RegistryKey key = OpenSettingsKey();
    const RegistryKey page = key ? key.openChild("Filter") : RegistryKey();
    if (!page) {
        for (size_t i = 0; i < std::size(kFilterValues); ++i) p.*kFilterValues[i].field = kFilterDefaults[i];
        // The nine parameters after the grey offsets: white-balance flags, grey balance request and the
        // reserved values.
        p.whiteBalanceAuto = 0;
        p.whiteBalanceOnce[0] = p.whiteBalanceOnce[1] = 0;
        p.grayBalanceRequest = 0;
        for (int i = 0; i < 5; ++i) p.reserved[i] = 0;
        return;
    }
    for (size_t i = 0; i < std::size(kFilterValues); ++i) {
        const ImageValue& v = kFilterValues[i];
        ReadStoredValue(page, v.name, v.range, kFilterDefaults[i], &(p.*v.field), &camera.storedValuesReplaced);
    }
}

void SaveImageFilterPage(const CTovira& camera) {
    const RegistryKey key = CreateSettingsKey();
    const RegistryKey page = key ? key.createChild("Filter") : RegistryKey();
    if (!page) return;
    for (const ImageValue& v : kFilterValues) page.writeInt(v.name, camera.image.*v.field);
}

void LoadGrayFilterPage(CTovira& camera) {
    ImageParameters& p = camera.image;
    const RegistryKey key = OpenSettingsKey();
    const RegistryKey page = key ? key.openChild("Gray") : RegistryKey();
    if (!page) {
        p.grayMode = 0;
        for (int i = 0; i < 4; ++i) p.grayGain[i] = p.grayOffset[i] = 128;
        return;
    }
    int* replaced = &camera.storedValuesReplaced;
    ReadStoredValue(page, "Mode", {0, 2}, 0, &p.grayMode, replaced);
    for (int i = 0; i < 4; ++i) ReadStoredValue(page, kGrayGainNames[i], {0, 255}, 128, &p.grayGain[i], replaced);
    for (int i = 0; i < 4; ++i) ReadStoredValue(page, kGrayOffsetNames[i], {-255, 255}, 128, &p.grayOffset[i], replaced);
}

void SaveGrayFilterPage(const CTovira& camera) {
    const ImageParameters& p = camera.image;
    const RegistryKey key = CreateSettingsKey();
    const RegistryKey page = key ? key.createChild("Gray") : RegistryKey();
    if (!page) return;
    page.writeInt("Mode", p.grayMode);
    for (int i = 0; i < 4; ++i) page.writeInt(kGrayGainNames[i], p.grayGain[i]);
    for (int i = 0; i < 4; ++i) page.writeInt(kGrayOffsetNames[i], p.grayOffset[i]);
}

}  // namespace tovira
