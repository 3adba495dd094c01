// The instance's error history: 20 codes, newest first, popped by GetLastError, each posted to the
// notification window.

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "camera/Tovira.h"

namespace {

TEST(ErrorHistory, KeepsTheTwentyNewestCodes) {
    CTovira camera;
    EXPECT_EQ(camera.GetLastError(), 0);
    for (int code = 1; code <= 25; ++code) camera.RecordError(code);
    for (int expected = 25; expected >= 6; --expected) EXPECT_EQ(camera.GetLastError(), expected);
    EXPECT_EQ(camera.GetLastError(), 0);
    EXPECT_EQ(camera.GetLastError(), 0);
}

TEST(ErrorHistory, RepeatedCodesAreAllKept) {
    CTovira camera;
    camera.RecordError(8);
    camera.RecordError(8);
    EXPECT_EQ(camera.GetLastError(), 8);
    EXPECT_EQ(camera.GetLastError(), 8);
    EXPECT_EQ(camera.GetLastError(), 0);
}

TEST(ErrorHistory, PostsEachCodeToTheNotificationWindow) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraErrorHistoryTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    CTovira camera;
    camera.notifyWindow = window;
    camera.RecordError(7);
    camera.RecordError(-3);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE));
    EXPECT_EQ(msg.lParam, 7);
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE));
    EXPECT_EQ(msg.lParam, -3);  // sign-extended
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE));
    DestroyWindow(window);
    // A destroyed window: the post fails, the code stays in the history.
    camera.RecordError(4);
    EXPECT_EQ(camera.GetLastError(), 4);
}

TEST(ErrorHistory, PushesFromAnotherThreadAndPopsDoNotTear) {
    CTovira camera;
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) camera.RecordError(1 + i % 13);
    });
    for (int i = 0; i < 20000; ++i) {
        const int code = camera.GetLastError();
        ASSERT_GE(code, 0);
        ASSERT_LE(code, 13);
    }
    writer.join();
}

}  // namespace
