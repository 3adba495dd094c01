// Copying a processed image out row by row, in storage order (top line first) or reversed (bottom line
// first, as a bottom-up bitmap expects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/DibImage.h"

namespace tovira {

// Bytes a copy of the image takes: height x stride.
inline std::size_t ImageBytes(const CDibImage& image) { return image.ByteSize(); }

inline void CopyImageRows(const CDibImage& image, int rowOrder, void* destination) {
    auto* out = static_cast<std::uint8_t*>(destination);
    const std::size_t rowBytes = static_cast<std::size_t>(image.Stride());
    const int rows = image.Height();
    if (rowOrder != 0) {
        std::memcpy(out, image.Bits(), rowBytes * static_cast<std::size_t>(rows));
        return;
    }
    for (int i = 0; i < rows; ++i)
        std::memcpy(out + static_cast<std::size_t>(i) * rowBytes,
                    image.Bits() + static_cast<std::size_t>(rows - 1 - i) * rowBytes, rowBytes);
}

}  // namespace tovira
