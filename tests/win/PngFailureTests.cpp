// A PNG write that fails part-way (the disk is full, the medium went away): libpng reports the failure by
// jumping out of the writer, and whatever the writer had built up by then must still be freed.

#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdint>
#include <vector>

#include "output/ImageFiles.h"

namespace {

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters.PrivateUsage;
}

TEST(PngFailure, AWriteThatFailsFreesTheCompressedImage) {
    // Noise compresses badly: the compressed image is about as large as the pixels (12 MB).
    constexpr int kWidth = 1400, kHeight = 1400, kBits = 48;
    const int stride = (kWidth * kBits / 8 + 3) & ~3;
    std::vector<uint8_t> pixels(size_t(stride) * kHeight);
    uint32_t state = 12345;
    for (uint8_t& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = static_cast<uint8_t>(state >> 24);
    }
    auto failOnce = [&] {
        // A pipe nobody reads: the headers go into the stream's buffer, and the first write that reaches
        // the pipe (the image data, after it was compressed) fails, as on a disk that filled up.
        int ends[2] = {-1, -1};
        ASSERT_EQ(_pipe(ends, 4096, _O_BINARY), 0);
        _close(ends[0]);
        std::FILE* file = _fdopen(ends[1], "wb");
        ASSERT_NE(file, nullptr);
        std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
        EXPECT_EQ(WritePngFile(file, pixels.data(), kWidth, kHeight, stride, kBits), 0);
        std::fclose(file);
    };
    failOnce();  // the allocator's own first-use growth
    const SIZE_T before = PrivateBytes();
    for (int i = 0; i < 12; ++i) failOnce();
    const SIZE_T after = PrivateBytes();
    // Twelve lost images would be over 140 MB.
    EXPECT_LT(after > before ? after - before : 0, SIZE_T(40) << 20) << before << " -> " << after;
}

}  // namespace
