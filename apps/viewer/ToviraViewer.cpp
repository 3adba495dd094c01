// tovira_viewer: a GUI sample for the Z400KX SDK.
//
// Live preview in the client area (the SDK's preview as a child window), the three settings dialogs from
// the menu, a snapshot saved with Save As (the file type follows the chosen filter), recording for a few
// seconds, and a status bar with the frame rate from WM_TOVIRA_FRAME and the last WM_TOVIRA_ERROR.
// Without a camera, set TOVIRA_VIRTUAL_CAMERAS=0 to use the SDK's virtual camera.

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>

#include "ToviraSdk_Z400KX.h"
#include "../console/ErrorNames.h"
#include "SaveFileType.h"
#include "ViewerCommands.h"

namespace {


// The SDK gives its child preview window this identifier.
constexpr int kPreviewChildId = 6540;

int g_camera = 0;
HWND g_status = nullptr;
int g_frames = 0;
int g_lastRate = 0;
int g_lastError = 0;             // newest code from WM_TOVIRA_ERROR or a failed call; 0 none
const char* g_note = "";         // shown after the error part, e.g. the first run

void UpdateStatus(HWND window) {
    char text[384];
    if (g_lastError > 0)
        std::snprintf(text, sizeof text, "%.1f fps  |  %d frames  |  last error %d: %s (%s)%s", g_lastRate / 10.0,
                      g_frames, g_lastError, ToviraErrorMeaning(g_lastError), ToviraErrorName(g_lastError), g_note);
    else
        std::snprintf(text, sizeof text, "%.1f fps  |  %d frames  |  no error%s", g_lastRate / 10.0, g_frames, g_note);
    SendMessageA(g_status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

// Tovira_Initialize reports a first run on this account (the registry defaults were just created) as
// error 12, in the history and as a WM_TOVIRA_ERROR already queued for this window. That is expected
// once per account, so it becomes a note; any other code it reported stays as the last error.
void TakeInitializationErrors(HWND window) {
    bool firstRun = false;
    for (int i = 0; i < 20; ++i) {
        const int code = Tovira_GetLastError(g_camera);
        if (code == 0) break;
        if (code == TOVIRA_ERR_STORAGE) firstRun = true;
        else if (g_lastError == 0) g_lastError = code;  // the newest comes first
    }
    MSG queued;
    while (PeekMessageA(&queued, window, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE)) {
    }
    if (firstRun) g_note = "  |  first run: default settings created";
}

RECT PreviewArea(HWND window) {
    RECT client, bar;
    GetClientRect(window, &client);
    GetWindowRect(g_status, &bar);
    client.bottom -= bar.bottom - bar.top;
    if (client.bottom < 0) client.bottom = 0;
    return client;
}

void StartPreview(HWND window) {
    const RECT area = PreviewArea(window);
    // The rectangle's right and bottom are the child's width and height.
    Tovira_SetPreviewWindow(g_camera, window, 0, 0, area.right, area.bottom);
    if (!Tovira_CallBackPreview(g_camera, window, nullptr, 0, 0)) {
        g_lastError = Tovira_GetLastError(g_camera);
        UpdateStatus(window);
    }
}

void StopPreview() {
    Tovira_StopPreview(g_camera);
    Tovira_Close(g_camera);
}

void SaveSnapshot(HWND window) {
    char file[MAX_PATH] = "snapshot.bmp";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    // The filter index (1-based) minus one is the SDK's file type; a typed extension overrides it.
    ofn.lpstrFilter =
        "BMP\0*.bmp\0Raw\0*.raw\0JPEG quality 100\0*.jpg\0JPEG quality 70\0*.jpg\0JPEG quality 20\0*.jpg\0"
        "PNG\0*.png\0TIFF\0*.tif\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameA(&ofn)) return;
    if (!Tovira_SaveImage(g_camera, file, SaveFileTypeFor(file, static_cast<int>(ofn.nFilterIndex)))) {
        g_lastError = Tovira_GetLastError(g_camera);
        MessageBoxA(window, "The image could not be saved.", "Snapshot", MB_ICONERROR);
    }
    UpdateStatus(window);
}

void Record(HWND window, int seconds) {
    char file[MAX_PATH] = "recording.avi";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = "AVI\0*.avi\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameA(&ofn)) return;
    StopPreview();
    const RECT area = PreviewArea(window);
    Tovira_SetPreviewWindow(g_camera, window, 0, 0, area.right, area.bottom);
    if (!Tovira_Record(g_camera, file, seconds * 1000, 1)) {
        g_lastError = Tovira_GetLastError(g_camera);
        UpdateStatus(window);
    }
}

void SetMode(HWND window, int bits) {
    StopPreview();
    Tovira_SetColorMode(g_camera, bits);
    StartPreview(window);
}

HMENU BuildMenu() {
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, kSnapshot, "&Snapshot and Save As...");
    AppendMenuA(file, MF_STRING, kRecord5, "&Record 5 seconds...");
    AppendMenuA(file, MF_STRING, kRecord10, "Record &10 seconds...");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, kExit, "E&xit");
    HMENU view = CreatePopupMenu();
    AppendMenuA(view, MF_STRING, kStart, "&Start preview");
    AppendMenuA(view, MF_STRING, kStop, "S&top preview");
    AppendMenuA(view, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(view, MF_STRING, kMode8, "8-bit &grey");
    AppendMenuA(view, MF_STRING, kMode24, "&24-bit colour");
    AppendMenuA(view, MF_STRING, kMode48, "&48-bit colour");
    HMENU settings = CreatePopupMenu();
    AppendMenuA(settings, MF_STRING, kCameraDialog, "&Camera...");
    AppendMenuA(settings, MF_STRING, kAnalogDialog, "&Analogue...");
    AppendMenuA(settings, MF_STRING, kImageDialog, "&Image...");
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), "&View");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(settings), "&Settings");
    return bar;
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        return 0;
    case WM_SIZE: {
        SendMessageA(g_status, WM_SIZE, 0, 0);
        const RECT area = PreviewArea(window);
        if (HWND preview = GetDlgItem(window, kPreviewChildId)) MoveWindow(preview, 0, 0, area.right, area.bottom, TRUE);
        return 0;
    }
    case WM_TOVIRA_FRAME:
        if (lParam == 0 && wParam) {
            ++g_frames;
            g_lastRate = reinterpret_cast<const TOVIRA_FRAME_INFO*>(wParam)->frameRate;
        }
        UpdateStatus(window);
        return 0;
    case WM_TOVIRA_ERROR:
        if (lParam != 0) g_lastError = static_cast<int>(lParam);  // 0 reports that nothing failed
        UpdateStatus(window);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kSnapshot: SaveSnapshot(window); break;
        case kRecord5: Record(window, 5); break;
        case kRecord10: Record(window, 10); break;
        case kExit: DestroyWindow(window); break;
        case kStart: StartPreview(window); break;
        case kStop: StopPreview(); break;
        case kMode8: SetMode(window, 8); break;
        case kMode24: SetMode(window, 24); break;
        case kMode48: SetMode(window, 48); break;
        case kCameraDialog: Tovira_SetCameraDlg(g_camera, window); break;
        case kAnalogDialog: Tovira_SetAnalogDlg(g_camera, window); break;
        case kImageDialog: Tovira_SetImageDlg(g_camera, window); break;
        }
        return 0;
    case WM_DESTROY:
        StopPreview();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // The SDK's dialogs use tab, trackbar and up-down controls; the host initialises them.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                                          ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
    wc.lpszClassName = "ToviraViewer";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Z400KX viewer", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 980, 760, nullptr, BuildMenu(), instance, nullptr);
    if (!window) return 1;

    g_camera = Tovira_Initialize(window);
    if (!g_camera) {
        MessageBoxA(window, "The SDK could not be initialised.", "Z400KX viewer", MB_ICONERROR);
        return 1;
    }
    TakeInitializationErrors(window);
    Tovira_SetColorMode(g_camera, 24);
    // The sub-sampling stays the stored one: the camera dialog shows and changes the stored values, so
    // what it shows is what streams (1/2 Skip there gives a smoother preview).
    ShowWindow(window, show);
    UpdateStatus(window);
    UpdateWindow(window);
    StartPreview(window);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Tovira_Release(g_camera);
    return 0;
}
