#include "pipeline/Measure.h"

#include <algorithm>

#include "pipeline/Demosaic.h"
#include "pipeline/GrayProcessing.h"
#include "pipeline/PixelAccess.h"

namespace tovira {
namespace {

template <class Sample, class Level>
int64_t WindowMean(const uint8_t* source, const KernelRect& rect, int32_t sourceStride, Level level) {
  const int64_t count = static_cast<int64_t>(rect.width()) * rect.height();
  if (count <= 0) return 0;
  uint64_t sum = 0;
  for (int32_t row = rect.top; row < rect.bottom; ++row) {
    const uint8_t* s = RowAt(source, row, sourceStride) + static_cast<intptr_t>(rect.left) * sizeof(Sample);
    for (int32_t j = 0; j < rect.width(); ++j) {
      if constexpr (sizeof(Sample) == 1) sum += level(s[j]); else sum += level(Load16(s + 2 * j));
    }
  }
  return static_cast<int64_t>(sum / static_cast<uint64_t>(count));
}

template <class Sample>
BayerClassSums SumBayerClasses(const uint8_t* frame, int32_t stride, const KernelRect& rect,
                               int32_t bayerMode) {
  BayerClassSums sums;
  const int32_t mode = bayerMode & 3;
  for (int32_t row = rect.top; row < rect.bottom; ++row) {
    const uint8_t* s = RowAt(frame, row, stride);
    // Two colours alternate along a row: sum the even and the odd columns apart.
    uint64_t part[2] = {0, 0}, count[2] = {0, 0};
    for (int32_t c = rect.left; c < rect.right; ++c) {
      uint32_t v;
      if constexpr (sizeof(Sample) == 1) v = s[c]; else v = Load16(s + 2 * c);
      part[c & 1] += v;
      ++count[c & 1];
    }
    for (int parity = 0; parity < 2; ++parity) {
      const int colour = BayerColourAt(mode, parity, row);
      sums.sum[colour] += part[parity];
      sums.count[colour] += count[parity];
    }
  }
  return sums;
}

template <class Sample>
int64_t MeasureWhiteBalance(const uint8_t* source, const KernelRect& rect, int32_t sourceStride, void* p) {
  if (p == nullptr) return 0;
  auto& record = *static_cast<WhiteBalanceRecord*>(p);
  WhiteBalanceGains(SumBayerClasses<Sample>(source, sourceStride, rect, record.bayerMode), record);
  return 1;
}

}  // namespace

TOVIRA_PIXEL_KERNEL(WindowMean8) {
  return WindowMean<uint8_t>(source, rect, sourceStride, [](uint32_t v) { return v; });
}

TOVIRA_PIXEL_KERNEL(WindowMean16) {
  // Bits 4..11 of the 12-bit samples, the 8-bit scale the exposure thresholds are made for.
  return WindowMean<uint16_t>(source, rect, sourceStride, [](uint32_t v) { return (v >> 4) & 255; });
}

BayerClassSums SumBayerClasses8(const uint8_t* frame, int32_t stride, const KernelRect& rect,
                                int32_t bayerMode) {
  return SumBayerClasses<uint8_t>(frame, stride, rect, bayerMode);
}

BayerClassSums SumBayerClasses16(const uint8_t* frame, int32_t stride, const KernelRect& rect,
                                 int32_t bayerMode) {
  return SumBayerClasses<uint16_t>(frame, stride, rect, bayerMode);
}

bool WhiteBalanceGains(const BayerClassSums& sums, WhiteBalanceRecord& record) {
  double mean[3];
  for (int c = 0; c < 3; ++c) {
    if (sums.count[c] == 0 || sums.sum[c] == 0) return false;  // black or missing class: keep gains
    mean[c] = static_cast<double>(sums.sum[c]) / static_cast<double>(sums.count[c]);
  }
  const double g = mean[kBayerGreen], b = mean[kBayerBlue], r = mean[kBayerRed];
  const double s = g + b + r;
  const double k = s / g / 3.0;
  auto gain = [&](double m) {
    const double v = s / m / 3.0 * 100.0 / k;
    return v >= 400.0 ? 400 : static_cast<int32_t>(v);
  };
  record.blueGain = gain(b);
  record.greenGain = 100;
  record.redGain = gain(r);
  return true;
}

TOVIRA_PIXEL_KERNEL(MeasureWhiteBalance8) {
  return MeasureWhiteBalance<uint8_t>(source, rect, sourceStride, p);
}

TOVIRA_PIXEL_KERNEL(MeasureWhiteBalance16) {
  return MeasureWhiteBalance<uint16_t>(source, rect, sourceStride, p);
}

TOVIRA_PIXEL_KERNEL(MeasureGrayGains) {
  if (p == nullptr || (sourceBpp != 1 && sourceBpp != 2)) return 0;
  auto& record = *static_cast<GrayGainRecord*>(p);
  uint32_t largest = 255;
  if (sourceBpp == 2) {
    switch (record.significantBits) {
      case 10: largest = 1023; break;
      case 12: largest = 4095; break;
      case 14: largest = 16383; break;
      default: largest = 65535; break;
    }
  }
  const int32_t mode = record.bayerMode & 3;
  uint64_t sum[8] = {}, count[8] = {};
  for (int32_t row = rect.top; row < rect.bottom; ++row) {
    const uint8_t* s = RowAt(source, row, sourceStride);
    const int classes[2] = {GrayValueIndexAt(mode, 0, row), GrayValueIndexAt(mode, 1, row)};
    for (int32_t c = rect.left; c < rect.right; ++c) {
      const uint32_t v = sourceBpp == 1 ? s[c] : Load16(s + 2 * c);
      if (v == 0 || v == largest) continue;  // saturated samples say nothing; black adds nothing
      sum[classes[c & 1]] += v;
      ++count[classes[c & 1]];
    }
  }
  double mean[8], brightest = 0;
  for (int i = 0; i < 8; ++i) {
    if (count[i] == 0) return 1;
    mean[i] = static_cast<double>(sum[i]) / static_cast<double>(count[i]);
    brightest = std::max(brightest, mean[i]);
  }
  for (int i = 0; i < 8; ++i) record.values[i] = static_cast<int32_t>(brightest / mean[i] * 128.0);
  return 1;
}

int32_t AutoIrisFactorPercent(const int32_t means[5]) {
  int32_t f = 100;
  for (int i = 0; i < 5; ++i) {
    const int32_t m = means[i];
    if (m > 200) f -= 15;
    else if (m > 160) f -= 10;
    else if (m >= 100) f += 0;
    else if (m >= 50) f += 5;
    else f += 10;
  }
  return f;
}

int32_t AutoIrisGain(int32_t currentGain, int32_t factorPercent) {
  return static_cast<int32_t>(Clamp<int64_t>(int64_t{currentGain} * factorPercent / 100, 0, 127));
}

int32_t AutoIrisExposure(int32_t currentLines, int32_t factorPercent) {
  return static_cast<int32_t>(Clamp<int64_t>(int64_t{currentLines} * factorPercent / 100, 1, 8191));
}

void AutoIrisWindows(int32_t width, int32_t height, KernelRect windows[5]) {
  const double w = width, h = height;
  auto window = [&](double l, double t, double r, double b) {
    return KernelRect{static_cast<int32_t>(l * w), static_cast<int32_t>(t * h),
                      static_cast<int32_t>(r * w), static_cast<int32_t>(b * h)};
  };
  windows[0] = window(0.1, 0.1, 0.2, 0.2);
  windows[1] = window(0.1, 0.8, 0.2, 0.9);
  windows[2] = window(0.45, 0.45, 0.55, 0.55);
  windows[3] = window(0.8, 0.1, 0.9, 0.2);
  windows[4] = window(0.8, 0.8, 0.9, 0.9);
}

}  // namespace tovira
