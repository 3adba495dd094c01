#include "output/DibImage.h"

#include <climits>
#include <cstring>
#include <new>

#include "pipeline/ApplyKernel.h"

namespace {

bool IsSupportedDepth(int bitCount) {
    switch (bitCount) {
        case 8: case 16: case 24: case 32: case 48: case 64: return true;
        default: return false;
    }
}

tovira::KernelRect ToKernelRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

CDibImage::CDibImage() { info_.header.biSize = sizeof(BITMAPINFOHEADER); }

CDibImage::~CDibImage() { Release(); }

int CDibImage::StrideFor(int width, int bitCount) {
    if (width <= 0 || bitCount <= 0) return 0;
    const int64_t row = (static_cast<int64_t>(width) * bitCount / 8 + 3) & ~int64_t{3};
    return row > INT_MAX ? 0 : static_cast<int>(row);
}

void CDibImage::Release() {
    selection_.reset();
    bitmap_.reset();
    dc_.reset();
    plain_.reset();
    bits_ = nullptr;
    width_ = height_ = stride_ = 0;
    bitCount_ = 0;
    std::memset(&info_, 0, sizeof(info_));
    info_.header.biSize = sizeof(BITMAPINFOHEADER);
}

int CDibImage::Create(int width, int height, int bitCount) {
    if (width <= 0 || height <= 0 || bitCount == 0) return 0;
    Release();
    if (!IsSupportedDepth(bitCount)) return 0;
    const int stride = StrideFor(width, bitCount);
    if (stride == 0 || static_cast<int64_t>(stride) * height > INT_MAX) return 0;
    BITMAPINFOHEADER& h = info_.header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;  // positive: bottom-up in GDI terms
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bitCount_ = static_cast<uint16_t>(bitCount);
    return allocate(nullptr);
}

int CDibImage::CreateLike(const CDibImage* other) {
    if (!other || other->width_ <= 0 || other->height_ <= 0 || other->bitCount_ == 0) return 0;
    if (other == this) return 0;  // releasing first would destroy what is to be copied
    Release();
    info_.header = other->info_.header;
    width_ = other->width_;
    height_ = other->height_;
    stride_ = other->stride_;
    bitCount_ = other->bitCount_;
    return allocate(other->Dc());
}

int CDibImage::allocate(HDC referenceDc) {
    if (bitCount_ == 8) SetGrayPalette();  // no DC yet: only the header's table
    // GDI makes no DIB sections deeper than 32 bits; those images are plain buffers.
    if (bitCount_ <= 32) {
        void* bits = nullptr;
        tovira::UniqueBitmap bitmap(
            CreateDIBSection(referenceDc, Info(), DIB_RGB_COLORS, &bits, nullptr, 0));
        if (bitmap && bits) {
            tovira::UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
            if (!dc) { Release(); return 0; }
            tovira::UniqueSelection selection(dc.get(), bitmap.get());
            if (!selection.selected()) { Release(); return 0; }
            dc_ = std::move(dc);
            bitmap_ = std::move(bitmap);
            selection_ = std::move(selection);
            bits_ = static_cast<uint8_t*>(bits);
            return 1;
        }
    }
    plain_.reset(new (std::nothrow) uint8_t[ByteSize()]());
    if (!plain_) { Release(); return 0; }
    bits_ = plain_.get();
    return 1;
}

int CDibImage::SetGrayPalette() {
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(i);
        info_.colors[i] = RGBQUAD{v, v, v, 0};
    }
    if (dc_) SetDIBColorTable(dc_.get(), 0, 256, info_.colors);
    return 1;
}

int CDibImage::BltFrom(const CDibImage& source, const RECT* rect, int x, int y) {
    if (!dc_ || !source.dc_) return 0;
    const RECT whole{0, 0, source.width_, source.height_};
    const RECT& r = rect ? *rect : whole;
    return BitBlt(dc_.get(), x, y, r.right - r.left, r.bottom - r.top, source.dc_.get(), r.left, r.top,
                  SRCCOPY) ? 1 : 0;
}

int64_t CDibImage::StretchFrom(tovira::StretchKernel kernel, const CDibImage& source,
                               const RECT* sourceRect, const RECT* targetRect, void* p, void* q) {
    if (!kernel) return 0;
    tovira::KernelRect s{}, t{};
    if (sourceRect) s = ToKernelRect(*sourceRect);
    if (targetRect) t = ToKernelRect(*targetRect);
    return tovira::ApplyStretchKernel(View(), kernel, source.View(), sourceRect ? &s : nullptr,
                                      targetRect ? &t : nullptr, p, q);
}

tovira::ImageView CDibImage::View() const {
    tovira::ImageView view;
    view.pixels = bits_;
    view.width = bits_ ? width_ : 0;
    view.height = bits_ ? height_ : 0;
    view.stride = bits_ ? stride_ : 0;
    view.bitsPerPixel = bits_ ? bitCount_ : 0;
    return view;
}
