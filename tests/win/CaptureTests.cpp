// Capture modes seen from inside the instance: the frame-rate arithmetic, a stop that has nothing to
// stop, the auto iris reaching the camera through ProcessFrame, and the error history left alone while
// the auto iris is off.

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "CameraTestSupport.h"
#include "camera/FrameLoop.h"
#include "camera/Tovira.h"
#include "output/DibImage.h"

namespace {

int StrideOfRow(int bytes) { return (bytes + 3) & ~3; }

TEST(FrameRate, IsTenthsOfFramesPerSecondTruncated) {
    EXPECT_EQ(FrameRateTenths(25, 1010), 247);
    EXPECT_EQ(FrameRateTenths(10, 1001), 99);
    EXPECT_EQ(FrameRateTenths(4, 1000), 40);
    EXPECT_EQ(FrameRateTenths(0, 1200), 0);
    EXPECT_EQ(FrameRateTenths(3, 0), 0);  // no time: no rate instead of a division by zero
}

class Capture : public CameraInstanceTest {};

TEST_F(Capture, StopWhileIdleTouchesNoDevice) {
    CTovira& camera = open(320, 240, 8);
    driver_->clearLog();
    EXPECT_EQ(camera.StopPreview(), 1);
    EXPECT_TRUE(driver_->log().empty());
    EXPECT_TRUE(errors().empty());
}

TEST_F(Capture, WithoutACameraPreparationFailsWithError2Then1) {
    install({});
    CTovira& camera = initialize();
    errors();
    EXPECT_EQ(camera.Capture(), 0);
    EXPECT_EQ(errors(), (std::vector<int>{1, 2}));
    EXPECT_EQ(camera.State(), CameraState::Idle);
    EXPECT_EQ(camera.StartPreview(), 0);
    EXPECT_EQ(errors(), (std::vector<int>{1, 2}));
    EXPECT_EQ(camera.frameThread.handle, nullptr);
}

TEST_F(Capture, PreparationSizesTheImagesOfTheModeAndProgramsTheTransferWidth) {
    CTovira& camera = open(640, 480, 48);
    camera.subSample = 1;  // half size
    ASSERT_EQ(camera.Capture(), 1);
    EXPECT_EQ(camera.rawImage16->Width(), 320);
    EXPECT_EQ(camera.rawImage16->Height(), 240);
    EXPECT_EQ(camera.colorImage48->BitCount(), 48);
    EXPECT_EQ(camera.colorImage24->Width(), 320);  // the preview's staging image
    EXPECT_TRUE(camera.colorImage64->IsEmpty());
    EXPECT_EQ(camera.sharpnessImage->BitCount(), 48);
    EXPECT_EQ(sim().transferWidth(), 1);
    EXPECT_DOUBLE_EQ(camera.exposureScale, 0.0416666679084301);
    EXPECT_NE(camera.lineLength, 0);
    EXPECT_EQ(camera.frameLength, 240 + 143);
    EXPECT_EQ(camera.StopPreview(), 1);
}

TEST_F(Capture, AutoIrisOffRecordsNothingPerFrame) {
    CTovira& camera = open(320, 240, 24);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraCaptureTestNotify";
    RegisterClassA(&wc);
    HWND notify = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(notify, nullptr);
    camera.notifyWindow = notify;
    camera.autoIrisMode = 0;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, notify, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE));
    EXPECT_TRUE(errors().empty());
    camera.notifyWindow = nullptr;
    DestroyWindow(notify);
}

TEST_F(Capture, AutoIrisReachesTheCameraAndTheInstanceFields) {
    CTovira& camera = open(320, 240, 8);
    // Far too dark: every window mean is below 50, the factor is 1.5.
    camera.exposureLines = 40;
    camera.autoIrisMode = 1;
    ASSERT_EQ(camera.Capture(), 1);
    ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    EXPECT_EQ(camera.exposureLines, 60);
    EXPECT_EQ(sim().sensor().read(0x0202), 60);

    camera.autoIrisMode = 2;
    camera.globalGain = 2;
    camera.StopPreview();
    ASSERT_EQ(camera.Capture(), 1);  // sends the gain of 2
    ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    EXPECT_EQ(camera.globalGain, 3);
    EXPECT_EQ(camera.colorGainRed, 3);
    EXPECT_EQ(camera.colorGainGreen2, 3);
    EXPECT_EQ(sim().sensor().read(0x305E) & 0x7F, 3);
    EXPECT_EQ(camera.exposureLines, 60);  // not touched in gain mode
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(camera.StopPreview(), 1);
}

TEST_F(Capture, WhiteBalanceOnceChangesTheGainsOnceAndKeepsOtherSettings) {
    CTovira& camera = open(320, 240, 24);
    camera.image.bayerGainRed = camera.image.bayerGainGreen = camera.image.bayerGainBlue = 100;
    camera.image.whiteBalanceAuto = 1;
    camera.image.whiteBalanceOnce[0] = camera.image.whiteBalanceOnce[1] = 1;
    camera.image.gamma = 100;
    camera.colorGainGreen1 = camera.colorGainRed = camera.colorGainBlue = camera.colorGainGreen2 = 64;
    camera.exposureLines = 1500;
    ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    EXPECT_EQ(camera.image.whiteBalanceAuto, 0);
    EXPECT_EQ(camera.image.whiteBalanceOnce[0], 0);
    EXPECT_EQ(camera.image.whiteBalanceOnce[1], 0);
    // Warm light: red is brought down, blue up.
    EXPECT_LT(camera.image.bayerGainRed, 100);
    EXPECT_GT(camera.image.bayerGainBlue, 100);
    EXPECT_EQ(camera.image.bayerGainGreen, 100);
    EXPECT_EQ(camera.image.gamma, 100);
    const int red = camera.image.bayerGainRed;
    ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    EXPECT_EQ(camera.image.bayerGainRed, red);
}

TEST_F(Capture, ASnapshotAfterAWindowChangeInCaptureModeComesAtTheNewSize) {
    CTovira& camera = open(320, 240, 24);
    ASSERT_EQ(camera.Capture(), 1);
    ASSERT_EQ(camera.SnapShot(nullptr, 0, 1), 1);
    ASSERT_EQ(camera.SetCaptureWindowEx(3840, 8, 160, 2748, 4, 120), 1);
    std::vector<uint8_t> frame(size_t(StrideOfRow(160 * 3)) * 120);
    ASSERT_EQ(camera.SnapShot(frame.data(), int(frame.size()), 1), 1);
    EXPECT_EQ(camera.colorImage24->Width(), 160);
    EXPECT_EQ(camera.rawImage8->Height(), 120);
    EXPECT_EQ(camera.sharpnessImage->Width(), 160);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(camera.StopPreview(), 1);
}

TEST_F(Capture, CopiesGiveTheRowsInStorageOrderOrReversedIncludingThePadding) {
    CTovira& camera = open(321, 10, 8);
    ASSERT_EQ(camera.Capture(), 1);
    CDibImage& image = *camera.rawImage8;
    ASSERT_EQ(image.Stride(), 324);
    for (int y = 0; y < 10; ++y) std::memset(image.Bits() + y * 324, 0x10 + y, 324);
    std::vector<uint8_t> top(324 * 10), bottom(324 * 10);
    ASSERT_EQ(camera.GetImage(top.data(), int(top.size()), 1), 1);
    ASSERT_EQ(camera.GetImage(bottom.data(), int(bottom.size()), 0), 1);
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(top[y * 324 + 323], 0x10 + y);
        EXPECT_EQ(bottom[y * 324], 0x10 + 9 - y);
    }
    EXPECT_EQ(camera.GetImage(top.data(), int(top.size()) - 1, 1), 0);
    EXPECT_EQ(errors(), (std::vector<int>{5, 5}));
    EXPECT_EQ(camera.GetImage(nullptr, int(top.size()), 1), 0);
    EXPECT_EQ(errors(), (std::vector<int>{5}));
    camera.colorMode = 7;
    EXPECT_EQ(camera.GetImage(top.data(), int(top.size()), 1), 0);
    EXPECT_EQ(errors(), (std::vector<int>{1}));
    camera.colorMode = 0;
    EXPECT_EQ(camera.StopPreview(), 1);
}

}  // namespace
