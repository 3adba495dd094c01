// The frame record describes the exposure and gains a frame was taken with. The sensor takes a new
// exposure or gain from a later frame than the one in flight when it was written, so the values last
// sent can be newer than the frame's; where the camera reports per frame what it used (in the leading
// line, see device/FrameStamp.h), the record takes those.
#pragma once

#include "ToviraSdk_Z400KX_ext.h"
#include "camera/Tovira.h"
#include "device/FrameStamp.h"

namespace tovira {

inline void ApplyFrameReport(const CTovira& camera, const FrameStamp& stamp, TOVIRAX_FRAME_META& meta) {
    if (!stamp.reported) return;
    meta.exposureLines = stamp.exposureLines;
    // Whole lines plus the frame overhead, in the clock of the last preparation (as the exposure setter).
    meta.exposureUs = static_cast<int>(
        (static_cast<double>(camera.lineLength) * stamp.exposureLines + camera.frameLength) * camera.exposureScale);
    meta.globalGain = stamp.globalGain;
    meta.gainGreen1 = stamp.gains[0];
    meta.gainBlue = stamp.gains[1];
    meta.gainRed = stamp.gains[2];
    meta.gainGreen2 = stamp.gains[3];
}

}  // namespace tovira
