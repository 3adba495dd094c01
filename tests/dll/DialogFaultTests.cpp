// Two dialog faults: a Bayer mode chosen on the grey page of the image dialog survives OK, and the
// analogue dialog's exposure label shows the exposure that Default set.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "ToviraSdk_Z400KX.h"

namespace {

constexpr int kDefault = 3;
constexpr int kExposureEd = 1027;
constexpr int kExposureMs = 1049;
constexpr int kBayerRadios[4] = {1029, 1031, 1032, 1033};

class DialogFault : public ::testing::Test {
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
    std::unique_ptr<DialogThread> Open(int (*show)(int, HWND)) {
        const int handle = h;
        auto thread = std::make_unique<DialogThread>([=] { return show(handle, nullptr); });
        frame = thread->WaitForFrame();
        return thread;
    }
    HWND Page(int index) {
        const std::vector<HWND> pages = PagesOf(frame);
        return index < static_cast<int>(pages.size()) ? pages[index] : nullptr;
    }
    int BayerMode() {
        int ok = 0;
        return Tovira_GetBayerMode(h, &ok);
    }
    int h = 0;
    HWND frame = nullptr;
};

TEST_F(DialogFault, ABayerModeChosenOnTheGreyPageSurvivesOk) {
    for (int bits : {8, 16}) {
        for (int chosen : {0, 1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, Bayer mode " + std::to_string(chosen));
            ASSERT_EQ(Tovira_SetColorMode(h, bits), 1);
            ASSERT_EQ(Tovira_SetBayerMode(h, 3), 1);
            auto dialog = Open(&Tovira_SetImageDlg);
            ASSERT_NE(frame, nullptr);
            HWND gray = Page(1);
            ASSERT_NE(gray, nullptr);
            SelectTab(frame, 1);
            Click(gray, kBayerRadios[chosen]);
            EXPECT_EQ(BayerMode(), chosen);
            Click(frame, IDOK);
            EXPECT_EQ(dialog->Finish(), 1);
            EXPECT_EQ(BayerMode(), chosen);
        }
    }
    // In the colour modes the image-filter page's own radios still decide.
    ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
    auto dialog = Open(&Tovira_SetImageDlg);
    ASSERT_NE(frame, nullptr);
    Click(Page(0), kBayerRadios[2]);
    Click(frame, IDOK);
    EXPECT_EQ(dialog->Finish(), 1);
    EXPECT_EQ(BayerMode(), 2);
}

TEST_F(DialogFault, TheExposureLabelShowsTheExposureThatDefaultSet) {
    // A prepared capture gives the label its line timing (without one it reads 0 for any exposure).
    ASSERT_EQ(Tovira_SetCaptureWindowEx(h, 3840, 0, 320, 2748, 0, 240), 1);
    ASSERT_EQ(Tovira_Capture(h), 1);
    auto dialog = Open(&Tovira_SetAnalogDlg);
    ASSERT_NE(frame, nullptr);
    HWND page = Page(0);
    TypeNumber(page, kExposureEd, 2748);
    const std::wstring atDefault = ControlText(page, kExposureMs);
    TypeNumber(page, kExposureEd, 500);
    const std::wstring shorter = ControlText(page, kExposureMs);
    ASSERT_NE(shorter, atDefault);
    Click(frame, kDefault);
    EXPECT_EQ(NumberIn(page, kExposureEd), 2748);
    EXPECT_EQ(ControlText(page, kExposureMs), atDefault);
    Click(frame, IDCANCEL);
    dialog->Finish();
}

}  // namespace
