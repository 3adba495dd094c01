// The preview window opened on one thread and the handle released on another: the window goes with the
// release and its class is unregistered, so after FreeLibrary no window of the library is left whose
// window procedure would run in the unloaded code. The library is loaded as a private copy under
// another name, so it really unloads while the test program keeps its own import.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "CameraDllSupport.h"
#include "DllFile.h"

namespace {

struct UnloadableSdk {
    using InitializeFn = int(__cdecl*)(HWND);
    using HandleFn = int(__cdecl*)(int);
    HMODULE module = nullptr;
    InitializeFn initialize = nullptr;
    HandleFn preview = nullptr;
    HandleFn release = nullptr;
    std::string path;

    bool Load(const char* name) {
        char dir[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, dir);
        path = std::string(dir) + name;
        if (!CopyFileA(DllPath().c_str(), path.c_str(), FALSE)) return false;
        module = LoadLibraryA(path.c_str());
        if (!module) return false;
        initialize = reinterpret_cast<InitializeFn>(GetProcAddress(module, "Tovira_Initialize"));
        preview = reinterpret_cast<HandleFn>(GetProcAddress(module, "Tovira_Preview"));
        release = reinterpret_cast<HandleFn>(GetProcAddress(module, "Tovira_Release"));
        return initialize && preview && release;
    }
    void Unload() {
        if (module) FreeLibrary(module);
        module = nullptr;
        DeleteFileA(path.c_str());
    }
};

// The library's windows on this thread (their classes are named "VideoRenderer_...").
std::vector<HWND> SdkWindowsOfThisThread() {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            char name[64] = {};
            GetClassNameA(window, name, sizeof name);
            if (std::string(name).rfind("VideoRenderer_", 0) == 0)
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The library's windows on this thread that are not in `earlier`.
std::vector<HWND> NewWindows(const std::vector<HWND>& earlier) {
    std::vector<HWND> fresh;
    for (HWND w : SdkWindowsOfThisThread())
        if (std::find(earlier.begin(), earlier.end(), w) == earlier.end()) fresh.push_back(w);
    return fresh;
}

// Pumps this thread's messages until `thread` ended (a safety limit, not a timing check).
void PumpUntilEnded(HANDLE thread, DWORD limitMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        if (MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) return;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    }
}

using PreviewTeardown = ToviraHandleTest;

TEST_F(PreviewTeardown, ReleaseOnAnotherThreadDestroysTheWindowAndItsClassBeforeTheLibraryUnloads) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        UnloadableSdk sdk;
        ASSERT_TRUE(sdk.Load("ToviraTeardownCopy.dll"));
        const int h = sdk.initialize(nullptr);
        ASSERT_NE(h, 0);
        const std::vector<HWND> earlier = SdkWindowsOfThisThread();  // other tests' instances
        ASSERT_EQ(sdk.preview(h), 1);
        const std::vector<HWND> windows = NewWindows(earlier);
        ASSERT_EQ(windows.size(), 1u);
        char className[64] = {};
        GetClassNameA(windows[0], className, sizeof className);

        // This thread keeps taking messages, as an application's window thread does.
        std::pair<UnloadableSdk*, int> job{&sdk, h};
        HANDLE releaser = CreateThread(
            nullptr, 0, [](void* s) -> DWORD {
                auto* p = static_cast<std::pair<UnloadableSdk*, int>*>(s);
                return DWORD(p->first->release(p->second));
            },
            &job, 0, nullptr);
        ASSERT_NE(releaser, nullptr);
        PumpUntilEnded(releaser, 60000);
        DWORD released = 0;
        GetExitCodeThread(releaser, &released);
        CloseHandle(releaser);
        EXPECT_EQ(released, 1u);

        EXPECT_FALSE(IsWindow(windows[0]));
        EXPECT_TRUE(NewWindows(earlier).empty());
        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), className, &info)) << className;

        // Nothing of the library may run after it unloads; a leftover window would crash here.
        const bool leftover = IsWindow(windows[0]) != FALSE;
        sdk.Unload();
        if (!leftover) PumpFor(100);
    }
}

TEST_F(PreviewTeardown, AWindowWhoseThreadIsBusyDuringTheReleaseGoesAtItsNextMessageWithoutTheLibrary) {
    UnloadableSdk sdk;
    ASSERT_TRUE(sdk.Load("ToviraTeardownBusy.dll"));
    const int h = sdk.initialize(nullptr);
    ASSERT_NE(h, 0);
    const std::vector<HWND> earlier = SdkWindowsOfThisThread();
    ASSERT_EQ(sdk.preview(h), 1);
    const std::vector<HWND> windows = NewWindows(earlier);
    ASSERT_EQ(windows.size(), 1u);

    // This thread takes no messages while the other one releases.
    std::thread releaser([&] { EXPECT_EQ(sdk.release(h), 1); });
    releaser.join();
    sdk.Unload();
    // The window's procedure is no longer the library's: taking the messages now must not call into the
    // unloaded code, and the pending close destroys the window.
    PumpFor(300);
    EXPECT_FALSE(IsWindow(windows[0]));
}

}  // namespace
