// The streaming engine: ring, transfer thread, newest-frame selection, single-frame read, against the
// virtual camera's frames.
#include "DeviceTestSupport.h"

#include "sim/TestScene.h"

#include <windows.h>

#include <vector>

namespace {

using namespace tovira;

class Stream : public VirtualCameraTest {
protected:
  void SetUp() override {
    VirtualCameraTest::SetUp();
    CToviraZ400KXSdk& dev = device();
    dev.SetExposure(2748);
    dev.SetGlobalGain(64);
    driver_->setLogging(false); // frames come fast; the log is not needed here
  }
  void TearDown() override {
    if (device_) device_->StopStreaming();
    VirtualCameraTest::TearDown();
  }
  // Polls until a frame is selected or the stream ends; returns the last poll result.
  int waitForFrame() {
    int r = 2;
    for (int i = 0; i < 2000 && r == 2; ++i) {
      r = device().PollNewestFrame();
      if (r == 2) Sleep(1);
    }
    return r;
  }
  std::vector<std::uint8_t> frame() { return std::vector<std::uint8_t>(device().GetFrameBytes()); }
};

// The frame number of the strip in the first rows of an 8-bit raw frame.
std::uint32_t frameNumberOf(const std::vector<std::uint8_t>& raw, int width) {
  std::uint32_t n = 0;
  for (int k = 0; k < SceneStrip::kCells; ++k)
    if (raw[std::size_t(4) * width + k * SceneStrip::kCellSize + 4] > 128) n |= 1u << k;
  return n;
}

// The moving bar of frame n starts at output column (n x 37) mod 3840 of the full window, in output
// row 2300: a torn frame (two frames in one buffer) shows a bar that does not fit its number.
bool barFits(const std::vector<std::uint8_t>& raw, std::uint32_t n) {
  const int left = int((n * 37u) % 3840u);
  const std::uint8_t* row = raw.data() + std::size_t(2300) * 3840;
  if (row[left] != 255 || row[std::min(left + 30, 3839)] != 255) return false;
  return left == 0 || row[left - 1] != 255;
}

TEST_F(Stream, GeometryIsCheckedBeforeAnythingChanges) {
  CToviraZ400KXSdk& dev = device();
  EXPECT_EQ(dev.BuildFrameBuffers(0, 5, 10, 100, 2, 10, 4), 3);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 0, 100, 2, 10, 4), 3);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 101, 100, 2, 10, 4), 3);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 50, 0, 2, 10, 4), 4);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 50, 100, 2, 0, 4), 4);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 50, 100, 2, 99, 4), 4);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 50, 100, 2, 10, 1), 1);
  EXPECT_EQ(dev.GetFrameGeometry().transferLength, 10868736u);
  EXPECT_EQ(dev.GetReadSize(), 10868736u);
  EXPECT_EQ(dev.BuildFrameBuffers(100, 5, 50, 100, 2, 10, 4), 0);
  EXPECT_EQ(dev.GetFrameGeometry().transferLength, 2048u);
  EXPECT_EQ(camera().transferLength(), 2048u);
}

TEST_F(Stream, StartWithoutARingIsRefused) {
  CToviraZ400KXSdk& dev = device();
  // Too large to allocate: the old buffers are gone and no ring is left.
  EXPECT_EQ(dev.BuildFrameBuffers(60000, 5, 100, 70000, 2, 60000, 4), 7);
  EXPECT_EQ(dev.StartStreaming(), 21);
  EXPECT_FALSE(dev.IsStreaming());
  EXPECT_EQ(dev.PollNewestFrame(), 0);
  EXPECT_EQ(dev.ReadSingleFrame(), 19);
  std::uint8_t byte;
  EXPECT_EQ(dev.CopySingleFrame(&byte), 14);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 640, 480, 0), 0);
  EXPECT_EQ(dev.StartStreaming(), 0);
}

TEST_F(Stream, DeliversNewerFramesOnlyAndStopsCleanly) {
  CToviraZ400KXSdk& dev = device();
  EXPECT_EQ(dev.StopStreaming(), 0); // nothing runs: nothing to do
  ASSERT_EQ(dev.StartStreaming(), 0);
  EXPECT_TRUE(dev.IsStreaming());
  EXPECT_EQ(dev.StartStreaming(), 21);
  std::vector<std::uint8_t> raw = frame();
  std::uint32_t last = 0;
  bool first = true;
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(waitForFrame(), 3);
    ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
    const std::uint32_t n = frameNumberOf(raw, 3840);
    if (!first) EXPECT_GT(n, last) << "frame delivered twice or out of order";
    EXPECT_TRUE(barFits(raw, n)) << "torn frame " << n;
    last = n;
    first = false;
    // A slow consumer: several frames pass while it works; it keeps taking the newest.
    Sleep(i % 3 == 0 ? 120 : 0);
  }
  EXPECT_EQ(dev.ReadNewestFrame(nullptr), 14);
  EXPECT_EQ(dev.ReadNewestFrame(raw.data(), raw.size() - 1), 14);
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_FALSE(dev.IsStreaming());
  EXPECT_EQ(dev.PollNewestFrame(), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_EQ(driver_->openHandles(), 0);
}

TEST_F(Stream, AReaderThatFellBehindTakesTheNewestFrame) {
  // While the reader works, the writer fills the other slots round and round, passing over the reader's
  // slot; the next poll must still select the frame completed last, not an older one left in the ring.
  CToviraZ400KXSdk& dev = device();
  ASSERT_EQ(dev.StartStreaming(), 0);
  std::vector<std::uint8_t> raw = frame();
  ASSERT_EQ(waitForFrame(), 3);
  ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    Sleep(150);  // several frames pass
    // The frame in the making has number started - 1; the one completed before it started - 2 at the
    // latest, and the newest completed frame can only be newer than that.
    const std::uint32_t started = camera().framesStarted();
    ASSERT_EQ(waitForFrame(), 3);
    ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
    EXPECT_GE(frameNumberOf(raw, 3840) + 2, started);
  }
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, SixteenBitFramesCarryTwelveBitSamples) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  dev.SetTransferWidth(1);
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(waitForFrame(), 3);
  std::vector<std::uint8_t> raw = frame();
  ASSERT_EQ(raw.size(), 640u * 480u * 2u);
  ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
  int saturated = 0, low = 0;
  for (std::size_t k = 0; k < raw.size(); k += 2) {
    const unsigned s = raw[k] | raw[k + 1] << 8;
    ASSERT_LE(s, 4095u);
    saturated += s == 4095;
    low += (s & 0x0F) != 0;
  }
  EXPECT_GT(saturated, 0); // the frame-number strip and the bar
  EXPECT_GT(low, 1000);    // the low bits do arrive
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, ShortFrameReadEndsTheStreamWithNineteen) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(waitForFrame(), 3);
  camera().shortFrameReads(1);
  int r = 3;
  for (int i = 0; i < 5000 && r != 1; ++i) {
    r = dev.PollNewestFrame();
    Sleep(1);
  }
  EXPECT_EQ(r, 1);
  EXPECT_FALSE(dev.IsStreaming());
  EXPECT_EQ(dev.StopStreaming(), 19);
  EXPECT_EQ(dev.PollNewestFrame(), 0);
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, UnplugEndsTheStreamAndTheDeviceStaysAway) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  camera().unplugAfter(int(camera().framesDelivered()) + 5);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int r = 2;
  for (int i = 0; i < 5000 && r != 1; ++i) {
    r = dev.PollNewestFrame();
    Sleep(1);
  }
  EXPECT_EQ(r, 1);
  EXPECT_EQ(dev.StopStreaming(), 19);
  std::uint16_t v;
  EXPECT_EQ(dev.ReadSensorRegister(0x0344, &v), 0);
  EXPECT_EQ(dev.StartStreaming(), 0);
  EXPECT_EQ(dev.StopStreaming(), 10); // the thread could not open the device: reported, handles closed
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, StopWaitsForASlowReadToFinish) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  camera().setSlowReadMs(150);
  ASSERT_EQ(dev.StartStreaming(), 0);
  Sleep(20); // the thread is inside a read now
  const std::uint32_t before = camera().framesStarted();
  EXPECT_EQ(dev.StopStreaming(), 0);
  EXPECT_FALSE(dev.IsStreaming());
  // The thread has left: no read starts after the stop returned.
  const std::uint32_t after = camera().framesStarted();
  EXPECT_LE(after, before + 1);
  Sleep(200);
  EXPECT_EQ(camera().framesStarted(), after);
  EXPECT_EQ(driver_->openHandles(), 0);
}

TEST_F(Stream, OpenFailureInTheThreadIsReportedByTheStop) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  driver_->setOpenFails(true);
  ASSERT_EQ(dev.StartStreaming(), 0);
  int r = 2;
  for (int i = 0; i < 5000 && r != 0; ++i) {
    r = dev.PollNewestFrame();
    Sleep(1);
  }
  EXPECT_EQ(r, 0); // stopped, no error: the frame loop keeps polling without frames
  EXPECT_EQ(dev.StartStreaming(), 0); // the ended thread is collected, a new one starts
  Sleep(20);
  EXPECT_EQ(dev.StopStreaming(), 10);
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, WindowChangeWhileStreamingRestartsOnNewBuffers) {
  CToviraZ400KXSdk& dev = device();
  ASSERT_EQ(dev.StartStreaming(), 0);
  std::vector<std::uint8_t> raw = frame();
  ASSERT_EQ(waitForFrame(), 3);
  // A selection made before the change is not served from the new buffers.
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 3840, 2748, 1), 0);
  EXPECT_TRUE(dev.IsStreaming());
  EXPECT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 2);
  ASSERT_EQ(waitForFrame(), 3);
  EXPECT_EQ(dev.GetFrameBytes(), 1920u * 1374u);
  ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
  // Growing the window while the consumer's buffer stays small: refused, not overrun.
  ASSERT_EQ(dev.SetCaptureWindow(0, 0, 3840, 2748, 0), 0);
  std::vector<std::uint8_t> small(1920u * 1374u);
  ASSERT_EQ(waitForFrame(), 3);
  EXPECT_EQ(dev.ReadNewestFrame(small.data(), small.size()), 14);
  ASSERT_EQ(waitForFrame(), 3);
  ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
  EXPECT_TRUE(barFits(raw, frameNumberOf(raw, 3840)));
  // Window changes from another thread while this one keeps reading.
  HANDLE changer = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* d = static_cast<CToviraZ400KXSdk*>(p);
        for (int i = 0; i < 6; ++i) d->SetCaptureWindow(0, 0, i % 2 ? 1920 : 3840, i % 2 ? 1080 : 2748, 0);
        d->SetCaptureWindow(0, 0, 3840, 2748, 0);
        return 0;
      },
      &dev, 0, nullptr);
  int served = 0;
  while (WaitForSingleObject(changer, 0) == WAIT_TIMEOUT) {
    if (dev.PollNewestFrame() == 3 && dev.ReadNewestFrame(raw.data(), raw.size()) == 0) ++served;
    Sleep(1);
  }
  CloseHandle(changer);
  ASSERT_EQ(waitForFrame(), 3);
  ASSERT_EQ(dev.ReadNewestFrame(raw.data(), raw.size()), 0);
  EXPECT_TRUE(barFits(raw, frameNumberOf(raw, 3840)));
  EXPECT_EQ(dev.StopStreaming(), 0);
}

TEST_F(Stream, SingleFrameReadKeepsItsHandleAndSendsNoTrigger) {
  CToviraZ400KXSdk& dev = device();
  driver_->setLogging(true);
  driver_->clearLog();
  std::vector<std::uint8_t> raw = frame();
  ASSERT_EQ(dev.ReadSingleFrame(), 0);
  EXPECT_EQ(dev.PollSingleFrame(), 0);
  ASSERT_EQ(dev.CopySingleFrame(raw.data(), raw.size()), 0);
  const std::uint32_t n1 = frameNumberOf(raw, 3840);
  EXPECT_TRUE(barFits(raw, n1));
  ASSERT_EQ(dev.ReadSingleFrame(), 0);
  ASSERT_EQ(dev.CopySingleFrame(raw.data(), raw.size()), 0);
  EXPECT_GT(frameNumberOf(raw, 3840), n1);
  EXPECT_EQ(dev.CopySingleFrame(nullptr), 14);
  EXPECT_EQ(dev.CopySingleFrame(raw.data(), raw.size() - 1), 14);
  int opens = 0, triggers = 0, frames = 0;
  for (const auto& r : driver_->log()) {
    opens += r.kind == DriverRequest::Kind::Open;
    triggers += r.code == kCodeReadPipe && r.pipe == kPipeCommand;
    if (r.pipe == kPipeFrame) {
      ++frames;
      EXPECT_EQ(r.code, 0x2220A9u);
      EXPECT_EQ(r.outLength, 10868736u);
    }
  }
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(triggers, 0);
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(driver_->openHandles(), 1);
  camera().unplug();
  EXPECT_EQ(dev.ReadSingleFrame(), 19);
  EXPECT_EQ(driver_->openHandles(), 0);
}

TEST_F(Stream, StreamedReadsUseTriggerAndAlternateCode) {
  CToviraZ400KXSdk& dev = device();
  dev.SetCaptureWindow(0, 0, 640, 480, 0);
  dev.SetTransferWidth(1);
  driver_->setLogging(true);
  driver_->clearLog();
  ASSERT_EQ(dev.StartStreaming(), 0);
  ASSERT_EQ(waitForFrame(), 3);
  ASSERT_EQ(dev.StopStreaming(), 0);
  const auto log = driver_->log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0].kind, DriverRequest::Kind::Open);
  EXPECT_EQ(log[1].code, 0x22204Eu);
  EXPECT_EQ(log[1].pipe, 0u);
  EXPECT_EQ(log[1].data[0], 0x02);
  EXPECT_EQ(log[2].code, 0x2220A9u);
  EXPECT_EQ(log[2].pipe, 2u);
  EXPECT_EQ(log[2].outLength, 2u * transferLengthFor(1192, 2, 480));
  EXPECT_EQ(log.back().kind, DriverRequest::Kind::Close);
}

} // namespace
