// Spreading back-to-back rows to the image stride, in place.
#pragma once

#include "pipeline/ImageView.h"

namespace tovira {

// Called in place (target = source = the raw image, no rectangle) after a frame was copied in with its
// rows packed at width * bytes per pixel. Rows are moved from the last to the first (and within a row
// from the last pixel to the first), so no second buffer is needed; row order does not change and the
// bytes between a row's pixels and the stride are left as they were. The rectangle's width is the
// packed row length in pixels. RestrideRows8 moves 1-byte pixels, RestrideRows16 2-byte pixels.
TOVIRA_PIXEL_KERNEL(RestrideRows8);
TOVIRA_PIXEL_KERNEL(RestrideRows16);

}  // namespace tovira
