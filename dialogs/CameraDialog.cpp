// The camera dialog: registry load and save, lists, custom presets, Apply.

#include "dialogs/CameraDialog.h"

#include <cstdio>

#include "camera/RegistryKey.h"
#include "dialogs/resource.h"

namespace tovira {

namespace {

constexpr const char* kPresetValues[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};

void PresetName(int number, char (&name)[16]) { std::snprintf(name, sizeof name, "Size_%02d", number); }

void PresetText(const CapturePreset& preset, char (&text)[32]) {
    std::snprintf(text, sizeof text, "%d x %d", preset.effectiveWidth, preset.effectiveHeight);
}

int32_t* PresetFields(CapturePreset& p, int index) {
    int32_t* fields[7] = {&p.hTotal, &p.vTotal, &p.effectiveWidth, &p.effectiveHeight,
                          &p.hStart, &p.vStart, &p.bufferCount};
    return fields[index];
}

// List texts inserted at run time; the Japanese ones in code page 932.
constexpr const char* kColorEnglish[6] = {"Monochrome 8bit", "Monochrome 12bit *", "Color 24bit",
                                          "Color 32bit",     "Color 48bit *",      "Color 64bit *"};
constexpr const char* kColorJapanese[6] = {
    "\x94\x92\x8D\x95 8bit",                // 白黒 8bit
    "\x94\x92\x8D\x95 12bit \x81\xA6",      // 白黒 12bit ※
    "\x83J\x83\x89\x81[ 24bit",             // カラー 24bit
    "\x83J\x83\x89\x81[ 32bit",             // カラー 32bit
    "\x83J\x83\x89\x81[ 48bit \x81\xA6",    // カラー 48bit ※
    "\x83J\x83\x89\x81[ 64bit \x81\xA6",    // カラー 64bit ※
};
constexpr const char* kSubSampleTexts[3] = {"1/1", "1/2 Skip", "1/4 Skip"};
constexpr const char* kClockEnglish[2] = {"Nomal", "Half"};
constexpr const char* kClockJapanese[2] = {"\x95W\x8F\x80", "\x83n\x81[\x83t"};  // 標準, ハーフ
constexpr char kCustomEnglish[] = "Custom";
constexpr char kCustomJapanese[] = "\x83J\x83X\x83^\x83\x80";  // カスタム
constexpr char kTabEnglish[] = "Stream Format";
constexpr char kTabJapanese[] = "\x83X\x83g\x83\x8A\x81[\x83\x80\x8C`\x8E\xAE";  // ストリーム形式

void InsertListText(HWND dialog, int list, int position, const char* text) {
    SendDlgItemMessageA(dialog, list, CB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(text));
}
void SelectListEntry(HWND dialog, int list, int position) {
    SendDlgItemMessageA(dialog, list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}
int ListSelection(HWND dialog, int list) {
    return static_cast<int>(SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0));
}
void SetUnsigned(HWND dialog, int edit, int32_t value) { SetDlgItemInt(dialog, edit, static_cast<UINT>(value), FALSE); }
int32_t GetUnsigned(HWND dialog, int edit) {
    BOOL translated = FALSE;
    return static_cast<int32_t>(GetDlgItemInt(dialog, edit, &translated, FALSE));
}

}  // namespace

INT_PTR CameraDialog::Show(HWND owner) {
    if (!claimed_) return -1;
    return ShowModalFrame(IDD_CAMERA_JA, IDD_CAMERA_EN, owner, &CameraDialog::Procedure);
}

void CameraDialog::Load() {
    const RegistryKey key = OpenSettingsKey();
    if (!key) return;
    presetCount = 0;
    for (int n = 0; n < kMaxPresets; ++n) {
        char name[16];
        PresetName(n, name);
        const RegistryKey preset = key.openChild(name);
        if (!preset) break;
        // A missing value leaves the field as it was.
        for (int i = 0; i < 7; ++i) preset.readInt(kPresetValues[i], PresetFields(presets[n], i));
        presetCount = n + 1;
    }
    key.readInt("Size", &size);
    key.readInt("Color", &color);
    key.readInt("SubSample", &subSample);
    key.readInt("WaitTime", &waitTime);
    key.readInt("Clock", &clock);
}

void CameraDialog::Save() const {
    const RegistryKey key = CreateSettingsKey();
    if (!key) return;
    // Sub-keys at or above the preset count are left as they are.
    for (int n = 0; n < presetCount; ++n) {
        char name[16];
        PresetName(n, name);
        const RegistryKey preset = key.createChild(name);
        if (!preset) break;
        CapturePreset copy = presets[n];
        for (int i = 0; i < 7; ++i) preset.writeInt(kPresetValues[i], *PresetFields(copy, i));
    }
    key.writeInt("Size", size);
    key.writeInt("Color", color);
    key.writeInt("SubSample", subSample);
    key.writeInt("WaitTime", waitTime);
    key.writeInt("Clock", clock);
}

void CameraDialog::showPresetWindow(int preset, bool withVStart) {
    // A size outside the loaded presets (or the custom slot never loaded) shows zeros.
    CapturePreset shown;
    if (preset >= 0 && preset < kMaxPresets) shown = presets[preset];
    if (preset < 0 || preset >= presetCount) shown = CapturePreset{};
    SetUnsigned(window_, IDC_CAM_H_TOTAL, shown.hTotal);
    SetUnsigned(window_, IDC_CAM_V_TOTAL, shown.vTotal);
    SetUnsigned(window_, IDC_CAM_H_EFFECTIVE, shown.effectiveWidth);
    SetUnsigned(window_, IDC_CAM_V_EFFECTIVE, shown.effectiveHeight);
    SetUnsigned(window_, IDC_CAM_H_START, shown.hStart);
    if (withVStart) SetUnsigned(window_, IDC_CAM_V_START, shown.vStart);
}

void CameraDialog::setApplyEnabled(bool enabled) { EnableWindow(GetDlgItem(window_, IDC_APPLY), enabled); }

void CameraDialog::initialise() {
    Load();
    const bool japanese = SystemIsJapanese();
    InsertTab(GetDlgItem(window_, IDC_TAB), 0, japanese ? kTabJapanese : kTabEnglish);

    for (int i = 0; i < 6; ++i) InsertListText(window_, IDC_CAM_COLOR, i, japanese ? kColorJapanese[i] : kColorEnglish[i]);
    SelectListEntry(window_, IDC_CAM_COLOR, color);

    for (int i = 0; i < 3; ++i) InsertListText(window_, IDC_CAM_SUBSAMPLE, i, kSubSampleTexts[i]);
    // The skip codes 16 and 17 have no entry of their own: the selection stays empty.
    SelectListEntry(window_, IDC_CAM_SUBSAMPLE, subSample == 16 ? 3 : subSample == 17 ? 4 : subSample);

    for (int i = 0; i < 2; ++i) InsertListText(window_, IDC_CAM_CLOCK, i, japanese ? kClockJapanese[i] : kClockEnglish[i]);
    SelectListEntry(window_, IDC_CAM_CLOCK, clock);

    for (int n = 0; n < presetCount; ++n) {
        char text[32];
        PresetText(presets[n], text);
        InsertListText(window_, IDC_CAM_SIZE, n, text);
    }
    InsertListText(window_, IDC_CAM_SIZE, presetCount, japanese ? kCustomJapanese : kCustomEnglish);
    SelectListEntry(window_, IDC_CAM_SIZE, size);

    showPresetWindow(size, true);
    SetUnsigned(window_, IDC_CAM_WAIT_TIME, waitTime);
    setApplyEnabled(false);
}

void CameraDialog::ReadControls() {
    const int previousSize = size;
    auto take = [this](int list, int& field) {
        const int selection = ListSelection(window_, list);
        if (selection != CB_ERR) field = selection;
    };
    take(IDC_CAM_COLOR, color);
    take(IDC_CAM_SIZE, size);
    take(IDC_CAM_SUBSAMPLE, subSample);
    take(IDC_CAM_CLOCK, clock);
    waitTime = GetUnsigned(window_, IDC_CAM_WAIT_TIME);
    if (subSample == 3) subSample = 16;
    else if (subSample == 4) subSample = 17;

    CapturePreset edited;
    edited.hTotal = GetUnsigned(window_, IDC_CAM_H_TOTAL);
    edited.vTotal = GetUnsigned(window_, IDC_CAM_V_TOTAL);
    edited.effectiveWidth = GetUnsigned(window_, IDC_CAM_H_EFFECTIVE);
    edited.effectiveHeight = GetUnsigned(window_, IDC_CAM_V_EFFECTIVE);
    edited.hStart = GetUnsigned(window_, IDC_CAM_H_START);
    edited.vStart = GetUnsigned(window_, IDC_CAM_V_START);

    if (size == presetCount) {
        if (presetCount < kMaxPresets) {
            // The custom entry becomes a new preset, listed just before the custom entry.
            edited.bufferCount = presets[presetCount].bufferCount;
            presets[presetCount] = edited;
            char text[32];
            PresetText(edited, text);
            InsertListText(window_, IDC_CAM_SIZE, presetCount, text);
            SelectListEntry(window_, IDC_CAM_SIZE, presetCount);
            ++presetCount;
        } else {
            // All 100 presets exist: nothing is replaced or added, and the preset in use stays.
            size = previousSize;
        }
    } else if (size >= 0 && size < presetCount) {
        edited.bufferCount = presets[size].bufferCount;
        presets[size] = edited;
        char text[32];
        PresetText(edited, text);
        SendDlgItemMessageA(window_, IDC_CAM_SIZE, CB_DELETESTRING, static_cast<WPARAM>(size), 0);
        InsertListText(window_, IDC_CAM_SIZE, size, text);
        SelectListEntry(window_, IDC_CAM_SIZE, size);
    }
    setApplyEnabled(false);
}

void CameraDialog::command(int id, int code) {
    switch (id) {
    case IDOK:
        ReadControls();
        Save();
        EndDialog(window_, 1);
        return;
    case IDCANCEL:
        EndDialog(window_, 2);
        return;
    case IDC_APPLY:
        ReadControls();
        Save();
        return;
    default:
        break;
    }
    if (code == CBN_SELCHANGE) {
        if (id == IDC_CAM_SIZE) {
            // The size itself is taken when the controls are read, so that a custom entry that
            // cannot be added (100 presets) leaves the preset in use as it was.
            const int selection = ListSelection(window_, IDC_CAM_SIZE);
            // The custom entry keeps the edit boxes: the user starts from the window last shown.
            if (selection != CB_ERR && selection < presetCount) showPresetWindow(selection, true);
        }
        setApplyEnabled(true);
    } else if (code == EN_CHANGE) {
        setApplyEnabled(true);
    }
}

INT_PTR CameraDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        window_ = window;
        initialise();
        return 0;
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC: {
        // The labels and group boxes sit on the tab control's pane, not on the dialog's background:
        // they draw transparently so the pane shows through. Read-only edit boxes keep their colours.
        char className[16] = {};
        GetClassNameA(reinterpret_cast<HWND>(lParam), className, sizeof className);
        if (lstrcmpiA(className, "Edit") == 0) return 0;
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    default:
        return 0;
    }
}

}  // namespace tovira
