/*
 * tovira_grab: the smallest complete acquisition program for the Z400KX SDK, in plain C. A console
 * program without any window or message loop: it streams, waits for each new frame, prints its id, time
 * stamp and mean values, and saves the last one.
 *
 *   tovira_grab [frames] [bits] [file]     defaults: 10 frames, 24 bits per pixel, grab.png
 *
 * The file type follows the extension (.bmp .raw .jpg .png .tif). Without a camera, set
 * TOVIRA_VIRTUAL_CAMERAS=0 to use the SDK's virtual camera. The exit code is 0 when every step worked.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ToviraSdk_Z400KX_ext.h"

/* Prints why the last call failed, in the user's language; returns the exit code 1. */
static int Fail(int handle, const char* what) {
    char text[256];
    const int code = Tovira_GetLastError(handle);
    ToviraX_GetErrorText(code, text, (int)sizeof text);
    printf("%s failed: error %d, %s\n", what, code, text);
    return 1;
}

static int FileTypeOf(const char* file) {
    const char* dot = strrchr(file, '.');
    if (!dot) return TOVIRA_FILE_PNG;
    if (!lstrcmpiA(dot, ".bmp")) return TOVIRA_FILE_BMP;
    if (!lstrcmpiA(dot, ".raw")) return TOVIRA_FILE_RAW;
    if (!lstrcmpiA(dot, ".jpg") || !lstrcmpiA(dot, ".jpeg")) return TOVIRA_FILE_JPEG_100;
    if (!lstrcmpiA(dot, ".tif") || !lstrcmpiA(dot, ".tiff")) return TOVIRA_FILE_TIFF;
    return TOVIRA_FILE_PNG;
}

/* Mean of each channel: one for 8 and 16 bits per pixel, blue, green and red for the others (8-bit
   samples at 24 and 32 bits, 16-bit samples at 48 and 64). Returns the number of channels. */
static int ChannelMeans(const unsigned char* frame, const TOVIRAX_FRAME_META* meta, double means[3]) {
    const int wide = meta->bitsPerPixel == 16 || meta->bitsPerPixel == 48 || meta->bitsPerPixel == 64;
    const int sampleBytes = wide ? 2 : 1;
    const int pixelSamples = meta->bitsPerPixel / 8 / sampleBytes;
    const int channels = pixelSamples >= 3 ? 3 : 1;
    const double pixels = (double)meta->width * meta->height;
    double sums[3] = {0, 0, 0};
    int x, y, c;
    for (y = 0; y < meta->height; ++y) {
        const unsigned char* row = frame + (size_t)y * meta->stride;
        for (x = 0; x < meta->width; ++x)
            for (c = 0; c < channels; ++c) {
                const unsigned char* s = row + ((size_t)x * pixelSamples + c) * sampleBytes;
                sums[c] += wide ? (s[0] | s[1] << 8) : s[0];
            }
    }
    for (c = 0; c < channels; ++c) means[c] = pixels > 0 ? sums[c] / pixels : 0;
    return channels;
}

int main(int argc, char** argv) {
    const int frames = argc > 1 ? atoi(argv[1]) : 10;
    const int bits = argc > 2 ? atoi(argv[2]) : 24;
    const char* file = argc > 3 ? argv[3] : "grab.png";
    TOVIRAX_FRAME_META meta;
    TOVIRAX_COUNTERS counts;
    unsigned char* frame;
    unsigned long long last;
    int status = 0, i, c;

    const int h = Tovira_Initialize(NULL); /* no window: nothing is posted */
    if (!h) {
        printf("Tovira_Initialize failed\n");
        return 1;
    }
    if (!Tovira_SetColorMode(h, bits)) return Fail(h, "Tovira_SetColorMode");
    if (!Tovira_StartPreview(h)) return Fail(h, "Tovira_StartPreview");

    /* The first frame with its record only, to learn the size of the buffer. */
    meta.size = sizeof meta;
    if (ToviraX_WaitFrame(h, TOVIRAX_NEXT_FRAME, 5000, NULL, 0, 1, &meta) != 1) return Fail(h, "ToviraX_WaitFrame");
    frame = (unsigned char*)malloc((size_t)meta.stride * meta.height);
    if (!frame) return 1;
    printf("%d x %d, %d bits per pixel\n", meta.width, meta.height, meta.bitsPerPixel);

    last = meta.frameId;
    for (i = 0; i < frames; ++i) {
        double means[3];
        int channels;
        /* Each call returns a frame newer than the last one: never the same frame twice. */
        const int got = ToviraX_WaitFrame(h, last, 5000, frame, meta.stride * meta.height, 1, &meta);
        if (got == 0) {
            printf("no frame within 5 s\n");
            status = 1;
            break;
        }
        if (got < 0) {
            status = Fail(h, "ToviraX_WaitFrame");
            break;
        }
        channels = ChannelMeans(frame, &meta, means);
        printf("frame %llu  t=%.3f ms  ids since the last %llu  mean", meta.frameId, meta.timestampUs / 1000.0,
               meta.frameId - last);
        for (c = 0; c < channels; ++c) printf(" %.1f", means[c]);
        printf("\n");
        last = meta.frameId;
    }

    Tovira_StopPreview(h);
    counts.size = sizeof counts;
    ToviraX_GetFrameMeta(h, NULL, &counts);
    printf("delivered %llu, dropped %llu, failed %llu\n", counts.delivered, counts.dropped, counts.failed);

    /* After the stop the images keep the last processed frame. */
    if (status == 0) {
        if (Tovira_SaveImage(h, file, FileTypeOf(file)))
            printf("saved %s\n", file);
        else
            status = Fail(h, "Tovira_SaveImage");
    }
    free(frame);
    Tovira_Release(h);
    return status;
}
