#include "output/FileWriter.h"

#include <limits>

#include "output/ReplaceFile.h"

int CFileWriter::Open(const char* fileName) {
    Close();
    // CreateFileA reads the name in the file functions' code page; converting it the same way first
    // opens the same file.
    const std::wstring wide = FileNameFromAnsi(fileName);
    return wide.empty() ? 0 : Open(wide.c_str());
}

int CFileWriter::Open(const wchar_t* fileName) {
    Close();
    if (!fileName || !*fileName) return 0;
    // Readers may look at a file while it is written (a recording is readable up to its last header
    // rewrite); nobody else may write to it.
    HANDLE file = CreateFileW(fileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileW(fileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    file_ = file;
    name_ = fileName;
    sizeAtOpen_ = GetFileSize(file_, nullptr);
    return 1;
}

bool CFileWriter::Write(const void* data, size_t size) {
    if (!IsOpen()) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    // WriteFile takes 32-bit counts; large frames go in pieces.
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
        DWORD written = 0;
        if (!WriteFile(file_, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool CFileWriter::Read(void* data, size_t size) {
    if (!IsOpen()) return false;
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
        DWORD read = 0;
        if (!ReadFile(file_, bytes, chunk, &read, nullptr) || read != chunk) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool CFileWriter::Seek(uint64_t position) {
    if (!IsOpen()) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != 0;
}

bool CFileWriter::SeekEnd() {
    if (!IsOpen()) return false;
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file_, zero, nullptr, FILE_END) != 0;
}

bool CFileWriter::Truncate(uint64_t position) {
    return Seek(position) && SetEndOfFile(file_) != 0;
}

uint64_t CFileWriter::Size() const {
    LARGE_INTEGER size{};
    if (!IsOpen() || !GetFileSizeEx(file_, &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

void CFileWriter::Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    sizeAtOpen_ = 0;
}

void CFileWriter::Discard() {
    const bool wasOpen = IsOpen();
    Close();
    if (wasOpen && !name_.empty()) DeleteFileW(name_.c_str());
    name_.clear();
}
