// What the device layer knows about the frame it handed out last: the sensor's frame counter, read from
// the leading lines of the transfer, when the transfer completed, and which stream it came from
// (portable).
#pragma once

#include <cstdint>

#include "device/FrameGeometry.h"

namespace tovira {

struct FrameStamp {
  std::uint32_t counter = 0;    // the sensor's frame counter
  std::int64_t arrival = 0;     // performance-counter ticks when the transfer completed
  unsigned generation = 0;      // advanced by every start of the stream; 0 for single-frame reads
  bool valid = false;           // a frame was handed out
  // What the sensor reports it took the frame with (exposure lines, global gain code, colour gain codes
  // green 1, blue, red, green 2); reported false when the transfer carries no such report.
  bool reported = false;
  int exposureLines = 0;
  int globalGain = 0;
  int gains[4] = {};
};

// The sensor writes its frame counter into the first four positions of the first leading line, least
// significant byte first; in 16-bit transfers the byte is the first of each position's two. A transfer
// without leading lines carries no counter (0).
inline std::uint32_t frameCounterOf(const std::uint8_t* transfer, const FrameGeometry& g, bool wide) {
  if (transfer == nullptr || g.firstLine <= 0 || g.linePitch < 4) return 0;
  const int step = wide ? 2 : 1;
  std::uint32_t counter = 0;
  for (int b = 0; b < 4; ++b) counter |= std::uint32_t(transfer[b * step]) << (8 * b);
  return counter;
}

// After the counter, the first leading line may report the frame's exposure and gains: exposure lines at
// positions 4..5, the global gain code at 6, the colour gain codes at 7..10 and 0x5E at 11.
inline void readFrameReport(const std::uint8_t* transfer, const FrameGeometry& g, bool wide, FrameStamp& stamp) {
  stamp.reported = false;
  if (transfer == nullptr || g.firstLine <= 0 || g.linePitch < 12) return;
  const int step = wide ? 2 : 1;
  const auto at = [&](int position) { return int(transfer[position * step]); };
  if (at(11) != 0x5E) return;
  stamp.exposureLines = at(4) | at(5) << 8;
  stamp.globalGain = at(6);
  for (int c = 0; c < 4; ++c) stamp.gains[c] = at(7 + c);
  stamp.reported = true;
}

// The stamp of a transfer: its counter, its report, when it arrived and from which stream.
inline FrameStamp frameStampOf(const std::uint8_t* transfer, const FrameGeometry& g, bool wide, std::int64_t arrival,
                               unsigned generation) {
  FrameStamp stamp{frameCounterOf(transfer, g, wide), arrival, generation, true};
  readFrameReport(transfer, g, wide, stamp);
  return stamp;
}

} // namespace tovira
