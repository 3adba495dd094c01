// The frame format follows the rules the capture preparation applies: the window divided by the
// sub-sampling, rows of the colour mode's bits padded to 4 bytes, and for the raw modes the Bayer phase
// the window starts on (the stored mode moved by the window's start parity, see BayerPhase.h).

#include "camera/FrameFormat.h"

#include "camera/BayerPhase.h"
#include "camera/Tovira.h"

namespace tovira {
namespace {

constexpr int kBits[6] = {8, 16, 24, 32, 48, 64};
constexpr int kSampleBits[6] = {8, 12, 8, 8, 12, 12};
constexpr int kChannels[6] = {1, 1, 3, 4, 3, 4};

int Divisor(int subSample) {
    switch (subSample) {
        case 1: case 16: return 2;
        case 2: case 17: return 4;
        default: return 1;
    }
}

}  // namespace

int GetFrameFormat(CTovira& camera, int rowOrder, TOVIRAX_FRAME_FORMAT* format) {
    if (!format || format->size < static_cast<int>(sizeof(TOVIRAX_FRAME_FORMAT))) {
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    if (!camera.ValidateCaptureWindow()) {
        camera.RecordError(TOVIRA_ERR_WINDOW_RANGE);
        return 0;
    }
    const int mode = camera.colorMode >= 0 && camera.colorMode < 6 ? camera.colorMode : 2;
    TOVIRAX_FRAME_FORMAT f{};
    f.size = sizeof f;
    f.width = camera.effectiveWidth / Divisor(camera.subSample);
    f.height = camera.effectiveHeight / Divisor(camera.subSample);
    f.bitsPerPixel = kBits[mode];
    f.stride = (f.width * f.bitsPerPixel / 8 + 3) & ~3;
    f.bytesPerFrame = f.stride * f.height;
    f.bitsPerSample = kSampleBits[mode];
    f.channels = kChannels[mode];
    f.channelOrder = f.channels == 1 ? TOVIRAX_CHANNELS_RAW : f.channels == 3 ? TOVIRAX_CHANNELS_BGR : TOVIRAX_CHANNELS_BGRX;
    f.rowOrder = rowOrder != 0 ? 1 : 0;
    f.bayerPhase = -1;
    if (f.channels == 1) {
        int phase = WindowBayerMode(camera.image.bayerMode, camera.hStart, camera.vStart, camera.effectiveWidth,
                                    camera.effectiveHeight, camera.mirrorH != 0, camera.mirrorV != 0);
        // Bottom row first: the first row of the buffer is the frame's last; with an even number of rows
        // that row has the other parity (sub-sampling keeps pairs of rows, so the parity carries over).
        if (f.rowOrder == 0 && f.height % 2 == 0 && phase >= 0 && phase <= 3) phase ^= 1;
        f.bayerPhase = phase;
    }
    f.subSample = camera.GetSubSample();
    *format = f;
    return 1;
}

}  // namespace tovira
