#include "device/UnpackFrame.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    std::size_t j = 0;
#if defined(__SSE2__)
    // Eight positions at a time: each little-endian word is (bits 3..0 + junk) << 8 | bits 11..4.
    const __m128i lowByte = _mm_set1_epi16(0x00FF), lowNibble = _mm_set1_epi16(0x000F);
    for (; j + 8 <= width; j += 8) {
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * j));
      const __m128i high = _mm_slli_epi16(_mm_and_si128(w, lowByte), 4);
      const __m128i low = _mm_and_si128(_mm_srli_epi16(w, 8), lowNibble);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * j), _mm_or_si128(high, low));
    }
#endif
    for (; j < width; ++j) {
      // First byte: bits 11..4; low nibble of the second: bits 3..0; its high nibble is junk.
      const unsigned sample = (unsigned(s[2 * j]) << 4) | (s[2 * j + 1] & 0x0Fu);
      d[2 * j] = std::uint8_t(sample);
      d[2 * j + 1] = std::uint8_t(sample >> 8);
    }
  }
  return 0;
}

} // namespace tovira
