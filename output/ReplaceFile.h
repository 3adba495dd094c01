// CReplacingFile: a file written under a temporary name in the target's folder and moved over the
// target only once it is complete. A failed write (full disk, removed medium) therefore never touches
// the file that was there before, and no half-written file is left behind.
#pragma once

#include <string>

class CReplacingFile {
public:
    explicit CReplacingFile(std::wstring target) : target_(std::move(target)) {}
    ~CReplacingFile() { Abandon(); }
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    // Creates the temporary file, empty, beside the target. false when the folder is missing, the
    // name is not valid or the folder cannot be written.
    bool Create();
    // The temporary file's name, for the writer that fills it (valid after Create).
    const wchar_t* TempName() const { return temp_.c_str(); }
    // Moves the complete temporary file over the target, replacing an existing file. On failure the
    // target is as it was and the temporary file is removed.
    bool Commit();
    // Removes the temporary file (nothing happens after a Commit).
    void Abandon();

private:
    std::wstring target_, temp_;
    bool pending_ = false;
};

// A file name given in the ANSI (or OEM) code page, as the file functions of that code page read it.
// Empty for a null name or one that does not convert.
std::wstring FileNameFromAnsi(const char* name);
