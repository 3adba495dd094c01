#include "output/JpegEncoder.h"

#include <csetjmp>
#include <cstdlib>

#include <jpeglib.h>

#include "output/DibImage.h"
#include "output/ImageFiles.h"

namespace {

struct JpegErrorManager {
    jpeg_error_mgr standard;
    std::jmp_buf recovery;
};

// libjpeg's own error_exit ends the process; this one returns to the encoder instead.
void JpegErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    ImageLibraryMessage("libjpeg error", message);
    std::longjmp(manager->recovery, 1);
}

// Where the compressed bytes go: a file, or memory (libjpeg's memory destination, which starts with the
// buffer given and replaces it with a larger one of its own when it runs out).
struct Destination {
    std::FILE* file = nullptr;
    unsigned char** memory = nullptr;
    unsigned long* memorySize = nullptr;
};

int CompressJpeg(jpeg_compress_struct& cinfo, JpegErrorManager& errors, const Destination& to,
                 const CDibImage& image, int components, int quality, int progressive) {
    if (setjmp(errors.recovery)) return 0;
    jpeg_create_compress(&cinfo);
    if (to.file)
        jpeg_stdio_dest(&cinfo, to.file);
    else
        jpeg_mem_dest(&cinfo, to.memory, to.memorySize);
    cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    cinfo.input_components = components;
    // The bitmap's own sample order: libjpeg-turbo reads blue, green, red directly.
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    // Storage row 0 holds the bottom line: the top line is the last storage row.
    const int height = image.Height();
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[16];
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.next_scanline + n < cinfo.image_height; ++n) {
            const int storageRow = height - 1 - static_cast<int>(cinfo.next_scanline + n);
            rows[n] = const_cast<JSAMPROW>(image.Bits() + static_cast<size_t>(storageRow) * image.Stride());
        }
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    return 1;
}

int Components(const CDibImage& image) {
    if (image.IsEmpty() || image.Width() <= 0 || image.Height() <= 0) return 0;
    return image.BitCount() == 8 ? 1 : image.BitCount() == 24 ? 3 : 0;
}

int Compress(const Destination& to, const CDibImage& image, int components, int quality, int progressive) {
    jpeg_compress_struct cinfo{};
    JpegErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = JpegErrorExit;
    const int ok = CompressJpeg(cinfo, errors, to, image, components, quality, progressive);
    jpeg_destroy_compress(&cinfo);
    return ok;
}

}  // namespace

int WriteJpegFile(std::FILE* file, const CDibImage& image, int quality, int progressive) {
    const int components = Components(image);
    if (!file || !components) return 0;
    Destination to;
    to.file = file;
    return Compress(to, image, components, quality, progressive);
}

JpegMemoryEncoder::~JpegMemoryEncoder() { std::free(buffer_); }

size_t JpegMemoryEncoder::Encode(const CDibImage& image, int quality) {
    const int components = Components(image);
    if (!components) return 0;
    // Room for the uncompressed samples and the headers: a camera picture's JPEG fits in it.
    const unsigned long want =
        static_cast<unsigned long>(image.Width()) * image.Height() * components + 65536ul;
    if (capacity_ < want) {
        std::free(buffer_);
        buffer_ = static_cast<unsigned char*>(std::malloc(want));
        capacity_ = buffer_ ? want : 0;
        if (!buffer_) return 0;
    }
    unsigned char* out = buffer_;
    unsigned long size = capacity_;
    Destination to;
    to.memory = &out;
    to.memorySize = &size;
    const int ok = Compress(to, image, components, quality, 0);
    if (out != buffer_) {
        // The destination outgrew the buffer and left the frame in one of its own, which is kept.
        std::free(buffer_);
        buffer_ = out;
        capacity_ = size;
    }
    return ok ? size : 0;
}
