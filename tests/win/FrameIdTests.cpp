// Frame ids inside the library: the counter read from a transfer's leading line in both transfer widths,
// and the widening that keeps ids growing when the 32-bit counter wraps or starts again.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "camera/FrameIds.h"
#include "device/FrameStamp.h"

namespace {

tovira::FrameGeometry Geometry(int leadingLines) {
    tovira::FrameGeometry g;
    g.linePitch = 40;
    g.firstColumn = 5;
    g.activeWidth = 16;
    g.totalLines = 20;
    g.firstLine = leadingLines;
    g.activeLines = 8;
    g.ringCount = 4;
    g.transferLength = tovira::transferLengthFor(g.linePitch, g.firstLine, g.activeLines);
    return g;
}

TEST(FrameCounter, ReadsFourBytesLeastSignificantFirstInBothWidths) {
    const tovira::FrameGeometry g = Geometry(2);
    std::vector<uint8_t> narrow(g.transferLength, 0xEE), wide(2 * g.transferLength, 0xEE);
    const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    for (int b = 0; b < 4; ++b) {
        narrow[b] = bytes[b];
        wide[2 * b] = bytes[b];
        wide[2 * b + 1] = 0xA0;  // the second byte of a 16-bit position carries nothing of the counter
    }
    EXPECT_EQ(tovira::frameCounterOf(narrow.data(), g, false), 0x12345678u);
    EXPECT_EQ(tovira::frameCounterOf(wide.data(), g, true), 0x12345678u);
    // No leading lines, no counter; no transfer, no counter.
    EXPECT_EQ(tovira::frameCounterOf(narrow.data(), Geometry(0), false), 0u);
    EXPECT_EQ(tovira::frameCounterOf(nullptr, g, false), 0u);
}

TEST(FrameIds, GrowThroughWrapsAndRestartsAndKeepGapsWithinABlock) {
    tovira::FrameIdWidener ids;
    EXPECT_EQ(ids.Widen(5), 5u);
    EXPECT_EQ(ids.Widen(9), 9u);  // a gap stays a gap
    EXPECT_EQ(ids.Widen(0xFFFFFFFEu), 0xFFFFFFFEu);
    // The counter wraps: the next block continues where the last ended.
    EXPECT_EQ(ids.Widen(0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ids.Widen(0), 0x100000000ull);
    EXPECT_EQ(ids.Widen(2), 0x100000002ull);
    // Another camera counting from the start again: still growing.
    EXPECT_EQ(ids.Widen(1), 0x200000001ull);
    // The same counter twice is never the same id.
    EXPECT_EQ(ids.Widen(1), 0x300000001ull);
}

}  // namespace
