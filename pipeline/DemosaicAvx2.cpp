// AVX2 bodies of the interior demosaic (see Demosaic.h for the arithmetic). This file is compiled for
// AVX2 through the target pragma below and its functions run only after CpuHasAvx2(); the rest of the
// library stays SSE2. Nothing with external linkage is defined here except the two pass functions
// (no inline function or template that another translation unit could share), so no AVX2 code can
// stand in for an SSE2 copy at link time.
//
// Every pass reads each of the source rows y-2 .. y+2 once and writes the output rows y and y + 1.
// Stores write exactly the pixels of a step; the last step of a row is moved back so that it ends at
// the row's end (overlapping pixels are written twice with the same values).
#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "pipeline/DemosaicRows.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace tovira::demosaic_rows {
namespace {

// pshufb masks that interleave three channel registers into BGR: entry [3 * chunk + channel] picks,
// for each of the 16 bytes of output chunk 0..2 of a 128-bit lane, the byte of that channel's
// register, or 0x80 (zero) where another channel goes. sampleBytes 1: 16 pixels per lane, 2: 8.
struct ShuffleMasks {
  alignas(32) uint8_t bytes[9][32];
};

constexpr ShuffleMasks MakeShuffleMasks(int sampleBytes) {
  ShuffleMasks m{};
  for (int chunk = 0; chunk < 3; ++chunk)
    for (int channel = 0; channel < 3; ++channel)
      for (int i = 0; i < 32; ++i) {
        const int n = 16 * chunk + (i & 15);  // byte of the lane's 48 output bytes
        const int sample = n / sampleBytes, part = n % sampleBytes;
        const int pixel = sample / 3;
        m.bytes[3 * chunk + channel][i] =
            static_cast<uint8_t>(sample % 3 == channel ? pixel * sampleBytes + part : 0x80);
      }
  return m;
}

constexpr ShuffleMasks kMasks8 = MakeShuffleMasks(1);
constexpr ShuffleMasks kMasks16 = MakeShuffleMasks(2);

inline __m256i Load(const uint8_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }
inline void Store(uint8_t* at, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v); }
inline __m256i Mask(const ShuffleMasks& m, int i) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(m.bytes[i]));
}
inline __m256i Times3(__m256i v) { return _mm256_add_epi16(_mm256_add_epi16(v, v), v); }
// 3 * near + far: the weights of the near and the far row (or column) of a colour.
inline __m256i Weigh(__m256i nearSum, __m256i farSum) { return _mm256_add_epi16(Times3(nearSum), farSum); }

// Blue, green and red registers (each lane: 48 output bytes' worth of pixels) to 96 BGR bytes.
inline void StoreBgr(uint8_t* out, __m256i b, __m256i g, __m256i r, const ShuffleMasks& m) {
  __m256i chunk[3];
  for (int k = 0; k < 3; ++k)
    chunk[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, Mask(m, 3 * k)),
                                               _mm256_shuffle_epi8(g, Mask(m, 3 * k + 1))),
                               _mm256_shuffle_epi8(r, Mask(m, 3 * k + 2)));
  // chunk[k] holds output bytes 16k.. in its low lane and 48 + 16k.. in its high lane.
  // The target rows (of a frame-sized image, seldom in any cache) are read in ahead of the stores,
  // which would otherwise wait for their lines.
  _mm_prefetch(reinterpret_cast<const char*>(out + 4096), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(out + 4096 + 64), _MM_HINT_T0);
  Store(out, _mm256_permute2x128_si256(chunk[0], chunk[1], 0x20));
  Store(out + 32, _mm256_permute2x128_si256(chunk[2], chunk[0], 0x30));
  Store(out + 64, _mm256_permute2x128_si256(chunk[1], chunk[2], 0x31));
}

// Four registers of whole pixels (low lanes: the first half of the step, high lanes: the second) into
// memory, keeping the bytes that `keep` marks (the fourth channel).
inline void StoreKeeping(uint8_t* out, __m256i p0, __m256i p1, __m256i p2, __m256i p3, __m256i keep) {
  const __m256i part[4] = {_mm256_permute2x128_si256(p0, p1, 0x20), _mm256_permute2x128_si256(p2, p3, 0x20),
                           _mm256_permute2x128_si256(p0, p1, 0x31), _mm256_permute2x128_si256(p2, p3, 0x31)};
  for (int i = 0; i < 4; ++i) {
    uint8_t* at = out + 32 * i;
    Store(at, _mm256_or_si256(_mm256_and_si256(Load(at), keep), part[i]));
  }
}

// ---- 8-bit samples: 32 output pixels x0 .. x0+31 per step ----------------------------------------
// Held as 16 "even" (x0 + 2j) and 16 "odd" (x0 + 2j + 1) 16-bit lanes. From the loads at x0, x0 - 2 and
// x0 + 2, lo/hi are the first/second sample of each pair.

struct Pairs {
  __m256i lo0, hi0, loM, hiM, loP;
};

inline Pairs LoadPairs(const uint8_t* row, int32_t x0) {
  const __m256i mask = _mm256_set1_epi16(0x00FF);
  const __m256i l0 = Load(row + x0), lm = Load(row + x0 - 2), lp = Load(row + x0 + 2);
  return {_mm256_and_si256(l0, mask), _mm256_srli_epi16(l0, 8), _mm256_and_si256(lm, mask),
          _mm256_srli_epi16(lm, 8), _mm256_and_si256(lp, mask)};
}

// Horizontal weights 3 * near + far of the colour that sits at column parity P (relative to x0) on
// this row.
template <int P>
inline void Across(const Pairs& l, __m256i* even, __m256i* odd) {
  if constexpr (P == 0) {
    const __m256i near3 = Times3(l.lo0);
    *even = _mm256_add_epi16(near3, l.loM);
    *odd = _mm256_add_epi16(near3, l.loP);
  } else {
    *even = Weigh(l.hiM, l.hi0);
    *odd = Weigh(l.hi0, l.hiM);
  }
}

// The green of a row whose other colour sits at column parity P.
template <int P>
inline void GreenOf(const Pairs& l, __m256i* even, __m256i* odd) {
  if constexpr (P == 0) {
    *even = l.hiM;
    *odd = l.hi0;
  } else {
    *even = l.lo0;
    *odd = l.lo0;
  }
}

// (v * factor) >> 11 limited to 255, for v <= 4080: one high multiply of (v << 4) by 2 * factor.
inline __m256i Scale8(__m256i v, __m256i factorTimes2) {
  return _mm256_min_epi16(_mm256_mulhi_epu16(_mm256_slli_epi16(v, 4), factorTimes2), _mm256_set1_epi16(255));
}
inline __m256i Bytes(__m256i even, __m256i odd) { return _mm256_or_si256(even, _mm256_slli_epi16(odd, 8)); }

template <int Bpp>
inline void StorePixels8(uint8_t* out, __m256i blue, __m256i green, __m256i red) {
  if constexpr (Bpp == kPlanes8) {
    Store(out, blue);
    Store(out + kPlaneBytes, green);
    Store(out + 2 * kPlaneBytes, red);
  } else if constexpr (Bpp == 3) {
    StoreBgr(out, blue, green, red, kMasks8);
  } else {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bgLo = _mm256_unpacklo_epi8(blue, green), bgHi = _mm256_unpackhi_epi8(blue, green);
    const __m256i rLo = _mm256_unpacklo_epi8(red, zero), rHi = _mm256_unpackhi_epi8(red, zero);
    StoreKeeping(out, _mm256_unpacklo_epi16(bgLo, rLo), _mm256_unpackhi_epi16(bgLo, rLo),
                 _mm256_unpacklo_epi16(bgHi, rHi), _mm256_unpackhi_epi16(bgHi, rHi),
                 _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)));
  }
}

// One output row from the weighted sums of the colour on that row (a), the colour on the rows beside
// it (b) and the two greens.
template <bool RedIsA, int Bpp>
inline void FinishRow8(uint8_t* out, __m256i aEven, __m256i aOdd, __m256i bEven, __m256i bOdd,
                       __m256i greenEven, __m256i greenOdd, __m256i red2, __m256i blue2) {
  const __m256i aFactor = RedIsA ? red2 : blue2, bFactor = RedIsA ? blue2 : red2;
  const __m256i a = Bytes(Scale8(aEven, aFactor), Scale8(aOdd, aFactor));
  const __m256i b = Bytes(Scale8(bEven, bFactor), Scale8(bOdd, bFactor));
  const __m256i green = Bytes(greenEven, greenOdd);
  StorePixels8<Bpp>(out, RedIsA ? b : a, green, RedIsA ? a : b);
}

// RedOnY: red (else blue) shares row y with green; P: column parity of that colour on row y relative
// to `begin`. Rows y-2, y, y+2 have that colour at P, rows y-1, y+1 the other colour at 1 - P.
template <bool RedOnY, int P, int Bpp, bool Two>
int32_t Pass8(const RowPass& pass) {
  constexpr int32_t kStep = 32;
  const __m256i red2 = _mm256_set1_epi16(static_cast<int16_t>(2 * pass.redFactor));
  const __m256i blue2 = _mm256_set1_epi16(static_cast<int16_t>(2 * pass.blueFactor));
  const int32_t last = pass.begin + ((pass.end - kStep - pass.begin) & ~1);
  for (int32_t x0 = pass.begin;; x0 += kStep) {
    if (x0 > last) x0 = last;
    const Pairs r1 = LoadPairs(pass.rows[1], x0), r2 = LoadPairs(pass.rows[2], x0);
    const Pairs r3 = LoadPairs(pass.rows[3], x0);
    __m256i a2e, a2o, b1e, b1o, b3e, b3o, ge, go, te, to;
    Across<P>(r2, &a2e, &a2o);
    Across<1 - P>(r1, &b1e, &b1o);
    Across<1 - P>(r3, &b3e, &b3o);
    const __m256i a2e3 = Times3(a2e), a2o3 = Times3(a2o);
    uint8_t* out0 = pass.out[0] + static_cast<intptr_t>(x0 - pass.begin) * Bpp;
    {
      const Pairs r0 = LoadPairs(pass.rows[0], x0);
      Across<P>(r0, &te, &to);
      GreenOf<P>(r2, &ge, &go);
      __m256i he, ho;
      GreenOf<1 - P>(r1, &he, &ho);
      FinishRow8<RedOnY, Bpp>(out0, _mm256_add_epi16(a2e3, te), _mm256_add_epi16(a2o3, to),
                              Weigh(b1e, b3e), Weigh(b1o, b3o), _mm256_srli_epi16(_mm256_add_epi16(ge, he), 1),
                              _mm256_srli_epi16(_mm256_add_epi16(go, ho), 1), red2, blue2);
    }
    if constexpr (Two) {
      uint8_t* out1 = pass.out[1] + static_cast<intptr_t>(x0 - pass.begin) * Bpp;
      const Pairs r4 = LoadPairs(pass.rows[4], x0);
      Across<P>(r4, &te, &to);
      GreenOf<P>(r2, &ge, &go);
      __m256i he, ho;
      GreenOf<1 - P>(r3, &he, &ho);
      // On row y + 1 the colour beside green is the one of rows y-1, y+1 (near y + 1, far y - 1).
      FinishRow8<!RedOnY, Bpp>(out1, Weigh(b3e, b1e), Weigh(b3o, b1o), _mm256_add_epi16(a2e3, te),
                               _mm256_add_epi16(a2o3, to), _mm256_srli_epi16(_mm256_add_epi16(ge, he), 1),
                               _mm256_srli_epi16(_mm256_add_epi16(go, ho), 1), red2, blue2);
    }
    if (x0 == last) break;
  }
  return last + kStep;
}

// ---- 16-bit samples: 16 output pixels x0 .. x0+15 per step, one lane each ---------------------------

struct Row16 {
  __m256i near, far, green;  // the colour's near and far sample of each pixel's cell, and the green
};

// Loads at x0 - 2, x0 - 1, x0, x0 + 1; lanes of column parity P hold the colour at their own column.
// Samples above 4095 count as 4095.
template <int P>
inline Row16 LoadRow16(const uint8_t* row, int32_t x0) {
  constexpr int kOwn = P == 0 ? 0x55 : 0xAA;
  const __m256i limit = _mm256_set1_epi16(4095);
  const uint8_t* at = row + 2 * static_cast<intptr_t>(x0);
  const __m256i sm2 = Load(at - 4), sm1 = Load(at - 2), s0 = Load(at), sp1 = Load(at + 2);
  return {_mm256_min_epu16(_mm256_blend_epi16(sm1, s0, kOwn), limit),
          _mm256_min_epu16(_mm256_blend_epi16(sp1, sm2, kOwn), limit),
          _mm256_min_epu16(_mm256_blend_epi16(s0, sm1, kOwn), limit)};
}

// (v * factor) >> 11 limited to 4095, for v <= 65520: the 32-bit product from its two halves.
inline __m256i Scale16(__m256i v, __m256i factor) {
  const __m256i lo = _mm256_mullo_epi16(v, factor), hi = _mm256_mulhi_epu16(v, factor);
  return _mm256_min_epi16(_mm256_or_si256(_mm256_slli_epi16(hi, 5), _mm256_srli_epi16(lo, 11)),
                          _mm256_set1_epi16(4095));
}

template <int Bpp>
inline void StorePixels16(uint8_t* out, __m256i blue, __m256i green, __m256i red) {
  if constexpr (Bpp == 6) {
    StoreBgr(out, blue, green, red, kMasks16);
  } else {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bgLo = _mm256_unpacklo_epi16(blue, green), bgHi = _mm256_unpackhi_epi16(blue, green);
    const __m256i rLo = _mm256_unpacklo_epi16(red, zero), rHi = _mm256_unpackhi_epi16(red, zero);
    StoreKeeping(out, _mm256_unpacklo_epi32(bgLo, rLo), _mm256_unpackhi_epi32(bgLo, rLo),
                 _mm256_unpacklo_epi32(bgHi, rHi), _mm256_unpackhi_epi32(bgHi, rHi),
                 _mm256_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull)));
  }
}

template <bool RedIsA, int Bpp>
inline void FinishRow16(uint8_t* out, __m256i a, __m256i b, __m256i green, __m256i red, __m256i blue) {
  const __m256i aScaled = Scale16(a, RedIsA ? red : blue), bScaled = Scale16(b, RedIsA ? blue : red);
  StorePixels16<Bpp>(out, RedIsA ? bScaled : aScaled, green, RedIsA ? aScaled : bScaled);
}

template <bool RedOnY, int P, int Bpp, bool Two>
int32_t Pass16(const RowPass& pass) {
  constexpr int32_t kStep = 16;
  const __m256i red = _mm256_set1_epi16(static_cast<int16_t>(pass.redFactor));
  const __m256i blue = _mm256_set1_epi16(static_cast<int16_t>(pass.blueFactor));
  const int32_t last = pass.begin + ((pass.end - kStep - pass.begin) & ~1);
  for (int32_t x0 = pass.begin;; x0 += kStep) {
    if (x0 > last) x0 = last;
    const Row16 r1 = LoadRow16<1 - P>(pass.rows[1], x0), r2 = LoadRow16<P>(pass.rows[2], x0);
    const Row16 r3 = LoadRow16<1 - P>(pass.rows[3], x0);
    const __m256i a2 = Weigh(r2.near, r2.far), b1 = Weigh(r1.near, r1.far), b3 = Weigh(r3.near, r3.far);
    const __m256i a2x3 = Times3(a2);
    {
      const Row16 r0 = LoadRow16<P>(pass.rows[0], x0);
      FinishRow16<RedOnY, Bpp>(pass.out[0] + static_cast<intptr_t>(x0 - pass.begin) * Bpp,
                               _mm256_add_epi16(a2x3, Weigh(r0.near, r0.far)), Weigh(b1, b3),
                               _mm256_srli_epi16(_mm256_add_epi16(r2.green, r1.green), 1), red, blue);
    }
    if constexpr (Two) {
      const Row16 r4 = LoadRow16<P>(pass.rows[4], x0);
      FinishRow16<!RedOnY, Bpp>(pass.out[1] + static_cast<intptr_t>(x0 - pass.begin) * Bpp, Weigh(b3, b1),
                                _mm256_add_epi16(a2x3, Weigh(r4.near, r4.far)),
                                _mm256_srli_epi16(_mm256_add_epi16(r3.green, r2.green), 1), red, blue);
    }
    if (x0 == last) break;
  }
  return last + kStep;
}

// Colour of the raw sample at (x, y): 0 green, 1 blue, 2 red (as BayerColourAt in Demosaic.h, which
// this file does not include to keep every inline function here its own).
inline int ColourAt(int32_t mode, int32_t x, int32_t y) {
  const int rowPhase = (y + ((mode == 1 || mode == 3) ? 1 : 0)) & 1;
  const int colPhase = (x + ((mode == 2 || mode == 3) ? 1 : 0)) & 1;
  return rowPhase == colPhase ? 0 : (rowPhase == 0 ? 1 : 2);
}

// Resolves the row layout and the row count at compile time.
template <int Bpp, class Body>
int32_t Dispatch(const RowPass& pass, Body body) {
  const int colourAtBegin = ColourAt(pass.bayerMode, pass.begin, pass.y);
  const bool greenAtBegin = colourAtBegin == 0;
  const int other = greenAtBegin ? ColourAt(pass.bayerMode, pass.begin + 1, pass.y) : colourAtBegin;
  const bool redOnY = other == 2;
  const bool two = pass.out[1] != nullptr;
  auto pick = [&](auto redOnYTag, auto parityTag) {
    return two ? body(redOnYTag, parityTag, std::true_type{}) : body(redOnYTag, parityTag, std::false_type{});
  };
  using P0 = std::integral_constant<int, 0>;
  using P1 = std::integral_constant<int, 1>;
  if (redOnY) return greenAtBegin ? pick(std::true_type{}, P1{}) : pick(std::true_type{}, P0{});
  return greenAtBegin ? pick(std::false_type{}, P1{}) : pick(std::false_type{}, P0{});
}

}  // namespace

int32_t InteriorPass8Avx2(const RowPass& pass, int32_t targetBpp) {
  if (pass.end - pass.begin < 32 || (targetBpp != 3 && targetBpp != 4 && targetBpp != kPlanes8)) return pass.begin;
  if (targetBpp == kPlanes8 && pass.end - pass.begin > kPlaneBytes) return pass.begin;
  auto run = [&](auto bpp) {
    return Dispatch<decltype(bpp)::value>(pass, [&](auto redOnY, auto parity, auto two) {
      return Pass8<decltype(redOnY)::value, decltype(parity)::value, decltype(bpp)::value,
                   decltype(two)::value>(pass);
    });
  };
  if (targetBpp == kPlanes8) return run(std::integral_constant<int, kPlanes8>{});
  return targetBpp == 3 ? run(std::integral_constant<int, 3>{}) : run(std::integral_constant<int, 4>{});
}

int32_t InteriorPass16Avx2(const RowPass& pass, int32_t targetBpp) {
  if (pass.end - pass.begin < 16 || (targetBpp != 6 && targetBpp != 8)) return pass.begin;
  auto run = [&](auto bpp) {
    return Dispatch<decltype(bpp)::value>(pass, [&](auto redOnY, auto parity, auto two) {
      return Pass16<decltype(redOnY)::value, decltype(parity)::value, decltype(bpp)::value,
                    decltype(two)::value>(pass);
    });
  };
  return targetBpp == 6 ? run(std::integral_constant<int, 6>{}) : run(std::integral_constant<int, 8>{});
}

}  // namespace tovira::demosaic_rows

#if defined(__GNUC__)
#pragma GCC pop_options
#endif
