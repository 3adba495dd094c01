// A 256-entry byte table looked up for 32 bytes at once with AVX2 byte shuffles, no gathers.
//
// The table is sixteen 16-entry pieces, each in both 128-bit lanes of a register. A shuffle gives 0
// where its index has the top bit set, so with a = v & 0x8F and b = a ^ 0x80 the pair
// shuffle(piece j, a) | shuffle(piece j + 8, b) is entry 16 j + (v & 15) of the half of the table that
// bit 7 of v names: eight such pairs, one for each value of bits 4..6, and three rounds of byte blends
// by bits 4, 5 and 6 (each moved to the top of its byte by a shift) pick the pair of v's own piece.
// Sixteen shuffles, eight ORs and seven blends for 32 bytes.
//
// For the files compiled for AVX2 only (SharpenAvx2.cpp, ToneTableAvx2.cpp):
// include it after their target pragma. Everything here has internal linkage, so each such file has its
// own copy and no AVX2 code can stand in for a copy of another file at link time.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace tovira {
namespace {

struct ByteTable2 {
  __m256i piece[16];
};

inline ByteTable2 LoadByteTable2(const uint8_t* table) {
  ByteTable2 t;
  for (int k = 0; k < 16; ++k)
    t.piece[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
  return t;
}

// table[v] for the 32 bytes of v.
[[gnu::always_inline]] inline __m256i Lookup2(const ByteTable2& table, __m256i v) {
  const __m256i a = _mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0x8F)));
  const __m256i b = _mm256_xor_si256(a, _mm256_set1_epi8(static_cast<char>(0x80)));
  __m256i pair[8];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j)
    pair[j] = _mm256_or_si256(_mm256_shuffle_epi8(table.piece[j], a), _mm256_shuffle_epi8(table.piece[j + 8], b));
  // Bits 4, 5, 6 of each byte at its top (16-bit shifts: a byte's top bit comes from its own bits).
  const __m256i bit4 = _mm256_slli_epi16(v, 3), bit5 = _mm256_slli_epi16(v, 2), bit6 = _mm256_slli_epi16(v, 1);
  const __m256i q0 = _mm256_blendv_epi8(pair[0], pair[1], bit4), q1 = _mm256_blendv_epi8(pair[2], pair[3], bit4);
  const __m256i q2 = _mm256_blendv_epi8(pair[4], pair[5], bit4), q3 = _mm256_blendv_epi8(pair[6], pair[7], bit4);
  const __m256i h0 = _mm256_blendv_epi8(q0, q1, bit5), h1 = _mm256_blendv_epi8(q2, q3, bit5);
  return _mm256_blendv_epi8(h0, h1, bit6);
}

}  // namespace
}  // namespace tovira
