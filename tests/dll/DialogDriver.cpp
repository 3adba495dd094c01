// Driving and photographing the library's dialogs from the test thread.

#include "DialogDriver.h"

#include <commctrl.h>
#include <png.h>

#include <cstdio>
#include <memory>

namespace {

constexpr char kSettingsKey[] = "Software\\Brenik\\ToviraZ400KXSdk";

bool IsDialogClass(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770";
}

BOOL CALLBACK CollectFrame(HWND window, LPARAM list) {
    if (IsDialogClass(window) && IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectPage(HWND window, LPARAM context) {
    auto* pages = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(context);
    if (GetParent(window) == pages->first && IsDialogClass(window)) pages->second.push_back(window);
    return TRUE;
}

}  // namespace

DialogThread::DialogThread(std::function<int()> showDialog) : show_(std::move(showDialog)) {
    thread_ = CreateThread(nullptr, 0, &DialogThread::Main, this, 0, &threadId_);
}

DialogThread::~DialogThread() {
    if (!thread_) return;
    // A test that failed half-way leaves its dialog open: cancel it so the thread can end.
    for (HWND frame : Frames()) PostMessageA(frame, WM_COMMAND, IDCANCEL, 0);
    Finish();
    CloseHandle(thread_);
}

DWORD WINAPI DialogThread::Main(void* self) {
    auto* me = static_cast<DialogThread*>(self);
    InterlockedExchange(&me->result_, me->show_());
    return 0;
}

bool DialogThread::Finished() const { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }

std::vector<HWND> DialogThread::Frames() const {
    std::vector<HWND> frames;
    EnumThreadWindows(threadId_, &CollectFrame, reinterpret_cast<LPARAM>(&frames));
    return frames;
}

HWND DialogThread::WaitForFrame() {
    for (int i = 0; i < 1000; ++i) {
        const std::vector<HWND> frames = Frames();
        if (!frames.empty()) {
            PumpFor(50);  // let it finish painting
            return frames.front();
        }
        if (Finished()) return nullptr;
        PumpFor(10);
    }
    return nullptr;
}

int DialogThread::Finish() {
    const DWORD start = GetTickCount();
    while (!Finished()) {
        if (GetTickCount() - start > 20000) return -999;
        MsgWaitForMultipleObjects(1, &thread_, FALSE, 50, QS_ALLINPUT);
        PumpFor(0);
    }
    return static_cast<int>(result_);
}

void InitDialogControls() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (milliseconds) Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

HWND TabOf(HWND frame) { return GetDlgItem(frame, 1001); }

std::vector<HWND> PagesOf(HWND frame) {
    std::pair<HWND, std::vector<HWND>> pages{TabOf(frame), {}};
    EnumChildWindows(frame, &CollectPage, reinterpret_cast<LPARAM>(&pages));
    return pages.second;
}

int TabCount(HWND frame) { return static_cast<int>(SendMessageW(TabOf(frame), TCM_GETITEMCOUNT, 0, 0)); }

std::wstring TabText(HWND frame, int index) {
    wchar_t text[128] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(TabOf(frame), TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

void SelectTab(HWND frame, int index) {
    HWND tab = TabOf(frame);
    SendMessageW(tab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NMHDR header = {tab, 1001, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(frame, WM_NOTIFY, 1001, reinterpret_cast<LPARAM>(&header));
}

void MoveTrackbar(HWND page, int trackbar, int position) {
    HWND bar = GetDlgItem(page, trackbar);
    SendMessageW(bar, TBM_SETPOS, TRUE, position);
    SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(bar));
}

int TrackbarPosition(HWND page, int trackbar) {
    return static_cast<int>(SendDlgItemMessageW(page, trackbar, TBM_GETPOS, 0, 0));
}

void TypeNumber(HWND dialog, int edit, int value) { SetDlgItemInt(dialog, edit, static_cast<UINT>(value), TRUE); }

int NumberIn(HWND dialog, int edit) {
    BOOL ok = FALSE;
    return static_cast<int>(GetDlgItemInt(dialog, edit, &ok, TRUE));
}

void Click(HWND dialog, int button) { SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0); }

bool Checked(HWND dialog, int button) { return IsDlgButtonChecked(dialog, button) == BST_CHECKED; }

bool Enabled(HWND dialog, int control) { return IsWindowEnabled(GetDlgItem(dialog, control)) != FALSE; }

void ChooseListEntry(HWND dialog, int list, int index) {
    HWND box = GetDlgItem(dialog, list);
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

int ListSelection(HWND dialog, int list) {
    return static_cast<int>(SendDlgItemMessageW(dialog, list, CB_GETCURSEL, 0, 0));
}

std::vector<std::wstring> ListTexts(HWND dialog, int list) {
    std::vector<std::wstring> texts;
    const int count = static_cast<int>(SendDlgItemMessageW(dialog, list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        SendDlgItemMessageW(dialog, list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring ControlText(HWND dialog, int control) { return TextOf(GetDlgItem(dialog, control)); }

std::string SaveScreenshot(HWND window, const std::string& name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(150);
    RECT bounds;
    if (!GetWindowRect(window, &bounds)) return {};
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0) return {};

    HDC windowDc = GetWindowDC(window);
    if (!windowDc) return {};
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HGDIOBJ old = SelectObject(memoryDc, dib);
    const BOOL copied = BitBlt(memoryDc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(memoryDc, old);
    DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);

    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string directory(exe);
    directory = directory.substr(0, directory.find_last_of("\\/"));      // bin
    directory = directory.substr(0, directory.find_last_of("\\/")) + "\\screenshots";
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string path = directory + "\\" + name + ".png";

    bool written = false;
    FILE* file = copied ? std::fopen(path.c_str(), "wb") : nullptr;
    if (file) {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop pngInfo = png ? png_create_info_struct(png) : nullptr;
        if (pngInfo && !setjmp(png_jmpbuf(png))) {
            png_init_io(png, file);
            png_set_IHDR(png, pngInfo, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, pngInfo);
            png_set_bgr(png);  // DIB rows are blue, green, red
            const int stride = (width * 3 + 3) & ~3;
            for (int y = 0; y < height; ++y) png_write_row(png, static_cast<png_bytep>(bits) + y * stride);
            png_write_end(png, nullptr);
            written = true;
        }
        png_destroy_write_struct(&png, &pngInfo);
        std::fclose(file);
    }
    DeleteObject(dib);
    return written ? path : std::string();
}

void DeleteSettingsKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey); }

int ReadSetting(const char* subKey, const char* name) {
    std::string path = std::string(kSettingsKey) + (*subKey ? std::string("\\") + subKey : std::string());
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, &type, &value, &size) != ERROR_SUCCESS)
        return -12345;
    return static_cast<int>(value);
}

void WriteSetting(const char* subKey, const char* name, int value) {
    std::string path = std::string(kSettingsKey) + (*subKey ? std::string("\\") + subKey : std::string());
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    const DWORD v = static_cast<DWORD>(value);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    RegCloseKey(key);
}
