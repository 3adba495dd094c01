// Capture preparation, single frames (SnapShot) and the copies into the caller's buffer.
//
// A preparation sizes the images and programs the camera for the next stream or snapshot (the
// transitions themselves are in StreamControl.cpp). Each SnapShot reads one frame on the caller's
// thread. The images are written only under frameLock (frame loop, SnapShot) and read under it
// (GetImage, SaveImage), so a copy always holds one whole frame.

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "camera/FrameCopy.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/PreviewWindow.h"
#include "pipeline/RowBandPool.h"

namespace {

void PostFrameMessage(HWND window, WPARAM wParam, LPARAM lParam) {
    if (window) PostMessageA(window, WM_TOVIRA_FRAME, wParam, lParam);
}

}  // namespace

CDibImage* CTovira::RawImageFor(int mode) const {
    switch (mode) {
        case 0: case 2: case 3: return rawImage8;
        case 1: case 4: case 5: return rawImage16;
        default: return nullptr;
    }
}

CDibImage* CTovira::OutputImageFor(int mode) const {
    switch (mode) {
        case 0: return rawImage8;
        case 1: return rawImage16;
        case 2: return colorImage24;
        case 3: return colorImage32;
        case 4: return colorImage48;
        case 5: return colorImage64;
        default: return nullptr;
    }
}

int CTovira::CreateFrameImages(int width, int height, int mode) {
    struct Need {
        CDibImage* image;
        int bits;
        bool wanted;
    };
    const Need needs[] = {
        {rawImage8, 8, mode >= 0 && mode <= 3},
        {rawImage16, 16, mode == 1 || mode == 4 || mode == 5},
        {colorImage24, 24, mode == 0 || mode == 2 || mode == 3 || mode == 4 || mode == 5},
        {colorImage32, 32, mode == 3},
        {colorImage48, 48, mode == 4},
        {colorImage64, 64, mode == 5},
    };
    for (const Need& n : needs) {
        if (!n.wanted) continue;
        if (!n.image || !n.image->Create(width, height, n.bits)) return 0;
        if (n.bits == 8) n.image->SetGrayPalette();
    }
    CDibImage* output = OutputImageFor(mode);
    if (!sharpnessImage || !output || !sharpnessImage->CreateLike(output)) return 0;
    return 1;
}

int CTovira::PrepareCapture() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!device->IsDevicePresent(device->GetDeviceNumber())) {
        RecordError(TOVIRA_ERR_NO_CAMERA);
        return 0;
    }
    if (!ValidateCaptureWindow()) {
        RecordError(TOVIRA_ERR_WINDOW_RANGE);
        return 0;
    }
    const SIZE output = PreviewOutputSize(*this);
    {
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        if (!CreateFrameImages(output.cx, output.cy, colorMode)) {
            RecordError(TOVIRA_ERR_BUFFER);
            return 0;
        }
    }
    exposureScale = static_cast<double>(1.0f / 24.0f);

    // From here on the device's answers are not examined: a camera that fails now fails the frame reads.
    int halfClock = 0;
    device->GetHalfClock(&halfClock);
    if (halfClock != clockCode) device->SetHalfClock(clockCode);
    device->SetCaptureWindow(hStart, vStart, effectiveWidth, effectiveHeight, subSample);
    const bool wide = colorMode == 1 || colorMode == 4 || colorMode == 5;
    device->SetTransferWidth(wide ? 1 : 0);
    device->SetMirrorV(static_cast<int>(mirrorV));
    Sleep(5);
    device->SetMirrorH(static_cast<int>(mirrorH));
    Sleep(5);
    device->SetGlobalGain(globalGain);
    device->SetColorGain(0x3056, colorGainGreen1);
    device->SetColorGain(0x305A, colorGainRed);
    device->SetColorGain(0x3058, colorGainBlue);
    device->SetColorGain(0x305C, colorGainGreen2);
    device->SetExposure(exposureLines);
    // With the line and frame lengths of the previous preparation, as the camera dialog shows it.
    GetRealExposureTime(nullptr);
    uint16_t value = 0;
    if (device->ReadSensorRegister(0x0342, &value)) lineLength = value;
    Sleep(3);
    value = 0;
    if (device->ReadSensorRegister(0x0340, &value)) frameLength = value;
    Sleep(3);

    // The display image is sized to the preview window's client area when one shows.
    RECT client = {};
    if (previewWindow && IsWindowVisible(previewWindow) && GetClientRect(previewWindow, &client) &&
        client.right > 0 && client.bottom > 0 && previewDc && displayImage) {
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        if (colorMode == 0 || colorMode == 1) {
            if (displayImage->Create(client.right, client.bottom, 8)) displayImage->SetGrayPalette();
        } else {
            displayImage->Create(client.right, client.bottom, 24);
        }
    }
    return 1;
}

int CTovira::SnapShot(void* buffer, int bufferSize, int rowOrderFlag) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    CollectLostStream();
    const CameraState now = State();
    if (now == CameraState::Streaming || dialogHoldsCamera_) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (now == CameraState::Idle && !PrepareCapture()) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    device->ConfigureCaptureMode(0, 1);
    if (device->ReadSingleFrame() != 0) {
        RecordError(TOVIRA_ERR_TRANSFER);
        // A read that fails because the camera went away is the same loss as while streaming: told
        // once, the camera leaves the list, and later starts fail at the call.
        if (!device->RecheckDevice(device->GetDeviceNumber())) {
            if (State() == CameraState::Idle) state_ = CameraState::Capture;
            CameraLost(CameraState::Capture);
        }
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(frameLock);
    const int mode = colorMode;
    CDibImage* raw = RawImageFor(mode);
    int copied = 14;
    if (FitImagesToFrames(mode)) {
        device->PollSingleFrame();
        copied = device->CopySingleFrame(raw->Bits(), raw->ByteSize());
    }
    // Only a frame that arrived is spread to the stride: re-laying the rows of the previous frame would
    // scramble the picture GetImage still hands out.
    if (copied == 0) RestrideRawImage(*raw);
    if (copied != 0) {
        PostFrameMessage(callbackWindow, 0, TOVIRA_ERR_TRANSFER);
        RecordError(TOVIRA_ERR_TRANSFER);
        return 0;
    }
    ProcessFrame();
    if (!buffer || bufferSize == 0) return 1;
    CDibImage* output = OutputImageFor(mode);
    if (CopyFrameToCaller(output, rowOrderFlag, buffer, bufferSize)) return 1;
    RecordError(TOVIRA_ERR_BUFFER);
    return 0;
}

int CTovira::GetImage(void* buffer, int bufferSize, int rowOrderFlag) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    std::lock_guard<std::recursive_mutex> guard(frameLock);
    CDibImage* output = OutputImageFor(colorMode);
    if (!output) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!output->IsEmpty() && buffer) {
        if (CopyFrameToCaller(output, rowOrderFlag, buffer, bufferSize)) return 1;
        RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }
    RecordError(TOVIRA_ERR_BUFFER);
    return 0;
}

int CTovira::CopyFrameToCaller(CDibImage* image, int rowOrderFlag, void* buffer, int bufferSize) {
    const int64_t rowBytes = image ? image->Stride() : 0;
    const int rows = image ? image->Height() : 0;
    if (!image || image->IsEmpty() || !buffer || bufferSize < 0 ||
        static_cast<int64_t>(bufferSize) < rowBytes * rows) {
        PostFrameMessage(callbackWindow, 0, TOVIRA_ERR_BUFFER);
        RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }
    tovira::CopyImageRows(*image, rowOrderFlag, buffer);
    return 1;
}
