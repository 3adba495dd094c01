// The Bayer phase the frame pipeline works with for the capture window being read.
#pragma once

#include <cstdint>

// The stored Bayer mode names the colours of the full frame as the sensor reads it with the current
// mirrors (the mirror setters move it, and callers and stored settings keep that meaning). A window
// starts its read-out on another colour when its first sensor column (row) differs in parity from the
// full frame's: without mirroring the read-out starts at the window's first column, with mirroring at
// its last one, where the full frame (3840 x 2748, both even) starts at an odd offset. Skipping keeps
// pairs of columns and rows, so it does not move the phase. Modes outside 0..3 pass unchanged.
inline int32_t WindowBayerMode(int32_t storedMode, int hStart, int vStart, int width, int height, bool mirrorH,
                               bool mirrorV) {
    if (storedMode < 0 || storedMode > 3) return storedMode;
    const int columnShift = (mirrorH ? hStart + width : hStart) & 1;
    const int rowShift = (mirrorV ? vStart + height : vStart) & 1;
    // Mode bit 1 swaps the columns of the 2 x 2 cell, bit 0 its rows.
    return storedMode ^ (columnShift << 1) ^ rowShift;
}
