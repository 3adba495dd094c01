#include "output/PngDeflate.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <libdeflate.h>

namespace {

// libdeflate's levels that keep the files within about 2 % of libpng's defaults (zlib level 6) in a
// fraction of the time: 8-bit samples come out smaller already at level 6, 16-bit samples need level 7.
constexpr int kLevel8 = 6, kLevel16 = 7;

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

// Cost of a filtered row: the sum of its bytes read as signed values, made positive.
inline uint32_t Cost(uint8_t v) { return v < 128 ? v : 256 - v; }

// Filters `row` (n bytes, bpp bytes per pixel for the left neighbour; `prior` the unfiltered row above,
// zeros for the first) into out[0] (the filter type) and out[1..n]: each of the five filters is tried and
// the one with the smallest sum of |signed byte| kept, ties to the lower filter number, as libpng does.
// Each filter is its own plain loop, which the compiler turns into vector code.
__attribute__((optimize("O3"))) void FilterRow(const uint8_t* __restrict row, const uint8_t* __restrict prior,
                                               int n, int bpp, uint8_t* __restrict out,
                                               uint8_t* __restrict trial) {
    uint64_t best = 0;
    for (int i = 0; i < n; ++i) best += Cost(row[i]);
    out[0] = 0;
    std::memcpy(out + 1, row, static_cast<size_t>(n));
    auto keep = [&](int type) {
        uint64_t sum = 0;
        for (int i = 0; i < n; ++i) sum += Cost(trial[i]);
        if (sum < best) {
            best = sum;
            out[0] = static_cast<uint8_t>(type);
            std::memcpy(out + 1, trial, static_cast<size_t>(n));
        }
    };
    const int lead = bpp < n ? bpp : n;  // the first pixel has no left neighbour (a = c = 0)
    // Sub
    for (int i = 0; i < lead; ++i) trial[i] = row[i];
    for (int i = lead; i < n; ++i) trial[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    keep(1);
    // Up
    for (int i = 0; i < n; ++i) trial[i] = static_cast<uint8_t>(row[i] - prior[i]);
    keep(2);
    // Average
    for (int i = 0; i < lead; ++i) trial[i] = static_cast<uint8_t>(row[i] - (prior[i] >> 1));
    for (int i = lead; i < n; ++i) trial[i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + prior[i]) >> 1));
    keep(3);
    // Paeth
    for (int i = 0; i < lead; ++i) trial[i] = static_cast<uint8_t>(row[i] - prior[i]);
    for (int i = lead; i < n; ++i) {
        const int a = row[i - bpp], b = prior[i], c = prior[i - bpp];
        const int p = a + b - c, pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
        trial[i] = static_cast<uint8_t>(row[i] - ((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c)));
    }
    keep(4);
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

bool DeflatePngImage(const uint8_t* const* rows, int width, int height, int bitsPerPixel,
                     std::vector<uint8_t>& stream) {
    const bool deep = bitsPerPixel == 16 || bitsPerPixel >= 48;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(deep ? kLevel16 : kLevel8));
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
