// The virtual camera's picture: a deterministic scene seen through the sensor's colour filter array
// (portable).
//
// The scene is defined on absolute sensor coordinates (the active array is columns 56..3895, rows
// 8..2755): a neutral ramp across the top, a grid of colour patches with a row of neutral greys, a
// uniform grey surround and a bright bar that moves with the frame number. The filter array is
// green/red on even sensor rows and blue/green on odd ones (even column first), so the window origin,
// skipping and mirroring change the colour phase of the read-out exactly as on the sensor. The light
// is warm: neutral surfaces give more red than blue. A few hot pixels sit at fixed sensor places and
// a mild fixed-pattern noise lies on everything.
//
// A frame-number strip is overlaid on the first output rows: 24 cells of 8 x 8 output pixels, cell k
// saturated when bit k of the frame number is set and black otherwise, so the number survives the
// library's processing.
#pragma once

#include "sim/SensorModel.h"

#include <cstdint>
#include <vector>

namespace tovira {

struct SceneStrip {
  static constexpr int kCells = 24;
  static constexpr int kCellSize = 8;
};

// Colour of the filter at an absolute sensor position: 0 green on a red row, 1 blue, 2 red, 3 green on
// a blue row (the order of the gain registers 0x3056, 0x3058, 0x305A, 0x305C).
int filterColourAt(int sensorRow, int sensorColumn);

// Linear radiance of one colour (0 green, 1 blue, 2 red) of the static scene, 0..1.
double sceneRadiance(int sensorRow, int sensorColumn, int colour);

class TestScene {
public:
  // 12-bit samples of one read-out, output row by output row (width x height). The static part is
  // rendered once per readout and kept; the moving bar and the frame-number strip are added per frame.
  const std::vector<std::uint16_t>& render(const SensorReadout& r, std::uint32_t frameNumber);

private:
  bool sameReadout(const SensorReadout& r) const;

  SensorReadout cachedFor_{};
  bool cached_ = false;
  std::vector<std::uint16_t> base_;
  std::vector<std::uint16_t> frame_;
  std::vector<int> columns_;
};

// Level of a sample: radiance x light colour x exposure (2748 lines is the reference) x gain (64 is
// unity), on the 12-bit scale, saturating at 4095.
std::uint16_t sampleLevel(double radiance, int colour, int exposureLines, int gainCode);

} // namespace tovira
