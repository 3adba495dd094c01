// Geometry of a frame transfer as the camera sends it (portable: used by the device object, the
// unpacking and the virtual camera).
//
// A frame transfer carries `firstLine` leading lines and `activeLines` image lines, each `linePitch`
// pixel positions long with the image at positions firstColumn .. firstColumn + activeWidth - 1, then
// filler up to `transferLength` positions (the line total rounded up to a multiple of 1024). A position
// is one byte in 8-bit transfer mode and two bytes in 16-bit mode.
#pragma once

#include <cstdint>

namespace tovira {

struct FrameGeometry {
  int linePitch = 0;     // P: positions per line, blanking included
  int firstColumn = 0;   // X0
  int activeWidth = 0;   // W
  int totalLines = 0;    // T: frame length in lines (does not enter the transfer)
  int firstLine = 0;     // Y0: leading lines before the first image line
  int activeLines = 0;   // H
  int ringCount = 0;     // N
  std::uint32_t transferLength = 0; // U, pixel positions per frame transfer
};

// (Y0 + H) x P rounded up to the next multiple of 1024.
constexpr std::uint32_t transferLengthFor(int linePitch, int firstLine, int activeLines) {
  const std::uint64_t positions = std::uint64_t(firstLine + activeLines) * std::uint64_t(linePitch);
  return std::uint32_t((positions + 1023) / 1024 * 1024);
}

} // namespace tovira
