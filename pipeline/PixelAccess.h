// Small helpers shared by the kernel sources: unaligned little-endian sample access and row pointers.
#pragma once

#include <cstdint>
#include <cstring>

namespace tovira {

inline uint16_t Load16(const uint8_t* at) {
  uint16_t v;
  std::memcpy(&v, at, 2);
  return v;
}
inline void Store16(uint8_t* at, uint16_t v) { std::memcpy(at, &v, 2); }

inline uint8_t* RowAt(uint8_t* base, int32_t row, int32_t stride) {
  return base + static_cast<intptr_t>(row) * stride;
}
inline const uint8_t* RowAt(const uint8_t* base, int32_t row, int32_t stride) {
  return base + static_cast<intptr_t>(row) * stride;
}

template <class T>
inline T Clamp(T v, T lo, T hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// Reads relaxed, once, a parameter that another thread may write at any time.
inline int32_t ReadParameter(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
inline void WriteParameter(int32_t& field, int32_t value) {
  __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}

}  // namespace tovira
