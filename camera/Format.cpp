// Device selection, camera names and information, colour mode, sub-sampling, clock, wait time and the
// capture window.

#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

#include "camera/Settings.h"
#include "camera/FrameLoop.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"

namespace {

constexpr const char* kCameraNamePrefix = "ToviraZ400KX";
constexpr int kNameEntries = 10;          // Tovira_EnumDevice always writes ten entries
constexpr int kNameEntryLength = 256;     // characters per entry
constexpr int kMinimumNameLength = 16;    // "ToviraZ400KX_01" and its terminator
constexpr int kFullWidth = 3840;
constexpr int kFullHeight = 2748;

// Bits per pixel of the six colour modes as reported: the three modes with 16 bits per channel report
// the 12 significant bits per channel (as set: kColourModeBits).
constexpr int kColorModeReported[6] = {8, 12, 24, 32, 44, 60};

// The prefix in the wide form; false when the conversion fails.
bool WidePrefix(wchar_t (&prefix)[32]) {
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, kCameraNamePrefix, -1, prefix, 32) > 0;
}

}  // namespace

// ---- device selection

int CTovira::EnumDevice(char* names) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!names) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    // Presence as recorded when the device object scanned; the list is not refreshed.
    int found = 0;
    for (int n = 0; n < device->GetMaxDeviceCount(); ++n) {
        if (!device->IsDevicePresent(n)) continue;
        ++found;
        std::snprintf(names + (found - 1) * kNameEntryLength, kNameEntryLength, "%s_%02d", kCameraNamePrefix, found);
    }
    for (int i = found; i < kNameEntries; ++i) names[i * kNameEntryLength] = '\0';
    return found;
}

int CTovira::EnumDeviceW(wchar_t* names) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!names) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    wchar_t prefix[32] = {};
    WidePrefix(prefix);
    int found = 0;
    for (int n = 0; n < device->GetMaxDeviceCount(); ++n) {
        if (!device->IsDevicePresent(n)) continue;
        ++found;
        std::swprintf(names + (found - 1) * kNameEntryLength, kNameEntryLength, L"%ls_%02d", prefix, found);
    }
    for (int i = found; i < kNameEntries; ++i) names[i * kNameEntryLength] = L'\0';
    return found;
}

int CTovira::GetDeviceName(int deviceNumber, char* name, int length) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!name || length < kMinimumNameLength || deviceNumber < 0 || deviceNumber >= device->GetMaxDeviceCount()) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    if (!device->IsDevicePresent(deviceNumber)) {
        RecordError(TOVIRA_ERR_NO_CAMERA);
        return 0;
    }
    // Named after the slot (device 0 is _01), unlike the running count of EnumDevice.
    std::snprintf(name, static_cast<size_t>(length), "%s_%02d", kCameraNamePrefix, deviceNumber + 1);
    return 1;
}

int CTovira::GetDeviceNameW(int deviceNumber, wchar_t* name, int length) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!name || length < kMinimumNameLength || deviceNumber < 0 || deviceNumber >= device->GetMaxDeviceCount()) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    wchar_t prefix[32] = {};
    if (!device->IsDevicePresent(deviceNumber) || !WidePrefix(prefix)) {
        RecordError(TOVIRA_ERR_NO_CAMERA);
        return 0;
    }
    std::swprintf(name, static_cast<size_t>(length), L"%ls_%02d", prefix, deviceNumber + 1);
    return 1;
}

int CTovira::SetDeviceNumber(int deviceNumber) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // Selecting reloads the sensor's initial registers and the full frame; the instance's own window,
    // gains, exposure and mirrors reach the new camera at the next preparation.
    if (!device->IsDevicePresent(deviceNumber) || device->SelectDevice(deviceNumber) != 0) {
        RecordError(TOVIRA_ERR_NO_CAMERA);
        return 0;
    }
    LoadGrayFromSrom();
    return 1;
}

int CTovira::GetCameraInfo(TOVIRA_CAMERA_INFO* info) {
    if (!info) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    if (info->size < static_cast<int>(sizeof(TOVIRA_CAMERA_INFO))) {
        RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }
    info->sensorWidth = kFullWidth;
    info->sensorHeight = kFullHeight;
    info->gainMin = 0;
    info->gainMax = 127;
    info->colorGainMin = 0;
    info->colorGainMax = 127;
    info->exposureMin = 1;
    info->exposureMax = 8191;
    return 1;
}

// ---- video format: stored here, taken into account at the next preparation

int CTovira::SetColorMode(int bitsPerPixel) {
    for (int code = 0; code < 6; ++code) {
        if (kColourModeBits[code] == bitsPerPixel) {
            std::lock_guard<std::recursive_mutex> guard(frameLock);
            const int previous = colorMode;
            colorMode = code;
            if (State() == CameraState::Idle || code == previous) return 1;
            // Streaming or in capture mode, the images were prepared for the previous mode: the new
            // mode's images are built now (and the transfer width follows), as a window change does, so
            // the next frame arrives in the new mode instead of none arriving at all.
            if (RebuildForColorMode()) return 1;
            RecordError(TOVIRA_ERR_BUFFER);
            return 0;
        }
    }
    RecordError(TOVIRA_ERR_PARAMETER);
    return 0;
}

int CTovira::RebuildForColorMode() {
    const tovira::FrameGeometry g = device ? device->GetFrameGeometry() : tovira::FrameGeometry{};
    if (g.activeWidth <= 0 || g.activeLines <= 0) return 0;
    const int wide = colorMode == 1 || colorMode == 4 || colorMode == 5 ? 1 : 0;
    if (device->GetTransferWidth() != wide) {
        // The running transfer reads with the width it started with: stopped, switched and started
        // again (frames of the old width in the ring are dropped with the old stream).
        const bool streaming = device->IsStreaming();
        if (streaming) device->StopStreaming();
        device->SetTransferWidth(wide);
        if (streaming && device->StartStreaming() != 0) return 0;
    }
    return CreateFrameImages(g.activeWidth, g.activeLines, colorMode);
}

int CTovira::GetColorMode() {
    // A code outside 0..5 can only come from a stored setting.
    return colorMode >= 0 && colorMode < 6 ? kColorModeReported[colorMode] : -1;
}

int CTovira::SetSubSample(int code) {
    if (code < 0 || code > 4) return 0;  // refused without an error
    subSample = code;
    return 1;
}

int CTovira::GetSubSample() {
    // 16 and 17, the second readout variants of 1/2 and 1/4, come only from a stored setting.
    if (subSample == 16) return 1;
    if (subSample == 17) return 2;
    return subSample;
}

int CTovira::SetHalfClock(int code) {
    if (code < 0 || code > 5) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    clockCode = code;
    return 1;
}

int CTovira::GetHalfClock() { return clockCode; }

int CTovira::SetWaitTime(int milliseconds) {
    if (milliseconds < 0) return 0;  // refused without an error
    waitTime = milliseconds;
    return 1;
}

int CTovira::GetWaitTime() { return waitTime; }

// ---- capture window

bool CTovira::ValidateCaptureWindow() const {
    // H total and V total take no part; they are carried with the preset.
    return effectiveWidth >= 0 && effectiveHeight >= 0 && hStart >= 0 && vStart >= 0 &&
           effectiveWidth <= kFullWidth && effectiveHeight <= kFullHeight && hStart <= kFullWidth &&
           vStart <= kFullHeight && hStart + effectiveWidth <= kFullWidth && vStart + effectiveHeight <= kFullHeight &&
           static_cast<unsigned>(subSample) <= 20u;
}

int CTovira::SetCaptureWindowEx(int hTotalValue, int hStartValue, int hEffective, int vTotalValue, int vStartValue,
                                int vEffective) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    // Stored before the check: a rejected window stays in place, so preparations fail until a valid one
    // is set.
    hTotal = hTotalValue;
    hStart = hStartValue;
    effectiveWidth = hEffective;
    vTotal = vTotalValue;
    vStart = vStartValue;
    effectiveHeight = vEffective;
    if (!ValidateCaptureWindow()) {
        RecordError(TOVIRA_ERR_WINDOW_RANGE);
        return 0;
    }
    device->SetCaptureWindow(hStart, vStart, effectiveWidth, effectiveHeight, subSample);
    return 1;
}

int CTovira::SetCaptureWindow(int width, int height) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    std::vector<tovira::CaptureWindowPreset> presets;
    if (!tovira::ReadCaptureWindowPresets(&presets)) {
        RecordError(TOVIRA_ERR_WINDOW);
        return 0;
    }
    const tovira::CaptureWindowPreset* chosen = nullptr;
    for (const tovira::CaptureWindowPreset& p : presets) {
        if (p.effectiveWidth == width && p.effectiveHeight == height) {
            chosen = &p;
            break;
        }
    }
    if (!chosen) {
        RecordError(TOVIRA_ERR_WINDOW);
        return 0;
    }
    // The choice is not remembered in "Size": the next instance starts from the preset in use.
    hTotal = chosen->hTotal;
    vTotal = chosen->vTotal;
    effectiveWidth = chosen->effectiveWidth;
    effectiveHeight = chosen->effectiveHeight;
    hStart = chosen->hStart;
    vStart = chosen->vStart;
    bufferCount = chosen->bufferCount;
    if (!ValidateCaptureWindow()) {
        RecordError(TOVIRA_ERR_WINDOW_RANGE);
        hTotal = effectiveWidth = kFullWidth;
        vTotal = effectiveHeight = kFullHeight;
        hStart = vStart = 0;
    }
    device->SetCaptureWindow(hStart, vStart, effectiveWidth, effectiveHeight, subSample);
    return 1;
}

int CTovira::GetCaptureWindowEx(int* hTotalOut, int* hStartOut, int* hEffective, int* vTotalOut, int* vStartOut,
                                int* vEffective) {
    if (hTotalOut) *hTotalOut = hTotal;
    if (hStartOut) *hStartOut = hStart;
    if (hEffective) *hEffective = effectiveWidth;
    if (vTotalOut) *vTotalOut = vTotal;
    if (vStartOut) *vStartOut = vStart;
    if (vEffective) *vEffective = effectiveHeight;
    return 1;
}

int CTovira::Width() { return effectiveWidth; }
int CTovira::Height() { return effectiveHeight; }

int CTovira::SetPreviewWindow(HWND parent, int left, int top, int right, int bottom) {
    // Used when the preview window is next created. An all-zero rectangle means none was given and the
    // previous one stays.
    previewParent = parent;
    if (left != 0 || top != 0 || right != 0 || bottom != 0) previewRect = RECT{left, top, right, bottom};
    return 1;
}
