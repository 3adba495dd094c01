// Shared by the black-box camera tests: a handle from Tovira_Initialize on a settings key that starts
// from a first run, released at the end of the test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "ToviraSdk_Z400KX.h"

inline constexpr const char* kToviraSettingsKey = "Software\\Brenik\\ToviraZ400KXSdk";

inline void DeleteToviraSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, kToviraSettingsKey); }

// A REG_DWORD below the settings key ("" for the key itself); false when it cannot be written.
inline bool PutToviraSetting(const char* subKey, const char* name, DWORD value) {
    char path[256];
    wsprintfA(path, *subKey ? "%s\\%s" : "%s", kToviraSettingsKey, subKey);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// A REG_DWORD below the settings key, or -12345 when it is missing.
inline int GetToviraSetting(const char* subKey, const char* name) {
    char path[256];
    wsprintfA(path, *subKey ? "%s\\%s" : "%s", kToviraSettingsKey, subKey);
    DWORD value = 0, size = 4, type = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, path, name, RRF_RT_REG_DWORD, &type, &value, &size) != ERROR_SUCCESS)
        return -12345;
    return static_cast<int>(value);
}

inline void PutToviraPreset(int number, int th, int tv, int eh, int ev, int ehs, int evs) {
    char name[16];
    wsprintfA(name, "Size_%02d", number);
    const char* names[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
    const int values[7] = {th, tv, eh, ev, ehs, evs, 10};
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(PutToviraSetting(name, names[i], static_cast<DWORD>(values[i])));
}

// Every code in the handle's history, newest first (pops them all).
inline std::vector<int> PopToviraErrors(int handle) {
    std::vector<int> codes;
    for (int i = 0; i < 20; ++i) codes.push_back(Tovira_GetLastError(handle));
    while (!codes.empty() && codes.back() == 0) codes.pop_back();
    return codes;
}

class ToviraHandleTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteToviraSettings(); }
    void TearDown() override {
        if (handle) Tovira_Release(handle);
        DeleteToviraSettings();
    }
    // Releases the current handle (if any) and initialises a new one.
    int initialize() {
        if (handle) Tovira_Release(handle);
        handle = Tovira_Initialize(nullptr);
        return handle;
    }
    void release() {
        if (handle) Tovira_Release(handle);
        handle = 0;
    }
    int handle = 0;
};
