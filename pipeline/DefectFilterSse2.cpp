// SSE2 body of the 16-bit defect scan: the wavefront of DefectFilterAvx2.cpp (see there for why it
// equals the pixel-by-pixel scan) on blocks of four rows, one 32-bit lane per row, for CPUs without
// AVX2. All scratch lives on the stack (under 1 KiB).
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pipeline/DefectFilterRows.h"

#include "pipeline/DefectFilterWavefront.h"

namespace tovira::defect_rows {
namespace {

constexpr int kLanes = 4;
constexpr int kPrefetchBytes = 512;

using Block = WavefrontBlock<kLanes>;
using Tile = WavefrontTile<kLanes>;

// Eight pixels from x on as four pairs, one pair per 32-bit element; pixels that cannot be read
// are zero (they only reach lanes whose result is not used).
inline __m128i LoadPairs(const Block& b, int32_t r, int32_t x) {
  const int32_t row = b.y0 - 2 + 2 * r;
  if (r >= b.readable) return _mm_setzero_si128();
  if (x >= b.xLo && x + 8 <= b.xHi) {
    const uint8_t* at = PixelAt(b, row, x);
    // Six rows are read side by side, 16 bytes a tile each; fetching ahead hides the memory latency.
    _mm_prefetch(reinterpret_cast<const char*>(at) + kPrefetchBytes, _MM_HINT_T0);
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  }
  // At the frame's edges: the readable part of the pixels, zeros elsewhere.
  uint16_t pixels[8] = {};
  const int32_t lo = b.xLo - x > 0 ? b.xLo - x : 0, hi = b.xHi - x < 8 ? b.xHi - x : 8;
  if (hi > lo) std::memcpy(pixels + lo, PixelAt(b, row, x + lo), 2 * static_cast<size_t>(hi - lo));
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
}

// Rows of four 32-bit elements become columns and the other way round.
inline void Transpose4(__m128i r[4]) {
  const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
  const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
  r[0] = _mm_unpacklo_epi64(t0, t1), r[1] = _mm_unpackhi_epi64(t0, t1);
  r[2] = _mm_unpacklo_epi64(t2, t3), r[3] = _mm_unpackhi_epi64(t2, t3);
}

// The 16-bit halves of pairs as two vectors of 32-bit values: class 0 (low) and class 1 (high).
inline void SplitPairs(__m128i pairs, __m128i& low, __m128i& high) {
  low = _mm_and_si128(pairs, _mm_set1_epi32(0xFFFF));
  high = _mm_srli_epi32(pairs, 16);
}

void StageTile(const Block& b, int32_t t0, Tile& tile) {
  __m128i rows[2][kLanes];
  for (int k = 0; k < kLanes; ++k)
    SplitPairs(LoadPairs(b, k + 1, b.xBegin + 2 * (t0 - k)), rows[0][k], rows[1][k]);
  for (int c = 0; c < 2; ++c) {
    Transpose4(rows[c]);
    for (int s = 0; s < kLanes; ++s) _mm_storeu_si128(reinterpret_cast<__m128i*>(tile.step[c][s]), rows[c][s]);
  }
  __m128i low, high;
  SplitPairs(LoadPairs(b, 0, b.xBegin + 2 * t0), low, high);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(tile.above[0]), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(tile.above[1]), high);
  SplitPairs(LoadPairs(b, kLanes + 1, b.xBegin + 2 * (t0 - (kLanes - 1))), low, high);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(tile.below[0]), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(tile.below[1]), high);
}

// Writes the results of steps t0 .. t0 + 3 (`result[c][s]`, lane k at column t0 + s - k) back to the
// scanned pixels.
void StoreTile(const Block& b, int32_t t0, __m128i result[2][kLanes]) {
  Transpose4(result[0]);
  Transpose4(result[1]);
  for (int k = 0; k < b.rows; ++k) {
    const __m128i pairs = _mm_or_si128(result[0][k], _mm_slli_epi32(result[1][k], 16));
    const int32_t i0 = t0 - k, row = b.y0 + 2 * k;
    if (i0 >= 0 && i0 + kLanes <= b.n[0]) {
      // Where class 1 has one column less, its last lane kept the original value: writing it is harmless.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(PixelAt(b, row, b.xBegin + 2 * i0)), pairs);
      continue;
    }
    // At the frame's edges: the pairs on scanned columns only.
    uint16_t pixels[8];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), pairs);
    const int32_t lo = i0 > 0 ? i0 : 0, hi = i0 + kLanes < b.n[0] ? i0 + kLanes : b.n[0];
    if (hi > lo)
      std::memcpy(PixelAt(b, row, b.xBegin + 2 * lo), pixels + 2 * (lo - i0), 4 * static_cast<size_t>(hi - lo));
  }
}

// Constants of one block's steps.
struct StepConstants {
  __m128i lane;      // 0 .. 3
  __m128i never;     // a limit no difference reaches: means and samples stay below 2^18
  __m128i rowLimit;  // the threshold - 1 in lanes with a row, `never` in the others
};

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Step t0 + s of class c: the new results of the four lanes from the previous ones in `res`.
inline void Step(const StepConstants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                 bool inside, __m128i& res) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tile.step[c][s]));
  const __m128i ahead =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1 < kLanes ? tile.step[c][s + 1] : next.step[c][0]));
  // Lane k + 1 of the next step, and the row below the block for the last lane.
  const __m128i below =
      _mm_or_si128(_mm_srli_si128(ahead, 4), _mm_slli_si128(_mm_cvtsi32_si128(tile.below[c][s]), 12));
  const __m128i fixed = _mm_add_epi32(ahead, below);  // right and lower partners
  __m128i limit = k.rowLimit;
  if (!inside) {
    const __m128i column = _mm_sub_epi32(_mm_set1_epi32(t0 + s), k.lane);
    const __m128i scanned = _mm_andnot_si128(_mm_cmpgt_epi32(_mm_setzero_si128(), column),
                                             _mm_cmpgt_epi32(_mm_set1_epi32(n), column));
    limit = Select(scanned, k.rowLimit, k.never);
  }
  // Kept while v - limit <= mean <= v + limit.
  const __m128i low = _mm_sub_epi32(v, limit), high = _mm_add_epi32(v, limit);
  // Lane k - 1 of the previous step, and the filtered row above the block for lane 0.
  const __m128i up = _mm_or_si128(_mm_slli_si128(res, 4), _mm_cvtsi32_si128(tile.above[c][s]));
  const __m128i mean = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(res, fixed), up), 2);
  const __m128i replace = _mm_or_si128(_mm_cmpgt_epi32(low, mean), _mm_cmpgt_epi32(mean, high));
  res = Select(replace, mean, v);
}

// The operations the shared driver (DefectFilterWavefront.h) runs.
struct Body {
  static constexpr int kLanes = defect_rows::kLanes;
  using Vector = __m128i;
  using Constants = StepConstants;
  static Constants Make(int32_t rows, int32_t thresholdMinus1) {
    const Vector limit = _mm_set1_epi32(thresholdMinus1);
    StepConstants k;
    k.lane = _mm_setr_epi32(0, 1, 2, 3);
    k.never = _mm_set1_epi32(1 << 20);
    k.rowLimit = Select(_mm_cmpgt_epi32(_mm_set1_epi32(rows), k.lane), limit, k.never);
    return k;
  }
  static Vector Zero() { return _mm_setzero_si128(); }
  static void Stage(const Block& b, int32_t t0, Tile& tile) { StageTile(b, t0, tile); }
  static void Store(const Block& b, int32_t t0, Vector result[2][kLanes]) { StoreTile(b, t0, result); }
  static void Step(const Constants& k, const Tile& tile, const Tile& next, int c, int s, int32_t t0, int32_t n,
                   bool inside, Vector& res) {
    defect_rows::Step(k, tile, next, c, s, t0, n, inside, res);
  }
};

}  // namespace

void FilterRows16Sse2(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin,
                      int32_t rowEnd, int32_t thresholdMinus1) {
  FilterRows<Body>(frame, stride, xBegin, xEnd, rowBegin, rowEnd, thresholdMinus1);
}

}  // namespace tovira::defect_rows
