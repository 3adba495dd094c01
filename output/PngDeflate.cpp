#include "output/PngDeflate.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include <emmintrin.h>
#include <libdeflate.h>
#include <zlib.h>

namespace {

// libdeflate's levels. At level 6 noisy pictures come out 1 to 5 % smaller than with libpng's defaults
// (zlib level 6) in a fraction of the time; very smooth ones come out up to 4 % larger, as zlib's longer
// match search pays off there. A part whose level-6 output is under 1/8 of its filtered bytes is
// compressed again at level 7, which costs little on such data and ends 2 % smaller than libpng's.
constexpr int kLevel = 6, kDenseLevel = 7;
constexpr size_t kDenseRatio = 8;
// Noisy parts take level 5 instead: where literals and short matches make up most of the output, level
// 6's longer match search finds little more (within about 1 % of its size) and costs half as much again.
// A part is noisy when level 5 leaves four samples of 128 KiB, spread over it, at a quarter of their
// bytes or more; parts shorter than eight samples are not sampled.
constexpr int kQuickLevel = 5;
constexpr size_t kSampleBytes = 128 * 1024, kSampleCount = 4, kNoisyRatio = 4;

// Parts: a power of two up to kMaxParts, each at least kMinPartBytes of filtered rows. Restarting the
// history costs a few hundred bytes per part, nothing at these sizes.
constexpr int kMaxParts = 8;
constexpr size_t kMinPartBytes = size_t(2) << 20;
// The caller's thread and one helper.
constexpr unsigned kMaxThreads = 2;

// Every part is compressed by libdeflate's ordinary call, which ends it with a final block. For every part
// but the last, that block's final bit is cleared and an empty stored block that is not final follows (3
// header bits, padding to the byte boundary, then LEN 0 and NLEN 0xFFFF), as after zlib's full flush, so
// the next part's blocks continue the same stream. The bits are found by inflating the part with zlib,
// which stops at every block boundary (as zlib's gzjoin example does). Room kept after libdeflate's
// output: the stored block and one byte of header bits.
constexpr size_t kPartEndBytes = 6;

// Pixels [from, width) of a row in PNG byte order, one byte at a time.
void ToPngOrderBytes(const uint8_t* in, uint8_t* out, int from, int width, int bitsPerPixel) {
    const int sampleBytes = (bitsPerPixel == 16 || bitsPerPixel >= 48) ? 2 : 1;
    const int channels = bitsPerPixel / 8 / sampleBytes;
    const int pixelBytes = channels * sampleBytes;
    in += static_cast<size_t>(from) * pixelBytes, out += static_cast<size_t>(from) * pixelBytes;
    for (int x = from; x < width; ++x, in += pixelBytes, out += pixelBytes)
        for (int c = 0; c < channels; ++c) {
            // Blue and red trade places; grey and the fourth channel stay.
            const int source = channels >= 3 && c < 3 ? 2 - c : c;
            if (sampleBytes == 1) {
                out[c] = in[source];
            } else {
                out[2 * c] = in[2 * source + 1];
                out[2 * c + 1] = in[2 * source];
            }
        }
}

inline uint64_t Read64(const uint8_t* at) {
    uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}
inline void Write64(uint8_t* at, uint64_t v) { std::memcpy(at, &v, 8); }

// One row in PNG byte order: channels swapped from blue-first to red-first, 16-bit samples big-endian.
// Pixels are rearranged in 64-bit words: a 48-bit pixel is its six bytes reversed, a 24-bit one its three;
// their 8-byte writes run two or five bytes into the next pixel, written after it, so the row's last
// pixels go byte by byte (as do those whose 8-byte read would pass the row's end).
void ToPngOrder(const uint8_t* in, uint8_t* out, int width, int bitsPerPixel) {
    int x = 0;
    switch (bitsPerPixel) {
        case 8:
            std::memcpy(out, in, static_cast<size_t>(width));
            return;
        case 16:  // four samples a step, each byte-swapped
            for (; x + 4 <= width; x += 4) {
                const uint64_t v = Read64(in + 2 * x);
                Write64(out + 2 * x, ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull));
            }
            break;
        case 24:
            for (; x + 3 <= width; ++x) Write64(out + 3 * x, __builtin_bswap64(Read64(in + 3 * x)) >> 40);
            break;
        case 32:  // two pixels a step: bytes 0 and 2 of each trade places
            for (; x + 2 <= width; x += 2) {
                const uint64_t v = Read64(in + 4 * x);
                Write64(out + 4 * x, (v & 0xFF00FF00FF00FF00ull) | ((v & 0x000000FF000000FFull) << 16) |
                                         ((v >> 16) & 0x000000FF000000FFull));
            }
            break;
        case 48:
            for (; x + 2 <= width; ++x) Write64(out + 6 * x, __builtin_bswap64(Read64(in + 6 * x)) >> 16);
            break;
        case 64: {  // red, green and blue reversed with their bytes, then the fourth sample byte-swapped
            for (; x < width; ++x) {
                const uint64_t r = __builtin_bswap64(Read64(in + 8 * x));
                Write64(out + 8 * x, (r >> 16) | (r << 48));
            }
            break;
        }
        default:
            break;
    }
    ToPngOrderBytes(in, out, x, width, bitsPerPixel);
}

// Cost of a filtered byte: its value read as signed, made positive.
inline uint32_t Cost(uint8_t v) { return v < 128 ? v : 256u - v; }

inline uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

// The same on 16 bytes: left, above, above-left.
inline __m128i Paeth(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    auto half = [&](__m128i a16, __m128i b16, __m128i c16) {
        const __m128i bc = _mm_sub_epi16(b16, c16), ac = _mm_sub_epi16(a16, c16), abc = _mm_add_epi16(bc, ac);
        const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
        const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
        const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i notB = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_and_si128(notB, c16), _mm_andnot_si128(notB, b16));
        return _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a16));
    };
    return _mm_packus_epi16(
        half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero)),
        half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero)));
}

// floor((a + b) / 2) per byte (the average rounds up; the odd sums lose their half).
inline __m128i Average(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// Adds the costs of 16 filtered bytes to two 64-bit sums: |signed byte| = min(v, -v) as unsigned bytes.
inline __m128i AddCost(__m128i sum, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_add_epi64(sum, _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero));
}

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The filter libpng's default heuristic picks for `row` (n bytes, bpp bytes per pixel for the left
// neighbour; `prior` the unfiltered row above, zeros for the first): the one whose filtered bytes have
// the smallest sum of |signed byte|, ties to the lower filter number. All five sums in one pass, 16 bytes
// a step.
int ChooseFilter(const uint8_t* row, const uint8_t* prior, int n, int bpp) {
    uint64_t sums[5] = {};
    const int lead = bpp < n ? bpp : n;  // the first pixel has no left neighbour (a = c = 0)
    for (int i = 0; i < lead; ++i) {
        sums[0] += Cost(row[i]);
        sums[1] += Cost(row[i]);
        sums[2] += Cost(static_cast<uint8_t>(row[i] - prior[i]));
        sums[3] += Cost(static_cast<uint8_t>(row[i] - (prior[i] >> 1)));
        sums[4] += Cost(static_cast<uint8_t>(row[i] - prior[i]));
    }
    int i = lead;
    __m128i none = _mm_setzero_si128(), sub = none, up = none, average = none, paeth = none;
    for (; i + 16 <= n; i += 16) {
        const __m128i x = Load(row + i), a = Load(row + i - bpp), b = Load(prior + i), c = Load(prior + i - bpp);
        none = AddCost(none, x);
        sub = AddCost(sub, _mm_sub_epi8(x, a));
        up = AddCost(up, _mm_sub_epi8(x, b));
        average = AddCost(average, _mm_sub_epi8(x, Average(a, b)));
        paeth = AddCost(paeth, _mm_sub_epi8(x, Paeth(a, b, c)));
    }
    const __m128i vectors[5] = {none, sub, up, average, paeth};
    for (int t = 0; t < 5; ++t)
        sums[t] += static_cast<uint64_t>(_mm_cvtsi128_si64(vectors[t])) +
                   static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(vectors[t], vectors[t])));
    for (; i < n; ++i) {
        const uint8_t x = row[i], a = row[i - bpp], b = prior[i], c = prior[i - bpp];
        sums[0] += Cost(x);
        sums[1] += Cost(static_cast<uint8_t>(x - a));
        sums[2] += Cost(static_cast<uint8_t>(x - b));
        sums[3] += Cost(static_cast<uint8_t>(x - ((a + b) >> 1)));
        sums[4] += Cost(static_cast<uint8_t>(x - Paeth(a, b, c)));
    }
    int best = 0;
    for (int type = 1; type < 5; ++type)
        if (sums[type] < sums[best]) best = type;
    return best;
}

// Writes the filter type and the row filtered with it to out[0..n].
void FilterRow(const uint8_t* row, const uint8_t* prior, int n, int bpp, uint8_t* out) {
    const int type = ChooseFilter(row, prior, n, bpp);
    *out++ = static_cast<uint8_t>(type);
    if (type == 0) {
        std::memcpy(out, row, static_cast<size_t>(n));
        return;
    }
    const int lead = bpp < n ? bpp : n;
    for (int i = 0; i < lead; ++i) {  // a = c = 0
        const uint8_t b = type == 1 ? 0 : prior[i];
        out[i] = static_cast<uint8_t>(row[i] - (type == 3 ? b >> 1 : b));
    }
    int i = lead;
    for (; i + 16 <= n; i += 16) {
        const __m128i x = Load(row + i), a = Load(row + i - bpp), b = Load(prior + i);
        const __m128i predicted = type == 1 ? a : type == 2 ? b : type == 3 ? Average(a, b)
                                                                          : Paeth(a, b, Load(prior + i - bpp));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi8(x, predicted));
    }
    for (; i < n; ++i) {
        const uint8_t a = row[i - bpp], b = prior[i], c = prior[i - bpp];
        const uint8_t predicted = type == 1 ? a : type == 2 ? b : type == 3 ? (a + b) >> 1 : Paeth(a, b, c);
        out[i] = static_cast<uint8_t>(row[i] - predicted);
    }
}

// A raw inflate (no zlib header) for EndPart, made once per thread and reset for each part.
class BlockFinder {
public:
    BlockFinder() : junk_(64 * 1024) { ready_ = inflateInit2(&z_, -15) == Z_OK; }
    ~BlockFinder() {
        if (ready_) inflateEnd(&z_);
    }
    BlockFinder(const BlockFinder&) = delete;
    BlockFinder& operator=(const BlockFinder&) = delete;
    bool ready() const { return ready_; }

    // Turns the raw deflate stream out[0..size), which ends with its final block, into a part that does
    // not end the stream: clears the final bit of its last block and appends an empty stored block that
    // is not final. `out` has room for kPartEndBytes more. Returns the new size, or 0 when the stream is
    // not one whole deflate stream of exactly `size` bytes.
    size_t EndPart(uint8_t* out, size_t size) {
        if (!ready_ || inflateReset(&z_) != Z_OK || size == 0 || size > UINT32_MAX) return 0;
        z_.next_in = out;
        z_.avail_in = static_cast<uInt>(size);
        size_t header = 0;  // bit position of the block being decoded (the first starts at bit 0)
        size_t end = 0;     // bit position just after the final block
        for (;;) {
            z_.next_out = junk_.data();
            z_.avail_out = static_cast<uInt>(junk_.size());
            // Z_BUF_ERROR: nothing read or written, as when the end-of-block code was already in
            // zlib's bit buffer; only a block boundary makes that progress.
            const int result = inflate(&z_, Z_BLOCK);
            if (result != Z_OK && result != Z_BUF_ERROR) return 0;  // the final block's end comes first
            // 128: stopped at a block boundary; 64: the block that just ended was the final one; the low
            // three bits: bits of the last byte read that are not used yet.
            if (result == Z_BUF_ERROR && (z_.data_type & 128) == 0) return 0;
            if (z_.data_type & 128) {
                const size_t bit = static_cast<size_t>(z_.next_in - out) * 8 - (z_.data_type & 7);
                if (z_.data_type & 64) {
                    end = bit;
                    break;
                }
                header = bit;
            } else if (z_.avail_in == 0 && z_.avail_out != 0) {
                return 0;  // ran out of input inside a block
            }
        }
        if ((end + 7) / 8 != size) return 0;  // bytes after the stream, or fewer than it needs
        const uint8_t finalBit = static_cast<uint8_t>(1u << (header % 8));
        if ((out[header / 8] & finalBit) == 0) return 0;
        out[header / 8] &= static_cast<uint8_t>(~finalBit);
        // The stored block's 3 header bits (0: not final, type 0) after `end`, then zeros to the byte
        // boundary, then LEN and NLEN.
        size_t at = end / 8;
        const int used = static_cast<int>(end % 8);
        if (used != 0) {
            out[at] &= static_cast<uint8_t>((1u << used) - 1);
            if (8 - used < 3) out[++at] = 0;  // the header bits run into the next byte
            ++at;
        } else {
            out[at++] = 0;
        }
        const uint8_t storedLength[4] = {0x00, 0x00, 0xFF, 0xFF};
        std::memcpy(out + at, storedLength, 4);
        return at + 4;
    }

private:
    z_stream z_{};
    bool ready_ = false;
    std::vector<uint8_t> junk_;  // inflated bytes, not looked at
};

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// What one thread needs: its compressors, two rows in PNG order and room for a compressed sample.
struct Worker {
    Compressor compressor, dense, quick;
    std::vector<uint8_t> current, prior, sample;
    std::unique_ptr<BlockFinder> blocks;
};

// One part: rows [firstRow, endRow) filtered into `filtered`, then compressed into `out`.
struct Part {
    int firstRow = 0, endRow = 0;
    std::unique_ptr<uint8_t[]> out;  // not cleared: only what libdeflate writes is read
    size_t capacity = 0, size = 0;   // size 0: libdeflate failed (or the part's end was not found)
};

struct Job {
    const uint8_t* const* rows;
    int width, bitsPerPixel;
    size_t rowBytes;  // one filtered row: the filter type and the row
    uint8_t* filtered;
    std::vector<Part> parts;
    std::atomic<int> next{0};
};

// Filters and compresses one part. The row above the part's first row is converted again, so parts
// depend on nothing another thread writes. Allocates nothing (libdeflate and zlib work in what the
// worker holds).
void RunPart(Job& job, Worker& worker, int index) {
    Part& part = job.parts[static_cast<size_t>(index)];
    const int n = static_cast<int>(job.rowBytes - 1), bpp = job.bitsPerPixel / 8;
    if (part.firstRow == 0)
        std::fill(worker.prior.begin(), worker.prior.end(), 0);
    else
        ToPngOrder(job.rows[part.firstRow - 1], worker.prior.data(), job.width, job.bitsPerPixel);
    uint8_t* begin = job.filtered + job.rowBytes * static_cast<size_t>(part.firstRow);
    for (int y = part.firstRow; y < part.endRow; ++y) {
        ToPngOrder(job.rows[y], worker.current.data(), job.width, job.bitsPerPixel);
        FilterRow(worker.current.data(), worker.prior.data(), n, bpp,
                  job.filtered + job.rowBytes * static_cast<size_t>(y));
        worker.current.swap(worker.prior);
    }
    const size_t bytes = job.rowBytes * static_cast<size_t>(part.endRow - part.firstRow);
    const bool last = index + 1 == static_cast<int>(job.parts.size());
    auto compress = [&](libdeflate_compressor* compressor) {
        return libdeflate_deflate_compress(compressor, begin, bytes, part.out.get(), part.capacity - kPartEndBytes);
    };
    libdeflate_compressor* compressor = worker.compressor.get();
    if (bytes >= 2 * kSampleCount * kSampleBytes) {
        size_t sampled = 0;
        for (size_t i = 0; i < kSampleCount; ++i) {
            const uint8_t* at = begin + (bytes - kSampleBytes) / (kSampleCount - 1) * i;
            sampled += libdeflate_deflate_compress(worker.quick.get(), at, kSampleBytes, worker.sample.data(),
                                                   worker.sample.size());
        }
        if (sampled * kNoisyRatio >= kSampleCount * kSampleBytes) compressor = worker.quick.get();
    }
    part.size = compress(compressor);
    if (part.size != 0 && part.size < bytes / kDenseRatio) part.size = compress(worker.dense.get());
    if (part.size != 0 && !last) part.size = worker.blocks->EndPart(part.out.get(), part.size);
}

void RunParts(Job& job, Worker& worker) {
    for (int index; (index = job.next.fetch_add(1)) < static_cast<int>(job.parts.size());)
        RunPart(job, worker, index);
}

void PutBigEndian32(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

}  // namespace

size_t EndDeflatePart(uint8_t* out, size_t size) {
    BlockFinder finder;
    return finder.EndPart(out, size);
}

int PngStreamParts(int width, int height, int bitsPerPixel) {
    const size_t bytes = (static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8) + 1) *
                         static_cast<size_t>(height);
    int parts = 1;
    while (parts < kMaxParts && parts * 2 <= height && bytes / static_cast<size_t>(parts * 2) >= kMinPartBytes)
        parts *= 2;
    return parts;
}

bool DeflatePngImage(const uint8_t* const* rows, int width, int height, int bitsPerPixel,
                     std::vector<uint8_t>& stream) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
    Job job{rows, width, bitsPerPixel, n + 1, nullptr, {}, {}};
    const size_t filteredBytes = job.rowBytes * static_cast<size_t>(height);
    const auto filtered = std::make_unique_for_overwrite<uint8_t[]>(filteredBytes);
    job.filtered = filtered.get();

    // Everything a thread needs is allocated here, so the threads only compute.
    const int partCount = PngStreamParts(width, height, bitsPerPixel);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = std::min({kMaxThreads, cores, static_cast<unsigned>(partCount)});
    std::vector<Worker> workers(threads);
    for (Worker& worker : workers) {
        worker.compressor.reset(libdeflate_alloc_compressor(kLevel));
        worker.dense.reset(libdeflate_alloc_compressor(kDenseLevel));
        worker.quick.reset(libdeflate_alloc_compressor(kQuickLevel));
        worker.blocks = std::make_unique<BlockFinder>();
        if (!worker.compressor || !worker.dense || !worker.quick || !worker.blocks->ready()) return false;
        worker.current.resize(n);
        worker.prior.resize(n);
        // A sample that does not fit counts as noisy (0 bytes written would count as compressible).
        worker.sample.resize(libdeflate_deflate_compress_bound(worker.quick.get(), kSampleBytes));
    }
    job.parts.resize(static_cast<size_t>(partCount));
    for (int i = 0; i < partCount; ++i) {
        Part& part = job.parts[static_cast<size_t>(i)];
        part.firstRow = static_cast<int>(static_cast<int64_t>(height) * i / partCount);
        part.endRow = static_cast<int>(static_cast<int64_t>(height) * (i + 1) / partCount);
        const size_t bytes = job.rowBytes * static_cast<size_t>(part.endRow - part.firstRow);
        part.capacity = libdeflate_deflate_compress_bound(workers[0].compressor.get(), bytes) + kPartEndBytes;
        part.out = std::make_unique_for_overwrite<uint8_t[]>(part.capacity);
    }

    // The helper lives only for this call; without it (one core, or no thread to be had) the caller's
    // thread does every part.
    std::thread helper;
    if (threads > 1) {
        try {
            helper = std::thread([&job, &workers] { RunParts(job, workers[1]); });
        } catch (const std::system_error&) {
        }
    }
    RunParts(job, workers[0]);
    if (helper.joinable()) helper.join();

    // The zlib stream: header (deflate, 32 KiB window, the level hint of level 6), the parts, and the
    // Adler-32 of all filtered rows.
    size_t total = 2 + 4;
    for (const Part& part : job.parts) {
        if (part.size == 0) return false;
        total += part.size;
    }
    stream.resize(total);
    stream[0] = 0x78;
    stream[1] = 0x9C;
    size_t at = 2;
    for (const Part& part : job.parts) {
        std::memcpy(stream.data() + at, part.out.get(), part.size);
        at += part.size;
    }
    PutBigEndian32(stream.data() + at, libdeflate_adler32(1, filtered.get(), filteredBytes));
    return true;
}
