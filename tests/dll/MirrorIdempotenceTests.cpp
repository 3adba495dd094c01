// Setting a mirror to the state it already has changes nothing: neither the Bayer mode nor the colours.
// Only a change of a mirror moves the phase, in both directions (off to on and back).

#include <cstdint>
#include <string>
#include <vector>

#include "CameraDllSupport.h"

namespace {

constexpr int kRedX = 500, kRedY = 1000;  // inside the virtual camera's strong red patch
constexpr int kWidth = 64, kHeight = 48;

struct Colours {
    double blue = 0, green = 0, red = 0;
};

class MirrorIdempotence : public ToviraHandleTest {
protected:
    void SetUp() override {
        ToviraHandleTest::SetUp();
        ASSERT_NE(initialize(), 0);
        PopToviraErrors(handle);
        ASSERT_EQ(Tovira_SetColorMode(handle, 24), 1);
        ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, kRedX, kWidth, 2748, kRedY, kHeight), 1);
    }

    // Channel means of one 24-bit snapshot of the red patch, well below the frame-number strip: the strip
    // (8 rows, its cells bright or dark with the frame number) reaches a few rows further through the
    // demosaic and the sharpness, so rows 8..15 change from frame to frame with the number.
    Colours snapshot() {
        const int stride = (kWidth * 3 + 3) & ~3;
        std::vector<uint8_t> frame(size_t(stride) * kHeight);
        EXPECT_EQ(Tovira_SnapShot(handle, frame.data(), int(frame.size()), 1), 1);
        double sums[3] = {0, 0, 0};
        int count = 0;
        for (int i = 16; i < kHeight; ++i, count += kWidth)
            for (int j = 0; j < kWidth; ++j)
                for (int c = 0; c < 3; ++c) sums[c] += frame[size_t(i) * stride + size_t(j) * 3 + c];
        return {sums[0] / count, sums[1] / count, sums[2] / count};
    }

    int bayerMode() {
        int ok = 0;
        const int mode = Tovira_GetBayerMode(handle, &ok);
        EXPECT_EQ(ok, 1);
        return mode;
    }

    // The red patch stays red: its colours within a few percent of the reference.
    void expectColours(const Colours& reference, const std::string& what) {
        const Colours got = snapshot();
        const auto within = [](double a, double b) { return a > b * 0.93 - 2 && a < b * 1.07 + 2; };
        EXPECT_TRUE(within(got.blue, reference.blue) && within(got.green, reference.green) && within(got.red, reference.red))
            << what << ": B " << got.blue << " G " << got.green << " R " << got.red << ", expected B " << reference.blue
            << " G " << reference.green << " R " << reference.red;
    }
};

using Setter = int (*)(int, int);
using Getter = int (*)(int);

struct Mirror {
    const char* name;
    Setter set;
    Getter get;
    int flip;  // the Bayer mode bit a change of this mirror flips
};

const Mirror kMirrors[] = {{"horizontal", Tovira_SetMirrorH, Tovira_GetMirrorH, 2},
                           {"vertical", Tovira_SetMirrorV, Tovira_GetMirrorV, 1}};

TEST_F(MirrorIdempotence, SettingAMirrorToItsStateKeepsPhaseAndColoursBothWays) {
    const Colours reference = snapshot();
    ASSERT_GT(reference.red, 2 * reference.blue) << "the window must lie in the red patch";
    ASSERT_EQ(bayerMode(), 3);
    for (const Mirror& m : kMirrors) {
        const std::string name = m.name;
        const int before = bayerMode();
        // Off and set off again (twice): nothing moves.
        for (int repeat = 0; repeat < 2; ++repeat) {
            ASSERT_EQ(m.set(handle, 0), 1);
            EXPECT_EQ(m.get(handle), 0);
            EXPECT_EQ(bayerMode(), before) << name << " off while off";
        }
        expectColours(reference, name + " set off while off");
        // On: the phase moves once; on again: it stays.
        ASSERT_EQ(m.set(handle, 1), 1);
        EXPECT_EQ(bayerMode(), before ^ m.flip) << name << " switched on";
        expectColours(reference, name + " switched on");
        ASSERT_EQ(m.set(handle, 1), 1);
        ASSERT_EQ(m.set(handle, 7), 1);  // any nonzero value means on
        EXPECT_EQ(m.get(handle), 1);
        EXPECT_EQ(bayerMode(), before ^ m.flip) << name << " on while on";
        expectColours(reference, name + " set on while on");
        // Off: back to where it started.
        ASSERT_EQ(m.set(handle, 0), 1);
        EXPECT_EQ(bayerMode(), before) << name << " switched off";
        expectColours(reference, name + " switched off");
    }
    // Both mirrors on, each set on again: the phase of both mirrors, the colours unchanged.
    ASSERT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    ASSERT_EQ(Tovira_SetMirrorV(handle, 1), 1);
    ASSERT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    ASSERT_EQ(Tovira_SetMirrorV(handle, 1), 1);
    EXPECT_EQ(bayerMode(), 0);
    expectColours(reference, "both mirrors on, each set on twice");
}

// The stored mirrors come back with a new handle; setting them to that state there moves nothing either.
TEST_F(MirrorIdempotence, StoredMirrorsSetAgainAfterARestartKeepThePhase) {
    const Colours reference = snapshot();
    ASSERT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    const int mode = bayerMode();
    ASSERT_NE(initialize(), 0);  // the release stores the mirror and the Bayer mode
    ASSERT_EQ(Tovira_SetColorMode(handle, 24), 1);
    ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, kRedX, kWidth, 2748, kRedY, kHeight), 1);
    expectColours(reference, "restarted with the stored mirror");  // the capture sends the mirror
    ASSERT_EQ(Tovira_GetMirrorH(handle), 1);
    ASSERT_EQ(bayerMode(), mode);
    ASSERT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    EXPECT_EQ(bayerMode(), mode);
    expectColours(reference, "stored mirror set on again");
}

}  // namespace
