// Turns an output image of any colour mode into the 24-bit bottom-up frame an AVI chunk holds, and a grey
// one into an 8-bit grey frame.
#pragma once

#include "output/DibImage.h"

class AviFrameBuilder {
public:
    // The work images for width x height frames. 1, or 0 when one cannot be allocated.
    int Create(int width, int height);
    // Converts `output` (same size as the work images) and returns the image that holds the frame:
    // rows bottom line first, blue, green, red, rows padded to 4. Twelve-bit samples give bits 4..11.
    // Null for another size or an unsupported depth.
    const CDibImage* Build(const CDibImage& output);
    // The 8-bit grey frame of a grey output image (8 bits, or 16 bits whose bits 4..11 are taken): rows
    // bottom line first, padded to 4. Null for another size or a colour image.
    const CDibImage* BuildGrey(const CDibImage& output);

private:
    CDibImage frame_, second_, grey_;
};
