// The frame pipeline's fast paths (composed tone tables, the stages after the demosaic chained into one
// or two passes, vector kernels, row bands on worker threads) against the stages run one by one through
// the single kernels on their scalar loops, which stay the reference: random frames of odd and even
// sizes with padded strides, every Bayer mode, every colour mode and every vector path, byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/RowBandPool.h"
#include "pipeline/Sharpen.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

class NoDevice : public FramePipelineHooks {
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

constexpr uint16_t kOutputBits[] = {8, 16, 24, 32, 48, 64};

struct Frame {
  TestImage raw8, raw16, bgr24, bgr32, bgr48, bgr64, scratch;
  Frame(int w, int h, int32_t mode, int32_t pad, std::mt19937& rng)
      : raw8(w, h, 8, pad), raw16(w, h, 16, pad), bgr24(w, h, 24, pad), bgr32(w, h, 32, pad),
        bgr48(w, h, 48, pad), bgr64(w, h, 64, pad), scratch(w, h, kOutputBits[mode], pad) {
    // Noisy frames: many defect candidates, every hue sector, clipping at both ends.
    raw8.fillRandom(rng, 255, false);
    raw16.fillRandom(rng, 4095, true);
    for (TestImage* t : {&bgr24, &bgr32, &bgr48, &bgr64}) t->fillRandom(rng, 255, false);  // fourth channels
  }
  FrameImages images() const {
    return {raw8.view(), raw16.view(), bgr24.view(), bgr32.view(), bgr48.view(), bgr64.view(), scratch.view()};
  }
  const TestImage& output(int32_t mode) const {
    const TestImage* out[] = {&raw8, &raw16, &bgr24, &bgr32, &bgr48, &bgr64};
    return *out[mode];
  }
};

// Runs its scope on the scalar loops, then goes back to the path that was forced before.
class ScalarScope {
 public:
  ScalarScope() : saved_(ActiveVectorPath()) { SetVectorPath(VectorPath::kScalar); }
  ~ScalarScope() { SetVectorPath(saved_); }

 private:
  VectorPath saved_;
};

// Forces a vector path for a test and goes back to the automatic choice at its end.
struct ForcedPath {
  explicit ForcedPath(VectorPath path) { SetVectorPath(path); }
  ~ForcedPath() { SetVectorPath(VectorPath::kAuto); }
};
constexpr VectorPath kPaths[] = {VectorPath::kScalar, VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512};

// The stages of a frame without grey processing or balances, each through its own kernel on its
// scalar loops, over the whole image, one after the other.
// `otherRaw` replaces the frame's raw image.
void ReferenceFrame(Frame& f, int32_t mode, const ImageParameters& p, TestImage* otherRaw = nullptr) {
  ScalarScope scalar;
  const bool wide = mode == kColourMode16 || mode == kColourMode48 || mode == kColourMode64;
  const bool grey = mode == kColourMode8 || mode == kColourMode16;
  const ImageView raw = otherRaw != nullptr ? otherRaw->view() : wide ? f.raw16.view() : f.raw8.view();
  const ImageView out = f.output(mode).view();
  ColourRecord colour{p.bayerMode, p.bayerGainRed, p.bayerGainGreen, p.bayerGainBlue};
  ThresholdRecord threshold{kDefectThreshold};
  ApplyKernel(raw, FilterDefectPixels, raw, nullptr, 0, 0, &colour, &threshold);
  if (!grey) {
    ApplyKernel(out, wide ? DemosaicInterior16 : DemosaicInterior8, raw, nullptr, 0, 0, &colour);
    ApplyKernel(out, wide ? DemosaicBorder16 : DemosaicBorder8, raw, nullptr, 0, 0, &colour);
    HueSaturationRecord hs{p.hue, 0, p.saturation, 12};
    if (p.hue != 0 || p.saturation != 0)
      ApplyKernel(out, wide ? HueSaturationBgr16 : HueSaturationBgr8, out, nullptr, 0, 0, &hs);
  }
  struct Family {
    PixelKernel gamma, contrast, sharpen, brightness;
  };
  const Family families[] = {{GammaGray8, ContrastGray8, SharpenGray8, BrightnessGray8},
                             {GammaGray16, ContrastGray16, SharpenGray16, BrightnessGray16},
                             {GammaBgr8, ContrastBgr8, SharpenBgr8, BrightnessBgr8},
                             {GammaBgr8, ContrastBgr8, SharpenBgr8, BrightnessBgr8},
                             {GammaBgr16, ContrastBgr16, SharpenBgr16, BrightnessBgr16},
                             {GammaBgr16, ContrastBgr16, SharpenBgr16, BrightnessBgr16}};
  const Family& k = families[mode];
  if (ValueRecord r{p.gamma, 12}; r.value != 100) ApplyKernel(out, k.gamma, out, nullptr, 0, 0, &r);
  if (ValueRecord r{p.contrast, 12}; r.value != 0) ApplyKernel(out, k.contrast, out, nullptr, 0, 0, &r);
  if (ValueRecord r{p.sharpness, 12}; r.value != 0) {
    TestImage copy = f.output(mode);
    ApplyKernel(out, k.sharpen, copy.view(), nullptr, 0, 0, &r);
  }
  if (ValueRecord r{p.brightness, 12}; r.value != 0) ApplyKernel(out, k.brightness, out, nullptr, 0, 0, &r);
}

ImageParameters RandomParameters(std::mt19937& rng, int bayerMode) {
  ImageParameters p = NeutralImageParameters();
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto maybe = [&](int neutral, int lo, int hi) { return pick(0, 3) == 0 ? neutral : pick(lo, hi); };
  p.bayerMode = bayerMode;
  p.bayerGainRed = pick(0, 400), p.bayerGainBlue = pick(0, 400);
  p.hue = maybe(0, -360, 360), p.saturation = maybe(0, -255, 255);
  p.gamma = maybe(100, 0, 200), p.contrast = maybe(0, -127, 127);
  p.sharpness = maybe(0, 1, 30), p.brightness = maybe(0, -255, 255);
  return p;
}

TEST(PipelineEquivalence, EveryColourModeAndBayerModeMatchesTheStagesRunOneByOne) {
  std::mt19937 rng(1313);
  // Heights from 32 rows on are split into bands when a pool is given (odd band edges included).
  const int sizes[][2] = {{37, 23}, {64, 41}, {5, 9}, {130, 6}, {33, 70}, {50, 97}};
  RowBandPool two(2), three(3);
  RowBandPool* pools[] = {nullptr, &two, &three};
  int cases = 0;
  for (VectorPath path : kPaths)
  for (RowBandPool* pool : pools)
  for (int32_t mode = kColourMode8; mode <= kColourMode64; ++mode)
    for (int bayer = 0; bayer < 4; ++bayer)
      for (const auto& size : sizes) {
        const int32_t pad = (cases % 3) * 4;
        const ImageParameters parameters = RandomParameters(rng, bayer);
        const uint32_t seed = rng();
        std::mt19937 a(seed), b(seed);
        Frame fast(size[0], size[1], mode, pad, a), reference(size[0], size[1], mode, pad, b);
        ImageParameters working = parameters;
        AnalogueState analogue{};
        NoDevice hooks;
        {
          ForcedPath forced(path);
          ProcessFrame(fast.images(), mode, working, analogue, hooks, pool);
        }
        ReferenceFrame(reference, mode, parameters);
        ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes())
            << VectorPathName(path) << " threads " << (pool ? pool->threads() : 0) << " mode " << mode << " bayer " << bayer << " size " << size[0] << "x" << size[1] << " hue "
            << parameters.hue << " saturation " << parameters.saturation << " gamma " << parameters.gamma
            << " contrast " << parameters.contrast << " sharpness " << parameters.sharpness << " brightness "
            << parameters.brightness;
        ++cases;
      }
  EXPECT_EQ(4 * 3 * 6 * 4 * 6, cases);
}

// Every combination of hue/saturation and the three table stages, with and without the sharpness
// between them, in every colour mode (the grey modes have no hue stage).
TEST(PipelineEquivalence, ChainedStagesEqualTheSingleStagesInEveryCombination) {
  std::mt19937 rng(77);
  for (int32_t mode = kColourMode8; mode <= kColourMode64; ++mode)
    for (int mask = 1; mask < 32; ++mask) {
      ImageParameters p = NeutralImageParameters();
      if (mask & 1) p.gamma = 37 + mask * 4;
      if (mask & 2) p.contrast = mask * 7 - 120;
      if (mask & 4) p.brightness = mask * 16 - 250;
      if (mask & 8) p.sharpness = 11;
      if (mask & 16) p.hue = 97, p.saturation = -60 + mask;
      const uint32_t seed = rng();
      std::mt19937 a(seed), b(seed);
      Frame fast(31, 67, mode, 4, a), reference(31, 67, mode, 4, b);
      ImageParameters working = p;
      AnalogueState analogue{};
      NoDevice hooks;
      RowBandPool pool(2);
      ProcessFrame(fast.images(), mode, working, analogue, hooks, mask % 2 ? &pool : nullptr);
      ReferenceFrame(reference, mode, p);
      ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes()) << "mode " << mode << " mask " << mask;
    }
}

// Rows wide enough that the chained passes work on a band a few rows at a time, so steps end inside
// bands and the sharpness's halo rows come from the neighbouring step or band; and images so narrow or
// low that the sharpness leaves every pixel to the copy from the unsharpened image.
TEST(PipelineEquivalence, ChainedPassesOverWideRowsAndTinyImages) {
  std::mt19937 rng(4242);
  const int sizes[][2] = {{1501, 45}, {2999, 21}, {4, 40}, {40, 4}, {5, 5}, {1, 1}};
  RowBandPool two(2);
  for (RowBandPool* pool : {static_cast<RowBandPool*>(nullptr), &two})
    for (int32_t mode = kColourMode8; mode <= kColourMode64; ++mode)
      for (const auto& size : sizes)
        for (int sharpness : {0, 30}) {
          ImageParameters p = NeutralImageParameters();
          p.bayerMode = static_cast<int>(rng() % 4);
          p.hue = 200, p.saturation = 90, p.gamma = 130, p.contrast = 20, p.brightness = 40;
          p.sharpness = sharpness;
          const uint32_t seed = rng();
          std::mt19937 a(seed), b(seed);
          Frame fast(size[0], size[1], mode, 8, a), reference(size[0], size[1], mode, 8, b);
          ImageParameters working = p;
          AnalogueState analogue{};
          NoDevice hooks;
          ProcessFrame(fast.images(), mode, working, analogue, hooks, pool);
          ReferenceFrame(reference, mode, p);
          ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes())
              << "mode " << mode << " size " << size[0] << "x" << size[1] << " sharpness " << sharpness
              << " threads " << (pool ? 2 : 1);
        }
}

// The demosaic runs inside the chain's first pass, a few rows at a time: rows so wide that the steps
// are a handful of rows (odd step sizes made even, steps ending inside bands of odd heights), every Bayer
// mode, with each stage alone after it and all of them, on 1, 2 and 3 threads.
TEST(PipelineEquivalence, DemosaicInsideTheChainAtStepAndBandEdges) {
  std::mt19937 rng(2024);
  const int sizes[][2] = {{2731, 53}, {5461, 35}, {1877, 7}};
  RowBandPool two(2), three(3);
  const int stageSets[][4] = {{0, 0, 0, 25}, {150, 40, 0, 0}, {0, 0, 60, 0}, {300, -80, -30, 7}};  // hue, saturation, contrast, sharpness
  for (RowBandPool* pool : {static_cast<RowBandPool*>(nullptr), &two, &three})
    for (int32_t mode : {kColourMode24, kColourMode32, kColourMode48, kColourMode64})
      for (const auto& size : sizes)
        for (const auto& stages : stageSets) {
          ImageParameters p = NeutralImageParameters();
          p.bayerMode = static_cast<int>(rng() % 4);
          p.bayerGainRed = 90, p.bayerGainBlue = 170;
          p.hue = stages[0], p.saturation = stages[1], p.contrast = stages[2], p.sharpness = stages[3];
          const uint32_t seed = rng();
          std::mt19937 a(seed), b(seed);
          Frame fast(size[0], size[1], mode, 12, a), reference(size[0], size[1], mode, 12, b);
          ImageParameters working = p;
          AnalogueState analogue{};
          NoDevice hooks;
          ProcessFrame(fast.images(), mode, working, analogue, hooks, pool);
          ReferenceFrame(reference, mode, p);
          ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes())
              << "mode " << mode << " bayer " << p.bayerMode << " size " << size[0] << "x" << size[1]
              << " hue " << p.hue << " contrast " << p.contrast << " sharpness " << p.sharpness << " threads "
              << (pool ? pool->threads() : 1);
        }
}

// A raw image of another size than the output: the demosaic covers what both images share, as a
// separate pass over the frame, and reads nothing beyond the raw image's rows.
TEST(PipelineEquivalence, RawImageOfAnotherSizeThanTheOutput) {
  std::mt19937 rng(31);
  const int rawSizes[][2] = {{60, 30}, {60, 90}, {45, 50}, {80, 50}};
  RowBandPool two(2);
  for (RowBandPool* pool : {static_cast<RowBandPool*>(nullptr), &two})
    for (int32_t mode : {kColourMode24, kColourMode48})
      for (const auto& rawSize : rawSizes) {
        ImageParameters p = NeutralImageParameters();
        p.hue = 60, p.gamma = 140, p.sharpness = 9;
        const bool wide = mode == kColourMode48;
        const uint32_t seed = rng();
        std::mt19937 a(seed), b(seed), c(seed + 1), d(seed + 1);
        Frame fast(60, 50, mode, 4, a), reference(60, 50, mode, 4, b);
        TestImage rawFast(rawSize[0], rawSize[1], wide ? 16 : 8, 4), rawReference = rawFast;
        rawFast.fillRandom(c, wide ? 4095 : 255, wide);
        rawReference.fillRandom(d, wide ? 4095 : 255, wide);
        FrameImages images = fast.images();
        (wide ? images.raw16 : images.raw8) = rawFast.view();
        ImageParameters working = p;
        AnalogueState analogue{};
        NoDevice hooks;
        ProcessFrame(images, mode, working, analogue, hooks, pool);
        ReferenceFrame(reference, mode, p, &rawReference);
        ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes())
            << "mode " << mode << " raw " << rawSize[0] << "x" << rawSize[1] << " threads " << (pool ? 2 : 1);
      }
}

// Without a scratch image that matches the output (missing, or of another size or stride) the
// sharpness is left out and the other stages still run, brightness included.
TEST(PipelineEquivalence, SharpnessWithoutAMatchingScratchImageIsLeftOut) {
  std::mt19937 rng(99);
  for (int32_t mode : {kColourMode8, kColourMode24, kColourMode48, kColourMode64})
    for (int variant = 0; variant < 3; ++variant) {
      ImageParameters p = NeutralImageParameters();
      p.hue = 45, p.gamma = 120, p.contrast = 15, p.sharpness = 20, p.brightness = -40;
      const uint32_t seed = rng();
      std::mt19937 a(seed), b(seed);
      Frame fast(40, 36, mode, 0, a), reference(40, 36, mode, 0, b);
      TestImage other(variant == 1 ? 39 : 40, 36, kOutputBits[mode], variant == 2 ? 4 : 0);
      FrameImages images = fast.images();
      images.sharpnessScratch = variant == 0 ? ImageView{} : other.view();
      ImageParameters working = p;
      AnalogueState analogue{};
      NoDevice hooks;
      ProcessFrame(images, mode, working, analogue, hooks);
      p.sharpness = 0;
      ReferenceFrame(reference, mode, p);
      ASSERT_EQ(reference.output(mode).bytes(), fast.output(mode).bytes()) << "mode " << mode << " variant " << variant;
    }
}

}  // namespace
}  // namespace tovira::test
