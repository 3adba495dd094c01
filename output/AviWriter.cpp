#include "output/AviWriter.h"

#include <cstring>

namespace {

void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void Put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void PutId(uint8_t* at, const char* id) { std::memcpy(at, id, 4); }

}  // namespace

uint32_t AviWriter::MeasuredRate(uint32_t frames, uint32_t elapsedMs) {
    if (elapsedMs == 0) return 0;
    return frames * 100000u / elapsedMs;
}

void AviWriter::Reset() {
    file_.Close();
    index_.clear();
    index_.shrink_to_fit();
    std::memset(mainHeader_, 0, sizeof(mainHeader_));
    std::memset(streamHeader_, 0, sizeof(streamHeader_));
    std::memset(format_, 0, sizeof(format_));
    riffCounter_ = moviCounter_ = moviSizePosition_ = 0;
    frameCount_ = 0;
    rate_ = 0;
    failed_ = false;
}

void AviWriter::buildHeaders() {
    const uint32_t chunk = FrameBytes() + 8;
    // "avih"
    Put32(mainHeader_ + 0, 1000000u / rate_);    // microseconds per frame
    Put32(mainHeader_ + 4, chunk * rate_);       // maximum bytes per second: one chunk per frame
    Put32(mainHeader_ + 8, 0);                   // padding granularity
    Put32(mainHeader_ + 12, 0x00010010u);        // has index, capture file
    Put32(mainHeader_ + 16, 0);                  // total frames (at the end)
    Put32(mainHeader_ + 20, 0);                  // initial frames
    Put32(mainHeader_ + 24, 1);                  // streams
    Put32(mainHeader_ + 28, chunk);              // suggested buffer size
    Put32(mainHeader_ + 32, static_cast<uint32_t>(width_));
    Put32(mainHeader_ + 36, static_cast<uint32_t>(height_));
    // "strh"
    PutId(streamHeader_ + 0, "vids");
    PutId(streamHeader_ + 4, "DIB ");
    Put32(streamHeader_ + 20, 10000000u / rate_);  // scale
    Put32(streamHeader_ + 24, 10000000u);          // rate: scale / rate is the frame time in seconds
    Put32(streamHeader_ + 36, chunk);              // suggested buffer size
    // "strf": a bottom-up 24-bit bitmap header
    Put32(format_ + 0, 40);
    Put32(format_ + 4, static_cast<uint32_t>(width_));
    Put32(format_ + 8, static_cast<uint32_t>(height_));
    Put16(format_ + 12, 1);
    Put16(format_ + 14, 24);
}

int AviWriter::Open(const char* fileName, int width, int height, uint16_t bitCount) {
    Reset();
    if (width <= 0 || height <= 0 || static_cast<uint64_t>((3ull * width + 3) & ~3ull) * height > 0x7FFFFFF0ull)
        return 0;
    if (!file_.Open(fileName)) return 0;
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    rate_ = kNominalRate;
    buildHeaders();

    uint8_t head[kHeaderBytes] = {};
    PutId(head + 0, "RIFF");
    PutId(head + 8, "AVI ");
    PutId(head + 12, "LIST");
    Put32(head + 16, 4 + (8 + 56) + (8 + 124));
    PutId(head + 20, "hdrl");
    PutId(head + 24, "avih");
    Put32(head + 28, 56);
    std::memcpy(head + 32, mainHeader_, 56);
    PutId(head + 88, "LIST");
    Put32(head + 92, 4 + (8 + 64) + (8 + 40));
    PutId(head + 96, "strl");
    PutId(head + 100, "strh");
    Put32(head + 104, 64);
    std::memcpy(head + 108, streamHeader_, 64);
    PutId(head + 172, "strf");
    Put32(head + 176, 40);
    std::memcpy(head + 180, format_, 40);
    PutId(head + 220, "LIST");
    PutId(head + 228, "movi");
    moviSizePosition_ = 224;
    if (!file_.Write(head, sizeof(head))) {
        file_.Discard();
        Reset();
        return 0;
    }
    riffCounter_ = 224;
    moviCounter_ = 4;
    return 1;
}

int AviWriter::WriteFrame(const void* frame) {
    if (!file_.IsOpen() || !frame) return 0;
    const uint32_t size = FrameBytes();
    // The offset counts from the "movi" identifier, so the first chunk is at 4.
    index_.push_back(IndexEntry{{'0', '0', 'd', 'b'}, 0x10u, moviCounter_, size});
    uint8_t chunkHeader[8];
    PutId(chunkHeader, "00db");
    Put32(chunkHeader + 4, size);
    const bool ok = file_.Write(chunkHeader, 8) && file_.Write(frame, size);
    if (!ok) failed_ = true;
    riffCounter_ += 8 + size;
    moviCounter_ += 8 + size;
    ++frameCount_;
    return ok ? 1 : 0;
}

int AviWriter::Finish(uint32_t rate) {
    if (!file_.IsOpen()) return 0;
    bool ok = file_.SeekEnd();
    const uint32_t indexBytes = 16u * frameCount_;
    uint8_t indexHeader[8];
    PutId(indexHeader, "idx1");
    Put32(indexHeader + 4, indexBytes);
    ok = file_.Write(indexHeader, 8) && ok;
    if (!index_.empty()) ok = file_.Write(index_.data(), index_.size() * sizeof(IndexEntry)) && ok;
    riffCounter_ += 8 + indexBytes;

    ok = file_.Seek(4) && file_.Write32(riffCounter_) && ok;
    ok = file_.Seek(moviSizePosition_) && file_.Write32(moviCounter_) && ok;
    ok = file_.Seek(48) && file_.Write32(frameCount_) && ok;
    ok = file_.Seek(140) && file_.Write32(frameCount_) && ok;
    // A rate of 0 (no time elapsed, or slower than 1/100 frame per second) keeps the nominal timing
    // rather than dividing by zero.
    if (rate != 0) {
        rate_ = rate;
        ok = file_.Seek(32) && file_.Write32(100000000u / rate) && ok;
        ok = file_.Seek(128) && file_.Write32(1000000000u / rate) && ok;
    }
    file_.Close();
    return ok && !failed_ ? 1 : 0;
}
