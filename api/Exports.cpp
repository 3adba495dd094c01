// The 118 exports. Each one resolves its handle and calls one operation of the camera instance
// (CameraCall.h): control calls inside the instance's control gate, so concurrent calls on one handle
// serialise. Each call holds a share of its instance until it returns, so a Tovira_Release on another
// thread never frees an instance in use; Release itself shuts the instance down before it returns.

#include <windows.h>

#include "ToviraSdk_Z400KX.h"
#include "api/CameraCall.h"
#include "api/SdkChain.h"
#include "camera/Tovira.h"

using tovira::WithCamera;
using tovira::WithCameraUngated;

extern "C" {

// ---- lifecycle and errors

int Tovira_Initialize(HWND notifyWindow) {
    try {
        const int handle = SdkChain().CreateInstance();
        if (!handle) return 0;
        CSDKDATA entry;
        // The handle is returned whether or not the instance's initialisation succeeded; its failure is
        // in the instance's error history.
        if (SdkChain().GetEntry(handle, &entry) && entry.pCamera) {
            tovira::GateEntry gate(entry.pCamera->Gate());
            entry.pCamera->Initialize(notifyWindow);
        }
        return handle;
    } catch (...) {
        return 0;
    }
}

int Tovira_Release(int handle) {
    try {
        bool found = false;
        // The handle is gone at once; the instance stops here (after a control call in progress on another
        // thread) and is destroyed here, or by the last call still inside it.
        std::shared_ptr<CTovira> camera = SdkChain().Release(handle, &found);
        if (!found) return 0;
        if (camera) camera->Shutdown();
        camera.reset();
        return 1;
    } catch (...) {
        return 0;
    }
}

int Tovira_GetDllVersion(void) { return TOVIRA_DLL_VERSION; }

int Tovira_GetLastError(int h) {
    return WithCameraUngated(h, 0, [](CTovira& c) { return c.GetLastError(); });
}

int Tovira_GetStatus(int h, void*) {
    return WithCameraUngated(h, 0, [](CTovira& c) { return c.GetStatus(); });
}

// Tovira_Fps, Tovira_SetCrossbar, Tovira_SetSamplingRate and Tovira_Trigger are exported as this one body.
int ToviraUnsupportedCall(int h) {
    return WithCamera(h, 0, [](CTovira& c) {
        c.RecordError(TOVIRA_ERR_UNSUPPORTED);
        return 0;
    });
}

// Tovira_GetSamplingRate and Tovira_GetVideoFormat are exported as this one body.
int ToviraStoreZeroCall(int h, int* value) {
    return WithCamera(h, 0, [value](CTovira&) {
        if (value) *value = 0;
        return 0;
    });
}

// ---- device selection

int Tovira_EnumDevice(int h, char* names) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.EnumDevice(names); });
}
int Tovira_EnumDeviceW(int h, wchar_t* names) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.EnumDeviceW(names); });
}
int Tovira_GetDeviceName(int h, int number, char* name, int length) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetDeviceName(number, name, length); });
}
int Tovira_GetDeviceNameW(int h, int number, wchar_t* name, int length) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetDeviceNameW(number, name, length); });
}
int Tovira_SetDeviceNumber(int h, int number) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetDeviceNumber(number); });
}
int Tovira_GetCameraInfo(int h, TOVIRA_CAMERA_INFO* info) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetCameraInfo(info); });
}

// ---- video format and windows

int Tovira_SetColorMode(int h, int bits) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetColorMode(bits); });
}
int Tovira_GetColorMode(int h) {
    return WithCamera(h, -1, [](CTovira& c) { return c.GetColorMode(); });
}
int Tovira_SetSubSample(int h, int code) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetSubSample(code); });
}
int Tovira_GetSubSample(int h) {
    return WithCamera(h, -1, [](CTovira& c) { return c.GetSubSample(); });
}
int Tovira_SetHalfClock(int h, int code) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetHalfClock(code); });
}
int Tovira_GetHalfClock(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.GetHalfClock(); });
}
int Tovira_SetWaitTime(int h, int ms) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetWaitTime(ms); });
}
int Tovira_GetWaitTime(int h) {
    return WithCamera(h, -1, [](CTovira& c) { return c.GetWaitTime(); });
}
int Tovira_SetCaptureWindow(int h, int width, int height) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetCaptureWindow(width, height); });
}
int Tovira_SetCaptureWindowEx(int h, int hTotal, int hStart, int hEffective, int vTotal, int vStart,
                              int vEffective) {
    return WithCamera(h, 0, [=](CTovira& c) {
        return c.SetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
    });
}
int Tovira_GetCaptureWindowEx(int h, int* hTotal, int* hStart, int* hEffective, int* vTotal, int* vStart,
                              int* vEffective) {
    return WithCamera(h, 0, [=](CTovira& c) {
        return c.GetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
    });
}
int Tovira_Width(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.Width(); });
}
int Tovira_Height(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.Height(); });
}
int Tovira_SetPreviewWindow(int h, HWND parent, int left, int top, int right, int bottom) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetPreviewWindow(parent, left, top, right, bottom); });
}

// ---- streaming and capture

int Tovira_Preview(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.Preview(); });
}
int Tovira_CallBackPreview(int h, HWND window, void* buffer, int size, int rowOrder) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.CallBackPreview(window, buffer, size, rowOrder); });
}
int Tovira_StartPreview(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.StartPreview(); });
}
int Tovira_StopPreview(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.StopPreview(); });
}
int Tovira_Close(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.Close(); });
}
int Tovira_Capture(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.Capture(); });
}
int Tovira_SnapShot(int h, void* buffer, int size, int rowOrder) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SnapShot(buffer, size, rowOrder); });
}
int Tovira_GetImage(int h, void* buffer, int size, int rowOrder) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetImage(buffer, size, rowOrder); });
}

// ---- files

int Tovira_SaveImage(int h, const char* fileName, int fileType) {
    // Enters the gate itself, for the copy of the frame only.
    return WithCameraUngated(h, 0, [=](CTovira& c) { return c.SaveImage(fileName, fileType); });
}
int Tovira_SaveImageW(int h, const wchar_t* fileName, int fileType) {
    return WithCameraUngated(h, 0, [=](CTovira& c) { return c.SaveImageW(fileName, fileType); });
}
int Tovira_Record(int h, const char* fileName, int ms, int show) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.Record(fileName, ms, show); });
}
int Tovira_RecordW(int h, const wchar_t* fileName, int ms, int show) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.RecordW(fileName, ms, show); });
}

// ---- parameters

int Tovira_SetFilterValue(int h, int id, int value) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetFilterValue(id, value); });
}
int Tovira_GetFilterValue(int h, int id, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetFilterValue(id, success); });
}
int Tovira_SetRealExposureTime(int h, int us) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetRealExposureTime(us); });
}
int Tovira_GetRealExposureTime(int h, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetRealExposureTime(success); });
}
int Tovira_SetAutoIris(int h, int mode) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetAutoIris(mode); });
}
int Tovira_GetAutoIris(int h, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetAutoIris(success); });
}
int Tovira_SetMirrorH(int h, int on) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetMirrorH(on); });
}
int Tovira_SetMirrorV(int h, int on) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetMirrorV(on); });
}
int Tovira_GetMirrorH(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.GetMirrorH(); });
}
int Tovira_GetMirrorV(int h) {
    return WithCamera(h, 0, [](CTovira& c) { return c.GetMirrorV(); });
}
int Tovira_SetIOPort(int h, int value, int, int) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetIOPort(value); });
}
int Tovira_GetIOPort(int h, unsigned char* value, int, int) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.GetIOPort(value); });
}
// The short forms address registers by the low 8 bits of the number, the Ex forms by the low 16 bits.
int Tovira_ReadRegister(int h, int reg, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.ReadRegister(static_cast<uint8_t>(reg), success); });
}
int Tovira_ReadRegisterEx(int h, int reg, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.ReadRegister(static_cast<uint16_t>(reg), success); });
}
int Tovira_WriteRegister(int h, int reg, int value) {
    return WithCamera(h, 0, [=](CTovira& c) {
        return c.WriteRegister(static_cast<uint8_t>(reg), static_cast<uint16_t>(value));
    });
}
int Tovira_WriteRegisterEx(int h, int reg, int value) {
    return WithCamera(h, 0, [=](CTovira& c) {
        return c.WriteRegister(static_cast<uint16_t>(reg), static_cast<uint16_t>(value));
    });
}
int Tovira_ReadSromID(int h, int index, int* success) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.ReadSromID(index, success); });
}
int Tovira_WriteSromID(int h, int index, int value) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.WriteSromID(index, value); });
}

// ---- named filter values: each is the generic setter or getter with a fixed id

#define TOVIRA_FILTER_EXPORTS(name, id)                                                          \
    int Tovira_Set##name(int h, int value) { return Tovira_SetFilterValue(h, id, value); }      \
    int Tovira_Get##name(int h, int* success) { return Tovira_GetFilterValue(h, id, success); }
TOVIRA_FILTER_EXPORTS(Brightness, TOVIRA_FILTER_BRIGHTNESS)
TOVIRA_FILTER_EXPORTS(Contrast, TOVIRA_FILTER_CONTRAST)
TOVIRA_FILTER_EXPORTS(Hue, TOVIRA_FILTER_HUE)
TOVIRA_FILTER_EXPORTS(Saturation, TOVIRA_FILTER_SATURATION)
TOVIRA_FILTER_EXPORTS(Sharpness, TOVIRA_FILTER_SHARPNESS)
TOVIRA_FILTER_EXPORTS(BayerGainRGB, TOVIRA_FILTER_BAYER_GAIN_RGB)
TOVIRA_FILTER_EXPORTS(BayerGainRed, TOVIRA_FILTER_BAYER_GAIN_RED)
TOVIRA_FILTER_EXPORTS(BayerGainGreen, TOVIRA_FILTER_BAYER_GAIN_GREEN)
TOVIRA_FILTER_EXPORTS(BayerGainBlue, TOVIRA_FILTER_BAYER_GAIN_BLUE)
TOVIRA_FILTER_EXPORTS(BayerGainAuto, TOVIRA_FILTER_BAYER_GAIN_AUTO)
TOVIRA_FILTER_EXPORTS(Gamma, TOVIRA_FILTER_GAMMA)
TOVIRA_FILTER_EXPORTS(BayerMode, TOVIRA_FILTER_BAYER_MODE)
TOVIRA_FILTER_EXPORTS(GlobalGain, TOVIRA_FILTER_GLOBAL_GAIN)
TOVIRA_FILTER_EXPORTS(ColorGainRed, TOVIRA_FILTER_COLOR_GAIN_RED)
TOVIRA_FILTER_EXPORTS(ColorGainGreen1, TOVIRA_FILTER_COLOR_GAIN_GREEN1)
TOVIRA_FILTER_EXPORTS(ColorGainGreen2, TOVIRA_FILTER_COLOR_GAIN_GREEN2)
TOVIRA_FILTER_EXPORTS(ColorGainBlue, TOVIRA_FILTER_COLOR_GAIN_BLUE)
TOVIRA_FILTER_EXPORTS(ExposureTime, TOVIRA_FILTER_EXPOSURE_TIME)
TOVIRA_FILTER_EXPORTS(GrayMode, TOVIRA_FILTER_GRAY_MODE)
TOVIRA_FILTER_EXPORTS(GrayGainR, TOVIRA_FILTER_GRAY_GAIN_R)
TOVIRA_FILTER_EXPORTS(GrayGainG1, TOVIRA_FILTER_GRAY_GAIN_G1)
TOVIRA_FILTER_EXPORTS(GrayGainG2, TOVIRA_FILTER_GRAY_GAIN_G2)
TOVIRA_FILTER_EXPORTS(GrayGainB, TOVIRA_FILTER_GRAY_GAIN_B)
TOVIRA_FILTER_EXPORTS(GrayOffsetR, TOVIRA_FILTER_GRAY_OFFSET_R)
TOVIRA_FILTER_EXPORTS(GrayOffsetG1, TOVIRA_FILTER_GRAY_OFFSET_G1)
TOVIRA_FILTER_EXPORTS(GrayOffsetG2, TOVIRA_FILTER_GRAY_OFFSET_G2)
TOVIRA_FILTER_EXPORTS(GrayOffsetB, TOVIRA_FILTER_GRAY_OFFSET_B)
#undef TOVIRA_FILTER_EXPORTS

// ---- settings dialogs

int Tovira_SetCameraDlg(int h, HWND parent) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetCameraDlg(parent); });
}
int Tovira_SetAnalogDlg(int h, HWND parent) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetAnalogDlg(parent); });
}
int Tovira_SetImageDlg(int h, HWND parent) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.SetImageDlg(parent); });
}

}  // extern "C"
