// AVX2 body of the 16-bit defect scan (see DefectFilter.cpp for the pixel-by-pixel scan it equals).
// This file is compiled for AVX2 through the target pragma below and its function runs only after
// CpuHasAvx2(); nothing else with external linkage is defined here, and no inline function or template
// of another header is used, so no AVX2 code can stand in for an SSE2 copy at link time.
//
// The scan is serial, but not everywhere at once. Take the pixels of one row parity and one column
// parity as a grid (i, j) = (x / 2, y / 2): pixel (i, j) reads its left partner (i - 1, j) and its upper
// partner (i, j - 1) after they were filtered, and its right and lower partners before. Pixels on one
// anti-diagonal i + j = t therefore never read each other, and a wavefront is exact: eight rows of the
// grid form a block, lane k of a vector holds row k of the block, and at step t lane k does column
// i = t - k. Its left partner is then the same lane's result of step t - 1, its upper partner the
// result of lane k - 1 at step t - 1 (lane 0: the filtered row above the block), its right partner the
// original value that lane loads at step t + 1 and its lower partner the original value lane k + 1
// loads at step t + 1 (lane 7: the row below the block, not filtered yet). The loop-carried work is a
// lane rotation, two additions, a shift and the compare-and-select, for eight pixels.
//
// Both column parities of a row run side by side as two independent wavefronts ("classes"), so that a
// load of sixteen neighbouring pixels feeds eight columns of each. Original values are staged eight
// steps ahead: row k is loaded from column t0 - k on (the skew) and an 8 x 8 transpose turns the eight
// rows into the vectors of steps t0 .. t0 + 7. Results go back the same way. Lanes outside the scanned
// pixels keep their value, which is the original value one column left of the first scanned column for
// the lane that feeds it. All scratch lives on the stack (under 2 KiB).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pipeline/DefectFilterRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "pipeline/DefectFilterWavefront.h"

namespace tovira::defect_rows {
namespace {

constexpr int kLanes = 8;
constexpr int kPrefetchBytes = 512;

using Block = WavefrontBlock<kLanes>;
using Tile = WavefrontTile<kLanes>;

// Sixteen pixels from x on as eight pairs, one pair per 32-bit element; pixels that cannot be read
// are zero (they only reach lanes whose result is not used).
inline __m256i LoadPairs(const Block& b, int32_t r, int32_t x) {
  const int32_t row = b.y0 - 2 + 2 * r;
  if (r >= b.readable) return _mm256_setzero_si256();
  if (x >= b.xLo && x + 16 <= b.xHi) {
    const uint8_t* at = PixelAt(b, row, x);
    // Ten rows are read side by side, 32 bytes a tile each; fetching ahead hides the memory latency.
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchBytes, _MM_HINT_T0);
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  }
  // At the frame's edges: the readable part of the pixels, zeros elsewhere.
  uint16_t pixels[16] = {};
  const int32_t lo = b.xLo - x > 0 ? b.xLo - x : 0, hi = b.xHi - x < 16 ? b.xHi - x : 16;
  if (hi > lo) std::memcpy(pixels + lo, PixelAt(b, row, x + lo), 2 * static_cast<size_t>(hi - lo));
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
}

// Rows of eight 32-bit elements become columns and the other way round.
inline void Transpose8(__m256i r[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20), r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20), r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20), r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20), r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The 16-bit halves of pairs as two vectors of 32-bit values: class 0 (low) and class 1 (high).
inline void SplitPairs(__m256i pairs, __m256i& low, __m256i& high) {
  low = _mm256_and_si256(pairs, _mm256_set1_epi32(0xFFFF));
  high = _mm256_srli_epi32(pairs, 16);
}

void StageTile(const Block& b, int32_t t0, Tile& tile) {
  __m256i rows[2][kLanes];
  for (int k = 0; k < kLanes; ++k)
    SplitPairs(LoadPairs(b, k + 1, b.xBegin + 2 * (t0 - k)), rows[0][k], rows[1][k]);
  for (int c = 0; c < 2; ++c) {
    Transpose8(rows[c]);
    for (int s = 0; s < kLanes; ++s) _mm256_storeu_si256(reinterpret_cast<__m256i*>(tile.step[c][s]), rows[c][s]);
  }
  __m256i low, high;
  SplitPairs(LoadPairs(b, 0, b.xBegin + 2 * t0), low, high);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tile.above[0]), low);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tile.above[1]), high);
  SplitPairs(LoadPairs(b, kLanes + 1, b.xBegin + 2 * (t0 - (kLanes - 1))), low, high);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tile.below[0]), low);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(tile.below[1]), high);
}

// Writes the results of steps t0 .. t0 + 7 (`result[c][s]`, lane k at column t0 + s - k) back to the
// scanned pixels.
void StoreTile(const Block& b, int32_t t0, __m256i result[2][kLanes]) {
  Transpose8(result[0]);
  Transpose8(result[1]);
  for (int k = 0; k < b.rows; ++k) {
    const __m256i pairs = _mm256_or_si256(result[0][k], _mm256_slli_epi32(result[1][k], 16));
    const int32_t i0 = t0 - k, row = b.y0 + 2 * k;
    if (i0 >= 0 && i0 + kLanes <= b.n[0]) {
      // Where class 1 has one column less, its last lane kept the original value: writing it is harmless.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(PixelAt(b, row, b.xBegin + 2 * i0)), pairs);
      continue;
    }
    // At the frame's edges: the pairs on scanned columns only.
    uint16_t pixels[16];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), pairs);
    const int32_t lo = i0 > 0 ? i0 : 0, hi = i0 + kLanes < b.n[0] ? i0 + kLanes : b.n[0];
    if (hi > lo)
      std::memcpy(PixelAt(b, row, b.xBegin + 2 * lo), pixels + 2 * (lo - i0), 4 * static_cast<size_t>(hi - lo));
  }
}

// Constants of one block's steps.
struct StepConstants {
  __m256i lane;       // 0 .. 7
  __m256i rotate;     // lane k takes lane k - 1
  __m256i shift;      // lane k takes lane k + 1
  __m256i never;      // a limit no difference reaches: means and samples stay below 2^18
  __m256i rowLimit;   // the threshold - 1 in lanes with a row, `never` in the others
};

// Step t0 + s of class c: the new results of the eight lanes from the previous ones in `res`.
inline void Step(const StepConstants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                 bool inside, __m256i& res) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tile.step[c][s]));
  const __m256i ahead =
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 1 < kLanes ? tile.step[c][s + 1] : next.step[c][0]));
  const __m256i below =
      _mm256_blend_epi32(_mm256_permutevar8x32_epi32(ahead, k.shift), _mm256_set1_epi32(tile.below[c][s]), 0x80);
  const __m256i fixed = _mm256_add_epi32(ahead, below);  // right and lower partners
  __m256i limit = k.rowLimit;
  if (!inside) {
    const __m256i column = _mm256_sub_epi32(_mm256_set1_epi32(t0 + s), k.lane);
    const __m256i scanned = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), column),
                                                _mm256_cmpgt_epi32(_mm256_set1_epi32(n), column));
    limit = _mm256_blendv_epi8(k.never, k.rowLimit, scanned);
  }
  // Kept while v - limit <= mean <= v + limit.
  const __m256i low = _mm256_sub_epi32(v, limit), high = _mm256_add_epi32(v, limit);
  const __m256i up =
      _mm256_blend_epi32(_mm256_permutevar8x32_epi32(res, k.rotate), _mm256_set1_epi32(tile.above[c][s]), 0x01);
  const __m256i mean = _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(res, fixed), up), 2);
  const __m256i replace = _mm256_or_si256(_mm256_cmpgt_epi32(low, mean), _mm256_cmpgt_epi32(mean, high));
  res = _mm256_blendv_epi8(v, mean, replace);
}

// The operations the shared driver (DefectFilterWavefront.h) runs.
struct Body {
  static constexpr int kLanes = defect_rows::kLanes;
  using Vector = __m256i;
  using Constants = StepConstants;
  static Constants Make(int32_t rows, int32_t thresholdMinus1) {
    const Vector limit = _mm256_set1_epi32(thresholdMinus1);
    StepConstants k;
    k.lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    k.rotate = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
    k.shift = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 7);
    k.never = _mm256_set1_epi32(1 << 20);
    k.rowLimit = _mm256_blendv_epi8(k.never, limit, _mm256_cmpgt_epi32(_mm256_set1_epi32(rows), k.lane));
    return k;
  }
  static Vector Zero() { return _mm256_setzero_si256(); }
  static void Stage(const Block& b, int32_t t0, Tile& tile) { StageTile(b, t0, tile); }
  static void Store(const Block& b, int32_t t0, Vector result[2][kLanes]) { StoreTile(b, t0, result); }
  static void Step(const Constants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                   bool inside, Vector& res) {
    defect_rows::Step(k, tile, next, c, s, t0, n, inside, res);
  }
};

}  // namespace

void FilterRows16Avx2(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                      int32_t rowEnd, int32_t thresholdMinus1) {
  FilterRows<Body>(frame, stride, xBegin, xEnd, rowBegin, rowEnd, thresholdMinus1);
}

}  // namespace tovira::defect_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
