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

#include "pipeline/DefectFilterWavefront.h"

namespace tovira::defect_rows {
namespace {

constexpr int kLanes = 16;
constexpr int kPrefetchBytes = 512;

using Block = WavefrontBlock<kLanes>;
using Tile = WavefrontTile<kLanes>;

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

// The operations the shared driver (DefectFilterWavefront.h) runs.
struct Body {
  static constexpr int kLanes = defect_rows::kLanes;
  using Vector = __m512i;
  using Constants = StepConstants;
  static Constants Make(int32_t rows, int32_t thresholdMinus1) {
    const Vector limit = _mm512_set1_epi32(thresholdMinus1);
    StepConstants k;
    k.lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    k.never = _mm512_set1_epi32(1 << 20);
    k.rowLimit = _mm512_mask_blend_epi32(_mm512_cmpgt_epi32_mask(_mm512_set1_epi32(rows), k.lane), k.never,
                                         limit);
    return k;
  }
  static Vector Zero() { return _mm512_setzero_si512(); }
  static void Stage(const Block& b, int32_t t0, Tile& tile) { StageTile(b, t0, tile); }
  static void Store(const Block& b, int32_t t0, Vector result[2][kLanes]) { StoreTile(b, t0, result); }
  static void Step(const Constants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                   bool inside, Vector& res) {
    defect_rows::Step(k, tile, next, c, s, t0, n, inside, res);
  }
};

}  // namespace

void FilterRows16Avx512(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                        int32_t rowEnd, int32_t thresholdMinus1) {
  FilterRows<Body>(frame, stride, xBegin, xEnd, rowBegin, rowEnd, thresholdMinus1);
}

}  // namespace tovira::defect_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
