// Neighbour offsets of the 2 x 2 cell interpolation shared by the demosaic and the defect filter.
#pragma once

#include <array>
#include <cstdint>

#include "pipeline/Demosaic.h"

namespace tovira {

struct CellOffset {
  int8_t dx, dy;
};

// For one output pixel: the cell's two greens, and for blue and red the samples weighted 9, 3, 3, 1.
struct CellOffsets {
  CellOffset green[2];
  CellOffset blue[4];
  CellOffset red[4];
};

namespace detail {

constexpr int ColourAt(int mode, int x, int y) {
  const int rowPhase = (y + ((mode == 1 || mode == 3) ? 1 : 0)) & 1;
  const int colPhase = (x + ((mode == 2 || mode == 3) ? 1 : 0)) & 1;
  return rowPhase == colPhase ? 0 : (rowPhase == 0 ? 1 : 2);
}

// The cell is columns x-1, x and rows y-1, y; its centre lies between them. The 3-weighted partners
// of a sample lie two pixels beyond the centre, horizontally and vertically, the 1-weighted one
// diagonally.
constexpr CellOffsets MakeCell(int mode, int px, int py) {
  CellOffsets cell{};
  int greens = 0;
  for (int dy = 0; dy >= -1; --dy) {
    for (int dx = 0; dx >= -1; --dx) {
      const int colour = ColourAt(mode, px + 2 + dx, py + 2 + dy);
      if (colour == 0) {
        cell.green[greens++] = {static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
        continue;
      }
      const int8_t farX = static_cast<int8_t>(dx == 0 ? -2 : 1);
      const int8_t farY = static_cast<int8_t>(dy == 0 ? -2 : 1);
      CellOffset* out = colour == 1 ? cell.blue : cell.red;
      out[0] = {static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
      out[1] = {farX, static_cast<int8_t>(dy)};
      out[2] = {static_cast<int8_t>(dx), farY};
      out[3] = {farX, farY};
    }
  }
  return cell;
}

constexpr std::array<CellOffsets, 16> MakeCells() {
  std::array<CellOffsets, 16> cells{};
  for (int mode = 0; mode < 4; ++mode)
    for (int py = 0; py < 2; ++py)
      for (int px = 0; px < 2; ++px) cells[mode * 4 + py * 2 + px] = MakeCell(mode, px, py);
  return cells;
}

inline constexpr std::array<CellOffsets, 16> kCells = MakeCells();

}  // namespace detail

inline const CellOffsets& CellOffsetsAt(int32_t bayerMode, int32_t x, int32_t y) {
  return detail::kCells[(bayerMode & 3) * 4 + (y & 1) * 2 + (x & 1)];
}

// A neighbour index outside 0..n-1 is moved four samples inward (same colour); frames smaller than
// four samples fold further by steps of two, and a one-sample frame uses its only sample.
inline int32_t FoldInward(int32_t c, int32_t n) {
  if (c < 0) {
    c += 4;
  } else if (c >= n) {
    c -= 4;
  }
  if (c < 0) c = c & 1;
  if (c >= n) c = n - 1 - ((n - 1 - c) & 1);
  if (c < 0) c = 0;
  if (c >= n) c = n - 1;
  return c;
}

}  // namespace tovira
