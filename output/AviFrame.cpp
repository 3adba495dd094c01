#include "output/AviFrame.h"

#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"

int AviFrameBuilder::Create(int width, int height) {
    return frame_.Create(width, height, 24) && second_.Create(width, height, 24) && grey_.Create(width, height, 8)
               ? 1 : 0;
}

namespace {

bool SameSize(const CDibImage& output, const CDibImage& work) {
    return !output.IsEmpty() && !work.IsEmpty() && output.Width() == work.Width() && output.Height() == work.Height();
}

}  // namespace

const CDibImage* AviFrameBuilder::BuildGrey(const CDibImage& output) {
    using namespace tovira;
    if (!SameSize(output, grey_)) return nullptr;
    switch (output.BitCount()) {
        case 8:
            ApplyKernel(grey_.View(), RowsCopyFlip, output.View());
            return &grey_;
        case 16:
            ApplyKernel(grey_.View(), Gray16To8Shift4Flip, output.View());
            return &grey_;
        default:
            return nullptr;
    }
}

const CDibImage* AviFrameBuilder::Build(const CDibImage& output) {
    using namespace tovira;
    if (!SameSize(output, frame_)) return nullptr;
    switch (output.BitCount()) {
        case 8:
            // The grey palette turns the 8-bit picture into grey colour; both bitmaps are bottom-up,
            // so the rows keep their order and the flip follows.
            if (!second_.BltFrom(output)) return nullptr;
            GdiFlush();
            ApplyKernel(frame_.View(), Bgr24CopyFlip, second_.View());
            return &frame_;
        case 16:
            ApplyKernel(grey_.View(), Gray16To8Shift4Flip, output.View());
            GdiFlush();
            if (!frame_.BltFrom(grey_)) return nullptr;
            GdiFlush();
            return &frame_;
        case 24:
        case 32:
            ApplyKernel(frame_.View(), Bgr24CopyFlip, output.View());
            return &frame_;
        case 48:
        case 64:
            ApplyKernel(second_.View(), Bgr48To24Shift4Flip, output.View());
            return &second_;
        default:
            return nullptr;
    }
}
