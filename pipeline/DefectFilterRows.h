// Internal interface between the defect filter (DefectFilter.cpp) and its vector bodies
// (DefectFilterSse2.cpp; DefectFilterAvx2.cpp and DefectFilterAvx512.cpp, each compiled for its
// instruction set and only called when the CPU has it). Not for other callers.
#pragma once

#include <cstdint>

namespace tovira::defect_rows {

// The 16-bit scan of rows rowBegin, rowBegin + 2, ... before rowEnd, columns xBegin .. xEnd - 1, with
// the same result as the pixel-by-pixel scan: a pixel is replaced by the mean of its four partners two
// pixels away when |v - mean| > thresholdMinus1 (threshold 1 .. 32767). Columns xBegin - 2 .. xEnd + 1
// of rows rowBegin - 2, rowBegin, ... before rowEnd + 2 must be readable; only the scanned pixels are
// written (a pixel may be written with the value it had). Rows of the other parity are not touched, so
// the two parities may run at the same time on two threads.
void FilterRows16Avx2(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                      int32_t rowEnd, int32_t thresholdMinus1);
// The same on four rows at a time (SSE2) and on sixteen (AVX-512).
void FilterRows16Sse2(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                      int32_t rowEnd, int32_t thresholdMinus1);
void FilterRows16Avx512(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                        int32_t rowEnd, int32_t thresholdMinus1);

}  // namespace tovira::defect_rows
