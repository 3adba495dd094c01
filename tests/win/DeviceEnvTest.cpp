// The process's driver port chosen from the environment: run with TOVIRA_VIRTUAL_CAMERAS=0,2,
// TOVIRA_VIRTUAL_PACE=fast and TOVIRA_VIRTUAL_UNPLUG_AFTER=3 (see tests/wine-tests.cmake).
#include "device/ToviraZ400KXSdk.h"
#include "sim/VirtualDriver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace {

TEST(EnvDevicePort, VirtualCamerasServeTheListedSlotsForTheWholeProcess) {
  ASSERT_EQ(tovira::InstallDriverPort(nullptr), nullptr); // nothing installed: the environment decides
  auto port = tovira::GetDriverPort();
  ASSERT_NE(dynamic_cast<tovira::VirtualDriver*>(port.get()), nullptr);
  EXPECT_EQ(tovira::GetDriverPort(), port); // decided once

  CToviraZ400KXSdk first;
  for (int n = 0; n < 8; ++n) EXPECT_EQ(first.IsDevicePresent(n), n == 0 || n == 2 ? 1 : 0) << n;
  // A second device object (another handle) reaches the same camera.
  ASSERT_EQ(first.WriteSromId(2, 0x5C), 1);
  CToviraZ400KXSdk second;
  std::uint8_t byte = 0;
  ASSERT_EQ(second.ReadSromId(2, &byte), 1);
  EXPECT_EQ(byte, 0x5C);
  second.WriteSromId(2, 128);
}

TEST(EnvDevicePort, CameraUnplugsAfterTheGivenFrames) {
  CToviraZ400KXSdk dev;
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  ASSERT_EQ(dev.StartStreaming(), 0);
  // Every frame the poll offers is taken, so each one counts once (a poll without a read offers the
  // same frame again).
  std::vector<std::uint8_t> frame(dev.GetFrameBytes());
  int frames = 0, r = 0;
  for (int i = 0; i < 10000; ++i) {
    r = dev.PollNewestFrame();
    if (r == 1) break;
    if (r == 3 && dev.ReadNewestFrame(frame.data(), frame.size()) == 0) ++frames;
    Sleep(1);
  }
  EXPECT_EQ(r, 1);
  EXPECT_LE(frames, 3);
  EXPECT_EQ(dev.StopStreaming(), 19);
  EXPECT_EQ(dev.ReadSingleFrame(), 10);
}

} // namespace
