// Saving an output image as BMP, raw, JPEG, PNG or TIFF.
//
// Each format gets the picture in the sample layout it needs: a temporary CDibImage filled by one
// conversion kernel where the output image's layout does not fit. Twelve-bit samples (16, 48 and 64 bits
// per pixel) are widened by 4 bits for 16-bit files (4095 -> 65520) and reduced to bits 4..11 for 8-bit
// files. Every writer returns 1 on success and 0 on failure; a file on disk is always complete.
#pragma once

#include <cstdint>
#include <cstdio>

class CDibImage;
class CFileWriter;
struct tiff;
typedef struct tiff TIFF;

enum ImageFileType : unsigned {
    kFileBmp = 0,
    kFileRaw = 1,
    kFileJpeg100 = 2,
    kFileJpeg70 = 3,
    kFileJpeg20 = 4,
    kFilePng = 5,
    kFileTiff = 6,
};

// What saving came to; the instance turns the failures into error codes.
enum class SaveResult { kSaved, kBadType, kBadName, kNoImage, kFileFailed };

// Dispatcher behind Tovira_SaveImage/SaveImageW. Fails for a type above 6 (taken unsigned, so negative
// types fail too), a null or empty image and a null or empty name; writes nothing then. The picture is
// written to a temporary file beside the target, which replaces the target only once it is complete:
// a failed save leaves an existing file as it was. The wide name is used exactly as given.
SaveResult SaveImageFile(const wchar_t* fileName, const CDibImage* image, int fileType);
// The same with a name in the ANSI code page; 1 when saved, else 0.
int SaveImageFile(const char* fileName, const CDibImage* image, int fileType);

// The encoders write into a file that is already open (the dispatcher decides where the bytes go) and
// return 1 when every byte was handed over, else 0. None of them closes the file.

// Writes `image` as an uncompressed BMP: its rows in storage order (callers pass a flipped copy, so the
// bottom line comes first), the grey table for 8 bits per pixel.
int WriteBmpFile(const CDibImage& image, CFileWriter& file);
// Writes rows of `stride` bytes (blue first for colour) as PNG: grey for 8/16, RGB for 24/48, RGB with
// alpha for 32/64 bits per pixel; 16-bit samples are little-endian in the buffer.
int WritePngFile(std::FILE* file, const uint8_t* pixels, int width, int height, int stride, int bitsPerPixel);
// JPEG files: output/JpegEncoder.h.
// Writes the output image as an uncompressed single-strip TIFF (grey or RGB, 8 or 16 bits per sample).
int WriteTiffFile(TIFF* tiff, const CDibImage& image);
// Sends libtiff's messages to the error stream (its Windows handlers open message boxes); once, before
// the first TIFF is opened.
void InstallTiffHandlers();
// Where the messages of libpng, libjpeg and libtiff go (one line each); none until a sink is set. Never
// the host's console.
void SetImageLibraryMessageSink(void (*sink)(const char* text));
// One message of an image library, to the sink set above.
void ImageLibraryMessage(const char* library, const char* text);

// Each encoder into a named file (ANSI code page), replaced only once complete; 1/0.
int WriteBmpFile(const CDibImage& image, const char* fileName);
int WritePngFile(const char* fileName, const uint8_t* pixels, int width, int height, int stride,
                 int bitsPerPixel);
int WriteJpegFile(const char* fileName, const CDibImage& image, int quality, int progressive);
int WriteTiffFile(const char* fileName, const CDibImage& image);
