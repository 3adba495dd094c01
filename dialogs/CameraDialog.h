// The camera dialog: colour mode, capture-window preset, sub-sampling, wait time and clock. It works on
// the registry's camera values, not on the instance: it loads them into an object of its own, and OK
// and Apply write them back (the instance reloads after OK).
#pragma once

#include <windows.h>

#include <cstdint>

#include "dialogs/DialogFramework.h"

namespace tovira {

struct CapturePreset {
    int32_t hTotal = 0, vTotal = 0, effectiveWidth = 0, effectiveHeight = 0, hStart = 0, vStart = 0;
    int32_t bufferCount = 10;
};

class CameraDialog : public DialogKind<CameraDialog> {
public:
    static constexpr int kMaxPresets = 100;

    CameraDialog() { claimed_ = Claim(this); }
    ~CameraDialog() {
        if (claimed_) Release(this);
    }
    CameraDialog(const CameraDialog&) = delete;
    CameraDialog& operator=(const CameraDialog&) = delete;

    bool Claimed() const { return claimed_; }
    INT_PTR Show(HWND owner);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The registry values: presets "Size_00".. (stopping at the first missing one), then "Size",
    // "Color", "SubSample", "WaitTime", "Clock". A key that does not open leaves the defaults.
    void Load();
    void Save() const;
    // The controls into the fields (a list without selection keeps its field).
    void ReadControls();

    CapturePreset presets[kMaxPresets];
    int presetCount = 0;
    int size = 0;
    int color = 0;
    int subSample = 0;
    int waitTime = 10;
    int clock = 0;

private:
    void initialise();
    void command(int id, int code);
    void showPresetWindow(int preset, bool withVStart);
    void setApplyEnabled(bool enabled);

    HWND window_ = nullptr;
    bool claimed_ = false;
};

}  // namespace tovira
