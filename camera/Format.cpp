// Device selection, camera names and information, colour mode, sub-sampling, clock, wait time and the
// capture window.

#include "camera/Tovira.h"

int CTovira::EnumDevice(char*) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::EnumDeviceW(wchar_t*) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetDeviceName(int, char*, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetDeviceNameW(int, wchar_t*, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetDeviceNumber(int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetCameraInfo(TOVIRA_CAMERA_INFO*) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetColorMode(int) { RecordError(TOVIRA_ERR_PARAMETER); return 0; }
int CTovira::GetColorMode() { return 8; }
int CTovira::SetSubSample(int) { return 0; }
int CTovira::GetSubSample() { return subSample; }
int CTovira::SetHalfClock(int) { RecordError(TOVIRA_ERR_PARAMETER); return 0; }
int CTovira::GetHalfClock() { return clockCode; }
int CTovira::SetWaitTime(int) { return 0; }
int CTovira::GetWaitTime() { return waitTime; }
int CTovira::SetCaptureWindow(int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetCaptureWindowEx(int, int, int, int, int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetCaptureWindowEx(int*, int*, int*, int*, int*, int*) { return 1; }
int CTovira::Width() { return effectiveWidth; }
int CTovira::Height() { return effectiveHeight; }
int CTovira::SetPreviewWindow(HWND, int, int, int, int) { return 0; }
bool CTovira::ValidateCaptureWindow() const { return false; }
