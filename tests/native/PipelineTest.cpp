// The frame pipeline: stage order, skipping at neutral values, balances, auto iris and the hooks.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/Convert.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/GrayProcessing.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/Measure.h"
#include "pipeline/Sharpen.h"
#include "pipeline/Tone.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

class FakeInstance : public FramePipelineHooks {
 public:
  bool deviceOpen = true;
  uint16_t globalGain = 40;
  uint32_t exposure = 1000;
  std::vector<int32_t> errors;
  std::vector<std::pair<int32_t, int32_t>> shown;
  int reloads = 0;
  int gainWrites = 0, exposureWrites = 0;

  bool isDeviceOpen() override { return deviceOpen; }
  bool readGlobalGain(uint16_t* gain) override { return *gain = globalGain, deviceOpen; }
  bool writeGlobalGain(uint16_t gain) override { return globalGain = gain, ++gainWrites, true; }
  bool readExposure(uint32_t* lines) override { return *lines = exposure, deviceOpen; }
  bool writeExposure(uint32_t lines) override { return exposure = lines, ++exposureWrites, true; }
  void recordError(int32_t code) override { errors.push_back(code); }
  void showAnalogueValue(int32_t control, int32_t value) override { shown.emplace_back(control, value); }
  void reloadImageDialog() override { ++reloads; }
};

struct Camera {
  TestImage raw8, raw16, bgr24, bgr32, bgr48, bgr64, scratch;
  FrameImages images;
  ImageParameters parameters = NeutralImageParameters();
  AnalogueState analogue{};
  FakeInstance hooks;
  int32_t mode;

  Camera(int32_t colourMode, int w = 40, int h = 30) : mode(colourMode) {
    raw8 = TestImage(w, h, 8);
    raw16 = TestImage(w, h, 16);
    bgr24 = TestImage(w, h, 24);
    bgr32 = TestImage(w, h, 32);
    bgr48 = TestImage(w, h, 48);
    bgr64 = TestImage(w, h, 64);
    const uint16_t outputBits[] = {8, 16, 24, 32, 48, 64};
    scratch = TestImage(w, h, outputBits[colourMode]);
    images = {raw8.view(), raw16.view(), bgr24.view(), bgr32.view(), bgr48.view(), bgr64.view(), scratch.view()};
  }
  void run() { ProcessFrame(images, mode, parameters, analogue, hooks); }
  std::vector<PixelKernel> trace() const {
    const PipelineTrace& t = LastPipelineTrace();
    return std::vector<PixelKernel>(t.kernels, t.kernels + t.count);
  }
};

using Kernels = std::vector<PixelKernel>;

TEST(Pipeline, NeutralColourFrameRunsDefectFilterAndDemosaicOnly) {
  Camera cam(kColourMode24);
  cam.raw8.fill(50, false);
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, DemosaicInterior8, DemosaicBorder8}), cam.trace());
  EXPECT_EQ(50, cam.bgr24.get(0, 0, 2));
  EXPECT_TRUE(cam.hooks.errors.empty());  // auto iris off records nothing
}

TEST(Pipeline, NeutralGreyFrameRunsDefectFilterOnly) {
  Camera cam(kColourMode8);
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels}), cam.trace());
  Camera cam16(kColourMode16);
  cam16.parameters.grayMode = 1;  // all eight values at 128: the gains are skipped
  cam16.run();
  EXPECT_EQ((Kernels{FilterDefectPixels}), cam16.trace());
}

TEST(Pipeline, EveryActiveStageRunsInOrderForEachFamily) {
  struct Case {
    int32_t mode;
    Kernels expected;
  };
  const Case cases[] = {
      // Gamma and contrast run as one composed table before the sharpness, brightness as one after it.
      {kColourMode8, {FilterDefectPixels, ToneTableGray8, SharpenGray8, ToneTableGray8}},
      {kColourMode16, {FilterDefectPixels, ToneTableGray16, SharpenGray16, ToneTableGray16}},
      {kColourMode32, {FilterDefectPixels, DemosaicInterior8, DemosaicBorder8, HueSaturationBgr8, ToneTableBgr8,
                       SharpenBgr8, ToneTableBgr8}},
      {kColourMode64, {FilterDefectPixels, DemosaicInterior16, DemosaicBorder16, HueSaturationBgr16, ToneTableBgr16,
                       SharpenBgr16, ToneTableBgr16}},
  };
  for (const Case& c : cases) {
    Camera cam(c.mode);
    cam.parameters.hue = 30;
    cam.parameters.gamma = 120;
    cam.parameters.contrast = 10;
    cam.parameters.sharpness = 5;
    cam.parameters.brightness = -10;
    cam.run();
    EXPECT_EQ(c.expected, cam.trace()) << "mode " << c.mode;
  }
  // Saturation alone also runs the hue/saturation stage.
  Camera cam(kColourMode48);
  cam.parameters.saturation = -20;
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, DemosaicInterior16, DemosaicBorder16, HueSaturationBgr16}), cam.trace());
  // Without the sharpness the three table stages are one pass.
  Camera tones(kColourMode24);
  tones.parameters.gamma = 90;
  tones.parameters.brightness = 4;
  tones.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, DemosaicInterior8, DemosaicBorder8, ToneTableBgr8}), tones.trace());
}

TEST(Pipeline, SharpnessReadsAnUnsharpenedCopy) {
  std::mt19937 rng(41);
  Camera cam(kColourMode24);
  cam.raw8.fillRandom(rng, 255, false);
  // Same frame without sharpness, then the kernel from a copy by hand.
  Camera plain(kColourMode24);
  plain.raw8 = cam.raw8;
  plain.images.raw8 = plain.raw8.view();
  cam.parameters.sharpness = 17;
  cam.run();
  plain.run();
  TestImage copy = plain.bgr24;
  ValueRecord record{17, 12};
  ApplyKernel(plain.bgr24.view(), SharpenBgr8, copy.view(), nullptr, 0, 0, &record);
  EXPECT_EQ(plain.bgr24.bytes(), cam.bgr24.bytes());
}

TEST(Pipeline, GreyGainsRunWhenAnyValueDiffers) {
  Camera cam(kColourMode8);
  cam.raw8.fill(100, false);
  cam.parameters.grayMode = 1;
  cam.parameters.grayOffsetB = 64;  // row phase 3, column phase 0
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, ApplyGrayGains8}), cam.trace());
  EXPECT_EQ(50, cam.raw8.get(0, 3));
  EXPECT_EQ(100, cam.raw8.get(1, 3));
}

TEST(Pipeline, GreyOneShotMeasuresOnceAndStoresTheValues) {
  Camera cam(kColourMode16, 40, 4);  // four rows: every class, and too low for the defect filter
  cam.parameters.grayMode = 1;
  cam.parameters.grayBalanceRequest = 1;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 40; ++x) cam.raw16.set(x, y, 0, (y % 4 == 1 && x % 2 == 0) ? 1000 : 2000, true);
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, MeasureGrayGains, ApplyGrayGains16}), cam.trace());
  EXPECT_EQ(0, cam.parameters.grayBalanceRequest);
  EXPECT_EQ(256, cam.parameters.grayGainB);  // row phase 1, column phase 0
  EXPECT_EQ(128, cam.parameters.grayGainR);
  EXPECT_EQ(1, cam.hooks.reloads);
  EXPECT_EQ(2000, cam.raw16.get(0, 1, 0, true));  // the dim class is lifted to the bright one
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, ApplyGrayGains16}), cam.trace());

  cam.parameters.grayBalanceRequest = -1;  // "All frames"
  cam.run();
  cam.run();
  EXPECT_EQ(-1, cam.parameters.grayBalanceRequest);
  EXPECT_EQ(3, cam.hooks.reloads);
}

TEST(Pipeline, GreyFromColourReplacesTheEightBitFrame) {
  Camera cam(kColourMode8);
  cam.parameters.grayMode = 2;
  cam.parameters.bayerMode = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) cam.raw8.set(x, y, 0, (int[]){100, 20, 200}[RefColour(0, x, y)]);
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, DemosaicInterior8, DemosaicBorder8, GrayFromBgr24}), cam.trace());
  EXPECT_EQ((200 * 30 + 100 * 59 + 20 * 11) / 100, cam.raw8.get(10, 10));
}

TEST(Pipeline, WhiteBalanceOnceMeasuresOneFrameAndClearsTheFlags) {
  Camera cam(kColourMode24);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) cam.raw8.set(x, y, 0, (int[]){100, 50, 80}[RefColour(0, x, y)]);
  cam.parameters.bayerGainAuto = cam.parameters.whiteBalanceOnce1 = cam.parameters.whiteBalanceOnce2 = 1;
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, MeasureWhiteBalance8, DemosaicInterior8, DemosaicBorder8}), cam.trace());
  EXPECT_EQ(200, cam.parameters.bayerGainBlue);
  EXPECT_EQ(125, cam.parameters.bayerGainRed);
  EXPECT_EQ(0, cam.parameters.bayerGainAuto);
  EXPECT_EQ(0, cam.parameters.whiteBalanceOnce1);
  EXPECT_EQ(1, cam.hooks.reloads);
  EXPECT_EQ(100, cam.bgr24.get(10, 10, 0));  // balanced: blue 50 * 2
  EXPECT_EQ(100, cam.bgr24.get(10, 10, 2));  // red 80 * 1.25
  cam.run();
  EXPECT_EQ((Kernels{FilterDefectPixels, DemosaicInterior8, DemosaicBorder8}), cam.trace());

  cam.parameters.bayerGainAuto = 1;  // "All frames": the flag stays
  cam.run();
  cam.run();
  EXPECT_EQ(1, cam.parameters.bayerGainAuto);
  EXPECT_EQ(3, cam.hooks.reloads);
}

TEST(Pipeline, AutoIrisAdjustsExposureOrGainThroughTheHooks) {
  for (int32_t mode : {kColourMode8, kColourMode48}) {
    Camera cam(mode);
    const bool wide = mode == kColourMode48;
    cam.raw8.fill(220, false);
    cam.raw16.fill(220 << 4, true);  // the same brightness on the 12-bit scale
    cam.analogue.autoIrisMode = 1;
    cam.run();
    const Kernels trace = cam.trace();
    ASSERT_GE(trace.size(), 6u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(wide ? WindowMean16 : WindowMean8, trace[i]);
    EXPECT_EQ(FilterDefectPixels, trace[5]);
    EXPECT_EQ(250u, cam.hooks.exposure);
    EXPECT_EQ(250, cam.analogue.exposureLines);
    EXPECT_EQ((std::vector<std::pair<int32_t, int32_t>>{{kAnalogueExposureControl, 250}}), cam.hooks.shown);

    cam.analogue.autoIrisMode = 2;
    cam.run();
    EXPECT_EQ(10, cam.hooks.globalGain);
    EXPECT_EQ(10, cam.analogue.globalGain);
    EXPECT_EQ(10, cam.analogue.colorGainGreen2);
    EXPECT_EQ(kAnalogueGlobalGainControl, cam.hooks.shown.back().first);
  }
}

TEST(Pipeline, AutoIrisLeavesAWellExposedFrameAndReportsAMissingDevice) {
  Camera cam(kColourMode24);
  cam.raw8.fill(120, false);
  cam.analogue.autoIrisMode = 1;
  EXPECT_EQ(1, AutoIris(cam.raw8.view(), cam.analogue, cam.hooks));
  EXPECT_EQ(0, cam.hooks.exposureWrites);
  cam.hooks.deviceOpen = false;
  EXPECT_EQ(0, AutoIris(cam.raw8.view(), cam.analogue, cam.hooks));
  EXPECT_EQ((std::vector<int32_t>{kAutoIrisErrorCode}), cam.hooks.errors);
  EXPECT_EQ(0, AutoIris(ImageView{}, cam.analogue, cam.hooks));
  EXPECT_EQ(2u, cam.hooks.errors.size());
  cam.analogue.autoIrisMode = 0;
  EXPECT_EQ(0, AutoIris(cam.raw8.view(), cam.analogue, cam.hooks));
  EXPECT_EQ(2u, cam.hooks.errors.size());
}

TEST(Pipeline, MissingImagesAreLeftAlone) {
  Camera cam(kColourMode32);
  cam.images.bgr32 = ImageView{};
  cam.run();
  EXPECT_EQ(0, LastPipelineTrace().count);
  cam.mode = 9;
  cam.run();
  EXPECT_EQ(0, LastPipelineTrace().count);
}

TEST(Pipeline, FilterValueSlotsFollowTheFilterIds) {
  ImageParameters p = NeutralImageParameters();
  EXPECT_EQ(&p.brightness, FilterValueSlot(p, 1));
  EXPECT_EQ(&p.bayerGainBlue, FilterValueSlot(p, 9));
  EXPECT_EQ(&p.bayerMode, FilterValueSlot(p, 12));
  EXPECT_EQ(&p.grayMode, FilterValueSlot(p, 19));
  EXPECT_EQ(&p.grayOffsetB, FilterValueSlot(p, 27));
  EXPECT_EQ(&p.grayBalanceRequest, FilterValueSlot(p, 28));
  EXPECT_EQ(nullptr, FilterValueSlot(p, 0));
  EXPECT_EQ(nullptr, FilterValueSlot(p, 29));
}

// Fuzz: random geometries, strides, modes and parameters through the whole pipeline and the
// conversions; the sanitizers report any stray access.
TEST(Pipeline, RandomGeometriesAndParametersRunClean) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> size(1, 45);
  for (int round = 0; round < 150; ++round) {
    const int32_t mode = round % 6;
    Camera cam(mode, size(rng), size(rng));
    cam.raw8.fillRandom(rng, 255, false);
    cam.raw16.fillRandom(rng, round % 3 ? 4095 : 65535, true);
    ImageParameters& p = cam.parameters;
    p.bayerMode = round % 4;
    p.hue = std::uniform_int_distribution<int>(-360, 360)(rng);
    p.saturation = std::uniform_int_distribution<int>(-255, 255)(rng);
    p.gamma = std::uniform_int_distribution<int>(0, 200)(rng);
    p.contrast = std::uniform_int_distribution<int>(-127, 127)(rng);
    p.sharpness = std::uniform_int_distribution<int>(0, 30)(rng);
    p.brightness = std::uniform_int_distribution<int>(-255, 255)(rng);
    p.bayerGainRed = std::uniform_int_distribution<int>(0, 400)(rng);
    p.bayerGainAuto = round % 5 == 0;
    p.grayMode = round % 3;
    p.grayBalanceRequest = round % 7 == 0;
    p.grayOffsetR = -100;
    cam.analogue.autoIrisMode = round % 3;
    cam.run();
    cam.run();
  }
}

}  // namespace
}  // namespace tovira::test
