// Capture preparation, streaming and capture mode, and the copies into the caller's buffer.
//
// Streaming: StartPreview prepares the capture, starts the frame-loop thread (FrameLoop.cpp) and then
// the device's transfer thread. Capture mode: Capture prepares once, each SnapShot reads one frame on
// the caller's thread. The images are written only under frameLock (frame loop, SnapShot) and read
// under it (GetImage, SaveImage), so a copy always holds one whole frame.

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/PreviewWindow.h"
#include "pipeline/RowBandPool.h"

namespace {

// Sub-sampling codes 1 and 16 halve the output, 2 and 17 quarter it.
int SubSampleDivisor(int code) {
    switch (code) {
        case 1: case 16: return 2;
        case 2: case 17: return 4;
        default: return 1;
    }
}

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
    const int divisor = SubSampleDivisor(subSample);
    const int width = effectiveWidth / divisor;
    const int height = effectiveHeight / divisor;
    {
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        if (!CreateFrameImages(width, height, colorMode)) {
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

bool CTovira::CollectLostStream() {
    // Streaming, but the frame loop ended on its own: the transfer failed (told as error 13 then). Its
    // threads are collected without a further report and the instance is idle again, so the start that
    // follows prepares afresh: it fails at the call when the camera is gone (as for an instance that never
    // found one) and streams again when it is still there.
    if (captureState != 1 || runFlag != 0 || !device) return false;
    if (frameLoopWake) SetEvent(frameLoopWake);
    if (frameThread) WaitForSingleObject(frameThread, INFINITE);
    device->StopStreaming();  // collects the failed transfer; StopPreview then has nothing to report
    StopPreview();
    return true;
}

int CTovira::StartPreview() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    CollectLostStream();
    if (captureState == 1) return 1;
    if (captureState == 2) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!PrepareCapture()) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    runFlag = 1;
    bandPool = std::make_shared<tovira::RowBandPool>(
        pipelineThreads > 0 ? pipelineThreads : tovira::RowBandPool::DefaultThreads());
    frameLoopDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!frameLoopWake) frameLoopWake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (frameLoopWake) ResetEvent(frameLoopWake);
    if (frameLoopDone && frameLoopWake) frameThread = CreateThread(nullptr, 0, &CTovira::FrameLoopThread, this, 0, &frameThreadId);
    if (!frameLoopDone || !frameLoopWake || !frameThread || frameThreadId == 0) {
        StopPreview();
        RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    if (device->StartStreaming() != 0) {
        StopPreview();
        RecordError(TOVIRA_ERR_DEVICE_IO);
        return 0;
    }
    captureState = 1;
    return 1;
}

int CTovira::StopPreview() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    runFlag = 0;
    if (frameLoopWake) SetEvent(frameLoopWake);  // ends the loop's wait between polls at once
    if (frameLoopDone) {
        if (frameThread) WaitForSingleObject(frameLoopDone, INFINITE);
        CloseHandle(frameLoopDone);
        frameLoopDone = nullptr;
    }
    if (frameThread) {
        // The event is set as the thread function's last act; wait for the thread itself too, so no
        // code of the loop runs once the caller goes on to free what it uses.
        WaitForSingleObject(frameThread, INFINITE);
        CloseHandle(frameThread);
        frameThread = nullptr;
        frameThreadId = 0;
    }
    {
        // The frame loop has ended; a snapshot that holds the frame lock finishes before the pool goes.
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        bandPool.reset();
    }
    recording = 0;
    if (recordDone) {
        if (recordThread) WaitForSingleObject(recordDone, INFINITE);
        CloseHandle(recordDone);
        recordDone = nullptr;
    }
    if (recordThread) {
        CloseHandle(recordThread);
        recordThread = nullptr;
        recordThreadId = 0;
    }
    if (captureState != 0) {
        device->ConfigureCaptureMode(0, 1);
        captureState = 0;
        if (device->StopStreaming() != 0) {
            RecordError(TOVIRA_ERR_DEVICE_IO);
            return 0;
        }
    }
    return 1;
}

int CTovira::Preview() {
    return OpenPreview(nullptr, nullptr, 0, 0);
}

int CTovira::CallBackPreview(HWND window, void* buffer, int bufferSize, int rowOrderFlag) {
    return OpenPreview(window, buffer, bufferSize, rowOrderFlag);
}

int CTovira::OpenPreview(HWND window, void* buffer, int bufferSize, int rowOrderFlag) {
    {
        // A running frame loop reads these once per frame under the lock: it never pairs the new
        // buffer with the old size.
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        callbackWindow = window;
        callerBuffer = buffer;
        callerBufferSize = bufferSize;
        rowOrder = rowOrderFlag;
    }
    // An earlier preview window is closed first; a running stream goes on into the new one.
    if (!OpenPreviewWindow(*this)) {
        RecordError(TOVIRA_ERR_WINDOW);
        return 0;
    }
    if (StartPreview()) return 1;
    ClosePreviewWindow(*this);
    RecordError(TOVIRA_ERR_TRANSFER);
    return 0;
}

int CTovira::Close() {
    // Gives the DC back and destroys the window (under the frame lock, so no draw is cut off), then
    // stops streaming.
    ClosePreviewWindow(*this);
    return 1;
}

int CTovira::Capture() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    CollectLostStream();
    if (captureState == 1) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (captureState == 2) return 1;
    if (!PrepareCapture()) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    captureState = 2;
    return 1;
}

int CTovira::SnapShot(void* buffer, int bufferSize, int rowOrderFlag) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    CollectLostStream();
    if (captureState == 1) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (captureState == 0 && !PrepareCapture()) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    device->ConfigureCaptureMode(0, 1);
    if (device->ReadSingleFrame() != 0) {
        RecordError(TOVIRA_ERR_TRANSFER);
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
    auto* out = static_cast<uint8_t*>(buffer);
    const uint8_t* bits = image->Bits();
    if (rowOrderFlag != 0) {
        std::memcpy(out, bits, static_cast<size_t>(rowBytes) * rows);
    } else {
        // Bottom line first, as a bottom-up bitmap expects.
        for (int i = 0; i < rows; ++i)
            std::memcpy(out + static_cast<size_t>(i) * rowBytes, bits + static_cast<size_t>(rows - 1 - i) * rowBytes,
                        static_cast<size_t>(rowBytes));
    }
    return 1;
}
