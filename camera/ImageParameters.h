#pragma once
// The instance's block of 30 image parameters: the software filter values (filter ids 1..12, 19..28) and
// the white-balance control flags. The order is the stored order of the block; the image dialog saves
// and restores the whole block, and the registry pages "Filter" and "Gray" map onto its first 19 values.

#include <cstdint>

struct ImageParameters {
    int32_t brightness = 0;        // id 1, -255..255, neutral 0
    int32_t contrast = 0;          // id 2, -127..127, neutral 0
    int32_t hue = 0;               // id 3, -360..360 degrees, neutral 0
    int32_t saturation = 0;        // id 4, -255..255, neutral 0
    int32_t sharpness = 0;         // id 5, 0..30, neutral 0
    int32_t bayerGainRed = 0;      // id 7, 0..400, 100 = unity
    int32_t bayerGainGreen = 0;    // id 8
    int32_t bayerGainBlue = 0;     // id 9
    int32_t gamma = 0;             // id 11, 0..200, neutral 100
    int32_t bayerMode = 0;         // id 12, 0..3: colour of the raw sample at even/odd rows and columns
    int32_t grayMode = 0;          // id 19, 0..2
    int32_t grayGain[4] = {};      // ids 20..23: R, G1, G2, B, 0..255, neutral 128
    int32_t grayOffset[4] = {};    // ids 24..27: R, G1, G2, B, -255..255, neutral 128 as stored
    int32_t whiteBalanceAuto = 0;  // id 10: balance every frame while set
    int32_t whiteBalanceOnce[2] = {}; // the image dialog's "Once": both set with the auto flag, cleared after one frame
    int32_t grayBalanceRequest = 0;   // id 28: measure the grey gains on the next frame
    int32_t reserved[7] = {};
};
static_assert(sizeof(ImageParameters) == 30 * sizeof(int32_t), "the image parameter block is 30 integers");
