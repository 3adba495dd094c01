// Cutting the image window out of a frame transfer (portable).
#pragma once

#include "device/FrameGeometry.h"

#include <cstddef>
#include <cstdint>

namespace tovira {

// Bytes the destination needs: H x W samples, one byte each in 8-bit mode, two in 16-bit mode.
std::size_t unpackedFrameBytes(const FrameGeometry& g, bool wide);

// 8-bit mode: H rows of W bytes, top row first, no gaps (block copies of each line's image part).
// 16-bit mode: H rows of W little-endian words holding the 12-bit sample: the first byte of a position
// carries bits 11..4, the low nibble of the second bits 3..0 (its high nibble means nothing).
// Returns 0.
int UnpackFrame(void* destination, const void* source, const FrameGeometry& g, bool wide);

} // namespace tovira
