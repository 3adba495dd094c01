// AviWriter: an AVI file of one video stream, one chunk per frame, in one of three codecs: uncompressed
// 24-bit ("DIB ", "00db" chunks), uncompressed 8-bit grey (an 8-bit "DIB " with a grey palette) and
// Motion JPEG ("MJPG", one JPEG image per "00dc" chunk, so frames differ in size).
//
// A recording whose file is expected to stay within the first RIFF's limit gets the plain AVI layout:
// Open writes everything up to the "movi" identifier (HeaderBytes(): 232 bytes, 1256 with the grey
// palette) with the nominal rate of 30 frames per second; WriteFrame appends one chunk; Finish writes the
// "idx1" index and fills in the sizes, the frame count and the rate measured over the recording.
//
// A longer recording gets the large-file extension (AVI 2.0): the header also holds a super index
// ("indx") and the total frame count ("odml"/"dmlh"); the first RIFF, with its "idx1", stays within the
// limit and readable by readers that know only the first RIFF, and the frames continue in "RIFF AVIX"
// chunks of at most the same limit. Every RIFF ends its "movi" list with a standard index ("ix00"), which
// the super index lists. A large-layout file that ends within its first RIFF is turned into the plain
// layout by Finish, so every file that fits one RIFF has the plain layout.
//
// The writer keeps the size of every frame (4 bytes a frame, reserved ahead for the expected frames), from
// which each index entry follows; Finish therefore runs at process exit without allocating.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "output/FileWriter.h"

enum class AviCodec { kBgr24, kGrey8, kMjpeg };

class AviWriter {
public:
    static constexpr uint32_t kHeaderBytes = 232;  // file length after Open (plain layout, colour frames)
    static constexpr uint32_t kNominalRate = 30;
    static constexpr uint64_t kRiffLimit = 1ull << 30;  // bytes of each RIFF of a large file

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Resets, takes the frame size and codec and opens (truncates or creates) the file. `bitCount` is
    // the depth of the pictures the frames are made from (kept for the caller). `expectedFrames` is the
    // most frames the recording may bring (0: unknown, taken as few); the layout follows from it, taking
    // a compressed frame as large as an uncompressed one. 1, or 0 when the file cannot be opened or the
    // size is not positive.
    int Open(const char* fileName, int width, int height, uint16_t bitCount, uint32_t expectedFrames = 0,
             AviCodec codec = AviCodec::kBgr24);
    int Open(const wchar_t* fileName, int width, int height, uint16_t bitCount, uint32_t expectedFrames = 0,
             AviCodec codec = AviCodec::kBgr24);
    // Appends one uncompressed frame of FrameBytes() bytes (bottom-up rows padded to 4: blue, green, red,
    // or grey). 1 when the whole frame reached the file; 0 when a write failed (the frame does not count
    // and Failed() is set); -1 when the file has no room for it within its layout (nothing written).
    int WriteFrame(const void* frame);
    // Appends one frame of `bytes` bytes (a JPEG image for Motion JPEG; exactly FrameBytes() for the
    // uncompressed codecs), with the same results.
    int WriteFrame(const void* frame, uint32_t bytes);
    // Rewrites the sizes and frame counts in the headers so that a reader sees every frame written so
    // far, should the file never be finished. 1 when the writes succeeded.
    int Checkpoint();
    // Writes the index and the fields known only at the end. `rate` is frames per second in hundredths
    // (0: the last rate given to NoteRate, else the nominal rate stays). A file in the large layout that
    // still fits one RIFF is turned into the plain layout (its frames move up). The file ends after the last
    // complete frame; when even the index does not fit (full disk), frames are given up from the end until
    // it does, so sizes, counts and index always describe what is in the file. Closes the file. 1 when
    // the file was finished, with every frame WriteFrame accepted.
    int Finish(uint32_t rate);
    // Closes the file if open and zeroes headers and counters.
    void Reset();
    // The rate to use should the file be finished without one (at process exit).
    void NoteRate(uint32_t rate) { notedRate_ = rate; }

    bool IsOpen() const { return file_.IsOpen(); }
    bool IsLarge() const { return large_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    uint16_t BitCount() const { return bitCount_; }
    AviCodec Codec() const { return codec_; }
    uint32_t FrameCount() const { return frameCount_; }
    // An uncompressed frame: rows of 3 bytes a pixel (1 for grey) padded to 4.
    uint32_t RowBytes() const { return RowBytes(width_, codec_); }
    uint32_t FrameBytes() const { return RowBytes() * static_cast<uint32_t>(height_); }
    // Bytes of frame data (without chunk headers) the file holds.
    uint64_t DataBytes() const { return dataBytes_; }
    // File length after Open in the plain layout.
    uint32_t HeaderBytes() const { return kHeaderBytes + paletteBytes(); }
    bool Failed() const { return failed_; }
    static uint32_t RowBytes(int width, AviCodec codec) {
        const uint32_t samples = static_cast<uint32_t>(width) * (codec == AviCodec::kGrey8 ? 1u : 3u);
        return (samples + 3u) & ~3u;
    }

    // The measured rate in hundredths of a frame per second: frames x 100000 / elapsed milliseconds, in
    // unsigned 32-bit arithmetic as recorded; 0 for an elapsed time of 0.
    static uint32_t MeasuredRate(uint32_t frames, uint32_t elapsedMs);
    // Size of a plain-layout file of `frames` 24-bit frames of width x height, index included.
    static uint64_t PlainFileBytes(int width, int height, uint64_t frames);
    // Lowers the RIFF limit (tests only; 0 restores kRiffLimit). Read by Open.
    static void SetRiffLimitForTesting(uint64_t bytes);
    // Finishes every file still open, skipping a writer that another thread holds. Called as the
    // library is unloaded or the process exits.
    static void FinishAllOpen();

private:
    struct Riff {
        uint64_t start = 0;      // position of "RIFF"
        uint64_t moviId = 0;     // position of the "movi" identifier
        uint32_t firstFrame = 0;
        uint32_t frames = 0;
        uint64_t bytes = 0;      // its frame chunks, headers and padding included
        uint64_t end = 0;        // end of its last chunk or index once closed
    };

    static uint64_t ChunkBytes(uint32_t frameBytes) { return 8ull + ((frameBytes + 1ull) & ~1ull); }
    uint32_t paletteBytes() const { return codec_ == AviCodec::kGrey8 ? 1024u : 0u; }
    const char* chunkId() const { return codec_ == AviCodec::kMjpeg ? "00dc" : "00db"; }
    uint64_t plainBytes(uint64_t chunkBytes, uint64_t frames) const;
    bool dropLastFrame();
    void buildHeaders();
    std::vector<uint8_t> headerBytes();
    bool compactToPlain(bool& complete);
    uint64_t dataEnd(const Riff& riff) const;
    uint64_t closedRiffBytes(const Riff& riff, size_t number) const;
    bool writeIndexes(size_t number);
    bool closeRiff(size_t number);
    bool startRiff();
    bool writeCounts();
    bool writeRate(uint32_t rate);
    void finishLocked(uint32_t rate, bool& complete, bool compact);
    void registerOpen();
    void unregisterOpen();

    std::mutex lock_;  // held by the record thread while it writes; FinishAllOpen only tries it
    CFileWriter file_;
    int width_ = 0, height_ = 0;
    uint16_t bitCount_ = 0;
    AviCodec codec_ = AviCodec::kBgr24;
    std::vector<uint32_t> sizes_;  // bytes of each frame written
    uint64_t dataBytes_ = 0;
    uint32_t rate_ = 0, notedRate_ = 0;
    uint32_t frameCount_ = 0;
    uint8_t mainHeader_[56] = {};
    uint8_t streamHeader_[64] = {};
    uint8_t format_[40] = {};  // the bitmap header; the grey palette follows it
    bool large_ = false;
    uint64_t riffLimit_ = kRiffLimit;
    uint32_t superSlots_ = 0;
    uint64_t superIndexPosition_ = 0, totalFramesPosition_ = 0;
    std::vector<Riff> riffs_;  // one for the plain layout
    bool failed_ = false;
};
