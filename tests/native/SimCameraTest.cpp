// The virtual camera on its own: what it makes of the registers, and the frames it delivers.
#include "device/FrameGeometry.h"
#include "sim/SensorModel.h"
#include "sim/TestScene.h"
#include "sim/VirtualDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace tovira;

namespace {

// Talks to the virtual driver as the library does, one request at a time.
class Wire {
public:
  explicit Wire(VirtualDriver& d, int slot = 0) : d_(d) {
    const std::string path = "\\\\.\\TovKX400-" + std::to_string(slot);
    h_ = d_.Open(path.c_str());
  }
  ~Wire() {
    if (isValidDeviceHandle(h_)) d_.Close(h_);
  }
  bool ok() const { return isValidDeviceHandle(h_); }
  bool control(std::uint32_t code, std::uint32_t pipe, void* buffer, std::uint32_t length, std::uint32_t* moved) {
    std::uint8_t in[4] = {std::uint8_t(pipe), 0, 0, 0};
    return d_.Control(h_, code, in, 4, buffer, length, moved);
  }
  // Command, acknowledgement, answer.
  std::vector<std::uint8_t> command(std::vector<std::uint8_t> bytes) {
    bytes.resize(64, 0);
    std::uint32_t moved = 0;
    EXPECT_TRUE(control(kCodeWritePipe, 0, bytes.data(), 64, &moved));
    std::vector<std::uint8_t> reply(64);
    EXPECT_TRUE(control(kCodeReadPipe, 1, reply.data(), 64, &moved));
    EXPECT_EQ(reply[0], bytes[0]); // the acknowledgement names the command
    EXPECT_TRUE(control(kCodeReadPipe, 1, reply.data(), 64, &moved));
    return reply;
  }
  void write(std::uint16_t a, std::uint16_t v) {
    command({0x04, std::uint8_t(a >> 8), std::uint8_t(a), std::uint8_t(v >> 8), std::uint8_t(v)});
  }
  std::uint16_t read(std::uint16_t a) {
    auto r = command({0x0C, std::uint8_t(a >> 8), std::uint8_t(a), 0x88, 0x88});
    return std::uint16_t(r[0] << 8 | r[1]);
  }
  void length(std::uint32_t u) {
    command({0x09, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)});
  }
  std::uint32_t frame(std::vector<std::uint8_t>& out) {
    std::uint8_t trigger[64] = {0x02};
    std::uint32_t moved = 0;
    EXPECT_TRUE(control(kCodeReadPipe, 0, trigger, 64, &moved));
    control(kCodeFrameRead, 2, out.data(), std::uint32_t(out.size()), &moved);
    return moved;
  }

private:
  VirtualDriver& d_;
  DeviceHandle h_ = nullptr;
};

// Programs a window the way the library does (code 0 or 1, no mirror) and the frame transfer length.
std::uint32_t program(Wire& w, int x, int y, int width, int height, bool halfSkip, std::uint16_t mirror = 0) {
  const int ow = halfSkip ? width / 2 : width, oh = halfSkip ? height / 2 : height;
  const int blanking = width < 1080 ? 1192 - width : 112;
  const int line = halfSkip ? blanking + std::max(1080, ow) : blanking + width;
  w.write(0x0104, 1);
  w.write(0x3040, std::uint16_t((halfSkip ? 0x02C3 : 0x0241) | mirror));
  w.write(0x0344, std::uint16_t(x + 56));
  w.write(0x0348, std::uint16_t(x + width + 55));
  w.write(0x0346, std::uint16_t(y + 8));
  w.write(0x034A, std::uint16_t(y + height + 7));
  w.write(0x034C, std::uint16_t(ow));
  w.write(0x034E, std::uint16_t(oh));
  w.write(0x0342, std::uint16_t(line));
  w.write(0x0340, std::uint16_t(oh + 143));
  w.write(0x0104, 0);
  const std::uint32_t u = transferLengthFor(line, 2, oh);
  w.length(u);
  return u;
}

const std::uint16_t kInitialClock[][2] = {{0x0300, 4}, {0x0302, 2}, {0x0304, 1}, {0x0306, 0x30},
                                          {0x0308, 8}, {0x030A, 2}, {0x0306, 0x10}};

} // namespace

TEST(SimSensor, PllRegistersGiveThePixelClockAndFrameTime) {
  VirtualDriver d({0});
  Wire w(d);
  for (const auto& r : kInitialClock) w.write(r[0], r[1]);
  EXPECT_DOUBLE_EQ(d.camera(0)->sensor().pixelClockHz(), 48e6);
  program(w, 0, 0, 3840, 2748, false);
  EXPECT_NEAR(d.camera(0)->frameTimeMicros(), 3952.0 * 2891 / 48.0, 1e-6); // about 238 ms
  program(w, 0, 0, 3840, 2748, true);
  EXPECT_NEAR(d.camera(0)->frameTimeMicros(), 2032.0 * 1517 / 48.0, 1e-6); // about 64 ms
  w.write(0x0302, 4);
  w.write(0x030A, 4);
  EXPECT_DOUBLE_EQ(d.camera(0)->sensor().pixelClockHz(), 24e6);
}

TEST(SimSensor, GroupedHoldDefersTheWindowToTheRelease) {
  SensorModel s;
  s.write(0x0104, 1);
  s.write(0x034C, 100);
  s.write(0x3040, 0x4241);
  EXPECT_EQ(s.read(0x034C), 100);              // reads show what was written
  EXPECT_NE(s.readout().outputWidth, 100);     // the readout keeps the old window
  EXPECT_EQ(s.read(0x0100), 0);                // and the old mirror state
  s.write(0x0104, 0);
  EXPECT_EQ(s.readout().outputWidth, 100);
  EXPECT_EQ(s.read(0x0100), 1);
  s.write(0x3040, 0x8241);
  EXPECT_EQ(s.read(0x0100), 2);
  s.write(0x0100, 0xFFFF); // the mirror report is not writable
  EXPECT_EQ(s.read(0x0100), 2);
}

TEST(SimSensor, ReadoutKeepsColumnPairsWhenSkippingAndReadsBackwardsMirrored) {
  SensorModel s;
  s.write(0x0344, 56);
  s.write(0x0348, 3895);
  s.write(0x0346, 8);
  s.write(0x034A, 2755);
  s.write(0x3040, 0x02C3);
  SensorReadout r = s.readout();
  EXPECT_EQ(r.skipX, 2);
  EXPECT_EQ(r.skipY, 2);
  EXPECT_EQ(r.sensorColumn(0), 56);
  EXPECT_EQ(r.sensorColumn(1), 57);
  EXPECT_EQ(r.sensorColumn(2), 60);
  EXPECT_EQ(r.sensorColumn(3), 61);
  s.write(0x3040, 0x03C7 | 0x4000);
  r = s.readout();
  EXPECT_EQ(r.skipX, 4);
  EXPECT_EQ(r.sensorColumn(0), 3895);
  EXPECT_EQ(r.sensorColumn(1), 3894);
  EXPECT_EQ(r.sensorColumn(2), 3887);
  EXPECT_EQ(r.sensorRow(1), 9);
  s.write(0x3040, 0x0200);
  EXPECT_EQ(s.readout().skipX, 1);
}

// With the default window and no mirroring the raw samples come green/red on even rows and blue/green
// on odd rows (Bayer mode 3); a horizontal mirror starts on an odd column (mode 1), a vertical on an
// odd row (mode 2), a window one column to the right shifts the phase (mode 0).
TEST(SimScene, ColourPhaseFollowsTheAbsoluteSensorPosition) {
  struct Case {
    int x, y;
    std::uint16_t mirror;
    int colours[4]; // (0,0), (0,1), (1,0), (1,1): 0 green 1 blue 2 red 3 green 2
  } cases[] = {
      {0, 0, 0, {0, 2, 1, 3}},
      {0, 0, 0x4000, {2, 0, 3, 1}},
      {0, 0, 0x8000, {1, 3, 0, 2}},
      {1, 0, 0, {2, 0, 3, 1}},
      {0, 1, 0, {1, 3, 0, 2}},
  };
  for (const Case& c : cases) {
    SensorModel s;
    s.write(0x0344, std::uint16_t(c.x + 56));
    s.write(0x0348, std::uint16_t(c.x + 1000 + 55));
    s.write(0x0346, std::uint16_t(c.y + 8));
    s.write(0x034A, std::uint16_t(c.y + 1000 + 7));
    s.write(0x3040, std::uint16_t(0x0241 | c.mirror));
    const SensorReadout r = s.readout();
    EXPECT_EQ(filterColourAt(r.sensorRow(0), r.sensorColumn(0)), c.colours[0]) << c.x << c.y << c.mirror;
    EXPECT_EQ(filterColourAt(r.sensorRow(0), r.sensorColumn(1)), c.colours[1]);
    EXPECT_EQ(filterColourAt(r.sensorRow(1), r.sensorColumn(0)), c.colours[2]);
    EXPECT_EQ(filterColourAt(r.sensorRow(1), r.sensorColumn(1)), c.colours[3]);
  }
}

TEST(SimScene, LevelFollowsExposureAndGainAndSaturates) {
  EXPECT_EQ(sampleLevel(0.5, 0, 2748, 64), 2047);
  EXPECT_EQ(sampleLevel(0.5, 0, 1374, 64), 1023);
  EXPECT_EQ(sampleLevel(0.5, 0, 2748, 32), 1023);
  EXPECT_EQ(sampleLevel(0.5, 0, 2748, 127), 4063);
  EXPECT_EQ(sampleLevel(0.9, 0, 8192, 64), 4095);
  EXPECT_EQ(sampleLevel(0.5, 0, 2748, 0), 0);
  // Warm light: a neutral surface gives more red than green, more green than blue.
  EXPECT_GT(sampleLevel(0.5, 2, 2748, 64), sampleLevel(0.5, 0, 2748, 64));
  EXPECT_GT(sampleLevel(0.5, 0, 2748, 64), sampleLevel(0.5, 1, 2748, 64));
}

TEST(SimFrames, TransferLayoutLeadingLinesBlankingImageFiller) {
  VirtualDriver d({0});
  Wire w(d);
  w.write(0x0202, 2748);
  const std::uint32_t u = program(w, 0, 0, 640, 480, false);
  const int pitch = 1192;
  std::vector<std::uint8_t> buf(u);
  ASSERT_EQ(w.frame(buf), u);
  std::vector<std::uint8_t> second(u);
  ASSERT_EQ(w.frame(second), u);
  // The frame counter in the first positions of the leading line.
  const std::uint32_t n0 = std::uint32_t(buf[0]) | buf[1] << 8 | buf[2] << 16 | std::uint32_t(buf[3]) << 24;
  const std::uint32_t n1 = std::uint32_t(second[0]) | second[1] << 8 | second[2] << 16 | std::uint32_t(second[3]) << 24;
  EXPECT_EQ(n1, n0 + 1);
  // Blanking before position 5 and after the image in every image line; filler after the last line.
  for (int y = 2; y < 2 + 480; ++y) {
    for (int x = 0; x < 5; ++x) ASSERT_EQ(buf[std::size_t(y) * pitch + x], buf[std::size_t(2) * pitch]);
    for (int x = 5 + 640; x < pitch; ++x) ASSERT_EQ(buf[std::size_t(y) * pitch + x], buf[std::size_t(2) * pitch]);
  }
  const std::uint8_t blank = buf[std::size_t(2) * pitch];
  const std::size_t end = std::size_t(482) * pitch;
  for (std::size_t k = end; k < u; ++k) ASSERT_NE(buf[k], blank);
  // The image itself: frame number strip then scene; the two frames differ only by strip and bar.
  const std::uint8_t* image = buf.data() + std::size_t(2) * pitch + 5;
  EXPECT_EQ(image[4 * pitch + 4], (n0 & 1) ? 255 : 0);
  EXPECT_EQ(image[4 * pitch + 12], (n0 & 2) ? 255 : 0);
  int differing = 0;
  for (int i = 8; i < 480; ++i)
    for (int j = 0; j < 640; ++j) differing += image[i * pitch + j] != second[std::size_t(2 + i) * pitch + 5 + j];
  EXPECT_EQ(differing, 0); // the bar moves in rows below this window
}

TEST(SimFrames, SixteenBitModeSplitsTheSampleWithJunkAbove) {
  VirtualDriver d({0});
  Wire w(d);
  w.write(0x0202, 2748);
  const std::uint32_t u = program(w, 0, 0, 640, 480, false);
  std::vector<std::uint8_t> narrow(u), wide(2 * u);
  ASSERT_EQ(w.frame(narrow), u);
  w.command({0x0A, 1});
  ASSERT_EQ(w.frame(wide), 2 * u);
  int junk = 0;
  for (int i = 8; i < 480; ++i)
    for (int j = 0; j < 640; ++j) {
      const std::size_t k = std::size_t(2 + i) * 1192 + 5 + j;
      ASSERT_EQ(wide[2 * k], narrow[k]); // bits 11..4 are the 8-bit sample
      junk += (wide[2 * k + 1] >> 4) != 0;
    }
  EXPECT_GT(junk, 0);
}

TEST(SimFrames, ReadsOfAnotherLengthMoveFewerBytes) {
  VirtualDriver d({0});
  Wire w(d);
  const std::uint32_t u = program(w, 0, 0, 640, 480, false);
  std::vector<std::uint8_t> longer(u + 1024), shorter(u - 1);
  EXPECT_EQ(w.frame(longer), u);
  EXPECT_EQ(w.frame(shorter), 0u);
  d.camera(0)->shortFrameReads(1);
  std::vector<std::uint8_t> exact(u);
  EXPECT_EQ(w.frame(exact), u - 1);
  EXPECT_EQ(w.frame(exact), u);
}

TEST(SimFrames, UnplugFailsReadsAndOpens) {
  VirtualDriver d({0});
  Wire w(d);
  const std::uint32_t u = program(w, 0, 0, 640, 480, false);
  d.camera(0)->unplugAfter(2);
  std::vector<std::uint8_t> buf(u);
  EXPECT_EQ(w.frame(buf), u);
  EXPECT_EQ(w.frame(buf), u);
  std::uint32_t moved = 7;
  std::uint8_t in[4] = {2, 0, 0, 0};
  EXPECT_FALSE(d.Control(reinterpret_cast<DeviceHandle>(0x1000), kCodeFrameRead, in, 4, buf.data(), u, &moved));
  EXPECT_EQ(moved, 0u);
  Wire again(d);
  EXPECT_FALSE(again.ok());
}

TEST(SimDriver, EnvironmentListsSlotsPaceAndUnplug) {
  auto d = VirtualDriver::fromEnvironment("0,2", "fast", nullptr);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->slots(), (std::vector<int>{0, 2}));
  EXPECT_EQ(d->camera(1), nullptr);
  EXPECT_EQ(d->camera(2)->pace(), Pace::Fast);
  Wire w1(*d, 1), w2(*d, 2);
  EXPECT_FALSE(w1.ok());
  EXPECT_TRUE(w2.ok());
  EXPECT_EQ(VirtualDriver::fromEnvironment(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(VirtualDriver::fromEnvironment("", nullptr, nullptr), nullptr);
  EXPECT_EQ(VirtualDriver::fromEnvironment("x,y", nullptr, nullptr), nullptr);
  auto s = VirtualDriver::fromEnvironment(" 3 ", nullptr, "5");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->camera(3)->pace(), Pace::Sensor); // the sensor's pace unless asked otherwise
  EXPECT_EQ(d->openHandles(), 1);
}

TEST(SimDriver, SerialRomAndPortPowerOnAndProtocolChecks) {
  VirtualDriver d({0});
  Wire w(d);
  EXPECT_EQ(w.command({0x21, 5})[0], 0);
  for (int a = 8; a < 16; ++a) EXPECT_EQ(w.command({0x21, std::uint8_t(a)})[0], 128);
  w.command({0x20, 9, 42});
  EXPECT_EQ(w.command({0x21, 9})[0], 42);
  d.camera(0)->setInputs(false, true);
  EXPECT_EQ(w.command({0x29})[0], 0x10);
  w.command({0x28, 0xFF});
  EXPECT_EQ(d.camera(0)->ioPort(), 0xF7); // input 3 stays low, input 4 high
  EXPECT_TRUE(d.camera(0)->violations().empty());
  // A register read without its fixed bytes, an unknown command: the camera notes both.
  w.command({0x0C, 0x30, 0x56, 0x00, 0x88});
  w.command({0x77});
  EXPECT_EQ(d.camera(0)->violations().size(), 2u);
  // A command's answer is read after the acknowledgement; extra reads give zeros.
  std::uint32_t moved = 0;
  std::vector<std::uint8_t> reply(64, 0xEE);
  EXPECT_TRUE(w.control(kCodeReadPipe, 1, reply.data(), 64, &moved));
  EXPECT_EQ(reply, std::vector<std::uint8_t>(64, 0));
}
