#include "output/ImageFiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <png.h>
#include <tiffio.h>

#include "output/DibImage.h"
#include "output/FileWriter.h"
#include "output/PngDeflate.h"
#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"

namespace {

bool HasPixels(const CDibImage* image) {
    return image && !image->IsEmpty() && image->Width() > 0 && image->Height() > 0;
}

// Runs a conversion kernel over the whole image; 0 when the temporary could not be made.
bool Convert(CDibImage& target, tovira::PixelKernel kernel, const CDibImage& source) {
    if (target.IsEmpty()) return false;
    return tovira::ApplyKernel(target.View(), kernel, source.View()) != 0;
}

// ---- PNG

struct PngState {
    std::jmp_buf recovery;
};

// Messages of the image libraries go to the library's log, never to the host's console.
void (*g_messageSink)(const char* text) = nullptr;

}  // namespace

void ImageLibraryMessage(const char* library, const char* text) {
    if (!g_messageSink) return;
    char line[512];
    std::snprintf(line, sizeof line, "%s: %s", library, text);
    g_messageSink(line);
}

namespace {

void PngErrorHandler(png_structp png, png_const_charp message) {
    if (png) ImageLibraryMessage("libpng error", message);
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::longjmp(state->recovery, 1);
}

// Everything the recovery point frees lives outside the setjmp frame, so nothing is lost on a jump.
int WritePngRows(std::FILE* file, png_structp png, png_infop info, PngState& state, png_bytep* rows,
                 int width, int height, int bitsPerPixel, std::vector<uint8_t>& stream) {
    if (setjmp(state.recovery)) return 0;
    const int depth = (bitsPerPixel == 16 || bitsPerPixel == 48 || bitsPerPixel == 64) ? 16 : 8;
    int colourType = PNG_COLOR_TYPE_GRAY;
    if (bitsPerPixel == 24 || bitsPerPixel == 48) colourType = PNG_COLOR_TYPE_RGB;
    if (bitsPerPixel == 32 || bitsPerPixel == 64) colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
                 colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);  // signature and IHDR
    // The image data: filtered as libpng's default does, compressed by libdeflate (several times faster
    // than zlib at the same size), then written by libpng as IDAT chunks of at most 1 MiB and IEND.
    if (!DeflatePngImage(rows, width, height, bitsPerPixel, stream)) return 0;
    static const png_byte kIdat[5] = "IDAT", kIend[5] = "IEND";
    constexpr size_t kChunk = 1 << 20;
    for (size_t at = 0; at < stream.size(); at += kChunk)
        png_write_chunk(png, kIdat, stream.data() + at, std::min(kChunk, stream.size() - at));
    png_write_chunk(png, kIend, nullptr, 0);
    png_write_flush(png);
    return 1;
}

// ---- TIFF

// libtiff's Windows handlers may open message boxes; a library inside someone's process must not.
void TiffMessage(const char* module, const char* format, va_list arguments) {
    char text[400];
    std::vsnprintf(text, sizeof text, format, arguments);
    ImageLibraryMessage(module ? module : "libtiff", text);
}

}  // namespace

void SetImageLibraryMessageSink(void (*sink)(const char* text)) { g_messageSink = sink; }

void InstallTiffHandlers() {
    static const bool installed = [] {
        TIFFSetErrorHandler(TiffMessage);
        TIFFSetWarningHandler(nullptr);  // warnings are not failures; keep them quiet
        return true;
    }();
    (void)installed;
}

int WriteBmpFile(const CDibImage& image, CFileWriter& file) {
    if (!HasPixels(&image) || !file.IsOpen()) return 0;
    const bool palette = image.BitCount() <= 8;
    const uint32_t offset = palette ? 1078 : 54;
    const size_t pixelBytes = image.ByteSize();
    uint8_t header[14] = {'B', 'M'};
    const uint32_t fileSize = offset + static_cast<uint32_t>(pixelBytes);
    std::memcpy(header + 2, &fileSize, 4);
    std::memcpy(header + 10, &offset, 4);
    RGBQUAD table[256];
    std::memcpy(table, image.ColorTable(), sizeof(table));
    if (palette && image.Dc()) GetDIBColorTable(image.Dc(), 0, 256, table);
    const bool ok = file.Write(header, sizeof(header)) && file.Write(&image.Header(), 40) &&
                    (!palette || file.Write(table, sizeof(table))) && file.Write(image.Bits(), pixelBytes);
    return ok ? 1 : 0;
}

int WritePngFile(std::FILE* file, const uint8_t* pixels, int width, int height, int stride, int bitsPerPixel) {
    if (!file || !pixels || width <= 0 || height <= 0) return 0;
    switch (bitsPerPixel) {
        case 8: case 16: case 24: case 32: case 48: case 64: break;
        default: return 0;
    }
    PngState state;
    // The version of the library actually linked, so libpng accepts the structure.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngErrorHandler, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_bytep> rows;
    // The compressed image lives here, outside the frame a libpng error jumps out of: a failed write
    // (full disk) frees it like a good one.
    std::vector<uint8_t> stream;
    int ok = 0;
    if (png && info) {
        try {
            rows.resize(static_cast<size_t>(height));
            for (int i = 0; i < height; ++i) rows[i] = const_cast<png_bytep>(pixels) + static_cast<size_t>(i) * stride;
            ok = WritePngRows(file, png, info, state, rows.data(), width, height, bitsPerPixel, stream);
        } catch (const std::bad_alloc&) {
            ImageLibraryMessage("libpng error", "out of memory");
            ok = 0;
        }
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return ok;
}

int WriteTiffFile(TIFF* tiff, const CDibImage& image) {
    if (!tiff || !HasPixels(&image)) return 0;
    uint16_t bitsPerSample = 8, photometric = PHOTOMETRIC_MINISBLACK, samples = 1;
    tovira::PixelKernel kernel = nullptr;
    switch (image.BytesPerPixel()) {
        case 1: break;
        case 2: bitsPerSample = 16; kernel = tovira::Gray16Expand4; break;
        case 3: photometric = PHOTOMETRIC_RGB; samples = 3; kernel = tovira::BgrToRgb24; break;
        case 4: photometric = PHOTOMETRIC_RGB; samples = 4; kernel = tovira::BgrToRgb24; break;
        case 6: bitsPerSample = 16; photometric = PHOTOMETRIC_RGB; samples = 3;
                kernel = tovira::Bgr48ToRgb48Expand4; break;
        case 8: bitsPerSample = 16; photometric = PHOTOMETRIC_RGB; samples = 4;
                kernel = tovira::Bgr48ToRgba64Expand4; break;
        default: return 0;
    }
    CDibImage temporary;
    if (!temporary.CreateLike(&image)) return 0;
    if (kernel) {
        if (!Convert(temporary, kernel, image)) return 0;
    } else {
        std::memcpy(temporary.Bits(), image.Bits(), image.ByteSize());
    }
    // TIFF rows have no padding: close the 4-byte gaps in place (each row moves towards the start).
    const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
    if (rowBytes != static_cast<size_t>(temporary.Stride()))
        for (int i = 1; i < temporary.Height(); ++i)
            std::memmove(temporary.Bits() + i * rowBytes, temporary.Bits() + static_cast<size_t>(i) * temporary.Stride(),
                         rowBytes);

    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height()));
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.Height()));  // one strip
    if (samples == 4) {
        // The fourth sample carries no meaning; without this tag readers take it for transparency.
        const uint16_t extra[1] = {EXTRASAMPLE_UNSPECIFIED};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const tmsize_t size = static_cast<tmsize_t>(rowBytes * static_cast<size_t>(image.Height()));
    const bool written = TIFFWriteEncodedStrip(tiff, 0, temporary.Bits(), size) == size;
    return written && TIFFFlush(tiff) == 1 ? 1 : 0;
}

