#include "output/PngDeflate.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <libdeflate.h>

namespace {

// libdeflate's level 6: files as large as zlib's default level makes them, in about a quarter of the time.
constexpr int kCompressionLevel = 6;

// One row in PNG byte order: channels swapped from blue-first to red-first, 16-bit samples big-endian.
void ToPngOrder(const uint8_t* in, uint8_t* out, int width, int bitsPerPixel) {
    const int sampleBytes = (bitsPerPixel == 16 || bitsPerPixel >= 48) ? 2 : 1;
    const int channels = bitsPerPixel / 8 / sampleBytes;
    for (int x = 0; x < width; ++x, in += channels * sampleBytes, out += channels * sampleBytes)
        for (int c = 0; c < channels; ++c) {
            // Blue and red trade places; grey and the fourth channel stay.
            const int from = channels >= 3 && c < 3 ? 2 - c : c;
            if (sampleBytes == 1) {
                out[c] = in[from];
            } else {
                out[2 * c] = in[2 * from + 1];
                out[2 * c + 1] = in[2 * from];
            }
        }
}

inline int Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// Filters `row` (n bytes, bpp bytes per pixel for the left neighbour; `prior` the unfiltered row above,
// zeros for the first) into out[0] (the filter type) and out[1..n]: each of the five filters is tried and
// the one with the smallest sum of |signed byte| kept, ties to the lower filter number, as libpng does.
void FilterRow(const uint8_t* row, const uint8_t* prior, int n, int bpp, uint8_t* out, uint8_t* trial) {
    auto cost = [](const uint8_t* bytes, int count) {
        uint64_t sum = 0;
        for (int i = 0; i < count; ++i) sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
        return sum;
    };
    uint64_t best = cost(row, n);
    out[0] = 0;
    std::memcpy(out + 1, row, static_cast<size_t>(n));
    for (int type = 1; type <= 4; ++type) {
        for (int i = 0; i < n; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
            int predictor = 0;
            switch (type) {
                case 1: predictor = a; break;
                case 2: predictor = b; break;
                case 3: predictor = (a + b) >> 1; break;
                default: predictor = Paeth(a, b, c); break;
            }
            trial[i] = static_cast<uint8_t>(row[i] - predictor);
        }
        const uint64_t sum = cost(trial, n);
        if (sum < best) {
            best = sum;
            out[0] = static_cast<uint8_t>(type);
            std::memcpy(out + 1, trial, static_cast<size_t>(n));
        }
    }
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

bool DeflatePngImage(const uint8_t* const* rows, int width, int height, int bitsPerPixel,
                     std::vector<uint8_t>& stream) {
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(kCompressionLevel));
    if (!compressor) return false;
    const int n = width * (bitsPerPixel / 8);
    const int bpp = bitsPerPixel / 8;
    const size_t filteredRow = static_cast<size_t>(n) + 1;
    std::vector<uint8_t> filtered(filteredRow * static_cast<size_t>(height));
    std::vector<uint8_t> current(static_cast<size_t>(n)), prior(static_cast<size_t>(n), 0), trial(static_cast<size_t>(n));
    for (int y = 0; y < height; ++y) {
        ToPngOrder(rows[y], current.data(), width, bitsPerPixel);
        FilterRow(current.data(), prior.data(), n, bpp, filtered.data() + filteredRow * static_cast<size_t>(y),
                  trial.data());
        current.swap(prior);
    }
    stream.resize(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
    const size_t size = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), stream.data(),
                                                 stream.size());
    if (size == 0) return false;
    stream.resize(size);
    return true;
}
