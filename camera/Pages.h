#pragma once
// The registry copies of the settings-dialog pages: the analogue page (sub-key "Gain_%02d" per device
// number) and the image-filter and grey-filter pages (sub-keys "Filter" and "Gray"), all below the
// settings key. Initialize loads them once, the destructor saves them once; the dialogs use the same
// functions for their pages.

class CTovira;

namespace tovira {

// Global gain, the four colour gains, exposure lines, mirrors and auto-iris mode of the selected device.
// Missing key or sub-key: gains 64, exposure 2748, mirrors and auto iris 0.
void LoadAnalogPage(CTovira& camera);
// Nothing is written when the key or the sub-key cannot be created.
void SaveAnalogPage(const CTovira& camera);

// Brightness, contrast, hue, saturation, sharpness, Bayer gains, gamma and Bayer mode. Missing key or
// sub-key: 0, 0, 0, 0, 0, 100, 100, 100, 100, 3, and the white-balance flags and the parameters after
// them cleared.
void LoadImageFilterPage(CTovira& camera);
void SaveImageFilterPage(const CTovira& camera);

// Grey mode, grey gains and grey offsets. Missing key or sub-key: mode 0, gains and offsets 128.
void LoadGrayFilterPage(CTovira& camera);
void SaveGrayFilterPage(const CTovira& camera);

}  // namespace tovira
