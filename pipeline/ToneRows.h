// Internal interface between the tone-table kernels (Tone.cpp) and their AVX-512 body
// (ToneTableAvx512.cpp, compiled for AVX-512 BW and VBMI and only called when the CPU has them) and
// AVX2 body (ToneTableAvx2.cpp, only called when the CPU has AVX2).
#pragma once

#include <cstdint>

namespace tovira::tone_rows {

// target[i] = table[source[i]] for the first multiple of 64 of n bytes; returns the bytes done. With
// keepFourth, bytes 3, 7, 11, ... are not written (the fourth byte of 32-bit pixels).
int64_t Lookup8Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth);

// The same for the first multiple of 32 of n bytes, with AVX2 byte shuffles; returns the bytes done.
int64_t Lookup8Avx2(uint8_t* target, const uint8_t* source, int64_t n, const uint8_t* table, bool keepFourth);

// 8-bit samples through the brightness alone, computed (no table): target = BuildBrightnessTable8's
// entry of the source byte (trunc(min(v * factor, 255)) in single precision), for the first multiple of
// 32 of n bytes (AVX2); returns the bytes done. keepFourth as above.
int64_t Brightness8Avx2(uint8_t* target, const uint8_t* source, int64_t n, float factor, bool keepFourth);

// 16-bit samples through the brightness alone, computed (no table): target = min(largest, trunc(min(v,
// largest) * factor)) as BuildBrightnessTable16's entries, for the first multiple of 16 of n samples
// (AVX2); returns the samples done. keepFourth as above.
int64_t Brightness16Avx2(uint8_t* target, const uint8_t* source, int64_t n, float factor, int32_t largest,
                         bool keepFourth);

// The same for 16-bit samples through a table of largest + 1 entries (samples above largest read the
// last entry): the first multiple of 32 of n samples; returns the samples done. With keepFourth, samples
// 3, 7, 11, ... are not written (the fourth sample of 64-bit pixels).
int64_t Lookup16Avx512(uint8_t* target, const uint8_t* source, int64_t n, const uint16_t* table, int32_t largest,
                       bool keepFourth);

}  // namespace tovira::tone_rows
