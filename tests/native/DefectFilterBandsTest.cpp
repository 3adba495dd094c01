// The 8-bit defect filter split for worker threads (candidates marked band by band on the unfiltered
// frame, then the scan over the marked groups) against the plain scan, on frames full of bright
// outliers in chains two pixels apart (each replacement lowers the mean of the next one), outliers on
// the edges of the 16-column groups, of the bands and of the frame, smooth frames and noise; odd
// sizes, padded strides, all four Bayer modes, 1, 2 and 3 pool threads, through the pipeline too.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/RowBandPool.h"
#include "pipeline/VectorPath.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

enum class Scene { kChains, kSmooth, kNoise };

void FillFrame(TestImage& f, std::mt19937& rng, Scene scene) {
  f.fillRandom(rng, 255, false);  // padding keeps its noise
  if (scene == Scene::kNoise) return;
  const int32_t w = f.width(), h = f.height();
  std::uniform_int_distribution<int32_t> small(-3, 3), bright(150, 255), any(0, 99);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) f.set(x, y, 0, 40 + (x * 3 + y * 2) % 50 + small(rng));
  if (scene == Scene::kSmooth) return;
  auto outlier = [&](int32_t x, int32_t y) {
    if (x >= 0 && x < w && y >= 0 && y < h) f.set(x, y, 0, bright(rng));
  };
  // Chains along a row or a column, two apart, so the scan's replacements feed the next pixel's mean.
  std::uniform_int_distribution<int32_t> px(0, w - 1), py(0, h - 1), length(2, 9);
  for (int32_t i = 0, n = w * h / 40 + 4; i < n; ++i) {
    const int32_t x = px(rng), y = py(rng), len = length(rng);
    const bool down = any(rng) < 40;
    for (int32_t j = 0; j < len; ++j) outlier(x + (down ? 0 : 2 * j), y + (down ? 2 * j : 0));
  }
  // Group edges (groups start at column 2 + 16k), frame edges, and rows near every multiple of 8 (where
  // the bands of small frames end).
  for (int32_t y = 0; y < h; ++y) {
    if (any(rng) < 30) {
      for (int32_t x : {0, 1, 2, 3, 4, 5, w - 1, w - 2, w - 3, w - 4, w - 5, w - 6}) outlier(x, y);
    }
    for (int32_t edge = 16; edge < w; edge += 16)
      if (any(rng) < 40) outlier(edge + any(rng) % 4, y);
  }
  for (int32_t y = 0; y < h; y += 8)
    for (int32_t x = 0; x < w; ++x)
      if (any(rng) < 8) outlier(x, y + any(rng) % 3);
}

// Marks the candidates in `bands` bands (in reverse order, as threads may finish) on a buffer full of
// stale marks, then runs the scan over them.
int64_t TwoPhase(const TestImage& frame, int32_t threshold, const ColourRecord& colour, int32_t bands,
                 std::mt19937& rng) {
  std::vector<uint8_t> marks(DefectMarkBytes(frame.width(), frame.height()) + 1);
  for (auto& m : marks) m = static_cast<uint8_t>(rng() & 1);
  for (int32_t band = bands - 1; band >= 0; --band) {
    int32_t begin, end;
    BandRows(frame.height(), band, bands, begin, end);
    MarkDefectCandidates8(frame.view(), threshold, begin, end, marks.data());
  }
  return FilterMarkedDefects8(frame.view(), threshold, colour, marks.data());
}

TEST(DefectFilterBands, TwoPhaseScanEqualsThePlainScan) {
  std::mt19937 rng(818);
  const int sizes[][2] = {{5, 5}, {19, 7}, {20, 33}, {36, 17}, {37, 40}, {51, 29}, {66, 64}, {83, 51}};
  int64_t replacedTotal = 0;
  int cases = 0;
  for (const auto& size : sizes)
    for (Scene scene : {Scene::kChains, Scene::kSmooth, Scene::kNoise})
      for (int32_t pad : {0, 3})
        for (int32_t bayer = 0; bayer < 4; ++bayer)
          for (int32_t threshold : {30, 1, 3, 90, 255, 257, 258, 0, -4, 40000}) {
            TestImage reference(size[0], size[1], 8, pad);
            FillFrame(reference, rng, scene);
            TestImage split = reference;
            std::uniform_int_distribution<int32_t> gain(0, 400), bands(1, 9);
            const ColourRecord colour{bayer + 4 * (cases % 2), gain(rng), 100, gain(rng)};
            ThresholdRecord q{threshold};
            ColourRecord kernelColour = colour;
            const int64_t expected =
                ApplyKernel(reference.view(), FilterDefectPixels, reference.view(), nullptr, 0, 0, &kernelColour, &q);
            const int64_t got = TwoPhase(split, threshold, colour, bands(rng), rng);
            ASSERT_EQ(split.bytes(), reference.bytes()) << size[0] << "x" << size[1] << " scene "
                                                        << static_cast<int>(scene) << " bayer " << bayer
                                                        << " threshold " << threshold;
            ASSERT_EQ(got, expected);
            if (threshold == 30) replacedTotal += expected;
            ++cases;
          }
  EXPECT_GT(replacedTotal, 1000);  // the frames do exercise chained replacements
}

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

// The pipeline with pools of 1, 2 and 3 threads on the vector paths against the pipeline without one on
// the scalar path:
// the filtered raw frame and the colour output, byte for byte.
TEST(DefectFilterBands, PipelineWithPoolsFiltersLikeTheSerialScan) {
  std::mt19937 rng(1818);
  const int sizes[][2] = {{67, 90}, {130, 41}, {37, 150}, {20, 64}};
  RowBandPool one(1), two(2), three(3);
  for (const auto& size : sizes)
    for (Scene scene : {Scene::kChains, Scene::kNoise})
      for (int32_t bayer = 0; bayer < 4; ++bayer)
        for (int32_t mode : {kColourMode8, kColourMode24}) {
          const int32_t w = size[0], h = size[1], pad = bayer;
          TestImage raw(w, h, 8, pad);
          FillFrame(raw, rng, scene);
          ImageParameters p = NeutralImageParameters();
          p.bayerMode = bayer;
          p.bayerGainRed = 37 + 50 * bayer, p.bayerGainBlue = 300 - 40 * bayer;
          p.sharpness = mode == kColourMode24 ? 7 : 0;
          auto run = [&](RowBandPool* pool, TestImage& r, TestImage& out) {
            TestImage raw16(w, h, 16, pad), bgr32(w, h, 32, pad), bgr48(w, h, 48, pad), bgr64(w, h, 64, pad),
                scratch(w, h, mode == kColourMode8 ? 8 : 24, pad);
            const FrameImages images{r.view(),     raw16.view(), out.view(),    bgr32.view(),
                                     bgr48.view(), bgr64.view(), scratch.view()};
            ImageParameters working = p;
            AnalogueState analogue{};
            NoDevice hooks;
            ProcessFrame(images, mode, working, analogue, hooks, pool);
          };
          TestImage refRaw = raw, refOut(w, h, 24, pad);
          {
            SetVectorPath(VectorPath::kScalar);
            run(nullptr, refRaw, refOut);
            SetVectorPath(VectorPath::kAuto);
          }
          for (RowBandPool* pool : {&one, &two, &three}) {
            TestImage r = raw, out(w, h, 24, pad);
            run(pool, r, out);
            ASSERT_EQ(r.bytes(), refRaw.bytes()) << w << "x" << h << " bayer " << bayer << " mode " << mode
                                                 << " threads " << pool->threads();
            if (mode == kColourMode24) {
              ASSERT_EQ(out.bytes(), refOut.bytes());
            }
          }
        }
}

}  // namespace
}  // namespace tovira::test
