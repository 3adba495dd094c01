// Saving through the DLL: every failure records its reason, and wide names are used exactly as given
// (no best-fit conversion to the ANSI code page, no lookalike separators).

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "AviCheck.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

std::wstring NewFolder(const wchar_t* leaf) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tovira_save_" + std::to_wstring(GetCurrentProcessId()) + L"_" + leaf;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// The names of the files in `folder`, as the file system holds them.
std::vector<std::wstring> FileNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveFolder(const std::wstring& folder) {
    for (const std::wstring& name : FileNames(folder)) DeleteFileW((folder + L"\\" + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

void WriteMarker(const std::wstring& name) {
    std::FILE* f = _wfopen(name.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fputs("marker", f);
    std::fclose(f);
}

uint64_t SizeOf(const std::wstring& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class SaveFiles : public ::testing::Test {
protected:
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    // Pops the history and the posted codes: both must say the same.
    std::vector<int> recorded() {
        std::vector<int> codes;
        for (int code; (code = Tovira_GetLastError(camera)) != 0;) codes.insert(codes.begin(), code);
        return codes;
    }
    MessageSink sink;
    int camera = 0;
};

TEST_F(SaveFiles, EveryFailureRecordsAndPostsItsReason) {
    camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    const std::wstring folder = NewFolder(L"errors");
    const std::wstring good = folder + L"\\good.bmp";
    sink.pumpFor(20);
    recorded();
    sink.errors.clear();

    // No frame yet: 1.
    EXPECT_EQ(Tovira_SaveImageW(camera, good.c_str(), 0), 0);
    EXPECT_EQ(Tovira_SaveImage(camera, "x.bmp", 0), 0);
    EXPECT_EQ(recorded(), (std::vector<int>{1, 1}));

    ASSERT_EQ(Tovira_SnapShot(camera, nullptr, 0, 1), 1);
    recorded();
    // Bad arguments: 9.
    EXPECT_EQ(Tovira_SaveImageW(camera, good.c_str(), 7), 0);
    EXPECT_EQ(Tovira_SaveImageW(camera, good.c_str(), -1), 0);
    EXPECT_EQ(Tovira_SaveImageW(camera, nullptr, 0), 0);
    EXPECT_EQ(Tovira_SaveImage(camera, "", 0), 0);
    EXPECT_EQ(recorded(), (std::vector<int>{9, 9, 9, 9}));
    // The file system refuses: 12 for a missing folder and for a name it does not take.
    EXPECT_EQ(Tovira_SaveImageW(camera, (folder + L"\\no such folder\\x.bmp").c_str(), 0), 0);
    EXPECT_EQ(Tovira_SaveImageW(camera, (folder + L"\\bad<name>.png").c_str(), 5), 0);
    EXPECT_EQ(Tovira_SaveImage(camera, "Z:\\no such folder\\x.tif", 6), 0);
    EXPECT_EQ(recorded(), (std::vector<int>{12, 12, 12}));
    EXPECT_TRUE(FileNames(folder).empty());
    // A save that works records nothing.
    EXPECT_EQ(Tovira_SaveImageW(camera, good.c_str(), 0), 1);
    EXPECT_TRUE(recorded().empty());
    sink.pumpFor(50);
    EXPECT_EQ(sink.errors, (std::vector<int>{1, 1, 9, 9, 9, 9, 12, 12, 12}));
    // Record: a missing folder is 12, a null name 9.
    EXPECT_EQ(Tovira_RecordW(camera, (folder + L"\\no such folder\\x.avi").c_str(), 100, 0), 0);
    EXPECT_EQ(Tovira_RecordW(camera, nullptr, 100, 0), 0);
    EXPECT_EQ(recorded(), (std::vector<int>{12, 9}));
    RemoveFolder(folder);
}

TEST_F(SaveFiles, AnExistingFileIsReplacedCompletely) {
    camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    ASSERT_EQ(Tovira_SnapShot(camera, nullptr, 0, 1), 1);
    const std::wstring folder = NewFolder(L"replace");
    const std::wstring name = folder + L"\\picture.raw";
    std::FILE* f = _wfopen(name.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::vector<char> longer(100000, 'o');
    std::fwrite(longer.data(), 1, longer.size(), f);
    std::fclose(f);
    for (int type = 0; type <= 6; ++type) {
        EXPECT_EQ(Tovira_SaveImageW(camera, name.c_str(), type), 1) << type;
        EXPECT_EQ(FileNames(folder), std::vector<std::wstring>{L"picture.raw"}) << type;
    }
    EXPECT_EQ(Tovira_SaveImageW(camera, name.c_str(), 1), 1);
    EXPECT_EQ(SizeOf(name), 192u * 48);
    RemoveFolder(folder);
}

TEST_F(SaveFiles, WideNamesAreUsedExactlyAsGiven) {
    camera = OpenCamera(sink.window(), 64, 48);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 24), 1);
    ASSERT_EQ(Tovira_SnapShot(camera, nullptr, 0, 1), 1);
    const std::wstring folder = NewFolder(L"wide");
    // Files a best-fit conversion would hit instead.
    for (const wchar_t* neighbour : {L"A.bmp", L"Lodz.bmp", L"ABC.bmp", L"escape.bmp"})
        WriteMarker(folder + L"\\" + neighbour);
    const std::wstring inner = folder + L"\\inner";
    CreateDirectoryW(inner.c_str(), nullptr);

    const std::vector<std::wstring> names = {
        L"\u5199\u771F.bmp",                 // Japanese
        L"\u0424\u043E\u0442\u043E.bmp",     // Cyrillic
        L"\U0001F600.bmp",                   // emoji (a surrogate pair)
        L"\u0100.bmp",                       // A with macron, next to A.bmp
        L"\u0141odz.bmp",                    // L with stroke, next to Lodz.bmp
        L"\uFF21\uFF22\uFF23.bmp",           // fullwidth letters, next to ABC.bmp
    };
    for (const std::wstring& name : names)
        EXPECT_EQ(Tovira_SaveImageW(camera, (folder + L"\\" + name).c_str(), 0), 1) << Tovira_GetLastError(camera);
    // Separator lookalikes stay part of the file name, inside inner\.
    const std::wstring fullwidthBackslash = L"..\uFF3Cescape.bmp", divisionSlash = L"..\u2215escape.bmp";
    EXPECT_EQ(Tovira_SaveImageW(camera, (inner + L"\\" + fullwidthBackslash).c_str(), 0), 1);
    EXPECT_EQ(Tovira_SaveImageW(camera, (inner + L"\\" + divisionSlash).c_str(), 6), 1);

    std::vector<std::wstring> expected = names;
    for (const wchar_t* neighbour : {L"A.bmp", L"Lodz.bmp", L"ABC.bmp", L"escape.bmp"}) expected.push_back(neighbour);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FileNames(folder), expected);
    std::vector<std::wstring> innerExpected = {fullwidthBackslash, divisionSlash};
    std::sort(innerExpected.begin(), innerExpected.end());
    EXPECT_EQ(FileNames(inner), innerExpected);
    for (const wchar_t* neighbour : {L"A.bmp", L"Lodz.bmp", L"ABC.bmp", L"escape.bmp"})
        EXPECT_EQ(SizeOf(folder + L"\\" + neighbour), 6u) << "overwritten";
    for (const std::wstring& name : names) EXPECT_EQ(SizeOf(folder + L"\\" + name), 54u + 192 * 48);

    // A recording under a Japanese name.
    const std::wstring movie = inner + L"\\\u52D5\u753B.avi";
    ASSERT_EQ(Tovira_RecordW(camera, movie.c_str(), 30, 0), 1);
    AviReadBack file;
    sink.pumpUntil([&] {
        file = ReadFinishedAvi(movie);
        return file.problem.empty() && file.Frames() > 0;
    }, 60000);
    EXPECT_EQ(file.problem, "");
    EXPECT_EQ(FileNames(inner).size(), 3u);
    Tovira_StopPreview(camera);
    RemoveFolder(inner);
    RemoveFolder(folder);
}

}  // namespace
