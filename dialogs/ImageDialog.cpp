// The image dialog's frame and its two pages.

#include "dialogs/ImageDialog.h"

#include <commctrl.h>

#include "camera/ImageParameters.h"
#include "dialogs/DialogRefresh.h"
#include "dialogs/resource.h"

class CTovira;

namespace tovira {

namespace {

struct FilterTriplet {
    int trackbar, edit, upDown, minimum, maximum, tickFrequency;
    int32_t ImageParameters::*value;
};
constexpr FilterTriplet kFilterTriplets[9] = {
    {IDC_IM_BRIGHTNESS_TB, IDC_IM_BRIGHTNESS_ED, IDC_IM_BRIGHTNESS_UD, -255, 255, 64, &ImageParameters::brightness},
    {IDC_IM_CONTRAST_TB, IDC_IM_CONTRAST_ED, IDC_IM_CONTRAST_UD, -127, 127, 32, &ImageParameters::contrast},
    {IDC_IM_HUE_TB, IDC_IM_HUE_ED, IDC_IM_HUE_UD, -360, 360, 90, &ImageParameters::hue},
    {IDC_IM_SATURATION_TB, IDC_IM_SATURATION_ED, IDC_IM_SATURATION_UD, -255, 255, 64, &ImageParameters::saturation},
    {IDC_IM_SHARPNESS_TB, IDC_IM_SHARPNESS_ED, IDC_IM_SHARPNESS_UD, 0, 30, 4, &ImageParameters::sharpness},
    {IDC_IM_RED_TB, IDC_IM_RED_ED, IDC_IM_RED_UD, 0, 400, 32, &ImageParameters::bayerGainRed},
    {IDC_IM_GREEN_TB, IDC_IM_GREEN_ED, IDC_IM_GREEN_UD, 0, 400, 32, &ImageParameters::bayerGainGreen},
    {IDC_IM_BLUE_TB, IDC_IM_BLUE_ED, IDC_IM_BLUE_UD, 0, 400, 32, &ImageParameters::bayerGainBlue},
    {IDC_IM_GAMMA_TB, IDC_IM_GAMMA_ED, IDC_IM_GAMMA_UD, 0, 200, 32, &ImageParameters::gamma},
};

constexpr int kBayerRadios[4] = {IDC_IM_BAYER0, IDC_IM_BAYER1, IDC_IM_BAYER2, IDC_IM_BAYER3};
constexpr int kGrayModeRadios[3] = {IDC_GR_MODE_BAYER, IDC_GR_MODE_CONVERT, IDC_GR_MODE_GRAY};
// Grey page triplets: trackbar n, edit box n + 1, up-down n + 2; gains R, G1, G2, B then offsets.
constexpr int kGrayTrackbars[8] = {IDC_GR_GAIN_R_TB,   IDC_GR_GAIN_G1_TB,   IDC_GR_GAIN_G2_TB,   IDC_GR_GAIN_B_TB,
                                   IDC_GR_OFFSET_R_TB, IDC_GR_OFFSET_G1_TB, IDC_GR_OFFSET_G2_TB, IDC_GR_OFFSET_B_TB};

int32_t& GrayValue(ImageParameters& values, int index) {
    return index < 4 ? values.grayGain[index] : values.grayOffset[index - 4];
}

int IndexOf(const int* ids, int count, int id) {
    for (int i = 0; i < count; ++i)
        if (ids[i] == id) return i;
    return -1;
}

void CheckBayerRadio(HWND page, int bayerMode) {
    for (int i = 0; i < 4; ++i) SetChecked(page, kBayerRadios[i], i == bayerMode);
}

}  // namespace

ImageEnableFlags ImageEnableFlagsFor(int colorMode) {
    ImageEnableFlags flags;
    const bool monochrome = colorMode == 0 || colorMode == 1;
    if (monochrome) {
        for (int i : {2, 3, 5, 6, 7}) flags.triplet[i] = 0;
        flags.whiteBalance = 0;
        flags.grayPagePresent = 1;
    }
    return flags;
}

// ---- image-filter page

HWND ImageFilterPage::Create(HWND tab, const ImageEnableFlags& flags) {
    flags_ = flags;
    Claim(this);
    return CreatePage(IDD_IMAGE_FILTER_JA, IDD_IMAGE_FILTER_EN, tab, &ImageFilterPage::Procedure);
}

void ImageFilterPage::Commit(int flag) {
    if (!window_) return;
    // Showing the values is not a change: while the boxes are rewritten their notifications are not
    // taken over, so a refresh never writes a value back that the frame loop is replacing.
    const int wasReady = ready_;
    if (!flag) ready_ = 0;
    for (const FilterTriplet& t : kFilterTriplets) {
        if (flag) {
            values_.*t.value = ReadSignedInt(window_, t.edit);
        } else {
            MoveTrackbar(window_, t.trackbar, values_.*t.value);
            SetDlgItemInt(window_, t.edit, static_cast<UINT>(values_.*t.value), TRUE);
        }
    }
    if (flag) {
        // In the grey modes these radios are disabled and the grey page holds the Bayer choice (already
        // in values_): the stale boxes here must not overwrite it.
        if (flags_.whiteBalance != 0)
            for (int i = 0; i < 4; ++i)
                if (IsChecked(window_, kBayerRadios[i])) values_.bayerMode = i;  // none checked: unchanged
    } else {
        CheckBayerRadio(window_, values_.bayerMode);
    }
    ready_ = wasReady;
}

INT_PTR ImageFilterPage::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        window_ = window;
        ready_ = 0;
        for (int i = 0; i < 9; ++i) {
            const FilterTriplet& t = kFilterTriplets[i];
            SetupTriplet(window, t.trackbar, t.upDown, t.edit, t.minimum, t.maximum, values_.*t.value,
                         t.tickFrequency, flags_.triplet[i] != 0);
        }
        for (int id : {IDC_IM_ONCE, IDC_IM_ALL_FRAMES, IDC_IM_BAYER0, IDC_IM_BAYER1, IDC_IM_BAYER2, IDC_IM_BAYER3})
            EnableWindow(GetDlgItem(window, id), flags_.whiteBalance != 0);
        CheckBayerRadio(window, values_.bayerMode);
        ready_ = 1;
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == EN_CHANGE) {
            if (!ready_) return 0;
            for (const FilterTriplet& t : kFilterTriplets) {
                if (t.edit != id) continue;
                const int value = ReadSignedInt(window, id);
                values_.*t.value = value;
                MoveTrackbar(window, t.trackbar, value);
            }
        } else if (HIWORD(wParam) == BN_CLICKED) {
            const int radio = IndexOf(kBayerRadios, 4, id);
            if (radio >= 0) {
                values_.bayerMode = radio;
            } else if (id == IDC_IM_ALL_FRAMES) {
                values_.whiteBalanceAuto = IsChecked(window, IDC_IM_ALL_FRAMES) ? 1 : 0;
                values_.whiteBalanceOnce[0] = values_.whiteBalanceOnce[1] = 0;
            } else if (id == IDC_IM_ONCE) {
                values_.whiteBalanceAuto = 1;
                values_.whiteBalanceOnce[0] = values_.whiteBalanceOnce[1] = 1;
                SetChecked(window, IDC_IM_ALL_FRAMES, false);
            }
        }
        return 0;
    }
    case WM_HSCROLL: {
        const int id = lParam ? GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) : 0;
        for (const FilterTriplet& t : kFilterTriplets) {
            if (t.trackbar != id) continue;
            const int position = static_cast<int>(SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
            SetDlgItemInt(window, t.edit, static_cast<UINT>(position), TRUE);
            values_.*t.value = position;
        }
        return 0;
    }
    case WM_DESTROY:
        ready_ = 0;
        window_ = nullptr;
        return 0;
    default:
        return 0;
    }
}

// ---- grey-filter page

HWND GrayFilterPage::Create(HWND tab) {
    Claim(this);
    return CreatePage(IDD_GRAY_FILTER_JA, IDD_GRAY_FILTER_EN, tab, &GrayFilterPage::Procedure);
}

void GrayFilterPage::Commit(int flag) {
    if (!window_) return;
    const int wasReady = ready_;
    if (!flag) ready_ = 0;
    for (int i = 0; i < 8; ++i) {
        if (flag) {
            GrayValue(values_, i) = ReadSignedInt(window_, kGrayTrackbars[i] + 1);
        } else {
            MoveTrackbar(window_, kGrayTrackbars[i], GrayValue(values_, i));
            SetDlgItemInt(window_, kGrayTrackbars[i] + 1, static_cast<UINT>(GrayValue(values_, i)), TRUE);
        }
    }
    ready_ = wasReady;
}

INT_PTR GrayFilterPage::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        window_ = window;
        ready_ = 0;
        for (int i = 0; i < 8; ++i)
            SetupTriplet(window, kGrayTrackbars[i], kGrayTrackbars[i] + 2, kGrayTrackbars[i] + 1, 0, 255,
                         GrayValue(values_, i), 32, true);
        for (int i = 0; i < 3; ++i) SetChecked(window, kGrayModeRadios[i], i == values_.grayMode);
        CheckBayerRadio(window, values_.bayerMode);
        ready_ = 1;
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) == EN_CHANGE) {
            if (!ready_) return 0;
            for (int i = 0; i < 8; ++i) {
                if (kGrayTrackbars[i] + 1 != id) continue;
                const int value = ReadSignedInt(window, id);
                GrayValue(values_, i) = value;
                MoveTrackbar(window, kGrayTrackbars[i], value);
            }
        } else if (HIWORD(wParam) == BN_CLICKED) {
            const int radio = IndexOf(kBayerRadios, 4, id);
            const int mode = IndexOf(kGrayModeRadios, 3, id);
            if (radio >= 0) {
                values_.bayerMode = radio;
            } else if (mode >= 0) {
                values_.grayMode = mode;
            } else if (id == IDC_IM_ALL_FRAMES) {
                // -1 asks for a balance on every frame; the box's own state is not consulted.
                values_.grayBalanceRequest = values_.grayBalanceRequest == 0 ? -1 : 0;
            } else if (id == IDC_IM_ONCE) {
                values_.grayBalanceRequest = 1;
            }
        }
        return 0;
    }
    case WM_HSCROLL: {
        const int id = lParam ? GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) : 0;
        const int i = IndexOf(kGrayTrackbars, 8, id);
        if (i >= 0) {
            const int position = static_cast<int>(SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
            SetDlgItemInt(window, id + 1, static_cast<UINT>(position), TRUE);
            GrayValue(values_, i) = position;
        }
        return 0;
    }
    case WM_DESTROY:
        ready_ = 0;
        window_ = nullptr;
        return 0;
    default:
        return 0;
    }
}

// ---- frame

ImageFrame::ImageFrame(ImageParameters& values, const ImageEnableFlags& flags, void* camera)
    : values_(values), flags_(flags), camera_(camera), filterPage_(values), grayPage_(values) {
    claimed_ = Claim(this);
}

ImageFrame::~ImageFrame() {
    if (!claimed_) return;
    ImageFilterPage::Release(&filterPage_);
    GrayFilterPage::Release(&grayPage_);
    Release(this);
}

INT_PTR ImageFrame::Show(HWND owner) {
    if (!claimed_) return -1;
    return ShowModalFrame(IDD_IMAGE_JA, IDD_IMAGE_EN, owner, &ImageFrame::Procedure);
}

INT_PTR ImageFrame::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        window_ = window;
        HWND tab = GetDlgItem(window, IDC_TAB);
        InsertTab(tab, 0, "Image Filter");
        PlacePage(filterPage_.Create(tab, flags_), true);
        if (flags_.grayPagePresent) {
            InsertTab(tab, 1, "Gray Filter");
            PlacePage(grayPage_.Create(tab), false);
        }
        AttachRefreshWindow(RefreshTarget::Image, static_cast<CTovira*>(camera_), window);
        return 0;
    }
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->code == static_cast<UINT>(TCN_SELCHANGE))
            SwitchPages(GetDlgItem(window, IDC_TAB), filterPage_.Window(), grayPage_.Window());
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            filterPage_.Commit(1);
            if (flags_.grayPagePresent) grayPage_.Commit(1);
            EndDialog(window, 1);
            break;
        case IDCANCEL:
            EndDialog(window, 2);
            break;
        case IDC_DEFAULT:
            values_.brightness = values_.contrast = values_.hue = values_.saturation = values_.sharpness = 0;
            values_.bayerGainRed = values_.bayerGainGreen = values_.bayerGainBlue = values_.gamma = 100;
            values_.bayerMode = 3;
            filterPage_.Commit(0);
            if (flags_.grayPagePresent) {
                for (int i = 0; i < 4; ++i) values_.grayGain[i] = values_.grayOffset[i] = 128;
                grayPage_.Commit(0);
            }
            break;
        default:
            break;
        }
        return 0;
    case kRefreshImageValues:
        AcknowledgeRefresh(RefreshTarget::Image, message);
        filterPage_.Commit(0);
        grayPage_.Commit(0);  // nothing when the grey page is absent
        return 0;
    case WM_DESTROY:
        DetachRefreshWindow(RefreshTarget::Image, window);
        window_ = nullptr;
        return 0;
    default:
        return 0;
    }
}

}  // namespace tovira
