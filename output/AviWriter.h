// AviWriter: an uncompressed 24-bit AVI file ("DIB " frames, one "00db" chunk per frame, "idx1" index).
//
// Open writes everything up to the "movi" identifier (232 bytes) with the nominal rate of 30 frames per
// second; WriteFrame appends one chunk; Finish writes the index and fills in the sizes, the frame count
// and the rate measured over the recording.
#pragma once

#include <cstdint>
#include <vector>

#include "output/FileWriter.h"

class AviWriter {
public:
    static constexpr uint32_t kHeaderBytes = 232;  // file length after Open
    static constexpr uint32_t kNominalRate = 30;

    // Resets, takes the frame size and opens (truncates or creates) the file. 1, or 0 when the file
    // cannot be opened or the size is not positive.
    int Open(const char* fileName, int width, int height, uint16_t bitCount);
    // Appends one frame of FrameBytes() bytes (bottom-up rows of blue, green, red, padded to 4).
    // 1 when every byte reached the file.
    int WriteFrame(const void* frame);
    // Writes the index and the fields known only at the end. `rate` is frames per second in hundredths
    // (0: unknown, the nominal rate stays). Closes the file. 1 when every write succeeded.
    int Finish(uint32_t rate);
    // Closes the file if open, empties the index and zeroes headers and counters.
    void Reset();

    bool IsOpen() const { return file_.IsOpen(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    uint16_t BitCount() const { return bitCount_; }
    uint32_t FrameCount() const { return frameCount_; }
    uint32_t RowBytes() const { return (3u * static_cast<uint32_t>(width_) + 3u) & ~3u; }
    uint32_t FrameBytes() const { return RowBytes() * static_cast<uint32_t>(height_); }
    bool Failed() const { return failed_; }

    // The measured rate in hundredths of a frame per second: frames x 100000 / elapsed milliseconds, in
    // unsigned 32-bit arithmetic as recorded; 0 for an elapsed time of 0.
    static uint32_t MeasuredRate(uint32_t frames, uint32_t elapsedMs);

private:
    struct IndexEntry {
        char id[4];
        uint32_t flags;
        uint32_t offset;
        uint32_t size;
    };
    static_assert(sizeof(IndexEntry) == 16, "index entries are 16 bytes");

    void buildHeaders();

    CFileWriter file_;
    int width_ = 0, height_ = 0;
    uint16_t bitCount_ = 0;
    uint32_t rate_ = 0;
    uint32_t frameCount_ = 0;
    uint8_t mainHeader_[56] = {};
    uint8_t streamHeader_[64] = {};
    uint8_t format_[40] = {};
    uint32_t riffCounter_ = 0;
    uint32_t moviCounter_ = 0;
    uint32_t moviSizePosition_ = 0;
    std::vector<IndexEntry> index_;
    bool failed_ = false;
};
