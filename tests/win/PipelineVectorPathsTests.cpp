// The frame pipeline's vector bodies as the Windows build compiles them (SSE2, and the AVX2 and AVX-512
// bodies chosen at run time, whose 32- and 64-byte values live on a stack Windows aligns to 16 bytes),
// run under Wine on one and two threads: every colour mode with every parameter active gives the bytes
// of the scalar loops.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "PipelineTestImages.h"
#include "pipeline/FramePipeline.h"
#include "pipeline/RowBandPool.h"
#include "pipeline/VectorPath.h"

namespace {

using pipeline_test::Image;
using pipeline_test::NoDevice;

// One frame of colour mode `mode` on the given path and pool; returns the output image's bytes.
std::vector<uint8_t> RunFrame(const Image& raw8, const Image& raw16, int32_t mode, int sharpness,
                              tovira::VectorPath path, tovira::RowBandPool* pool) {
    const int w = raw8.view.width, h = raw8.view.height;
    const uint16_t outputBits[] = {8, 16, 24, 32, 48, 64};
    Image r8 = raw8, r16 = raw16, b24(w, h, 24), b32(w, h, 32), b48(w, h, 48), b64(w, h, 64),
          scratch(w, h, outputBits[mode]);
    tovira::FrameImages images{r8.view, r16.view, b24.view, b32.view, b48.view, b64.view, scratch.view};
    tovira::ImageParameters p = tovira::NeutralImageParameters();
    p.hue = 140, p.saturation = 70, p.gamma = 80, p.contrast = 10, p.sharpness = sharpness, p.brightness = 10;
    p.bayerMode = mode % 4;
    tovira::AnalogueState analogue{};
    NoDevice hooks;
    tovira::SetVectorPath(path);
    tovira::ProcessFrame(images, mode, p, analogue, hooks, pool);
    tovira::SetVectorPath(tovira::VectorPath::kAuto);
    const Image* out[] = {&r8, &r16, &b24, &b32, &b48, &b64};
    return out[mode]->bytes;
}

TEST(PipelineVectorPathsWine, EveryPathAndThreadCountGivesTheScalarResult) {
    std::mt19937 rng(48);
    const int w = 333, h = 77;  // rows of 32-pixel steps and a tail; bands of odd height
    Image raw8(w, h, 8), raw16(w, h, 16);
    for (auto& b : raw8.bytes) b = uint8_t(rng());
    for (size_t i = 0; i + 1 < raw16.bytes.size(); i += 2) {
        const uint16_t v = uint16_t(rng() % 4096);
        raw16.bytes[i] = uint8_t(v), raw16.bytes[i + 1] = uint8_t(v >> 8);
    }
    tovira::RowBandPool two(2);
    for (int32_t mode = 0; mode < 6; ++mode)
        for (int sharpness : {0, 8}) {
            const std::vector<uint8_t> expected =
                RunFrame(raw8, raw16, mode, sharpness, tovira::VectorPath::kScalar, nullptr);
            for (tovira::VectorPath path : {tovira::VectorPath::kSse2, tovira::VectorPath::kAvx2, tovira::VectorPath::kAvx512})
                for (tovira::RowBandPool* pool : {static_cast<tovira::RowBandPool*>(nullptr), &two})
                    EXPECT_EQ(expected, RunFrame(raw8, raw16, mode, sharpness, path, pool))
                        << "colour mode index " << mode << " sharpness " << sharpness << " path "
                        << tovira::VectorPathName(path) << " threads " << (pool ? 2 : 1);
        }
}

}  // namespace
