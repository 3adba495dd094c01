// tovira_grabpp: tovira_grab on the C++ layer (ToviraSdk_Z400KX.hpp). A console program without any window:
// it streams, takes each new frame once, prints its id, time stamp, exposure and channel means, and saves
// the last one. The camera, the stream and the error handling are the header's.
//
//   tovira_grabpp [frames] [bits] [file]     defaults: 10 frames, 24 bits per pixel, grab.png
//
// Without a camera, set TOVIRA_VIRTUAL_CAMERAS=0 to use the SDK's virtual camera. Exit code 0 when every
// step worked, 1 when the SDK refused one (the message names the call, the code and its meaning).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ToviraSdk_Z400KX.hpp"

namespace {

int FileTypeOf(const std::string& file) {
    const std::string::size_type dot = file.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : file.substr(dot);
    if (!lstrcmpiA(extension.c_str(), ".bmp")) return TOVIRA_FILE_BMP;
    if (!lstrcmpiA(extension.c_str(), ".raw")) return TOVIRA_FILE_RAW;
    if (!lstrcmpiA(extension.c_str(), ".jpg") || !lstrcmpiA(extension.c_str(), ".jpeg")) return TOVIRA_FILE_JPEG_100;
    if (!lstrcmpiA(extension.c_str(), ".tif") || !lstrcmpiA(extension.c_str(), ".tiff")) return TOVIRA_FILE_TIFF;
    return TOVIRA_FILE_PNG;
}

// Mean of each channel (one for the raw modes, blue, green and red for colour), from the frame's format.
int ChannelMeans(const tovira::Frame& frame, double means[3]) {
    const tovira::FrameFormat& f = frame.format();
    const int sampleBytes = f.bitsPerSample > 8 ? 2 : 1;
    const int channels = f.channels >= 3 ? 3 : 1;
    double sums[3] = {0, 0, 0};
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* row = frame.row(y);
        for (int x = 0; x < f.width; ++x)
            for (int c = 0; c < channels; ++c) {
                const std::uint8_t* s = row + (std::size_t(x) * f.channels + c) * sampleBytes;
                sums[c] += sampleBytes == 2 ? (s[0] | s[1] << 8) : s[0];
            }
    }
    const double pixels = double(f.width) * f.height;
    for (int c = 0; c < channels; ++c) means[c] = pixels > 0 ? sums[c] / pixels : 0;
    return channels;
}

}  // namespace

int main(int argc, char** argv) try {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10;
    const int bits = argc > 2 ? std::atoi(argv[2]) : 24;
    const std::string file = argc > 3 ? argv[3] : "grab.png";

    tovira::Camera camera;
    camera.setColorMode(bits);
    const tovira::FrameFormat format = camera.format();  // known before the first frame
    std::printf("%d x %d, %d bits per pixel, %d bytes a frame\n", format.width, format.height, format.bitsPerPixel,
                format.bytesPerFrame);
    {
        tovira::Stream stream = camera.stream();
        unsigned long long previous = 0;
        tovira::OwnedFrame frame;  // one buffer for every frame
        for (int i = 0; i < frames; ++i) {
            if (!stream.tryNext(frame, 5000)) throw tovira::Error(0, "no frame within 5 s");
            double means[3];
            const int channels = ChannelMeans(frame, means);
            std::printf("frame %llu  t=%.3f ms  %d lines  ids since the last %llu  mean", frame.meta().frameId,
                        frame.meta().timestampUs / 1000.0, frame.meta().exposureLines,
                        previous ? frame.meta().frameId - previous : 1ull);
            for (int c = 0; c < channels; ++c) std::printf(" %.1f", means[c]);
            std::printf("\n");
            previous = frame.meta().frameId;
        }
    }  // the stream stops here; the images keep the last processed frame
    TOVIRAX_COUNTERS counts{};
    counts.size = sizeof counts;
    ToviraX_GetFrameMeta(camera.handle(), nullptr, &counts);
    std::printf("delivered %llu, dropped %llu, failed %llu\n", counts.delivered, counts.dropped, counts.failed);
    camera.saveImage(file, FileTypeOf(file));
    std::printf("saved %s\n", file.c_str());
    return 0;
} catch (const tovira::Error& e) {
    std::printf("%s\n", e.what());
    return 1;
}
