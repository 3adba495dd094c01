#include "pipeline/DefectFilter.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pipeline/ApplyKernel.h"
#include "pipeline/BayerCell.h"
#include "pipeline/DefectFilterRows.h"
#include "pipeline/Demosaic.h"
#include "pipeline/PixelAccess.h"
#include "pipeline/VectorPath.h"

namespace tovira {

EstimatedColour EstimatePixelColor(const uint8_t* frame, int32_t stride, int32_t x, int32_t y,
                                   const ColourRecord& colour) {
  const CellOffsets& cell = CellOffsetsAt(colour.bayerMode, x, y);
  auto at = [&](const CellOffset& o) { return int32_t{RowAt(frame, y + o.dy, stride)[x + o.dx]}; };
  auto weighted = [&](const CellOffset* o) { return 9 * at(o[0]) + 3 * (at(o[1]) + at(o[2])) + at(o[3]); };
  EstimatedColour c;
  c.green = (at(cell.green[0]) + at(cell.green[1])) >> 1;
  // Limited like the demosaic's own result, so a bright sample never wraps round to a dark one.
  c.red = std::min((weighted(cell.red) * GainFactor(colour.redGain)) >> 11, 255);
  c.blue = std::min((weighted(cell.blue) * GainFactor(colour.blueGain)) >> 11, 255);
  return c;
}

namespace {

// How far ahead of the 8-bit scan its first reads of a row are asked for (bytes).
constexpr int32_t kPrefetchAhead = 1024;

// One pixel of the scan; returns true when it was replaced.
inline bool FilterPixel8(uint8_t* frame, int32_t stride, int32_t x, int32_t y, int32_t threshold,
                         const ColourRecord& colour) {
  uint8_t* row = RowAt(frame, y, stride);
  const int32_t v = row[x];
  const int32_t mean = (row[x - 2] + row[x + 2] + RowAt(frame, y - 2, stride)[x] +
                        RowAt(frame, y + 2, stride)[x]) >> 2;
  if (v - mean < threshold) return false;
  const EstimatedColour c = EstimatePixelColor(frame, stride, x, y, colour);
  const int tinted = (std::abs(c.red - c.green) > threshold) + (std::abs(c.red - c.blue) > threshold) +
                     (std::abs(c.green - c.blue) > threshold);
  if (tinted < 2) return false;
  row[x] = static_cast<uint8_t>(mean);
  return true;
}

inline void FilterPixel16(uint8_t* frame, int32_t stride, int32_t x, int32_t y, int32_t threshold) {
  uint8_t* row = RowAt(frame, y, stride);
  const int32_t v = Load16(row + 2 * x);
  const int32_t mean = (Load16(row + 2 * (x - 2)) + Load16(row + 2 * (x + 2)) +
                        Load16(RowAt(frame, y - 2, stride) + 2 * x) +
                        Load16(RowAt(frame, y + 2, stride) + 2 * x)) >> 2;
  if (std::abs(v - mean) >= threshold) Store16(row + 2 * x, static_cast<uint16_t>(mean));
}

// Whether any of the 16 8-bit pixels from column x on is a bright outlier candidate, judged on the
// current buffer. When none is, the scan would replace none of them: their left neighbours are either
// final already or unchanged members of the same group, so skipping the group is exact.
inline bool AnyCandidate8(const uint8_t* frame, int32_t stride, int32_t x, int32_t y, __m128i limit) {
  const uint8_t* row = RowAt(frame, y, stride) + x;
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
  const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row - 2));
  const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2));
  const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(RowAt(frame, y - 2, stride) + x));
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(RowAt(frame, y + 2, stride) + x));
  auto half = [&](auto unpack) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(unpack(l, zero), unpack(r, zero)),
                                      _mm_add_epi16(unpack(u, zero), unpack(d, zero)));
    // v - mean >= threshold  <=>  v > mean + threshold - 1
    return _mm_cmpgt_epi16(unpack(v, zero), _mm_add_epi16(_mm_srli_epi16(sum, 2), limit));
  };
  const __m128i lo = half([](__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); });
  const __m128i hi = half([](__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); });
  return _mm_movemask_epi8(_mm_or_si128(lo, hi)) != 0;
}

// The same for 8 16-bit pixels and |v - mean| >= threshold. mean is computed exactly in 16 bits as the
// sum of the quarters plus the quarter of the remainders.
inline bool AnyCandidate16(const uint8_t* frame, int32_t stride, int32_t x, int32_t y,
                           __m128i thresholdMinus1) {
  const uint8_t* row = RowAt(frame, y, stride) + 2 * x;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
  const __m128i n[4] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(row - 4)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(RowAt(frame, y - 2, stride) + 2 * x)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(RowAt(frame, y + 2, stride) + 2 * x))};
  const __m128i three = _mm_set1_epi16(3);
  __m128i quarters = _mm_setzero_si128(), rest = _mm_setzero_si128();
  for (const __m128i& s : n) {
    quarters = _mm_add_epi16(quarters, _mm_srli_epi16(s, 2));
    rest = _mm_add_epi16(rest, _mm_and_si128(s, three));
  }
  const __m128i mean = _mm_add_epi16(quarters, _mm_srli_epi16(rest, 2));
  const __m128i diff = _mm_or_si128(_mm_subs_epu16(v, mean), _mm_subs_epu16(mean, v));
  const __m128i over = _mm_subs_epu16(diff, thresholdMinus1);  // non-zero where diff >= threshold
  return _mm_movemask_epi8(_mm_cmpeq_epi16(over, _mm_setzero_si128())) != 0xFFFF;
}

// 16-bit rows rowBegin, rowBegin + step, ... before rowEnd, columns xBegin .. xEnd-1.
void FilterRows16(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin, int32_t rowEnd,
                  int32_t step, int32_t threshold) {
  const bool vectorOk = threshold >= 1 && threshold <= 32767;
  const VectorPath path = ActiveVectorPath();
  if (vectorOk && path != VectorPath::kScalar) {
    // The wavefront scans one row parity at a time; the parities never read each other's rows.
    auto* rows = path == VectorPath::kAvx512 ? defect_rows::FilterRows16Avx512
                 : HasAvx2Path(path)        ? defect_rows::FilterRows16Avx2
                                            : defect_rows::FilterRows16Sse2;
    for (int32_t parity = 0; parity < (step == 1 ? 2 : 1); ++parity)
      rows(frame, stride, xBegin, xEnd, rowBegin + parity, rowEnd, threshold - 1);
    return;
  }
  // The pixel-by-pixel scan (the reference), passing over groups of eight without a candidate.
  const __m128i thresholdMinus1 = _mm_set1_epi16(static_cast<int16_t>(threshold - 1));
  for (int32_t row = rowBegin; row < rowEnd; row += step) {
    int32_t column = xBegin;
    if (vectorOk) {
      for (; column + 7 < xEnd; column += 8) {
        if (!AnyCandidate16(frame, stride, column, row, thresholdMinus1)) continue;
        for (int32_t c = column; c < column + 8; ++c) FilterPixel16(frame, stride, c, row, threshold);
      }
    }
    for (; column < xEnd; ++column) FilterPixel16(frame, stride, column, row, threshold);
  }
}

// Full groups of 16 columns of the 8-bit scan, from column xBegin on; the columns after them are the
// scan's tail.
inline int32_t Groups8(int32_t xBegin, int32_t xEnd) { return xEnd > xBegin ? (xEnd - xBegin) / 16 : 0; }

}  // namespace

size_t DefectMarkBytes(int32_t width, int32_t height) {
  if (width < 5 || height < 5) return 0;
  return static_cast<size_t>(Groups8(2, width - 2)) * static_cast<size_t>(height - 4);
}

void MarkDefectCandidates8(const ImageView& frame, int32_t threshold, int32_t rowBegin, int32_t rowEnd,
                           uint8_t* marks) {
  if (frame.pixels == nullptr || frame.bitsPerPixel != 8 || frame.width < 5 || frame.height < 5) return;
  const int32_t groups = Groups8(2, frame.width - 2);
  if (marks == nullptr || groups == 0) return;
  rowBegin = std::max(rowBegin, 2), rowEnd = std::min(rowEnd, frame.height - 2);
  // The marks may include groups without a candidate (the scan then finds none there), never miss one.
  // In bytes: m = avg(avg(l, r), avg(u, d)) rounds up at each step, so floor(sum / 4) <= m <=
  // floor(sum / 4) + 2, and v - floor(sum / 4) >= threshold implies v - m >= threshold - 2 (v >= m).
  // A threshold above 257 leaves no candidate (v - mean <= 255); one of 1 or 2 marks every group.
  const int32_t least = threshold - 2;
  const __m128i below = _mm_set1_epi8(static_cast<char>(std::clamp(least - 1, 0, 255)));
  const int32_t stride = frame.stride;
  for (int32_t row = rowBegin; row < rowEnd; ++row) {
    uint8_t* m = marks + static_cast<size_t>(row - 2) * groups;
    if (least > 255 || least < 1) {
      std::memset(m, least < 1 ? 1 : 0, static_cast<size_t>(groups));
      continue;
    }
    const uint8_t* here = RowAt(frame.pixels, row, stride);
    const uint8_t* up = RowAt(frame.pixels, row - 2, stride);
    const uint8_t* down = RowAt(frame.pixels, row + 2, stride);
    for (int32_t k = 0, x = 2; k < groups; ++k, x += 16) {
      _mm_prefetch(reinterpret_cast<const char*>(down + x + kPrefetchAhead), _MM_HINT_T0);  // first read of it
      auto load = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
      const __m128i mean = _mm_avg_epu8(_mm_avg_epu8(load(here + x - 2), load(here + x + 2)),
                                        _mm_avg_epu8(load(up + x), load(down + x)));
      const __m128i over = _mm_subs_epu8(_mm_subs_epu8(load(here + x), mean), below);  // non-zero: v - m >= least
      m[k] = _mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) != 0xFFFF;
    }
  }
}

// Why visiting only the marked groups and those a replacement reaches is exact. The scan judges pixel
// (x, y) on the buffer as it is when the scan arrives there: the pixel itself and its partners to the
// right (x+2, y) and below (x, y+2) come later in scan order and still hold their values of the
// unfiltered frame; the partners to the left (x-2, y) and above (x, y-2) came earlier and may have
// been replaced, and a replacement only ever lowers a pixel (by the mean, which is below it). So the
// mean the scan sees differs from the unfiltered frame's only when the left or the upper partner was
// replaced, and then the replacement marked this pixel's group (it marks the groups of (x+2, y) and
// (x, y+2) before the scan gets there). A group neither marked nor reached therefore has, pixel for
// pixel, the unfiltered frame's value and mean, so no candidate, and the scan would leave it untouched:
// skipping it is exact; pixels of the group replaced earlier in the group itself are impossible for
// the same reason. A visited group runs the scan's own pixel step on the current buffer, colour
// estimate included. The tail columns after the last full group are always visited.
int64_t FilterMarkedDefects8(const ImageView& frame, int32_t threshold, const ColourRecord& record,
                             uint8_t* marks) {
  if (frame.pixels == nullptr || frame.bitsPerPixel != 8) return 0;
  ThresholdRecord q{threshold};
  ColourRecord colour = record;
  if (threshold < 1 || threshold > 32767 || marks == nullptr)
    return ApplyKernel(frame, FilterDefectPixels, frame, nullptr, 0, 0, &colour, &q);
  const int32_t xBegin = 2, xEnd = frame.width - 2, yBegin = 2, yEnd = frame.height - 2;
  if (xBegin >= xEnd || yBegin >= yEnd) return 0;
  colour.bayerMode &= 3;
  uint8_t* pixels = frame.pixels;
  const int32_t stride = frame.stride;
  const int32_t groups = Groups8(xBegin, xEnd);
  int64_t replaced = 0;
  for (int32_t row = yBegin; row < yEnd; ++row) {
    uint8_t* m = marks + static_cast<size_t>(row - yBegin) * groups;
    uint8_t* below = row + 2 < yEnd ? m + 2 * static_cast<size_t>(groups) : nullptr;
    for (int32_t k = 0; k < groups;) {
      // Eight unmarked groups at once; the marks are read after the replacements that may set them.
      if (k + 8 <= groups) {
        uint64_t word;
        std::memcpy(&word, m + k, sizeof(word));
        if (word == 0) {
          k += 8;
          continue;
        }
      }
      if (m[k] != 0) {
        for (int32_t c = xBegin + 16 * k, end = c + 16; c < end; ++c) {
          if (!FilterPixel8(pixels, stride, c, row, threshold, colour)) continue;
          ++replaced;
          if (const int32_t right = (c + 2 - xBegin) / 16; right < groups) m[right] = 1;
          if (below != nullptr) below[k] = 1;
        }
      }
      ++k;
    }
    for (int32_t column = xBegin + 16 * groups; column < xEnd; ++column)
      replaced += FilterPixel8(pixels, stride, column, row, threshold, colour);
  }
  return replaced;
}

void FilterDefectRows16(const ImageView& frame, int32_t threshold, int32_t parity) {
  if (frame.pixels == nullptr || frame.bitsPerPixel != 16) return;
  const int32_t xBegin = 2, xEnd = frame.width - 2, yBegin = 2 + (parity & 1), yEnd = frame.height - 2;
  if (xBegin >= xEnd || yBegin >= yEnd) return;
  FilterRows16(frame.pixels, frame.stride, xBegin, xEnd, yBegin, yEnd, 2, threshold);
}

TOVIRA_PIXEL_KERNEL(FilterDefectPixels) {
  if (q == nullptr) return 0;
  const int32_t threshold = static_cast<const ThresholdRecord*>(q)->threshold;
  uint8_t* frame = target;
  const int32_t stride = targetStride;
  (void)source;
  // In place: the kernel works on the target buffer, which the pipeline passes as the source too. A
  // separate source is not supported (nothing to copy from, as replaced values feed later pixels).
  const int32_t xBegin = rect.left + 2, xEnd = rect.right - 2;
  const int32_t yBegin = rect.top + 2, yEnd = rect.bottom - 2;
  if (xBegin >= xEnd || yBegin >= yEnd) return 0;
  const bool vectorOk = threshold >= 1 && threshold <= 32767;

  if (sourceBpp == 2) {
    FilterRows16(frame, stride, xBegin, xEnd, yBegin, yEnd, 1, threshold);
    return 0;
  }
  if (sourceBpp != 1 || p == nullptr) return 0;
  ColourRecord colour = *static_cast<const ColourRecord*>(p);
  colour.bayerMode &= 3;
  int64_t replaced = 0;
  const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(threshold - 1));
  for (int32_t row = yBegin; row < yEnd; ++row) {
    int32_t column = xBegin;
    if (vectorOk) {
      // The row two below is the one read for the first time: it is asked for ahead of the loads.
      const uint8_t* ahead = RowAt(frame, row + 2, stride) + kPrefetchAhead;
      for (; column + 15 < xEnd; column += 16) {
        _mm_prefetch(reinterpret_cast<const char*>(ahead + column), _MM_HINT_T0);
        if (!AnyCandidate8(frame, stride, column, row, limit)) continue;
        for (int32_t c = column; c < column + 16; ++c)
          replaced += FilterPixel8(frame, stride, c, row, threshold, colour);
      }
    }
    for (; column < xEnd; ++column) replaced += FilterPixel8(frame, stride, column, row, threshold, colour);
  }
  return replaced;
}

}  // namespace tovira
