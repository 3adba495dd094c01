// CFileWriter: the file handle behind the BMP and raw writers and the AVI recorder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CFileWriter {
public:
    CFileWriter() = default;
    ~CFileWriter() { Close(); }
    CFileWriter(const CFileWriter&) = delete;
    CFileWriter& operator=(const CFileWriter&) = delete;

    // Opens for writing: truncates an existing file, else creates a new one. 1 on success, 0 when both
    // fail (the earlier file, if any, is closed first).
    int Open(const char* fileName);
    // The same with a wide name, used exactly as given.
    int Open(const wchar_t* fileName);
    // Writes all `size` bytes at the current position; false on any short or failed write.
    bool Write(const void* data, size_t size);
    // Writes a little-endian 32-bit value.
    bool Write32(uint32_t value) { return Write(&value, 4); }
    // Reads all `size` bytes at the current position; false on any short or failed read.
    bool Read(void* data, size_t size);
    // Moves to an absolute position, or to the end of the file.
    bool Seek(uint64_t position);
    bool SeekEnd();
    // Ends the file at `position` (what lies beyond is given back to the disk).
    bool Truncate(uint64_t position);
    uint64_t Size() const;
    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    void Close();
    // Closes and deletes the file: a failed writer leaves no partial file behind.
    void Discard();
    // File size read when the file was opened (0 after truncation).
    uint32_t SizeAtOpen() const { return sizeAtOpen_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint32_t sizeAtOpen_ = 0;
    std::wstring name_;
};
