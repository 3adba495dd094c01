#pragma once
// The capture-window presets kept below the settings key as "Size_00" .. "Size_99".

#include <cstdint>
#include <vector>

namespace tovira {

// One preset, the seven values in their stored order.
struct CaptureWindowPreset {
    int32_t hTotal = 0, vTotal = 0;
    int32_t effectiveWidth = 0, effectiveHeight = 0;
    int32_t hStart = 0, vStart = 0;
    int32_t bufferCount = 0;
};

inline constexpr int kMaxCaptureWindowPresets = 100;

// Every preset from "Size_00" upwards, stopping at the first number whose sub-key does not open (at most
// 100); values missing from a preset read as 0. False when the settings key does not open.
bool ReadCaptureWindowPresets(std::vector<CaptureWindowPreset>* presets);

}  // namespace tovira
