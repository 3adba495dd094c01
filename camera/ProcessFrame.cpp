// CTovira::ProcessFrame: the instance's images, parameters and analogue values handed to the portable
// frame pipeline, with the instance and its device object behind the pipeline's hooks.

#include <windows.h>

#include "camera/BayerPhase.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "dialogs/DialogRefresh.h"
#include "output/DibImage.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/RowBandPool.h"

namespace {

// The pipeline's parameter block is laid out by filter id; the instance keeps its own stored order.
// Every frame takes a copy in and writes back only what the pipeline changed (balances, one-shot
// flags and counters), so a setter that runs meanwhile on the caller's thread keeps its value.
struct ParameterField {
    int32_t ::ImageParameters::*instance;
    int32_t tovira::ImageParameters::*pipeline;
};

constexpr ParameterField kScalarFields[] = {
    {&::ImageParameters::brightness, &tovira::ImageParameters::brightness},
    {&::ImageParameters::contrast, &tovira::ImageParameters::contrast},
    {&::ImageParameters::hue, &tovira::ImageParameters::hue},
    {&::ImageParameters::saturation, &tovira::ImageParameters::saturation},
    {&::ImageParameters::sharpness, &tovira::ImageParameters::sharpness},
    {&::ImageParameters::bayerGainRed, &tovira::ImageParameters::bayerGainRed},
    {&::ImageParameters::bayerGainGreen, &tovira::ImageParameters::bayerGainGreen},
    {&::ImageParameters::bayerGainBlue, &tovira::ImageParameters::bayerGainBlue},
    {&::ImageParameters::whiteBalanceAuto, &tovira::ImageParameters::bayerGainAuto},
    {&::ImageParameters::gamma, &tovira::ImageParameters::gamma},
    {&::ImageParameters::bayerMode, &tovira::ImageParameters::bayerMode},
    {&::ImageParameters::grayMode, &tovira::ImageParameters::grayMode},
    {&::ImageParameters::grayBalanceRequest, &tovira::ImageParameters::grayBalanceRequest},
};

int32_t Load(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
void Store(int32_t& field, int32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELAXED); }

void LoadParameters(const ::ImageParameters& from, tovira::ImageParameters& to) {
    to = {};
    for (const ParameterField& f : kScalarFields) to.*f.pipeline = Load(from.*f.instance);
    int32_t* grey = &to.grayGainR;  // R, G1, G2, B gains, then the four offsets
    for (int i = 0; i < 4; ++i) {
        grey[i] = Load(from.grayGain[i]);
        grey[4 + i] = Load(from.grayOffset[i]);
    }
    to.whiteBalanceOnce1 = Load(from.whiteBalanceOnce[0]);
    to.whiteBalanceOnce2 = Load(from.whiteBalanceOnce[1]);
}

void StoreChanges(const tovira::ImageParameters& before, const tovira::ImageParameters& after,
                  ::ImageParameters& to) {
    for (const ParameterField& f : kScalarFields)
        if (after.*f.pipeline != before.*f.pipeline) Store(to.*f.instance, after.*f.pipeline);
    const int32_t* greyBefore = &before.grayGainR;
    const int32_t* greyAfter = &after.grayGainR;
    for (int i = 0; i < 4; ++i) {
        if (greyAfter[i] != greyBefore[i]) Store(to.grayGain[i], greyAfter[i]);
        if (greyAfter[4 + i] != greyBefore[4 + i]) Store(to.grayOffset[i], greyAfter[4 + i]);
    }
    if (after.whiteBalanceOnce1 != before.whiteBalanceOnce1) Store(to.whiteBalanceOnce[0], after.whiteBalanceOnce1);
    if (after.whiteBalanceOnce2 != before.whiteBalanceOnce2) Store(to.whiteBalanceOnce[1], after.whiteBalanceOnce2);
}

// The auto iris reaches the camera through the device object and reports through the error history.
class InstanceHooks final : public tovira::FramePipelineHooks {
public:
    explicit InstanceHooks(CTovira& camera) : camera_(camera) {}

    bool isDeviceOpen() override {
        CToviraZ400KXSdk* device = camera_.device;
        return device && device->IsDevicePresent(device->GetDeviceNumber());
    }
    bool readGlobalGain(uint16_t* gain) override {
        // The device answers 0 for a failed read; the rule below cannot grow a gain of 0 anyway.
        *gain = static_cast<uint16_t>(camera_.device->GetGlobalGain());
        return true;
    }
    bool writeGlobalGain(uint16_t gain) override { return camera_.device->SetGlobalGain(gain) == 1; }
    bool readExposure(uint32_t* lines) override {
        int value = 0;
        if (camera_.device->GetExposure(&value) != 1) return false;
        *lines = static_cast<uint32_t>(value);
        return true;
    }
    bool writeExposure(uint32_t lines) override { return camera_.device->SetExposure(static_cast<int>(lines)) == 1; }
    void recordError(int32_t code) override { camera_.RecordError(code); }
    // The dialogs are told only after the frame's results are stored in the instance (see below).
    void showAnalogueValue(int32_t controlId, int32_t value) override {
        if (controlId == 1015) pendingGain = value;
        if (controlId == 1027) pendingExposure = value;
    }
    void reloadImageDialog() override { reloadImage = true; }

    int32_t pendingGain = -1, pendingExposure = -1;
    bool reloadImage = false;

private:
    CTovira& camera_;
};

tovira::ImageView ViewOf(const CDibImage* image) { return image ? image->View() : tovira::ImageView{}; }

}  // namespace

void CTovira::ProcessFrame() {
    std::lock_guard<std::recursive_mutex> guard(frameLock);
    const tovira::FrameImages images{ViewOf(rawImage8),   ViewOf(rawImage16),   ViewOf(colorImage24),
                                     ViewOf(colorImage32), ViewOf(colorImage48), ViewOf(colorImage64),
                                     ViewOf(sharpnessImage)};
    tovira::ImageParameters before;
    LoadParameters(image, before);
    // The pipeline works with the phase of the window the sensor reads (as the device last accepted it,
    // which a rejected window request leaves alone); the stored mode is left as it is.
    if (device)
        before.bayerMode = WindowBayerMode(before.bayerMode, device->GetWindowX(), device->GetWindowY(),
                                           device->GetWindowWidth(), device->GetWindowHeight(),
                                           __atomic_load_n(&mirrorH, __ATOMIC_RELAXED) != 0,
                                           __atomic_load_n(&mirrorV, __ATOMIC_RELAXED) != 0);
    tovira::ImageParameters parameters = before;

    tovira::AnalogueState analogue{Load(globalGain),   Load(colorGainGreen1), Load(colorGainRed),
                                   Load(colorGainBlue), Load(colorGainGreen2), Load(exposureLines),
                                   __atomic_load_n(&autoIrisMode, __ATOMIC_RELAXED)};
    const tovira::AnalogueState analogueBefore = analogue;

    InstanceHooks hooks(*this);
    tovira::ProcessFrame(images, colorMode, parameters, analogue, hooks, bandPool.get());

    StoreChanges(before, parameters, image);
    const std::pair<int32_t tovira::AnalogueState::*, int*> analogueFields[] = {
        {&tovira::AnalogueState::globalGain, &globalGain},
        {&tovira::AnalogueState::colorGainGreen1, &colorGainGreen1},
        {&tovira::AnalogueState::colorGainRed, &colorGainRed},
        {&tovira::AnalogueState::colorGainBlue, &colorGainBlue},
        {&tovira::AnalogueState::colorGainGreen2, &colorGainGreen2},
        {&tovira::AnalogueState::exposureLines, &exposureLines},
    };
    for (const auto& [field, target] : analogueFields)
        if (analogue.*field != analogueBefore.*field) Store(*target, analogue.*field);

    if (hooks.pendingGain >= 0) ShowAnalogueValue(1015, hooks.pendingGain);
    if (hooks.pendingExposure >= 0) ShowAnalogueValue(1027, hooks.pendingExposure);
    if (hooks.reloadImage) ReloadImageDialog();
}

// The dialogs are modal on the caller's thread; what the frame loop tells them is posted to their
// windows, never done from here (the notifications do nothing while no dialog of this camera is open).
void CTovira::ShowAnalogueValue(int controlId, int value) {
    if (controlId == 1015) NotifyAnalogDialogGainChanged(*this, value);
    if (controlId == 1027) NotifyAnalogDialogExposureChanged(*this, value);
}
void CTovira::ReloadImageDialog() { NotifyImageDialogValuesChanged(*this); }
