// The virtual camera's exposure in time: a long exposure lengthens the frame, a new exposure or gain
// reaches the frame after the one in flight, and every frame reports in its leading line the exposure
// and gains it was taken with.
#include "device/FrameGeometry.h"
#include "sim/VirtualCamera.h"
#include "sim/VirtualDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tovira;

namespace {

constexpr int kPitch = 1192;  // line length of a 640-wide window

class Stream {
public:
  explicit Stream(VirtualDriver& d) : d_(d) { h_ = d_.Open("\\\\.\\TovKX400-0"); }
  ~Stream() { d_.Close(h_); }
  bool control(std::uint32_t code, std::uint32_t pipe, void* buffer, std::uint32_t length) {
    std::uint8_t in[4] = {std::uint8_t(pipe), 0, 0, 0};
    std::uint32_t moved = 0;
    return d_.Control(h_, code, in, 4, buffer, length, &moved);
  }
  void command(std::vector<std::uint8_t> bytes) {
    bytes.resize(64, 0);
    std::vector<std::uint8_t> reply(64);
    control(kCodeWritePipe, 0, bytes.data(), 64);
    control(kCodeReadPipe, 1, reply.data(), 64);
    control(kCodeReadPipe, 1, reply.data(), 64);
  }
  void write(std::uint16_t a, std::uint16_t v) {
    command({0x04, std::uint8_t(a >> 8), std::uint8_t(a), std::uint8_t(v >> 8), std::uint8_t(v)});
  }
  // A 640 x 480 window in the middle of the sensor, without skipping.
  std::uint32_t program() {
    write(0x0104, 1);
    write(0x3040, 0x0241);
    write(0x0344, 1000 + 56);
    write(0x0348, 1000 + 640 + 55);
    write(0x0346, 1000 + 8);
    write(0x034A, 1000 + 480 + 7);
    write(0x034C, 640);
    write(0x034E, 480);
    write(0x0342, kPitch);
    write(0x0340, 480 + 143);
    write(0x0104, 0);
    const std::uint32_t u = transferLengthFor(kPitch, 2, 480);
    command({0x09, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)});
    return u;
  }
  // One frame of a running stream (trigger, then read) or a single read without a trigger.
  std::vector<std::uint8_t> frame(std::uint32_t u, bool triggered = true) {
    std::vector<std::uint8_t> out(u);
    if (triggered) {
      std::uint8_t trigger[64] = {0x02};
      control(kCodeReadPipe, 0, trigger, 64);
    }
    control(kCodeFrameRead, 2, out.data(), u);
    return out;
  }

private:
  VirtualDriver& d_;
  DeviceHandle h_ = nullptr;
};

struct Report {
  int exposureLines, globalGain, gains[4];
};

Report ReportOf(const std::vector<std::uint8_t>& f) {
  EXPECT_EQ(f[11], VirtualCamera::kReportMarker);
  return {f[4] | f[5] << 8, f[6], {f[7], f[8], f[9], f[10]}};
}

// Mean of the image rows below the frame-number strip, 8-bit scale.
double Mean(const std::vector<std::uint8_t>& f) {
  double sum = 0;
  int count = 0;
  for (int i = 16; i < 480; ++i)
    for (int j = 0; j < 640; ++j, ++count) sum += f[std::size_t(2 + i) * kPitch + 5 + j];
  return sum / count;
}

}  // namespace

TEST(SimExposure, AnExposureLongerThanTheFrameLengthensTheFrame) {
  VirtualDriver d({0});
  Stream s(d);
  s.program();
  const double clock = d.camera(0)->sensor().pixelClockHz();
  s.write(0x0202, 100);
  EXPECT_NEAR(d.camera(0)->frameTimeMicros(), kPitch * 623.0 / clock * 1e6, 1e-6);  // the frame length rules
  s.write(0x0202, 622);
  EXPECT_NEAR(d.camera(0)->frameTimeMicros(), kPitch * 623.0 / clock * 1e6, 1e-6);  // just fits
  s.write(0x0202, 5000);
  EXPECT_NEAR(d.camera(0)->frameTimeMicros(), kPitch * 5001.0 / clock * 1e6, 1e-6);
}

TEST(SimExposure, ANewExposureReachesTheFrameAfterTheOneInFlightAndEachFrameReportsItsOwn) {
  VirtualDriver d({0});
  Stream s(d);
  s.write(0x0202, 500);
  const std::uint32_t u = s.program();
  const auto first = s.frame(u);  // the first frame of a stream integrates with what is set
  EXPECT_EQ(ReportOf(first).exposureLines, 500);
  s.write(0x0202, 1500);  // while the next frame is already integrating
  const auto inFlight = s.frame(u);
  const auto after = s.frame(u);
  EXPECT_EQ(ReportOf(inFlight).exposureLines, 500);
  EXPECT_EQ(ReportOf(after).exposureLines, 1500);
  EXPECT_NEAR(Mean(inFlight), Mean(first), 0.5);
  EXPECT_NEAR(Mean(after), 3 * Mean(first), 0.03 * 3 * Mean(first) + 1);
  // Gains likewise: the global gain code sets all four colour gains.
  s.write(0x305E, 32);
  const auto gainInFlight = s.frame(u);
  const auto gainAfter = s.frame(u);
  EXPECT_EQ(ReportOf(gainInFlight).globalGain, 64);
  EXPECT_EQ(ReportOf(gainInFlight).gains[2], 64);
  const Report r = ReportOf(gainAfter);
  EXPECT_EQ(r.globalGain, 32);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(r.gains[c], 32) << c;
  EXPECT_NEAR(Mean(gainAfter), Mean(after) / 2, 0.03 * Mean(after) + 1);
}

TEST(SimExposure, ASingleReadOrANewStreamStartsFromTheExposureSet) {
  VirtualDriver d({0});
  std::uint32_t u = 0;
  {
    Stream s(d);
    s.write(0x0202, 1000);
    u = s.program();
    s.frame(u);
    s.frame(u);
    s.write(0x0202, 2000);
    // A read without a trigger starts a frame from an idle sensor.
    EXPECT_EQ(ReportOf(s.frame(u, false)).exposureLines, 2000);
    s.write(0x0202, 500);
    s.frame(u);
    s.write(0x0202, 700);
  }
  // The stream of a new handle starts idle too, however the last one ended.
  Stream again(d);
  EXPECT_EQ(ReportOf(again.frame(u)).exposureLines, 700);
  // Sixteen-bit transfers carry the report in the first byte of each position.
  again.command({0x0A, 1});
  const auto wide = again.frame(2 * u);
  EXPECT_EQ(wide[2 * 11], VirtualCamera::kReportMarker);
  EXPECT_EQ(wide[2 * 4] | wide[2 * 5] << 8, 700);
}
