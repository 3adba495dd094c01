// Every filter value through its named export with the virtual camera in slot 0: the range edges, what
// a rejected value leaves behind, and the values that are read back from the sensor.

#include "CameraDllSupport.h"

namespace {

class Param : public ToviraHandleTest {
protected:
    void SetUp() override {
        ToviraHandleTest::SetUp();
        ASSERT_NE(initialize(), 0);
        PopToviraErrors(handle);
    }
};

struct NamedFilter {
    const char* name;
    int id;
    int (*set)(int, int);
    int (*get)(int, int*);
    int low, high;
};

#define FILTER(name, id, low, high) {#name, id, Tovira_Set##name, Tovira_Get##name, low, high}
const NamedFilter kRangedFilters[] = {
    FILTER(Brightness, 1, -255, 255),   FILTER(Contrast, 2, -127, 127),     FILTER(Hue, 3, -360, 360),
    FILTER(Saturation, 4, -255, 255),   FILTER(Sharpness, 5, 0, 30),        FILTER(BayerGainRed, 7, 0, 400),
    FILTER(BayerGainGreen, 8, 0, 400),  FILTER(BayerGainBlue, 9, 0, 400),   FILTER(Gamma, 11, 0, 200),
    FILTER(BayerMode, 12, 0, 3),        FILTER(GlobalGain, 13, 0, 127),     FILTER(ColorGainRed, 14, 0, 127),
    FILTER(ColorGainGreen1, 15, 0, 127), FILTER(ColorGainGreen2, 16, 0, 127), FILTER(ColorGainBlue, 17, 0, 127),
    FILTER(ExposureTime, 18, 0, 8192),  FILTER(GrayMode, 19, 0, 2),         FILTER(GrayGainR, 20, 0, 255),
    FILTER(GrayGainG1, 21, 0, 255),     FILTER(GrayGainG2, 22, 0, 255),     FILTER(GrayGainB, 23, 0, 255),
    FILTER(GrayOffsetR, 24, -255, 255), FILTER(GrayOffsetG1, 25, -255, 255), FILTER(GrayOffsetG2, 26, -255, 255),
    FILTER(GrayOffsetB, 27, -255, 255),
};
#undef FILTER

// What the getter reports after the setter accepted `value`: stored values come back as they are; the
// sensor takes exposure 0 as one line.
int ExpectedReadBack(const NamedFilter& f, int value) { return f.id == 18 && value == 0 ? 1 : value; }

TEST_F(Param, EveryRangedFilterAcceptsItsEdgesAndRefusesOneBeyond) {
    for (const NamedFilter& f : kRangedFilters) {
        SCOPED_TRACE(f.name);
        int ok = 0;
        for (int edge : {f.low, f.high}) {
            EXPECT_EQ(f.set(handle, edge), 1) << edge;
            ok = 0;
            EXPECT_EQ(f.get(handle, &ok), ExpectedReadBack(f, edge));
            EXPECT_EQ(ok, 1);
            // The generic pair is the same value.
            EXPECT_EQ(Tovira_GetFilterValue(handle, f.id, &ok), ExpectedReadBack(f, edge));
        }
        for (int beyond : {f.low - 1, f.high + 1}) {
            EXPECT_EQ(f.set(handle, beyond), 0) << beyond;
            EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER) << beyond;
            EXPECT_EQ(f.get(handle, &ok), ExpectedReadBack(f, f.high)) << "a refused value changes nothing";
        }
        EXPECT_EQ(PopToviraErrors(handle), std::vector<int>{});
    }
}

TEST_F(Param, GreyBalanceRequestHasOnlyTheGenericPair) {
    int ok = 0;
    EXPECT_EQ(Tovira_SetFilterValue(handle, TOVIRA_FILTER_GRAY_BALANCE, 1), 1);
    EXPECT_EQ(Tovira_GetFilterValue(handle, TOVIRA_FILTER_GRAY_BALANCE, &ok), 1);
    EXPECT_EQ(Tovira_SetFilterValue(handle, TOVIRA_FILTER_GRAY_BALANCE, 2), 0);
    EXPECT_EQ(Tovira_SetFilterValue(handle, TOVIRA_FILTER_GRAY_BALANCE, -1), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>({TOVIRA_ERR_PARAMETER, TOVIRA_ERR_PARAMETER}));
}

TEST_F(Param, IdsOutsideOneToTwentyEightAreRefused) {
    int ok = 1;
    EXPECT_EQ(Tovira_SetFilterValue(handle, 0, 0), 0);
    EXPECT_EQ(Tovira_SetFilterValue(handle, 29, 0), 0);
    EXPECT_EQ(Tovira_GetFilterValue(handle, 29, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Tovira_GetFilterValue(handle, -5, nullptr), 0);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>(4, TOVIRA_ERR_PARAMETER));
}

TEST_F(Param, BayerGainRgbPacksThreeBytesAndDropsTheFourth) {
    int ok = 0;
    EXPECT_EQ(Tovira_SetBayerGainRGB(handle, 50 | 100 << 8 | 200 << 16 | 0x7F << 24), 1);
    EXPECT_EQ(Tovira_GetBayerGainRed(handle, &ok), 50);
    EXPECT_EQ(Tovira_GetBayerGainGreen(handle, &ok), 100);
    EXPECT_EQ(Tovira_GetBayerGainBlue(handle, &ok), 200);
    EXPECT_EQ(Tovira_GetBayerGainRGB(handle, &ok), 50 | 100 << 8 | 200 << 16);
    // Gains above 255 are reported by their low byte.
    EXPECT_EQ(Tovira_SetBayerGainRed(handle, 300), 1);
    EXPECT_EQ(Tovira_GetBayerGainRGB(handle, &ok), (300 & 0xFF) | 100 << 8 | 200 << 16);
    EXPECT_EQ(Tovira_SetBayerGainAuto(handle, -7), 1);
    EXPECT_EQ(Tovira_GetBayerGainAuto(handle, &ok), 1);
    EXPECT_EQ(Tovira_SetBayerGainAuto(handle, 0), 1);
    EXPECT_EQ(Tovira_GetBayerGainAuto(handle, &ok), 0);
}

TEST_F(Param, MirrorsMoveTheBayerModeOnlyWhenTheyChange) {
    int ok = 0;
    ASSERT_EQ(Tovira_SetBayerMode(handle, 0), 1);
    EXPECT_EQ(Tovira_SetMirrorH(handle, 1), 1);
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 2);
    EXPECT_EQ(Tovira_GetMirrorH(handle), 1);
    EXPECT_EQ(Tovira_SetMirrorH(handle, 1), 1);  // already on: the phase stays
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 2);
    EXPECT_EQ(Tovira_GetMirrorH(handle), 1);
    EXPECT_EQ(Tovira_SetMirrorV(handle, 1), 1);
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 3);
    EXPECT_EQ(Tovira_GetMirrorV(handle), 1);
    EXPECT_EQ(Tovira_SetMirrorV(handle, 0), 1);
    EXPECT_EQ(Tovira_GetBayerMode(handle, &ok), 2);
    EXPECT_EQ(Tovira_GetMirrorV(handle), 0);
    EXPECT_EQ(Tovira_GetMirrorH(handle), 1);
    int value = 0;
    EXPECT_EQ(Tovira_ReadRegisterEx(handle, 0x3040, &value) & 0xC000, 0x4000);
}

TEST_F(Param, AutoIrisTakesThreeModes) {
    int ok = 0;
    for (int mode : {0, 1, 2}) {
        EXPECT_EQ(Tovira_SetAutoIris(handle, mode), 1);
        EXPECT_EQ(Tovira_GetAutoIris(handle, &ok), mode);
        EXPECT_EQ(ok, 1);
    }
    EXPECT_EQ(Tovira_SetAutoIris(handle, 3), 0);
    EXPECT_EQ(Tovira_SetAutoIris(handle, -1), 0);
    EXPECT_EQ(Tovira_GetAutoIris(handle, &ok), 2);
    EXPECT_EQ(PopToviraErrors(handle), std::vector<int>(2, TOVIRA_ERR_PARAMETER));
}

TEST_F(Param, IoPortAndSerialRomIdentifierBytes) {
    unsigned char inputs = 0xFF;
    EXPECT_EQ(Tovira_GetIOPort(handle, &inputs, 0, 0), 1);
    EXPECT_EQ(inputs, 0);  // both inputs low on the virtual camera
    EXPECT_EQ(Tovira_GetIOPort(handle, nullptr, 0, 0), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(Tovira_SetIOPort(handle, 4, 0, 0), 1);
    EXPECT_EQ(Tovira_SetIOPort(handle, 0, 0, 0), 1);

    int ok = 1;
    EXPECT_EQ(Tovira_ReadSromID(handle, 8, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NOT_READY);
    EXPECT_EQ(Tovira_ReadSromID(handle, 0, &ok), 128);  // neutral grey gain R
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Tovira_WriteSromID(handle, 3, 0x42), 1);
    EXPECT_EQ(Tovira_ReadSromID(handle, 3, &ok), 0x42);
    EXPECT_EQ(Tovira_WriteSromID(handle, 8, 1), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NOT_READY);
}

TEST_F(Param, RealExposureNeedsAPreparedCapture) {
    int ok = 0;
    EXPECT_EQ(Tovira_GetRealExposureTime(handle, &ok), 0);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Tovira_SetRealExposureTime(handle, 452624), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_NOT_READY);
    // Capture mode prepares the full frame: line length 3952, frame length 2891.
    ASSERT_EQ(Tovira_Capture(handle), 1) << Tovira_GetLastError(handle);
    EXPECT_EQ(Tovira_SetExposureTime(handle, 2748), 1);
    EXPECT_EQ(Tovira_GetRealExposureTime(handle, &ok), 452624);
    EXPECT_EQ(Tovira_SetRealExposureTime(handle, 100000), 1);
    EXPECT_EQ(Tovira_GetExposureTime(handle, &ok), 606);
    EXPECT_EQ(Tovira_SetRealExposureTime(handle, 1400000), 0);
    EXPECT_EQ(Tovira_GetLastError(handle), TOVIRA_ERR_PARAMETER);
    Tovira_StopPreview(handle);
}

}  // namespace
