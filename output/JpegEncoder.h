// JPEG images of 8-bit grey and 24-bit (blue first) bitmaps whose storage row 0 holds the bottom line,
// with libjpeg-turbo: into an open file (saved images) or into memory (Motion JPEG frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CDibImage;

// Writes the image as a JPEG at `quality` (1..100), progressive when asked. 1 when every byte was handed
// to the file, 0 on failure or for another depth.
int WriteJpegFile(std::FILE* file, const CDibImage& image, int quality, int progressive);

// Encodes frame after frame into one buffer it keeps (grown when a frame needs more).
class JpegMemoryEncoder {
public:
    JpegMemoryEncoder() = default;
    ~JpegMemoryEncoder();
    JpegMemoryEncoder(const JpegMemoryEncoder&) = delete;
    JpegMemoryEncoder& operator=(const JpegMemoryEncoder&) = delete;

    // The JPEG image of `image` at `quality` (baseline, as Motion JPEG readers expect): its size in
    // bytes, the bytes at Data(); 0 on failure.
    size_t Encode(const CDibImage& image, int quality);
    const uint8_t* Data() const { return buffer_; }

private:
    unsigned char* buffer_ = nullptr;  // malloc'd: libjpeg's memory destination may replace it
    unsigned long capacity_ = 0;
};
