// Test images and slow, obviously-correct reference versions of the pixel kernels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "pipeline/ApplyKernel.h"
#include "pipeline/ImageView.h"

namespace tovira::test {

// An image with its own buffer; `extraStride` pads rows beyond the 4-byte rounding.
class TestImage {
 public:
  TestImage() = default;
  TestImage(int32_t width, int32_t height, uint16_t bitsPerPixel, int32_t extraStride = 0) {
    const int32_t rowBytes = width * (bitsPerPixel / 8);
    view_.width = width;
    view_.height = height;
    view_.bitsPerPixel = bitsPerPixel;
    view_.stride = ((rowBytes + 3) & ~3) + extraStride;
    buffer_.assign(static_cast<size_t>(view_.stride) * height + 1, 0);  // +1: never zero-sized
    view_.pixels = buffer_.data();
  }
  TestImage(const TestImage& other) : buffer_(other.buffer_), view_(other.view_) { view_.pixels = buffer_.data(); }
  TestImage& operator=(const TestImage& other) {
    buffer_ = other.buffer_;
    view_ = other.view_;
    view_.pixels = buffer_.data();
    return *this;
  }

  const ImageView& view() const { return view_; }
  int32_t width() const { return view_.width; }
  int32_t height() const { return view_.height; }
  int32_t stride() const { return view_.stride; }
  int32_t bpp() const { return view_.bitsPerPixel / 8; }
  uint8_t* data() { return buffer_.data(); }
  const std::vector<uint8_t>& bytes() const { return buffer_; }

  uint8_t* at(int32_t x, int32_t y) { return buffer_.data() + static_cast<size_t>(y) * view_.stride + x * bpp(); }
  const uint8_t* at(int32_t x, int32_t y) const {
    return buffer_.data() + static_cast<size_t>(y) * view_.stride + x * bpp();
  }
  // Channel c of the pixel: a byte for 8-bit-per-channel images, a 16-bit sample otherwise.
  int32_t get(int32_t x, int32_t y, int c = 0, bool wide = false) const {
    const uint8_t* p = at(x, y);
    if (!wide) return p[c];
    uint16_t v;
    std::memcpy(&v, p + 2 * c, 2);
    return v;
  }
  void set(int32_t x, int32_t y, int c, int32_t value, bool wide = false) {
    uint8_t* p = at(x, y);
    if (!wide) {
      p[c] = static_cast<uint8_t>(value);
      return;
    }
    const uint16_t v = static_cast<uint16_t>(value);
    std::memcpy(p + 2 * c, &v, 2);
  }

  void fillRandom(std::mt19937& rng, int32_t maxSample, bool wide) {
    std::uniform_int_distribution<int32_t> any(0, 255), sample(0, maxSample);
    for (auto& b : buffer_) b = static_cast<uint8_t>(any(rng));  // padding gets noise too
    const int channels = wide ? bpp() / 2 : bpp();
    for (int32_t y = 0; y < height(); ++y)
      for (int32_t x = 0; x < width(); ++x)
        for (int c = 0; c < channels; ++c) set(x, y, c, sample(rng), wide);
  }
  void fill(int32_t value, bool wide) {
    const int channels = wide ? bpp() / 2 : bpp();
    for (int32_t y = 0; y < height(); ++y)
      for (int32_t x = 0; x < width(); ++x)
        for (int c = 0; c < channels; ++c) set(x, y, c, value, wide);
  }

 private:
  std::vector<uint8_t> buffer_;
  ImageView view_;
};

// Colour (0 green, 1 blue, 2 red) of the raw sample at (x, y), written out from the Bayer mode table.
inline int RefColour(int mode, int x, int y) {
  static const int kTable[4][2][2] = {
      {{0, 1}, {2, 0}},  // mode 0: even rows G B, odd rows R G
      {{2, 0}, {0, 1}},  // mode 1: R G / G B
      {{1, 0}, {0, 2}},  // mode 2: B G / G R
      {{0, 2}, {1, 0}},  // mode 3: G R / B G
  };
  return kTable[mode][y & 1][x & 1];
}

// Reference demosaic of one pixel, the weights found by searching the cell; out-of-frame neighbours
// are moved four pixels inward. Frames must be at least 4 x 4.
inline void RefDemosaicPixel(const TestImage& raw, bool wide, int mode, int redGain, int blueGain,
                             int x, int y, int out[3]) {
  const int w = raw.width(), h = raw.height();
  const int limit = wide ? 4095 : 255;
  auto fold = [](int c, int n) { return c < 0 ? c + 4 : (c >= n ? c - 4 : c); };
  auto sample = [&](int sx, int sy) {
    const int v = raw.get(fold(sx, w), fold(sy, h), 0, wide);
    return std::min(v, wide ? 4095 : 255);
  };
  int greens = 0, greenSum = 0;
  int result[3] = {0, 0, 0};
  for (int cy = y - 1; cy <= y; ++cy) {
    for (int cx = x - 1; cx <= x; ++cx) {
      const int colour = RefColour(mode, cx, cy);
      if (colour == 0) {
        greenSum += sample(cx, cy);
        ++greens;
        continue;
      }
      // Partners lie two pixels from the cell sample, on the far side of the cell's centre.
      const int fx = cx == x ? cx - 2 : cx + 2;
      const int fy = cy == y ? cy - 2 : cy + 2;
      const int sum = 9 * sample(cx, cy) + 3 * sample(fx, cy) + 3 * sample(cx, fy) + sample(fx, fy);
      const int gain = colour == 1 ? blueGain : redGain;
      const int factor = static_cast<int>(gain * 1.28);
      result[colour] = std::min((sum * factor) >> 11, limit);
    }
  }
  out[0] = result[1];                          // blue
  out[1] = std::min(greenSum / 2, limit);      // green
  out[2] = result[2];                          // red
  (void)greens;
}

}  // namespace tovira::test
