#include "camera/StoredValue.h"

namespace tovira {

StoredRead ReadStoredValue(const RegistryKey& key, const char* name, StoredRange range, int32_t fallback,
                           int32_t* field, int* replaced) {
    if (!key) return StoredRead::Missing;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return StoredRead::Missing;
    int32_t value = 0;
    const bool isDword = type == REG_DWORD && size == 4 && key.readInt(name, &value);
    if (isDword && range.Accepts(value)) {
        *field = value;
        return StoredRead::Taken;
    }
    *field = fallback;
    if (replaced) ++*replaced;
    return StoredRead::Replaced;
}

}  // namespace tovira
