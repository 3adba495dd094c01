// The frame pipeline's worker threads inside the library under Wine: the pool is made when streaming
// starts and ended when it stops (never per frame), streaming with every parameter active runs on it,
// and the banded pipeline on the Windows threads gives the single-thread result byte for byte.

#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <vector>

#include "CameraTestSupport.h"
#include "camera/Tovira.h"
#include "PipelineTestImages.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/RowBandPool.h"

namespace {

class PipelineThreads : public CameraInstanceTest {};

TEST_F(PipelineThreads, ThePoolLivesFromStartToStopOfTheStream) {
    CTovira& camera = open(640, 480, 24);
    for (int id : {1, 2, 3, 4, 5, 11}) camera.SetFilterValue(id, id == 11 ? 80 : 10 + id);
    EXPECT_EQ(camera.bandPool, nullptr);
    camera.pipelineThreads = 2;
    ASSERT_EQ(camera.StartPreview(), 1) << camera.GetLastError();
    ASSERT_NE(camera.bandPool, nullptr);
    EXPECT_EQ(camera.bandPool->threads(), 2);
    const tovira::RowBandPool* first = camera.bandPool.get();
    // Frames go through the pool; it stays the same object from frame to frame.
    const DWORD start = GetTickCount();
    // (the counter restarts every second, when the rate is updated)
    while (camera.framesCounted < 3 && camera.frameRate == 0 && GetTickCount() - start < 60000) Sleep(20);
    EXPECT_TRUE(camera.framesCounted >= 3 || camera.frameRate > 0);
    EXPECT_EQ(camera.bandPool.get(), first);
    EXPECT_EQ(camera.StopPreview(), 1);
    EXPECT_EQ(camera.bandPool, nullptr);
    // A new stream gets a pool again; 0 threads means one per processor.
    camera.pipelineThreads = 0;
    ASSERT_EQ(camera.StartPreview(), 1);
    ASSERT_NE(camera.bandPool, nullptr);
    EXPECT_EQ(camera.bandPool->threads(), tovira::RowBandPool::DefaultThreads());
    EXPECT_EQ(camera.StopPreview(), 1);
    EXPECT_EQ(camera.bandPool, nullptr);
    EXPECT_TRUE(errors().empty());
}

using pipeline_test::Image;
using pipeline_test::NoDevice;

TEST(PipelineThreadsWine, BandsOnWindowsThreadsEqualTheSingleThreadPipeline) {
    std::mt19937 rng(13);
    tovira::RowBandPool pool(3);
    const uint16_t outputBits[] = {8, 16, 24, 32, 48, 64};
    for (int32_t mode = 0; mode < 6; ++mode) {
        const int w = 203, h = 151;
        Image raw8(w, h, 8), raw16(w, h, 16);
        for (auto& b : raw8.bytes) b = uint8_t(rng());
        for (size_t i = 0; i + 1 < raw16.bytes.size(); i += 2) {
            const uint16_t v = uint16_t(rng() % 4096);
            raw16.bytes[i] = uint8_t(v), raw16.bytes[i + 1] = uint8_t(v >> 8);
        }
        std::vector<uint8_t> results[2];
        for (int threaded = 0; threaded < 2; ++threaded) {
            Image r8 = raw8, r16 = raw16, b24(w, h, 24), b32(w, h, 32), b48(w, h, 48), b64(w, h, 64),
                  scratch(w, h, outputBits[mode]);
            r8.view.pixels = r8.bytes.data(), r16.view.pixels = r16.bytes.data();
            tovira::FrameImages images{r8.view, r16.view, b24.view, b32.view, b48.view, b64.view, scratch.view};
            tovira::ImageParameters p = tovira::NeutralImageParameters();
            p.hue = 25, p.saturation = -30, p.gamma = 120, p.contrast = 12, p.sharpness = 9, p.brightness = 7;
            p.bayerMode = mode % 4;
            tovira::AnalogueState analogue{};
            NoDevice hooks;
            tovira::ProcessFrame(images, mode, p, analogue, hooks, threaded ? &pool : nullptr);
            const Image* out[] = {&r8, &r16, &b24, &b32, &b48, &b64};
            results[threaded] = out[mode]->bytes;
        }
        EXPECT_EQ(results[0], results[1]) << "colour mode index " << mode;
    }
}

}  // namespace
