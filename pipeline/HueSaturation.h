// Hue rotation and saturation in 8-bit integer arithmetic on the hexagonal hue circle (1530 steps).
//
// The grey, reciprocal, lightness and sector tables are immutable and shared; the saturation table
// depends on the parameter and is built for each call on the stack, so camera instances running with
// different saturations at the same time cannot disturb each other.
#pragma once

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// In place on the output image (or into another image of the same layout), p = HueSaturationRecord.
// Both also take q = a ToneTableRecord (or nullptr): its table (256 entries for HueSaturationBgr8,
// largest + 1 16-bit entries for HueSaturationBgr16) is applied to every sample the kernel writes, grey
// pixels included, as ToneTableBgr8 / ToneTableBgr16 would after it. HueSaturationBgr8 works on 24/32-bit pixels,
// HueSaturationBgr16 on 48/64-bit pixels whose samples are first reduced to 8 bits (>> bits - 8) and
// widened again when stored. A grey pixel keeps its value.
TOVIRA_PIXEL_KERNEL(HueSaturationBgr8);
TOVIRA_PIXEL_KERNEL(HueSaturationBgr16);

// The hue shift in 1530ths of a turn (0..1529) for a hue in degrees (60 -> 255, 300 -> 1275).
int32_t HueShiftSteps(int32_t hueDegrees);

// One pixel through the hue/saturation transform: 8-bit channels in, packed red << 16 | green << 8 |
// blue out. `saturationTable` holds 256 entries built by BuildSaturationTable.
uint32_t HueSaturationPixel(int32_t red, int32_t green, int32_t blue, int32_t hueSteps,
                            const uint8_t* saturationTable);
void BuildSaturationTable(int32_t saturation, uint8_t table[256]);

}  // namespace tovira
