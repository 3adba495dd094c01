/*
 * ToviraSdk_Z400KX.h - public interface of ToviraSdk_Z400KX.dll, the SDK of the Z400KX USB colour camera
 * (3840 x 2748 Bayer sensor, 8 or 12 bits per sample).
 *
 * Plain C, usable from C and C++ with MSVC and mingw-w64. Every function returns a 32-bit int: 1 (or the
 * value asked for) on success and 0 on failure; the reason of a failure is kept in the handle's error
 * history (Tovira_GetLastError) and posted to the notification window as WM_TOVIRA_ERROR.
 * Every function except Tovira_Initialize and Tovira_GetDllVersion takes the handle that
 * Tovira_Initialize returned. An unknown handle gives the failure value (0, or -1 for
 * Tovira_GetColorMode, Tovira_GetSubSample and Tovira_GetWaitTime) and records nothing.
 */
#ifndef TOVIRASDK_Z400KX_H
#define TOVIRASDK_Z400KX_H

#include <windows.h>
#include <stddef.h>
#include <wchar.h>

#ifndef TOVIRA_API
#define TOVIRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- messages (always posted, never sent) ---------------------------------------------------------- */

/* To the notification window of Tovira_Initialize: wParam 0, lParam = error code. */
#define WM_TOVIRA_ERROR (WM_APP + 3) /* 0x8003 */
/* To the callback window of Tovira_CallBackPreview: wParam = TOVIRA_FRAME_INFO* and lParam 0 for a
   delivered frame; wParam 0 and lParam 5 (buffer too small), 8 (frame read failed) or 13 (camera lost). */
#define WM_TOVIRA_FRAME (WM_APP + 2) /* 0x8002 */

/* ---- error codes ------------------------------------------------------------------------------------ */

#define TOVIRA_ERR_NONE 0
#define TOVIRA_ERR_NOT_READY 1
#define TOVIRA_ERR_NO_CAMERA 2
#define TOVIRA_ERR_THREAD 3
#define TOVIRA_ERR_WINDOW 4
#define TOVIRA_ERR_BUFFER 5
#define TOVIRA_ERR_DEVICE_IO 6
#define TOVIRA_ERR_WINDOW_RANGE 7
#define TOVIRA_ERR_TRANSFER 8
#define TOVIRA_ERR_PARAMETER 9
#define TOVIRA_ERR_UNSUPPORTED 11
#define TOVIRA_ERR_STORAGE 12
#define TOVIRA_ERR_DEVICE_LOST 13

/* ---- records ---------------------------------------------------------------------------------------- */

/* Tovira_GetCameraInfo: the caller sets size (at least 36) before the call. */
typedef struct TOVIRA_CAMERA_INFO {
    int size;
    int sensorWidth;      /* 3840 */
    int sensorHeight;     /* 2748 */
    int gainMin;          /* 0 */
    int gainMax;          /* 127 */
    int colorGainMin;     /* 0 */
    int colorGainMax;     /* 127 */
    int exposureMin;      /* 1 line: the range of the dialog and the auto exposure; */
    int exposureMax;      /* 8191 lines: the exposure setter takes 0..8192 (0 acts as 1) */
} TOVIRA_CAMERA_INFO;

/* Passed with WM_TOVIRA_FRAME; owned by the library and overwritten by the next frame. */
typedef struct TOVIRA_FRAME_INFO {
    int size;             /* 32 */
    int width;            /* after sub-sampling */
    int height;
    int bitsPerPixel;     /* 8, 16, 24, 32, 48 or 64 */
    int frameRate;        /* tenths of frames per second */
    int reserved;
    void* buffer;         /* the caller's frame buffer, NULL for Tovira_Preview */
} TOVIRA_FRAME_INFO;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(TOVIRA_CAMERA_INFO) == 36, "TOVIRA_CAMERA_INFO is 36 bytes");
static_assert(sizeof(TOVIRA_FRAME_INFO) == 32, "TOVIRA_FRAME_INFO is 32 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TOVIRA_CAMERA_INFO) == 36, "TOVIRA_CAMERA_INFO is 36 bytes");
_Static_assert(sizeof(TOVIRA_FRAME_INFO) == 32, "TOVIRA_FRAME_INFO is 32 bytes");
#else
typedef char tovira_camera_info_is_36_bytes[sizeof(TOVIRA_CAMERA_INFO) == 36 ? 1 : -1];
typedef char tovira_frame_info_is_32_bytes[sizeof(TOVIRA_FRAME_INFO) == 32 ? 1 : -1];
#endif

/* ---- filter ids (Tovira_SetFilterValue / Tovira_GetFilterValue) -------------------------------------- */

#define TOVIRA_FILTER_BRIGHTNESS 1      /* -255..255 */
#define TOVIRA_FILTER_CONTRAST 2        /* -127..127 */
#define TOVIRA_FILTER_HUE 3             /* -360..360 degrees */
#define TOVIRA_FILTER_SATURATION 4      /* -255..255 */
#define TOVIRA_FILTER_SHARPNESS 5       /* 0..30 */
#define TOVIRA_FILTER_BAYER_GAIN_RGB 6  /* red | green << 8 | blue << 16 */
#define TOVIRA_FILTER_BAYER_GAIN_RED 7  /* 0..400, 100 = unity */
#define TOVIRA_FILTER_BAYER_GAIN_GREEN 8
#define TOVIRA_FILTER_BAYER_GAIN_BLUE 9
#define TOVIRA_FILTER_BAYER_GAIN_AUTO 10 /* automatic white balance on/off */
#define TOVIRA_FILTER_GAMMA 11          /* 0..200 */
#define TOVIRA_FILTER_BAYER_MODE 12     /* 0..3 */
#define TOVIRA_FILTER_GLOBAL_GAIN 13    /* 0..127, sensor */
#define TOVIRA_FILTER_COLOR_GAIN_RED 14 /* 0..127, sensor */
#define TOVIRA_FILTER_COLOR_GAIN_GREEN1 15
#define TOVIRA_FILTER_COLOR_GAIN_GREEN2 16
#define TOVIRA_FILTER_COLOR_GAIN_BLUE 17
#define TOVIRA_FILTER_EXPOSURE_TIME 18  /* 0..8192 lines (0 acts as 1), sensor */
#define TOVIRA_FILTER_GRAY_MODE 19      /* 0..2 */
#define TOVIRA_FILTER_GRAY_GAIN_R 20    /* 0..255 */
#define TOVIRA_FILTER_GRAY_GAIN_G1 21
#define TOVIRA_FILTER_GRAY_GAIN_G2 22
#define TOVIRA_FILTER_GRAY_GAIN_B 23
#define TOVIRA_FILTER_GRAY_OFFSET_R 24  /* -255..255 */
#define TOVIRA_FILTER_GRAY_OFFSET_G1 25
#define TOVIRA_FILTER_GRAY_OFFSET_G2 26
#define TOVIRA_FILTER_GRAY_OFFSET_B 27
#define TOVIRA_FILTER_GRAY_BALANCE 28   /* 0..1: measure the grey gains on the next frame */

/* ---- file types (Tovira_SaveImage) ------------------------------------------------------------------- */

#define TOVIRA_FILE_BMP 0
#define TOVIRA_FILE_RAW 1
#define TOVIRA_FILE_JPEG_100 2
#define TOVIRA_FILE_JPEG_70 3
#define TOVIRA_FILE_JPEG_20 4
#define TOVIRA_FILE_PNG 5
#define TOVIRA_FILE_TIFF 6

/* Tovira_GetDllVersion */
#define TOVIRA_DLL_VERSION 0x250514

/* ---- lifecycle and errors ------------------------------------------------------------------------------ */

TOVIRA_API int Tovira_Initialize(HWND notifyWindow);
TOVIRA_API int Tovira_Release(int hCamera);
TOVIRA_API int Tovira_GetDllVersion(void);
TOVIRA_API int Tovira_GetLastError(int hCamera);
TOVIRA_API int Tovira_GetStatus(int hCamera, void* reserved);

/* ---- device selection ------------------------------------------------------------------------------ */

/* names: 10 entries of 256 bytes (char names[10][256]); returns the number of cameras found. */
TOVIRA_API int Tovira_EnumDevice(int hCamera, char* names);
/* names: 10 entries of 256 wide characters (wchar_t names[10][256]). */
TOVIRA_API int Tovira_EnumDeviceW(int hCamera, wchar_t* names);
TOVIRA_API int Tovira_GetDeviceName(int hCamera, int deviceNumber, char* name, int length);
TOVIRA_API int Tovira_GetDeviceNameW(int hCamera, int deviceNumber, wchar_t* name, int length);
TOVIRA_API int Tovira_SetDeviceNumber(int hCamera, int deviceNumber);
TOVIRA_API int Tovira_GetCameraInfo(int hCamera, TOVIRA_CAMERA_INFO* info);

/* ---- video format and windows ---------------------------------------------------------------------- */

TOVIRA_API int Tovira_SetColorMode(int hCamera, int bitsPerPixel);   /* 8, 16, 24, 32, 48, 64 */
TOVIRA_API int Tovira_GetColorMode(int hCamera);                     /* 8, 12, 24, 32, 44, 60 */
TOVIRA_API int Tovira_SetSubSample(int hCamera, int code);           /* 0 full, 1 half, 2 quarter */
TOVIRA_API int Tovira_GetSubSample(int hCamera);
TOVIRA_API int Tovira_SetHalfClock(int hCamera, int code);           /* 0..5 */
TOVIRA_API int Tovira_GetHalfClock(int hCamera);
TOVIRA_API int Tovira_SetWaitTime(int hCamera, int milliseconds);
TOVIRA_API int Tovira_GetWaitTime(int hCamera);
TOVIRA_API int Tovira_SetCaptureWindow(int hCamera, int width, int height);
TOVIRA_API int Tovira_SetCaptureWindowEx(int hCamera, int hTotal, int hStart, int hEffective,
                                         int vTotal, int vStart, int vEffective);
TOVIRA_API int Tovira_GetCaptureWindowEx(int hCamera, int* hTotal, int* hStart, int* hEffective,
                                         int* vTotal, int* vStart, int* vEffective);
TOVIRA_API int Tovira_Width(int hCamera);
TOVIRA_API int Tovira_Height(int hCamera);
TOVIRA_API int Tovira_SetPreviewWindow(int hCamera, HWND parent, int left, int top, int right, int bottom);
TOVIRA_API int Tovira_GetVideoFormat(int hCamera, int* format);
TOVIRA_API int Tovira_GetSamplingRate(int hCamera, int* rate);

/* ---- streaming and capture ------------------------------------------------------------------------- */

TOVIRA_API int Tovira_Preview(int hCamera);
/* rowOrder nonzero: top line first; 0: bottom line first (as a bottom-up DIB). */
TOVIRA_API int Tovira_CallBackPreview(int hCamera, HWND callbackWindow, void* buffer, int bufferSize,
                                      int rowOrder);
TOVIRA_API int Tovira_StartPreview(int hCamera);
TOVIRA_API int Tovira_StopPreview(int hCamera);
TOVIRA_API int Tovira_Close(int hCamera);
TOVIRA_API int Tovira_Capture(int hCamera);
TOVIRA_API int Tovira_SnapShot(int hCamera, void* buffer, int bufferSize, int rowOrder);
TOVIRA_API int Tovira_GetImage(int hCamera, void* buffer, int bufferSize, int rowOrder);
/* Not supported by this camera: always 0 with error 11. */
TOVIRA_API int Tovira_Fps(int hCamera, int value);
TOVIRA_API int Tovira_SetCrossbar(int hCamera, int value);
TOVIRA_API int Tovira_SetSamplingRate(int hCamera, int value);
TOVIRA_API int Tovira_Trigger(int hCamera);

/* ---- files ------------------------------------------------------------------------------------------ */

TOVIRA_API int Tovira_SaveImage(int hCamera, const char* fileName, int fileType);
TOVIRA_API int Tovira_SaveImageW(int hCamera, const wchar_t* fileName, int fileType);
TOVIRA_API int Tovira_Record(int hCamera, const char* fileName, int milliseconds, int showWindow);
TOVIRA_API int Tovira_RecordW(int hCamera, const wchar_t* fileName, int milliseconds, int showWindow);

/* ---- parameters ------------------------------------------------------------------------------------ */

TOVIRA_API int Tovira_SetFilterValue(int hCamera, int filterId, int value);
TOVIRA_API int Tovira_GetFilterValue(int hCamera, int filterId, int* success);
TOVIRA_API int Tovira_SetRealExposureTime(int hCamera, int microseconds);
TOVIRA_API int Tovira_GetRealExposureTime(int hCamera, int* success);
TOVIRA_API int Tovira_SetAutoIris(int hCamera, int mode);            /* 0 off, 1 exposure, 2 gain */
TOVIRA_API int Tovira_GetAutoIris(int hCamera, int* success);
TOVIRA_API int Tovira_SetMirrorH(int hCamera, int on);
TOVIRA_API int Tovira_SetMirrorV(int hCamera, int on);
TOVIRA_API int Tovira_GetMirrorH(int hCamera);
TOVIRA_API int Tovira_GetMirrorV(int hCamera);
TOVIRA_API int Tovira_SetIOPort(int hCamera, int value, int reserved1, int reserved2);
TOVIRA_API int Tovira_GetIOPort(int hCamera, unsigned char* value, int reserved1, int reserved2);
TOVIRA_API int Tovira_ReadRegister(int hCamera, int reg, int* success);
TOVIRA_API int Tovira_ReadRegisterEx(int hCamera, int reg, int* success);
TOVIRA_API int Tovira_WriteRegister(int hCamera, int reg, int value);
TOVIRA_API int Tovira_WriteRegisterEx(int hCamera, int reg, int value);
TOVIRA_API int Tovira_ReadSromID(int hCamera, int index, int* success);
TOVIRA_API int Tovira_WriteSromID(int hCamera, int index, int value);

/* ---- named filter values (each is Tovira_SetFilterValue / Tovira_GetFilterValue with its id) -------- */

#define TOVIRA_FILTER_PAIR(name) \
    TOVIRA_API int Tovira_Set##name(int hCamera, int value); \
    TOVIRA_API int Tovira_Get##name(int hCamera, int* success);
TOVIRA_FILTER_PAIR(Brightness)
TOVIRA_FILTER_PAIR(Contrast)
TOVIRA_FILTER_PAIR(Hue)
TOVIRA_FILTER_PAIR(Saturation)
TOVIRA_FILTER_PAIR(Sharpness)
TOVIRA_FILTER_PAIR(BayerGainRGB)
TOVIRA_FILTER_PAIR(BayerGainRed)
TOVIRA_FILTER_PAIR(BayerGainGreen)
TOVIRA_FILTER_PAIR(BayerGainBlue)
TOVIRA_FILTER_PAIR(BayerGainAuto)
TOVIRA_FILTER_PAIR(Gamma)
TOVIRA_FILTER_PAIR(BayerMode)
TOVIRA_FILTER_PAIR(GlobalGain)
TOVIRA_FILTER_PAIR(ColorGainRed)
TOVIRA_FILTER_PAIR(ColorGainGreen1)
TOVIRA_FILTER_PAIR(ColorGainGreen2)
TOVIRA_FILTER_PAIR(ColorGainBlue)
TOVIRA_FILTER_PAIR(ExposureTime)
TOVIRA_FILTER_PAIR(GrayMode)
TOVIRA_FILTER_PAIR(GrayGainR)
TOVIRA_FILTER_PAIR(GrayGainG1)
TOVIRA_FILTER_PAIR(GrayGainG2)
TOVIRA_FILTER_PAIR(GrayGainB)
TOVIRA_FILTER_PAIR(GrayOffsetR)
TOVIRA_FILTER_PAIR(GrayOffsetG1)
TOVIRA_FILTER_PAIR(GrayOffsetG2)
TOVIRA_FILTER_PAIR(GrayOffsetB)
#undef TOVIRA_FILTER_PAIR

/* ---- settings dialogs (modal on the calling thread; 1 whether confirmed or cancelled) -------------- */

TOVIRA_API int Tovira_SetCameraDlg(int hCamera, HWND parent);
TOVIRA_API int Tovira_SetAnalogDlg(int hCamera, HWND parent);
TOVIRA_API int Tovira_SetImageDlg(int hCamera, HWND parent);

#ifdef __cplusplus
}
#endif

#endif /* TOVIRASDK_Z400KX_H */
