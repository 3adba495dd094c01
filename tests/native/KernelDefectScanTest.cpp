// The 16-bit defect scan's vector bodies against its pixel-by-pixel scan (the scalar path), on frames
// where replacements chain over long runs, where few pixels are replaced and where samples press
// against 0 and 65535; odd sizes around the vector widths, padded and odd strides, sub-rectangles, and
// the two row parities run as separate scans on two threads.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/DefectFilter.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

enum class Noise { kHeavy, kLow, kSaturated };

const VectorPath kVectorPaths[] = {VectorPath::kSse2, VectorPath::kAvx2, VectorPath::kAvx512, VectorPath::kAuto};

struct ScalarAfter {
  ~ScalarAfter() { SetVectorPath(VectorPath::kAuto); }
};

// Heavy: a smooth scene with noise of +-48 against a threshold of 30, so most pixels are replaced and
// each replacement feeds its right and lower partners. Low: little noise and a few strong outliers.
// Saturated: every sample within 40 of 0 or of 65535, so means and differences reach both ends.
void FillFrame(TestImage& frame, std::mt19937& rng, Noise noise) {
  frame.fillRandom(rng, 65535, true);  // the padding keeps its noise
  std::uniform_int_distribution<int32_t> heavy(-48, 48), low(-6, 6), edge(0, 40), percent(0, 99);
  for (int32_t y = 0; y < frame.height(); ++y)
    for (int32_t x = 0; x < frame.width(); ++x) {
      const int32_t scene = 20000 + 37 * x + 91 * y;
      int32_t v = 0;
      if (noise == Noise::kHeavy) v = scene + heavy(rng);
      if (noise == Noise::kLow) v = scene + low(rng) + (percent(rng) == 0 ? 5000 : 0);
      if (noise == Noise::kSaturated) v = percent(rng) < 50 ? edge(rng) : 65535 - edge(rng);
      frame.set(x, y, 0, v, true);
    }
}

int64_t RunFilter(TestImage& frame, int32_t threshold, const KernelRect* rect = nullptr) {
  ColourRecord colour{0, 100, 100, 100};
  ThresholdRecord limit{threshold};
  return ApplyKernel(frame.view(), FilterDefectPixels, frame.view(), rect, rect ? rect->left : 0,
                     rect ? rect->top : 0, &colour, &limit);
}

TestImage ScalarResult(TestImage frame, int32_t threshold, const KernelRect* rect = nullptr) {
  SetVectorPath(VectorPath::kScalar);
  RunFilter(frame, threshold, rect);
  SetVectorPath(VectorPath::kAuto);
  return frame;
}

std::string Describe(const TestImage& frame, Noise noise, int32_t threshold) {
  return std::to_string(frame.width()) + "x" + std::to_string(frame.height()) + " stride " +
         std::to_string(frame.stride()) + " noise " + std::to_string(static_cast<int>(noise)) + " threshold " +
         std::to_string(threshold) + " path " + VectorPathName(ActiveVectorPath());
}

TEST(DefectScan16, VectorPathsEqualThePixelScanOverNoiseSizesStridesAndThresholds) {
  ScalarAfter restore;
  std::mt19937 rng(1313);
  // Every width up to 72 (0 to 34 columns of each parity against steps of 8 and 16); heights of 1, 7,
  // 8, 9, 15, 16, 17, 33 and 34 rows of one parity against blocks of 8 and 16.
  std::vector<std::pair<int, int>> sizes = {{36, 38}, {131, 40}, {260, 61}};
  for (int width = 5; width <= 72; ++width) sizes.push_back({width, width % 3 == 0 ? 20 : 5 + width % 19});
  for (int height : {19, 21, 34, 36, 38, 39, 70, 73}) sizes.push_back({23, height});
  for (const auto& size : sizes)
    for (Noise noise : {Noise::kHeavy, Noise::kLow, Noise::kSaturated})
      for (int32_t threshold : {30, 1, 32767, 0, 40000}) {
        TestImage frame(size.first, size.second, 16, (size.first + size.second) % 4 * 3);
        FillFrame(frame, rng, noise);
        const TestImage expected = ScalarResult(frame, threshold);
        for (VectorPath path : kVectorPaths) {
          SetVectorPath(path);
          TestImage out = frame;
          EXPECT_EQ(0, RunFilter(out, threshold));
          ASSERT_EQ(expected.bytes(), out.bytes()) << Describe(frame, noise, threshold);
        }
      }
}

TEST(DefectScan16, SubRectangleIsScannedOnItsOwnAndNothingOutsideChanges) {
  ScalarAfter restore;
  std::mt19937 rng(1314);
  TestImage frame(97, 64, 16, 2);
  FillFrame(frame, rng, Noise::kHeavy);
  // In bitmap coordinates (row 0 is the last storage row); the kernel reads two pixels into the border.
  const KernelRect rects[] = {{3, 5, 60, 44}, {0, 0, 97, 64}, {10, 7, 29, 33}, {41, 1, 96, 30}};
  for (const KernelRect& rect : rects) {
    const TestImage expected = ScalarResult(frame, 30, &rect);
    for (VectorPath path : kVectorPaths) {
      SetVectorPath(path);
      TestImage out = frame;
      RunFilter(out, 30, &rect);
      ASSERT_EQ(expected.bytes(), out.bytes())
          << "rect " << rect.left << "," << rect.top << " " << rect.right << "," << rect.bottom << " path "
          << VectorPathName(ActiveVectorPath());
    }
  }
  // The scalar scan itself leaves everything outside the rectangle alone.
  const KernelRect inner{10, 7, 29, 33};
  const TestImage scanned = ScalarResult(frame, 30, &inner);
  int32_t changedInside = 0;
  for (int32_t y = 0; y < frame.height(); ++y)
    for (int32_t x = 0; x < frame.width(); ++x) {
      const int32_t row = frame.height() - 1 - y;  // bitmap row of storage row y
      const bool inside = x >= inner.left + 2 && x < inner.right - 2 && row >= inner.top + 2 && row < inner.bottom - 2;
      if (inside) {
        changedInside += frame.get(x, y, 0, true) != scanned.get(x, y, 0, true);
      } else {
        ASSERT_EQ(frame.get(x, y, 0, true), scanned.get(x, y, 0, true)) << x << "," << y;
      }
    }
  EXPECT_GT(changedInside, 100);
}

TEST(DefectScan16, RowParityScansInEitherOrderOrOnTwoThreadsEqualTheWholeScan) {
  ScalarAfter restore;
  std::mt19937 rng(1315);
  for (const auto& size : {std::pair{261, 77}, std::pair{64, 20}, std::pair{7, 9}})
    for (Noise noise : {Noise::kHeavy, Noise::kSaturated}) {
      TestImage frame(size.first, size.second, 16, 4);
      FillFrame(frame, rng, noise);
      const TestImage expected = ScalarResult(frame, 30);
      for (VectorPath path : kVectorPaths) {
        SetVectorPath(path);
        TestImage reversed = frame, threaded = frame;
        FilterDefectRows16(reversed.view(), 30, 1);
        FilterDefectRows16(reversed.view(), 30, 0);
        std::thread odd([&] { FilterDefectRows16(threaded.view(), 30, 1); });
        FilterDefectRows16(threaded.view(), 30, 0);
        odd.join();
        const std::string what = std::to_string(size.first) + "x" + std::to_string(size.second) + " path " +
                                 VectorPathName(ActiveVectorPath());
        ASSERT_EQ(expected.bytes(), reversed.bytes()) << "odd rows first, " << what;
        ASSERT_EQ(expected.bytes(), threaded.bytes()) << "two threads, " << what;
      }
    }
}

}  // namespace
}  // namespace tovira::test
