// Suites that need an environment of their own (CTest entries dshow_env_*): a camera that goes away
// while the graph runs, and no camera at all.
#include "dshow/tests/DShowTestSupport.h"

#include <gtest/gtest.h>

using namespace dshowtest;

namespace {

constexpr DWORD kGenerousMs = 120000;

class EnvFixture : public ::testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(server.load());
    server.unregisterServer();
    writeSdkSettings(644, 484, 960, 834);
    ASSERT_EQ(server.registerServer(), S_OK);
    devices = ourDevices();
  }
  void TearDown() override {
    devices.clear();
    server.unregisterServer();
    CoUninitialize();
  }
  Server server;
  std::vector<Device> devices;
};

} // namespace

// TOVIRA_VIRTUAL_CAMERAS=0, TOVIRA_VIRTUAL_UNPLUG_AFTER=40.
class EnvDShowUnplug : public EnvFixture {};

TEST_F(EnvDShowUnplug, ALostCameraEndsTheStreamWithAnEventAndTheFilterCanBeReleased) {
  ASSERT_EQ(devices.size(), 1u);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(bindDevice(devices[0], filter), S_OK);
  {
    Graph g;
    ASSERT_EQ(g.create(filter.get()), S_OK);
    AM_MEDIA_TYPE any = {};
    any.majortype = MEDIATYPE_Video;
    ASSERT_EQ(g.grabber->SetMediaType(&any), S_OK);
    ASSERT_EQ(g.render(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    const long code = g.waitForEvent({EC_DEVICE_LOST, EC_ERRORABORT}, kGenerousMs);
    EXPECT_TRUE(code == EC_DEVICE_LOST || code == EC_ERRORABORT) << "event " << code;
    const size_t frames = g.callback.count();
    EXPECT_GT(frames, 0u);
    EXPECT_LE(frames, 40u);
    EXPECT_EQ(g.control->Stop(), S_OK);
    // Starting the lost camera again fails at once instead of waiting for frames that never come.
    EXPECT_EQ(g.source->Pause(), VFW_E_NO_CAPTURE_HARDWARE);
    g.source->Stop();
  }
  filter.reset();
  // The camera is no longer there for a new filter either.
  ComPtr<IBaseFilter> again;
  EXPECT_EQ(bindDevice(devices[0], again), VFW_E_NO_CAPTURE_HARDWARE);
}

// TOVIRA_VIRTUAL_CAMERAS=none.
class EnvDShowNoCamera : public EnvFixture {};

TEST_F(EnvDShowNoCamera, TheDeviceIsListedAndOpeningItSaysThereIsNoHardware) {
  // Installed before the camera is plugged in: one device, the first slot.
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].friendlyName, L"Z400KX camera 1");
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(bindDevice(devices[0], filter), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_FALSE(filter);
}
