#pragma once
// CTovira: one camera instance per handle. Every export resolves its handle to one of these and calls one
// operation below; all of the library's behaviour behind the exports starts here.
//
// The operations are implemented by family:
//   Lifecycle.cpp  construction, Initialize, destruction, error history
//   Format.cpp     device selection and names, camera information, colour mode, sub-sampling, clock,
//                  wait time, capture window
//   StreamControl.cpp  the control plane: the instance's state and every transition of it (start, stop,
//                  capture mode, lost camera, release), with the table of states
//   Capture.cpp    capture preparation, snapshots and copies to the caller
//   Parameters.cpp filter values, exposure, auto iris, mirrors, I/O port, registers, serial ROM
//   Settings.cpp   the camera values and pages kept in the registry
//   Files.cpp      saving images
//   Recording.cpp  recording AVI: its lifecycle and its thread
//   Dialogs.cpp    the three settings dialogs

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ToviraSdk_Z400KX_ext.h"
#include "camera/Acquisition.h"
#include "camera/ControlGate.h"
#include "camera/LibraryThread.h"
#include "camera/StatusNotifier.h"
#include "camera/ImageParameters.h"
#include "output/AviWriter.h"

class CToviraZ400KXSdk;
class CDibImage;
namespace tovira { class RowBandPool; }

// The states of an instance (StreamControl.cpp has the table of transitions).
enum class CameraState : int { Idle = 0, Streaming = 1, Capture = 2, Lost = 3, Released = 4 };

class CTovira : public std::enable_shared_from_this<CTovira> {
public:
    CTovira();
    virtual ~CTovira();
    CTovira(const CTovira&) = delete;
    CTovira& operator=(const CTovira&) = delete;

    // ---- lifecycle and errors
    int Initialize(HWND notifyWindow);
    void RecordError(int code);
    int GetLastError();
    int GetStatus() const { return 0; }

    // ---- device selection
    int EnumDevice(char* names);
    int EnumDeviceW(wchar_t* names);
    int GetDeviceName(int deviceNumber, char* name, int length);
    int GetDeviceNameW(int deviceNumber, wchar_t* name, int length);
    int SetDeviceNumber(int deviceNumber);
    int GetCameraInfo(TOVIRA_CAMERA_INFO* info);

    // ---- video format and windows
    int SetColorMode(int bitsPerPixel);
    int RebuildForColorMode();  // 1/0; images and transfer width for colorMode; needs frameLock
    int GetColorMode();
    int SetSubSample(int code);
    int GetSubSample();
    int SetHalfClock(int code);
    int GetHalfClock();
    int SetWaitTime(int milliseconds);
    int GetWaitTime();
    int SetCaptureWindow(int width, int height);
    int SetCaptureWindowEx(int hTotal, int hStart, int hEffective, int vTotal, int vStart, int vEffective);
    int GetCaptureWindowEx(int* hTotal, int* hStart, int* hEffective, int* vTotal, int* vStart, int* vEffective);
    int Width();
    int Height();
    int SetPreviewWindow(HWND parent, int left, int top, int right, int bottom);
    bool ValidateCaptureWindow() const;

    // ---- the control plane (StreamControl.cpp)
    // Every control call runs inside the gate (the exports enter it); the state changes only inside it,
    // except for the frame loop's Streaming -> Lost.
    tovira::ControlGate& Gate() { return gate_; }
    CameraState State() const { return state_.load(); }
    // Tovira_Release: stops everything (no callback starts and nothing is written into the caller's memory
    // after it returns), wakes every waiter and closes the gate. Safe on any thread, also inside a callback.
    void Shutdown();
    // Ends the recording (if one runs) and collects its thread; from the recording thread itself (its
    // notice) the thread is let go instead: it ends by itself.
    void EndRecordThread();
    // The camera dialog holds the camera while it is open: starts are refused meanwhile.
    bool DialogHoldsCamera() const { return dialogHoldsCamera_; }

    // ---- streaming and capture
    int PrepareCapture();
    int Preview();
    int CallBackPreview(HWND callbackWindow, void* buffer, int bufferSize, int rowOrder);
    int StartPreview();
    int StopPreview();
    // After the camera was lost (stream or capture mode): stops what is left without a report and returns
    // true (the instance is idle). False, doing nothing, otherwise.
    bool CollectLostStream();
    // The camera is gone (a transfer failed and the camera no longer opens): told once to every consumer.
    void CameraLost(CameraState from);
    int Close();
    int Capture();
    int SnapShot(void* buffer, int bufferSize, int rowOrder);
    int GetImage(void* buffer, int bufferSize, int rowOrder);
    // The frame loop and its pieces (Capture.cpp, FrameLoop.cpp, ProcessFrame.cpp).
    void FrameLoop();
    void ProcessFrame();
    int CopyFrameToCaller(CDibImage* image, int rowOrder, void* buffer, int bufferSize);
    CDibImage* RawImageFor(int mode) const;     // where a frame of the colour mode arrives
    CDibImage* OutputImageFor(int mode) const;  // where the processed frame is left
    int CreateFrameImages(int width, int height, int mode);  // 1/0; needs frameLock
    bool FrameFitsImage(const CDibImage& raw) const;  // the device's frames have the raw image's size
    bool FitImagesToFrames(int mode);  // resizes the images after a window change; needs frameLock
    void RestrideRawImage(CDibImage& raw);
    int OpenPreview(HWND callbackWindow, void* buffer, int bufferSize, int rowOrder);
    // The open analogue dialog shows a value the auto iris set; the open image dialog reloads after a
    // balance. No-ops while the dialog is closed.
    void ShowAnalogueValue(int controlId, int value);
    void ReloadImageDialog();

    // ---- files
    int SaveImage(const char* fileName, int fileType);
    int SaveImageW(const wchar_t* fileName, int fileType);
    // codec: a TOVIRAX_CODEC_ value; quality: 1..100 for Motion JPEG.
    int Record(const char* fileName, int milliseconds, int showWindow, int codec = TOVIRAX_CODEC_UNCOMPRESSED,
               int quality = 0);
    int RecordW(const wchar_t* fileName, int milliseconds, int showWindow, int codec = TOVIRAX_CODEC_UNCOMPRESSED,
                int quality = 0);
    // The running or last recording's counts (read without the control gate).
    int GetRecordStatus(TOVIRAX_RECORD_STATUS* status);
    // The frame loop found the camera gone: a running recording is finished before the loss is told.
    void EndRecordingForLostCamera();

    // ---- parameters
    int SetFilterValue(int filterId, int value);
    int GetFilterValue(int filterId, int* success);
    int SetRealExposureTime(int microseconds);
    int GetRealExposureTime(int* success);
    int SetAutoIris(int mode);
    int GetAutoIris(int* success);
    int SetMirrorH(int on);
    int SetMirrorV(int on);
    int GetMirrorH();
    int GetMirrorV();
    int SetIOPort(int value);
    int GetIOPort(unsigned char* value);
    int ReadRegister(uint16_t reg, int* success);
    int WriteRegister(uint16_t reg, uint16_t value);
    int ReadSromID(int index, int* success);
    int WriteSromID(int index, int value);

    // ---- settings dialogs
    int SetCameraDlg(HWND parent);
    int SetAnalogDlg(HWND parent);
    int SetImageDlg(HWND parent);

    // ---- settings persistence (registry and serial ROM)
    int LoadCaptureWindowSettings();
    int LoadCameraSettings();
    int LoadGrayFromSrom();

    // ---- fields, in the order of the instance's data model
    CToviraZ400KXSdk* device = nullptr;
    CDibImage* rawImage8 = nullptr;
    CDibImage* rawImage16 = nullptr;
    CDibImage* colorImage24 = nullptr;
    CDibImage* colorImage32 = nullptr;
    CDibImage* colorImage48 = nullptr;
    CDibImage* colorImage64 = nullptr;
    CDibImage* sharpnessImage = nullptr;
    CDibImage* displayImage = nullptr;
    HWND previewWindow = nullptr;
    HDC previewDc = nullptr;
    char previewClassName[256] = {};
    int hTotal = 3840, vTotal = 2748;
    int effectiveWidth = 3840, effectiveHeight = 2748;
    int hStart = 0, vStart = 0;
    int bufferCount = 10;
    ImageParameters image;
    void* imageDialog = nullptr;
    // Last analogue values sent to the sensor (16-bit values in 32-bit slots).
    int globalGain = 0, colorGainGreen1 = 0, colorGainRed = 0, colorGainBlue = 0, colorGainGreen2 = 0;
    int exposureLines = 0;
    unsigned mirrorV = 0, mirrorH = 0;
    unsigned autoIrisMode = 0;
    void* analogDialog = nullptr;
    uint16_t lineLength = 0, frameLength = 0;
    double exposureScale = 1.0;
    int lastRealExposure = 0;
    // Recording (Recording.cpp): the flag and the new-frame flag are shared with the record thread; the
    // frame loop counts its frames (frameSequence, under frameLock) and wakes the thread (recordWake,
    // auto reset).
    volatile LONG recording = 0;
    std::atomic<int> framesWritten{0};
    volatile LONG newFrame = 0;
    std::atomic<uint64_t> frameSequence{0};
    HANDLE recordWake = nullptr;
    std::atomic<int> recordCodec{TOVIRAX_CODEC_UNCOMPRESSED};
    int recordQuality = 0;
    std::atomic<uint64_t> recordDropped{0}, recordBytes{0};
    std::atomic<long long> recordElapsedMs{0};
    AviWriter avi;
    ULONGLONG recordFirstTime = 0, recordDuration = 0;  // elapsed time is compared, never tick values
    bool recordStarted = false;  // the first frame arrived and recordFirstTime holds its time
    tovira::LibraryThread recordThread;   // collected by the next recording or a stop
    volatile LONG recordCameraLost = 0;  // set by the frame loop, read by the record thread
    std::atomic<bool> loopRun{false};
    tovira::LibraryThread frameThread;
    HANDLE frameLoopWake = nullptr;  // manual reset; set by a stop so the loop's wait between polls ends
    HWND previewParent = nullptr;
    RECT previewRect = {0, 0, 3840, 2748};
    HWND notifyWindow = nullptr;
    HWND callbackWindow = nullptr;
    void* callerBuffer = nullptr;
    int callerBufferSize = 0, rowOrder = 0;
    // The callback delivery a running recording paused (CallbackDelivery.h); active while it is paused.
    struct PausedCallback {
        HWND window = nullptr;
        void* buffer = nullptr;
        int bufferSize = 0, rowOrder = 0;
        bool active = false;
    } pausedCallback;
    TOVIRA_FRAME_INFO frameInfo = {32, 0, 0, 0, 0, 0, nullptr};
    int colorMode = 0;     // 0..5 for 8, 16, 24, 32, 48, 64 bits per pixel
    int subSample = 0;
    int waitTime = 10;
    int clockCode = 0;
    int frameRate = 0;     // tenths of frames per second
    int framesCounted = 0;
    DWORD lastRateUpdate = 0;
    int errors[20] = {};
    int driverSetting = 8000;
    // Stored settings the loads replaced by their defaults (out of range or of another type); Initialize
    // notes them once with error 12.
    int storedValuesReplaced = 0;

    // Not in the data model: the frame loop holds frameLock while it processes a frame and copies it out;
    // GetImage and SaveImage take it too, so a caller never sees half of one frame and half of another.
    std::recursive_mutex frameLock;
    // Frame records, counts, waiting and the frame callback of the ToviraX_ functions (Acquisition.cpp).
    tovira::Acquisition acquisition;
    // Status events for programs without a window (ToviraX_SetStatusCallback).
    tovira::StatusNotifier status;

    // Worker threads the frame pipeline splits each frame over, made when streaming starts and ended
    // when it stops (none otherwise: a snapshot runs on the caller's thread). pipelineThreads: threads
    // per frame, the frame loop included; 0 = one per processor.
    std::shared_ptr<tovira::RowBandPool> bandPool;
    int pipelineThreads = 0;

    // False for an instance of ToviraX_InitializeEx with TOVIRAX_INIT_NO_STORED_SETTINGS: Initialize takes
    // the defaults instead of the registry's settings and destruction stores nothing (SettingsFile.cpp).
    bool storedSettings = true;

private:
    // The transitions' pieces (StreamControl.cpp).
    void EndFrameLoop();
    // What StartPreview and Capture share: a device, a lost stream collected, an idle instance that the
    // camera dialog does not hold, a preparation. Failures are recorded (error 1 last).
    enum class Start { Failed, AlreadyThere, Prepared };
    Start BeginStart(CameraState target);
    // Stops the stream; endDelivery also ends the delivery into the caller's buffer and window (every stop
    // the application asks for), otherwise it resumes with the stream (the camera dialog). A transfer
    // that ended on a failure is reported (error 6) when reportTransfer.
    int StopStream(bool endDelivery, bool reportTransfer = true);

    tovira::ControlGate gate_;
    std::atomic<CameraState> state_{CameraState::Idle};
    bool dialogHoldsCamera_ = false;

    // Set once Initialize has loaded the stored pages; only then does destruction save them, so an
    // instance that never got that far cannot overwrite the user's settings with its blank values.
    bool pagesLoaded = false;
    std::mutex errorLock;  // the frame loop records errors while the caller's thread pops them
};
