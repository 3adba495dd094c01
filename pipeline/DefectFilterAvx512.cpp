// AVX-512 body of the 16-bit defect scan: the wavefront of DefectFilterAvx2.cpp (see there for why it
// equals the pixel-by-pixel scan) on blocks of sixteen rows, one 32-bit lane per row, with the lane
// shifts done by valignd. This file is compiled for AVX-512 through the target pragma below and its
// function runs only after CpuHasAvx512Vbmi(); nothing else with external linkage is defined here, and
// no inline function or template of another header is used. All scratch lives on the stack (under
// 8 KiB).

// GCC 12's AVX-512 intrinsics fill their unused merge operand with a self-initialised "undefined"
// vector, which -Wuninitialized reports at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pipeline/DefectFilterRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
#endif

namespace tovira::defect_rows {
namespace {

constexpr int kLanes = 16;
constexpr int kPrefetchBytes = 512;

// One block of up to sixteen rows of one parity (the fields as in the AVX2 body).
struct Block {
  uint8_t* frame;
  int32_t stride;
  int32_t xBegin;    // pixel of column 0 of class 0; class c, column i is pixel xBegin + c + 2 i
  int32_t xLo, xHi;  // readable pixels xLo .. xHi - 1
  int32_t n[2];      // scanned columns of class 0 and 1
  int32_t y0;        // storage row of lane 0
  int32_t rows;      // lanes with a row to scan (1 .. 16)
  int32_t readable;  // rows y0 - 2 + 2 r, r = 0 .. readable - 1, can be read (lane k is r = k + 1)
};

// Values of steps t0 .. t0 + 15, per class: `step[c][s]` holds lane k's original value at column
// t0 + s - k, `above[c][s]` the filtered row above at column t0 + s, `below[c][s]` the row below the
// block at column t0 + s - 15.
struct Tile {
  alignas(64) int32_t step[2][kLanes][kLanes];
  alignas(64) int32_t above[2][kLanes];
  alignas(64) int32_t below[2][kLanes];
};

inline uint8_t* PixelAt(const Block& b, int32_t row, int32_t x) {
  return b.frame + static_cast<ptrdiff_t>(row) * b.stride + 2 * static_cast<ptrdiff_t>(x);
}

// Thirty-two pixels from x on as sixteen pairs, one pair per 32-bit element; pixels that cannot be
// read are zero (they only reach lanes whose result is not used).
inline __m512i LoadPairs(const Block& b, int32_t r, int32_t x) {
  const int32_t row = b.y0 - 2 + 2 * r;
  if (r >= b.readable) return _mm512_setzero_si512();
  if (x >= b.xLo && x + 32 <= b.xHi) {
    const uint8_t* at = PixelAt(b, row, x);
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchBytes, _MM_HINT_T0);
    return _mm512_loadu_si512(at);
  }
  // At the frame's edges: the readable part of the pixels, zeros elsewhere.
  uint16_t pixels[32] = {};
  const int32_t lo = b.xLo - x > 0 ? b.xLo - x : 0, hi = b.xHi - x < 32 ? b.xHi - x : 32;
  if (hi > lo) std::memcpy(pixels + lo, PixelAt(b, row, x + lo), 2 * static_cast<size_t>(hi - lo));
  return _mm512_loadu_si512(pixels);
}

// Rows of sixteen 32-bit elements become columns and the other way round.
inline void Transpose16(__m512i r[16]) {
  __m512i t[16], u[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
  }
  // u[4 j + m], 128-bit lane L: column 4 L + m of rows 4 j .. 4 j + 3.
  for (int j = 0; j < 4; ++j) {
    u[4 * j] = _mm512_unpacklo_epi64(t[4 * j], t[4 * j + 2]);
    u[4 * j + 1] = _mm512_unpackhi_epi64(t[4 * j], t[4 * j + 2]);
    u[4 * j + 2] = _mm512_unpacklo_epi64(t[4 * j + 1], t[4 * j + 3]);
    u[4 * j + 3] = _mm512_unpackhi_epi64(t[4 * j + 1], t[4 * j + 3]);
  }
  for (int m = 0; m < 4; ++m) {
    const __m512i x0 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0x44), x1 = _mm512_shuffle_i32x4(u[m], u[4 + m], 0xEE);
    const __m512i x2 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0x44);
    const __m512i x3 = _mm512_shuffle_i32x4(u[8 + m], u[12 + m], 0xEE);
    r[m] = _mm512_shuffle_i32x4(x0, x2, 0x88);
    r[4 + m] = _mm512_shuffle_i32x4(x0, x2, 0xDD);
    r[8 + m] = _mm512_shuffle_i32x4(x1, x3, 0x88);
    r[12 + m] = _mm512_shuffle_i32x4(x1, x3, 0xDD);
  }
}

// The 16-bit halves of pairs as two vectors of 32-bit values: class 0 (low) and class 1 (high).
inline void SplitPairs(__m512i pairs, __m512i& low, __m512i& high) {
  low = _mm512_and_si512(pairs, _mm512_set1_epi32(0xFFFF));
  high = _mm512_srli_epi32(pairs, 16);
}

void StageTile(const Block& b, int32_t t0, Tile& tile) {
  __m512i rows[2][kLanes];
  for (int k = 0; k < kLanes; ++k)
    SplitPairs(LoadPairs(b, k + 1, b.xBegin + 2 * (t0 - k)), rows[0][k], rows[1][k]);
  for (int c = 0; c < 2; ++c) {
    Transpose16(rows[c]);
    for (int s = 0; s < kLanes; ++s) _mm512_storeu_si512(tile.step[c][s], rows[c][s]);
  }
  __m512i low, high;
  SplitPairs(LoadPairs(b, 0, b.xBegin + 2 * t0), low, high);
  _mm512_storeu_si512(tile.above[0], low);
  _mm512_storeu_si512(tile.above[1], high);
  SplitPairs(LoadPairs(b, kLanes + 1, b.xBegin + 2 * (t0 - (kLanes - 1))), low, high);
  _mm512_storeu_si512(tile.below[0], low);
  _mm512_storeu_si512(tile.below[1], high);
}

// Writes the results of steps t0 .. t0 + 15 (`result[c][s]`, lane k at column t0 + s - k) back to the
// scanned pixels.
void StoreTile(const Block& b, int32_t t0, __m512i result[2][kLanes]) {
  Transpose16(result[0]);
  Transpose16(result[1]);
  for (int k = 0; k < b.rows; ++k) {
    const __m512i pairs = _mm512_or_si512(result[0][k], _mm512_slli_epi32(result[1][k], 16));
    const int32_t i0 = t0 - k, row = b.y0 + 2 * k;
    if (i0 >= 0 && i0 + kLanes <= b.n[0]) {
      // Where class 1 has one column less, its last lane kept the original value: writing it is harmless.
      _mm512_storeu_si512(PixelAt(b, row, b.xBegin + 2 * i0), pairs);
      continue;
    }
    // At the frame's edges: the pairs on scanned columns only.
    uint16_t pixels[32];
    _mm512_storeu_si512(pixels, pairs);
    const int32_t lo = i0 > 0 ? i0 : 0, hi = i0 + kLanes < b.n[0] ? i0 + kLanes : b.n[0];
    if (hi > lo)
      std::memcpy(PixelAt(b, row, b.xBegin + 2 * lo), pixels + 2 * (lo - i0), 4 * static_cast<size_t>(hi - lo));
  }
}

struct StepConstants {
  __m512i lane;      // 0 .. 15
  __m512i never;     // a limit no difference reaches: means and samples stay below 2^18
  __m512i rowLimit;  // the threshold - 1 in lanes with a row, `never` in the others
};

// Step t0 + s of class c: the new results of the sixteen lanes from the previous ones in `res`.
inline void Step(const StepConstants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                 bool inside, __m512i& res) {
  const __m512i v = _mm512_loadu_si512(tile.step[c][s]);
  const __m512i ahead = _mm512_loadu_si512(s + 1 < kLanes ? tile.step[c][s + 1] : next.step[c][0]);
  // Lane k + 1 of the next step, and the row below the block for the last lane.
  const __m512i below = _mm512_alignr_epi32(_mm512_set1_epi32(tile.below[c][s]), ahead, 1);
  const __m512i fixed = _mm512_add_epi32(ahead, below);  // right and lower partners
  __m512i limit = k.rowLimit;
  if (!inside) {
    const __m512i column = _mm512_sub_epi32(_mm512_set1_epi32(t0 + s), k.lane);
    const __mmask16 scanned = _mm512_cmpge_epi32_mask(column, _mm512_setzero_si512()) &
                              _mm512_cmplt_epi32_mask(column, _mm512_set1_epi32(n));
    limit = _mm512_mask_blend_epi32(scanned, k.never, k.rowLimit);
  }
  // Kept while v - limit <= mean <= v + limit.
  const __m512i low = _mm512_sub_epi32(v, limit), high = _mm512_add_epi32(v, limit);
  // Lane k - 1 of the previous step, and the filtered row above the block for lane 0.
  const __m512i up = _mm512_alignr_epi32(res, _mm512_set1_epi32(tile.above[c][s]), kLanes - 1);
  const __m512i mean = _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(res, fixed), up), 2);
  const __mmask16 replace = _mm512_cmpgt_epi32_mask(low, mean) | _mm512_cmpgt_epi32_mask(mean, high);
  res = _mm512_mask_blend_epi32(replace, v, mean);
}

void FilterBlock(const Block& b, __m512i thresholdMinus1) {
  StepConstants k;
  k.lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  k.never = _mm512_set1_epi32(1 << 20);
  k.rowLimit = _mm512_mask_blend_epi32(_mm512_cmpgt_epi32_mask(_mm512_set1_epi32(b.rows), k.lane), k.never,
                                       thresholdMinus1);
  const int32_t lastStep = b.n[0] + b.rows - 2;

  Tile tiles[2];
  __m512i result[2][kLanes];
  __m512i even = _mm512_setzero_si512(), odd = _mm512_setzero_si512();
  int current = 0;
  // Step -1 gives lane 0 the original value left of the first column (its left partner at step 0).
  StageTile(b, -1, tiles[0]);
  for (int32_t t0 = -1; t0 <= lastStep; t0 += kLanes) {
    const Tile& tile = tiles[current];
    const Tile& next = tiles[current ^ 1];
    StageTile(b, t0 + kLanes, tiles[current ^ 1]);
    const bool inside0 = t0 - (kLanes - 1) >= 0 && t0 + kLanes <= b.n[0];
    const bool inside1 = t0 - (kLanes - 1) >= 0 && t0 + kLanes <= b.n[1];
#pragma GCC unroll 16
    for (int s = 0; s < kLanes; ++s) {
      Step(k, tile, next, 0, s, t0, b.n[0], inside0, even);
      Step(k, tile, next, 1, s, t0, b.n[1], inside1, odd);
      result[0][s] = even;
      result[1][s] = odd;
    }
    StoreTile(b, t0, result);
    current ^= 1;
  }
}

}  // namespace

void FilterRows16Avx512(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                        int32_t rowEnd, int32_t thresholdMinus1) {
  if (xBegin >= xEnd || rowBegin >= rowEnd) return;
  Block b{};
  b.frame = frame;
  b.stride = stride;
  b.xBegin = xBegin;
  b.xLo = xBegin - 2;
  b.xHi = xEnd + 2;
  b.n[0] = (xEnd - xBegin + 1) / 2;
  b.n[1] = (xEnd - xBegin) / 2;
  const __m512i limit = _mm512_set1_epi32(thresholdMinus1);
  for (int32_t y0 = rowBegin; y0 < rowEnd; y0 += 2 * kLanes) {
    b.y0 = y0;
    b.rows = (rowEnd - y0 + 1) / 2 < kLanes ? (rowEnd - y0 + 1) / 2 : kLanes;
    const int32_t readable = (rowEnd + 2 - (y0 - 2) + 1) / 2;
    b.readable = readable < kLanes + 2 ? readable : kLanes + 2;
    FilterBlock(b, limit);
  }
}

}  // namespace tovira::defect_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
