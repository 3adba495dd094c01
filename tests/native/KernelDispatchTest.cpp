// ApplyKernel: clipping, bitmap-to-storage rows, and what reaches the kernel.
#include <gtest/gtest.h>

#include <random>

#include "pipeline/ApplyKernel.h"
#include "tests/native/KernelTestSupport.h"

namespace tovira::test {
namespace {

struct Call {
  int calls = 0;
  KernelRect rect;
  int32_t x = -1, y = -1;
  uint16_t targetBpp = 0, sourceBpp = 0;
  int32_t targetStride = 0, sourceStride = 0;
  void* p = nullptr;
  void* q = nullptr;
};
thread_local Call gCall;

TOVIRA_PIXEL_KERNEL(RecordingKernel) {
  ++gCall.calls;
  gCall.rect = rect;
  gCall.x = x, gCall.y = y;
  gCall.targetBpp = targetBpp, gCall.sourceBpp = sourceBpp;
  gCall.targetStride = targetStride, gCall.sourceStride = sourceStride;
  gCall.p = p, gCall.q = q;
  return 77;
}

// Copies the rectangle pixel by pixel (any bytes per pixel, equal in both images).
TOVIRA_PIXEL_KERNEL(CopyKernel) {
  for (int32_t i = 0; i < rect.height(); ++i)
    std::memcpy(target + static_cast<size_t>(y + i) * targetStride + x * targetBpp,
                source + static_cast<size_t>(rect.top + i) * sourceStride + rect.left * sourceBpp,
                static_cast<size_t>(rect.width()) * sourceBpp);
  return 1;
}

int64_t Apply(const TestImage& target, const TestImage& source, const KernelRect* rect, int32_t x,
              int32_t y) {
  gCall = Call{};
  return ApplyKernel(target.view(), RecordingKernel, source.view(), rect, x, y);
}

TEST(ApplyKernel, FullFramePassesWholeRectangleAndOriginUnchanged) {
  TestImage target(37, 21, 24), source(37, 21, 8);
  int p = 0, q = 0;
  gCall = Call{};
  EXPECT_EQ(77, ApplyKernel(target.view(), RecordingKernel, source.view(), nullptr, 0, 0, &p, &q));
  ASSERT_EQ(1, gCall.calls);
  EXPECT_EQ(0, gCall.rect.left);
  EXPECT_EQ(0, gCall.rect.top);
  EXPECT_EQ(37, gCall.rect.right);
  EXPECT_EQ(21, gCall.rect.bottom);
  EXPECT_EQ(0, gCall.x);
  EXPECT_EQ(0, gCall.y);
  EXPECT_EQ(3, gCall.targetBpp);
  EXPECT_EQ(1, gCall.sourceBpp);
  EXPECT_EQ(target.stride(), gCall.targetStride);
  EXPECT_EQ(source.stride(), gCall.sourceStride);
  EXPECT_EQ(&p, gCall.p);
  EXPECT_EQ(&q, gCall.q);
}

TEST(ApplyKernel, RectangleInBitmapRowsBecomesStorageRows) {
  TestImage image(100, 50, 8);
  const KernelRect window{10, 5, 20, 15};  // bitmap rows 5..14 = storage rows 35..44
  EXPECT_EQ(77, Apply(image, image, &window, 10, 5));
  EXPECT_EQ(10, gCall.rect.left);
  EXPECT_EQ(35, gCall.rect.top);
  EXPECT_EQ(20, gCall.rect.right);
  EXPECT_EQ(45, gCall.rect.bottom);
  EXPECT_EQ(10, gCall.x);
  EXPECT_EQ(35, gCall.y);
}

TEST(ApplyKernel, ClipsAtEveryEdgeOfTheTarget) {
  TestImage target(20, 10, 8), source(20, 10, 8);
  // Right and top-of-picture (bitmap bottom) edge.
  EXPECT_EQ(77, Apply(target, source, nullptr, 15, 4));
  EXPECT_EQ((KernelRect{0, 4, 5, 10}.left), gCall.rect.left);
  EXPECT_EQ(5, gCall.rect.width());
  EXPECT_EQ(6, gCall.rect.height());
  EXPECT_EQ(15, gCall.x);
  EXPECT_EQ(0, gCall.y);
  // Left and bitmap top edge: negative x, y cut the source's first columns and bitmap rows.
  EXPECT_EQ(77, Apply(target, source, nullptr, -3, -2));
  EXPECT_EQ(3, gCall.rect.left);
  EXPECT_EQ(20, gCall.rect.right);
  EXPECT_EQ(0, gCall.rect.top);
  EXPECT_EQ(8, gCall.rect.bottom);  // bitmap rows 2..9 = storage rows 0..7
  EXPECT_EQ(0, gCall.x);
  EXPECT_EQ(2, gCall.y);            // target bitmap rows 0..7 = storage rows 2..9
}

TEST(ApplyKernel, NothingOverlappingCallsNothing) {
  TestImage target(20, 10, 8), source(20, 10, 8);
  const KernelRect outside{25, 0, 30, 5};
  EXPECT_EQ(0, Apply(target, source, &outside, 0, 0));
  EXPECT_EQ(0, gCall.calls);
  const KernelRect below{0, 10, 5, 12};
  EXPECT_EQ(0, Apply(target, source, &below, 0, 0));
  EXPECT_EQ(0, Apply(target, source, nullptr, 20, 0));
  EXPECT_EQ(0, Apply(target, source, nullptr, 0, 10));
  EXPECT_EQ(0, Apply(target, source, nullptr, -20, 0));
  EXPECT_EQ(0, Apply(target, source, nullptr, 0, -10));
  const KernelRect empty{5, 5, 5, 8};
  EXPECT_EQ(0, Apply(target, source, &empty, 0, 0));
  EXPECT_EQ(0, gCall.calls);
  EXPECT_EQ(0, ApplyKernel(target.view(), nullptr, source.view()));
  ImageView none;
  EXPECT_EQ(0, ApplyKernel(none, RecordingKernel, source.view()));
  ImageView badStride = source.view();
  badStride.stride = 3;
  EXPECT_EQ(0, ApplyKernel(target.view(), RecordingKernel, badStride));
  EXPECT_EQ(0, gCall.calls);
}

// Reference: copy pixel by pixel in bitmap coordinates, keeping only pixels inside both images.
void ReferenceCopy(TestImage& target, const TestImage& source, KernelRect r, int32_t x, int32_t y) {
  for (int32_t by = r.top; by < r.bottom; ++by)
    for (int32_t bx = r.left; bx < r.right; ++bx) {
      const int32_t tx = x + (bx - r.left), ty = y + (by - r.top);
      if (bx < 0 || by < 0 || bx >= source.width() || by >= source.height()) continue;
      if (tx < 0 || ty < 0 || tx >= target.width() || ty >= target.height()) continue;
      std::memcpy(target.at(tx, target.height() - 1 - ty), source.at(bx, source.height() - 1 - by),
                  source.bpp());
    }
}

TEST(ApplyKernel, RandomGeometriesKeepSourceAndTargetPixelsInCorrespondence) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> size(1, 23), coord(-30, 40);
  for (int round = 0; round < 3000; ++round) {
    const uint16_t bits = (round % 3 == 0) ? 24 : ((round % 3 == 1) ? 8 : 16);
    TestImage source(size(rng), size(rng), bits, round % 4), target(size(rng), size(rng), bits, round % 3);
    source.fillRandom(rng, bits == 16 ? 65535 : 255, bits == 16);
    target.fillRandom(rng, 255, false);
    TestImage expected = target;
    KernelRect r{coord(rng), coord(rng), coord(rng), coord(rng)};
    const int32_t x = coord(rng), y = coord(rng);
    const bool whole = round % 5 == 0;
    if (whole) r = KernelRect{0, 0, source.width(), source.height()};
    ReferenceCopy(expected, source, r, x, y);
    ApplyKernel(target.view(), CopyKernel, source.view(), whole ? nullptr : &r, x, y);
    ASSERT_EQ(expected.bytes(), target.bytes()) << "round " << round;
  }
}

TEST(ApplyStretchKernel, PassesBothRectanglesAndPackedSizes) {
  static KernelRect seenTarget, seenSource;
  static uint64_t seenTargetSize, seenSourceSize;
  struct Local {
    static TOVIRA_STRETCH_KERNEL(Kernel) {
      seenTarget = targetRect, seenSource = sourceRect;
      seenTargetSize = targetSize, seenSourceSize = sourceSize;
      return 5;
    }
  };
  TestImage target(30, 20, 24), source(64, 48, 24);
  EXPECT_EQ(5, ApplyStretchKernel(target.view(), Local::Kernel, source.view()));
  EXPECT_EQ(30, seenTarget.right);
  EXPECT_EQ(20, seenTarget.bottom);
  EXPECT_EQ(64, seenSource.right);
  EXPECT_EQ(48, seenSource.bottom);
  EXPECT_EQ(30, SizeWidth(seenTargetSize));
  EXPECT_EQ(20, SizeHeight(seenTargetSize));
  EXPECT_EQ(64, SizeWidth(seenSourceSize));
  EXPECT_EQ(48, SizeHeight(seenSourceSize));
  EXPECT_EQ(0, ApplyStretchKernel(target.view(), nullptr, source.view()));
}

}  // namespace
}  // namespace tovira::test
