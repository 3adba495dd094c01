// The acquisition state of a camera instance behind the ToviraX_ functions: the record of the last frame
// handed on, the running counts, waiting for a frame, the frame callback with its buffer pool and the
// recording-completion notice.
//
// The frame loop calls FrameProcessed after each processed frame and FrameLost for a frame it could not
// read or a lost camera, both with the instance's frame lock held; the caller's threads call the rest.
// Lock order: the instance's frame lock before lock_.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "ToviraSdk_Z400KX_ext.h"
#include "camera/CallbackPool.h"
#include "camera/ControlGate.h"
#include "camera/FrameIds.h"
#include "camera/RecordEnd.h"

class CTovira;
class CDibImage;

namespace tovira {

enum class FrameLoss { ReadFailed, CameraLost };

class Acquisition {
public:
    Acquisition() = default;
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    // ---- from the frame loop (frame lock held)
    void FrameProcessed(CTovira& camera, const CDibImage* output);
    void FrameLost(CTovira& camera, FrameLoss loss);

    // ---- from the control plane
    // The stream stopped: waiters return at once.
    void StreamEnded();
    // Release: every waiter returns (-1, error 1) and no frame callback starts after this returns; later
    // waits fail at once.
    void Shutdown(ControlGate& gate);
    std::uint64_t LastFrameId();

    // ---- from the recording thread
    void RecordingEnded(CTovira& camera, int framesWritten, RecordEndReason reason);

    // ---- the ToviraX_ operations (results as the exports return them)
    int GetFrameMeta(CTovira& camera, TOVIRAX_FRAME_META* meta, TOVIRAX_COUNTERS* counters);
    int WaitFrame(CTovira& camera, std::uint64_t afterId, int timeoutMs, void* buffer, int bufferSize, int rowOrder,
                  TOVIRAX_FRAME_META* meta);
    // Inside the control gate.
    int SetFrameCallback(CTovira& camera, int handle, TOVIRAX_FRAME_CALLBACK callback, void* user,
                         void* const* buffers, int count, int bufferSize, int rowOrder);
    int ReturnBuffer(CTovira& camera, void* buffer);
    int SetRecordNotify(int handle, HWND window, TOVIRAX_RECORD_CALLBACK callback, void* user);

private:
    TOVIRAX_FRAME_META BuildRecord(CTovira& camera, const CDibImage& output, std::uint64_t id, std::int64_t arrival);

    std::mutex lock_;
    std::condition_variable frameArrived_;
    // The last frame handed on, and how many frames were processed (WaitFrame's "any newer frame").
    TOVIRAX_FRAME_META last_{};
    bool haveLast_ = false;
    std::uint64_t processed_ = 0;
    // Running counts; never reset.
    std::uint64_t delivered_ = 0, dropped_ = 0, failed_ = 0;
    // The stream the previous frame came from: only within one stream is a gap in the ids a drop.
    FrameIdWidener ids_;
    unsigned lastGeneration_ = 0;
    std::uint64_t lastId_ = 0;
    bool lost_ = false;  // the frame loop ended on a lost camera; cleared by the next frame
    bool closed_ = false;  // released

    // Recording notice.
    HWND recordWindow_ = nullptr;
    TOVIRAX_RECORD_CALLBACK recordCallback_ = nullptr;
    void* recordUser_ = nullptr;
    int recordHandle_ = 0;

    // Last member: destroyed first, so its thread ends before anything it might reach.
    CallbackPool pool_;
};

}  // namespace tovira
