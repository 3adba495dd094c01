// The GUI sample as a person would use it: started as its own process, it shows live frames in its
// client area (read back from the screen) and its menu opens each settings dialog.

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "../../apps/viewer/ViewerCommands.h"
#include "CameraDllSupport.h"
#include "DllFile.h"

namespace {

struct FindArgs {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM lParam) {
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == args->pid && IsWindowVisible(hwnd) && std::string(cls) == args->className) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForWindow(DWORD pid, const char* className, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        FindArgs args{pid, className, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&args));
        if (args.found) return args.found;
        Sleep(50);
    }
    return nullptr;
}

std::string StatusText(HWND main) {
    HWND status = FindWindowExA(main, nullptr, "msctls_statusbar32", nullptr);
    char text[256] = {};
    if (status) SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

int FramesShown(HWND main) {
    const std::string text = StatusText(main);
    const size_t bar = text.find('|');
    if (bar == std::string::npos) return 0;
    return std::atoi(text.c_str() + bar + 1);
}

// Distinct colours in a screen rectangle, read from the desktop as a screenshot would.
size_t DistinctColours(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return 0;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::set<uint32_t> colours;
    const auto* px = static_cast<const uint32_t*>(bits);
    for (int i = 0; i < w * h; i += 7) colours.insert(px[i] & 0xFFFFFF);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return colours.size();
}

class Viewer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string exe = DllPath();
        exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "tovira_viewer.exe";
        STARTUPINFOA si = {sizeof si};
        ASSERT_TRUE(CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process))
            << exe;
        main = WaitForWindow(process.dwProcessId, "ToviraViewer", 20000);
        ASSERT_NE(main, nullptr) << "the viewer's window did not appear";
    }
    void TearDown() override {
        if (process.hProcess) {
            if (main) PostMessageA(main, WM_COMMAND, kExit, 0);
            if (WaitForSingleObject(process.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    bool WaitForFrames(int atLeast, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (FramesShown(main) >= atLeast) return true;
            Sleep(100);
        }
        return false;
    }
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;
};

TEST_F(Viewer, ShowsLiveFramesAndOpensEachDialogFromItsMenu) {
    ASSERT_TRUE(WaitForFrames(3, 30000)) << "status: " << StatusText(main);
    HWND preview = GetDlgItem(main, 6540);
    ASSERT_NE(preview, nullptr) << "no child preview window";
    RECT r;
    GetWindowRect(preview, &r);
    EXPECT_GT(r.right - r.left, 100);
    // The test scene has patches, a ramp and noise: a live picture has many colours, an empty preview one.
    EXPECT_GT(DistinctColours(r), 50u);

    for (int command : {kCameraDialog, kAnalogDialog, kImageDialog}) {
        PostMessageA(main, WM_COMMAND, command, 0);
        HWND dialog = WaitForWindow(process.dwProcessId, "#32770", 15000);
        ASSERT_NE(dialog, nullptr) << "menu command " << command << " opened no dialog";
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        const DWORD start = GetTickCount();
        while (IsWindow(dialog) && GetTickCount() - start < 10000) Sleep(50);
        EXPECT_FALSE(IsWindow(dialog)) << "dialog of command " << command << " did not close";
    }
    // After the camera dialog restarted it, the preview still runs.
    const int before = FramesShown(main);
    EXPECT_TRUE(WaitForFrames(before + 2, 20000)) << "status: " << StatusText(main);
}

// A first run on the account (no settings yet) is a note in the status bar, not a failure.
class ViewerFirstRun : public Viewer {
protected:
    void SetUp() override {
        DeleteToviraSettings();
        Viewer::SetUp();
    }
};

TEST_F(ViewerFirstRun, ShowsTheFirstRunAsANoteNotAsError12) {
    ASSERT_TRUE(WaitForFrames(2, 30000)) << "status: " << StatusText(main);
    const std::string status = StatusText(main);
    EXPECT_NE(status.find("no error"), std::string::npos) << status;
    EXPECT_NE(status.find("first run"), std::string::npos) << status;
    EXPECT_EQ(status.find("12"), std::string::npos) << status;
}

// Without a camera the preview cannot start (preparation records 2, the failed start 8 after it); the
// status bar shows the newest code in words, with its name.
class ViewerNoCamera : public Viewer {
protected:
    void SetUp() override {
        char saved[64] = {};
        const DWORD had = GetEnvironmentVariableA("TOVIRA_VIRTUAL_CAMERAS", saved, sizeof saved);
        SetEnvironmentVariableA("TOVIRA_VIRTUAL_CAMERAS", "none");  // inherited by the viewer only
        Viewer::SetUp();
        SetEnvironmentVariableA("TOVIRA_VIRTUAL_CAMERAS", had ? saved : nullptr);
    }
};

TEST_F(ViewerNoCamera, NamesTheErrorInTheStatusBar) {
    std::string status;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 20000) {
        status = StatusText(main);
        // Without a camera the start records 2, then 1, then 8; the bar shows each as it comes, so wait
        // for the last one.
        if (status.find("last error 8") != std::string::npos) break;
        Sleep(100);
    }
    EXPECT_NE(status.find("last error 8: a frame could not be read (TOVIRA_ERR_TRANSFER)"), std::string::npos)
        << status;
}

}  // namespace
