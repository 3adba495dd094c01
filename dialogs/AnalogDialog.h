// The analogue dialog: one page "Analog Gain" with the sensor's global gain, the four colour gains, the
// exposure, the auto-iris choice and the two mirrors. The page edits the camera instance's analogue
// values in place and sends every change to the camera at once.
#pragma once

#include <windows.h>

#include "dialogs/DialogFramework.h"

class CTovira;

namespace tovira {

class AnalogPage : public DialogKind<AnalogPage> {
public:
    explicit AnalogPage(CTovira& camera) : camera_(camera) {}
    HWND Create(HWND tab);
    HWND Window() const { return window_; }
    // 1: the six edit boxes into the values; 0: the values into the trackbars and edit boxes.
    void Commit(int flag);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class AnalogFrame;
    void initialise();
    void editChanged(int edit);
    void buttonClicked(int button);
    void trackbarMoved(HWND trackbar);
    void updateExposureLabel();

    CTovira& camera_;
    HWND window_ = nullptr;
    int ready_ = 0;
};

class AnalogFrame : public DialogKind<AnalogFrame> {
public:
    explicit AnalogFrame(CTovira& camera);
    ~AnalogFrame();
    AnalogFrame(const AnalogFrame&) = delete;
    AnalogFrame& operator=(const AnalogFrame&) = delete;
    // False when another analogue dialog is open: this one must not be shown.
    bool Claimed() const { return claimed_; }
    INT_PTR Show(HWND owner);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    CTovira& camera_;
    AnalogPage page_;
    HWND window_ = nullptr;
    bool claimed_ = false;
};

// Limits of what the camera is sent; typed values outside them are kept in the instance as typed.
constexpr int kAnalogGainMax = 127;
constexpr int kExposureLinesMin = 1;
constexpr int kExposureLinesMax = 8191;

}  // namespace tovira
