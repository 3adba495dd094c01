#pragma once
// Helpers for black-box tests: where the DLL under test is, and a small reader of its PE tables.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The DLL beside the test program, as an application ships it.
inline std::string DllPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1) + "ToviraSdk_Z400KX.dll";
}

struct PeExport {
    std::string name;
    uint32_t ordinal;
    uint32_t rva;
};

struct PeTables {
    std::vector<PeExport> exports;
    std::vector<std::string> imports;  // imported DLL names
    bool ok = false;
};

PeTables ReadPeTables(const std::string& path);
