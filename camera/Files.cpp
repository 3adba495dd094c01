// Saving the current output image and recording AVI files.
//
// Saving copies the output image under the frame lock (so the file holds one whole frame) and encodes
// the copy outside it, so a slow encoder never holds up the frame loop. The record thread takes each
// frame the frame loop finished, converts it under the frame lock into a 24-bit bottom-up frame and
// appends it to the AVI file; a recording that ends early (stop, close, release) is finished too, so
// the file always has its index and sizes.

#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <mutex>

#include "camera/CallbackDelivery.h"
#include "camera/Tovira.h"
#include "output/AviFrame.h"
#include "output/DibImage.h"
#include "output/ImageFiles.h"
#include "output/PreviewWindow.h"

namespace {

constexpr int kNameBuffer = 1024;

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

bool ToAnsi(const wchar_t* wide, char (&buffer)[kNameBuffer]) {
    if (!wide) return false;
    return WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, buffer, kNameBuffer, nullptr, nullptr) != 0;
}

// ---- the record thread

// The frame of the current output image, converted under the frame lock so it is one whole frame; null
// when the output image no longer matches the recording (its size or depth changed).
const CDibImage* BuildFrame(CTovira& instance, AviFrameBuilder& builder) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    const CDibImage* output = OutputImage(instance);
    if (!output || output->BitCount() != instance.avi.BitCount()) return nullptr;
    return builder.Build(*output);
}

void FinishRecording(CTovira& instance, DWORD lastFrameTime) {
    const uint32_t elapsed = instance.recordStarted ? lastFrameTime - instance.recordFirstTime : 0;
    instance.avi.Finish(AviWriter::MeasuredRate(instance.avi.FrameCount(), elapsed));
    instance.recordFirstTime = instance.recordEndTime = 0;
    instance.recordStarted = false;
    instance.framesWritten = 0;
}

DWORD WINAPI RecordThread(void* argument) {
    CTovira& instance = *static_cast<CTovira*>(argument);
    const int width = instance.avi.Width(), height = instance.avi.Height();
    AviFrameBuilder work;
    work.Create(width, height);
    DWORD lastFrameTime = 0;
    while (instance.recording) {
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
            instance.avi.WriteFrame(frame->Bits());
            instance.framesWritten = static_cast<int>(instance.avi.FrameCount());
        }
        if (instance.recordEndTime < t) {
            FinishRecording(instance, t);
            InterlockedExchange(&instance.recording, 0);
        }
    }
    // Stopped before the duration passed: finish the file anyway so it stays playable.
    if (instance.avi.IsOpen()) FinishRecording(instance, lastFrameTime);
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

int StartRecording(CTovira& instance, const char* fileName, int milliseconds, int showWindow) {
    if (!fileName || !*fileName) {
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
    {
        std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
        const CDibImage* output = OutputImage(instance);
        if (output && !output->IsEmpty())
            opened = instance.avi.Open(fileName, output->Width(), output->Height(),
                                       static_cast<uint16_t>(output->BitCount()));
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

}  // namespace

int CTovira::SaveImage(const char* fileName, int fileType) {
    if (!device || !OutputImage(*this)) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    CDibImage copy;
    if (!SnapshotOutput(*this, copy)) return 0;  // nothing captured yet: nothing to write
    return SaveImageFile(fileName, &copy, fileType);
}

int CTovira::SaveImageW(const wchar_t* fileName, int fileType) {
    if (!device || !OutputImage(*this)) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    char name[kNameBuffer];
    if (!ToAnsi(fileName, name)) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    return SaveImage(name, fileType);
}

int CTovira::Record(const char* fileName, int milliseconds, int showWindow) {
    return StartRecording(*this, fileName, milliseconds, showWindow);
}

int CTovira::RecordW(const wchar_t* fileName, int milliseconds, int showWindow) {
    char name[kNameBuffer];
    if (!ToAnsi(fileName, name)) {
        RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    return StartRecording(*this, name, milliseconds, showWindow);
}
