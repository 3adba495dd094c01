// Images and a pipeline without a camera for the Windows tests that run the frame pipeline directly.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/FramePipeline.h"

namespace pipeline_test {

// Hooks of a pipeline with no device behind it: the automatic iris finds nothing to read or write.
class NoDevice : public tovira::FramePipelineHooks {
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

// A zeroed image with rows padded to 4 bytes; a copy owns its own bytes.
struct Image {
    std::vector<uint8_t> bytes;
    tovira::ImageView view;
    Image(int w, int h, uint16_t bits) {
        view.width = w, view.height = h, view.bitsPerPixel = bits, view.stride = (w * (bits / 8) + 3) & ~3;
        bytes.assign(size_t(view.stride) * h, 0);
        view.pixels = bytes.data();
    }
    Image(const Image& other) : bytes(other.bytes), view(other.view) { view.pixels = bytes.data(); }
    Image& operator=(const Image&) = delete;
};

}  // namespace pipeline_test
