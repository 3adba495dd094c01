// The image sensor of the virtual camera: a 16-bit register file with power-on values, and what the
// registers mean for the picture it reads out (portable).
//
// Grouped parameter hold (0x0104 = 1) defers window, timing and read-mode changes to the release, as
// on the sensor: reads return what was written, frames use the values latched at the last release.
#pragma once

#include <cstdint>
#include <map>

namespace tovira {

// The readout the sensor would do with its latched registers.
struct SensorReadout {
  int firstColumn = 0, lastColumn = 0; // sensor columns (0x0344, 0x0348)
  int firstRow = 0, lastRow = 0;       // sensor rows (0x0346, 0x034A)
  int outputWidth = 0, outputHeight = 0; // 0x034C, 0x034E
  int skipX = 1, skipY = 1;            // from the read mode's odd increments (1, 2, 4)
  bool mirrorH = false, mirrorV = false;
  int lineLength = 0, frameLength = 0; // pixel clocks per line, lines per frame
  double pixelClockHz = 0;
  int exposureLines = 0;
  int gain[4] = {};                    // gain codes (64 = unity): green 1, blue, red, green 2
  int globalGain = 0;                  // the global gain code (0x305E), which also set the four above

  // Sensor column of output column j, sensor row of output row i: pairs of columns are kept so the
  // colour phase survives skipping; mirroring reads from the last column or row backwards.
  int sensorColumn(int j) const;
  int sensorRow(int i) const;
};

class SensorModel {
public:
  static constexpr double kInputClockHz = 24e6;

  SensorModel();

  void write(std::uint16_t address, std::uint16_t value);
  std::uint16_t read(std::uint16_t address) const;
  // Power-on state.
  void reset();

  // What the latched registers describe.
  SensorReadout readout() const;
  // Pixel clock from the PLL and divider registers: input / pre-divider x multiplier / (vt pixel
  // divider x vt system divider). The initial table gives 48 MHz, half clock 24 MHz.
  double pixelClockHz() const;
  bool groupedHold() const { return hold_; }

private:
  std::uint16_t latched(std::uint16_t address) const;

  std::map<std::uint16_t, std::uint16_t> written_; // what reads return
  std::map<std::uint16_t, std::uint16_t> active_;  // what the readout uses
  bool hold_ = false;
};

} // namespace tovira
