// CDibImage: the image object every picture of the library lives in.
//
// A bottom-up device-independent bitmap (DIB section) with its own memory DC, or, for 48 and 64 bits per
// pixel where GDI makes no DIB section, a plain zero-filled buffer without DC. Storage row 0 of the
// buffer holds the top line of the picture; because the header declares a bottom-up bitmap, GDI copies
// to a window turn the rows over (negative source height) and file writers reverse them where their
// format wants bottom-up rows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "output/GdiHandles.h"
#include "pipeline/ImageView.h"

class CDibImage {
public:
    CDibImage();
    ~CDibImage();
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Releases the old contents and allocates width x height at bitCount bits per pixel (8, 16, 24, 32,
    // 48 or 64). Returns 1, or 0 (image left empty) for a non-positive size, an unsupported depth, a size
    // whose buffer would not fit in 2 GiB, or a failed allocation.
    int Create(int width, int height, int bitCount);
    // Same geometry and depth as `other` (its header, not its colour table or pixels), with `other`'s
    // memory DC as reference. Fails like Create, and for a null or empty `other`.
    int CreateLike(const CDibImage* other);
    // Frees the bitmap, the DC or the plain buffer and returns to the freshly constructed state.
    void Release();
    // Grey ramp (entry i = i, i, i) in the header's colour table and in the selected bitmap.
    int SetGrayPalette();

    // BitBlt of `rect` (null: the whole source) from the source's memory DC to (x, y) of this image's
    // memory DC. 0 when either image has no DC.
    int BltFrom(const CDibImage& source, const RECT* rect = nullptr, int x = 0, int y = 0);
    // Runs a stretch kernel from `source` into this image (rectangles in storage rows; null = whole).
    int64_t StretchFrom(tovira::StretchKernel kernel, const CDibImage& source, const RECT* sourceRect = nullptr,
                        const RECT* targetRect = nullptr, void* p = nullptr, void* q = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return stride_; }
    int BitCount() const { return bitCount_; }
    int BytesPerPixel() const { return bitCount_ / 8; }
    uint8_t* Bits() const { return bits_; }
    size_t ByteSize() const { return static_cast<size_t>(height_) * static_cast<size_t>(stride_); }
    bool IsEmpty() const { return bits_ == nullptr; }
    HDC Dc() const { return dc_.get(); }
    HBITMAP Bitmap() const { return bitmap_.get(); }
    const BITMAPINFOHEADER& Header() const { return info_.header; }
    const RGBQUAD* ColorTable() const { return info_.colors; }
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(&info_); }

    // The pixel core's view of the buffer (all zero for an empty image).
    tovira::ImageView View() const;

    // Row bytes for a width and depth, rounded up to 4; 0 when it does not fit in 32 bits.
    static int StrideFor(int width, int bitCount);

private:
    int allocate(HDC referenceDc);

    struct Info {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info_{};
    // Declaration order matters: the selection is undone before the bitmap and the DC are deleted.
    tovira::UniqueMemoryDc dc_;
    tovira::UniqueBitmap bitmap_;
    tovira::UniqueSelection selection_;
    std::unique_ptr<uint8_t[]> plain_;
    uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    uint16_t bitCount_ = 0;
};
