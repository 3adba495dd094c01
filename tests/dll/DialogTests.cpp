// The three settings dialogs through the DLL, shown on an application thread and driven from the test
// thread as a user would; checked against the instance (exports), the camera's registers (the virtual
// camera behind the sensor getters) and the registry.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "ToviraSdk_Z400KX.h"

namespace {

// Control identifiers, as the templates have them.
constexpr int kDefault = 3;
constexpr int kApply = 1002;
constexpr int kCamColor = 1009;
constexpr int kCamSize = 1010;
constexpr int kCamSubSample = 1012;
constexpr int kCamClock = 1014;
constexpr int kCamHTotal = 1039;
constexpr int kCamVTotal = 1040;
constexpr int kCamHEffective = 1041;
constexpr int kCamVEffective = 1042;
constexpr int kCamHStart = 1043;
constexpr int kCamVStart = 1044;
constexpr int kCamWait = 1045;
constexpr int kGlobalTb = 1013;
constexpr int kGlobalEd = 1015;
constexpr int kExposureTb = 1026;
constexpr int kExposureEd = 1027;
constexpr int kExposureMs = 1049;
constexpr int kMirrorV = 1028;
constexpr int kMirrorH = 1030;
constexpr int kAutoGain = 1036;
constexpr int kAutoExposure = 1037;
constexpr int kBrightnessTb = 2001;
constexpr int kBrightnessEd = 2002;
constexpr int kContrastEd = 2012;
constexpr int kOnce = 2074;
constexpr int kAllFrames = 1035;
constexpr int kBayer0 = 1029;
constexpr int kBayer1 = 1031;
constexpr int kBayer3 = 1033;
constexpr int kGrayGainREd = 2101;
constexpr int kGrayModeConvert = 1047;
constexpr int kColourGainEdits[4] = {1019, 1021, 1023, 1025};

int Filter(int h, int id) {
    int ok = 0;
    const int value = Tovira_GetFilterValue(h, id, &ok);
    EXPECT_EQ(ok, 1) << "filter " << id;
    return value;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitDialogControls();
        DeleteSettingsKey();
        h = Tovira_Initialize(nullptr);
        ASSERT_NE(h, 0);
    }
    void TearDown() override {
        if (h) Tovira_Release(h);
    }
    using Export = int (*)(int, HWND);
    // Shows a dialog on its own thread; frame is its window (null when it did not appear).
    std::unique_ptr<DialogThread> Open(Export show) {
        const int handle = h;
        auto thread = std::make_unique<DialogThread>([=] { return show(handle, nullptr); });
        frame = thread->WaitForFrame();
        return thread;
    }
    HWND Page(int index) {
        const std::vector<HWND> pages = PagesOf(frame);
        return index < static_cast<int>(pages.size()) ? pages[index] : nullptr;
    }
    int h = 0;
    HWND frame = nullptr;
};

// ---- image dialog

TEST_F(DialogTest, ImageMonochromeModeAddsGrayPageAndDisablesColourControls) {
    ASSERT_EQ(Tovira_SetColorMode(h, 8), 1);
    const int grayGainR = Filter(h, TOVIRA_FILTER_GRAY_GAIN_R);
    auto dialog = Open(&Tovira_SetImageDlg);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(TabCount(frame), 2);
    EXPECT_EQ(TabText(frame, 0), L"Image Filter");
    EXPECT_EQ(TabText(frame, 1), L"Gray Filter");
    HWND filter = Page(0), gray = Page(1);
    ASSERT_NE(gray, nullptr);
    EXPECT_TRUE(IsWindowVisible(filter));
    EXPECT_FALSE(IsWindowVisible(gray));

    for (int id : {2001, 2002, 2004, 2011, 2041, 2081, 2082}) EXPECT_TRUE(Enabled(filter, id)) << id;
    for (int id : {2021, 2022, 2024, 2031, 2051, 2062, 2063, 2072, kOnce, kAllFrames, kBayer0, kBayer3})
        EXPECT_FALSE(Enabled(filter, id)) << id;

    SelectTab(frame, 1);
    EXPECT_FALSE(IsWindowVisible(filter));
    EXPECT_TRUE(IsWindowVisible(gray));
    SelectTab(frame, 0);
    EXPECT_TRUE(IsWindowVisible(filter));
    EXPECT_FALSE(IsWindowVisible(gray));
    SelectTab(frame, 1);

    // "All frames" toggles the grey balance between every frame (-1) and off, whatever the box shows.
    Click(gray, kAllFrames);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_BALANCE), -1);
    Click(gray, kAllFrames);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_BALANCE), 0);
    TypeNumber(gray, kGrayGainREd, 77);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_GAIN_R), 77);
    EXPECT_EQ(TrackbarPosition(gray, 2100), 77);
    Click(gray, kGrayModeConvert);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_MODE), 1);

    Click(frame, IDCANCEL);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_GAIN_R), grayGainR);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_MODE), 0);
}

TEST_F(DialogTest, ImageColourModeEditsLiveAndCancelRestores) {
    ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
    auto dialog = Open(&Tovira_SetImageDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(TabCount(frame), 1);
    EXPECT_EQ(PagesOf(frame).size(), 1u);
    HWND page = Page(0);
    for (int tb : {2001, 2011, 2021, 2031, 2041, 2051, 2061, 2071, 2081}) EXPECT_TRUE(Enabled(page, tb)) << tb;
    for (int id : {kOnce, kAllFrames, kBayer0, kBayer1, 1032, kBayer3}) EXPECT_TRUE(Enabled(page, id)) << id;
    EXPECT_TRUE(Checked(page, kBayer3));

    // A trackbar changes the value at once (the running pipeline reads it on the next frame).
    MoveTrackbar(page, kBrightnessTb, 100);
    EXPECT_EQ(NumberIn(page, kBrightnessEd), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 100);
    // Typed values are taken as typed; the trackbar stops at its end.
    TypeNumber(page, kBrightnessEd, 999);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 999);
    EXPECT_EQ(TrackbarPosition(page, kBrightnessTb), 255);

    Click(page, kAllFrames);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_AUTO), 1);
    Click(page, kAllFrames);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_AUTO), 0);
    Click(page, kAllFrames);
    Click(page, kOnce);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_AUTO), 1);
    EXPECT_FALSE(Checked(page, kAllFrames));
    Click(page, kBayer1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 1);

    Click(frame, IDCANCEL);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 3);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_AUTO), 0);
}

TEST_F(DialogTest, ImageDefaultResetsFiltersLeavesGreyValuesAndOkKeeps) {
    ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_BRIGHTNESS, 40), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_BAYER_GAIN_RED, 250), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_GAMMA, 150), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_BAYER_MODE, 0), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_GRAY_GAIN_R, 50), 1);
    auto dialog = Open(&Tovira_SetImageDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    EXPECT_EQ(NumberIn(page, kBrightnessEd), 40);
    EXPECT_TRUE(Checked(page, kBayer0));

    Click(frame, kDefault);
    EXPECT_NE(dialog->Frames().size(), 0u);  // the dialog stays open
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_GAIN_RED), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GAMMA), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 3);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GRAY_GAIN_R), 50);
    EXPECT_EQ(NumberIn(page, 2052), 100);
    EXPECT_EQ(TrackbarPosition(page, 2081), 100);
    EXPECT_TRUE(Checked(page, kBayer3));
    EXPECT_FALSE(Checked(page, kBayer0));

    TypeNumber(page, kContrastEd, 20);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_CONTRAST), 20);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 0);
}

// ---- analogue dialog

TEST_F(DialogTest, AnalogGlobalGainMovesColourGainsAndCameraGetsLimitedValues) {
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(TabText(frame, 0), L"Analog Gain");
    HWND page = Page(0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(NumberIn(page, kGlobalEd), 64);
    EXPECT_EQ(NumberIn(page, kExposureEd), 2748);

    MoveTrackbar(page, kGlobalTb, 100);
    for (int edit : kColourGainEdits) EXPECT_EQ(NumberIn(page, edit), 100) << edit;
    EXPECT_EQ(TrackbarPosition(page, 1020), 100);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 100);
    for (int id : {TOVIRA_FILTER_COLOR_GAIN_RED, TOVIRA_FILTER_COLOR_GAIN_GREEN1, TOVIRA_FILTER_COLOR_GAIN_GREEN2,
                   TOVIRA_FILTER_COLOR_GAIN_BLUE})
        EXPECT_EQ(Filter(h, id), 100) << id;

    // 200 stays in the edit box; the sensor gets the largest gain it takes.
    TypeNumber(page, kGlobalEd, 200);
    EXPECT_EQ(NumberIn(page, kGlobalEd), 200);
    EXPECT_EQ(TrackbarPosition(page, kGlobalTb), 127);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 127);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_RED), 127);
    TypeNumber(page, kExposureEd, 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 1);

    // The two auto-iris boxes exclude each other.
    Click(page, kAutoGain);
    EXPECT_EQ(Tovira_GetAutoIris(h, nullptr), 2);
    Click(page, kAutoExposure);
    EXPECT_FALSE(Checked(page, kAutoGain));
    EXPECT_EQ(Tovira_GetAutoIris(h, nullptr), 1);
    Click(page, kAutoExposure);
    EXPECT_EQ(Tovira_GetAutoIris(h, nullptr), 0);

    TypeNumber(page, kGlobalEd, 90);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 90);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_BLUE), 90);
}

TEST_F(DialogTest, AnalogMirrorsToggleBayerModeAndCancelRestoresCamera) {
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_BAYER_MODE, 0), 1);
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    Click(page, kMirrorV);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 1);
    EXPECT_EQ(Tovira_GetMirrorV(h), 1);
    Click(page, kMirrorH);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 3);
    EXPECT_EQ(Tovira_GetMirrorH(h), 1);

    TypeNumber(page, kExposureEd, 1000);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 1000);
    EXPECT_EQ(TrackbarPosition(page, kExposureTb), 1000);
    const std::wstring label = ControlText(page, kExposureMs);
    EXPECT_EQ(label.substr(0, 1), L"=");
    EXPECT_EQ(label.substr(label.size() - 2), L"ms");

    Click(frame, IDCANCEL);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 2748);
    EXPECT_EQ(Tovira_GetMirrorV(h), 0);
    EXPECT_EQ(Tovira_GetMirrorH(h), 0);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BAYER_MODE), 0);
}

TEST_F(DialogTest, AnalogDefaultResetsGainsAndExposureButNotMirrors) {
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    TypeNumber(page, kGlobalEd, 30);
    TypeNumber(page, kExposureEd, 500);
    Click(page, kMirrorV);
    Click(frame, kDefault);
    EXPECT_EQ(NumberIn(page, kGlobalEd), 64);
    EXPECT_EQ(NumberIn(page, 1021), 64);
    EXPECT_EQ(NumberIn(page, kExposureEd), 2748);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_GLOBAL_GAIN), 64);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_GREEN2), 64);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), 2748);
    EXPECT_TRUE(Checked(page, kMirrorV));
    EXPECT_EQ(Tovira_GetMirrorV(h), 1);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Tovira_GetMirrorV(h), 1);
}

TEST_F(DialogTest, AnalogPageFillsItsControlsWithoutTakingThemOver) {
    // While the page fills its boxes, the global gain box must not push its value into the colour gains.
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_COLOR_GAIN_RED, 20), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_COLOR_GAIN_BLUE, 30), 1);
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    EXPECT_EQ(NumberIn(page, kGlobalEd), 64);
    EXPECT_EQ(NumberIn(page, 1021), 20);
    EXPECT_EQ(NumberIn(page, 1023), 30);
    EXPECT_EQ(TrackbarPosition(page, 1022), 30);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_RED), 20);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_BLUE), 30);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_COLOR_GAIN_RED), 20);
}

TEST_F(DialogTest, AnalogPageFollowsTheAutoIrisOfARunningPreview) {
    // A very short exposure is far too dark for the auto iris, which lengthens it frame by frame; the
    // open page shows each new exposure the frame loop sets.
    ASSERT_EQ(Tovira_SetCaptureWindow(h, 3840, 2748), 1);
    ASSERT_EQ(Tovira_SetFilterValue(h, TOVIRA_FILTER_EXPOSURE_TIME, 20), 1);
    ASSERT_EQ(Tovira_Preview(h), 1);
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    EXPECT_EQ(NumberIn(page, kExposureEd), 20);
    Click(page, kAutoExposure);
    int shown = 20;
    for (int i = 0; i < 1000 && shown <= 20; ++i) {
        PumpFor(10);
        shown = NumberIn(page, kExposureEd);
    }
    EXPECT_GT(shown, 20);
    Click(page, kAutoExposure);  // off again: the page and the camera settle on the same exposure
    PumpFor(300);
    const int last = NumberIn(page, kExposureEd);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_EXPOSURE_TIME), std::clamp(last, 1, 8191));
    Tovira_Close(h);
}

// ---- camera dialog

TEST_F(DialogTest, CameraCustomPresetIsWrittenAsNextSizeAndReloaded) {
    auto dialog = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(ListTexts(frame, kCamSize), (std::vector<std::wstring>{L"3840 x 2748", L"Custom"}));
    EXPECT_EQ(ListSelection(frame, kCamSize), 0);
    EXPECT_EQ(ListSelection(frame, kCamColor), 2);
    EXPECT_EQ(NumberIn(frame, kCamHEffective), 3840);
    EXPECT_FALSE(Enabled(frame, kApply));

    ChooseListEntry(frame, kCamSize, 1);
    EXPECT_TRUE(Enabled(frame, kApply));
    TypeNumber(frame, kCamHEffective, 1920);
    TypeNumber(frame, kCamVEffective, 1080);
    TypeNumber(frame, kCamHStart, 960);
    TypeNumber(frame, kCamVStart, 834);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);

    const int expected[7] = {3840, 2748, 1920, 1080, 960, 834, 10};
    const char* names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(ReadSetting("Size_01", names[i]), expected[i]) << names[i];
    EXPECT_EQ(ReadSetting("", "Size"), 1);
    int th = 0, hs = 0, he = 0, tv = 0, vs = 0, ve = 0;
    ASSERT_EQ(Tovira_GetCaptureWindowEx(h, &th, &hs, &he, &tv, &vs, &ve), 1);
    EXPECT_EQ(he, 1920);
    EXPECT_EQ(ve, 1080);
    EXPECT_EQ(hs, 960);
    EXPECT_EQ(vs, 834);

    auto again = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(ListTexts(frame, kCamSize), (std::vector<std::wstring>{L"3840 x 2748", L"1920 x 1080", L"Custom"}));
    EXPECT_EQ(ListSelection(frame, kCamSize), 1);
    EXPECT_EQ(NumberIn(frame, kCamVStart), 834);
    Click(frame, IDCANCEL);
    EXPECT_EQ(again->Finish(), 1);
}

TEST_F(DialogTest, CameraApplyThenCancelChangesRegistryNotInstance) {
    auto dialog = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    TypeNumber(frame, kCamWait, 30);
    EXPECT_TRUE(Enabled(frame, kApply));
    Click(frame, kApply);
    EXPECT_FALSE(Enabled(frame, kApply));
    EXPECT_EQ(ReadSetting("", "WaitTime"), 30);
    Click(frame, IDCANCEL);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(ReadSetting("", "WaitTime"), 30);
    EXPECT_EQ(Tovira_GetWaitTime(h), 10);
}

TEST_F(DialogTest, CameraListsWithoutSelectionKeepStoredValuesAndFullPresetListAddsNothing) {
    const char* names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
    for (int n = 1; n < 100; ++n) {
        char key[16];
        wsprintfA(key, "Size_%02d", n);
        const int values[7] = {3840, 2748, 1000 + n, 500 + n, 0, 0, 10};
        for (int i = 0; i < 7; ++i) WriteSetting(key, names[i], values[i]);
    }
    WriteSetting("", "SubSample", 16);
    auto dialog = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(ListTexts(frame, kCamSize).size(), 101u);
    EXPECT_EQ(ListSelection(frame, kCamSubSample), -1);
    ChooseListEntry(frame, kCamSize, 100);
    TypeNumber(frame, kCamHEffective, 640);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(ReadSetting("", "SubSample"), 16);
    EXPECT_EQ(ReadSetting("", "Size"), 0);
    EXPECT_EQ(ReadSetting("Size_99", "EH"), 1099);
    EXPECT_EQ(ReadSetting("Size_100", "EH"), -12345);
}

TEST_F(DialogTest, CameraStoredSizeBeyondThePresetsShowsZerosAndIsKept) {
    WriteSetting("", "Size", 5);
    auto dialog = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(ListSelection(frame, kCamSize), -1);
    for (int edit = kCamHTotal; edit <= kCamVStart; ++edit) EXPECT_EQ(NumberIn(frame, edit), 0) << edit;
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(ReadSetting("", "Size"), 5);
    EXPECT_EQ(ReadSetting("Size_00", "EH"), 3840);  // the one preset is not overwritten with the zeros
    EXPECT_EQ(ReadSetting("Size_01", "EH"), -12345);
}

TEST_F(DialogTest, CameraDialogRestartsRunningPreviewInTheSameWindow) {
    std::vector<HWND> before;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM l) {
        reinterpret_cast<std::vector<HWND>*>(l)->push_back(w);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&before));
    HWND sink = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(sink, nullptr);
    ASSERT_EQ(Tovira_SetCaptureWindow(h, 3840, 2748), 1);
    ASSERT_EQ(Tovira_CallBackPreview(h, sink, nullptr, 0, 0), 1);
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM l) {
        reinterpret_cast<std::vector<HWND>*>(l)->push_back(w);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&windows));
    HWND preview = nullptr;
    for (HWND w : windows)
        if (w != sink && std::find(before.begin(), before.end(), w) == before.end() && IsWindowVisible(w)) preview = w;
    ASSERT_NE(preview, nullptr);

    auto countFrames = [&](DWORD milliseconds) {
        int frames = 0;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds && frames < 3) {
            MSG m;
            while (PeekMessageA(&m, sink, WM_TOVIRA_FRAME, WM_TOVIRA_FRAME, PM_REMOVE)) ++frames;
            PumpFor(10);
        }
        return frames;
    };
    EXPECT_GT(countFrames(10000), 0);

    auto dialog = Open(&Tovira_SetCameraDlg);
    ASSERT_NE(frame, nullptr);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    MSG stale;
    while (PeekMessageA(&stale, sink, WM_TOVIRA_FRAME, WM_TOVIRA_FRAME, PM_REMOVE)) {
    }
    EXPECT_GT(countFrames(10000), 0);
    EXPECT_TRUE(IsWindow(preview));
    EXPECT_TRUE(IsWindowVisible(preview));
    Tovira_Close(h);
    DestroyWindow(sink);
}

// ---- one dialog of a kind at a time

TEST_F(DialogTest, SecondDialogOfAKindIsRefusedWhileOneIsOpen) {
    auto first = Open(&Tovira_SetImageDlg);
    ASSERT_NE(frame, nullptr);
    HWND firstFrame = frame;
    const int handle = h;
    DialogThread second([=] { return Tovira_SetImageDlg(handle, nullptr); });
    EXPECT_EQ(second.Finish(), 1);
    EXPECT_TRUE(IsWindowVisible(firstFrame));
    // The first dialog still gets its own messages.
    MoveTrackbar(Page(0), kBrightnessTb, 12);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 12);
    // Another kind opens meanwhile.
    auto analog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    EXPECT_NE(frame, firstFrame);
    Click(frame, IDCANCEL);
    EXPECT_EQ(analog->Finish(), 1);
    Click(firstFrame, IDOK);
    EXPECT_EQ(first->Finish(), 1);
    EXPECT_EQ(Filter(h, TOVIRA_FILTER_BRIGHTNESS), 12);
}

}  // namespace
