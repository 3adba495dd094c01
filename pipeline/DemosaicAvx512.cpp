// AVX-512 (BW) body of the 8-bit interior demosaic into planes of bytes (the rows the hue rows take over
// on the AVX-512 path, see DemosaicInteriorHue8): the steps of the 8-bit pass of DemosaicAvx2.cpp with
// 64 output pixels a step. This file is compiled for AVX-512 through the target pragma below and its
// function runs only on the AVX-512 vector path (CpuHasAvx512Vbmi, which implies BW); nothing else with
// external linkage is defined here, and no inline function of another file is used.
//
// Every pass reads each of the source rows y-2 .. y+2 once and writes the output rows y and y + 1. The
// last step of a row is moved back so that it ends at the row's end (overlapping pixels are written
// twice with the same values).
#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "pipeline/DemosaicRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
#endif

namespace tovira::demosaic_rows {
namespace {

inline __m512i Load(const uint8_t* at) { return _mm512_loadu_si512(at); }
inline __m512i Times3(__m512i v) { return _mm512_add_epi16(_mm512_add_epi16(v, v), v); }
// 3 * near + far: the weights of the near and the far row (or column) of a colour.
inline __m512i Weigh(__m512i nearSum, __m512i farSum) { return _mm512_add_epi16(Times3(nearSum), farSum); }

// 64 output pixels x0 .. x0+63 per step, held as 32 "even" (x0 + 2j) and 32 "odd" (x0 + 2j + 1) 16-bit
// lanes. From the loads at x0, x0 - 2 and x0 + 2, lo/hi are the first/second sample of each pair.
struct Pairs {
  __m512i lo0, hi0, loM, hiM, loP;
};

inline Pairs LoadPairs(const uint8_t* row, int32_t x0) {
  const __m512i mask = _mm512_set1_epi16(0x00FF);
  const __m512i l0 = Load(row + x0), lm = Load(row + x0 - 2), lp = Load(row + x0 + 2);
  return {_mm512_and_si512(l0, mask), _mm512_srli_epi16(l0, 8), _mm512_and_si512(lm, mask),
          _mm512_srli_epi16(lm, 8), _mm512_and_si512(lp, mask)};
}

// Horizontal weights 3 * near + far of the colour that sits at column parity P (relative to x0) on
// this row.
template <int P>
inline void Across(const Pairs& l, __m512i* even, __m512i* odd) {
  if constexpr (P == 0) {
    const __m512i near3 = Times3(l.lo0);
    *even = _mm512_add_epi16(near3, l.loM);
    *odd = _mm512_add_epi16(near3, l.loP);
  } else {
    *even = Weigh(l.hiM, l.hi0);
    *odd = Weigh(l.hi0, l.hiM);
  }
}

// The green of a row whose other colour sits at column parity P.
template <int P>
inline void GreenOf(const Pairs& l, __m512i* even, __m512i* odd) {
  if constexpr (P == 0) {
    *even = l.hiM;
    *odd = l.hi0;
  } else {
    *even = l.lo0;
    *odd = l.lo0;
  }
}

// (v * factor) >> 11 limited to 255, for v <= 4080: one high multiply of (v << 4) by 2 * factor.
inline __m512i Scale8(__m512i v, __m512i factorTimes2) {
  return _mm512_min_epi16(_mm512_mulhi_epu16(_mm512_slli_epi16(v, 4), factorTimes2), _mm512_set1_epi16(255));
}
inline __m512i Bytes(__m512i even, __m512i odd) { return _mm512_or_si512(even, _mm512_slli_epi16(odd, 8)); }

// One output row into its planes from the weighted sums of the colour on that row (a), the colour on
// the rows beside it (b) and the two greens.
template <bool RedIsA>
inline void FinishRow8(uint8_t* out, __m512i aEven, __m512i aOdd, __m512i bEven, __m512i bOdd,
                       __m512i greenEven, __m512i greenOdd, __m512i red2, __m512i blue2) {
  const __m512i aFactor = RedIsA ? red2 : blue2, bFactor = RedIsA ? blue2 : red2;
  const __m512i a = Bytes(Scale8(aEven, aFactor), Scale8(aOdd, aFactor));
  const __m512i b = Bytes(Scale8(bEven, bFactor), Scale8(bOdd, bFactor));
  _mm512_storeu_si512(out, RedIsA ? b : a);
  _mm512_storeu_si512(out + kPlaneBytes, Bytes(greenEven, greenOdd));
  _mm512_storeu_si512(out + 2 * kPlaneBytes, RedIsA ? a : b);
}

// RedOnY: red (else blue) shares row y with green; P: column parity of that colour on row y relative
// to `begin`. Rows y-2, y, y+2 have that colour at P, rows y-1, y+1 the other colour at 1 - P.
template <bool RedOnY, int P, bool Two>
int32_t Pass8(const RowPass& pass) {
  constexpr int32_t kStep = 64;
  const __m512i red2 = _mm512_set1_epi16(static_cast<int16_t>(2 * pass.redFactor));
  const __m512i blue2 = _mm512_set1_epi16(static_cast<int16_t>(2 * pass.blueFactor));
  const int32_t last = pass.begin + ((pass.end - kStep - pass.begin) & ~1);
  for (int32_t x0 = pass.begin;; x0 += kStep) {
    if (x0 > last) x0 = last;
    const Pairs r1 = LoadPairs(pass.rows[1], x0), r2 = LoadPairs(pass.rows[2], x0);
    const Pairs r3 = LoadPairs(pass.rows[3], x0);
    __m512i a2e, a2o, b1e, b1o, b3e, b3o, ge, go, te, to;
    Across<P>(r2, &a2e, &a2o);
    Across<1 - P>(r1, &b1e, &b1o);
    Across<1 - P>(r3, &b3e, &b3o);
    const __m512i a2e3 = Times3(a2e), a2o3 = Times3(a2o);
    {
      const Pairs r0 = LoadPairs(pass.rows[0], x0);
      Across<P>(r0, &te, &to);
      GreenOf<P>(r2, &ge, &go);
      __m512i he, ho;
      GreenOf<1 - P>(r1, &he, &ho);
      FinishRow8<RedOnY>(pass.out[0] + (x0 - pass.begin), _mm512_add_epi16(a2e3, te), _mm512_add_epi16(a2o3, to),
                         Weigh(b1e, b3e), Weigh(b1o, b3o), _mm512_srli_epi16(_mm512_add_epi16(ge, he), 1),
                         _mm512_srli_epi16(_mm512_add_epi16(go, ho), 1), red2, blue2);
    }
    if constexpr (Two) {
      const Pairs r4 = LoadPairs(pass.rows[4], x0);
      Across<P>(r4, &te, &to);
      GreenOf<P>(r2, &ge, &go);
      __m512i he, ho;
      GreenOf<1 - P>(r3, &he, &ho);
      // On row y + 1 the colour beside green is the one of rows y-1, y+1 (near y + 1, far y - 1).
      FinishRow8<!RedOnY>(pass.out[1] + (x0 - pass.begin), Weigh(b3e, b1e), Weigh(b3o, b1o),
                          _mm512_add_epi16(a2e3, te), _mm512_add_epi16(a2o3, to),
                          _mm512_srli_epi16(_mm512_add_epi16(ge, he), 1),
                          _mm512_srli_epi16(_mm512_add_epi16(go, ho), 1), red2, blue2);
    }
    if (x0 == last) break;
  }
  return last + kStep;
}

// Colour of the raw sample at (x, y): 0 green, 1 blue, 2 red (as BayerColourAt in Demosaic.h).
inline int ColourAt(int32_t mode, int32_t x, int32_t y) {
  const int rowPhase = (y + ((mode == 1 || mode == 3) ? 1 : 0)) & 1;
  const int colPhase = (x + ((mode == 2 || mode == 3) ? 1 : 0)) & 1;
  return rowPhase == colPhase ? 0 : (rowPhase == 0 ? 1 : 2);
}

}  // namespace

int32_t InteriorPlanes8Avx512(const RowPass& pass) {
  if (pass.end - pass.begin < 64 || pass.end - pass.begin > kPlaneBytes) return pass.begin;
  const int colourAtBegin = ColourAt(pass.bayerMode, pass.begin, pass.y);
  const bool greenAtBegin = colourAtBegin == 0;
  const int other = greenAtBegin ? ColourAt(pass.bayerMode, pass.begin + 1, pass.y) : colourAtBegin;
  const bool redOnY = other == 2, two = pass.out[1] != nullptr;
  auto pick = [&](auto redOnYTag, auto parityTag) {
    constexpr bool kRed = decltype(redOnYTag)::value;
    constexpr int kParity = decltype(parityTag)::value;
    return two ? Pass8<kRed, kParity, true>(pass) : Pass8<kRed, kParity, false>(pass);
  };
  using P0 = std::integral_constant<int, 0>;
  using P1 = std::integral_constant<int, 1>;
  if (redOnY) return greenAtBegin ? pick(std::true_type{}, P1{}) : pick(std::true_type{}, P0{});
  return greenAtBegin ? pick(std::false_type{}, P1{}) : pick(std::false_type{}, P0{});
}

}  // namespace tovira::demosaic_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
