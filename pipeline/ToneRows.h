// Internal interface between the tone-table kernels (Tone.cpp) and their AVX-512 body
// (ToneTableAvx512.cpp, compiled for AVX-512 VBMI and only called when the CPU has it).
#pragma once

#include <cstdint>

namespace tovira::tone_rows {

// target[i] = table[source[i]] for the first multiple of 64 of n bytes; returns the bytes done. With
// keepFourth, bytes 3, 7, 11, ... are not written (the fourth byte of 32-bit pixels).
int64_t Lookup8Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth);

}  // namespace tovira::tone_rows
