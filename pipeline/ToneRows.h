// Internal interface between the tone-table kernels (Tone.cpp) and their AVX-512 body
// (ToneTableAvx512.cpp, compiled for AVX-512 BW and VBMI and only called when the CPU has them).
#pragma once

#include <cstdint>

namespace tovira::tone_rows {

// target[i] = table[source[i]] for the first multiple of 64 of n bytes; returns the bytes done. With
// keepFourth, bytes 3, 7, 11, ... are not written (the fourth byte of 32-bit pixels).
int64_t Lookup8Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth);

// The same for 16-bit samples through a table of largest + 1 entries (samples above largest read the
// last entry): the first multiple of 32 of n samples; returns the samples done. With keepFourth, samples
// 3, 7, 11, ... are not written (the fourth sample of 64-bit pixels).
int64_t Lookup16Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint16_t* table, int32_t largest,
                       bool keepFourth);

}  // namespace tovira::tone_rows
