// The 16-bit defect scan as the library is built for Windows (its AVX2 body assembled with unaligned
// vector moves, as the 64-bit Windows stack is aligned to 16 bytes only), under Wine: on a large noisy
// frame every vector path gives the pixel-by-pixel scan's bytes, also with the two row parities on two
// Windows threads as the frame pipeline runs them.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/VectorPath.h"

namespace {

struct Frame16 {
    std::vector<uint8_t> bytes;
    tovira::ImageView view;
    Frame16(int w, int h, std::mt19937& rng) {
        view.width = w, view.height = h, view.bitsPerPixel = 16, view.stride = w * 2 + 6;
        bytes.assign(size_t(view.stride) * h, 0);
        std::uniform_int_distribution<int> noise(-48, 48);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // A smooth scene with noise above the threshold: most pixels are replaced, in long chains.
                const uint16_t v = uint16_t(30000 + 11 * x - 7 * y + noise(rng));
                std::memcpy(&bytes[size_t(y) * view.stride + 2 * x], &v, 2);
            }
        view.pixels = bytes.data();
    }
    Frame16(const Frame16& other) : bytes(other.bytes), view(other.view) { view.pixels = bytes.data(); }
};

void Filter(Frame16& frame) {
    tovira::ColourRecord colour{0, 100, 100, 100};
    tovira::ThresholdRecord threshold{30};
    tovira::ApplyKernel(frame.view, tovira::FilterDefectPixels, frame.view, nullptr, 0, 0, &colour, &threshold);
}

struct OddRows {
    const tovira::ImageView* view;
};

DWORD WINAPI FilterOddRows(void* context) {
    tovira::FilterDefectRows16(*static_cast<OddRows*>(context)->view, 30, 1);
    return 0;
}

TEST(DefectScanWine, EveryPathAndTwoThreadsGiveThePixelScan) {
    std::mt19937 rng(48);
    const Frame16 original(1283, 301, rng);
    tovira::SetVectorPath(tovira::VectorPath::kScalar);
    Frame16 expected = original;
    Filter(expected);
    ASSERT_NE(expected.bytes, original.bytes);
    for (tovira::VectorPath path : {tovira::VectorPath::kSse2, tovira::VectorPath::kAvx2, tovira::VectorPath::kAvx512}) {
        tovira::SetVectorPath(path);
        const char* name = tovira::VectorPathName(tovira::ActiveVectorPath());
        Frame16 whole = original, threaded = original;
        Filter(whole);
        EXPECT_EQ(expected.bytes, whole.bytes) << name;
        OddRows odd{&threaded.view};
        HANDLE thread = CreateThread(nullptr, 0, FilterOddRows, &odd, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        tovira::FilterDefectRows16(threaded.view, 30, 0);
        EXPECT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
        CloseHandle(thread);
        EXPECT_EQ(expected.bytes, threaded.bytes) << name << ", two threads";
    }
    tovira::SetVectorPath(tovira::VectorPath::kAuto);
}

}  // namespace
