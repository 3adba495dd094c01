// Dialog framework: language, templates, tabs, pages and triplets.

#include "dialogs/DialogFramework.h"

#include <commctrl.h>

namespace tovira {

bool SystemIsJapanese() { return GetSystemDefaultLangID() == 1041; }

HMODULE LibraryModule() { return GetModuleHandleA("ToviraSdk_Z400KX.dll"); }

INT_PTR ShowModalFrame(int japanese, int english, HWND owner, DLGPROC procedure) {
    HMODULE module = LibraryModule();
    if (!module) return -1;
    return DialogBoxParamA(module, MAKEINTRESOURCEA(ChooseTemplate(japanese, english)), owner, procedure, 0);
}

HWND CreatePage(int japanese, int english, HWND tab, DLGPROC procedure) {
    HMODULE module = LibraryModule();
    if (!module) return nullptr;
    return CreateDialogParamA(module, MAKEINTRESOURCEA(ChooseTemplate(japanese, english)), tab, procedure, 0);
}

void InsertTab(HWND tab, int position, const char* text) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text);
    SendMessageA(tab, TCM_INSERTITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
}

void PlacePage(HWND page, bool shown) {
    if (!page) return;
    SetWindowPos(page, nullptr, 30, 25, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void SwitchPages(HWND tab, HWND first, HWND second) {
    const LRESULT selected = SendMessageA(tab, TCM_GETCURSEL, 0, 0);
    if (selected == 0) {
        if (first) ShowWindow(first, SW_SHOW);
        if (second) ShowWindow(second, SW_HIDE);
    } else if (selected == 1 && second) {
        if (first) ShowWindow(first, SW_HIDE);
        ShowWindow(second, SW_SHOW);
    }
}

void SetupTriplet(HWND dialog, int trackbar, int upDown, int edit, int minimum, int maximum, int value,
                  int tickFrequency, bool enable) {
    HWND bar = GetDlgItem(dialog, trackbar);
    HWND spin = GetDlgItem(dialog, upDown);
    HWND box = GetDlgItem(dialog, edit);
    SendMessageA(bar, TBM_SETRANGEMAX, TRUE, maximum);
    SendMessageA(bar, TBM_SETRANGEMIN, TRUE, minimum);
    SendMessageA(bar, TBM_SETPOS, TRUE, value);
    SendMessageA(bar, TBM_SETTICFREQ, static_cast<WPARAM>(tickFrequency), 0);
    SendMessageA(spin, UDM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
    SendMessageA(spin, UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(value & 0xFFFF), 0));
    SendMessageA(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(box), 0);
    SetDlgItemInt(dialog, edit, static_cast<UINT>(value), TRUE);
    EnableWindow(bar, enable);
    EnableWindow(spin, enable);
    EnableWindow(box, enable);
}

void MoveTrackbar(HWND dialog, int trackbar, int value) {
    SendDlgItemMessageA(dialog, trackbar, TBM_SETPOS, TRUE, value);
}

int ReadSignedInt(HWND dialog, int edit) {
    BOOL translated = FALSE;
    return static_cast<int>(GetDlgItemInt(dialog, edit, &translated, TRUE));
}

bool IsChecked(HWND dialog, int button) { return IsDlgButtonChecked(dialog, button) == BST_CHECKED; }

void SetChecked(HWND dialog, int button, bool checked) {
    CheckDlgButton(dialog, button, checked ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace tovira
