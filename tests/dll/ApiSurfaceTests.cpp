// The DLL as applications get it: its export and import tables read from the file, every name resolved
// with GetProcAddress, and the failure values of every export for a handle that was never issued.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "DllFile.h"
#include "ExportNames.h"
#include "ToviraSdk_Z400KX.h"

namespace {

constexpr size_t kExportCount = sizeof(kExportNames) / sizeof(kExportNames[0]);

constexpr size_t kExtensionCount = sizeof(kExtensionExportNames) / sizeof(kExtensionExportNames[0]);
constexpr size_t kLaterCount = sizeof(kLaterExtensionExportNames) / sizeof(kLaterExtensionExportNames[0]);

TEST(ExportTable, HasTheNamesWithOrdinalsInByteOrder) {
    ASSERT_EQ(kExportCount, 118u);
    const PeTables tables = ReadPeTables(DllPath());
    ASSERT_TRUE(tables.ok) << DllPath();
    // The 118 names keep ordinals 1..118; the extension's first ToviraX_ names follow from 119 in byte
    // order, those added later after them in the order they came; nothing else.
    ASSERT_EQ(tables.exports.size(), 118u + kExtensionCount + kLaterCount);
    std::map<std::string, uint32_t> ordinals;
    for (const PeExport& e : tables.exports) ordinals[e.name] = e.ordinal;
    for (size_t i = 0; i < kExportCount; ++i) {
        ASSERT_TRUE(ordinals.count(kExportNames[i])) << kExportNames[i];
        EXPECT_EQ(ordinals[kExportNames[i]], i + 1) << kExportNames[i];
        if (i > 0) EXPECT_LT(std::strcmp(kExportNames[i - 1], kExportNames[i]), 0);
    }
    for (size_t i = 0; i < kExtensionCount; ++i) {
        const char* name = kExtensionExportNames[i];
        ASSERT_TRUE(ordinals.count(name)) << name;
        EXPECT_EQ(ordinals[name], 118 + i + 1) << name;
        EXPECT_EQ(std::strncmp(name, "ToviraX_", 8), 0) << name;
        if (i > 0) EXPECT_LT(std::strcmp(kExtensionExportNames[i - 1], name), 0);
    }
    for (size_t i = 0; i < kLaterCount; ++i) {
        const char* name = kLaterExtensionExportNames[i];
        ASSERT_TRUE(ordinals.count(name)) << name;
        EXPECT_EQ(ordinals[name], 118 + kExtensionCount + i + 1) << name;
        EXPECT_EQ(std::strncmp(name, "ToviraX_", 8), 0) << name;
    }
}

TEST(ExportTable, AliasesShareOneBody) {
    const PeTables tables = ReadPeTables(DllPath());
    ASSERT_TRUE(tables.ok);
    std::map<std::string, uint32_t> rva;
    for (const PeExport& e : tables.exports) rva[e.name] = e.rva;
    EXPECT_EQ(rva["Tovira_Fps"], rva["Tovira_SetCrossbar"]);
    EXPECT_EQ(rva["Tovira_Fps"], rva["Tovira_SetSamplingRate"]);
    EXPECT_EQ(rva["Tovira_Fps"], rva["Tovira_Trigger"]);
    EXPECT_EQ(rva["Tovira_GetSamplingRate"], rva["Tovira_GetVideoFormat"]);
    EXPECT_NE(rva["Tovira_Fps"], rva["Tovira_GetVideoFormat"]);
    // Every other name has a body of its own.
    std::map<uint32_t, int> uses;
    for (const auto& [name, address] : rva) uses[address]++;
    int shared = 0;
    for (const auto& [address, count] : uses)
        if (count > 1) shared += count;
    EXPECT_EQ(shared, 6);
}

TEST(ExportTable, ImportsOnlyWindowsSystemLibraries) {
    const PeTables tables = ReadPeTables(DllPath());
    ASSERT_TRUE(tables.ok);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                                          "comctl32.dll", "comdlg32.dll", "winmm.dll", "msvcrt.dll",
                                          "shell32.dll", "ole32.dll", "oleaut32.dll", "winspool.drv"};
    ASSERT_FALSE(tables.imports.empty());
    for (std::string name : tables.imports) {
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
        const bool apiSet = name.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(system.count(name) || apiSet) << "imports " << name;
    }
}

class LoadedDll : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryA(DllPath().c_str());
        ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    FARPROC Get(const char* name) { return GetProcAddress(module, name); }
    HMODULE module = nullptr;
};

TEST_F(LoadedDll, ResolvesEveryName) {
    for (const char* name : kExportNames) EXPECT_NE(Get(name), nullptr) << name;
    for (const char* name : kExtensionExportNames) EXPECT_NE(Get(name), nullptr) << name;
    using Version = int (*)();
    auto version = reinterpret_cast<Version>(Get("Tovira_GetDllVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 2426132);
}

// On x64 every argument travels in a register or a stack slot that the caller owns, so calling each
// export with the handle and six zero words is a valid call of any of them.
using AnyExport = int (*)(int, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);

int ExpectedFailureValue(const std::string& name) {
    if (name == "Tovira_GetColorMode" || name == "Tovira_GetSubSample" || name == "Tovira_GetWaitTime") return -1;
    return 0;
}

// Pushes a recognisable sequence of codes (11 from the unsupported family, 9 from a bad colour mode).
void PushMarkers(int handle) {
    Tovira_Trigger(handle);
    Tovira_SetColorMode(handle, 12);
    Tovira_Fps(handle, 0);
}

TEST_F(LoadedDll, UnregisteredHandleGivesFailureValueAndRecordsNothing) {
    const int live = Tovira_Initialize(nullptr);
    ASSERT_NE(live, 0);
    for (int i = 0; i < 20; ++i) Tovira_GetLastError(live);  // whatever initialisation recorded
    PushMarkers(live);

    const int stranger = live + 7919;
    for (const char* name : kExportNames) {
        const std::string n = name;
        if (n == "Tovira_Initialize" || n == "Tovira_GetDllVersion") continue;
        auto call = reinterpret_cast<AnyExport>(Get(name));
        ASSERT_NE(call, nullptr) << name;
        EXPECT_EQ(call(stranger, 0, 0, 0, 0, 0, 0), ExpectedFailureValue(n)) << name;
    }
    // The extension's calls that take a handle fail alike (ToviraX_WaitFrame with -1).
    for (const char* name : kExtensionExportNames) {
        const std::string n = name;
        if (n.rfind("ToviraX_GetErrorText", 0) == 0) continue;  // no handle
        auto call = reinterpret_cast<AnyExport>(Get(name));
        ASSERT_NE(call, nullptr) << name;
        EXPECT_EQ(call(stranger, 0, 0, 0, 0, 0, 0), n == "ToviraX_WaitFrame" ? -1 : 0) << name;
    }
    for (const char* name : kLaterExtensionExportNames) {
        if (std::string(name) == "ToviraX_InitializeEx") continue;  // no handle
        auto call = reinterpret_cast<AnyExport>(Get(name));
        ASSERT_NE(call, nullptr) << name;
        EXPECT_EQ(call(stranger, 0, 0, 0, 0, 0, 0), 0) << name;
    }
    // The live instance's history is exactly what it was.
    EXPECT_EQ(Tovira_GetLastError(live), TOVIRA_ERR_UNSUPPORTED);
    EXPECT_EQ(Tovira_GetLastError(live), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(Tovira_GetLastError(live), TOVIRA_ERR_UNSUPPORTED);
    EXPECT_EQ(Tovira_GetLastError(live), 0);
    EXPECT_EQ(Tovira_Release(live), 1);

    // A released handle is unknown afterwards.
    EXPECT_EQ(Tovira_Release(live), 0);
    EXPECT_EQ(Tovira_GetColorMode(live), -1);
    EXPECT_EQ(Tovira_GetLastError(live), 0);
}

TEST(SharedBodies, UnsupportedFamilyAndZeroStores) {
    const int h = Tovira_Initialize(nullptr);
    ASSERT_NE(h, 0);
    for (int i = 0; i < 20; ++i) Tovira_GetLastError(h);
    EXPECT_EQ(Tovira_Fps(h, 30), 0);
    EXPECT_EQ(Tovira_SetCrossbar(h, 1), 0);
    EXPECT_EQ(Tovira_SetSamplingRate(h, 5), 0);
    EXPECT_EQ(Tovira_Trigger(h), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Tovira_GetLastError(h), TOVIRA_ERR_UNSUPPORTED);
    int format = 77, rate = 88;
    EXPECT_EQ(Tovira_GetVideoFormat(h, &format), 0);
    EXPECT_EQ(Tovira_GetSamplingRate(h, &rate), 0);
    EXPECT_EQ(format, 0);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(Tovira_GetVideoFormat(h, nullptr), 0);
    EXPECT_EQ(Tovira_GetLastError(h), 0);  // the zero stores record nothing
    EXPECT_EQ(Tovira_GetStatus(h, &format), 0);
    EXPECT_EQ(Tovira_Release(h), 1);
}

// A window with a message loop on the test's thread receives the posted error codes.
class NotificationWindow : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ToviraTestNotify";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "ToviraTestNotify", "notify", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }

    // Codes of the WM_TOVIRA_ERROR messages waiting for this thread, in posting order.
    std::vector<LPARAM> Drain(HWND target) {
        std::vector<LPARAM> codes;
        MSG msg;
        while (PeekMessageA(&msg, target, WM_TOVIRA_ERROR, WM_TOVIRA_ERROR, PM_REMOVE)) {
            EXPECT_EQ(msg.wParam, 0u);
            codes.push_back(msg.lParam);
        }
        return codes;
    }
    HWND window = nullptr;
};

TEST_F(NotificationWindow, ErrorsArriveAsPostedMessages) {
    const int h = Tovira_Initialize(window);
    ASSERT_NE(h, 0);
    Drain(window);
    Tovira_Trigger(h);
    Tovira_SetColorMode(h, 12);
    EXPECT_EQ(Drain(window), (std::vector<LPARAM>{11, 9}));
    EXPECT_EQ(Tovira_Release(h), 1);
}

TEST_F(NotificationWindow, NothingIsPostedWithoutAWindow) {
    const int h = Tovira_Initialize(nullptr);
    ASSERT_NE(h, 0);
    Tovira_Trigger(h);
    Tovira_SetColorMode(h, 12);
    // A post to a null window would land in this thread's queue.
    EXPECT_TRUE(Drain(nullptr).empty());
    EXPECT_EQ(Tovira_GetLastError(h), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(Tovira_Release(h), 1);
}

}  // namespace
