#include "device/UnpackFrame.h"

#include <cstring>

namespace tovira {

std::size_t unpackedFrameBytes(const FrameGeometry& g, bool wide) {
  if (g.activeWidth <= 0 || g.activeLines <= 0) return 0;
  return std::size_t(g.activeWidth) * std::size_t(g.activeLines) * (wide ? 2 : 1);
}

int UnpackFrame(void* destination, const void* source, const FrameGeometry& g, bool wide) {
  const auto* src = static_cast<const std::uint8_t*>(source);
  const std::size_t pitch = std::size_t(g.linePitch);
  const std::size_t width = std::size_t(g.activeWidth);
  if (!wide) {
    auto* dst = static_cast<std::uint8_t*>(destination);
    for (int i = 0; i < g.activeLines; ++i)
      std::memcpy(dst + std::size_t(i) * width, src + (std::size_t(g.firstLine + i) * pitch + g.firstColumn), width);
    return 0;
  }
  auto* dst = static_cast<std::uint8_t*>(destination);
  for (int i = 0; i < g.activeLines; ++i) {
    const std::uint8_t* s = src + 2 * (std::size_t(g.firstLine + i) * pitch + g.firstColumn);
    std::uint8_t* d = dst + 2 * std::size_t(i) * width;
    for (std::size_t j = 0; j < width; ++j) {
      // First byte: bits 11..4; low nibble of the second: bits 3..0; its high nibble is junk.
      const unsigned sample = (unsigned(s[2 * j]) << 4) | (s[2 * j + 1] & 0x0Fu);
      d[2 * j] = std::uint8_t(sample);
      d[2 * j + 1] = std::uint8_t(sample >> 8);
    }
  }
  return 0;
}

} // namespace tovira
