// Saving the current output image and recording AVI files.
//
// Saving copies the output image under the frame lock (so the file holds one whole frame) and encodes
// the copy outside it, so a slow encoder never holds up the frame loop. The record thread takes each
// frame the frame loop finished, converts it under the frame lock into a 24-bit bottom-up frame and
// appends it to the AVI file. However a recording ends (its time passed, a stop, a lost camera, a failed
// write), the file is finished with the frames it holds, so it always has its index and sizes; while
// it runs, the headers are rewritten every second so that even a killed process leaves a readable file.

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "camera/CallbackDelivery.h"
#include "camera/RecordEnd.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/AviFrame.h"
#include "output/DibImage.h"
#include "output/ImageFiles.h"
#include "output/PreviewWindow.h"
#include "output/ReplaceFile.h"

namespace {

CDibImage* OutputImage(const CTovira& instance) {
    switch (instance.colorMode) {
        case 0: return instance.rawImage8;
        case 1: return instance.rawImage16;
        case 2: return instance.colorImage24;
        case 3: return instance.colorImage32;
        case 4: return instance.colorImage48;
        case 5: return instance.colorImage64;
        default: return nullptr;
    }
}

// A copy of the output image (pixels and colour table), or an empty image when there is none.
bool SnapshotOutput(CTovira& instance, CDibImage& copy) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    CDibImage* output = OutputImage(instance);
    if (!output || output->IsEmpty()) return false;
    if (!copy.CreateLike(output)) return false;
    std::memcpy(copy.Bits(), output->Bits(), output->ByteSize());
    return true;
}

// ---- the record thread

// A killed process keeps what the headers said at their last rewrite: rewritten at least this often.
constexpr DWORD kCheckpointMs = 1000;
// The sensor's pixel clock with a margin: no camera delivers frames faster than its line and frame
// lengths allow at this clock, which bounds the frames a recording can bring.
constexpr double kFastestPixelClock = 60e6;

// The frame of the current output image, converted under the frame lock so it is one whole frame; null
// when the output image no longer matches the recording (its size or depth changed).
const CDibImage* BuildFrame(CTovira& instance, AviFrameBuilder& builder) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    const CDibImage* output = OutputImage(instance);
    if (!output || output->BitCount() != instance.avi.BitCount()) return nullptr;
    return builder.Build(*output);
}

// The one place where a recording ends: the file is finished with the frames it holds (its sizes, counts
// and index describe exactly those), the failure is recorded, and the recording flag is cleared.
void EndRecording(CTovira& instance, RecordEndReason reason, DWORD lastFrameTime) {
    const uint32_t elapsed = instance.recordStarted ? lastFrameTime - instance.recordFirstTime : 0;
    // Not finished with every frame: a write failed (or finishing had to give frames up for want of room).
    const bool finished = instance.avi.Finish(AviWriter::MeasuredRate(instance.avi.FrameCount(), elapsed)) != 0;
    if (!finished && (reason == RecordEndReason::kDurationReached || reason == RecordEndReason::kStopped))
        reason = RecordEndReason::kDiskFull;
    instance.framesWritten = static_cast<int>(instance.avi.FrameCount());
    instance.recordFirstTime = instance.recordEndTime = 0;
    instance.recordStarted = false;
    if (!finished || reason == RecordEndReason::kDiskFull || reason == RecordEndReason::kFileLimit)
        instance.RecordError(TOVIRA_ERR_STORAGE);
    // A lost camera is told by the frame loop, which waits for this flag, so the file is complete
    // when the application hears of the loss.
    InterlockedExchange(&instance.recording, 0);
    tovira::NotifyRecordingEnded(instance, instance.framesWritten, reason);
}

DWORD WINAPI RecordThread(void* argument) {
    CTovira& instance = *static_cast<CTovira*>(argument);
    const int width = instance.avi.Width(), height = instance.avi.Height();
    AviFrameBuilder work;
    work.Create(width, height);
    DWORD lastFrameTime = 0, lastCheckpoint = timeGetTime();
    RecordEndReason reason = RecordEndReason::kStopped;
    for (;;) {
        if (!instance.recording) break;  // stopped, closed or released
        if (instance.recordCameraLost) {
            reason = RecordEndReason::kCameraLost;
            break;
        }
        Sleep(10);
        if (!InterlockedExchange(&instance.newFrame, 0)) continue;
        const DWORD t = timeGetTime();
        if (!instance.recordStarted) {
            instance.recordStarted = true;
            instance.recordFirstTime = t;
            instance.recordEndTime += t;
        }
        lastFrameTime = t;
        if (const CDibImage* frame = BuildFrame(instance, work)) {
            const int written = instance.avi.WriteFrame(frame->Bits());
            if (written <= 0) {
                reason = written < 0 ? RecordEndReason::kFileLimit : RecordEndReason::kDiskFull;
                break;
            }
            instance.framesWritten = static_cast<int>(instance.avi.FrameCount());
        }
        if (t - lastCheckpoint >= kCheckpointMs) {
            lastCheckpoint = t;
            instance.avi.NoteRate(AviWriter::MeasuredRate(instance.avi.FrameCount(), t - instance.recordFirstTime));
            if (!instance.avi.Checkpoint()) {
                reason = RecordEndReason::kDiskFull;
                break;
            }
        }
        if (instance.recordEndTime < t) {
            reason = RecordEndReason::kDurationReached;
            break;
        }
    }
    EndRecording(instance, reason, lastFrameTime);
    ResumeCallbackDelivery(instance);
    SetEvent(instance.recordDone);
    return 0;
}

// The handles of a recording that already completed on its own.
void CloseFinishedRecording(CTovira& instance) {
    if (instance.recordDone) {
        if (instance.recordThread) WaitForSingleObject(instance.recordDone, INFINITE);
        CloseHandle(instance.recordDone);
        instance.recordDone = nullptr;
    }
    if (instance.recordThread) {
        WaitForSingleObject(instance.recordThread, INFINITE);
        CloseHandle(instance.recordThread);
        instance.recordThread = nullptr;
        instance.recordThreadId = 0;
    }
}

// The most frames a recording of `milliseconds` can bring: the record thread takes at most one frame per
// 10 ms pass, and the camera delivers no faster than its frame timing at the fastest pixel clock.
uint32_t MostFrames(CTovira& instance, int milliseconds) {
    double frameSeconds = 0.01;
    if (instance.device) {
        const tovira::FrameGeometry g = instance.device->GetFrameGeometry();
        frameSeconds = std::max(frameSeconds, static_cast<double>(g.linePitch) * g.totalLines / kFastestPixelClock);
    }
    const double frames = milliseconds / 1000.0 / frameSeconds + 2;
    return frames >= 4e9 ? 4000000000u : static_cast<uint32_t>(frames);
}

// With virtual cameras only (a test set-up), TOVIRA_TEST_AVI_RIFF_LIMIT lowers the RIFF limit so that
// tests reach the large-file layout with small frames.
void ApplyTestRiffLimit() {
    char cameras[64] = {}, limit[32] = {};
    if (!GetEnvironmentVariableA("TOVIRA_VIRTUAL_CAMERAS", cameras, sizeof cameras)) return;
    if (GetEnvironmentVariableA("TOVIRA_TEST_AVI_RIFF_LIMIT", limit, sizeof limit))
        AviWriter::SetRiffLimitForTesting(std::strtoull(limit, nullptr, 10));
}

int StartRecording(CTovira& instance, const wchar_t* fileName, int milliseconds, int showWindow) {
    if (!fileName || !*fileName || milliseconds < 1) {
        instance.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    // One recording at a time: a second start would reset the writer the record thread is using.
    if (instance.recording) {
        instance.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    CloseFinishedRecording(instance);
    CallbackSuspension suspension(instance);  // delivery resumes when the recording ends
    if (showWindow && !OpenPreviewWindow(instance)) {
        instance.RecordError(TOVIRA_ERR_WINDOW);
        return 0;
    }
    if (!instance.StartPreview()) {
        ClosePreviewWindow(instance);
        instance.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    int opened = 0;
    ApplyTestRiffLimit();
    {
        std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
        const CDibImage* output = OutputImage(instance);
        if (output && !output->IsEmpty())
            opened = instance.avi.Open(fileName, output->Width(), output->Height(),
                                       static_cast<uint16_t>(output->BitCount()), MostFrames(instance, milliseconds));
    }
    if (!opened) {
        ClosePreviewWindow(instance);
        instance.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    instance.recordFirstTime = 0;
    instance.recordEndTime = static_cast<DWORD>(milliseconds);
    instance.recordStarted = false;
    instance.framesWritten = 0;
    instance.frameLimit = milliseconds;
    InterlockedExchange(&instance.recordCameraLost, 0);
    InterlockedExchange(&instance.newFrame, 0);
    InterlockedExchange(&instance.recording, 1);  // set before the thread starts, so it finds it set
    instance.recordDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (instance.recordDone)
        instance.recordThread = CreateThread(nullptr, 0, RecordThread, &instance, 0, &instance.recordThreadId);
    if (!instance.recordDone || !instance.recordThread) {
        InterlockedExchange(&instance.recording, 0);
        if (instance.recordDone) CloseHandle(instance.recordDone);
        instance.recordDone = nullptr;
        instance.avi.Finish(0);
        ClosePreviewWindow(instance);
        instance.RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    suspension.Keep();
    return 1;
}

// Saving: each failure gets its reason. A null or empty name and an unknown type are bad arguments,
// no frame yet is "not ready", and a file the system would not write (missing folder, invalid name, full
// disk) is a storage failure.
int SaveImageAs(CTovira& instance, const wchar_t* fileName, int fileType) {
    if (!instance.device || !OutputImage(instance)) {
        instance.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (!fileName || !*fileName || static_cast<unsigned>(fileType) > kFileTiff) {
        instance.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    CDibImage copy;
    if (!SnapshotOutput(instance, copy)) {
        instance.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    switch (SaveImageFile(fileName, &copy, fileType)) {
        case SaveResult::kSaved:
            return 1;
        case SaveResult::kBadType:
        case SaveResult::kBadName:
            instance.RecordError(TOVIRA_ERR_PARAMETER);
            return 0;
        case SaveResult::kNoImage:
            instance.RecordError(TOVIRA_ERR_NOT_READY);
            return 0;
        default:
            instance.RecordError(TOVIRA_ERR_STORAGE);
            return 0;
    }
}

}  // namespace

void CTovira::EndRecordingForLostCamera() {
    if (!recording) return;
    InterlockedExchange(&recordCameraLost, 1);
    // The record thread finishes the file and clears the flag; it waits for nothing of this thread.
    while (recording) Sleep(5);
}

// The ANSI entry points read the name as the file functions of the ANSI code page would; the wide ones
// use the name exactly as given.
int CTovira::SaveImage(const char* fileName, int fileType) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    return SaveImageAs(*this, wide.empty() ? nullptr : wide.c_str(), fileType);
}

int CTovira::SaveImageW(const wchar_t* fileName, int fileType) { return SaveImageAs(*this, fileName, fileType); }

int CTovira::Record(const char* fileName, int milliseconds, int showWindow) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    return StartRecording(*this, wide.empty() ? nullptr : wide.c_str(), milliseconds, showWindow);
}

int CTovira::RecordW(const wchar_t* fileName, int milliseconds, int showWindow) {
    return StartRecording(*this, fileName, milliseconds, showWindow);
}
