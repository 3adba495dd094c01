// Construction, initialisation and destruction of the camera instance, and its error history.

#include <windows.h>
#include <mmsystem.h>

#include "camera/Tovira.h"

#include "camera/AcquisitionLog.h"
#include "camera/Pages.h"
#include "camera/SettingsFile.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/ImageFiles.h"

CTovira::CTovira() {
    lastRateUpdate = timeGetTime();
    recordWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // without it the record thread polls
}

namespace {

// Allocation failures become null pointers: Initialize reports them as error 5 instead of throwing.
template <typename T>
T* Create() {
    try {
        return new T();
    } catch (...) {
        return nullptr;
    }
}

// The eight images, in the order of the instance's fields.
CDibImage* CTovira::*const kImages[8] = {&CTovira::rawImage8,    &CTovira::rawImage16,   &CTovira::colorImage24,
                                          &CTovira::colorImage32, &CTovira::colorImage48, &CTovira::colorImage64,
                                          &CTovira::sharpnessImage, &CTovira::displayImage};

}  // namespace

CTovira::~CTovira() {
    // The pages first, while the device object still names the selected camera.
    if (pagesLoaded) {
        tovira::SaveAnalogPage(*this);
        tovira::SaveImageFilterPage(*this);
        tovira::SaveGrayFilterPage(*this);
    }
    // Normally Tovira_Release shut the instance down already; an instance that never got a handle (or a
    // test's own) is shut down here. Either way no thread of the instance runs past this point, except one
    // that holds its own share (then this runs when it lets go, never on a thread it waits for).
    Shutdown();
    if (frameLoopWake) CloseHandle(frameLoopWake);
    frameLoopWake = nullptr;
    if (recordWake) CloseHandle(recordWake);
    recordWake = nullptr;
    delete device;
    device = nullptr;
    for (CDibImage* CTovira::*image : kImages) {
        delete (this->*image);
        this->*image = nullptr;
    }
}

int CTovira::Initialize(HWND window) {
    SetImageLibraryMessageSink(
        [](const char* text) { tovira::LogLine(tovira::LogLevel::Errors, nullptr, "%s", text); });
    // The device object scans device numbers 0..7 and selects device 0: start-up command, initial
    // registers, full frame. Without a camera every transfer fails quietly.
    if (!device) device = Create<CToviraZ400KXSdk>();
    // Empty images; a preparation gives them their size.
    for (CDibImage* CTovira::*image : kImages)
        if (!(this->*image)) this->*image = Create<CDibImage>();
    // The notification window is stored before any check, so the codes below reach it.
    notifyWindow = window;
    bool complete = device != nullptr;
    for (CDibImage* CTovira::*image : kImages) complete = complete && this->*image != nullptr;
    if (!complete) {
        RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }

    storedValuesReplaced = 0;
    if (storedSettings) LoadCaptureWindowSettings();
    else tovira::AssignDefaultSettings(*this);  // and nothing is read from or written to the registry
    if (!ValidateCaptureWindow()) {
        RecordError(TOVIRA_ERR_WINDOW_RANGE);
        hTotal = effectiveWidth = 3840;
        vTotal = effectiveHeight = 2748;
        hStart = vStart = 0;
    }
    device->SetCaptureWindow(hStart, vStart, effectiveWidth, effectiveHeight, subSample);
    previewRect = RECT{0, 0, effectiveWidth, effectiveHeight};

    if (storedSettings) {
        tovira::LoadImageFilterPage(*this);
        tovira::LoadGrayFilterPage(*this);
        tovira::LoadAnalogPage(*this);
        pagesLoaded = true;
    }

    // The analogue values to the camera; the results are not examined.
    device->SetGlobalGain(globalGain);
    device->SetColorGain(0x3056, colorGainGreen1);
    device->SetColorGain(0x305A, colorGainRed);
    device->SetColorGain(0x3058, colorGainBlue);
    device->SetColorGain(0x305C, colorGainGreen2);
    device->SetExposure(exposureLines);
    device->SetMirrorV(static_cast<int>(mirrorV));
    device->SetMirrorH(static_cast<int>(mirrorH));
    device->SetDriverSetting(driverSetting);

    // The camera's own grey calibration replaces the stored grey page.
    LoadGrayFromSrom();
    // Colour mode, sub-sampling, wait time and clock take effect at the next preparation; the device
    // was programmed above with the earlier sub-sampling code.
    if (storedSettings) LoadCameraSettings();
    if (storedValuesReplaced > 0) RecordError(TOVIRA_ERR_STORAGE);
    return 1;
}

void CTovira::RecordError(int code) {
    {
        std::lock_guard<std::mutex> guard(errorLock);
        for (int i = 19; i > 0; --i) errors[i] = errors[i - 1];
        errors[0] = code;
    }
    tovira::LogRecordedError(this, code);
    // Posted, never sent: the library never waits for the application's window procedure. A failed post
    // (window destroyed) leaves the code in the history.
    if (notifyWindow) PostMessageA(notifyWindow, WM_TOVIRA_ERROR, 0, static_cast<LPARAM>(code));
}

int CTovira::GetLastError() {
    std::lock_guard<std::mutex> guard(errorLock);
    const int newest = errors[0];
    for (int i = 0; i < 19; ++i) errors[i] = errors[i + 1];
    errors[19] = 0;
    return newest;
}
