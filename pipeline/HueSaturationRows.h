// Internal interface between the hue/saturation kernels (HueSaturation.cpp) and their AVX2 and AVX-512
// bodies (HueSaturationAvx2.cpp, HueSaturationAvx512.cpp, each compiled for its instruction set and only
// called when the CPU has it). Not for other callers.
#pragma once

#include <cstdint>

namespace tovira::hue_rows {

struct RowConstants {
  int16_t steps;           // hue shift mod 255
  int16_t sectors;         // hue shift / 255
  int16_t saturation;      // saturation + 256 (1..511)
  const uint8_t* offsets;  // rounded offset of chroma c and offset d at [c * 256 + d] (the SSE2 rows)
  const uint8_t* tone;     // 8-bit rows of the AVX-512 body (Row8Avx512, Planes8Avx512): a 256-entry
                           // table for the results, or nullptr
  const uint8_t* saturationTable;  // the saturation table of 256 chromas (BuildSaturationTable)
  // 16-bit rows of the AVX-512 body: a tone table for the results, or nullptr. `tone16` has the
  // entries of the 256 widened results (entry v << shift); `toneFull` the whole table, largest + 1
  // entries (largest >= 1), for grey pixels, which keep their samples.
  const uint16_t* tone16;
  const uint16_t* toneFull;
  int32_t toneLargest;
};

// A row of n pixels of 8-bit samples, bpp 3 or 4 in source and target alike (a fourth byte of the target
// keeps its value), in groups of sixteen; returns the pixels done (a multiple of 16).
int32_t Row8Avx2(const uint8_t* source, uint8_t* target, int32_t n, int32_t bpp, const RowConstants& k);

// A row of n pixels of bpp 3 or 4 bytes (a fourth byte of the target keeps its value) in groups of 32 in
// byte lanes (no tone table: the caller applies it); returns the pixels done (a multiple of 32).
int32_t Row8BytesAvx2(const uint8_t* source, uint8_t* target, int32_t n, int32_t bpp, const RowConstants& k);

// n pixels whose channels lie in three planes of bytes (blue at `planes`, green planeBytes after it,
// red 2 * planeBytes after it) into a row of n pixels of bpp 3 or 4 (a fourth byte of the target keeps
// its value), in groups of 32 (AVX2) or 64 (AVX-512, with k.tone) whose last one is moved back to end
// at n; the planes must not overlap the target. Returns n, or 0 (nothing written) when n is below a
// group or bpp is another size.
int32_t Planes8Avx2(const uint8_t* planes, int32_t planeBytes, uint8_t* target, int32_t n, int32_t bpp,
                    const RowConstants& k);
int32_t Planes8Avx512(const uint8_t* planes, int32_t planeBytes, uint8_t* target, int32_t n, int32_t bpp,
                      const RowConstants& k);

// The same for 16-bit samples, bpp 6 or 8 (a fourth sample of the target keeps its value): samples
// reduced by `shift` to 8 bits (at most 255), widened again on the way out; grey pixels keep their
// samples. With toneFull, the results are limited to toneLargest (the table is applied after the rows).
int32_t Row16Avx2(const uint8_t* source, uint8_t* target, int32_t n, int32_t bpp, int32_t shift,
                  const RowConstants& k);

// The same rows with AVX-512 (BW, VBMI), 8-bit samples in groups of 64 pixels and then of 32, 16-bit
// samples in groups of 64 (through the byte-lane transform) and then of 32; returns the pixels done.
int32_t Row8Avx512(const uint8_t* source, uint8_t* target, int32_t n, int32_t bpp, const RowConstants& k);
int32_t Row16Avx512(const uint8_t* source, uint8_t* target, int32_t n, int32_t bpp, int32_t shift,
                    const RowConstants& k);

}  // namespace tovira::hue_rows
