#include "output/ReplaceFile.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

namespace {

// Temporary files of this target that a save killed mid-write left behind (their process is gone) are
// removed, so killed saves do not pile up beside the target. A live process's file, ours included, may
// be a save in progress and stays.
void RemoveStaleTemporaries(const std::wstring& target) {
    const std::wstring pattern = target + L".*.tovira-tmp";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
    const size_t nameLength = target.size() - folder.size();
    do {
        const std::wstring name = found.cFileName;
        // <target name>.<process id in hex>-<counter>.tovira-tmp
        if (name.size() <= nameLength + 1 || name[nameLength] != L'.') continue;
        wchar_t* end = nullptr;
        const unsigned long pid = std::wcstoul(name.c_str() + nameLength + 1, &end, 16);
        if (!end || *end != L'-' || pid == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
        const bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        if (process) CloseHandle(process);
        if (!alive) DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

bool CReplacingFile::Create() {
    Abandon();
    if (target_.empty()) return false;
    RemoveStaleTemporaries(target_);
    static std::atomic<unsigned> counter{0};
    // Beside the target, so the final move stays within one folder (and one volume).
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t suffix[48];
        std::swprintf(suffix, 48, L".%lx-%x.tovira-tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                      counter.fetch_add(1));
        temp_ = target_ + suffix;
        HANDLE file = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            pending_ = true;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    temp_.clear();
    return false;
}

bool CReplacingFile::Commit() {
    if (!pending_) return false;
    if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Abandon();
        return false;
    }
    pending_ = false;
    return true;
}

void CReplacingFile::Abandon() {
    if (pending_) DeleteFileW(temp_.c_str());
    pending_ = false;
}

std::wstring FileNameFromAnsi(const char* name) {
    if (!name || !*name) return {};
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage, 0, name, -1, wide.data(), length) != length) return {};
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}
