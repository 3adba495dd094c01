// Unsharp mask with a 4 x 4 box blur, in the four pixel families (see Tone.h).
#pragma once

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// Target = the output image, source = an unsharpened copy of it (the sharpness scratch image), p =
// ValueRecord {sharpness 0..30, significant bits}. For rows and columns 2 .. size-3 of the rectangle:
// b = (sum of the 16 source samples in columns x-2..x+1, rows y-2..y+1) >> 4, out = src + (s * (src -
// b)) / 10 (division truncated towards zero) limited to 0..largest. The two outermost rows and columns
// on each side are not written. They also take q = a ToneTableRecord (or nullptr): its table (256
// entries for the 8-bit families; largest + 1 for the 16-bit ones, samples above it read the last
// entry) is applied to every sample they write, as ToneTable* would after them.
TOVIRA_PIXEL_KERNEL(SharpenGray8);
TOVIRA_PIXEL_KERNEL(SharpenGray16);
TOVIRA_PIXEL_KERNEL(SharpenBgr8);
TOVIRA_PIXEL_KERNEL(SharpenBgr16);

}  // namespace tovira
