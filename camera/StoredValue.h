#pragma once
// Checked reads of the stored settings. A value is taken only when it is a 4-byte REG_DWORD inside the
// range its setter accepts; anything else (another type, a number the setter would refuse) is replaced
// by the setting's default and counted, so Initialize can note it once (error 12) instead of loading a
// value that makes every capture fail.

#include <cstdint>

#include "camera/RegistryKey.h"

namespace tovira {

struct StoredRange {
    int32_t low, high;
    int32_t also = -1;   // one more accepted value outside [low, high] (-1: none)
    int32_t also2 = -1;  // and another (-1: none)
    bool Accepts(int32_t v) const { return (v >= low && v <= high) || (also >= 0 && (v == also || v == also2)); }
};

enum class StoredRead { Missing, Taken, Replaced };

// Missing: *field unchanged. Taken: the stored value. Replaced: *field = fallback and ++*replaced.
StoredRead ReadStoredValue(const RegistryKey& key, const char* name, StoredRange range, int32_t fallback,
                           int32_t* field, int* replaced);

}  // namespace tovira
