#include "sim/SensorModel.h"

#include <algorithm>

namespace tovira {

namespace {

// Registers whose meaning the model interprets; everything else is only stored.
struct PowerOn {
  std::uint16_t address, value;
};
constexpr PowerOn kPowerOn[] = {
    {0x0100, 0x0000}, // mirror state read-back (computed)
    {0x0104, 0x0000}, // grouped parameter hold
    {0x0202, 0x0010}, // coarse integration time, lines
    {0x0300, 0x0005}, {0x0302, 0x0001}, {0x0304, 0x0002}, {0x0306, 0x0028}, {0x0308, 0x000A},
    {0x030A, 0x0001},
    {0x0340, 0x0B4B}, // frame length
    {0x0342, 0x0F70}, // line length
    {0x0344, 0x0038}, {0x0346, 0x0008}, {0x0348, 0x0F37}, {0x034A, 0x0AC3},
    {0x034C, 0x0F00}, {0x034E, 0x0ABC},
    {0x0400, 0x0000}, {0x0404, 0x0010},
    {0x301A, 0x10D8}, // sensor control
    {0x3040, 0x0041}, // read mode
    {0x3056, 0x1040}, {0x3058, 0x1040}, {0x305A, 0x1040}, {0x305C, 0x1040}, {0x305E, 0x1040},
};

constexpr std::uint16_t kGainRegisters[4] = {0x3056, 0x3058, 0x305A, 0x305C};

int skipOf(unsigned oddIncrement) {
  // Odd increments 1, 3, 7 keep every, every second, every fourth pair of columns (rows).
  return oddIncrement <= 1 ? 1 : int((oddIncrement + 1) / 2);
}

} // namespace

int SensorReadout::sensorColumn(int j) const {
  const int offset = (j / 2) * 2 * skipX + (j & 1);
  return mirrorH ? lastColumn - offset : firstColumn + offset;
}

int SensorReadout::sensorRow(int i) const {
  const int offset = (i / 2) * 2 * skipY + (i & 1);
  return mirrorV ? lastRow - offset : firstRow + offset;
}

SensorModel::SensorModel() { reset(); }

void SensorModel::reset() {
  written_.clear();
  for (const PowerOn& r : kPowerOn) written_[r.address] = r.value;
  active_ = written_;
  hold_ = false;
}

void SensorModel::write(std::uint16_t address, std::uint16_t value) {
  if (address == 0x0100) return; // read-only here: reports the mirror state
  if (address == 0x0104) {
    written_[address] = value;
    const bool hold = (value & 1) != 0;
    if (hold_ && !hold) active_ = written_; // release: everything held takes effect together
    hold_ = hold;
    active_[address] = value;
    return;
  }
  written_[address] = value;
  // The global gain register writes all four colour gains, as on the sensor.
  if (address == 0x305E)
    for (std::uint16_t g : kGainRegisters) written_[g] = value;
  if (!hold_) {
    active_[address] = value;
    if (address == 0x305E)
      for (std::uint16_t g : kGainRegisters) active_[g] = value;
  }
}

std::uint16_t SensorModel::read(std::uint16_t address) const {
  if (address == 0x0100) {
    const std::uint16_t mode = latched(0x3040);
    return std::uint16_t(((mode >> 14) & 1) | (((mode >> 15) & 1) << 1));
  }
  auto it = written_.find(address);
  return it == written_.end() ? 0 : it->second;
}

std::uint16_t SensorModel::latched(std::uint16_t address) const {
  auto it = active_.find(address);
  return it == active_.end() ? 0 : it->second;
}

double SensorModel::pixelClockHz() const {
  const double preDiv = std::max<int>(1, latched(0x0304));
  const double mult = latched(0x0306);
  const double pixDiv = std::max<int>(1, latched(0x0300));
  const double sysDiv = std::max<int>(1, latched(0x0302));
  return kInputClockHz / preDiv * mult / (pixDiv * sysDiv);
}

SensorReadout SensorModel::readout() const {
  SensorReadout r;
  r.firstColumn = latched(0x0344);
  r.lastColumn = latched(0x0348);
  r.firstRow = latched(0x0346);
  r.lastRow = latched(0x034A);
  r.outputWidth = latched(0x034C);
  r.outputHeight = latched(0x034E);
  const std::uint16_t mode = latched(0x3040);
  r.skipX = skipOf(mode & 7u);
  r.skipY = skipOf((mode >> 6) & 7u);
  r.mirrorH = (mode & 0x4000) != 0;
  r.mirrorV = (mode & 0x8000) != 0;
  r.lineLength = latched(0x0342);
  r.frameLength = latched(0x0340);
  r.pixelClockHz = pixelClockHz();
  r.exposureLines = latched(0x0202);
  for (int c = 0; c < 4; ++c) r.gain[c] = latched(kGainRegisters[c]) & 0x7F;
  r.globalGain = latched(0x305E) & 0x7F;
  return r;
}

} // namespace tovira
