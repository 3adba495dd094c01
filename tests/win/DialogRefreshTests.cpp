// The frame loop's refreshes of the open analogue and image dialogs: posted from another thread, carried
// out by the dialog on its own thread, merged while the dialog catches up, never aimed at a dialog of
// another camera or at one that has closed.
//
// The instance here is the test program's own; the dialog templates come from the DLL, which is loaded
// only so that its resources can be found under its file name.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "../dll/DialogDriver.h"
#include "../dll/DllFile.h"
#include "CameraTestSupport.h"
#include "dialogs/DialogRefresh.h"

// The driving helpers are shared with the DLL's dialog tests.
#include "../dll/DialogDriver.cpp"

namespace {

template <typename Condition>
bool WaitUntil(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        PumpFor(10);
    }
    return condition();
}

class DialogRefreshTest : public CameraInstanceTest {
protected:
    void SetUp() override {
        CameraInstanceTest::SetUp();
        resources_ = LoadLibraryA(DllPath().c_str());
        ASSERT_NE(resources_, nullptr);
        InitDialogControls();
        initialize();
    }
    void TearDown() override {
        CameraInstanceTest::TearDown();
        if (resources_) FreeLibrary(resources_);
    }
    int filter(int id) {
        int ok = 0;
        return camera_->GetFilterValue(id, &ok);
    }
    HMODULE resources_ = nullptr;
};

TEST_F(DialogRefreshTest, AutoIrisValuesReachTheAnalogPageAsUserChanges) {
    CTovira& camera = *camera_;
    NotifyAnalogDialogGainChanged(camera, 10);  // no dialog open: nothing to do, nothing kept
    DialogThread dialog([&] { return camera.SetAnalogDlg(nullptr); });
    HWND frame = dialog.WaitForFrame();
    ASSERT_NE(frame, nullptr);
    HWND page = PagesOf(frame).at(0);
    EXPECT_EQ(NumberIn(page, 1015), 64);

    std::thread frameLoop([&] {
        NotifyAnalogDialogGainChanged(camera, 90);
        NotifyAnalogDialogExposureChanged(camera, 1234);
    });
    frameLoop.join();
    ASSERT_TRUE(WaitUntil([&] { return NumberIn(page, 1015) == 90 && NumberIn(page, 1027) == 1234; }));
    // Handled as if typed: the colour gains follow and the sensor has the values.
    for (int edit : {1019, 1021, 1023, 1025}) EXPECT_EQ(NumberIn(page, edit), 90) << edit;
    EXPECT_EQ(filter(TOVIRA_FILTER_GLOBAL_GAIN), 90);
    EXPECT_EQ(filter(TOVIRA_FILTER_COLOR_GAIN_BLUE), 90);
    EXPECT_EQ(filter(TOVIRA_FILTER_EXPOSURE_TIME), 1234);
    EXPECT_EQ(camera.exposureLines, 1234);

    // A burst faster than the dialog can follow ends on its last value.
    std::thread burst([&] {
        for (int lines = 1; lines <= 3000; ++lines) NotifyAnalogDialogExposureChanged(camera, lines);
    });
    burst.join();
    EXPECT_TRUE(WaitUntil([&] { return NumberIn(page, 1027) == 3000; }));

    // OK keeps what the refreshes set.
    Click(frame, IDOK);
    EXPECT_EQ(dialog.Finish(), 1);
    EXPECT_EQ(camera.globalGain, 90);
    EXPECT_EQ(camera.exposureLines, 3000);
}

TEST_F(DialogRefreshTest, BalanceResultsReachBothImagePagesOfTheirCameraOnly) {
    CTovira& camera = *camera_;
    camera.colorMode = 0;  // 8 bits: both pages
    CTovira other;
    DialogThread dialog([&] { return camera.SetImageDlg(nullptr); });
    HWND frame = dialog.WaitForFrame();
    ASSERT_NE(frame, nullptr);
    const std::vector<HWND> pages = PagesOf(frame);
    ASSERT_EQ(pages.size(), 2u);

    std::thread frameLoop([&] {
        camera.image.bayerGainRed = 250;
        camera.image.grayGain[0] = 200;
        camera.image.grayOffset[3] = 90;
        NotifyImageDialogValuesChanged(other);  // another camera's balance: not this dialog's business
    });
    frameLoop.join();
    PumpFor(200);
    EXPECT_EQ(NumberIn(pages[0], 2052), 100);
    EXPECT_EQ(NumberIn(pages[1], 2101), 128);

    std::thread ownLoop([&] { NotifyImageDialogValuesChanged(camera); });
    ownLoop.join();
    ASSERT_TRUE(WaitUntil([&] { return NumberIn(pages[0], 2052) == 250 && NumberIn(pages[1], 2101) == 200; }));
    EXPECT_EQ(NumberIn(pages[1], 2122), 90);
    EXPECT_EQ(TrackbarPosition(pages[1], 2100), 200);
    // Redisplaying does not change the values.
    EXPECT_EQ(camera.image.bayerGainRed, 250);
    EXPECT_EQ(camera.image.grayGain[0], 200);

    Click(frame, IDOK);
    EXPECT_EQ(dialog.Finish(), 1);
    EXPECT_EQ(camera.image.grayGain[0], 200);
}

TEST_F(DialogRefreshTest, RefreshesWhileDialogsOpenAndCloseNeverBlockEitherSide) {
    CTovira& camera = *camera_;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::thread frameLoop([&] {
        while (!stop) {
            NotifyAnalogDialogGainChanged(camera, 64);
            NotifyAnalogDialogExposureChanged(camera, 2748);
            NotifyImageDialogValuesChanged(camera);
            ++calls;
        }
    });
    for (int round = 0; round < 4; ++round) {
        {
            DialogThread dialog([&] { return camera.SetAnalogDlg(nullptr); });
            HWND frame = dialog.WaitForFrame();
            ASSERT_NE(frame, nullptr);
            Click(frame, IDCANCEL);
            EXPECT_EQ(dialog.Finish(), 1);
        }
        {
            DialogThread dialog([&] { return camera.SetImageDlg(nullptr); });
            HWND frame = dialog.WaitForFrame();
            ASSERT_NE(frame, nullptr);
            Click(frame, IDOK);
            EXPECT_EQ(dialog.Finish(), 1);
        }
    }
    const long before = calls;
    PumpFor(50);
    EXPECT_GT(calls.load(), before);  // the notifying thread is still running freely
    stop = true;
    frameLoop.join();
}

}  // namespace
