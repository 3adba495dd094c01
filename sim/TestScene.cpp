#include "sim/TestScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tovira {

namespace {

constexpr int kArrayColumn = 56, kArrayRow = 8, kArrayWidth = 3840, kArrayHeight = 2748;

// Warm light: red strong, blue weak (index: 0 green, 1 blue, 2 red).
constexpr double kLight[3] = {1.0, 0.70, 1.25};

// Patch colours (linear green, blue, red), 6 columns x 4 rows; the last row is neutral.
constexpr double kPatches[4][6][3] = {
    {{0.20, 0.15, 0.45}, {0.35, 0.30, 0.70}, {0.30, 0.50, 0.25}, {0.30, 0.15, 0.25}, {0.35, 0.60, 0.35}, {0.60, 0.55, 0.30}},
    {{0.30, 0.10, 0.80}, {0.15, 0.55, 0.20}, {0.20, 0.30, 0.70}, {0.15, 0.30, 0.35}, {0.60, 0.15, 0.55}, {0.50, 0.10, 0.85}},
    {{0.10, 0.60, 0.10}, {0.50, 0.15, 0.20}, {0.10, 0.10, 0.65}, {0.75, 0.10, 0.85}, {0.20, 0.50, 0.70}, {0.30, 0.60, 0.10}},
    {{0.90, 0.90, 0.90}, {0.65, 0.65, 0.65}, {0.45, 0.45, 0.45}, {0.28, 0.28, 0.28}, {0.14, 0.14, 0.14}, {0.05, 0.05, 0.05}},
};

// Hot pixels at fixed sensor places.
constexpr int kHotPixels[][2] = {{100, 300}, {777, 1234}, {1500, 2999}, {2100, 640}, {2600, 3500}, {40, 3800}};

std::uint32_t hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// Which part of the scene a sensor position shows: the patch (row, column) or -1.
int patchRow(int row) {
  const int v = row - kArrayRow;
  const int top = kArrayHeight * 20 / 100, bottom = kArrayHeight * 75 / 100;
  if (v < top || v >= bottom) return -1;
  const int cell = (bottom - top) / 4;
  const int k = (v - top) / cell, inner = (v - top) % cell;
  return inner < cell / 10 || inner >= cell - cell / 10 || k > 3 ? -1 : k; // dark gaps between patches
}

int patchColumn(int column) {
  const int u = column - kArrayColumn;
  const int left = kArrayWidth * 10 / 100, right = kArrayWidth * 90 / 100;
  if (u < left || u >= right) return -1;
  const int cell = (right - left) / 6;
  const int k = (u - left) / cell, inner = (u - left) % cell;
  return inner < cell / 10 || inner >= cell - cell / 10 || k > 5 ? -1 : k;
}

bool inRamp(int row) { return row - kArrayRow < kArrayHeight * 15 / 100; }

bool inBarRows(int row) {
  const int v = row - kArrayRow;
  return v >= kArrayHeight * 80 / 100 && v < kArrayHeight * 95 / 100;
}

} // namespace

int filterColourAt(int sensorRow, int sensorColumn) {
  const bool oddRow = (sensorRow & 1) != 0, oddColumn = (sensorColumn & 1) != 0;
  if (!oddRow) return oddColumn ? 2 : 0;
  return oddColumn ? 3 : 1;
}

double sceneRadiance(int row, int column, int colour) {
  if (inRamp(row)) return std::clamp(double(column - kArrayColumn) / kArrayWidth, 0.0, 1.0);
  const int pr = patchRow(row), pc = patchColumn(column);
  if (pr >= 0 && pc >= 0) return kPatches[pr][pc][colour];
  if (pr >= 0 || pc >= 0) return 0.08; // the dark frame around the patches
  return 0.35;
}

std::uint16_t sampleLevel(double radiance, int colour, int exposureLines, int gainCode) {
  const double level = radiance * kLight[colour] * (double(exposureLines) / 2748.0) * (double(gainCode) / 64.0) * 4095.0;
  return std::uint16_t(std::clamp(level, 0.0, 4095.0));
}

bool TestScene::sameReadout(const SensorReadout& r) const {
  const SensorReadout& c = cachedFor_;
  return cached_ && c.firstColumn == r.firstColumn && c.lastColumn == r.lastColumn && c.firstRow == r.firstRow &&
         c.lastRow == r.lastRow && c.outputWidth == r.outputWidth && c.outputHeight == r.outputHeight &&
         c.skipX == r.skipX && c.skipY == r.skipY && c.mirrorH == r.mirrorH && c.mirrorV == r.mirrorV &&
         c.exposureLines == r.exposureLines && std::memcmp(c.gain, r.gain, sizeof c.gain) == 0;
}

const std::vector<std::uint16_t>& TestScene::render(const SensorReadout& r, std::uint32_t frameNumber) {
  const int w = std::max(0, r.outputWidth), h = std::max(0, r.outputHeight);
  if (!sameReadout(r)) {
    base_.assign(std::size_t(w) * h, 0);
    columns_.resize(std::size_t(w));
    for (int j = 0; j < w; ++j) columns_[std::size_t(j)] = r.sensorColumn(j);
    // Per-colour scale for radiance 1, so the inner loop is one multiply.
    double scale[4];
    for (int c = 0; c < 4; ++c) {
      const int colour = c == 3 ? 0 : c;
      scale[c] = kLight[colour] * (double(r.exposureLines) / 2748.0) * (double(r.gain[c]) / 64.0) * 4095.0;
    }
    for (int i = 0; i < h; ++i) {
      const int row = r.sensorRow(i);
      std::uint16_t* out = base_.data() + std::size_t(i) * w;
      for (int j = 0; j < w; ++j) {
        const int column = columns_[std::size_t(j)];
        const int c = filterColourAt(row, column);
        const double radiance = sceneRadiance(row, column, c == 3 ? 0 : c);
        // Mild fixed-pattern noise, +-3 on the 12-bit scale.
        const int noise = int(hash(std::uint32_t(row) * 7919u + std::uint32_t(column)) % 7u) - 3;
        const double level = radiance * scale[c] + noise;
        out[j] = std::uint16_t(std::clamp(level, 0.0, 4095.0));
      }
    }
    for (const auto& hot : kHotPixels) {
      for (int i = 0; i < h; ++i) {
        if (r.sensorRow(i) != hot[0]) continue;
        for (int j = 0; j < w; ++j)
          if (columns_[std::size_t(j)] == hot[1]) base_[std::size_t(i) * w + j] = 4095;
      }
    }
    cachedFor_ = r;
    cached_ = true;
  }
  frame_ = base_;
  // The moving bar: 64 sensor columns wide, saturated, advancing 37 columns a frame.
  const int barLeft = kArrayColumn + int((frameNumber * 37u) % std::uint32_t(kArrayWidth));
  for (int i = 0; i < h; ++i) {
    if (!inBarRows(r.sensorRow(i))) continue;
    std::uint16_t* out = frame_.data() + std::size_t(i) * w;
    for (int j = 0; j < w; ++j) {
      const int column = columns_[std::size_t(j)];
      if (column >= barLeft && column < barLeft + 64) out[j] = 4095;
    }
  }
  // The frame-number strip in output coordinates.
  for (int i = 0; i < std::min(h, SceneStrip::kCellSize); ++i) {
    std::uint16_t* out = frame_.data() + std::size_t(i) * w;
    for (int j = 0; j < std::min(w, SceneStrip::kCells * SceneStrip::kCellSize); ++j)
      out[j] = ((frameNumber >> (j / SceneStrip::kCellSize)) & 1u) ? 4095 : 0;
  }
  return frame_;
}

} // namespace tovira
