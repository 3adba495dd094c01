// The preview window: placement, class names, closing, and the picture read back from the screen.

#include <gtest/gtest.h>

#include <string>

#include "OutputTestSupport.h"
#include "output/PreviewWindow.h"

namespace {

using outtest::InstanceWithImages;

// Blue, green, red the screen should show for picture pixel (x, y) in colour mode `mode`.
void ExpectedColour(int mode, int x, int y, uint8_t bgr[3]) {
    for (int c = 0; c < 3; ++c) {
        switch (mode) {
            case 0: bgr[c] = static_cast<uint8_t>(outtest::Sample(x, y, 0, 8)); break;
            case 1: bgr[c] = static_cast<uint8_t>(outtest::Sample(x, y, 0, 12) >> 4); break;
            case 2: case 3: bgr[c] = static_cast<uint8_t>(outtest::Sample(x, y, c, 8)); break;
            default: bgr[c] = static_cast<uint8_t>(outtest::Sample(x, y, c, 12) >> 4); break;
        }
    }
}

class ParentWindow {
public:
    ParentWindow(int width, int height) {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = "OutputTestParent";
        RegisterClassExA(&wc);
        window = CreateWindowExA(0, "OutputTestParent", "parent", WS_POPUP | WS_VISIBLE, 50, 50, width, height,
                                 nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~ParentWindow() { DestroyWindow(window); }
    HWND window = nullptr;
};

class Preview : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(subject.instance, nullptr); }
    void TearDown() override { DestroyPreviewWindow(*subject.instance); }
    CTovira& instance() { return *subject.instance; }

    // Draws one frame of `mode` at width x height into the open preview and compares every pixel of the
    // client area with the picture, scaled nearest-neighbour where the sizes differ.
    void DrawAndCompare(int mode, int width, int height) {
        ASSERT_TRUE(subject.Prepare(mode, width, height));
        outtest::FillPattern(*subject.Output(mode));
        outtest::PumpMessages();  // let the window paint its background first
        ASSERT_EQ(DrawPreviewFrame(instance()), 1);
        GdiFlush();
        outtest::Capture capture;
        ASSERT_TRUE(outtest::CaptureClient(instance().previewWindow, capture));
        const float fx = static_cast<float>(width) / static_cast<float>(capture.width);
        const float fy = static_cast<float>(height) / static_cast<float>(capture.height);
        int mismatches = 0;
        for (int r = 0; r < capture.height; ++r) {
            // The display image is scaled bottom-up: window row r is display row H-1-r.
            const int sy = capture.height == height ? r
                                                    : height - 1 - static_cast<int>(static_cast<float>(capture.height - 1 - r) * fy);
            for (int k = 0; k < capture.width; ++k) {
                const int sx = capture.width == width ? k : static_cast<int>(static_cast<float>(k) * fx);
                uint8_t expected[3];
                ExpectedColour(mode, sx, sy, expected);
                const uint8_t* got = capture.Pixel(k, r);
                if (got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2]) {
                    if (++mismatches <= 5)
                        ADD_FAILURE() << "mode " << mode << " at (" << k << "," << r << "): got " << int(got[2])
                                      << "," << int(got[1]) << "," << int(got[0]) << " expected "
                                      << int(expected[2]) << "," << int(expected[1]) << "," << int(expected[0]);
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << "mode " << mode;
    }

    InstanceWithImages subject;
};

TEST_F(Preview, OwnWindowHasTheQuarterSizeClientCentredOnTheScreen) {
    instance().effectiveWidth = 3840;
    instance().effectiveHeight = 2748;
    instance().subSample = 2;
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    HWND window = instance().previewWindow;
    RECT client{}, outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    EXPECT_EQ(client.right, 960);
    EXPECT_EQ(client.bottom, 687);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & 0xFFFF0000u, 0x16CF0000u);
    EXPECT_EQ(GetParent(window), nullptr);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ(title, "Active Window");
    EXPECT_NE(instance().previewDc, nullptr);
}

TEST_F(Preview, OwnWindowLargerThanTheScreenStartsAtTheOrigin) {
    instance().effectiveWidth = 3840;
    instance().effectiveHeight = 2748;
    instance().subSample = 0;
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    RECT outer{};
    GetWindowRect(instance().previewWindow, &outer);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
}

TEST_F(Preview, ChildWindowTakesRightAndBottomAsItsSize) {
    ParentWindow parent(640, 480);
    ASSERT_NE(parent.window, nullptr);
    instance().previewParent = parent.window;
    instance().previewRect = RECT{10, 20, 320, 240};
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    HWND child = instance().previewWindow;
    EXPECT_EQ(GetParent(child), parent.window);
    EXPECT_EQ(GetDlgCtrlID(child), 6540);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent.window, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right - rect.left, 320);
    EXPECT_EQ(rect.bottom - rect.top, 240);
    char title[64] = {};
    GetWindowTextA(child, title, sizeof(title));
    EXPECT_STREQ(title, "ActiveMovie Window");
}

TEST_F(Preview, EveryOpeningRegistersItsOwnClassAndClosingUnregistersIt) {
    instance().effectiveWidth = 64;
    instance().effectiveHeight = 48;
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    const std::string first = instance().previewClassName;
    EXPECT_EQ(first.rfind("VideoRenderer_", 0), 0u) << first;
    EXPECT_EQ(first.size(), 14u + 8 + 1 + 8);

    InstanceWithImages other;
    other.instance->effectiveWidth = 64;
    other.instance->effectiveHeight = 48;
    ASSERT_EQ(OpenPreviewWindow(*other.instance), 1);
    EXPECT_NE(first, std::string(other.instance->previewClassName));
    DestroyPreviewWindow(*other.instance);

    // Re-opening replaces the earlier window instead of leaking it.
    HWND earlier = instance().previewWindow;
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    EXPECT_FALSE(IsWindow(earlier));
    const std::string second = instance().previewClassName;
    WNDCLASSEXA wc{sizeof(wc)};
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), first.c_str(), &wc));

    EXPECT_EQ(ClosePreviewWindow(instance()), 1);
    EXPECT_EQ(instance().previewWindow, nullptr);
    EXPECT_EQ(instance().previewDc, nullptr);
    EXPECT_EQ(instance().previewClassName[0], '\0');
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), second.c_str(), &wc));
    EXPECT_EQ(ClosePreviewWindow(instance()), 1);  // nothing left to release
    EXPECT_EQ(DrawPreviewFrame(instance()), 0);
}

TEST_F(Preview, ImageOfTheClientSizeIsShownUprightInEveryColourMode) {
    instance().effectiveWidth = 161;  // odd width: padded rows
    instance().effectiveHeight = 121;
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    RECT client{};
    GetClientRect(instance().previewWindow, &client);
    ASSERT_EQ(client.right, 161);
    ASSERT_EQ(client.bottom, 121);
    for (int mode = 0; mode < 6; ++mode) DrawAndCompare(mode, 161, 121);

    ParentWindow parent(200, 200);
    instance().previewParent = parent.window;
    instance().previewRect = RECT{3, 4, 67, 45};
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    for (int mode = 0; mode < 6; ++mode) DrawAndCompare(mode, 67, 45);
}

TEST_F(Preview, OtherClientSizesAreScaledToFillTheChildWindow) {
    ParentWindow parent(400, 300);
    instance().previewParent = parent.window;
    instance().previewRect = RECT{5, 7, 150, 91};  // enlarges x and y by different factors
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    for (int mode = 0; mode < 6; ++mode) DrawAndCompare(mode, 61, 40);
    instance().previewRect = RECT{0, 0, 32, 24};    // shrinks
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    DrawAndCompare(2, 64, 48);
    DrawAndCompare(0, 64, 48);
}

TEST_F(Preview, ResizingRecreatesTheDisplayImageOnceAtTheNewClientSize) {
    ParentWindow parent(400, 300);
    instance().previewParent = parent.window;
    instance().previewRect = RECT{0, 0, 100, 80};
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    DrawAndCompare(2, 50, 40);
    CDibImage* display = instance().displayImage;
    EXPECT_EQ(display->Width(), 100);
    EXPECT_EQ(display->Height(), 80);
    SetWindowPos(instance().previewWindow, nullptr, 0, 0, 120, 90, SWP_NOZORDER | SWP_NOMOVE);
    DrawAndCompare(2, 50, 40);
    EXPECT_EQ(display->Width(), 120);
    EXPECT_EQ(display->Height(), 90);
    const uint8_t* bits = display->Bits();
    DrawAndCompare(2, 50, 40);
    EXPECT_EQ(display->Bits(), bits);  // same size: kept
    DrawAndCompare(0, 50, 40);          // grey modes need an 8-bit display image
    EXPECT_EQ(display->BitCount(), 8);
}

TEST_F(Preview, HiddenOrZeroSizedWindowsDrawNothing) {
    ParentWindow parent(200, 200);
    instance().previewParent = parent.window;
    instance().previewRect = RECT{0, 0, 64, 48};
    ASSERT_EQ(OpenPreviewWindow(instance()), 1);
    ASSERT_TRUE(subject.Prepare(2, 64, 48));
    EXPECT_EQ(DrawPreviewFrame(instance()), 1);
    ShowWindow(instance().previewWindow, SW_HIDE);
    EXPECT_EQ(DrawPreviewFrame(instance()), 0);
    ShowWindow(instance().previewWindow, SW_SHOW);
    SetWindowPos(instance().previewWindow, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(DrawPreviewFrame(instance()), 0);
    // Images the colour mode needs but that were never made draw nothing either.
    subject.colorModeIndex(4);
    instance().colorImage48->Release();
    SetWindowPos(instance().previewWindow, nullptr, 0, 0, 64, 48, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(DrawPreviewFrame(instance()), 1);  // 24-bit image still holds the last picture
    instance().colorImage24->Release();
    EXPECT_EQ(DrawPreviewFrame(instance()), 0);
}

}  // namespace
