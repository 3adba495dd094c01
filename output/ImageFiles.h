// Saving an output image as BMP, raw, JPEG, PNG or TIFF.
//
// Each format gets the picture in the sample layout it needs: a temporary CDibImage filled by one
// conversion kernel where the output image's layout does not fit. Twelve-bit samples (16, 48 and 64 bits
// per pixel) are widened by 4 bits for 16-bit files (4095 -> 65520) and reduced to bits 4..11 for 8-bit
// files. Every writer returns 1 on success and 0 on failure, and a failed writer removes what it had
// written, so a file on disk is always complete.
#pragma once

#include <cstdint>

class CDibImage;

enum ImageFileType : unsigned {
    kFileBmp = 0,
    kFileRaw = 1,
    kFileJpeg100 = 2,
    kFileJpeg70 = 3,
    kFileJpeg20 = 4,
    kFilePng = 5,
    kFileTiff = 6,
};

// Dispatcher behind Tovira_SaveImage/SaveImageW. Fails for a null or empty image and for a type above 6
// (taken unsigned, so negative types fail too); writes nothing then.
int SaveImageFile(const char* fileName, const CDibImage* image, int fileType);

// Writes `image` as an uncompressed BMP: its rows in storage order (callers pass a flipped copy, so the
// bottom line comes first), the grey table for 8 bits per pixel.
int WriteBmpFile(const CDibImage& image, const char* fileName);
// Writes rows of `stride` bytes (blue first for colour) as PNG: grey for 8/16, RGB for 24/48, RGB with
// alpha for 32/64 bits per pixel; 16-bit samples are little-endian in the buffer.
int WritePngFile(const char* fileName, const uint8_t* pixels, int width, int height, int stride,
                 int bitsPerPixel);
// Writes an 8-bit (grey) or 24-bit (blue first) image whose storage row 0 holds the bottom line as a
// JPEG at `quality`, progressive when asked.
int WriteJpegFile(const char* fileName, const CDibImage& image, int quality, int progressive);
// Writes the output image as an uncompressed single-strip TIFF (grey or RGB, 8 or 16 bits per sample).
int WriteTiffFile(const char* fileName, const CDibImage& image);
