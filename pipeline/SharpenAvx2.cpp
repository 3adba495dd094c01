// AVX2 rows of the sharpness kernels for packed layouts (see Sharpen.cpp for the arithmetic and the
// SSE2 rows it repeats with wider registers). Compiled for AVX2 through the target pragma below; its
// functions run only after CpuHasAvx2(), and nothing else with external linkage is defined here.
#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "pipeline/SharpenRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "pipeline/TableLookupAvx2.h"

namespace tovira::sharpen_rows {
namespace {

inline int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Larger(int32_t a, int32_t b) { return a > b ? a : b; }

inline __m256i Load256(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }
inline __m128i Load128(const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); }

// The output row is read into the cache this far ahead of the stores: the rows of a frame-sized image
// are seldom in any cache, and a store that finds its line missing waits for it.
constexpr int32_t kPrefetchAhead = 4096;
inline void PrefetchOutput(const uint8_t* at) { _mm_prefetch(reinterpret_cast<const char*>(at + kPrefetchAhead), _MM_HINT_T0); }

// 8-bit samples, 32 a step, kept in 16-bit lanes as the even and the odd samples of a 32-byte load (an
// AND and a shift instead of widening across the register), as in the AVX-512 rows: the vertical sums
// of a strip go to an array of even and one of odd samples, and the four columns of a blur sum are read
// from whichever array holds them. The results are packed back to bytes with unsigned saturation and
// put in sample order by a byte shuffle within each 128-bit lane; a following table is applied in
// registers, as a product (limited to 0..255 first) or by shuffles.
struct SplitConstants {
  __m256i amount, tenth, lowBytes, interleave, keep, whole, fraction;
  bool keepFourth, scaled, toned;
  ByteTable2 tone;
};

template <int C, int kParity, int kLane>
[[gnu::always_inline]] inline __m256i BlurSum(const uint16_t* even, const uint16_t* odd, int32_t h) {
  auto at = [&](int x) { return Load256(((x & 1) ? odd : even) + h + (x >> 1)); };
  constexpr int x = kParity + kLane;
  return _mm256_add_epi16(_mm256_add_epi16(at(x), at(x + C)), _mm256_add_epi16(at(x + 2 * C), at(x + 3 * C)));
}

template <int C, int kParity>
[[gnu::always_inline]] inline void SplitStep(const uint16_t* even, const uint16_t* odd, int32_t h,
                                             const uint8_t* centre, uint8_t* out, const SplitConstants& k) {
  const __m256i v = Load256(centre);
  auto sharpen = [&](__m256i value, __m256i blur) {
    const __m256i n = _mm256_mullo_epi16(_mm256_sub_epi16(value, _mm256_srli_epi16(blur, 4)), k.amount);
    __m256i r = _mm256_add_epi16(value, _mm256_sub_epi16(_mm256_mulhi_epi16(n, k.tenth), _mm256_srai_epi16(n, 15)));
    if (k.scaled) {
      r = _mm256_min_epi16(_mm256_max_epi16(r, _mm256_setzero_si256()), k.lowBytes);
      r = _mm256_add_epi16(_mm256_mullo_epi16(r, k.whole), _mm256_mulhi_epu16(r, k.fraction));
    }
    return r;
  };
  const __m256i evenResult = sharpen(_mm256_and_si256(v, k.lowBytes), BlurSum<C, kParity, 0>(even, odd, h));
  const __m256i oddResult = sharpen(_mm256_srli_epi16(v, 8), BlurSum<C, kParity, 1>(even, odd, h));
  __m256i bytes = _mm256_shuffle_epi8(_mm256_packus_epi16(evenResult, oddResult), k.interleave);
  if (k.toned) bytes = Lookup2(k.tone, bytes);
  auto* at = reinterpret_cast<__m256i*>(out);
  PrefetchOutput(out);
  if (k.keepFourth) bytes = _mm256_blendv_epi8(bytes, _mm256_loadu_si256(at), k.keep);
  _mm256_storeu_si256(at, bytes);
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
  alignas(32) uint16_t even[kStrip / 2 + 32], odd[kStrip / 2 + 32];
  alignas(32) uint16_t nextEven[kTwo ? kStrip / 2 + 32 : 1], nextOdd[kTwo ? kStrip / 2 + 32 : 1];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 32));
    // Vertical sums of samples first .. first + count - 1, 32 a step from even offsets; the last step
    // is moved back to the even offset that still reaches the end (it may read the sample after it,
    // which lies inside the row: the sharpness leaves its last two pixels alone).
    const int32_t first = sb - 2 * C, count = se - sb + 3 * C, last = (count - 31) & ~1;
    for (int32_t i = 0;; i += 32) {
      if (i > last) i = last;
      const __m256i low = k.lowBytes;
      const __m256i b = Load256(row1 + first + i), c = Load256(row2 + first + i), d = Load256(row3 + first + i);
      const __m256i evenMiddle = _mm256_add_epi16(_mm256_add_epi16(_mm256_and_si256(b, low), _mm256_and_si256(c, low)), _mm256_and_si256(d, low));
      const __m256i oddMiddle = _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(b, 8), _mm256_srli_epi16(c, 8)), _mm256_srli_epi16(d, 8));
      const __m256i a = Load256(row0 + first + i);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(even + i / 2), _mm256_add_epi16(_mm256_and_si256(a, low), evenMiddle));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(odd + i / 2), _mm256_add_epi16(_mm256_srli_epi16(a, 8), oddMiddle));
      if constexpr (kTwo) {
        const __m256i e = Load256(row4 + first + i);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(nextEven + i / 2), _mm256_add_epi16(evenMiddle, _mm256_and_si256(e, low)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(nextOdd + i / 2), _mm256_add_epi16(oddMiddle, _mm256_srli_epi16(e, 8)));
      }
      if (i == last) break;
    }
    const int32_t lastStep = se - 32;
    for (int32_t kk = sb;; kk += 32) {
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

// 16-bit samples of at most 12 bits, 16 a step in 16-bit lanes (see kNarrowLargest): the quotient by
// 10 of amount * |d| as a product (TenthScale) with the sign put back, the brightness after it computed
// in 32-bit lanes as in the wide rows.
struct NarrowConstants {
  __m256i whole, fraction, largest, above, keep;  // above: the bits a sample of at most 12 bits has clear
  __m256 factor, topF;
  __m256i top;
  bool bright, limitFirst, negative, keepFourth;
};

// Output samples sb .. se-1 (at least 16) of the row; false, with nothing written, when a sample the
// strip reads is above kNarrowLargest.
bool NarrowStrip(const uint8_t* row0, const uint8_t* row1, const uint8_t* row2, const uint8_t* row3, uint8_t* out,
                 int32_t sb, int32_t se, int32_t c, uint16_t* sums, const NarrowConstants& k) {
  const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
  __m256i seen = _mm256_setzero_si256();
  for (int32_t i = 0;; i += 16) {
    if (i > count - 16) i = count - 16;
    const int32_t at = 2 * (first + i);
    const __m256i a = Load256(row0 + at), b = Load256(row1 + at), cc = Load256(row2 + at), d = Load256(row3 + at);
    seen = _mm256_or_si256(seen, _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(cc, d)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i),
                        _mm256_add_epi16(_mm256_add_epi16(a, b), _mm256_add_epi16(cc, d)));
    if (i == count - 16) break;
  }
  if (!_mm256_testz_si256(seen, k.above)) return false;
  const __m256i zero = _mm256_setzero_si256();
  // The results are at most `largest`; the table's limit is usually the same and the factor positive,
  // which leaves out the first limit and the lower one of the product.
  auto brighten = [&](__m256i r32) {
    if (k.limitFirst) r32 = _mm256_min_epi32(r32, k.top);
    __m256 scaled = _mm256_mul_ps(_mm256_cvtepi32_ps(r32), k.factor);
    if (k.negative) scaled = _mm256_max_ps(scaled, _mm256_setzero_ps());
    return _mm256_cvttps_epi32(_mm256_min_ps(scaled, k.topF));
  };
  const int32_t lastStep = se - 16;
  for (int32_t kk = sb;; kk += 16) {
    if (kk > lastStep) kk = lastStep;
    const uint16_t* at = sums + (kk - sb);
    const __m256i blur = _mm256_add_epi16(_mm256_add_epi16(Load256(at), Load256(at + c)),
                                          _mm256_add_epi16(Load256(at + 2 * c), Load256(at + 3 * c)));
    const __m256i v = Load256(row2 + 2 * kk);
    const __m256i d = _mm256_sub_epi16(v, _mm256_srli_epi16(blur, 4));
    const __m256i m = _mm256_abs_epi16(d);
    const __m256i q = _mm256_sign_epi16(_mm256_add_epi16(_mm256_mullo_epi16(m, k.whole), _mm256_mulhi_epu16(m, k.fraction)), d);
    __m256i r = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(v, q), zero), k.largest);
    if (k.bright) {
      const __m256i low = brighten(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(r)));
      const __m256i high = brighten(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(r, 1)));
      r = _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8);
    }
    auto* target = reinterpret_cast<__m256i*>(out + 2 * kk);
    PrefetchOutput(out + 2 * kk);
    if (k.keepFourth) r = _mm256_blendv_epi8(r, _mm256_loadu_si256(target), k.keep);
    _mm256_storeu_si256(target, r);
    if (kk == lastStep) break;
  }
  return true;
}

}  // namespace

// 8-bit samples: sums in 16 bits (vertical at most 1020, blur at most 4080), amount * (v - blur) within
// +-7650, divided by 10 with the multiply-high step.
namespace {

SplitConstants MakeSplitConstants(int32_t c, int32_t amount, const ByteScale* scale, const uint8_t* tone) {
    SplitConstants k{};
    k.amount = _mm256_set1_epi16(static_cast<int16_t>(amount)), k.tenth = _mm256_set1_epi16(6554);
    k.lowBytes = _mm256_set1_epi16(0x00FF);
    k.interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,
                                    0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    k.keepFourth = c == 4;
    k.keep = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));  // a fourth byte keeps its value
    k.scaled = scale != nullptr;
    if (k.scaled) k.whole = _mm256_set1_epi16(scale->whole), k.fraction = _mm256_set1_epi16(static_cast<int16_t>(scale->fraction));
    k.toned = !k.scaled && tone != nullptr;
    if (k.toned) k.tone = LoadByteTable2(tone);
    return k;
}

// One output row (nextOut nullptr) or two through the split rows; false where they don't apply.
bool SplitRows(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
               int32_t c, int32_t amount, const ByteScale* scale, const uint8_t* tone) {
  if (kEnd - kBegin < 32 || (c != 1 && c != 3 && c != 4)) return false;
  const SplitConstants k = MakeSplitConstants(c, amount, scale, tone);
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

bool Row8PairAvx2(const uint8_t* const rows[5], uint8_t* out, uint8_t* nextOut, int32_t kBegin, int32_t kEnd,
                  int32_t channels, int32_t amount, const ByteScale* scale, const uint8_t* tone) {
  return SplitRows(rows, out, nextOut, kBegin, kEnd, channels, amount, scale, tone);
}

bool Row8Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
              int32_t amount, const ByteScale* scale, const uint8_t* tone) {
  const int32_t c = channels;
  if (SplitRows(rows, out, nullptr, kBegin, kEnd, c, amount, scale, tone)) return true;
  const __m256i amountV = _mm256_set1_epi16(static_cast<int16_t>(amount));
  const __m256i tenth = _mm256_set1_epi16(6554);
  const __m128i keep = c == 4 ? _mm_set1_epi32(static_cast<int32_t>(0xFF000000u)) : _mm_setzero_si128();
  alignas(32) uint16_t sums[kStrip + 16];
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 16));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 16) {
      if (i > count - 16) i = count - 16;
      __m256i sum = _mm256_cvtepu8_epi16(Load128(rows[0] + first + i));
      for (int r = 1; r < 4; ++r) sum = _mm256_add_epi16(sum, _mm256_cvtepu8_epi16(Load128(rows[r] + first + i)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), sum);
      if (i == count - 16) break;
    }
    const int32_t lastStep = se - 16;
    for (int32_t k = sb;; k += 16) {
      if (k > lastStep) k = lastStep;
      const uint16_t* at = sums + (k - sb);
      const __m256i blur = _mm256_add_epi16(_mm256_add_epi16(Load256(at), Load256(at + c)),
                                            _mm256_add_epi16(Load256(at + 2 * c), Load256(at + 3 * c)));
      const __m256i v = _mm256_cvtepu8_epi16(Load128(rows[2] + k));
      const __m256i n = _mm256_mullo_epi16(_mm256_sub_epi16(v, _mm256_srli_epi16(blur, 4)), amountV);
      const __m256i q = _mm256_sub_epi16(_mm256_mulhi_epi16(n, tenth), _mm256_srai_epi16(n, 15));
      const __m256i r = _mm256_add_epi16(v, q);
      __m128i result = _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
      __m128i* target = reinterpret_cast<__m128i*>(out + k);
      if (c == 4) result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(target), keep), _mm_andnot_si128(keep, result));
      _mm_storeu_si128(target, result);
      if (k == lastStep) break;
    }
  }
  return false;
}

// 16-bit samples (any value): sums in 32 bits, the quotient by 10 as a product with 0.1f in single
// precision (exact, see Sharpen.cpp).
void Row16Avx2(const uint8_t* const rows[4], uint8_t* out, int32_t kBegin, int32_t kEnd, int32_t channels,
               int32_t amount, int32_t largest, const Brightness16* brightness) {
  const int32_t c = channels;
  const bool bright = brightness != nullptr;
  const __m256 factor = _mm256_set1_ps(bright ? brightness->factor : 1.0f);
  const __m256i brightTop = _mm256_set1_epi32(bright ? brightness->largest : 0);
  const __m256 brightTopF = _mm256_set1_ps(bright ? static_cast<float>(brightness->largest) : 0.0f);
  const __m256 amountF = _mm256_set1_ps(static_cast<float>(amount)), tenthF = _mm256_set1_ps(0.1f);
  const __m256i largestV = _mm256_set1_epi32(largest), zero = _mm256_setzero_si256();
  const __m128i keep = c == 4 ? _mm_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull)) : _mm_setzero_si128();
  alignas(32) uint32_t sums[kStrip + 16];
  // Rows of at least 16 samples whose limits are at most 12 bits try the 16-bit lanes strip by strip.
  const bool narrow = kEnd - kBegin >= 16 && largest <= kNarrowLargest && (c == 1 || c == 3 || c == 4);
  NarrowConstants n{};
  if (narrow) {
    const TenthScale tenths = TenthScaleOf(amount);
    n.whole = _mm256_set1_epi16(tenths.whole), n.fraction = _mm256_set1_epi16(static_cast<int16_t>(tenths.fraction));
    n.largest = _mm256_set1_epi16(static_cast<int16_t>(largest));
    // Fourth samples may hold anything: only the others are looked at, and they keep their value.
    n.above = c == 4 ? _mm256_set1_epi64x(0x0000F000F000F000ll) : _mm256_set1_epi16(static_cast<int16_t>(0xF000));
    n.keep = _mm256_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull));
    n.keepFourth = c == 4;
    n.bright = bright, n.factor = factor, n.topF = brightTopF, n.top = brightTop;
    n.limitFirst = bright && brightness->largest < largest;
    n.negative = bright && !(brightness->factor >= 0.0f);
  }
  for (int32_t stripBegin = kBegin; stripBegin < kEnd; stripBegin += kStrip) {
    const int32_t se = Smaller(stripBegin + kStrip, kEnd);
    if (narrow && NarrowStrip(rows[0], rows[1], rows[2], rows[3], out, Larger(kBegin, Smaller(stripBegin, se - 16)),
                              se, c, reinterpret_cast<uint16_t*>(sums), n))
      continue;
    const int32_t sb = Larger(kBegin, Smaller(stripBegin, se - 8));
    const int32_t first = sb - 2 * c, count = se - sb + 3 * c;
    for (int32_t i = 0;; i += 8) {
      if (i > count - 8) i = count - 8;
      __m256i sum = _mm256_cvtepu16_epi32(Load128(rows[0] + 2 * (first + i)));
      for (int r = 1; r < 4; ++r)
        sum = _mm256_add_epi32(sum, _mm256_cvtepu16_epi32(Load128(rows[r] + 2 * (first + i))));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), sum);
      if (i == count - 8) break;
    }
    const int32_t lastStep = se - 8;
    for (int32_t k = sb;; k += 8) {
      if (k > lastStep) k = lastStep;
      const uint32_t* at = sums + (k - sb);
      const __m256i blur = _mm256_add_epi32(_mm256_add_epi32(Load256(at), Load256(at + c)),
                                            _mm256_add_epi32(Load256(at + 2 * c), Load256(at + 3 * c)));
      const __m256i v = _mm256_cvtepu16_epi32(Load128(rows[2] + 2 * k));
      const __m256i difference = _mm256_sub_epi32(v, _mm256_srli_epi32(blur, 4));
      const __m256i q =
          _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(difference), amountF), tenthF));
      __m256i r = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(v, q), zero), largestV);
      if (bright) {
        const __m256 scaled = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_min_epi32(r, brightTop)), factor);
        r = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(scaled, _mm256_setzero_ps()), brightTopF));
      }
      __m128i result = _mm_packus_epi32(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
      __m128i* target = reinterpret_cast<__m128i*>(out + 2 * k);
      PrefetchOutput(out + 2 * k);
      if (c == 4) result = _mm_or_si128(_mm_and_si128(_mm_loadu_si128(target), keep), _mm_andnot_si128(keep, result));
      _mm_storeu_si128(target, result);
      if (k == lastStep) break;
    }
  }
}

}  // namespace tovira::sharpen_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
