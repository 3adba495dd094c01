// The vector bodies of the tone and colour kernels against their scalar loops, which stay the reference:
// random images of odd and even sizes, padded strides, fourth channels, the full range of 16-bit samples,
// every path this CPU can run.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/DefectFilter.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/Sharpen.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

// Runs `kernel` on copies of the same images once per path and expects identical bytes.
struct PathRun {
  std::vector<VectorPath> paths{VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAuto};
  ~PathRun() { SetVectorPath(VectorPath::kAuto); }
};

struct KernelCase {
  PixelKernel kernel;
  uint16_t bits;
  bool wide;
  const char* name;
};

void ExpectPathsEqual(const KernelCase& k, TestImage target, const TestImage& source, bool inPlace, void* p,
                      void* q, const std::string& what) {
  PathRun run;
  SetVectorPath(VectorPath::kScalar);
  TestImage expected = target;
  TestImage expectedSource = source;
  int64_t expectedResult = inPlace ? ApplyKernel(expected.view(), k.kernel, expected.view(), nullptr, 0, 0, p, q)
                                   : ApplyKernel(expected.view(), k.kernel, source.view(), nullptr, 0, 0, p, q);
  for (VectorPath path : run.paths) {
    SetVectorPath(path);
    TestImage out = target;
    const int64_t result = inPlace ? ApplyKernel(out.view(), k.kernel, out.view(), nullptr, 0, 0, p, q)
                                   : ApplyKernel(out.view(), k.kernel, source.view(), nullptr, 0, 0, p, q);
    ASSERT_EQ(expectedResult, result) << k.name << " " << what << " path " << VectorPathName(ActiveVectorPath());
    ASSERT_EQ(expected.bytes(), out.bytes()) << k.name << " " << what << " path " << VectorPathName(ActiveVectorPath());
  }
}

TEST(VectorPaths, SharpenEqualsScalarForEveryFamilyAndFullRangeSamples) {
  std::mt19937 rng(5);
  const KernelCase families[] = {{SharpenGray8, 8, false, "SharpenGray8"},   {SharpenGray16, 16, true, "SharpenGray16"},
                                 {SharpenBgr8, 24, false, "SharpenBgr8/24"}, {SharpenBgr8, 32, false, "SharpenBgr8/32"},
                                 {SharpenBgr16, 48, true, "SharpenBgr16/48"}, {SharpenBgr16, 64, true, "SharpenBgr16/64"}};
  const int sizes[][2] = {{5, 5}, {9, 7}, {21, 13}, {64, 9}, {701, 6}, {1100, 5}, {2051, 5}};
  std::uniform_int_distribution<int> amount(1, 30);
  for (const KernelCase& f : families)
    for (const auto& size : sizes)
      for (int32_t maxSample : {f.wide ? 4095 : 255, f.wide ? 65535 : 255}) {
        TestImage source(size[0], size[1], f.bits, (size[0] % 3) * 4);
        source.fillRandom(rng, maxSample, f.wide);
        TestImage target = source;
        target.fillRandom(rng, maxSample, f.wide);  // the fourth channel and the frame must stay as they are
        ValueRecord record{amount(rng), maxSample > 4095 ? 16 : 12};
        ExpectPathsEqual(f, target, source, false, &record, nullptr,
                         std::to_string(size[0]) + "x" + std::to_string(size[1]) + " max " + std::to_string(maxSample));
      }
}

TEST(VectorPaths, DefectFilterEqualsScalarOnNoisyFramesWithChainsOfReplacements) {
  std::mt19937 rng(30);
  const int sizes[][2] = {{5, 5}, {12, 9}, {13, 8}, {37, 21}, {257, 7}};
  const KernelCase k{FilterDefectPixels, 16, true, "FilterDefectPixels16"};
  for (const auto& size : sizes)
    for (int32_t maxSample : {60, 4095, 65535})
      for (int32_t threshold : {1, 30, 400}) {
        TestImage frame(size[0], size[1], 16, (size[1] % 2) * 4);
        frame.fillRandom(rng, maxSample, true);
        // Rows of alternating outliers: every other pixel is replaced and feeds its right partner.
        for (int x = 0; x < size[0]; x += 2) frame.set(x, size[1] / 2, 0, x % 4 ? maxSample : 0, true);
        ColourRecord colour{static_cast<int32_t>(rng() % 4), 100, 100, 100};
        ThresholdRecord limit{threshold};
        ExpectPathsEqual(k, frame, frame, true, &colour, &limit,
                         std::to_string(size[0]) + "x" + std::to_string(size[1]) + " max " +
                             std::to_string(maxSample) + " threshold " + std::to_string(threshold));
      }
}

}  // namespace
}  // namespace tovira::test
