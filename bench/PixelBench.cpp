// Pixel core benchmarks on one core at the sensor's full frame, with ratios against references measured
// in the same run (OpenCV's Bayer conversion, memcpy of the same bytes). OpenCV is a reference only.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/Restride.h"
#include "pipeline/RowBandPool.h"
#include "pipeline/VectorPath.h"
#include "pipeline/Sharpen.h"
#include "pipeline/Tone.h"

namespace {

using namespace tovira;

constexpr int32_t kWidth = 3840, kHeight = 2748;

class Image {
 public:
  Image(int32_t width, int32_t height, uint16_t bits) {
    view_.width = width;
    view_.height = height;
    view_.bitsPerPixel = bits;
    view_.stride = (width * (bits / 8) + 3) & ~3;
    buffer_.assign(static_cast<size_t>(view_.stride) * height, 0);
    view_.pixels = buffer_.data();
  }
  const ImageView& view() const { return view_; }
  uint8_t* data() { return buffer_.data(); }
  size_t bytes() const { return buffer_.size(); }

 private:
  std::vector<uint8_t> buffer_;
  ImageView view_;
};

// A smooth scene with mild noise, like a real picture through a Bayer filter (few defect candidates).
void FillScene(Image& raw) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(-3, 3);
  const ImageView& v = raw.view();
  const bool wide = v.bitsPerPixel == 16;
  for (int32_t y = 0; y < v.height; ++y)
    for (int32_t x = 0; x < v.width; ++x) {
      int level = 60 + (x * 120) / v.width + (y * 60) / v.height + ((x & 1) ? 20 : 0) + noise(rng);
      if (wide) {
        const uint16_t s = static_cast<uint16_t>(level << 4);
        std::memcpy(v.row(y) + 2 * x, &s, 2);
      } else {
        v.row(y)[x] = static_cast<uint8_t>(level);
      }
    }
}

struct Frames {
  Image raw8{kWidth, kHeight, 8}, raw16{kWidth, kHeight, 16};
  Image bgr24{kWidth, kHeight, 24}, bgr32{kWidth, kHeight, 32}, bgr48{kWidth, kHeight, 48},
      bgr64{kWidth, kHeight, 64};
  Image scratch24{kWidth, kHeight, 24}, scratch8{kWidth, kHeight, 8}, scratch16{kWidth, kHeight, 16},
      scratch32{kWidth, kHeight, 32}, scratch48{kWidth, kHeight, 48}, scratch64{kWidth, kHeight, 64};
  Image out8{kWidth, kHeight, 8}, out16{kWidth, kHeight, 16};
  // Untouched copies of the raw frames: the defect filter and the grey stages work in place on the raw
  // image, so every timed frame starts again from these (as every streamed frame is a new one).
  Image fresh8{kWidth, kHeight, 8}, fresh16{kWidth, kHeight, 16};
  Frames() {
    FillScene(fresh8);
    FillScene(fresh16);
    Refresh();
  }
  void Refresh() {
    std::memcpy(raw8.data(), fresh8.data(), raw8.bytes());
    std::memcpy(raw16.data(), fresh16.data(), raw16.bytes());
  }
  void Refresh(const Image& raw) {
    if (&raw == &raw8) std::memcpy(raw8.data(), fresh8.data(), raw8.bytes());
    else std::memcpy(raw16.data(), fresh16.data(), raw16.bytes());
  }
};

Frames& Shared() {
  static Frames frames;
  return frames;
}

// ---- demosaic against OpenCV -------------------------------------------------------------------

void BM_OpenCvBayerToBgr8(benchmark::State& state) {
  cv::setNumThreads(1);
  Frames& f = Shared();
  cv::Mat src(kHeight, kWidth, CV_8UC1, f.raw8.data(), f.raw8.view().stride);
  cv::Mat dst(kHeight, kWidth, CV_8UC3, f.bgr24.data(), f.bgr24.view().stride);
  for (auto _ : state) {
    cv::cvtColor(src, dst, cv::COLOR_BayerGB2BGR);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OpenCvBayerToBgr8)->Unit(benchmark::kMillisecond);

void BM_OpenCvBayerToBgr16(benchmark::State& state) {
  cv::setNumThreads(1);
  Frames& f = Shared();
  cv::Mat src(kHeight, kWidth, CV_16UC1, f.raw16.data(), f.raw16.view().stride);
  cv::Mat dst(kHeight, kWidth, CV_16UC3, f.bgr48.data(), f.bgr48.view().stride);
  for (auto _ : state) {
    cv::cvtColor(src, dst, cv::COLOR_BayerGB2BGR);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OpenCvBayerToBgr16)->Unit(benchmark::kMillisecond);

void Demosaic(const ImageView& target, const ImageView& raw) {
  ColourRecord colour{0, 130, 100, 110};
  const bool wide = raw.bitsPerPixel == 16;
  ApplyKernel(target, wide ? DemosaicInterior16 : DemosaicInterior8, raw, nullptr, 0, 0, &colour);
  ApplyKernel(target, wide ? DemosaicBorder16 : DemosaicBorder8, raw, nullptr, 0, 0, &colour);
}

void BM_Demosaic8To24(benchmark::State& state) {
  Frames& f = Shared();
  for (auto _ : state) {
    Demosaic(f.bgr24.view(), f.raw8.view());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Demosaic8To24)->Unit(benchmark::kMillisecond);

void BM_Demosaic8To32(benchmark::State& state) {
  Frames& f = Shared();
  for (auto _ : state) {
    Demosaic(f.bgr32.view(), f.raw8.view());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Demosaic8To32)->Unit(benchmark::kMillisecond);

void BM_Demosaic16To48(benchmark::State& state) {
  Frames& f = Shared();
  for (auto _ : state) {
    Demosaic(f.bgr48.view(), f.raw16.view());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Demosaic16To48)->Unit(benchmark::kMillisecond);

// The same on the SSE2 path only (CPUs without AVX2).
void BenchDemosaicSse2(benchmark::State& state, const ImageView& target, const ImageView& raw) {
  SetDemosaicPath(DemosaicPath::kSse2);
  for (auto _ : state) {
    Demosaic(target, raw);
    benchmark::ClobberMemory();
  }
  SetDemosaicPath(DemosaicPath::kAuto);
}
void BM_Demosaic8To24Sse2(benchmark::State& s) { BenchDemosaicSse2(s, Shared().bgr24.view(), Shared().raw8.view()); }
void BM_Demosaic16To48Sse2(benchmark::State& s) { BenchDemosaicSse2(s, Shared().bgr48.view(), Shared().raw16.view()); }
BENCHMARK(BM_Demosaic8To24Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Demosaic16To48Sse2)->Unit(benchmark::kMillisecond);

// The defect filter works in place: each iteration filters a fresh copy of the noisy frame (the copy
// is not timed), never a frame it already filtered.
void BenchDefectFilter(benchmark::State& state, Image& raw) {
  Frames& f = Shared();
  ColourRecord colour{0, 100, 100, 100};
  ThresholdRecord threshold{30};
  for (auto _ : state) {
    state.PauseTiming();
    f.Refresh(raw);
    state.ResumeTiming();
    ApplyKernel(raw.view(), FilterDefectPixels, raw.view(), nullptr, 0, 0, &colour, &threshold);
    benchmark::ClobberMemory();
  }
  f.Refresh(raw);
}
void BM_DefectFilter8(benchmark::State& state) { BenchDefectFilter(state, Shared().raw8); }
void BM_DefectFilter16(benchmark::State& state) { BenchDefectFilter(state, Shared().raw16); }
BENCHMARK(BM_DefectFilter8)->Unit(benchmark::kMillisecond);
// The 8-bit filter as the pipeline runs it on a pool of two threads: candidates marked band by band on
// both threads, then the scan over the marked groups on this one (wall time).
struct DefectMarkJob {
  ImageView frame;
  uint8_t* marks;
};
void MarkDefectBand8(void* context, int32_t band, int32_t bands) {
  const auto& job = *static_cast<const DefectMarkJob*>(context);
  int32_t begin, end;
  BandRows(job.frame.height, band, bands, begin, end);
  MarkDefectCandidates8(job.frame, 30, begin, end, job.marks);
}
void BM_DefectFilter8Threads2(benchmark::State& state) {
  Frames& f = Shared();
  static RowBandPool pool(2);
  const ImageView frame = f.raw8.view();
  DefectMarkJob job{frame, pool.scratch(DefectMarkBytes(frame.width, frame.height))};
  const ColourRecord colour{0, 100, 100, 100};
  for (auto _ : state) {
    state.PauseTiming();
    f.Refresh(f.raw8);
    state.ResumeTiming();
    pool.run(16, MarkDefectBand8, &job);
    benchmark::DoNotOptimize(FilterMarkedDefects8(frame, 30, colour, job.marks));
    benchmark::ClobberMemory();
  }
  f.Refresh(f.raw8);
}
BENCHMARK(BM_DefectFilter8Threads2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DefectFilter16)->Unit(benchmark::kMillisecond);
// The 16-bit filter held to its SSE2 path (CPUs without AVX2) and to its AVX2 path.
void BM_DefectFilter16Sse2(benchmark::State& state) {
  SetVectorPath(VectorPath::kSse2);
  BenchDefectFilter(state, Shared().raw16);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_DefectFilter16Sse2)->Unit(benchmark::kMillisecond);
void BM_DefectFilter16Avx2(benchmark::State& state) {
  SetVectorPath(VectorPath::kAvx2);
  BenchDefectFilter(state, Shared().raw16);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_DefectFilter16Avx2)->Unit(benchmark::kMillisecond);

// ---- copies and conversions against memcpy of the same bytes ------------------------------------

void BM_MemcpyRaw8(benchmark::State& state) {
  Frames& f = Shared();
  for (auto _ : state) {
    std::memcpy(f.out8.data(), f.raw8.data(), f.raw8.bytes());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyRaw8)->Unit(benchmark::kMillisecond);

void BM_RestrideRows8(benchmark::State& state) {
  // Width 3838 keeps two padding bytes per row, so every row moves.
  Image raw(kWidth - 2, kHeight, 8);
  for (auto _ : state) {
    ApplyKernel(raw.view(), RestrideRows8, raw.view());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RestrideRows8)->Unit(benchmark::kMillisecond);

template <int SourceIndex>
const Image& SourceOf(Frames& f) {
  if constexpr (SourceIndex == 16) return f.raw16;
  else if constexpr (SourceIndex == 32) return f.bgr32;
  else if constexpr (SourceIndex == 48) return f.bgr48;
  else if constexpr (SourceIndex == 64) return f.bgr64;
  else return f.bgr24;
}

void BenchConvert(benchmark::State& state, PixelKernel kernel, const Image& source, const Image& target) {
  for (auto _ : state) {
    ApplyKernel(target.view(), kernel, source.view());
    benchmark::ClobberMemory();
  }
}

void BenchMemcpy(benchmark::State& state, const Image& source, Image& target) {
  const size_t n = std::min(source.bytes(), target.bytes());
  for (auto _ : state) {
    std::memcpy(target.data(), source.view().pixels, n);
    benchmark::ClobberMemory();
  }
}

void BM_MemcpyBgr24(benchmark::State& state) { BenchMemcpy(state, Shared().bgr24, Shared().scratch24); }
void BM_MemcpyBgr48(benchmark::State& state) { BenchMemcpy(state, Shared().bgr48, Shared().scratch48); }
void BM_MemcpyRaw16(benchmark::State& state) { BenchMemcpy(state, Shared().raw16, Shared().scratch16); }
void BM_MemcpyBgr32(benchmark::State& state) { BenchMemcpy(state, Shared().bgr32, Shared().scratch32); }
BENCHMARK(BM_MemcpyBgr24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBgr48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyRaw16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBgr32)->Unit(benchmark::kMillisecond);

#define CONVERSION_BENCH(kernel, source, target)                                      \
  void BM_##kernel(benchmark::State& state) {                                         \
    BenchConvert(state, kernel, Shared().source, Shared().target);                    \
  }                                                                                   \
  BENCHMARK(BM_##kernel)->Unit(benchmark::kMillisecond);

CONVERSION_BENCH(Gray16To8Shift4, raw16, out8)
CONVERSION_BENCH(Gray16To8Shift4Flip, raw16, out8)
CONVERSION_BENCH(Gray16Expand4, raw16, scratch16)
CONVERSION_BENCH(Bgr32To24, bgr32, scratch24)
CONVERSION_BENCH(Bgr48To24Shift4, bgr48, scratch24)
CONVERSION_BENCH(Bgr48To24Shift4Flip, bgr48, scratch24)
CONVERSION_BENCH(Bgr48Expand4, bgr48, scratch48)
CONVERSION_BENCH(Bgr48ToRgb48Expand4, bgr48, scratch48)
CONVERSION_BENCH(Bgr48ToBgra64Expand4, bgr64, scratch64)
CONVERSION_BENCH(Bgr24CopyFlip, bgr24, scratch24)
CONVERSION_BENCH(RowsCopyFlip, bgr24, scratch24)
CONVERSION_BENCH(BgrToRgb24, bgr24, scratch24)
CONVERSION_BENCH(Bgrx32ToBgra32, bgr32, scratch32)

// ---- single stages on the demosaiced frame, against OpenCV's demosaic of the same depth --------------

// The stage runs in place on a demosaiced frame (the sharpness from a copy of it).
void BenchStage(benchmark::State& state, PixelKernel kernel, Image& image, Image* source, void* p, void* q = nullptr) {
  Frames& f = Shared();
  const bool wide = image.view().bitsPerPixel == 48;
  Demosaic(image.view(), wide ? f.raw16.view() : f.raw8.view());
  if (source) std::memcpy(source->data(), image.data(), image.bytes());
  for (auto _ : state) {
    ApplyKernel(image.view(), kernel, source ? source->view() : image.view(), nullptr, 0, 0, p, q);
    benchmark::ClobberMemory();
  }
}
// A stage benchmark held to the AVX2 bodies (the path of CPUs without AVX-512).
#define AVX2_BENCH(name, base)              \
  void name(benchmark::State& s) {          \
    SetVectorPath(VectorPath::kAvx2);       \
    base(s);                                \
    SetVectorPath(VectorPath::kAuto);       \
  }                                         \
  BENCHMARK(name)->Unit(benchmark::kMillisecond);

void BM_HueSaturationBgr8(benchmark::State& s) {
  HueSaturationRecord r{20, 0, 40, 12};
  BenchStage(s, HueSaturationBgr8, Shared().bgr24, nullptr, &r);
}
void BM_HueSaturationBgr16(benchmark::State& s) {
  HueSaturationRecord r{20, 0, 40, 12};
  BenchStage(s, HueSaturationBgr16, Shared().bgr48, nullptr, &r);
}
void BM_SharpenBgr8(benchmark::State& s) {
  ValueRecord r{8, 12};
  BenchStage(s, SharpenBgr8, Shared().bgr24, &Shared().scratch24, &r);
}
void BM_SharpenBgr16(benchmark::State& s) {
  ValueRecord r{8, 12};
  BenchStage(s, SharpenBgr16, Shared().bgr48, &Shared().scratch48, &r);
}
void BM_ToneTableBgr8(benchmark::State& s) {
  uint8_t table[256];
  ComposeToneTable8(ToneStages{true, true, false, 80, 10, 0}, true, table);
  ToneTableRecord r{table, 8};
  BenchStage(s, ToneTableBgr8, Shared().bgr24, nullptr, &r);
}
void BM_ToneTableBgr16(benchmark::State& s) {
  static uint16_t table[4096];
  ComposeToneTable16(ToneStages{true, true, false, 80, 10, 0}, 12, table);
  ToneTableRecord r{table, 12};
  BenchStage(s, ToneTableBgr16, Shared().bgr48, nullptr, &r);
}
// The table after the sharpness in mode 48: the brightness alone, computed on the AVX2 and AVX-512 paths.
void BM_BrightnessTableBgr16(benchmark::State& s) {
  static uint16_t table[4096];
  ComposeToneTable16(ToneStages{false, false, true, 100, 0, 10}, 12, table);
  ToneTableRecord r{table, 12};
  r.brightnessOnly = true;
  r.brightnessFactor = BrightnessFactor(10);
  BenchStage(s, ToneTableBgr16, Shared().bgr48, nullptr, &r);
}
// The two colour stages of mode 24 with every parameter active as the chain runs them: the
// hue/saturation with the gamma/contrast table applied to its results, the sharpness with the
// brightness after it.
void BM_HueSaturationBgr8Tone(benchmark::State& s) {
  HueSaturationRecord r{20, 0, 40, 12};
  uint8_t table[256];
  ComposeToneTable8(ToneStages{true, true, false, 80, 10, 0}, true, table);
  ToneTableRecord tone{table, 8};
  BenchStage(s, HueSaturationBgr8, Shared().bgr24, nullptr, &r, &tone);
}
void BM_SharpenBgr8Brightness(benchmark::State& s) {
  ValueRecord r{8, 12};
  uint8_t table[256];
  ComposeToneTable8(ToneStages{false, false, true, 100, 0, 10}, true, table);
  ToneTableRecord tone{table, 8};
  tone.brightnessOnly = true;
  tone.brightnessFactor = BrightnessFactor(10);
  BenchStage(s, SharpenBgr8, Shared().bgr24, &Shared().scratch24, &r, &tone);
}
BENCHMARK(BM_HueSaturationBgr8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HueSaturationBgr8Tone)->Unit(benchmark::kMillisecond);
AVX2_BENCH(BM_HueSaturationBgr8ToneAvx2, BM_HueSaturationBgr8Tone)
BENCHMARK(BM_SharpenBgr8Brightness)->Unit(benchmark::kMillisecond);
AVX2_BENCH(BM_SharpenBgr8BrightnessAvx2, BM_SharpenBgr8Brightness)
AVX2_BENCH(BM_HueSaturationBgr8Avx2, BM_HueSaturationBgr8)
AVX2_BENCH(BM_SharpenBgr8Avx2, BM_SharpenBgr8)
BENCHMARK(BM_HueSaturationBgr16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenBgr8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenBgr16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToneTableBgr8)->Unit(benchmark::kMillisecond);
// The 8-bit table without VBMI (the path of CPUs without AVX-512).
AVX2_BENCH(BM_ToneTableBgr8Avx2, BM_ToneTableBgr8)
BENCHMARK(BM_ToneTableBgr16)->Unit(benchmark::kMillisecond);
// The 16-bit table without the AVX-512 gathers (scalar reads).
AVX2_BENCH(BM_ToneTableBgr16Avx2, BM_ToneTableBgr16)
AVX2_BENCH(BM_HueSaturationBgr16Avx2, BM_HueSaturationBgr16)
AVX2_BENCH(BM_SharpenBgr16Avx2, BM_SharpenBgr16)
BENCHMARK(BM_BrightnessTableBgr16)->Unit(benchmark::kMillisecond);
AVX2_BENCH(BM_BrightnessTableBgr16Avx2, BM_BrightnessTableBgr16)

// ---- the frame pipeline -------------------------------------------------------------------------

class NoInstance : public FramePipelineHooks {
 public:
  bool isDeviceOpen() override { return false; }
  bool readGlobalGain(uint16_t*) override { return false; }
  bool writeGlobalGain(uint16_t) override { return false; }
  bool readExposure(uint32_t*) override { return false; }
  bool writeExposure(uint32_t) override { return false; }
  void recordError(int32_t) override {}
  void showAnalogueValue(int32_t, int32_t) override {}
  void reloadImageDialog() override {}
};

// Pools of 2 threads and of 1 (the same pool code, everything on the caller) for the thread rows.
RowBandPool* PoolOf(int32_t threads) {
  static RowBandPool one(1), two(2);
  return threads == 2 ? &two : threads == 1 ? &one : nullptr;
}

void BenchProcessFrame(benchmark::State& state, int32_t mode, bool active, int32_t threads = 0) {
  Frames& f = Shared();
  Image* scratch[] = {&f.scratch8, &f.scratch16, &f.scratch24, &f.scratch32, &f.scratch48, &f.scratch64};
  FrameImages images{f.raw8.view(), f.raw16.view(), f.bgr24.view(), f.bgr32.view(),
                     f.bgr48.view(), f.bgr64.view(), scratch[mode]->view()};
  ImageParameters parameters = NeutralImageParameters();
  if (active) {
    parameters.hue = 20, parameters.saturation = 40, parameters.gamma = 80, parameters.contrast = 10;
    parameters.sharpness = 8, parameters.brightness = 10;
    parameters.grayMode = 1, parameters.grayGainR = 140;
  }
  AnalogueState analogue{};
  NoInstance hooks;
  // The raw frame the mode reads (8-bit for modes 8, 24, 32; 16-bit for 16, 48, 64).
  const Image& raw = mode == kColourMode16 || mode == kColourMode48 || mode == kColourMode64 ? f.raw16 : f.raw8;
  for (auto _ : state) {
    // Every frame starts from a fresh raw frame (not timed): the pipeline filters and, in the grey
    // modes, processes the raw image in place, and a frame it already filtered is far quicker. Only
    // the frame the mode reads is copied, as the frame loop's unpacking has just written it; copying
    // the other one too (until the fifth round) pushed the 8-bit frame out of the cache, where
    // OpenCV's reference finds its source.
    state.PauseTiming();
    f.Refresh(raw);
    state.ResumeTiming();
    ProcessFrame(images, mode, parameters, analogue, hooks, PoolOf(threads));
    benchmark::ClobberMemory();
  }
  f.Refresh();
}

// The same on pools of 1 and 2 threads: wall time (the CPU time of the other threads does not show in
// this thread's), so these rows are run with UseRealTime.
#define THREAD_BENCH(bits, mode, threads)                                                                \
  void BM_ProcessFrame##bits##ActiveThreads##threads(benchmark::State& s) {                              \
    BenchProcessFrame(s, mode, true, threads);                                                           \
  }                                                                                                      \
  BENCHMARK(BM_ProcessFrame##bits##ActiveThreads##threads)->Unit(benchmark::kMillisecond)->UseRealTime();
THREAD_BENCH(24, kColourMode24, 1)
THREAD_BENCH(24, kColourMode24, 2)
THREAD_BENCH(48, kColourMode48, 1)
THREAD_BENCH(48, kColourMode48, 2)

// Scalar loops of the tone and colour kernels (the reference the vector paths are tested against).
void BM_ProcessFrame24ActiveScalar(benchmark::State& s) {
  SetVectorPath(VectorPath::kScalar);
  BenchProcessFrame(s, kColourMode24, true);
  SetVectorPath(VectorPath::kAuto);
}
void BM_ProcessFrame48ActiveScalar(benchmark::State& s) {
  SetVectorPath(VectorPath::kScalar);
  BenchProcessFrame(s, kColourMode48, true);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_ProcessFrame24ActiveScalar)->Unit(benchmark::kMillisecond);
// The tone and colour kernels held to their AVX2 bodies (CPUs without AVX-512).
void BM_ProcessFrame24ActiveAvx2(benchmark::State& s) {
  SetVectorPath(VectorPath::kAvx2);
  BenchProcessFrame(s, kColourMode24, true);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_ProcessFrame24ActiveAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessFrame48ActiveScalar)->Unit(benchmark::kMillisecond);
void BM_ProcessFrame48ActiveAvx2(benchmark::State& s) {
  SetVectorPath(VectorPath::kAvx2);
  BenchProcessFrame(s, kColourMode48, true);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_ProcessFrame48ActiveAvx2)->Unit(benchmark::kMillisecond);
// The SSE2 bodies (low-power CPUs without AVX2); the demosaic keeps the path it chose.
void BM_ProcessFrame24ActiveSse2(benchmark::State& s) {
  SetVectorPath(VectorPath::kSse2);
  BenchProcessFrame(s, kColourMode24, true);
  SetVectorPath(VectorPath::kAuto);
}
void BM_ProcessFrame48ActiveSse2(benchmark::State& s) {
  SetVectorPath(VectorPath::kSse2);
  BenchProcessFrame(s, kColourMode48, true);
  SetVectorPath(VectorPath::kAuto);
}
BENCHMARK(BM_ProcessFrame24ActiveSse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessFrame48ActiveSse2)->Unit(benchmark::kMillisecond);

#define PROCESS_BENCH(bits, mode)                                                                  \
  void BM_ProcessFrame##bits##Neutral(benchmark::State& s) { BenchProcessFrame(s, mode, false); } \
  void BM_ProcessFrame##bits##Active(benchmark::State& s) { BenchProcessFrame(s, mode, true); }   \
  BENCHMARK(BM_ProcessFrame##bits##Neutral)->Unit(benchmark::kMillisecond);                       \
  BENCHMARK(BM_ProcessFrame##bits##Active)->Unit(benchmark::kMillisecond);

PROCESS_BENCH(8, kColourMode8)
PROCESS_BENCH(16, kColourMode16)
PROCESS_BENCH(24, kColourMode24)
PROCESS_BENCH(32, kColourMode32)
PROCESS_BENCH(48, kColourMode48)
PROCESS_BENCH(64, kColourMode64)

// ---- ratios ---------------------------------------------------------------------------------------

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) {
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        wall_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios() const {
    struct Pair {
      const char* name;
      const char* reference;
      const char* note;
    };
    static const Pair pairs[] = {
        {"BM_Demosaic8To24", "BM_OpenCvBayerToBgr8", "target <= 1.00"},
        {"BM_Demosaic8To32", "BM_OpenCvBayerToBgr8", ""},
        {"BM_Demosaic16To48", "BM_OpenCvBayerToBgr16", "target <= 1.00"},
        {"BM_Demosaic8To24Sse2", "BM_OpenCvBayerToBgr8", "(SSE2 only)"},
        {"BM_Demosaic16To48Sse2", "BM_OpenCvBayerToBgr16", "(SSE2 only)"},
        {"BM_DefectFilter8", "BM_OpenCvBayerToBgr8", ""},
        {"BM_DefectFilter16", "BM_OpenCvBayerToBgr16", ""},
        {"BM_DefectFilter16Sse2", "BM_OpenCvBayerToBgr16", "(SSE2 path)"},
        {"BM_DefectFilter16Avx2", "BM_OpenCvBayerToBgr16", "(AVX2 path)"},
        {"BM_HueSaturationBgr8", "BM_OpenCvBayerToBgr8", ""},
        {"BM_HueSaturationBgr16", "BM_OpenCvBayerToBgr16", ""},
        {"BM_SharpenBgr8", "BM_OpenCvBayerToBgr8", ""},
        {"BM_HueSaturationBgr8Avx2", "BM_OpenCvBayerToBgr8", "(AVX2)"},
        {"BM_SharpenBgr8Avx2", "BM_OpenCvBayerToBgr8", "(AVX2)"},
        {"BM_HueSaturationBgr8Tone", "BM_OpenCvBayerToBgr8", "(with the gamma/contrast table)"},
        {"BM_HueSaturationBgr8ToneAvx2", "BM_OpenCvBayerToBgr8", "(AVX2, with the gamma/contrast table)"},
        {"BM_SharpenBgr8Brightness", "BM_OpenCvBayerToBgr8", "(with the brightness after it)"},
        {"BM_SharpenBgr8BrightnessAvx2", "BM_OpenCvBayerToBgr8", "(AVX2, with the brightness after it)"},
        {"BM_SharpenBgr16", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ToneTableBgr8", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ToneTableBgr8Avx2", "BM_OpenCvBayerToBgr8", "(without VBMI)"},
        {"BM_ToneTableBgr16", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ToneTableBgr16Avx2", "BM_OpenCvBayerToBgr16", "(AVX2: scalar reads)"},
        {"BM_BrightnessTableBgr16", "BM_OpenCvBayerToBgr16", "(brightness alone, computed)"},
        {"BM_BrightnessTableBgr16Avx2", "BM_OpenCvBayerToBgr16", "(AVX2, computed)"},
        {"BM_HueSaturationBgr16Avx2", "BM_OpenCvBayerToBgr16", "(AVX2)"},
        {"BM_SharpenBgr16Avx2", "BM_OpenCvBayerToBgr16", "(AVX2)"},
        {"BM_ProcessFrame24Neutral", "BM_OpenCvBayerToBgr8", "target <= 2.00"},
        {"BM_ProcessFrame24Active", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ProcessFrame8Neutral", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ProcessFrame8Active", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ProcessFrame16Neutral", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame16Active", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame32Neutral", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ProcessFrame32Active", "BM_OpenCvBayerToBgr8", ""},
        {"BM_ProcessFrame48Neutral", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame48Active", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame64Neutral", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame64Active", "BM_OpenCvBayerToBgr16", ""},
        {"BM_ProcessFrame24ActiveScalar", "BM_OpenCvBayerToBgr8", "(scalar tone/colour loops)"},
        {"BM_ProcessFrame24ActiveAvx2", "BM_OpenCvBayerToBgr8", "(AVX2 tone/colour bodies)"},
        {"BM_ProcessFrame48ActiveScalar", "BM_OpenCvBayerToBgr16", "(scalar tone/colour loops)"},
        {"BM_ProcessFrame48ActiveAvx2", "BM_OpenCvBayerToBgr16", "(AVX2 tone/colour bodies)"},
        {"BM_ProcessFrame24ActiveSse2", "BM_OpenCvBayerToBgr8", "(SSE2 tone/colour bodies)"},
        {"BM_ProcessFrame48ActiveSse2", "BM_OpenCvBayerToBgr16", "(SSE2 tone/colour bodies)"},
        {"BM_RestrideRows8", "BM_MemcpyRaw8", ""},
        {"BM_Gray16To8Shift4", "BM_MemcpyRaw16", ""},
        {"BM_Gray16To8Shift4Flip", "BM_MemcpyRaw16", ""},
        {"BM_Gray16Expand4", "BM_MemcpyRaw16", ""},
        {"BM_Bgr32To24", "BM_MemcpyBgr32", ""},
        {"BM_Bgr48To24Shift4", "BM_MemcpyBgr48", ""},
        {"BM_Bgr48To24Shift4Flip", "BM_MemcpyBgr48", ""},
        {"BM_Bgr48Expand4", "BM_MemcpyBgr48", ""},
        {"BM_Bgr48ToRgb48Expand4", "BM_MemcpyBgr48", ""},
        {"BM_Bgr48ToBgra64Expand4", "BM_MemcpyBgr48", "(64-bit source, 48-bit memcpy)"},
        {"BM_Bgr24CopyFlip", "BM_MemcpyBgr24", ""},
        {"BM_RowsCopyFlip", "BM_MemcpyBgr24", ""},
        {"BM_BgrToRgb24", "BM_MemcpyBgr24", ""},
        {"BM_Bgrx32ToBgra32", "BM_MemcpyBgr32", ""},
    };
    std::printf("\nRatios (CPU time / reference CPU time, same run, %dx%d, one core; demosaic path %s)\n", kWidth,
                kHeight, ActiveDemosaicPath() == DemosaicPath::kAvx2 ? "AVX2" : "SSE2");
    for (const Pair& p : pairs) {
      const auto a = times_.find(p.name), b = times_.find(p.reference);
      if (a == times_.end() || b == times_.end() || b->second <= 0) continue;
      std::printf("  %-26s / %-22s = %5.2f  %s\n", p.name + 3, p.reference + 3, a->second / b->second, p.note);
    }
    // Speed-up of two threads over one (wall time; the benchmark names carry /real_time).
    std::printf("\nThreads (wall time of 1 thread / wall time of 2 threads, same run)\n");
    for (const char* bits : {"24", "48"}) {
      const std::string one = std::string("BM_ProcessFrame") + bits + "ActiveThreads1/real_time";
      const std::string two = std::string("BM_ProcessFrame") + bits + "ActiveThreads2/real_time";
      const auto a = wall_.find(one), b = wall_.find(two), c = times_.find(std::string("BM_OpenCvBayerToBgr") +
                                                                           (bits[0] == '2' ? "8" : "16"));
      if (a == wall_.end() || b == wall_.end() || b->second <= 0) continue;
      std::printf("  ProcessFrame%sActive  speed-up %.2f", bits, a->second / b->second);
      if (c != times_.end() && c->second > 0)
        std::printf("   (1 thread %.2f, 2 threads %.2f x OpenCV CPU time)", a->second / c->second,
                    b->second / c->second);
      std::printf("\n");
    }
    const auto d1 = wall_.find("BM_DefectFilter8"), d2 = wall_.find("BM_DefectFilter8Threads2/real_time");
    if (d1 != wall_.end() && d2 != wall_.end() && d2->second > 0)
      std::printf("  DefectFilter8        speed-up %.2f (marks on 2 threads, then the scan)\n", d1->second / d2->second);
    std::printf("Vector path of the tone and colour kernels: %s\n", VectorPathName(ActiveVectorPath()));
  }

 private:
  std::map<std::string, double> times_, wall_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
