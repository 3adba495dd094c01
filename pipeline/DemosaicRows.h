// Internal interface between the demosaic kernels (Demosaic.cpp) and their wide vector bodies
// (DemosaicAvx2.cpp, compiled for AVX2 and only called when the CPU has it). Not for other callers.
#pragma once

#include <cstdint>

namespace tovira::demosaic_rows {

// One pass over the interior: output rows y and, when out[1] is set, y + 1, both interpolated from the
// source rows y-2 .. y+2 (each row is read once for both output rows).
struct RowPass {
  const uint8_t* rows[5];  // storage rows y-2 .. y+2 from column 0; rows[4] only read for two rows
  uint8_t* out[2];         // target pixel of column `begin` in output rows y and y + 1 (nullptr: one row)
  int32_t begin, end;      // absolute columns to write, begin .. end-1 (all interior columns)
  int32_t bayerMode;       // 0..3
  int32_t y;               // storage row of the first output row
  int32_t redFactor, blueFactor;  // GainFactor of the gains
};

// targetBpp kPlanes8 (8-bit samples only): out[i] is the blue plane of output row i, a row of bytes
// from column `begin` on, with the green plane kPlaneBytes after it and the red plane 2 * kPlaneBytes
// after it; end - begin must be at most kPlaneBytes.
constexpr int32_t kPlanes8 = 1;
constexpr int32_t kPlaneBytes = 2048;

// The vector bodies write whole vector steps from `begin` (the last step may overlap the one before)
// and return the first column they left to the caller (at most one column before `end`, or `begin`
// when the span is too short for a step). targetBpp: 3, 4 or kPlanes8 for 8-bit samples, 6 or 8 for 16-bit
// samples; the fourth channel is never changed.
int32_t InteriorPass8Avx2(const RowPass& pass, int32_t targetBpp);
int32_t InteriorPass16Avx2(const RowPass& pass, int32_t targetBpp);
// The 8-bit pass into planes (kPlanes8) with AVX-512 (BW), 64 pixels a step; for callers on the AVX-512
// vector path only.
int32_t InteriorPlanes8Avx512(const RowPass& pass);

// True when the CPU and the operating system support AVX2.
bool CpuHasAvx2();

}  // namespace tovira::demosaic_rows
