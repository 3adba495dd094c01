// Small pieces of the frame loop that are worth testing on their own.
#pragma once

#include <windows.h>

// Bits per pixel of colour modes 0..5.
constexpr int kColourModeBits[6] = {8, 16, 24, 32, 48, 64};

// Frame rate in tenths of frames per second for `framesCounted` frames over `elapsedMs` milliseconds;
// 0 for no time.
int FrameRateTenths(int framesCounted, DWORD elapsedMs);
