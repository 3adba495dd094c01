// The driver shared by the three vector bodies of the 16-bit defect scan (DefectFilterSse2.cpp,
// DefectFilterAvx2.cpp, DefectFilterAvx512.cpp; DefectFilterAvx2.cpp says why the wavefront equals the
// pixel-by-pixel scan): blocks of up to kLanes rows of one parity, one 32-bit lane per row; tiles of
// kLanes steps staged one tile ahead; the two column classes as two chains interleaved step by step. A
// body supplies its vector type and four operations (see FilterBlock).
//
// Include it after the including file's target pragma: everything here has internal linkage, so each of
// those files has its own copy, compiled for its instruction set, and no copy can stand in for another
// file's at link time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovira::defect_rows {
namespace {

// One block of up to Lanes rows of one parity.
template <int Lanes>
struct WavefrontBlock {
  uint8_t* frame;
  int32_t stride;
  int32_t xBegin;    // pixel of column 0 of class 0; class c, column i is pixel xBegin + c + 2 i
  int32_t xLo, xHi;  // readable pixels xLo .. xHi - 1
  int32_t n[2];      // scanned columns of class 0 and 1
  int32_t y0;        // storage row of lane 0
  int32_t rows;      // lanes with a row to scan (1 .. Lanes)
  int32_t readable;  // rows y0 - 2 + 2 r, r = 0 .. readable - 1, can be read (lane k is r = k + 1)
};

// Values of steps t0 .. t0 + Lanes - 1, per class: `step[c][s]` holds lane k's original value at column
// t0 + s - k, `above[c][s]` the filtered row above at column t0 + s, `below[c][s]` the row below the
// block at column t0 + s - (Lanes - 1).
template <int Lanes>
struct WavefrontTile {
  alignas(4 * Lanes) int32_t step[2][Lanes][Lanes];
  alignas(4 * Lanes) int32_t above[2][Lanes];
  alignas(4 * Lanes) int32_t below[2][Lanes];
};

template <int Lanes>
inline uint8_t* PixelAt(const WavefrontBlock<Lanes>& b, int32_t row, int32_t x) {
  return b.frame + static_cast<ptrdiff_t>(row) * b.stride + 2 * static_cast<ptrdiff_t>(x);
}

// One block. Body has:
//   kLanes; Vector; Constants;
//   static Constants Make(int32_t rows, int32_t thresholdMinus1)  (the constants of a block's steps)
//   static Vector Zero();
//   static void Stage(const Block&, int32_t t0, Tile&)            (original values of steps t0 ..)
//   static void Store(const Block&, int32_t t0, Vector result[2][kLanes])
//   static void Step(const Constants&, const Tile& tile, const Tile& next, int c, int s, int32_t t0,
//                    int32_t n, bool inside, Vector& res)        (step t0 + s of class c)
template <class Body>
void FilterBlock(const WavefrontBlock<Body::kLanes>& b, int32_t thresholdMinus1) {
  constexpr int kLanes = Body::kLanes;
  using Vector = typename Body::Vector;
  const typename Body::Constants k = Body::Make(b.rows, thresholdMinus1);
  const int32_t lastStep = b.n[0] + b.rows - 2;

  WavefrontTile<kLanes> tiles[2];
  Vector result[2][kLanes];
  // The two classes are independent chains, kept in registers and interleaved so one runs while the
  // other waits.
  Vector even = Body::Zero(), odd = Body::Zero();
  int current = 0;
  // Step -1 gives lane 0 the original value left of the first column (its left partner at step 0).
  Body::Stage(b, -1, tiles[0]);
  for (int32_t t0 = -1; t0 <= lastStep; t0 += kLanes) {
    const WavefrontTile<kLanes>& tile = tiles[current];
    const WavefrontTile<kLanes>& next = tiles[current ^ 1];
    Body::Stage(b, t0 + kLanes, tiles[current ^ 1]);
    // Whether every lane of the tile is on a scanned column.
    const bool inside0 = t0 - (kLanes - 1) >= 0 && t0 + kLanes <= b.n[0];
    const bool inside1 = t0 - (kLanes - 1) >= 0 && t0 + kLanes <= b.n[1];
#pragma GCC unroll 16
    for (int s = 0; s < kLanes; ++s) {
      Body::Step(k, tile, next, 0, s, t0, b.n[0], inside0, even);
      Body::Step(k, tile, next, 1, s, t0, b.n[1], inside1, odd);
      result[0][s] = even;
      result[1][s] = odd;
    }
    Body::Store(b, t0, result);
    current ^= 1;
  }
}

// The scan of DefectFilterRows.h's FilterRows16* functions, block by block.
template <class Body>
void FilterRows(uint8_t* frame, int32_t stride, int32_t xBegin, int32_t xEnd, int32_t rowBegin, int32_t rowEnd,
                int32_t thresholdMinus1) {
  constexpr int kLanes = Body::kLanes;
  if (xBegin >= xEnd || rowBegin >= rowEnd) return;
  WavefrontBlock<kLanes> b{};
  b.frame = frame;
  b.stride = stride;
  b.xBegin = xBegin;
  b.xLo = xBegin - 2;
  b.xHi = xEnd + 2;
  b.n[0] = (xEnd - xBegin + 1) / 2;
  b.n[1] = (xEnd - xBegin) / 2;
  for (int32_t y0 = rowBegin; y0 < rowEnd; y0 += 2 * kLanes) {
    b.y0 = y0;
    b.rows = (rowEnd - y0 + 1) / 2 < kLanes ? (rowEnd - y0 + 1) / 2 : kLanes;
    // Rows y0 - 2 + 2 r before rowEnd + 2 can be read.
    const int32_t readable = (rowEnd + 2 - (y0 - 2) + 1) / 2;
    b.readable = readable < kLanes + 2 ? readable : kLanes + 2;
    FilterBlock<Body>(b, thresholdMinus1);
  }
}

}  // namespace
}  // namespace tovira::defect_rows
