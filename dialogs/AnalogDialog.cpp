// The analogue dialog's frame and page.

#include "dialogs/AnalogDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "dialogs/DialogRefresh.h"
#include "dialogs/resource.h"

namespace tovira {

namespace {

// Colour-gain registers of the sensor.
constexpr int kRegGreen1 = 0x3056;
constexpr int kRegRed = 0x305A;
constexpr int kRegBlue = 0x3058;
constexpr int kRegGreen2 = 0x305C;

struct Triplet {
    int trackbar, edit, upDown, minimum, maximum;
};
constexpr Triplet kTriplets[] = {
    {IDC_AN_GLOBAL_TB, IDC_AN_GLOBAL_ED, IDC_AN_GLOBAL_UD, 0, kAnalogGainMax},
    {IDC_AN_G1_TB, IDC_AN_G1_ED, IDC_AN_G1_UD, 0, kAnalogGainMax},
    {IDC_AN_R_TB, IDC_AN_R_ED, IDC_AN_R_UD, 0, kAnalogGainMax},
    {IDC_AN_B_TB, IDC_AN_B_ED, IDC_AN_B_UD, 0, kAnalogGainMax},
    {IDC_AN_G2_TB, IDC_AN_G2_ED, IDC_AN_G2_UD, 0, kAnalogGainMax},
    {IDC_AN_EXPOSURE_TB, IDC_AN_EXPOSURE_ED, IDC_AN_EXPOSURE_UD, kExposureLinesMin, kExposureLinesMax},
};

int* ValueOf(CTovira& c, int index) {
    int* values[] = {&c.globalGain, &c.colorGainGreen1, &c.colorGainRed, &c.colorGainBlue, &c.colorGainGreen2,
                     &c.exposureLines};
    return values[index];
}

int GainForCamera(int value) { return std::clamp(value, 0, kAnalogGainMax); }
int ExposureForCamera(int value) { return std::clamp(value, kExposureLinesMin, kExposureLinesMax); }

// The Bayer phase of the raw image moves by one column with a horizontal mirror and by one row with a
// vertical one.
int ToggleBayerVertical(int mode) { return (mode >= 0 && mode <= 3) ? (mode ^ 1) : mode; }
int ToggleBayerHorizontal(int mode) { return (mode >= 0 && mode <= 3) ? (mode ^ 2) : mode; }

}  // namespace

// ---- page

HWND AnalogPage::Create(HWND tab) {
    Claim(this);
    return CreatePage(IDD_ANALOG_GAIN_JA, IDD_ANALOG_GAIN_EN, tab, &AnalogPage::Procedure);
}

void AnalogPage::initialise() {
    ready_ = 0;
    for (int i = 0; i < 6; ++i) {
        const Triplet& t = kTriplets[i];
        SetupTriplet(window_, t.trackbar, t.upDown, t.edit, t.minimum, t.maximum, *ValueOf(camera_, i),
                     (t.maximum - t.minimum) / 8, true);
    }
    SetChecked(window_, IDC_AN_MIRROR_V, camera_.mirrorV != 0);
    SetChecked(window_, IDC_AN_MIRROR_H, camera_.mirrorH != 0);
    SetChecked(window_, IDC_AN_AUTO_EXPOSURE, camera_.autoIrisMode == 1);
    SetChecked(window_, IDC_AN_AUTO_GAIN, camera_.autoIrisMode == 2);
    updateExposureLabel();
    ready_ = 1;
}

void AnalogPage::updateExposureLabel() {
    const double microseconds =
        (static_cast<double>(camera_.exposureLines) * camera_.lineLength + camera_.frameLength) *
        camera_.exposureScale;
    char text[64];
    std::snprintf(text, sizeof text, "=%.2fms", microseconds / 1000.0);
    SetDlgItemTextA(window_, IDC_AN_EXPOSURE_MS, text);
}

void AnalogPage::editChanged(int edit) {
    if (!ready_) return;
    const int value = ReadSignedInt(window_, edit);
    CToviraZ400KXSdk* device = camera_.device;
    switch (edit) {
    case IDC_AN_GLOBAL_ED:
        camera_.globalGain = value;
        MoveTrackbar(window_, IDC_AN_GLOBAL_TB, value);
        if (device) device->SetGlobalGain(GainForCamera(value));
        // The colour gains follow, each through its own change notification.
        for (int colour : {IDC_AN_G1_ED, IDC_AN_R_ED, IDC_AN_B_ED, IDC_AN_G2_ED})
            SetDlgItemInt(window_, colour, static_cast<UINT>(value), TRUE);
        break;
    case IDC_AN_G1_ED:
        camera_.colorGainGreen1 = value;
        MoveTrackbar(window_, IDC_AN_G1_TB, value);
        if (device) device->SetColorGain(kRegGreen1, GainForCamera(value));
        break;
    case IDC_AN_R_ED:
        camera_.colorGainRed = value;
        MoveTrackbar(window_, IDC_AN_R_TB, value);
        if (device) device->SetColorGain(kRegRed, GainForCamera(value));
        break;
    case IDC_AN_B_ED:
        camera_.colorGainBlue = value;
        MoveTrackbar(window_, IDC_AN_B_TB, value);
        if (device) device->SetColorGain(kRegBlue, GainForCamera(value));
        break;
    case IDC_AN_G2_ED:
        camera_.colorGainGreen2 = value;
        MoveTrackbar(window_, IDC_AN_G2_TB, value);
        if (device) device->SetColorGain(kRegGreen2, GainForCamera(value));
        break;
    case IDC_AN_EXPOSURE_ED:
        camera_.exposureLines = value;
        MoveTrackbar(window_, IDC_AN_EXPOSURE_TB, value);
        if (device) device->SetExposure(ExposureForCamera(value));
        updateExposureLabel();
        break;
    default:
        break;
    }
}

void AnalogPage::buttonClicked(int button) {
    CToviraZ400KXSdk* device = camera_.device;
    switch (button) {
    case IDC_AN_MIRROR_V: {
        const int on = IsChecked(window_, IDC_AN_MIRROR_V) ? 1 : 0;
        if (device) device->SetMirrorV(on);
        // The phase moves only when the mirror does (a click always changes the box, but the box may
        // disagree with the camera's mirror it was set up from).
        if (static_cast<unsigned>(on) != camera_.mirrorV)
            camera_.image.bayerMode = ToggleBayerVertical(camera_.image.bayerMode);
        camera_.mirrorV = static_cast<unsigned>(on);
        break;
    }
    case IDC_AN_MIRROR_H: {
        const int on = IsChecked(window_, IDC_AN_MIRROR_H) ? 1 : 0;
        if (device) device->SetMirrorH(on);
        if (static_cast<unsigned>(on) != camera_.mirrorH)
            camera_.image.bayerMode = ToggleBayerHorizontal(camera_.image.bayerMode);
        camera_.mirrorH = static_cast<unsigned>(on);
        break;
    }
    case IDC_AN_AUTO_EXPOSURE:
        if (IsChecked(window_, IDC_AN_AUTO_EXPOSURE)) {
            SetChecked(window_, IDC_AN_AUTO_GAIN, false);
            camera_.autoIrisMode = 1;
        } else {
            camera_.autoIrisMode = 0;
        }
        break;
    case IDC_AN_AUTO_GAIN:
        if (IsChecked(window_, IDC_AN_AUTO_GAIN)) {
            SetChecked(window_, IDC_AN_AUTO_EXPOSURE, false);
            camera_.autoIrisMode = 2;
        } else {
            camera_.autoIrisMode = 0;
        }
        break;
    default:
        break;
    }
}

void AnalogPage::trackbarMoved(HWND trackbar) {
    const int id = GetDlgCtrlID(trackbar);
    for (const Triplet& t : kTriplets) {
        if (t.trackbar != id) continue;
        const int position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
        SetDlgItemInt(window_, t.edit, static_cast<UINT>(position), TRUE);  // continues in editChanged
        return;
    }
}

void AnalogPage::Commit(int flag) {
    if (!window_) return;
    // Showing the values is not a change: the boxes' notifications are not taken over meanwhile (the
    // global gain box would otherwise copy itself into the colour gains).
    const int wasReady = ready_;
    if (!flag) ready_ = 0;
    for (int i = 0; i < 6; ++i) {
        const Triplet& t = kTriplets[i];
        if (flag) {
            *ValueOf(camera_, i) = ReadSignedInt(window_, t.edit);
        } else {
            const int value = *ValueOf(camera_, i);
            MoveTrackbar(window_, t.trackbar, value);
            SetDlgItemInt(window_, t.edit, static_cast<UINT>(value), TRUE);
        }
    }
    // The label follows the exposure shown (its box's own notification was not taken over above).
    if (!flag) updateExposureLabel();
    ready_ = wasReady;
}

INT_PTR AnalogPage::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        window_ = window;
        AttachRefreshWindow(RefreshTarget::Analog, &camera_, window);
        initialise();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE) editChanged(LOWORD(wParam));
        else if (HIWORD(wParam) == BN_CLICKED) buttonClicked(LOWORD(wParam));
        return 0;
    case WM_HSCROLL:
        if (lParam) trackbarMoved(reinterpret_cast<HWND>(lParam));
        return 0;
    case kRefreshAnalogGain:
        // Shown as a user change: the page sends it on and the colour gains follow.
        SetDlgItemInt(window_, IDC_AN_GLOBAL_ED, static_cast<UINT>(AcknowledgeRefresh(RefreshTarget::Analog, message)),
                      TRUE);
        return 0;
    case kRefreshAnalogExposure:
        SetDlgItemInt(window_, IDC_AN_EXPOSURE_ED,
                      static_cast<UINT>(AcknowledgeRefresh(RefreshTarget::Analog, message)), TRUE);
        return 0;
    case WM_DESTROY:
        DetachRefreshWindow(RefreshTarget::Analog, window);
        ready_ = 0;
        window_ = nullptr;
        return 0;
    default:
        return 0;
    }
}

// ---- frame

AnalogFrame::AnalogFrame(CTovira& camera) : camera_(camera), page_(camera) { claimed_ = Claim(this); }

AnalogFrame::~AnalogFrame() {
    if (!claimed_) return;
    AnalogPage::Release(&page_);
    Release(this);
}

INT_PTR AnalogFrame::Show(HWND owner) {
    if (!claimed_) return -1;
    return ShowModalFrame(IDD_ANALOG_JA, IDD_ANALOG_EN, owner, &AnalogFrame::Procedure);
}

INT_PTR AnalogFrame::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        window_ = window;
        HWND tab = GetDlgItem(window, IDC_TAB);
        InsertTab(tab, 0, "Analog Gain");
        PlacePage(page_.Create(tab), true);
        return 0;
    }
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->code == static_cast<UINT>(TCN_SELCHANGE))
            SwitchPages(GetDlgItem(window, IDC_TAB), page_.Window(), nullptr);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            page_.Commit(1);
            EndDialog(window, 1);
            break;
        case IDCANCEL:
            EndDialog(window, 2);
            break;
        case IDC_DEFAULT: {
            camera_.globalGain = camera_.colorGainGreen1 = camera_.colorGainRed = camera_.colorGainBlue =
                camera_.colorGainGreen2 = 64;
            camera_.exposureLines = 2748;
            if (CToviraZ400KXSdk* device = camera_.device) {
                device->SetGlobalGain(64);
                for (int reg : {kRegGreen1, kRegRed, kRegBlue, kRegGreen2}) device->SetColorGain(reg, 64);
                device->SetExposure(2748);
            }
            page_.Commit(0);
            break;
        }
        default:
            break;
        }
        return 0;
    default:
        return 0;
    }
}

}  // namespace tovira
