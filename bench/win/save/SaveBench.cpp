// Saving one full frame (3840 x 2748) per file type and colour mode, next to the encoder alone (the
// writer fed an already converted image) and a plain copy of the frame as the reference of this run.
// Run under Wine: save_bench.exe [folder]. Prints milliseconds and ratios. save_bench.exe <folder> png
// [runs [bits [scene]]] compares the SDK's PNG save with libpng's defaults (time and file size) on the same
// frames (bits 0: every colour mode; scene: the virtual camera's picture instead of the synthetic one).
// save_bench.exe <folder> mjpeg [runs]: the Motion JPEG frames of a recording, size and time.

#include <windows.h>

#include <csetjmp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <png.h>

#include "output/DibImage.h"
#include "output/ImageFiles.h"
#include "output/JpegEncoder.h"
#include "output/PngDeflate.h"
#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"
#include "pipeline/Demosaic.h"
#include "sim/SensorModel.h"
#include "sim/TestScene.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class F>
double Best(int runs, F f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const double start = Now();
        f();
        const double t = Now() - start;
        if (t < best) best = t;
    }
    return best;
}

void Fill(CDibImage& image) {
    // A camera-like picture: smooth ramps plus a little noise, 12-bit in deep images.
    const bool deep = image.BitCount() == 16 || image.BitCount() >= 48;
    uint32_t seed = 12345;
    for (int y = 0; y < image.Height(); ++y) {
        uint8_t* row = image.Bits() + static_cast<size_t>(y) * image.Stride();
        const int samples = image.Width() * image.BytesPerPixel() / (deep ? 2 : 1);
        for (int i = 0; i < samples; ++i) {
            seed = seed * 1103515245u + 12345u;
            const int v = (i / 3 + y) % 4096 / (deep ? 1 : 16) + static_cast<int>((seed >> 28) & 3);
            if (deep) {
                const uint16_t s = static_cast<uint16_t>(v & 4095);
                std::memcpy(row + 2 * i, &s, 2);
            } else {
                row[i] = static_cast<uint8_t>(v);
            }
        }
    }
}

// The virtual camera's scene at power-on (full frame, 12 bits), demosaiced into `image` (16 bits or
// more per sample; 8-bit images take the samples' top bits).
void FillWithScene(CDibImage& image) {
    using namespace tovira;
    SensorModel sensor;
    const SensorReadout readout = sensor.readout();
    TestScene scene;
    const std::vector<std::uint16_t>& samples = scene.render(readout, 1);
    const int w = readout.outputWidth, h = readout.outputHeight;
    CDibImage raw;
    if (w != image.Width() || h != image.Height() || !raw.Create(w, h, 16)) return;
    for (int y = 0; y < h; ++y) std::memcpy(raw.Bits() + static_cast<size_t>(y) * raw.Stride(), &samples[static_cast<size_t>(y) * w], 2 * static_cast<size_t>(w));
    CDibImage bgr;
    if (!bgr.Create(w, h, 48)) return;
    ColourRecord colour{0, 100, 100, 100};
    ApplyKernel(bgr.View(), DemosaicInterior16, raw.View(), nullptr, 0, 0, &colour);
    ApplyKernel(bgr.View(), DemosaicBorder16, raw.View(), nullptr, 0, 0, &colour);
    const int samplesPerPixel = image.BitCount() / (image.BitCount() == 16 || image.BitCount() >= 48 ? 16 : 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < samplesPerPixel; ++c) {
                uint16_t v;
                std::memcpy(&v, bgr.Bits() + static_cast<size_t>(y) * bgr.Stride() + 6 * x + 2 * (c < 3 ? c : 1), 2);
                if (samplesPerPixel == 1) {  // grey: the raw sample
                    v = samples[static_cast<size_t>(y) * w + x];
                }
                uint8_t* at = image.Bits() + static_cast<size_t>(y) * image.Stride();
                if (image.BitCount() == 16 || image.BitCount() >= 48) std::memcpy(at + 2 * (samplesPerPixel * x + c), &v, 2);
                else at[samplesPerPixel * x + c] = static_cast<uint8_t>(v >> 4);
            }
}

// The reference for the PNG writer: libpng with its default filtering and zlib compression, as the
// SDK wrote PNG files before they were compressed with libdeflate.
bool WritePngLibpngDefaults(const char* name, const CDibImage& image) {
    std::FILE* file = std::fopen(name, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(static_cast<size_t>(image.Height()));
    for (int i = 0; i < image.Height(); ++i) rows[i] = const_cast<png_bytep>(image.Bits()) + size_t(i) * image.Stride();
    bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        const int bits = image.BitCount();
        const int depth = (bits == 16 || bits >= 48) ? 16 : 8;
        const int type = bits <= 16 ? PNG_COLOR_TYPE_GRAY : (bits == 24 || bits == 48) ? PNG_COLOR_TYPE_RGB
                                                                                         : PNG_COLOR_TYPE_RGB_ALPHA;
        png_init_io(png, file);
        png_set_IHDR(png, info, image.Width(), image.Height(), depth, type, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        png_set_bgr(png);
        if (depth == 16) png_set_swap(png);
        png_write_image(png, rows.data());
        png_write_end(png, info);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}

long long FileBytes(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The SDK's PNG save (SaveImageFile: conversion into the file's layout, filtering, compression in parts
// on up to two threads, the file) against libpng's defaults writing the same converted image on one
// thread: time and file size per run, `runs` runs each, alternating.
void ComparePng(const std::string& folder, int runs, int onlyBits, bool sceneFrames) {
    std::printf("cores %u; per colour mode: SDK / libpng time of each run, best times, sizes\n",
                std::thread::hardware_concurrency());
    std::printf("%-6s %6s %-24s %12s %12s %14s %14s %8s\n", "bits", "parts", "time ratio per run", "SDK ms",
                "libpng ms", "SDK bytes", "libpng bytes", "size");
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        if (onlyBits != 0 && bits != onlyBits) continue;
        CDibImage image;
        if (!image.Create(3840, 2748, bits)) return;
        if (sceneFrames) FillWithScene(image);
        else Fill(image);
        // The image as the file holds it: 12-bit samples widened to 16, a fourth byte opaque.
        using namespace tovira;
        const PixelKernel kernel = bits == 16 ? Gray16Expand4 : bits == 32 ? Bgrx32ToBgra32
                                   : bits == 48 ? Bgr48Expand4 : bits == 64 ? Bgr48ToBgra64Expand4 : nullptr;
        CDibImage converted;
        const CDibImage* file = &image;
        if (kernel) {
            converted.CreateLike(&image);
            ApplyKernel(converted.View(), kernel, image.View());
            file = &converted;
        }
        const std::string ours = folder + "\\save_bench_sdk.png", theirs = folder + "\\save_bench_libpng.png";
        std::string ratios;
        double bestSdk = 1e300, bestReference = 1e300;
        for (int run = 0; run < runs; ++run) {
            const double sdk = Best(1, [&] { SaveImageFile(ours.c_str(), &image, 5); });
            const double reference = Best(1, [&] { WritePngLibpngDefaults(theirs.c_str(), *file); });
            char ratio[16];
            std::snprintf(ratio, sizeof ratio, "%s%.3f", run ? " " : "", sdk / reference);
            ratios += ratio;
            bestSdk = std::min(bestSdk, sdk);
            bestReference = std::min(bestReference, reference);
        }
        const long long a = FileBytes(ours), b = FileBytes(theirs);
        std::printf("%-6d %6d %-24s %12.1f %12.1f %14lld %14lld %8.4f\n", bits, PngStreamParts(3840, 2748, bits),
                    ratios.c_str(), bestSdk, bestReference, a, b, double(a) / double(b));
        std::fflush(stdout);
        DeleteFileA(ours.c_str());
        DeleteFileA(theirs.c_str());
    }
}

}  // namespace

// A recording's Motion JPEG frame: the encoder the record thread uses, on the virtual camera's scene as
// it is (nearly noiseless) and with a grain like a real sensor's temporal noise (+-4 of 255, uniform), at
// several qualities; bytes and milliseconds per full frame against the uncompressed frame.
void MotionJpegFrames(int runs) {
    const int width = 3840, height = 2748;
    CDibImage clean, grainy;
    if (!clean.Create(width, height, 24) || !grainy.Create(width, height, 24)) return;
    FillWithScene(clean);
    std::memcpy(grainy.Bits(), clean.Bits(), clean.ByteSize());
    uint32_t seed = 99;
    for (size_t i = 0; i < grainy.ByteSize(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const int v = grainy.Bits()[i] + static_cast<int>((seed >> 24) % 9) - 4;
        grainy.Bits()[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
    const double uncompressed = static_cast<double>(clean.Stride()) * height;
    std::printf("Motion JPEG frame, 3840 x 2748, best of %d; uncompressed frame %.1f MB\n", runs, uncompressed / 1e6);
    std::printf("%-8s %8s %10s %10s %8s\n", "picture", "quality", "MB/frame", "vs uncompr", "ms/frame");
    JpegMemoryEncoder encoder;
    for (const CDibImage* picture : {&clean, &grainy})
        for (const int quality : {50, 75, 90, 100}) {
            size_t bytes = 0;
            const double ms = Best(runs, [&] { bytes = encoder.Encode(*picture, quality); });
            std::printf("%-8s %8d %10.3f %10.4f %8.1f\n", picture == &clean ? "scene" : "grain", quality, bytes / 1e6,
                        bytes / uncompressed, ms);
        }
}

int main(int argc, char** argv) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = argc > 1 ? argv[1] : temp;
    if (argc > 2 && std::strcmp(argv[2], "mjpeg") == 0) {  // save_bench.exe <folder> mjpeg [runs]
        MotionJpegFrames(argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[2], "png") == 0) {  // save_bench.exe <folder> png [runs [bits [scene]]]
        ComparePng(folder, argc > 3 ? std::max(1, std::atoi(argv[3])) : 3, argc > 4 ? std::atoi(argv[4]) : 0,
                   argc > 5 && std::strcmp(argv[5], "scene") == 0);
        return 0;
    }
    const int width = 3840, height = 2748;
    const int depths[6] = {8, 16, 24, 32, 48, 64};
    const char* types[7] = {"bmp", "raw", "jpeg100", "jpeg70", "jpeg20", "png", "tiff"};
    std::printf("%-6s %-8s %12s %12s %10s %10s\n", "bits", "type", "save ms", "encoder ms", "save/enc",
                "save/copy");
    for (int bits : depths) {
        CDibImage image;
        if (!image.Create(width, height, bits)) return 1;
        Fill(image);
        CDibImage copy;
        copy.CreateLike(&image);
        const double copyMs = Best(5, [&] { std::memcpy(copy.Bits(), image.Bits(), image.ByteSize()); });
        for (int type = 0; type <= 6; ++type) {
            const std::string name = folder + "\\save_bench." + types[type];
            const int runs = type == 5 ? 1 : 3;  // PNG with libpng's defaults takes seconds
            const double save = Best(runs, [&] { SaveImageFile(name.c_str(), &image, type); });
            // The encoder alone: the writer fed the converted image the dispatcher would make.
            CDibImage converted;
            double encoder = 0;
            using namespace tovira;
            switch (type) {
                case 0:
                    converted.CreateLike(&image);
                    ApplyKernel(converted.View(), RowsCopyFlip, image.View());
                    encoder = Best(runs, [&] { WriteBmpFile(converted, name.c_str()); });
                    break;
                case 1:
                    encoder = save;
                    break;
                case 2: case 3: case 4: {
                    const int quality = type == 2 ? 100 : type == 3 ? 70 : 20;
                    converted.Create(width, height, bits <= 16 ? 8 : 24);
                    ApplyKernel(converted.View(),
                                bits == 8 ? RowsCopyFlip : bits == 16 ? Gray16To8Shift4Flip
                                : bits <= 32 ? Bgr24CopyFlip : Bgr48To24Shift4Flip,
                                image.View());
                    encoder = Best(runs, [&] { WriteJpegFile(name.c_str(), converted, quality, 1); });
                    break;
                }
                case 5:
                    encoder = Best(runs, [&] {
                        WritePngFile(name.c_str(), image.Bits(), width, height, image.Stride(), bits);
                    });
                    break;
                case 6:
                    encoder = save;  // the writer converts itself
                    break;
            }
            std::printf("%-6d %-8s %12.1f %12.1f %10.2f %10.1f\n", bits, types[type], save, encoder,
                        save / encoder, save / copyMs);
            DeleteFileA(name.c_str());
        }
        std::printf("%-6d %-8s %12.2f\n", bits, "memcpy", copyMs);
        std::fflush(stdout);
    }
    return 0;
}
