// The device object against the virtual camera's command log: the bytes that reach the camera.
#include "DeviceTestSupport.h"

#include "device/Transport.h"

#include <algorithm>

namespace {

using Device = VirtualCameraTest;

const RegisterWrites kInitialTable = {
    {0x0300, 0x0004}, {0x0302, 0x0002}, {0x0304, 0x0001}, {0x0306, 0x0030}, {0x0308, 0x0008},
    {0x030A, 0x0002}, {0x3016, 0x0122}, {0x316C, 0x0429}, {0x3174, 0x8000}, {0x3E40, 0xDC05},
    {0x3E42, 0x6E22}, {0x3E44, 0xDC22}, {0x3E46, 0xFF00}, {0x3ED4, 0xF998}, {0x3ED6, 0x9789},
    {0x3EDE, 0xE430}, {0x3EE0, 0xA43F}, {0x3EE2, 0xA4B7}, {0x3EEC, 0x1C1C}, {0x31AE, 0x0301},
    {0x301A, 0x10DC}, {0x3040, 0x0241}, {0x0342, 0x0EC0}, {0x0340, 0x0B4C}, {0x3010, 0x0048},
    {0x3014, 0x0228}, {0x3170, 0x0071}, {0x0306, 0x0010}, {0x3016, 0x0121},
};

// The window group: hold, read mode, corners, scaling, output size, line and frame length, the control
// register with bit 1, release.
RegisterWrites windowGroup(std::uint16_t mode, int x, int y, int w, int h, int ow, int oh, int line, std::uint16_t control) {
  return {{0x0104, 1},
          {0x3040, mode},
          {0x0344, std::uint16_t(x + 56)},
          {0x0348, std::uint16_t(x + w + 55)},
          {0x0346, std::uint16_t(y + 8)},
          {0x034A, std::uint16_t(y + h + 7)},
          {0x0400, 0},
          {0x0404, 16},
          {0x034C, std::uint16_t(ow)},
          {0x034E, std::uint16_t(oh)},
          {0x0342, std::uint16_t(line)},
          {0x0340, std::uint16_t(oh + 143)},
          {0x301A, control},
          {0x0104, 0}};
}

TEST_F(Device, ConstructionScansSelectsZeroAndProgramsTheFullFrame) {
  driver_.reset();
  install({0, 2});
  CToviraZ400KXSdk& dev = device();
  EXPECT_EQ(dev.GetMaxDeviceCount(), 8);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(dev.IsDevicePresent(n), n == 0 || n == 2 ? 1 : 0) << n;
  EXPECT_EQ(dev.IsDevicePresent(12), 0);
  EXPECT_EQ(dev.IsDevicePresent(-1), 0);
  EXPECT_EQ(dev.GetDeviceNumber(), 0);
  EXPECT_STREQ(dev.GetDevicePath(), "\\\\.\\TovKX400-0");

  // The scan tried the eight paths in order, then the selection started up device 0.
  const auto log = driver_->log();
  std::vector<std::string> opened;
  for (const auto& r : log)
    if (r.kind == tovira::DriverRequest::Kind::Open) opened.push_back(r.path);
  ASSERT_GE(opened.size(), 9u);
  for (int n = 0; n < 8; ++n) EXPECT_EQ(opened[std::size_t(n)], "\\\\.\\TovKX400-" + std::to_string(n));
  EXPECT_EQ(camera(0).startupCount(), 1);
  EXPECT_EQ(camera(2).startupCount(), 0);
  const auto codes = driver_->commandCodes();
  ASSERT_GE(codes.size(), 3u);
  EXPECT_EQ(codes[0], 0x0A); // 8-bit transfer first
  EXPECT_EQ(codes[1], 0x06); // start-up command
  EXPECT_EQ(codes[2], 0x04); // then the register table

  RegisterWrites expected = kInitialTable;
  const RegisterWrites window = windowGroup(0x0241, 0, 0, 3840, 2748, 3840, 2748, 3952, 0x10DE);
  expected.insert(expected.end(), window.begin(), window.end());
  EXPECT_EQ(writes(), expected);

  // Full frame: 10,868,736 positions, least significant byte first.
  EXPECT_EQ(camera().transferLength(), 10868736u);
  bool found = false;
  for (const auto& p : packets())
    if (p[0] == 0x09) {
      found = true;
      EXPECT_EQ(p[1], 0x00);
      EXPECT_EQ(p[2], 0xD8);
      EXPECT_EQ(p[3], 0xA5);
      EXPECT_EQ(p[4], 0x00);
    }
  EXPECT_TRUE(found);
  EXPECT_TRUE(camera().violations().empty());
  EXPECT_EQ(driver_->openHandles(), 0); // every command closed what it opened
}

TEST_F(Device, SelectDeviceTakesZeroToSevenOnly) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_EQ(dev.SelectDevice(8), 22);
  EXPECT_EQ(dev.SelectDevice(-1), 22);
  EXPECT_EQ(dev.SelectDevice(1000), 22);
  EXPECT_TRUE(driver_->log().empty());
  EXPECT_EQ(dev.GetDeviceNumber(), 0);
  // An absent slot is selected all the same; its writes fail quietly.
  EXPECT_EQ(dev.SelectDevice(7), 0);
  EXPECT_EQ(dev.GetDeviceNumber(), 7);
  EXPECT_STREQ(dev.GetDevicePath(), "\\\\.\\TovKX400-7");
  EXPECT_TRUE(writes().empty());
}

TEST_F(Device, RegisterPacketsTravelMostSignificantByteFirst) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  ASSERT_EQ(dev.WriteSensorRegister(0x3056, 0x1100), 1);
  std::uint16_t value = 0;
  ASSERT_EQ(dev.ReadSensorRegister(0x3056, &value), 1);
  EXPECT_EQ(value, 0x1100);
  const auto p = packets();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(p[0].begin(), p[0].begin() + 5),
            (std::vector<std::uint8_t>{0x04, 0x30, 0x56, 0x11, 0x00}));
  std::vector<std::uint8_t> read(64, 0);
  read[0] = 0x0C, read[1] = 0x30, read[2] = 0x56, read[3] = 0x88, read[4] = 0x88;
  EXPECT_EQ(p[1], read);
  // Each command: open, the packet, two reply reads, close.
  const auto log = driver_->log();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0].kind, tovira::DriverRequest::Kind::Open);
  EXPECT_EQ(log[2].code, 0x22204Eu);
  EXPECT_EQ(log[2].pipe, 1u);
  EXPECT_EQ(log[3].pipe, 1u);
  EXPECT_EQ(log[4].kind, tovira::DriverRequest::Kind::Close);
}

TEST_F(Device, OnlyTheSecondReplyReadDecides) {
  CToviraZ400KXSdk& dev = device();
  std::uint16_t value = 0;
  driver_->shortNextReplies(1); // the acknowledgement comes short: no matter
  EXPECT_EQ(dev.ReadSensorRegister(0x0344, &value), 1);
  EXPECT_EQ(value, 56);
  driver_->failNextReplies(1);
  EXPECT_EQ(dev.ReadSensorRegister(0x0344, &value), 1);
  driver_->shortNextReplies(2); // the answer with 63 bytes counts as failed
  EXPECT_EQ(dev.ReadSensorRegister(0x0344, &value), 0);
  std::uint8_t port = 0x77;
  driver_->shortNextReplies(2);
  EXPECT_EQ(dev.ReadIoPort(&port), 0);
  EXPECT_EQ(port, 0x77);
}

TEST_F(Device, WithoutADeviceEveryCommandFailsButTheTransferSettings) {
  driver_->setOpenFails(true);
  CToviraZ400KXSdk& dev = device();
  for (int n = 0; n < 8; ++n) EXPECT_EQ(dev.IsDevicePresent(n), 0);
  std::uint16_t value = 0xABCD;
  std::uint8_t byte = 0x5A;
  int out = -7;
  EXPECT_EQ(dev.WriteSensorRegister(0x3056, 1), 0);
  EXPECT_EQ(dev.ReadSensorRegister(0x3056, &value), 0);
  EXPECT_EQ(value, 0xABCD);
  EXPECT_EQ(dev.ReadSromByte(5, &byte), 0);
  EXPECT_EQ(dev.WriteSromByte(5, 1), 0);
  EXPECT_EQ(dev.ReadSromId(0, &byte), 0);
  EXPECT_EQ(dev.WriteSromId(0, 1), 0);
  EXPECT_EQ(dev.ReadIoPort(&byte), 0);
  EXPECT_EQ(dev.WriteIoPort(1), 0);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(dev.SetColorGain(0x3056, 3), 0);
  EXPECT_EQ(dev.GetColorGain(0x3056, &out), 0);
  EXPECT_EQ(dev.SetGlobalGain(3), 0);
  EXPECT_EQ(dev.GetGlobalGain(), 0);
  EXPECT_EQ(dev.SetExposure(100), 0);
  EXPECT_EQ(dev.GetExposure(&out), 0);
  EXPECT_EQ(dev.SetHalfClock(1), 0);
  EXPECT_EQ(dev.GetHalfClock(&out), 0);
  EXPECT_EQ(out, -7);
  EXPECT_EQ(dev.GetMirrorH(), 0);
  EXPECT_EQ(dev.ConfigureCaptureMode(0, 1), 0);
  EXPECT_EQ(dev.SetDriverSetting(8000), 0);
  EXPECT_EQ(dev.SetTransferWidth(1), 1);
  EXPECT_EQ(dev.GetTransferWidth(), 1);
  EXPECT_EQ(dev.SetTransferLength(), 1);
  EXPECT_EQ(dev.SelectDevice(0), 0);
  EXPECT_EQ(dev.ReadSingleFrame(), 10);
  for (const auto& r : driver_->log()) EXPECT_NE(r.kind, tovira::DriverRequest::Kind::Control);
}

struct WindowCase {
  int x, y, w, h, code;
  std::uint16_t mode;
  int ow, oh, line;
};

TEST_F(Device, CaptureWindowProgramsReadModeSizeAndTiming) {
  CToviraZ400KXSdk& dev = device();
  const WindowCase cases[] = {
      {0, 0, 3840, 2748, 0, 0x0241, 3840, 2748, 3952},
      {0, 0, 3840, 2748, 1, 0x02C3, 1920, 1374, 2032},
      {0, 0, 3840, 2748, 16, 0x36C3, 1920, 1374, 3048},
      {0, 0, 3840, 2748, 2, 0x03C7, 960, 687, 1192},
      {0, 0, 3840, 2748, 17, 0x0FC7, 960, 687, 2464},
      {100, 40, 1000, 600, 0, 0x0241, 1000, 600, 1192},
      {10, 20, 2000, 1000, 5, 0x0200, 2000, 1000, 2112},
  };
  for (const WindowCase& c : cases) {
    driver_->clearLog();
    ASSERT_EQ(dev.SetCaptureWindow(c.x, c.y, c.w, c.h, c.code), 0);
    EXPECT_EQ(writes(), windowGroup(c.mode, c.x, c.y, c.w, c.h, c.ow, c.oh, c.line, 0x10DE)) << c.code << " " << c.w;
    const tovira::FrameGeometry& g = dev.GetFrameGeometry();
    EXPECT_EQ(g.linePitch, c.line);
    EXPECT_EQ(g.activeWidth, c.ow);
    EXPECT_EQ(g.activeLines, c.oh);
    EXPECT_EQ(g.totalLines, c.oh + 143);
    EXPECT_EQ(camera().transferLength(), tovira::transferLengthFor(c.line, 2, c.oh));
    EXPECT_EQ(camera().sensor().readout().outputWidth, c.ow);
  }
}

TEST_F(Device, RejectedWindowsWriteNothing) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_EQ(dev.SetCaptureWindow(-1, 0, 100, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 3, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 100, 2, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(1, 0, 3840, 100, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 1, 100, 2748, 0), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 100, 100, 21), 1);
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 100, 100, -1), 1);
  EXPECT_TRUE(driver_->log().empty());
  EXPECT_EQ(dev.GetWindowWidth(), 3840);
}

TEST_F(Device, TinyQuarterWindowKeepsThePreviousGeometry) {
  CToviraZ400KXSdk& dev = device();
  const tovira::FrameGeometry before = dev.GetFrameGeometry();
  driver_->clearLog();
  // 4 x 3 at 1/4 gives 1 x 0: the ring refuses, the sensor is programmed all the same.
  EXPECT_EQ(dev.SetCaptureWindow(0, 0, 4, 3, 2), 0);
  const tovira::FrameGeometry after = dev.GetFrameGeometry();
  EXPECT_EQ(after.linePitch, before.linePitch);
  EXPECT_EQ(after.activeLines, before.activeLines);
  EXPECT_EQ(after.transferLength, 10868736u);
  EXPECT_EQ(writes(), windowGroup(0x03C7, 0, 0, 4, 3, 1, 0, 2268, 0x10DE));
  for (const auto& p : packets()) EXPECT_NE(p[0], 0x09); // no new transfer length
  EXPECT_EQ(dev.GetWindowWidth(), 4);
}

TEST_F(Device, GainsAreLimitedAndOnlyColourRegistersAccepted) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_EQ(dev.SetColorGain(0x305A, 200), 1);
  EXPECT_EQ(dev.SetColorGain(0x305E, 10), 0);
  EXPECT_EQ(dev.SetColorGain(0x3057, 10), 0);
  EXPECT_EQ(dev.SetColorGain(0x3058, 65536 + 5), 1); // taken as 16 bits
  EXPECT_EQ(dev.SetGlobalGain(64), 1);
  EXPECT_EQ(writes(), (RegisterWrites{{0x305A, 0x117F}, {0x3058, 0x1105}, {0x305E, 0x1140}}));
  int gain = -1;
  // The global register also set the colour gains on the sensor.
  EXPECT_EQ(dev.GetColorGain(0x305A, &gain), 1);
  EXPECT_EQ(gain, 64);
  EXPECT_EQ(dev.GetColorGain(0x305E, &gain), 0);
  EXPECT_EQ(dev.GetGlobalGain(), 64);
}

TEST_F(Device, ExposureZeroWritesOneLine) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_EQ(dev.SetExposure(0), 1);
  EXPECT_EQ(dev.SetExposure(2748), 1);
  EXPECT_EQ(dev.SetExposure(0x12345), 1); // low 16 bits
  // 0x3166 = (width + 60) x e x 2 / 512 + 159, at most 65535.
  EXPECT_EQ(writes(), (RegisterWrites{{0x3166, 174}, {0x0202, 1}, {0x3166, 3900 * 2748 * 2 / 512 + 159}, {0x0202, 2748},
                                      {0x3166, std::uint16_t(std::min(65535LL, 3900LL * 0x2345 * 2 / 512 + 159))},
                                      {0x0202, 0x2345}}));
  int lines = 0;
  EXPECT_EQ(dev.GetExposure(&lines), 1);
  EXPECT_EQ(lines, 0x2345);
  EXPECT_EQ(dev.GetMaxExposure(), 1048575);
  dev.SetCaptureWindow(0, 0, 100, 100, 0);
  driver_->clearLog();
  dev.SetExposure(10);
  EXPECT_EQ(writes()[0], (std::pair<std::uint16_t, std::uint16_t>{0x3166, 160 * 10 * 2 / 512 + 159}));
}

TEST_F(Device, MirrorsSetReadModeBitsAndReadBackFrom0x0100) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_EQ(dev.SetMirrorH(1), 0);
  EXPECT_EQ(dev.GetMirrorH(), 1);
  EXPECT_EQ(dev.GetMirrorV(), 0);
  EXPECT_EQ(dev.SetMirrorV(1), 0);
  EXPECT_EQ(dev.GetMirrorV(), 1);
  EXPECT_EQ(dev.SetMirrorH(2), 0); // only 1 sets
  EXPECT_EQ(dev.GetMirrorH(), 0);
  EXPECT_EQ(dev.GetMirrorV(), 1);
  // Verified by a read; the sensor kept the value, so no second write.
  EXPECT_EQ(writes(), (RegisterWrites{{0x3040, 0x4241}, {0x3040, 0xC241}, {0x3040, 0x8241}}));
  // The window rewrites the read mode with the mirror bits clear.
  dev.SetCaptureWindow(0, 0, 3840, 2748, 1);
  EXPECT_EQ(dev.GetMirrorV(), 0);
}

TEST_F(Device, HalfClockSwitchesBothDividers) {
  CToviraZ400KXSdk& dev = device();
  EXPECT_DOUBLE_EQ(camera().sensor().pixelClockHz(), 48e6);
  driver_->clearLog();
  EXPECT_EQ(dev.SetHalfClock(5), 1);
  EXPECT_EQ(writes(), (RegisterWrites{{0x0302, 4}, {0x030A, 4}}));
  int on = -1;
  EXPECT_EQ(dev.GetHalfClock(&on), 1);
  EXPECT_EQ(on, 1);
  EXPECT_DOUBLE_EQ(camera().sensor().pixelClockHz(), 24e6);
  dev.SetHalfClock(0);
  EXPECT_EQ(dev.GetHalfClock(&on), 1);
  EXPECT_EQ(on, 0);
}

TEST_F(Device, SerialRomIdentifierBytesLiveAtEightToFifteen) {
  CToviraZ400KXSdk& dev = device();
  std::uint8_t byte = 0xEE;
  EXPECT_EQ(dev.ReadSromByte(5, &byte), 1);
  EXPECT_EQ(byte, 0); // grey mode 0
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(dev.ReadSromId(i, &byte), 1);
    EXPECT_EQ(byte, 128) << i;
  }
  EXPECT_EQ(dev.WriteSromId(3, 77), 1);
  EXPECT_EQ(camera().srom(11), 77);
  EXPECT_EQ(dev.ReadSromId(3 + 256, &byte), 1); // the index is taken as 8 bits
  EXPECT_EQ(byte, 77);
  driver_->clearLog();
  byte = 0xEE;
  EXPECT_EQ(dev.ReadSromId(8, &byte), 0);
  EXPECT_EQ(dev.WriteSromId(8, 1), 0);
  EXPECT_EQ(byte, 0xEE);
  EXPECT_TRUE(driver_->log().empty());
}

TEST_F(Device, IoPortInputsAndCaptureModeBit) {
  CToviraZ400KXSdk& dev = device();
  camera().setInputs(true, false);
  std::uint8_t port = 0;
  EXPECT_EQ(dev.ReadIoPort(&port), 1);
  EXPECT_EQ(port & 0x18, 0x08);
  EXPECT_EQ(dev.WriteIoPort(0x40), 1);
  EXPECT_EQ(camera().ioPort(), 0x48); // the output set, the inputs kept
  driver_->clearLog();
  EXPECT_EQ(dev.ConfigureCaptureMode(1, 1), 1);
  EXPECT_EQ(camera().ioPort(), 0x68);
  EXPECT_EQ(writes(), (RegisterWrites{{0x3046, 0}, {0x3048, 0x20}, {0x3162, 0x9F}, {0x3160, 4}}));
  driver_->clearLog();
  EXPECT_EQ(dev.ConfigureCaptureMode(0, 0), 1);
  EXPECT_EQ(camera().ioPort(), 0x48);
  EXPECT_EQ(writes().back(), (std::pair<std::uint16_t, std::uint16_t>{0x3160, 0}));
}

TEST_F(Device, DriverSettingBlockCarriesSelectorAndValue) {
  CToviraZ400KXSdk& dev = device();
  driver_->clearLog();
  EXPECT_NE(dev.SetDriverSetting(8000), 0);
  EXPECT_EQ(camera().driverSettingValue(), 8000);
  const auto log = driver_->log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].code, 0x2220A0u);
  EXPECT_EQ(log[1].inLength, 44u);
  EXPECT_EQ(log[1].outLength, 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(log[1].data.begin(), log[1].data.begin() + 8),
            (std::vector<std::uint8_t>{1, 0, 0, 0, 0x40, 0x1F, 0, 0}));
}

TEST_F(Device, TransferWidthIsRecordedAndSent) {
  CToviraZ400KXSdk& dev = device();
  EXPECT_EQ(dev.SetTransferWidth(1), 1);
  EXPECT_EQ(camera().transferWidth(), 1);
  EXPECT_EQ(dev.GetReadSize(), 2u * 10868736u);
  EXPECT_EQ(dev.SetTransferWidth(0), 1);
  EXPECT_EQ(camera().transferWidth(), 0);
  EXPECT_EQ(dev.GetReadSize(), 10868736u);
}

} // namespace
