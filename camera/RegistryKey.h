#pragma once
// RegistryKey: one open registry key, closed when the holder goes. The settings code opens and closes
// its keys within each operation and never holds one between calls; no business code calls
// RegCloseKey itself.

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tovira {

// The library's settings key under HKEY_CURRENT_USER; capture-window presets, camera values and the
// dialog pages live below it.
inline constexpr const char* kSettingsKeyPath = "Software\\Brenik\\ToviraZ400KXSdk";

class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    ~RegistryKey() { reset(); }

    void reset() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

    // Opens an existing key for reading; an empty holder when it does not exist or cannot be opened.
    static RegistryKey openForReading(HKEY parent, const char* path) {
        HKEY key = nullptr;
        if (!parent || RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryKey();
        return RegistryKey(key);
    }
    // Creates the key or opens it when it exists: an empty class string, non-volatile, full access,
    // default security.
    static RegistryKey create(HKEY parent, const char* path) {
        HKEY key = nullptr;
        char emptyClass[1] = "";
        if (!parent || RegCreateKeyExA(parent, path, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr) != ERROR_SUCCESS)
            return RegistryKey();
        return RegistryKey(key);
    }

    RegistryKey openChild(const char* name) const { return openForReading(key_, name); }
    RegistryKey createChild(const char* name) const { return create(key_, name); }

    // Reads a 32-bit value into *field. Values are normally 4-byte REG_DWORDs; a value of another type
    // or size gives its first four bytes at most (a shorter one is zero-extended, an empty one reads
    // as 0), so nothing is ever written past the field. Returns false, leaving *field alone, when the
    // value does not exist or cannot be read.
    bool readInt(const char* name, int32_t* field) const {
        if (!key_ || !field) return false;
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        std::vector<BYTE> data(size > 4 ? size : 4, 0);
        DWORD got = static_cast<DWORD>(data.size());
        if (RegQueryValueExA(key_, name, nullptr, &type, data.data(), &got) != ERROR_SUCCESS) return false;
        BYTE bytes[4] = {};
        std::memcpy(bytes, data.data(), got < 4 ? got : 4);
        uint32_t value = 0;
        std::memcpy(&value, bytes, 4);  // little-endian, as REG_DWORD
        *field = static_cast<int32_t>(value);
        return true;
    }
    bool readInt(const char* name, uint32_t* field) const {
        int32_t value = 0;
        if (!readInt(name, &value)) return false;
        *field = static_cast<uint32_t>(value);
        return true;
    }

    // Writes a REG_DWORD; false when the write fails.
    bool writeInt(const char* name, int32_t value) const {
        if (!key_) return false;
        const DWORD data = static_cast<DWORD>(value);
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) ==
               ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

// The settings key itself, for reading or created on demand.
inline RegistryKey OpenSettingsKey() { return RegistryKey::openForReading(HKEY_CURRENT_USER, kSettingsKeyPath); }
inline RegistryKey CreateSettingsKey() { return RegistryKey::create(HKEY_CURRENT_USER, kSettingsKeyPath); }

}  // namespace tovira
