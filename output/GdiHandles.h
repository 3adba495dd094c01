// One small owner per Win32 acquire/release pair used by the display and output code.
#pragma once

#include <windows.h>

#include <utility>

namespace tovira {

// Owns a handle and frees it with Free on destruction or reset. Null is "no handle".
template <class Handle, class Free>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : handle_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle h = Handle{}) {
        Handle old = std::exchange(handle_, h);
        if (old != Handle{}) Free{}(old);
    }

private:
    Handle handle_{};
};

struct DeleteDcFree {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct DeleteObjectFree {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct CloseHandleFree {
    void operator()(HANDLE h) const { CloseHandle(h); }
};

using UniqueMemoryDc = UniqueHandle<HDC, DeleteDcFree>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteObjectFree>;
using UniqueKernelHandle = UniqueHandle<HANDLE, CloseHandleFree>;  // events and threads

// Keeps an object selected into a DC and puts the previously selected object back on reset.
class UniqueSelection {
public:
    UniqueSelection() = default;
    UniqueSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {
        if (previous_ == HGDI_ERROR) previous_ = nullptr;
    }
    ~UniqueSelection() { reset(); }
    UniqueSelection(UniqueSelection&& other) noexcept
        : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
    UniqueSelection& operator=(UniqueSelection&& other) noexcept {
        if (this != &other) {
            reset();
            dc_ = std::exchange(other.dc_, nullptr);
            previous_ = std::exchange(other.previous_, nullptr);
        }
        return *this;
    }
    UniqueSelection(const UniqueSelection&) = delete;
    UniqueSelection& operator=(const UniqueSelection&) = delete;

    bool selected() const { return previous_ != nullptr; }
    HGDIOBJ previous() const { return previous_; }
    void reset() {
        if (dc_ && previous_) SelectObject(dc_, previous_);
        dc_ = nullptr;
        previous_ = nullptr;
    }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

// A window's DC taken with GetDC, given back with ReleaseDC.
class UniqueWindowDc {
public:
    UniqueWindowDc() = default;
    explicit UniqueWindowDc(HWND window) : window_(window), dc_(window ? GetDC(window) : nullptr) {}
    ~UniqueWindowDc() { reset(); }
    UniqueWindowDc(const UniqueWindowDc&) = delete;
    UniqueWindowDc& operator=(const UniqueWindowDc&) = delete;
    HDC get() const { return dc_; }
    void reset() {
        if (dc_) ReleaseDC(window_, dc_);
        dc_ = nullptr;
        window_ = nullptr;
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

}  // namespace tovira
