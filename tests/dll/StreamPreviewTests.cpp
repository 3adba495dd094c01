// The streamed picture as the preview window shows it, read back from the window: upright in the
// library's own window (client area = frame size) and in a child window that doubles it.

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// The client area of `window` as top-first rows of 24-bit pixels (stride rounded to 4).
std::vector<uint8_t> ReadBack(HWND window, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<uint8_t> out(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + size_t(StrideOf(width, 24)) * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return out;
}

HWND FindPreview(const char* title) {
    struct Search {
        const char* title;
        HWND found;
    } search{title, nullptr};
    auto visit = [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        char text[64] = {};
        GetWindowTextA(w, text, sizeof text);
        if (lstrcmpA(text, s->title) == 0) s->found = w;
        EnumChildWindows(w, [](HWND c, LPARAM q) -> BOOL {
            auto* s2 = reinterpret_cast<Search*>(q);
            char t[64] = {};
            GetWindowTextA(c, t, sizeof t);
            if (lstrcmpA(t, s2->title) == 0) s2->found = c;
            return TRUE;
        }, p);
        return TRUE;
    };
    EnumThreadWindows(GetCurrentThreadId(), visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class StreamPreview : public ::testing::Test {
protected:
    void SetUp() override {
        camera = OpenCamera(sink.window(), kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
        sink.pumpFor(30);
    }
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    // Streams a few frames, stops, and returns the last frame top first.
    std::vector<uint8_t> streamAndStop() {
        const size_t bytes = size_t(StrideOf(kWidth, 24)) * kHeight;
        std::vector<uint8_t> frame(bytes);
        EXPECT_EQ(Tovira_CallBackPreview(camera, sink.window(), nullptr, 0, 1), 1);
        size_t good = 0;
        sink.pumpUntil([&] { return good >= 3; }, 30000, [&](FrameMessage& f) { good += f.wParam != 0; });
        EXPECT_EQ(Tovira_StopPreview(camera), 1);  // the window stays with the last frame drawn
        sink.pumpFor(50);
        EXPECT_EQ(Tovira_GetImage(camera, frame.data(), int(bytes), 1), 1);
        return frame;
    }

    MessageSink sink;
    int camera = 0;
};

TEST_F(StreamPreview, OwnWindowShowsTheFrameUpright) {
    const std::vector<uint8_t> frame = streamAndStop();
    HWND preview = FindPreview("Active Window");
    ASSERT_NE(preview, nullptr);
    RECT client = {};
    GetClientRect(preview, &client);
    ASSERT_EQ(client.right, kWidth);
    ASSERT_EQ(client.bottom, kHeight);
    const std::vector<uint8_t> shown = ReadBack(preview, kWidth, kHeight);
    EXPECT_EQ(shown, frame);
    EXPECT_GE(FrameNumberOf(shown.data(), StrideOf(kWidth, 24), 24), 0);
    Tovira_Close(camera);
}

TEST_F(StreamPreview, ChildWindowShowsTheFrameUprightAndScaled) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraStreamPreviewParent";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 700, 500, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);
    ASSERT_EQ(Tovira_SetPreviewWindow(camera, parent, 10, 20, 2 * kWidth, 2 * kHeight), 1);
    const std::vector<uint8_t> frame = streamAndStop();
    HWND preview = FindPreview("ActiveMovie Window");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(GetParent(preview), parent);
    const std::vector<uint8_t> shown = ReadBack(preview, 2 * kWidth, 2 * kHeight);
    const int shownStride = StrideOf(2 * kWidth, 24), frameStride = StrideOf(kWidth, 24);
    int mismatches = 0;
    for (int y = 0; y < 2 * kHeight; y += 7)
        for (int x = 0; x < 2 * kWidth; x += 5)
            for (int c = 0; c < 3; ++c)
                mismatches += shown[size_t(y) * shownStride + x * 3 + c] != frame[size_t(y / 2) * frameStride + (x / 2) * 3 + c];
    EXPECT_EQ(mismatches, 0);
    Tovira_Close(camera);
    DestroyWindow(parent);
}

}  // namespace
