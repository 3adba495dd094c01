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

} // namespace tovira
