#include "output/AviWriter.h"

#include "output/ReplaceFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void Put16(uint8_t* at, uint16_t value) { std::memcpy(at, &value, 2); }
void Put64(uint8_t* at, uint64_t value) { std::memcpy(at, &value, 8); }
void PutId(uint8_t* at, const char* id) { std::memcpy(at, id, 4); }

constexpr uint32_t kKeyFrame = 0x10u;    // idx1 flag
constexpr uint32_t kIndexOfIndexes = 0;  // "indx" type of the super index
constexpr uint32_t kIndexOfChunks = 1;   // "ix00" type of a standard index
constexpr uint32_t kSuperIndexHeader = 24, kStandardIndexHeader = 24;
constexpr uint32_t kMinSuperSlots = 256, kMaxSuperSlots = 65536;

std::atomic<uint64_t> testRiffLimit{0};

// Writers with an open file, for FinishAllOpen. Registration happens at Open and Finish only.
std::mutex openWritersLock;
std::vector<AviWriter*>& OpenWriters() {
    static std::vector<AviWriter*> writers;
    return writers;
}

}  // namespace

AviWriter::~AviWriter() {
    Reset();
}

uint32_t AviWriter::MeasuredRate(uint32_t frames, uint32_t elapsedMs) {
    if (elapsedMs == 0) return 0;
    // In 64 bits: past 42,949 frames the product no longer fits 32.
    const uint64_t rate = static_cast<uint64_t>(frames) * 100000u / elapsedMs;
    return rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
}

uint64_t AviWriter::PlainFileBytes(int width, int height, uint64_t frames) {
    const uint64_t frame = static_cast<uint64_t>((3ull * width + 3) & ~3ull) * static_cast<uint64_t>(height);
    return kHeaderBytes + frames * (frame + 8) + 8 + 16 * frames;
}

// Headers, `chunkBytes` of frame chunks and the idx1 of `frames` entries.
uint64_t AviWriter::plainBytes(uint64_t chunkBytes, uint64_t frames) const {
    return HeaderBytes() + chunkBytes + 8 + 16 * frames;
}

void AviWriter::SetRiffLimitForTesting(uint64_t bytes) { testRiffLimit = bytes; }

void AviWriter::registerOpen() {
    std::lock_guard<std::mutex> guard(openWritersLock);
    OpenWriters().push_back(this);
}

void AviWriter::unregisterOpen() {
    std::lock_guard<std::mutex> guard(openWritersLock);
    auto& writers = OpenWriters();
    writers.erase(std::remove(writers.begin(), writers.end(), this), writers.end());
}

void AviWriter::FinishAllOpen() {
    std::unique_lock<std::mutex> guard(openWritersLock, std::try_to_lock);
    if (!guard.owns_lock()) return;
    for (AviWriter* writer : OpenWriters()) {
        std::unique_lock<std::mutex> held(writer->lock_, std::try_to_lock);
        if (!held.owns_lock() || !writer->file_.IsOpen()) continue;
        bool complete = true;
        writer->finishLocked(0, complete, false);  // nothing is allocated or moved at exit
    }
    OpenWriters().clear();
}

void AviWriter::Reset() {
    if (file_.IsOpen()) unregisterOpen();
    std::lock_guard<std::mutex> guard(lock_);
    file_.Close();
    riffs_.clear();
    sizes_.clear();
    dataBytes_ = 0;
    codec_ = AviCodec::kBgr24;
    std::memset(mainHeader_, 0, sizeof(mainHeader_));
    std::memset(streamHeader_, 0, sizeof(streamHeader_));
    std::memset(format_, 0, sizeof(format_));
    frameCount_ = 0;
    rate_ = notedRate_ = 0;
    large_ = false;
    superSlots_ = 0;
    superIndexPosition_ = totalFramesPosition_ = 0;
    failed_ = false;
}

void AviWriter::buildHeaders() {
    // Compressed frames are taken as large as uncompressed ones: the sizes are only suggestions.
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
    PutId(streamHeader_ + 4, codec_ == AviCodec::kMjpeg ? "MJPG" : "DIB ");
    Put32(streamHeader_ + 20, 10000000u / rate_);  // scale
    Put32(streamHeader_ + 24, 10000000u);          // rate: scale / rate is the frame time in seconds
    Put32(streamHeader_ + 36, chunk);              // suggested buffer size
    // "strf": a bottom-up bitmap header (24-bit, 8-bit with 256 grey entries, or Motion JPEG), the
    // palette after it
    Put32(format_ + 0, 40);
    Put32(format_ + 4, static_cast<uint32_t>(width_));
    Put32(format_ + 8, static_cast<uint32_t>(height_));
    Put16(format_ + 12, 1);
    Put16(format_ + 14, codec_ == AviCodec::kGrey8 ? 8 : 24);
    if (codec_ == AviCodec::kMjpeg) {
        PutId(format_ + 16, "MJPG");
        Put32(format_ + 20, 3u * static_cast<uint32_t>(width_) * static_cast<uint32_t>(height_));
    }
    if (codec_ == AviCodec::kGrey8) {
        Put32(format_ + 20, FrameBytes());
        Put32(format_ + 32, 256);  // colours used
    }
}

// Everything up to and including the "movi" identifier: HeaderBytes() in the plain layout; in the large
// layout also the super index (superSlots_ entries) and the "odml" list.
std::vector<uint8_t> AviWriter::headerBytes() {
    const uint32_t palette = paletteBytes();
    const uint64_t moviList = (large_ ? 520ull + 16ull * superSlots_ : 220) + palette;
    std::vector<uint8_t> head(moviList + 12);
    uint8_t* h = head.data();
    PutId(h + 0, "RIFF");
    PutId(h + 8, "AVI ");
    PutId(h + 12, "LIST");
    Put32(h + 16, static_cast<uint32_t>(moviList - 20));
    PutId(h + 20, "hdrl");
    PutId(h + 24, "avih");
    Put32(h + 28, 56);
    std::memcpy(h + 32, mainHeader_, 56);
    PutId(h + 88, "LIST");
    Put32(h + 92, (large_ ? 156 + 16 * superSlots_ : 4 + (8 + 64) + (8 + 40)) + palette);
    PutId(h + 96, "strl");
    PutId(h + 100, "strh");
    Put32(h + 104, 64);
    std::memcpy(h + 108, streamHeader_, 64);
    PutId(h + 172, "strf");
    Put32(h + 176, 40 + palette);
    std::memcpy(h + 180, format_, 40);
    for (uint32_t i = 0; i < palette / 4; ++i) {
        uint8_t* entry = h + 220 + 4 * i;  // blue, green, red, reserved
        entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
    }
    if (large_) {
        // Super index: one entry per RIFF, filled in as each RIFF is closed.
        uint8_t* x = h + 220 + palette;
        PutId(x, "indx");
        Put32(x + 4, kSuperIndexHeader + 16 * superSlots_);
        Put16(x + 8, 4);  // longs per entry
        x[11] = kIndexOfIndexes;
        PutId(x + 16, chunkId());
        const uint64_t odml = 252ull + 16ull * superSlots_ + palette;
        PutId(h + odml, "LIST");
        Put32(h + odml + 4, 4 + 8 + 248);
        PutId(h + odml + 8, "odml");
        PutId(h + odml + 12, "dmlh");
        Put32(h + odml + 16, 248);
    }
    PutId(h + moviList, "LIST");
    PutId(h + moviList + 8, "movi");
    return head;
}

int AviWriter::Open(const char* fileName, int width, int height, uint16_t bitCount, uint32_t expectedFrames,
                    AviCodec codec) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    if (wide.empty()) {
        Reset();
        return 0;
    }
    return Open(wide.c_str(), width, height, bitCount, expectedFrames, codec);
}

int AviWriter::Open(const wchar_t* fileName, int width, int height, uint16_t bitCount,
                    uint32_t expectedFrames, AviCodec codec) {
    Reset();
    std::lock_guard<std::mutex> guard(lock_);
    if (width <= 0 || height <= 0 || static_cast<uint64_t>((3ull * width + 3) & ~3ull) * height > 0x7FFFFFF0ull)
        return 0;
    width_ = width;
    height_ = height;
    codec_ = codec;
    try {
        // At most a million sizes ahead (4 MB); a longer recording grows the list as it goes.
        sizes_.reserve(std::min<uint32_t>(expectedFrames, 1u << 20));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!file_.Open(fileName)) return 0;
    bitCount_ = bitCount;
    rate_ = kNominalRate;
    buildHeaders();
    riffLimit_ = testRiffLimit ? testRiffLimit.load() : kRiffLimit;
    large_ = plainBytes(ChunkBytes(FrameBytes()) * expectedFrames, expectedFrames) > riffLimit_;

    if (large_) {
        // Enough super index entries for the RIFFs the expected frames fill, twice over.
        const uint64_t chunk = FrameBytes() + 8ull;
        const uint64_t perRiff = std::max<uint64_t>(1, (riffLimit_ - 1024) / (chunk + 24));
        const uint64_t riffs = expectedFrames / perRiff + 2;
        superSlots_ = static_cast<uint32_t>(std::clamp<uint64_t>(2 * riffs, kMinSuperSlots, kMaxSuperSlots));
    }
    const std::vector<uint8_t> head = headerBytes();
    if (!file_.Write(head.data(), head.size())) {
        file_.Discard();
        return 0;
    }
    const uint64_t moviList = head.size() - 12;
    if (large_) {
        superIndexPosition_ = 228 + paletteBytes();
        totalFramesPosition_ = 252ull + 16ull * superSlots_ + 20 + paletteBytes();
    }
    riffs_.reserve(large_ ? superSlots_ + 1 : 1);
    Riff first;
    first.moviId = moviList + 8;
    riffs_.push_back(first);
    registerOpen();
    return 1;
}

uint64_t AviWriter::dataEnd(const Riff& riff) const { return riff.moviId + 4 + riff.bytes; }

// Bytes the RIFF takes once closed with `frames` frames: chunks, standard index, and for the first RIFF
// its "idx1".
uint64_t AviWriter::closedRiffBytes(const Riff& riff, size_t number) const {
    uint64_t bytes = dataEnd(riff) - riff.start;
    if (large_) bytes += 8 + kStandardIndexHeader + 8ull * riff.frames;
    if (number == 0) bytes += 8 + 16ull * riff.frames;
    return bytes;
}

// Ends the RIFF's data after its last complete frame and writes its indexes; sets riff.end.
bool AviWriter::writeIndexes(size_t number) {
    Riff& riff = riffs_[number];
    const uint64_t end = dataEnd(riff);
    if (!file_.Truncate(end)) return false;
    uint8_t block[4096];
    uint64_t moviEnd = end;
    if (large_) {
        // Standard index: offsets of the frame data (after each chunk header) from the "movi" identifier.
        uint8_t* x = block;
        std::memset(x, 0, 32);
        PutId(x, "ix00");
        Put32(x + 4, kStandardIndexHeader + 8 * riff.frames);
        Put16(x + 8, 2);  // longs per entry
        x[11] = kIndexOfChunks;
        Put32(x + 12, riff.frames);
        PutId(x + 16, chunkId());
        Put64(x + 20, riff.moviId);
        if (!file_.Write(block, 32)) return false;
        uint64_t data = 4 + 8;  // the first frame's data, from the "movi" identifier
        for (uint32_t i = 0; i < riff.frames;) {
            const uint32_t n = std::min<uint32_t>(riff.frames - i, sizeof(block) / 8);
            for (uint32_t j = 0; j < n; ++j) {
                const uint32_t size = sizes_[riff.firstFrame + i + j];
                Put32(block + 8 * j, static_cast<uint32_t>(data));
                Put32(block + 8 * j + 4, size);  // bit 31 clear: a key frame
                data += ChunkBytes(size);
            }
            if (!file_.Write(block, 8 * n)) return false;
            i += n;
        }
        moviEnd += 8 + kStandardIndexHeader + 8ull * riff.frames;
    }
    uint64_t riffEnd = moviEnd;
    if (number == 0) {
        // idx1: offsets of the chunks from the "movi" identifier (4 for the first).
        PutId(block, "idx1");
        Put32(block + 4, 16 * riff.frames);
        if (!file_.Write(block, 8)) return false;
        uint64_t chunk = 4;
        for (uint32_t i = 0; i < riff.frames;) {
            const uint32_t n = std::min<uint32_t>(riff.frames - i, sizeof(block) / 16);
            for (uint32_t j = 0; j < n; ++j) {
                uint8_t* e = block + 16 * j;
                const uint32_t size = sizes_[i + j];
                PutId(e, chunkId());
                Put32(e + 4, kKeyFrame);
                Put32(e + 8, static_cast<uint32_t>(chunk));
                Put32(e + 12, size);
                chunk += ChunkBytes(size);
            }
            if (!file_.Write(block, 16 * n)) return false;
            i += n;
        }
        riffEnd += 8 + 16ull * riff.frames;
    }
    riff.end = riffEnd;
    return file_.Seek(riff.start + 4) && file_.Write32(static_cast<uint32_t>(riffEnd - riff.start - 8)) &&
           file_.Seek(riff.moviId - 4) && file_.Write32(static_cast<uint32_t>(moviEnd - riff.moviId));
}

bool AviWriter::closeRiff(size_t number) {
    Riff& riff = riffs_[number];
    if (!writeIndexes(number)) return false;
    if (!large_) return true;
    uint8_t entry[16];
    Put64(entry, dataEnd(riff));  // the "ix00" follows the last chunk
    Put32(entry + 8, 8 + kStandardIndexHeader + 8 * riff.frames);
    Put32(entry + 12, riff.frames);
    return file_.Seek(superIndexPosition_ + 24 + 16ull * number) && file_.Write(entry, 16) &&
           file_.Seek(superIndexPosition_ + 4) && file_.Write32(static_cast<uint32_t>(number + 1));
}

bool AviWriter::startRiff() {
    const Riff& last = riffs_.back();
    Riff next;
    next.start = last.end;
    next.moviId = next.start + 20;
    next.firstFrame = last.firstFrame + last.frames;
    uint8_t head[24] = {};
    PutId(head, "RIFF");
    PutId(head + 8, "AVIX");
    PutId(head + 12, "LIST");
    PutId(head + 20, "movi");
    if (!file_.Seek(next.start) || !file_.Write(head, sizeof(head))) return false;
    riffs_.push_back(next);
    return true;
}

bool AviWriter::writeCounts() {
    // The main header counts the frames of the first RIFF, the stream header all of them.
    bool ok = file_.Seek(48) && file_.Write32(riffs_.front().frames);
    ok = ok && file_.Seek(140) && file_.Write32(frameCount_);
    if (large_) ok = ok && file_.Seek(totalFramesPosition_) && file_.Write32(frameCount_);
    return ok;
}

bool AviWriter::writeRate(uint32_t rate) {
    // A rate of 0 (no time elapsed, or slower than 1/100 frame per second) keeps the nominal timing
    // rather than dividing by zero.
    if (rate == 0) return true;
    rate_ = rate;
    return file_.Seek(32) && file_.Write32(100000000u / rate) && file_.Seek(128) &&
           file_.Write32(1000000000u / rate);
}

int AviWriter::WriteFrame(const void* frame) {
    if (codec_ == AviCodec::kMjpeg) return 0;
    return WriteFrame(frame, FrameBytes());
}

int AviWriter::WriteFrame(const void* frame, uint32_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_.IsOpen() || !frame || failed_ || bytes == 0 || bytes > 0x7FFFFF00u) return 0;
    if (codec_ != AviCodec::kMjpeg && bytes != FrameBytes()) return 0;
    const uint64_t chunk = ChunkBytes(bytes);
    if (large_) {
        const size_t number = riffs_.size() - 1;
        Riff grown = riffs_.back();
        ++grown.frames;
        grown.bytes += chunk;
        if (closedRiffBytes(grown, number) > riffLimit_) {
            if (riffs_.back().frames == 0 || riffs_.size() >= superSlots_) return -1;
            if (!closeRiff(number) || !startRiff()) {
                failed_ = true;
                return 0;
            }
        }
    } else {
        // The plain layout ends where 32-bit readers stop; past the limit only when more frames came
        // than expected at Open.
        const uint64_t plainLimit = std::min<uint64_t>(2 * riffLimit_, 0x7FFFFFFFull);
        if (plainBytes(riffs_.back().bytes + chunk, frameCount_ + 1ull) > plainLimit) return -1;
    }
    try {
        sizes_.push_back(bytes);
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return 0;
    }
    Riff& riff = riffs_.back();
    uint8_t chunkHeader[8];
    PutId(chunkHeader, chunkId());
    Put32(chunkHeader + 4, bytes);
    static const uint8_t kPad = 0;
    const bool ok = file_.Seek(dataEnd(riff)) && file_.Write(chunkHeader, 8) && file_.Write(frame, bytes) &&
                    (chunk == 8ull + bytes || file_.Write(&kPad, 1));
    if (!ok) {
        sizes_.pop_back();
        failed_ = true;
        return 0;
    }
    ++riff.frames;
    riff.bytes += chunk;
    ++frameCount_;
    dataBytes_ += bytes;
    return 1;
}

// Gives up the last frame of the last RIFF (its chunk stays until the file is cut after the index).
bool AviWriter::dropLastFrame() {
    Riff& riff = riffs_.back();
    if (riff.frames == 0 || sizes_.empty()) return false;
    const uint32_t bytes = sizes_.back();
    sizes_.pop_back();
    --riff.frames;
    riff.bytes -= ChunkBytes(bytes);
    --frameCount_;
    dataBytes_ -= bytes;
    return true;
}

int AviWriter::Checkpoint() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_.IsOpen()) return 0;
    const Riff& riff = riffs_.back();
    const uint64_t end = dataEnd(riff);
    const bool ok = file_.Seek(riff.start + 4) && file_.Write32(static_cast<uint32_t>(end - riff.start - 8)) &&
                    file_.Seek(riff.moviId - 4) && file_.Write32(static_cast<uint32_t>(end - riff.moviId)) &&
                    writeCounts();
    return ok ? 1 : 0;
}

// A large-layout file that ended within its first RIFF gets the plain layout after all: its frames move
// up behind the 232 header bytes, so every file that fits one RIFF has the same layout. Frames moved
// completely before a failed read or write stay; the rest are given up.
bool AviWriter::compactToPlain(bool& complete) {
    Riff& riff = riffs_.front();
    const uint64_t total = riff.bytes;
    const uint64_t from = riff.moviId + 4, to = HeaderBytes();
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(std::min<uint64_t>(total, 4u << 20)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Forwards in blocks: each block is read before its bytes are overwritten, and the destination
    // always lies before the source.
    for (uint64_t done = 0; done < total;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), total - done));
        if (!file_.Seek(from + done) || !file_.Read(buffer.data(), n) || !file_.Seek(to + done) ||
            !file_.Write(buffer.data(), n)) {
            // Only the frames whose chunks moved completely stay.
            while (riff.bytes > done) dropLastFrame();
            complete = false;
            break;
        }
        done += n;
    }
    large_ = false;
    superSlots_ = 0;
    superIndexPosition_ = totalFramesPosition_ = 0;
    riff.moviId = HeaderBytes() - 4;
    const std::vector<uint8_t> head = headerBytes();
    return file_.Seek(0) && file_.Write(head.data(), head.size());
}

void AviWriter::finishLocked(uint32_t rate, bool& complete, bool compact) {
    if (rate == 0) rate = notedRate_;
    if (compact && large_ && riffs_.size() == 1 && plainBytes(riffs_[0].bytes, frameCount_) <= riffLimit_ &&
        !compactToPlain(complete))
        complete = false;
    for (;;) {
        const size_t number = riffs_.size() - 1;
        if (closeRiff(number) && writeCounts() && writeRate(rate)) break;
        // No room even for the index (full disk): give up frames from the end until it fits.
        complete = false;
        if (dropLastFrame()) continue;
        Riff& riff = riffs_.back();
        if (number == 0) break;
        file_.Truncate(riff.start);
        riffs_.pop_back();
    }
    file_.Close();
}

int AviWriter::Finish(uint32_t rate) {
    bool complete = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!file_.IsOpen()) return 0;
        finishLocked(rate, complete, true);
    }
    unregisterOpen();
    return complete && !failed_ ? 1 : 0;
}
