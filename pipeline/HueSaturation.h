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

struct ToneTableRecord;

// The transform of HueSaturationBgr8 and the 8-bit table after it (the kernel's q) for pixels that
// another stage hands over as planes of bytes (the demosaic, see DemosaicInteriorHue8), prepared once
// from the records. Read-only while in use: any number of threads may share one.
struct HuePlanes8 {
  int32_t hueSteps;
  int32_t saturation;  // clamped to -255..255
  uint8_t saturationTable[256];
  const ToneTableRecord* tone;  // nullptr: no table after the transform
};
void PrepareHuePlanes8(const HueSaturationRecord& record, const ToneTableRecord* tone, HuePlanes8& planes);

// n pixels whose blue, green and red lie in three planes of bytes (blue at `planes`, green planeBytes
// after it, red 2 * planeBytes after it) into n pixels of bpp 3 or 4 bytes at `target` (a fourth byte
// keeps its value): what HueSaturationBgr8 with the table would make of those pixels. The planes must
// not overlap the target.
void HueFromPlanes8(const HuePlanes8& h, const uint8_t* planes, int32_t planeBytes, uint8_t* target, int32_t n,
                    int32_t bpp);
// The same for n pixels of bpp 3 or 4 bytes in place.
void HueOnPixels8(const HuePlanes8& h, uint8_t* pixels, int32_t n, int32_t bpp);

}  // namespace tovira
