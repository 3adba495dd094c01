// AVX-512 (BW, VBMI) rows of the sharpness kernels for packed layouts: the arithmetic and the strips of vertical
// sums of the SSE2 and AVX2 rows (Sharpen.cpp, SharpenAvx2.cpp), 32 8-bit or 16 16-bit samples a step,
// with masked stores where a fourth sample keeps its value. Compiled for AVX-512 through the target
// pragma below; its functions run only after CpuHasAvx512Vbmi(), and nothing else with external linkage
// is defined here.
#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "pipeline/SharpenRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
#endif
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the undefined upper halves inside the widening and narrowing intrinsics for
// uninitialised values; nothing here reads them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "pipeline/TableLookupAvx512.h"

namespace tovira::sharpen_rows {
namespace {

inline int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Larger(int32_t a, int32_t b) { return a > b ? a : b; }

inline __m512i Load512(const void* at) { return _mm512_loadu_si512(at); }
inline __m256i Load256(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }

// The output row is read into the cache this far ahead of the stores: the rows of a frame-sized image
// are seldom in any cache, and a store that finds its line missing waits for it (the frame's most
// frequent stall here).
constexpr int32_t kPrefetchAhead = 4096;

// 8-bit samples, 64 a step, kept in 16-bit lanes as the even and the odd samples of a 64-byte load
// (an AND and a shift instead of widening across the register): the vertical sums of the strip go to
// an array of even and one of odd samples, and the four columns of a blur sum are read from whichever
// array holds them. The step's results are packed back to bytes with unsigned saturation and put in
// sample order by a byte shuffle within each 128-bit lane (where the pack left the 8 even results of
// the lane before its 8 odd ones).
struct SplitConstants {
  __m512i amount, tenth, lowBytes, interleave;
  ByteTable tone;
  bool toned;
  __mmask64 write;
};

// The blur sums of a step whose first sample is the strip's sample 2h + kParity: sample x of the
// vertical sums is even[x / 2] or odd[x / 2].
template <int C, int kParity, int kLane>
[[gnu::always_inline]] inline __m512i BlurSum(const uint16_t* even, const uint16_t* odd, int32_t h) {
  auto at = [&](int x) { return Load512(((x & 1) ? odd : even) + h + (x >> 1)); };
  constexpr int x = kParity + kLane;
  return _mm512_add_epi16(_mm512_add_epi16(at(x), at(x + C)), _mm512_add_epi16(at(x + 2 * C), at(x + 3 * C)));
}

template <int C, int kParity>
[[gnu::always_inline]] inline void SplitStep(const uint16_t* even, const uint16_t* odd, int32_t h,
                                             const uint8_t* centre, uint8_t* out, const SplitConstants& k) {
  const __m512i v = Load512(centre);
  auto sharpen = [&](__m512i value, __m512i blur) {
    const __m512i n = _mm512_mullo_epi16(_mm512_sub_epi16(value, _mm512_srli_epi16(blur, 4)), k.amount);
    return _mm512_add_epi16(value, _mm512_sub_epi16(_mm512_mulhi_epi16(n, k.tenth), _mm512_srai_epi16(n, 15)));
  };
  const __m512i evenResult = sharpen(_mm512_and_si512(v, k.lowBytes), BlurSum<C, kParity, 0>(even, odd, h));
  const __m512i oddResult = sharpen(_mm512_srli_epi16(v, 8), BlurSum<C, kParity, 1>(even, odd, h));
  __m512i bytes = _mm512_shuffle_epi8(_mm512_packus_epi16(evenResult, oddResult), k.interleave);
  if (k.toned) bytes = Lookup(k.tone, bytes);
  _mm_prefetch(reinterpret_cast<const char*>(out + kPrefetchAhead), _MM_HINT_T0);
  if (C == 4) _mm512_mask_storeu_epi8(out, k.write, bytes);  // a plain store where every byte is written
  else _mm512_storeu_si512(out, bytes);
}

// The output row of source rows rows[0..3] (centre rows[2]) and, with kTwo, the next one (rows[1..4],
// centre rows[3]) as well: the two share the vertical sums of rows[1..3].
template <int C, bool kTwo>
void Row8Split(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
               const SplitConstants& k) {
  const uint8_t* const row0 = rows[0];
  const uint8_t* const row1 = rows[1];
  const uint8_t* const row2 = rows[2];
  const uint8_t* const row3 = rows[3];
  const uint8_t* const row4 = kTwo ? rows[4] : nullptr;
  alignas(64) uint16_t even[kStrip / 2 + 64], odd[kStrip / 2 + 64];
  alignas(64) uint16_t nextEven[kTwo ? kStrip / 2 + 64 : 1], nextOdd[kTwo ? kStrip / 2 + 64 : 1];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 64));
    // Vertical sums of samples first .. first + count - 1, 64 a step from even offsets; the last step
    // is moved back to the even offset that still reaches the end (it may read the sample after it,
    // which lies inside the row: the sharpness leaves its last two pixels alone).
    const int32_t first = sb - 2 * C, count = se - sb + 3 * C, last = (count - 63) & ~1;
    for (int32_t i = 0;; i += 64) {
      if (i > last) i = last;
      const __m512i low = k.lowBytes;
      const __m512i b = Load512(row1 + first + i), c = Load512(row2 + first + i), d = Load512(row3 + first + i);
      const __m512i evenMiddle = _mm512_add_epi16(_mm512_add_epi16(_mm512_and_si512(b, low), _mm512_and_si512(c, low)), _mm512_and_si512(d, low));
      const __m512i oddMiddle = _mm512_add_epi16(_mm512_add_epi16(_mm512_srli_epi16(b, 8), _mm512_srli_epi16(c, 8)), _mm512_srli_epi16(d, 8));
      const __m512i a = Load512(row0 + first + i);
      _mm512_storeu_si512(even + i / 2, _mm512_add_epi16(_mm512_and_si512(a, low), evenMiddle));
      _mm512_storeu_si512(odd + i / 2, _mm512_add_epi16(_mm512_srli_epi16(a, 8), oddMiddle));
      if constexpr (kTwo) {
        const __m512i e = Load512(row4 + first + i);
        _mm512_storeu_si512(nextEven + i / 2, _mm512_add_epi16(evenMiddle, _mm512_and_si512(e, low)));
        _mm512_storeu_si512(nextOdd + i / 2, _mm512_add_epi16(oddMiddle, _mm512_srli_epi16(e, 8)));
      }
      if (i == last) break;
    }
    const int32_t lastStep = se - 64;
    for (int32_t kk = sb;; kk += 64) {
      if (kk > lastStep) kk = lastStep;
      const int32_t i0 = kk - sb;
      if (i0 & 1) SplitStep<C, 1>(even, odd, i0 >> 1, row2 + kk, out + kk, k);
      else SplitStep<C, 0>(even, odd, i0 >> 1, row2 + kk, out + kk, k);
      if constexpr (kTwo) {
        if (i0 & 1) SplitStep<C, 1>(nextEven, nextOdd, i0 >> 1, row3 + kk, nextOut + kk, k);
        else SplitStep<C, 0>(nextEven, nextOdd, i0 >> 1, row3 + kk, nextOut + kk, k);
      }
      if (kk == lastStep) break;
    }
  }
}

// 16-bit samples of at most 12 bits, 32 a step in 16-bit lanes (see kNarrowLargest): the quotient by
// 10 of amount * |d| as a product (TenthScale) with the sign put back, the brightness after it computed
// in 32-bit lanes as in the wide rows.
struct NarrowConstants {
  __m512i whole, fraction, largest, above;  // above: the bits a sample of at most 12 bits has clear
  __m512 factor, topF;
  __m512i top, order;
  bool bright, limitFirst, negative, keepFourth;
  __mmask32 write;
};

// Output samples sb .. se-1 (at least 32) of the row; false, with nothing written, when a sample the
// strip reads is above kNarrowLargest.
bool NarrowStrip(const uint8_t* row0, const uint8_t* row1, const uint8_t* row2, const uint8_t* row3, uint8_t* out,
                 int32_t sb, int32_t se, int32_t c, uint16_t* sums, const NarrowConstants& k) {
  const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
  __m512i seen = _mm512_setzero_si512();
  for (int32_t i = 0;; i += 32) {
    if (i > count - 32) i = count - 32;
    const int32_t at = 2 * (first + i);
    const __m512i a = Load512(row0 + at), b = Load512(row1 + at), cc = Load512(row2 + at), d = Load512(row3 + at);
    seen = _mm512_ternarylogic_epi32(seen, a, b, 0xFE);  // OR of the three
    seen = _mm512_ternarylogic_epi32(seen, cc, d, 0xFE);
    _mm512_storeu_si512(sums + i, _mm512_add_epi16(_mm512_add_epi16(a, b), _mm512_add_epi16(cc, d)));
    if (i == count - 32) break;
  }
  if (_mm512_test_epi16_mask(seen, k.above) != 0) return false;
  const __m512i zero = _mm512_setzero_si512();
  // The results are at most `largest`; the table's limit is usually the same and the factor positive,
  // which leaves out the first limit and the lower one of the product.
  auto brighten = [&](__m512i r32) {
    if (k.limitFirst) r32 = _mm512_min_epi32(r32, k.top);
    __m512 scaled = _mm512_mul_ps(_mm512_cvtepi32_ps(r32), k.factor);
    if (k.negative) scaled = _mm512_max_ps(scaled, _mm512_setzero_ps());
    return _mm512_cvttps_epi32(_mm512_min_ps(scaled, k.topF));
  };
  const int32_t lastStep = se - 32;
  for (int32_t kk = sb;; kk += 32) {
    if (kk > lastStep) kk = lastStep;
    const uint16_t* at = sums + (kk - sb);
    const __m512i blur = _mm512_add_epi16(_mm512_add_epi16(Load512(at), Load512(at + c)),
                                          _mm512_add_epi16(Load512(at + 2 * c), Load512(at + 3 * c)));
    const __m512i v = Load512(row2 + 2 * kk);
    const __m512i d = _mm512_sub_epi16(v, _mm512_srli_epi16(blur, 4));
    const __m512i m = _mm512_abs_epi16(d);
    __m512i q = _mm512_add_epi16(_mm512_mullo_epi16(m, k.whole), _mm512_mulhi_epu16(m, k.fraction));
    q = _mm512_mask_sub_epi16(q, _mm512_movepi16_mask(d), zero, q);
    __m512i r = _mm512_min_epi16(_mm512_max_epi16(_mm512_add_epi16(v, q), zero), k.largest);
    if (k.bright) {
      const __m512i low = brighten(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(r)));
      const __m512i high = brighten(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(r, 1)));
      r = _mm512_permutexvar_epi64(k.order, _mm512_packus_epi32(low, high));
    }
    _mm_prefetch(reinterpret_cast<const char*>(out + 2 * kk + kPrefetchAhead), _MM_HINT_T0);
    if (k.keepFourth) _mm512_mask_storeu_epi16(out + 2 * kk, k.write, r);
    else _mm512_storeu_si512(out + 2 * kk, r);
    if (kk == lastStep) break;
  }
  return true;
}

}  // namespace

// 8-bit samples: sums in 16 bits, amount * (v - blur) within +-7650, divided by 10 with the
// multiply-high step; the result limited to 0..255 on the way back to bytes.
namespace {

// One output row (nextOut nullptr) or two through the split rows; false where they don't apply.
bool SplitRows(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
               int32_t c, int32_t amount, const uint8_t* tone) {
  if (kEnd - kBegin < 64 || (c != 1 && c != 3 && c != 4)) return false;
  SplitConstants k{};
  k.amount = _mm512_set1_epi16(static_cast<int16_t>(amount)), k.tenth = _mm512_set1_epi16(6554);
  k.lowBytes = _mm512_set1_epi16(0x00FF);
  k.interleave = _mm512_set4_epi32(0x0F070E06, 0x0D050C04, 0x0B030A02, 0x09010800);
  k.toned = tone != nullptr;
  if (k.toned) k.tone = LoadByteTable(tone);
  k.write = c == 4 ? 0x7777777777777777ull : ~0ull;  // a fourth byte keeps its value
  auto run = [&](auto two) {
    constexpr bool kTwo = decltype(two)::value;
    if (c == 1) Row8Split<1, kTwo>(rows, out, nextOut, kBegin, kEnd, k);
    else if (c == 3) Row8Split<3, kTwo>(rows, out, nextOut, kBegin, kEnd, k);
    else Row8Split<4, kTwo>(rows, out, nextOut, kBegin, kEnd, k);
  };
  if (nextOut != nullptr) run(std::true_type{});
  else run(std::false_type{});
  return true;
}

}  // namespace

bool Row8PairAvx512(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
                    int32_t channels, int32_t amount, const uint8_t* tone) {
  return SplitRows(rows, out, nextOut, kBegin, kEnd, channels, amount, tone);
}

void Row8Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                int32_t amount, const uint8_t* tone) {
  const int32_t c = channels;
  if (SplitRows(rows, out, nullptr, kBegin, kEnd, c, amount, tone)) return;
  // The row pointers in registers: the stores below may alias anything, so rows[] would be read again.
  const uint8_t* const row0 = rows[0];
  const uint8_t* const row1 = rows[1];
  const uint8_t* const row2 = rows[2];
  const uint8_t* const row3 = rows[3];
  const __m512i amountV = _mm512_set1_epi16(static_cast<int16_t>(amount));
  const __m512i tenth = _mm512_set1_epi16(6554), zero = _mm512_setzero_si512();
  const __mmask64 write = c == 4 ? 0x77777777ull : 0xFFFFFFFFull;  // 32 bytes; fourth bytes kept
  const bool toned = tone != nullptr;
  const ByteTable table = toned ? LoadByteTable(tone) : ByteTable{};
  alignas(64) uint16_t sums[kStrip + 32];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 32));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 32) {
      if (i > count - 32) i = count - 32;
      const __m512i sum = _mm512_add_epi16(
          _mm512_add_epi16(_mm512_cvtepu8_epi16(Load256(row0 + first + i)), _mm512_cvtepu8_epi16(Load256(row1 + first + i))),
          _mm512_add_epi16(_mm512_cvtepu8_epi16(Load256(row2 + first + i)), _mm512_cvtepu8_epi16(Load256(row3 + first + i))));
      _mm512_storeu_si512(sums + i, sum);
      if (i == count - 32) break;
    }
    const int32_t lastStep = se - 32;
    for (int32_t k = sb;; k += 32) {
      if (k > lastStep) k = lastStep;
      const uint16_t* at = sums + (k - sb);
      const __m512i blur = _mm512_add_epi16(_mm512_add_epi16(Load512(at), Load512(at + c)),
                                            _mm512_add_epi16(Load512(at + 2 * c), Load512(at + 3 * c)));
      const __m512i v = _mm512_cvtepu8_epi16(Load256(row2 + k));
      const __m512i n = _mm512_mullo_epi16(_mm512_sub_epi16(v, _mm512_srli_epi16(blur, 4)), amountV);
      const __m512i q = _mm512_sub_epi16(_mm512_mulhi_epi16(n, tenth), _mm512_srai_epi16(n, 15));
      const __m512i r = _mm512_max_epi16(_mm512_add_epi16(v, q), zero);
      __m512i bytes = _mm512_castsi256_si512(_mm512_cvtusepi16_epi8(r));
      if (toned) bytes = Lookup(table, bytes);  // the 32 bytes written through the table
      _mm512_mask_storeu_epi8(out + k, write, bytes);
      if (k == lastStep) break;
    }
  }
}

// 16-bit samples (any value): sums in 32 bits, the quotient by 10 as a product with 0.1f in single
// precision (exact, see Sharpen.cpp).
void Row16Avx512(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
                 int32_t amount, int32_t largest, const Brightness16* brightness) {
  const int32_t c = channels;
  const bool bright = brightness != nullptr;
  const __m512 factor = _mm512_set1_ps(bright ? brightness->factor : 1.0f);
  const __m512i brightTop = _mm512_set1_epi32(bright ? brightness->largest : 0);
  const __m512 brightTopF = _mm512_set1_ps(bright ? static_cast<float>(brightness->largest) : 0.0f);
  const uint8_t* const row0 = rows[0];
  const uint8_t* const row1 = rows[1];
  const uint8_t* const row2 = rows[2];
  const uint8_t* const row3 = rows[3];
  const __m512 amountF = _mm512_set1_ps(static_cast<float>(amount)), tenthF = _mm512_set1_ps(0.1f);
  const __m512i largestV = _mm512_set1_epi32(largest), zero = _mm512_setzero_si512();
  const __mmask32 write = c == 4 ? 0x7777u : 0xFFFFu;  // 16 samples; fourth samples kept
  alignas(64) uint32_t sums[kStrip + 32];
  // Rows of at least 32 samples whose limits are at most 12 bits try the 16-bit lanes strip by strip.
  const bool narrow = kEnd - kBegin >= 32 && largest <= kNarrowLargest && (c == 1 || c == 3 || c == 4);
  NarrowConstants n{};
  if (narrow) {
    const TenthScale tenths = TenthScaleOf(amount);
    n.whole = _mm512_set1_epi16(tenths.whole), n.fraction = _mm512_set1_epi16(static_cast<int16_t>(tenths.fraction));
    n.largest = _mm512_set1_epi16(static_cast<int16_t>(largest));
    // Fourth samples may hold anything: only the others are looked at.
    n.above = c == 4 ? _mm512_set1_epi64(0x0000F000F000F000ll) : _mm512_set1_epi16(static_cast<int16_t>(0xF000));
    n.bright = bright, n.factor = factor, n.topF = brightTopF, n.top = brightTop;
    n.limitFirst = bright && brightness->largest < largest;
    n.negative = bright && !(brightness->factor >= 0.0f);
    n.order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    n.write = c == 4 ? 0x77777777u : 0xFFFFFFFFu;
    n.keepFourth = c == 4;
  }
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    if (narrow && NarrowStrip(row0, row1, row2, row3, out, Larger(kBegin, Smaller(stripBegin, se - 32)), se, c,
                              reinterpret_cast<uint16_t*>(sums), n))
      continue;
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 16));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 16) {
      if (i > count - 16) i = count - 16;
      const int32_t at = 2 * (first + i);
      const __m512i sum = _mm512_add_epi32(
          _mm512_add_epi32(_mm512_cvtepu16_epi32(Load256(row0 + at)), _mm512_cvtepu16_epi32(Load256(row1 + at))),
          _mm512_add_epi32(_mm512_cvtepu16_epi32(Load256(row2 + at)), _mm512_cvtepu16_epi32(Load256(row3 + at))));
      _mm512_storeu_si512(sums + i, sum);
      if (i == count - 16) break;
    }
    const int32_t lastStep = se - 16;
    for (int32_t k = sb;; k += 16) {
      if (k > lastStep) k = lastStep;
      const uint32_t* at = sums + (k - sb);
      const __m512i blur = _mm512_add_epi32(_mm512_add_epi32(Load512(at), Load512(at + c)),
                                            _mm512_add_epi32(Load512(at + 2 * c), Load512(at + 3 * c)));
      const __m512i v = _mm512_cvtepu16_epi32(Load256(row2 + 2 * k));
      const __m512i difference = _mm512_sub_epi32(v, _mm512_srli_epi32(blur, 4));
      const __m512i q =
          _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(difference), amountF), tenthF));
      __m512i r = _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(v, q), zero), largestV);
      if (bright) {
        const __m512 scaled = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_min_epi32(r, brightTop)), factor);
        r = _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(scaled, _mm512_setzero_ps()), brightTopF));
      }
      _mm_prefetch(reinterpret_cast<const char*>(out + 2 * k + kPrefetchAhead), _MM_HINT_T0);
      _mm512_mask_storeu_epi16(out + 2 * k, write, _mm512_castsi256_si512(_mm512_cvtepi32_epi16(r)));
      if (k == lastStep) break;
    }
  }
}

}  // namespace tovira::sharpen_rows

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#if defined(__GNUC__)
#pragma GCC pop_options
#endif
