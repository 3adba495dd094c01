// Unpacking a full-frame transfer, against a plain copy of the same bytes measured in the same run, and
// the virtual camera's cost of making one full frame (what a pace=fast stream is bounded by).
#include "device/UnpackFrame.h"
#include "sim/VirtualDriver.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

tovira::FrameGeometry fullFrame() {
  tovira::FrameGeometry g;
  g.linePitch = 3952;
  g.firstColumn = 5;
  g.activeWidth = 3840;
  g.totalLines = 2891;
  g.firstLine = 2;
  g.activeLines = 2748;
  g.ringCount = 4;
  g.transferLength = tovira::transferLengthFor(3952, 2, 2748);
  return g;
}

void unpack(benchmark::State& state, bool wide) {
  const tovira::FrameGeometry g = fullFrame();
  std::vector<std::uint8_t> src(2 * std::size_t(g.transferLength), 0x5A), dst(tovira::unpackedFrameBytes(g, wide));
  for (auto _ : state) {
    tovira::UnpackFrame(dst.data(), src.data(), g, wide);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(dst.size()));
}

// Reference: one memcpy of as many bytes as the destination holds.
void copyReference(benchmark::State& state, bool wide) {
  const tovira::FrameGeometry g = fullFrame();
  std::vector<std::uint8_t> src(2 * std::size_t(g.transferLength), 0x5A), dst(tovira::unpackedFrameBytes(g, wide));
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), dst.size());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(dst.size()));
}

void virtualFrame(benchmark::State& state, bool wide) {
  tovira::VirtualDriver driver({0}, tovira::Pace::Fast);
  driver.setLogging(false);
  tovira::DeviceHandle h = driver.Open("\\\\.\\TovKX400-0");
  auto send = [&](std::vector<std::uint8_t> p) {
    p.resize(64);
    std::uint8_t pipe[4] = {0, 0, 0, 0};
    std::uint32_t moved;
    driver.Control(h, tovira::kCodeWritePipe, pipe, 4, p.data(), 64, &moved);
  };
  const std::uint32_t u = fullFrame().transferLength;
  send({0x09, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)});
  send({0x0A, std::uint8_t(wide ? 1 : 0)});
  // Power-on window is the full frame; line length as the library programs it.
  send({0x04, 0x03, 0x42, 0x0F, 0x70});
  std::vector<std::uint8_t> buffer(std::size_t(u) * (wide ? 2 : 1));
  std::uint8_t pipe[4] = {2, 0, 0, 0};
  for (auto _ : state) {
    std::uint32_t moved = 0;
    driver.Control(h, tovira::kCodeFrameRead, pipe, 4, buffer.data(), std::uint32_t(buffer.size()), &moved);
    benchmark::DoNotOptimize(buffer.data());
  }
  driver.Close(h);
}

} // namespace

BENCHMARK_CAPTURE(copyReference, full_8bit, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(unpack, full_8bit, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copyReference, full_16bit, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(unpack, full_16bit, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(virtualFrame, full_8bit, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(virtualFrame, full_16bit, true)->Unit(benchmark::kMillisecond);
