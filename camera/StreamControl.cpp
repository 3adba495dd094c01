// The control plane of a camera instance: its state and every transition of it.
//
// Every control export enters the instance's gate (ControlGate.h) before it calls in here, so two threads
// never run transitions at the same time; each call ends in one of these states:
//
//   state      | event                                   | next state
//   -----------+-----------------------------------------+----------------------------------------------
//   Idle       | StartPreview, Preview, CallBackPreview, | Streaming (on failure: Idle, error reported)
//              | Record                                  |
//   Idle       | Capture                                 | Capture
//   Idle       | SnapShot                                | Idle (prepares and reads one frame)
//   Streaming  | StopPreview, Close                      | Idle: frame loop, recording and transfer ended,
//              |                                         | delivery into the caller's buffer ended
//   Streaming  | window, colour mode, sub-sampling       | Streaming (the transfer restarts inside)
//   Streaming  | camera dialog                           | Idle while it is open (starts refused), then
//              |                                         | Streaming again with the same delivery
//   Streaming  | the frame loop finds the camera gone    | Lost (the only transition not made inside the
//              |                                         | gate: the frame loop makes it, once)
//   Capture    | SnapShot                                | Capture; Lost when the read fails and the
//              |                                         | camera no longer opens
//   Capture    | StopPreview, Close                      | Idle
//   Lost       | any start or snapshot                   | collected to Idle first, then as from Idle
//              |                                         | (fails at the call while the camera is gone)
//   Lost       | StopPreview, Close                      | Idle, without a report
//   any        | Release                                 | Released, for good; the gate refuses every call
//
// A recording is a part of Streaming: it starts inside Record and ends by itself (its time passed, the
// disk is full, the camera was lost) or with the stream.
//
// Nothing here waits for the thread it runs on: a stop that arrives on the recording thread (from the
// record notice) or the status thread leaves that thread to end by itself, and the gate refuses the calls
// of a thread the transition is waiting for, so it can return from the application's callback and end.

#include <windows.h>

#include "camera/CallbackDelivery.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/PreviewWindow.h"
#include "pipeline/RowBandPool.h"

void CTovira::EndFrameLoop() {
    loopRun = false;
    if (frameLoopWake) SetEvent(frameLoopWake);  // ends the loop's wait between polls at once
    if (!frameThread.handle) return;
    gate_.WaitForThread(frameThread.handle, frameThread.id);
    CloseHandle(frameThread.handle);
    frameThread = tovira::LibraryThread{};
}

void CTovira::EndRecordThread() {
    // The record thread finishes the file with the frames it holds, tells the application and ends.
    InterlockedExchange(&recording, 0);
    if (!recordThread.handle) return;
    // From its own notice the thread is not waited for: it ends by itself, holding its share of the
    // instance and a reference to the library until its last act.
    if (recordThread.id != GetCurrentThreadId()) gate_.WaitForThread(recordThread.handle, recordThread.id);
    CloseHandle(recordThread.handle);
    recordThread = tovira::LibraryThread{};
}

int CTovira::StopStream(bool endDelivery, bool reportTransfer) {
    const CameraState was = state_.load();
    EndFrameLoop();
    EndRecordThread();
    {
        // The frame loop has ended; a snapshot that holds the frame lock finishes before the pool goes.
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        bandPool.reset();
        if (endDelivery) {
            // A stop means stopped: nothing is written into the caller's buffer or posted to its window
            // for this stream any more; the next CallBackPreview names them again.
            callbackWindow = nullptr;
            callerBuffer = nullptr;
            callerBufferSize = 0;
            pausedCallback.active = false;
        }
    }
    if (was == CameraState::Idle || was == CameraState::Released) return 1;
    state_ = CameraState::Idle;
    acquisition.StreamEnded();
    if (was == CameraState::Streaming)
        status.Post(TOVIRAX_STATUS_STREAM_STOPPED, 0, 0);
    device->ConfigureCaptureMode(0, 1);
    // The transfer of a lost camera ended on its failure: an application's stop reports it once (6), a
    // start that collects what was left of the stream does not.
    if (device->StopStreaming() != 0 && reportTransfer) {
        RecordError(TOVIRA_ERR_DEVICE_IO);
        return 0;
    }
    return 1;
}

void CTovira::CameraLost(CameraState from) {
    CameraState expected = from;
    if (!state_.compare_exchange_strong(expected, CameraState::Lost)) return;
    // Waiters learn of the loss before anything else changes, so they report 13, not a plain stop.
    acquisition.FrameLost(*this, tovira::FrameLoss::CameraLost);
    if (from == CameraState::Streaming) {
        loopRun = false;
        // A running recording is finished before the loss is told, so the file is complete by then.
        EndRecordingForLostCamera();
    }
    // A camera that is gone leaves the device list, so every later start fails at the call as it would
    // for a camera that was never there.
    device->RecheckDevice(device->GetDeviceNumber());
    {
        std::lock_guard<std::recursive_mutex> guard(frameLock);
        if (callbackWindow) PostMessageA(callbackWindow, WM_TOVIRA_FRAME, 0, TOVIRA_ERR_DEVICE_LOST);
    }
    RecordError(TOVIRA_ERR_DEVICE_LOST);
    status.Post(TOVIRAX_STATUS_CAMERA_LOST, static_cast<long long>(acquisition.LastFrameId()), 0);
    if (from == CameraState::Streaming) status.Post(TOVIRAX_STATUS_STREAM_STOPPED, 0, 1);
}

bool CTovira::CollectLostStream() {
    // The stream (or capture mode) ended when the camera went away: what is left is collected without a
    // further report and the instance is idle again, so the start that follows prepares afresh: it fails
    // at the call when the camera is gone and streams again when it is back.
    if (state_.load() != CameraState::Lost || !device) return false;
    StopStream(false, false);
    return true;
}

CTovira::Start CTovira::BeginStart(CameraState target) {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return Start::Failed;
    }
    CollectLostStream();
    const CameraState now = state_.load();
    if (now == target) return Start::AlreadyThere;
    if (now != CameraState::Idle || dialogHoldsCamera_ || !PrepareCapture()) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return Start::Failed;
    }
    return Start::Prepared;
}

int CTovira::StartPreview() {
    const Start start = BeginStart(CameraState::Streaming);
    if (start != Start::Prepared) return start == Start::AlreadyThere ? 1 : 0;
    try {
        bandPool = std::make_shared<tovira::RowBandPool>(
            pipelineThreads > 0 ? pipelineThreads : tovira::RowBandPool::DefaultThreads());
    } catch (...) {
        bandPool.reset();
        RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    if (!frameLoopWake) frameLoopWake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (frameLoopWake) ResetEvent(frameLoopWake);
    // Streaming before the loop runs: the loop's only transition (to Lost) starts from it.
    state_ = CameraState::Streaming;
    loopRun = true;
    if (frameLoopWake)
        frameThread = tovira::StartLibraryThread([this] {
            // A frame that fails with an exception (out of memory in the pipeline) is a failed frame;
            // the loop goes on with the next one.
            while (loopRun) {
                try {
                    FrameLoop();
                    return;
                } catch (...) {
                    acquisition.FrameLost(*this, tovira::FrameLoss::ReadFailed);
                    RecordError(TOVIRA_ERR_BUFFER);
                }
            }
        });
    if (!frameThread.handle) {
        StopStream(false);
        RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    if (device->StartStreaming() != 0) {
        StopStream(false);
        RecordError(TOVIRA_ERR_DEVICE_IO);
        return 0;
    }
    return 1;
}

int CTovira::StopPreview() {
    if (!device) {
        RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    return StopStream(true);
}

int CTovira::Preview() { return OpenPreview(nullptr, nullptr, 0, 0); }

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
    const Start start = BeginStart(CameraState::Capture);
    if (start != Start::Prepared) return start == Start::AlreadyThere ? 1 : 0;
    state_ = CameraState::Capture;
    return 1;
}

void CTovira::Shutdown() {
    tovira::GateEntry entry(gate_);
    if (entry.Result() == tovira::ControlGate::Entry::Closed) return;
    if (!entry.Entered()) {
        // Released on a thread that the call inside is waiting for (the application releases inside its
        // callback while another thread stops the stream): that call ends first, then a thread of its own
        // shuts the instance down.
        if (std::shared_ptr<CTovira> self = weak_from_this().lock()) {
            const tovira::LibraryThread later = tovira::StartLibraryThread([self] { self->Shutdown(); });
            if (later.handle) {
                CloseHandle(later.handle);
                return;
            }
        }
    }
    if (device) {
        Close();
        StopStream(true);
    }
    // No waiter stays inside, no frame callback or status callback starts after this.
    acquisition.Shutdown(gate_);
    status.Stop(&gate_);
    state_ = CameraState::Released;
    gate_.Close();
}
