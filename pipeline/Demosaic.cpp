#include "pipeline/Demosaic.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "pipeline/BayerCell.h"
#include "pipeline/DemosaicRows.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/PixelAccess.h"
#include "pipeline/VectorPath.h"

namespace tovira {

namespace demosaic_rows {
bool CpuHasAvx2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  // libgcc checks the CPUID bit and that the operating system saves the AVX registers.
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}
}  // namespace demosaic_rows

namespace {
std::atomic<int32_t> gDemosaicPath{static_cast<int32_t>(DemosaicPath::kAuto)};
}  // namespace

void SetDemosaicPath(DemosaicPath path) {
  gDemosaicPath.store(static_cast<int32_t>(path), std::memory_order_relaxed);
}

DemosaicPath ActiveDemosaicPath() {
  auto path = static_cast<DemosaicPath>(gDemosaicPath.load(std::memory_order_relaxed));
  if (path == DemosaicPath::kAuto) {  // TOVIRA_VECTOR_PATH may hold the demosaic to SSE2 or its scalar loops
    const VectorPath chosen = EnvironmentVectorPath();
    if (chosen == VectorPath::kSse2) path = DemosaicPath::kSse2;
    if (chosen == VectorPath::kScalar) path = DemosaicPath::kScalar;
  }
  if (path == DemosaicPath::kScalar || path == DemosaicPath::kSse2) return path;
  return demosaic_rows::CpuHasAvx2() ? DemosaicPath::kAvx2 : DemosaicPath::kSse2;
}

int32_t GainFactor(int32_t gain) {
  return static_cast<int32_t>(static_cast<double>(Clamp<int32_t>(gain, 0, 400)) * 1.28);
}

namespace {

// ---------------------------------------------------------------------------------------------------
// Scalar path: tails of the interior rows, the border and frames too small for the vector loop.

template <class Sample>
inline int32_t ReadSample(const uint8_t* rowStart, int32_t column);
template <>
inline int32_t ReadSample<uint8_t>(const uint8_t* rowStart, int32_t column) {
  return rowStart[column];
}
template <>
inline int32_t ReadSample<uint16_t>(const uint8_t* rowStart, int32_t column) {
  return std::min<int32_t>(Load16(rowStart + 2 * column), 4095);
}

template <class Sample>
inline void WriteBgr(uint8_t* pixel, int32_t blue, int32_t green, int32_t red) {
  if constexpr (sizeof(Sample) == 1) {
    pixel[0] = static_cast<uint8_t>(blue);
    pixel[1] = static_cast<uint8_t>(green);
    pixel[2] = static_cast<uint8_t>(red);
  } else {
    Store16(pixel, static_cast<uint16_t>(blue));
    Store16(pixel + 2, static_cast<uint16_t>(green));
    Store16(pixel + 4, static_cast<uint16_t>(red));
  }
}

// Source row of storage row `row`, moved into the frame when Fold (border pixels).
template <bool Fold>
inline const uint8_t* SourceRow(const uint8_t* source, int32_t sourceStride, const KernelRect& frame,
                                int32_t row) {
  if constexpr (Fold) row = frame.top + FoldInward(row - frame.top, frame.height());
  return RowAt(source, row, sourceStride);
}

// One output pixel at absolute column x: rows = its source rows y-2 .. y+1, columns = its source
// columns x-2 .. x+1 (both already moved into the frame for border pixels).
template <class Sample>
inline void DemosaicPixel(const uint8_t* const rows[4], const int32_t columns[4], const CellOffsets& cell,
                          int32_t redFactor, int32_t blueFactor, uint8_t* out) {
  constexpr int32_t kLimit = sizeof(Sample) == 1 ? 255 : 4095;
  auto at = [&](const CellOffset& o) { return ReadSample<Sample>(rows[o.dy + 2], columns[o.dx + 2]); };
  const int32_t green = std::min((at(cell.green[0]) + at(cell.green[1])) >> 1, kLimit);
  const int32_t blueSum =
      9 * at(cell.blue[0]) + 3 * (at(cell.blue[1]) + at(cell.blue[2])) + at(cell.blue[3]);
  const int32_t redSum = 9 * at(cell.red[0]) + 3 * (at(cell.red[1]) + at(cell.red[2])) + at(cell.red[3]);
  WriteBgr<Sample>(out, std::min((blueSum * blueFactor) >> 11, kLimit), green,
                   std::min((redSum * redFactor) >> 11, kLimit));
}

// Columns columnBegin .. columnEnd-1 of storage row `row`. Fold = neighbours outside the frame are
// moved inward (border pixels); otherwise every neighbour must be inside.
template <class Sample, bool Fold>
void DemosaicSpan(uint8_t* target, const uint8_t* source, const KernelRect& frame, int32_t x0,
                  int32_t y0, int32_t targetBpp, int32_t targetStride, int32_t sourceStride,
                  int32_t bayerMode, int32_t redFactor, int32_t blueFactor, int32_t row,
                  int32_t columnBegin, int32_t columnEnd) {
  if (columnBegin >= columnEnd) return;
  uint8_t* out = RowAt(target, y0 + (row - frame.top), targetStride);
  const uint8_t* rows[4];
  for (int i = 0; i < 4; ++i) rows[i] = SourceRow<Fold>(source, sourceStride, frame, row - 2 + i);
  for (int32_t column = columnBegin; column < columnEnd; ++column) {
    int32_t columns[4];
    for (int i = 0; i < 4; ++i) {
      columns[i] = column - 2 + i;
      if constexpr (Fold) columns[i] = frame.left + FoldInward(columns[i] - frame.left, frame.width());
    }
    DemosaicPixel<Sample>(rows, columns, CellOffsetsAt(bayerMode, column, row), redFactor, blueFactor,
                          out + static_cast<intptr_t>(x0 + (column - frame.left)) * targetBpp);
  }
}

// ---------------------------------------------------------------------------------------------------
// Vector path (SSE2). Sixteen output pixels x0 .. x0+15 (x0 even) per step, held as eight "even"
// (x0 + 2j) and eight "odd" (x0 + 2j + 1) 16-bit lanes. For a colour C on a row whose C samples sit at
// column parity pC, the horizontal part of the 9-3-3-1 weights is 3 * near + far:
//   pC = 0: even 3 lo(L0) + lo(Lm), odd 3 lo(L0) + lo(Lp)
//   pC = 1: even 3 hi(Lm) + hi(L0), odd 3 hi(L0) + hi(Lm)
// with L0, Lm, Lp the sample pairs (x0 + 2j, x0 + 2j + 1) loaded at x0, x0 - 2, x0 + 2 and lo/hi the
// even/odd sample of a pair; the vertical part is 3 * (near row) + (far row).

struct PairLoads {
  __m128i lo0, hi0, loM, hiM, loP;  // lo/hi of L0, Lm and lo of Lp; hi(Lp) is never needed
};

inline __m128i MinU16(__m128i a, __m128i b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }

struct Source8 {
  static PairLoads Load(const uint8_t* row, int32_t x0) {
    const __m128i mask = _mm_set1_epi16(0x00FF);
    const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x0));
    const __m128i lm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x0 - 2));
    const __m128i lp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x0 + 2));
    return {_mm_and_si128(l0, mask), _mm_srli_epi16(l0, 8), _mm_and_si128(lm, mask),
            _mm_srli_epi16(lm, 8), _mm_and_si128(lp, mask)};
  }
};

struct Source16 {
  // Eight pairs from two loads of four pairs; samples above 4095 count as 4095.
  static inline void Split(const uint8_t* at, __m128i* lo, __m128i* hi) {
    const __m128i limit = _mm_set1_epi16(4095);
    const __m128i a = MinU16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), limit);
    const __m128i b = MinU16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16)), limit);
    *lo = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                          _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
    *hi = _mm_packs_epi32(_mm_srli_epi32(a, 16), _mm_srli_epi32(b, 16));
  }
  static PairLoads Load(const uint8_t* row, int32_t x0) {
    PairLoads r;
    __m128i unused;
    Split(row + 2 * x0, &r.lo0, &r.hi0);
    Split(row + 2 * (x0 - 2), &r.loM, &r.hiM);
    Split(row + 2 * (x0 + 2), &r.loP, &unused);
    return r;
  }
};

inline __m128i Times3(__m128i v) { return _mm_add_epi16(_mm_add_epi16(v, v), v); }

inline void Horizontal(const PairLoads& l, int parity, __m128i* even, __m128i* odd) {
  if (parity == 0) {
    const __m128i near3 = Times3(l.lo0);
    *even = _mm_add_epi16(near3, l.loM);
    *odd = _mm_add_epi16(near3, l.loP);
  } else {
    *even = _mm_add_epi16(Times3(l.hiM), l.hi0);
    *odd = _mm_add_epi16(Times3(l.hi0), l.hiM);
  }
}

// (v * factor) >> 11, limited: for 8-bit sums (v <= 4080) one high multiply on (v << 4, 2 factor).
inline __m128i Scale8(__m128i v, __m128i factorTimes2) {
  return _mm_min_epi16(_mm_mulhi_epu16(_mm_slli_epi16(v, 4), factorTimes2), _mm_set1_epi16(255));
}
// For 12-bit sums (v <= 65520) the 32-bit product is rebuilt from its halves: (hi << 5) | (lo >> 11).
inline __m128i Scale16(__m128i v, __m128i factor) {
  const __m128i lo = _mm_mullo_epi16(v, factor), hi = _mm_mulhi_epu16(v, factor);
  return _mm_min_epi16(_mm_or_si128(_mm_slli_epi16(hi, 5), _mm_srli_epi16(lo, 11)),
                       _mm_set1_epi16(4095));
}

// Layout of one output row for the vector loop: whether red (else blue) shares row y with green, and
// the column parity of the greens on row y. Red and blue then sit at fixed parities on rows y and y-1.
struct RowPlan {
  bool redOnY;
  int greenParityY;
};

inline RowPlan PlanRow(int32_t bayerMode, int32_t x0, int32_t y) {
  const int colourEven = BayerColourAt(bayerMode, x0, y);  // colour at column x0 (even lane) of row y
  const int colourOdd = BayerColourAt(bayerMode, x0 + 1, y);
  const bool greenEvenOnY = colourEven == kBayerGreen;
  return {(greenEvenOnY ? colourOdd : colourEven) == kBayerRed, greenEvenOnY ? 0 : 1};
}

struct Channels {
  __m128i blueEven, blueOdd, greenEven, greenOdd, redEven, redOdd;
};

// rows: storage rows y-2, y-1, y, y+1. Everything is resolved at compile time, so the unused halves of
// the loads are never computed.
template <class Source, bool RedOnY, int GreenParityY>
inline Channels Interpolate(const uint8_t* const rows[4], int32_t x0) {
  const PairLoads l0 = Source::Load(rows[0], x0), l1 = Source::Load(rows[1], x0);
  const PairLoads l2 = Source::Load(rows[2], x0), l3 = Source::Load(rows[3], x0);
  constexpr int kParityOnY = 1 - GreenParityY, kParityOnYm1 = GreenParityY;
  // The colour on row y: near row y, far row y-2; the colour on row y-1: near y-1, far y+1.
  __m128i ne, no, fe, fo;
  Horizontal(l2, kParityOnY, &ne, &no);
  Horizontal(l0, kParityOnY, &fe, &fo);
  const __m128i onYEven = _mm_add_epi16(Times3(ne), fe), onYOdd = _mm_add_epi16(Times3(no), fo);
  Horizontal(l1, kParityOnYm1, &ne, &no);
  Horizontal(l3, kParityOnYm1, &fe, &fo);
  const __m128i onYm1Even = _mm_add_epi16(Times3(ne), fe), onYm1Odd = _mm_add_epi16(Times3(no), fo);
  Channels c;
  c.redEven = RedOnY ? onYEven : onYm1Even;
  c.redOdd = RedOnY ? onYOdd : onYm1Odd;
  c.blueEven = RedOnY ? onYm1Even : onYEven;
  c.blueOdd = RedOnY ? onYm1Odd : onYOdd;
  if constexpr (GreenParityY == 0) {
    c.greenEven = _mm_srli_epi16(_mm_add_epi16(l2.lo0, l1.hiM), 1);
    c.greenOdd = _mm_srli_epi16(_mm_add_epi16(l2.lo0, l1.hi0), 1);
  } else {
    c.greenEven = _mm_srli_epi16(_mm_add_epi16(l2.hiM, l1.lo0), 1);
    c.greenOdd = _mm_srli_epi16(_mm_add_epi16(l2.hi0, l1.lo0), 1);
  }
  return c;
}

// Writes 16 pixels as BGR bytes. The 24-bit stores spill two bytes past pixel 15 (pixel 16's blue
// and green), which the caller guarantees is written later in the same row.
template <int TargetBpp>
inline void Store8(uint8_t* out, const Channels& c) {
  const __m128i blue = _mm_or_si128(c.blueEven, _mm_slli_epi16(c.blueOdd, 8));
  const __m128i green = _mm_or_si128(c.greenEven, _mm_slli_epi16(c.greenOdd, 8));
  const __m128i red = _mm_or_si128(c.redEven, _mm_slli_epi16(c.redOdd, 8));
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgLo = _mm_unpacklo_epi8(blue, green), bgHi = _mm_unpackhi_epi8(blue, green);
  const __m128i rLo = _mm_unpacklo_epi8(red, zero), rHi = _mm_unpackhi_epi8(red, zero);
  const __m128i px[4] = {_mm_unpacklo_epi16(bgLo, rLo), _mm_unpackhi_epi16(bgLo, rLo),
                         _mm_unpacklo_epi16(bgHi, rHi), _mm_unpackhi_epi16(bgHi, rHi)};
  if constexpr (TargetBpp == 4) {
    const __m128i keep = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
    for (int i = 0; i < 4; ++i) {
      __m128i* at = reinterpret_cast<__m128i*>(out + 16 * i);
      _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(at), keep), px[i]));
    }
  } else {
    // Two pixels per 64-bit lane: (p0 & 0xFFFFFF) | (p1 << 24) gives six packed bytes.
    const __m128i lowMask = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i highMask = _mm_set_epi32(0x0000FFFF, static_cast<int32_t>(0xFF000000u), 0x0000FFFF,
                                           static_cast<int32_t>(0xFF000000u));
    for (int i = 0; i < 4; ++i) {
      const __m128i packed = _mm_or_si128(_mm_and_si128(px[i], lowMask),
                                          _mm_and_si128(_mm_srli_epi64(px[i], 8), highMask));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * i), packed);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * i + 6), _mm_srli_si128(packed, 8));
    }
  }
}

// Writes 16 pixels as BGR 16-bit samples; 48-bit stores spill two bytes into pixel 16 (see Store8).
template <int TargetBpp>
inline void Store16(uint8_t* out, const Channels& c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i keep = _mm_set_epi32(static_cast<int32_t>(0xFFFF0000u), 0, static_cast<int32_t>(0xFFFF0000u), 0);
  for (int half = 0; half < 2; ++half) {
    const __m128i b = half ? _mm_unpackhi_epi16(c.blueEven, c.blueOdd) : _mm_unpacklo_epi16(c.blueEven, c.blueOdd);
    const __m128i g = half ? _mm_unpackhi_epi16(c.greenEven, c.greenOdd) : _mm_unpacklo_epi16(c.greenEven, c.greenOdd);
    const __m128i r = half ? _mm_unpackhi_epi16(c.redEven, c.redOdd) : _mm_unpacklo_epi16(c.redEven, c.redOdd);
    const __m128i bgLo = _mm_unpacklo_epi16(b, g), bgHi = _mm_unpackhi_epi16(b, g);
    const __m128i rLo = _mm_unpacklo_epi16(r, zero), rHi = _mm_unpackhi_epi16(r, zero);
    const __m128i px[4] = {_mm_unpacklo_epi32(bgLo, rLo), _mm_unpackhi_epi32(bgLo, rLo),
                           _mm_unpacklo_epi32(bgHi, rHi), _mm_unpackhi_epi32(bgHi, rHi)};
    uint8_t* base = out + half * 8 * TargetBpp;
    for (int i = 0; i < 4; ++i) {
      uint8_t* at = base + 2 * i * TargetBpp;
      if constexpr (TargetBpp == 8) {
        __m128i* p = reinterpret_cast<__m128i*>(at);
        _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), px[i]));
      } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), px[i]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 6), _mm_srli_si128(px[i], 8));
      }
    }
  }
}

// SSE2 steps of one output row from its source rows y-2 .. y+1; returns the first column left to the
// scalar path. Steps start at an even column and stop so that pixel x + 16 (hit by the spill of the
// stores) is still a pixel of the span written afterwards.
template <class Sample, int TargetBpp>
int32_t Sse2Row(const uint8_t* const rows[4], uint8_t* out, int32_t columnBegin, int32_t columnEnd,
                int32_t row, int32_t bayerMode, int32_t redFactor, int32_t blueFactor) {
  const int32_t vectorBegin = (columnBegin + 1) & ~1;
  if (vectorBegin + 16 >= columnEnd) return columnBegin;
  const __m128i red8 = _mm_set1_epi16(static_cast<int16_t>(2 * redFactor));
  const __m128i blue8 = _mm_set1_epi16(static_cast<int16_t>(2 * blueFactor));
  const __m128i red16 = _mm_set1_epi16(static_cast<int16_t>(redFactor));
  const __m128i blue16 = _mm_set1_epi16(static_cast<int16_t>(blueFactor));
  auto pixelAt = [&](int32_t column) { return out + static_cast<intptr_t>(column - columnBegin) * TargetBpp; };
  const RowPlan plan = PlanRow(bayerMode, vectorBegin, row);
  auto vectorLoop = [&](auto redOnY, auto greenParity) {
    int32_t c0 = vectorBegin;
    for (; c0 + 16 < columnEnd; c0 += 16) {
      using S = std::conditional_t<sizeof(Sample) == 1, Source8, Source16>;
      Channels c = Interpolate<S, decltype(redOnY)::value, decltype(greenParity)::value>(rows, c0);
      if constexpr (sizeof(Sample) == 1) {
        c.redEven = Scale8(c.redEven, red8), c.redOdd = Scale8(c.redOdd, red8);
        c.blueEven = Scale8(c.blueEven, blue8), c.blueOdd = Scale8(c.blueOdd, blue8);
        Store8<TargetBpp>(pixelAt(c0), c);
      } else {
        c.redEven = Scale16(c.redEven, red16), c.redOdd = Scale16(c.redOdd, red16);
        c.blueEven = Scale16(c.blueEven, blue16), c.blueOdd = Scale16(c.blueOdd, blue16);
        Store16<TargetBpp>(pixelAt(c0), c);
      }
    }
    return c0;
  };
  using T = std::true_type;
  using F = std::false_type;
  using P0 = std::integral_constant<int, 0>;
  using P1 = std::integral_constant<int, 1>;
  int32_t end;
  if (plan.redOnY) end = plan.greenParityY ? vectorLoop(T{}, P1{}) : vectorLoop(T{}, P0{});
  else end = plan.greenParityY ? vectorLoop(F{}, P1{}) : vectorLoop(F{}, P0{});
  return end;
}

// Output rows rowBegin .. rowEnd-1, columns 2 .. width-3 of the frame, on the active path. Fold: rows
// of the border (their source rows are moved into the frame; the frame has at least four rows, so
// every moved row keeps its Bayer phase). The columns a vector path leaves go to the scalar path.
// hue (8-bit samples): the transform and table after the demosaic, on the AVX2 path from planes.
template <class Sample, int TargetBpp, bool Fold>
void InnerColumns(uint8_t* target, const uint8_t* source, const KernelRect& frame, int32_t x0, int32_t y0,
                  int32_t targetStride, int32_t sourceStride, int32_t bayerMode, int32_t redFactor,
                  int32_t blueFactor, int32_t rowBegin, int32_t rowEnd, const HuePlanes8* hue = nullptr) {
  const int32_t columnBegin = frame.left + 2, columnEnd = frame.right - 2;
  if (columnBegin >= columnEnd) return;
  const DemosaicPath path = ActiveDemosaicPath();
  auto scalar = [&](int32_t row, int32_t begin, int32_t end) {
    DemosaicSpan<Sample, Fold>(target, source, frame, x0, y0, TargetBpp, targetStride, sourceStride,
                               bayerMode, redFactor, blueFactor, row, begin, end);
  };
  const intptr_t firstPixel = static_cast<intptr_t>(x0 + (columnBegin - frame.left)) * TargetBpp;
  auto outRow = [&](int32_t row) { return RowAt(target, y0 + (row - frame.top), targetStride) + firstPixel; };
  // The hue of columns [begin, end) of a row the demosaic wrote.
  auto hueOf = [&](int32_t row, int32_t begin, int32_t end) {
    if (hue != nullptr && begin < end)
      HueOnPixels8(*hue, outRow(row) + static_cast<intptr_t>(begin - columnBegin) * TargetBpp, end - begin, TargetBpp);
  };
  if (path == DemosaicPath::kScalar) {
    for (int32_t row = rowBegin; row < rowEnd; ++row) scalar(row, columnBegin, columnEnd), hueOf(row, columnBegin, columnEnd);
    return;
  }
  if (path == DemosaicPath::kSse2) {
    for (int32_t row = rowBegin; row < rowEnd; ++row) {
      const uint8_t* rows[4];
      for (int i = 0; i < 4; ++i) rows[i] = SourceRow<Fold>(source, sourceStride, frame, row - 2 + i);
      const int32_t vectorBegin = (columnBegin + 1) & ~1;
      const int32_t done = Sse2Row<Sample, TargetBpp>(rows, outRow(row), columnBegin, columnEnd, row,
                                                      bayerMode, redFactor, blueFactor);
      if (done != columnBegin) scalar(row, columnBegin, vectorBegin);
      scalar(row, done, columnEnd);
      hueOf(row, columnBegin, columnEnd);
    }
    return;
  }
  // AVX2: two output rows per pass.
  for (int32_t row = rowBegin; row < rowEnd; row += 2) {
    const bool two = row + 1 < rowEnd;
    demosaic_rows::RowPass pass{};
    for (int i = 0; i < (two ? 5 : 4); ++i)
      pass.rows[i] = SourceRow<Fold>(source, sourceStride, frame, row - 2 + i);
    pass.out[0] = outRow(row);
    pass.out[1] = two ? outRow(row + 1) : nullptr;
    pass.begin = columnBegin;
    pass.end = columnEnd;
    pass.bayerMode = bayerMode;
    pass.y = row;
    pass.redFactor = redFactor;
    pass.blueFactor = blueFactor;
    if (sizeof(Sample) == 1 && hue != nullptr) {
      // Planes of at most kPlaneBytes columns at a time (in the first-level cache), each turned into
      // pixels by the hue rows right away.
      constexpr int32_t kPlaneBytes = demosaic_rows::kPlaneBytes;
      alignas(64) uint8_t planes[2][3 * kPlaneBytes];
      // On the AVX-512 vector path (whose hue rows take 64 pixels a step) 64 pixels a step here too.
      const bool avx512 = ActiveVectorPath() == VectorPath::kAvx512;
      for (int32_t chunk = columnBegin; chunk < columnEnd; chunk += kPlaneBytes) {
        const int32_t chunkEnd = std::min(columnEnd, chunk + kPlaneBytes);
        pass.begin = chunk, pass.end = chunkEnd;
        pass.out[0] = planes[0], pass.out[1] = two ? planes[1] : nullptr;
        int32_t done = avx512 ? demosaic_rows::InteriorPlanes8Avx512(pass) : chunk;
        if (done == chunk) done = demosaic_rows::InteriorPass8Avx2(pass, demosaic_rows::kPlanes8);
        for (int32_t r = row; r < row + (two ? 2 : 1); ++r) {
          HueFromPlanes8(*hue, planes[r - row], kPlaneBytes,
                         outRow(r) + static_cast<intptr_t>(chunk - columnBegin) * TargetBpp, done - chunk, TargetBpp);
          scalar(r, done, chunkEnd);
          hueOf(r, done, chunkEnd);
        }
      }
      continue;
    }
    const int32_t done = sizeof(Sample) == 1 ? demosaic_rows::InteriorPass8Avx2(pass, TargetBpp)
                                             : demosaic_rows::InteriorPass16Avx2(pass, TargetBpp);
    for (int32_t r = row; r < row + (two ? 2 : 1); ++r) scalar(r, done, columnEnd);
  }
}

template <class Sample>
int64_t Interior(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
                 int32_t targetBpp, int32_t targetStride, int32_t sourceStride, const void* p,
                 const HuePlanes8* hue = nullptr) {
  if (p == nullptr) return 0;
  constexpr int32_t kMinBpp = 3 * sizeof(Sample);
  if (targetBpp < kMinBpp) return 0;
  if (hue != nullptr && (sizeof(Sample) != 1 || targetBpp > kMinBpp + 1)) return 0;
  const auto& colour = *static_cast<const ColourRecord*>(p);
  const int32_t mode = colour.bayerMode & 3;
  const int32_t red = GainFactor(colour.redGain), blue = GainFactor(colour.blueGain);
  const int32_t rowBegin = rect.top + 2, rowEnd = rect.bottom - 2;
  if (targetBpp == kMinBpp) {
    InnerColumns<Sample, kMinBpp, false>(target, source, rect, x, y, targetStride, sourceStride, mode, red,
                                         blue, rowBegin, rowEnd, hue);
  } else if (targetBpp == kMinBpp + sizeof(Sample)) {
    InnerColumns<Sample, kMinBpp + sizeof(Sample), false>(target, source, rect, x, y, targetStride,
                                                          sourceStride, mode, red, blue, rowBegin, rowEnd, hue);
  } else {
    for (int32_t row = rect.top + 2; row < rect.bottom - 2; ++row)
      DemosaicSpan<Sample, false>(target, source, rect, x, y, targetBpp, targetStride, sourceStride,
                                  mode, red, blue, row, rect.left + 2, rect.right - 2);
  }
  return 1;
}

// The border of frame rows [first, end) (relative to the frame's first row; all of them by default).
template <class Sample>
int64_t Border(uint8_t* target, const uint8_t* source, const KernelRect& rect, int32_t x, int32_t y,
               int32_t targetBpp, int32_t targetStride, int32_t sourceStride, const void* p,
               int32_t first = 0, int32_t end = INT32_MAX) {
  if (p == nullptr) return 0;
  if (targetBpp < static_cast<int32_t>(3 * sizeof(Sample))) return 0;
  const auto& colour = *static_cast<const ColourRecord*>(p);
  // The rows asked for, as frame rows.
  const int32_t rowsBegin = rect.top + std::clamp(first, 0, rect.height());
  const int32_t rowsEnd = rect.top + std::clamp(end, 0, rect.height());
  const int32_t mode = colour.bayerMode & 3;
  const int32_t red = GainFactor(colour.redGain), blue = GainFactor(colour.blueGain);
  auto span = [&](int32_t row, int32_t begin, int32_t end) {
    DemosaicSpan<Sample, true>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, mode,
                               red, blue, row, begin, end);
  };
  const int32_t top2 = std::min(rect.top + 2, rect.bottom);
  const int32_t bottom2 = std::max(rect.bottom - 2, rect.top);
  const int32_t left2 = std::min(rect.left + 2, rect.right);
  const int32_t right2 = std::max(rect.right - 2, rect.left);
  constexpr int32_t kMinBpp = 3 * sizeof(Sample);
  const bool vectorRows = rect.height() >= 4 && (targetBpp == kMinBpp || targetBpp == kMinBpp + sizeof(Sample));
  if (vectorRows) {
    // The inner columns of the two top and the two bottom rows run like the interior, from source rows
    // moved into the frame; only the outer two columns on each side fold their columns as well.
    auto rows = [&](int32_t begin, int32_t end) {
      if (targetBpp == kMinBpp)
        InnerColumns<Sample, kMinBpp, true>(target, source, rect, x, y, targetStride, sourceStride, mode,
                                            red, blue, begin, end);
      else
        InnerColumns<Sample, kMinBpp + sizeof(Sample), true>(target, source, rect, x, y, targetStride,
                                                             sourceStride, mode, red, blue, begin, end);
    };
    auto rowsAsked = [&](int32_t from, int32_t to) {
      from = std::max(from, rowsBegin), to = std::min(to, rowsEnd);
      if (from < to) rows(from, to);
    };
    rowsAsked(rect.top, top2);
    rowsAsked(std::max(bottom2, top2), rect.bottom);
  } else {
    for (int32_t row = std::max(rect.top, rowsBegin); row < std::min(top2, rowsEnd); ++row)
      span(row, rect.left, rect.right);
    for (int32_t row = std::max(bottom2, rowsBegin); row < std::min(rect.bottom, rowsEnd); ++row)
      span(row, rect.left, rect.right);
  }
  for (int32_t row = rowsBegin; row < rowsEnd; ++row) {
    span(row, rect.left, left2);
    span(row, right2, rect.right);
  }
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(DemosaicInterior8) {
  return Interior<uint8_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(DemosaicInteriorHue8) {
  if (q == nullptr) return 0;
  return Interior<uint8_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, p,
                           static_cast<const HuePlanes8*>(q));
}
TOVIRA_PIXEL_KERNEL(DemosaicInterior16) {
  return Interior<uint16_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(DemosaicBorder8) {
  return Border<uint8_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(DemosaicBorder16) {
  return Border<uint16_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, p);
}
TOVIRA_PIXEL_KERNEL(DemosaicBorderRows8) {
  if (p == nullptr) return 0;
  const auto& rows = *static_cast<const BorderRowsRecord*>(p);
  return Border<uint8_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, rows.colour,
                         rows.first, rows.end);
}
TOVIRA_PIXEL_KERNEL(DemosaicBorderRows16) {
  if (p == nullptr) return 0;
  const auto& rows = *static_cast<const BorderRowsRecord*>(p);
  return Border<uint16_t>(target, source, rect, x, y, targetBpp, targetStride, sourceStride, rows.colour,
                          rows.first, rows.end);
}

}  // namespace tovira
