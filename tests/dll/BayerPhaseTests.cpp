// Colours of a capture window at every start parity, with and without mirroring: the same patch of the
// virtual camera's scene must come out in the same colours wherever the window starts, in the colour
// modes (demosaic, white balance) and the grey modes (grey from colour, grey gains per sensor site).
//
// The scene's patches are fixed on the sensor (columns and rows counted from the active array's
// origin): a strong red patch, a blue one and a light neutral one. The windows below lie inside them
// at every offset used.

#include <cstdint>
#include <string>
#include <vector>

#include "CameraDllSupport.h"

namespace {

constexpr int kRedX = 500, kRedY = 1000;      // inside the red patch (green .30, blue .10, red .80)
constexpr int kBlueX = 500, kBlueY = 1380;    // inside the blue patch (green .10, blue .60, red .10)
constexpr int kNeutralX = 1000, kNeutralY = 1760;  // inside the neutral patch of level .65

struct Means {
    double blue = 0, green = 0, red = 0;
};

std::string Describe(int dx, int dy, int mirrorH, int mirrorV, int width, int height) {
    return "offset parity (" + std::to_string(dx) + ", " + std::to_string(dy) + "), mirrors H " +
           std::to_string(mirrorH) + " V " + std::to_string(mirrorV) + ", window " + std::to_string(width) + " x " +
           std::to_string(height);
}

class BayerPhase : public ToviraHandleTest {
protected:
    void SetUp() override {
        ToviraHandleTest::SetUp();
        ASSERT_NE(initialize(), 0);
        PopToviraErrors(handle);
    }

    // Sets the mirrors only where they change: each mirror call also moves the stored Bayer mode.
    void setMirrors(int h, int v) {
        if (h != mirrorH) ASSERT_EQ(Tovira_SetMirrorH(handle, h), 1);
        if (v != mirrorV) ASSERT_EQ(Tovira_SetMirrorV(handle, v), 1);
        mirrorH = h;
        mirrorV = v;
    }

    // One frame of a width x height window at (x, y) in colour mode `bits`, top line first.
    std::vector<uint8_t> snapshot(int bits, int x, int y, int width, int height) {
        EXPECT_EQ(Tovira_SetColorMode(handle, bits), 1);
        EXPECT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, x, width, 2748, y, height), 1);
        const int stride = (width * bits / 8 + 3) & ~3;
        std::vector<uint8_t> frame(size_t(stride) * height);
        EXPECT_EQ(Tovira_SnapShot(handle, frame.data(), int(frame.size()), 1), 1);
        return frame;
    }

    // Channel means of a colour frame (24 or 48 bits per pixel) below the frame-number strip, on the
    // 8-bit scale.
    Means colourMeans(int bits, int x, int y, int width, int height) {
        const std::vector<uint8_t> frame = snapshot(bits, x, y, width, height);
        const int stride = (width * bits / 8 + 3) & ~3, channels = bits / 8 >= 6 ? 2 : 1;
        double sums[3] = {0, 0, 0};
        int count = 0;
        for (int i = 8; i < height; ++i) {
            const uint8_t* row = frame.data() + size_t(i) * stride;
            for (int j = 0; j < width; ++j, ++count)
                for (int c = 0; c < 3; ++c) {
                    const uint8_t* sample = row + (size_t(j) * 3 + c) * channels;
                    // 16-bit samples hold 12 significant bits.
                    sums[c] += channels == 2 ? (sample[0] | sample[1] << 8) / 16.0 : sample[0];
                }
        }
        return {sums[0] / count, sums[1] / count, sums[2] / count};
    }

    int mirrorH = 0, mirrorV = 0;
};

// The mirror states in an order that flips one mirror per step.
constexpr int kMirrorStates[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

void ExpectNear(const Means& got, const Means& want, const std::string& what) {
    const auto within = [](double a, double b) { return a > b * 0.93 - 2 && a < b * 1.07 + 2; };
    EXPECT_TRUE(within(got.blue, want.blue) && within(got.green, want.green) && within(got.red, want.red))
        << what << ": B " << got.blue << " G " << got.green << " R " << got.red << ", expected B " << want.blue
        << " G " << want.green << " R " << want.red;
}

TEST_F(BayerPhase, PatchesKeepTheirColoursAtEveryWindowParityAndMirror) {
    int ok = 0;
    ASSERT_EQ(Tovira_GetBayerMode(handle, &ok), 3);
    for (int bits : {24, 48}) {
        setMirrors(0, 0);
        const Means red = colourMeans(bits, kRedX, kRedY, 256, 200);
        const Means blue = colourMeans(bits, kBlueX, kBlueY, 256, 200);
        // The reference window itself: red clearly red, blue clearly blue.
        ASSERT_GT(red.red, 3 * red.blue) << bits;
        ASSERT_GT(red.red, 1.5 * red.green) << bits;
        ASSERT_GT(blue.blue, 2 * blue.red) << bits;
        for (const auto& mirrors : kMirrorStates) {
            setMirrors(mirrors[0], mirrors[1]);
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    // Odd sizes move the first sample a mirrored read-out takes.
                    for (const int size : {0, 1}) {
                        const int width = 256 + size, height = 200 + size;
                        const std::string what = std::to_string(bits) + " bits, " +
                                                 Describe(dx, dy, mirrors[0], mirrors[1], width, height);
                        ExpectNear(colourMeans(bits, kRedX + dx, kRedY + dy, width, height), red, "red patch, " + what);
                        ExpectNear(colourMeans(bits, kBlueX + dx, kBlueY + dy, width, height), blue,
                                   "blue patch, " + what);
                    }
        }
    }
    // The stored and reported mode keeps its meaning for the full frame: the windows left it alone, the
    // mirrors moved it (only the vertical one is on at the end: rows swapped, 3 -> 2).
    ok = 0;
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 2);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(PopToviraErrors(handle).empty());
}

TEST_F(BayerPhase, WhiteBalanceMakesANeutralPatchNeutralAtEveryParity) {
    for (const auto& mirrors : kMirrorStates) {
        setMirrors(mirrors[0], mirrors[1]);
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                // Each frame measures itself and is demosaiced with the gains it gave.
                ASSERT_EQ(Tovira_SetBayerGainRed(handle, 100), 1);
                ASSERT_EQ(Tovira_SetBayerGainBlue(handle, 100), 1);
                ASSERT_EQ(Tovira_SetBayerGainAuto(handle, 1), 1);
                const Means m = colourMeans(24, kNeutralX + dx, kNeutralY + dy, 256, 200);
                const std::string what = Describe(dx, dy, mirrors[0], mirrors[1], 256, 200);
                ExpectNear({m.blue, m.green, m.red}, {m.green, m.green, m.green}, "neutral patch, " + what);
                // Under the warm light red needs less gain than blue.
                int ok = 0;
                EXPECT_LT(Tovira_GetBayerGainRed(handle, &ok), Tovira_GetBayerGainBlue(handle, &ok)) << what;
            }
    }
    EXPECT_TRUE(PopToviraErrors(handle).empty());
}

TEST_F(BayerPhase, GreyFromColourFollowsTheWindowPhase) {
    // Grey mode 2 demosaics and weighs red 30, green 59, blue 11: a red patch read with red and blue
    // swapped or mixed comes out darker.
    ASSERT_EQ(Tovira_SetGrayMode(handle, 2), 1);
    const auto greyMean = [&](int x, int y) {
        const std::vector<uint8_t> frame = snapshot(8, x, y, 256, 200);
        double sum = 0;
        for (int i = 8; i < 200; ++i)
            for (int j = 0; j < 256; ++j) sum += frame[size_t(i) * 256 + j];
        return sum / (192 * 256);
    };
    const double reference = greyMean(kRedX, kRedY);
    for (const auto& mirrors : kMirrorStates) {
        setMirrors(mirrors[0], mirrors[1]);
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
                const double grey = greyMean(kRedX + dx, kRedY + dy);
                EXPECT_NEAR(grey, reference, reference * 0.05) << Describe(dx, dy, mirrors[0], mirrors[1], 256, 200);
            }
    }
    EXPECT_TRUE(PopToviraErrors(handle).empty());
}

TEST_F(BayerPhase, GreyGainsStayOnTheirSensorSites) {
    // Grey mode 1 scales each sample by the gain of its colour site (and, every other row pair, by the
    // matching offset value). With the blue gain and offset at 0 exactly one class of sensor sites goes
    // black, and it must be the same class wherever the window starts.
    ASSERT_EQ(Tovira_SetGrayMode(handle, 1), 1);
    ASSERT_EQ(Tovira_SetGrayGainB(handle, 0), 1);
    ASSERT_EQ(Tovira_SetGrayOffsetB(handle, 0), 1);
    const int width = 64, height = 48;
    for (int bits : {8, 16}) {
        int blackClass = -1;  // sensor column parity + 2 x row parity of the sites that went black
        for (const auto& mirrors : kMirrorStates) {
            setMirrors(mirrors[0], mirrors[1]);
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const int x = kBlueX + dx, y = kBlueY + dy;
                    const std::vector<uint8_t> frame = snapshot(bits, x, y, width, height);
                    const int stride = (width * bits / 8 + 3) & ~3;
                    int black[4] = {0, 0, 0, 0}, total[4] = {0, 0, 0, 0};
                    for (int i = 8; i < height; ++i)
                        for (int j = 0; j < width; ++j) {
                            const uint8_t* sample = frame.data() + size_t(i) * stride + size_t(j) * (bits / 8);
                            const int value = bits == 8 ? sample[0] : sample[0] | sample[1] << 8;
                            // The sensor site this output sample came from.
                            const int column = mirrors[0] ? x + width - 1 - j : x + j;
                            const int row = mirrors[1] ? y + height - 1 - i : y + i;
                            const int site = (column & 1) + 2 * (row & 1);
                            ++total[site];
                            if (value == 0) ++black[site];
                        }
                    const std::string what = std::to_string(bits) + " bits, " +
                                             Describe(dx, dy, mirrors[0], mirrors[1], width, height);
                    int found = -1;
                    for (int site = 0; site < 4; ++site) {
                        if (black[site] == total[site]) {
                            EXPECT_EQ(found, -1) << what;
                            found = site;
                        } else {
                            EXPECT_EQ(black[site], 0) << what << ", site class " << site;
                        }
                    }
                    ASSERT_NE(found, -1) << what;
                    if (blackClass < 0) blackClass = found;
                    EXPECT_EQ(found, blackClass) << what;
                }
        }
    }
    EXPECT_TRUE(PopToviraErrors(handle).empty());
}

}  // namespace
