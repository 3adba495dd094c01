// Where saved pictures go: each encoder of ImageFiles.cpp writes into a temporary file beside the
// target, opened with the wide file functions (so any name the caller gives is used as given), and the
// finished file is moved over the target. A failed encoder, a full disk or a failed move leaves the
// earlier file untouched and removes the temporary one.

#include <windows.h>

#include <cstdio>
#include <string>

#include <tiffio.h>

#include "output/DibImage.h"
#include "output/FileWriter.h"
#include "output/ImageFiles.h"
#include "output/JpegEncoder.h"
#include "output/ReplaceFile.h"
#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"

namespace {

bool Convert(CDibImage& target, tovira::PixelKernel kernel, const CDibImage& source) {
    if (target.IsEmpty()) return false;
    return tovira::ApplyKernel(target.View(), kernel, source.View()) != 0;
}

// Each runs `encode` on the temporary file, opened the way its encoder needs, and moves the complete
// file over the target.
template <typename Encode>
SaveResult WriteWithHandle(const wchar_t* target, Encode encode) {
    CReplacingFile replacing(target);
    if (!replacing.Create()) return SaveResult::kFileFailed;
    CFileWriter file;
    if (!file.Open(replacing.TempName())) return SaveResult::kFileFailed;
    const bool written = encode(file) != 0;
    file.Close();
    return written && replacing.Commit() ? SaveResult::kSaved : SaveResult::kFileFailed;
}

template <typename Encode>
SaveResult WriteWithStdio(const wchar_t* target, Encode encode) {
    CReplacingFile replacing(target);
    if (!replacing.Create()) return SaveResult::kFileFailed;
    std::FILE* file = _wfopen(replacing.TempName(), L"wb");
    if (!file) return SaveResult::kFileFailed;
    bool written = encode(file) != 0;
    if (std::fclose(file) != 0) written = false;  // buffered data that could not be flushed
    return written && replacing.Commit() ? SaveResult::kSaved : SaveResult::kFileFailed;
}

template <typename Encode>
SaveResult WriteWithTiff(const wchar_t* target, Encode encode) {
    CReplacingFile replacing(target);
    if (!replacing.Create()) return SaveResult::kFileFailed;
    InstallTiffHandlers();
    TIFF* tiff = TIFFOpenW(replacing.TempName(), "w");
    if (!tiff) return SaveResult::kFileFailed;
    const bool written = encode(tiff) != 0;
    TIFFClose(tiff);
    return written && replacing.Commit() ? SaveResult::kSaved : SaveResult::kFileFailed;
}

int Saved(SaveResult result) { return result == SaveResult::kSaved ? 1 : 0; }

}  // namespace

SaveResult SaveImageFile(const wchar_t* fileName, const CDibImage* image, int fileType) {
    const unsigned type = static_cast<unsigned>(fileType);
    if (type > kFileTiff) return SaveResult::kBadType;
    if (!image || image->IsEmpty() || image->Width() <= 0 || image->Height() <= 0) return SaveResult::kNoImage;
    if (!fileName || !*fileName) return SaveResult::kBadName;
    const int quality = type == kFileJpeg70 ? 70 : type == kFileJpeg20 ? 20 : 100;
    CDibImage temporary;
    switch (type) {
        case kFileBmp:
            // BMP stores rows bottom-up, so the rows are reversed on the way out.
            if (!temporary.CreateLike(image) || !Convert(temporary, tovira::RowsCopyFlip, *image))
                return SaveResult::kFileFailed;
            return WriteWithHandle(fileName, [&](CFileWriter& file) { return WriteBmpFile(temporary, file); });
        case kFileRaw:
            return WriteWithHandle(fileName, [&](CFileWriter& file) {
                return file.Write(image->Bits(), image->ByteSize()) ? 1 : 0;
            });
        case kFileJpeg100:
        case kFileJpeg70:
        case kFileJpeg20: {
            tovira::PixelKernel kernel = nullptr;
            int bits = 24;
            switch (image->BitCount()) {
                case 8: bits = 8; kernel = tovira::RowsCopyFlip; break;
                case 16: bits = 8; kernel = tovira::Gray16To8Shift4Flip; break;
                case 24: case 32: kernel = tovira::Bgr24CopyFlip; break;
                case 48: case 64: kernel = tovira::Bgr48To24Shift4Flip; break;
                default: return SaveResult::kNoImage;
            }
            if (!temporary.Create(image->Width(), image->Height(), bits) || !Convert(temporary, kernel, *image))
                return SaveResult::kFileFailed;
            return WriteWithStdio(fileName, [&](std::FILE* file) {
                return WriteJpegFile(file, temporary, quality, 1);
            });
        }
        case kFilePng: {
            tovira::PixelKernel kernel = nullptr;
            switch (image->BitCount()) {
                case 16: kernel = tovira::Gray16Expand4; break;
                case 32: kernel = tovira::Bgrx32ToBgra32; break;
                case 48: kernel = tovira::Bgr48Expand4; break;
                case 64: kernel = tovira::Bgr48ToBgra64Expand4; break;
                default: break;
            }
            const CDibImage* rows = image;
            if (kernel) {
                if (!temporary.CreateLike(image) || !Convert(temporary, kernel, *image))
                    return SaveResult::kFileFailed;
                rows = &temporary;
            }
            return WriteWithStdio(fileName, [&](std::FILE* file) {
                return WritePngFile(file, rows->Bits(), rows->Width(), rows->Height(), rows->Stride(),
                                    image->BitCount());
            });
        }
        case kFileTiff:
            return WriteWithTiff(fileName, [&](TIFF* tiff) { return WriteTiffFile(tiff, *image); });
        default:
            return SaveResult::kBadType;
    }
}

int SaveImageFile(const char* fileName, const CDibImage* image, int fileType) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    return Saved(SaveImageFile(wide.c_str(), image, fileType));
}

int WriteBmpFile(const CDibImage& image, const char* fileName) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    if (wide.empty()) return 0;
    return Saved(WriteWithHandle(wide.c_str(), [&](CFileWriter& file) { return WriteBmpFile(image, file); }));
}

int WritePngFile(const char* fileName, const uint8_t* pixels, int width, int height, int stride,
                 int bitsPerPixel) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    if (wide.empty()) return 0;
    return Saved(WriteWithStdio(wide.c_str(), [&](std::FILE* file) {
        return WritePngFile(file, pixels, width, height, stride, bitsPerPixel);
    }));
}

int WriteJpegFile(const char* fileName, const CDibImage& image, int quality, int progressive) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    if (wide.empty()) return 0;
    return Saved(WriteWithStdio(wide.c_str(), [&](std::FILE* file) {
        return WriteJpegFile(file, image, quality, progressive);
    }));
}

int WriteTiffFile(const char* fileName, const CDibImage& image) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    if (wide.empty()) return 0;
    return Saved(WriteWithTiff(wide.c_str(), [&](TIFF* tiff) { return WriteTiffFile(tiff, image); }));
}
