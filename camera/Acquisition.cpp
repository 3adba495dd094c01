// The acquisition state behind the ToviraX_ functions (see Acquisition.h).

#include "camera/Acquisition.h"

#include <algorithm>

#include "camera/AcquisitionLog.h"
#include "camera/FrameCopy.h"
#include "camera/FrameReport.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"

namespace tovira {

namespace {

std::int64_t TicksToMicros(std::int64_t ticks) {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    // Split so that the product cannot overflow for any realistic uptime.
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}


// The output image still holds the frame the record describes (a window or colour-mode change since then
// recreates the images).
bool Matches(const CDibImage* output, const TOVIRAX_FRAME_META& meta) {
    return output && !output->IsEmpty() && output->Width() == meta.width && output->Height() == meta.height &&
           output->Stride() == meta.stride && output->BitCount() == meta.bitsPerPixel;
}

}  // namespace

TOVIRAX_FRAME_META Acquisition::BuildRecord(CTovira& camera, const CDibImage& output, std::uint64_t id,
                                            std::int64_t arrival) {
    TOVIRAX_FRAME_META meta{};
    meta.size = sizeof(TOVIRAX_FRAME_META);
    meta.bitsPerPixel = output.BitCount();
    meta.frameId = id;
    meta.timestamp = arrival;
    meta.timestampUs = TicksToMicros(arrival);
    meta.width = output.Width();
    meta.height = output.Height();
    meta.stride = output.Stride();
    meta.exposureLines = camera.exposureLines;
    // The sensor's exposure: whole lines plus the frame overhead, in the clock of the last preparation.
    meta.exposureUs = static_cast<int>(
        (static_cast<double>(camera.lineLength) * camera.exposureLines + camera.frameLength) * camera.exposureScale);
    meta.globalGain = camera.globalGain;
    meta.gainRed = camera.colorGainRed;
    meta.gainGreen1 = camera.colorGainGreen1;
    meta.gainGreen2 = camera.colorGainGreen2;
    meta.gainBlue = camera.colorGainBlue;
    meta.frameRate = camera.frameRate;
    return meta;
}

void Acquisition::FrameProcessed(CTovira& camera, const CDibImage* output) {
    if (!output || output->IsEmpty() || !camera.device) return;
    const FrameStamp stamp = camera.device->GetLastFrameStamp();
    bool bufferTooSmall = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const std::uint64_t id = ids_.Widen(stamp.counter);
        // Generation 0 is a single-frame read, which belongs to no stream.
        const bool sameStream = processed_ > 0 && stamp.generation != 0 && stamp.generation == lastGeneration_;
        if (sameStream && id > lastId_ + 1) {
            // The transfer thread finished newer frames before the loop took these: they never reached
            // the application.
            const std::uint64_t gap = id - lastId_ - 1;
            dropped_ += gap;
            LogLine(LogLevel::Drops, &camera, "dropped %llu frame(s) before frame %llu (replaced by newer ones)",
                    static_cast<unsigned long long>(gap), static_cast<unsigned long long>(id));
        }
        if (!sameStream)
            LogLine(LogLevel::States, &camera, "stream started, first frame %llu (%dx%d, %d bits)",
                    static_cast<unsigned long long>(id), output->Width(), output->Height(), output->BitCount());
        lastGeneration_ = stamp.generation;
        lastId_ = id;
        lost_ = false;

        TOVIRAX_FRAME_META meta = BuildRecord(camera, *output, id, stamp.arrival);
        ApplyFrameReport(camera, stamp, meta);
        meta.delivered = delivered_ + 1;
        meta.dropped = dropped_;
        meta.failed = failed_;
        switch (pool_.Offer(*output, meta)) {
            case CallbackPool::Result::Queued:
            case CallbackPool::Result::Inactive:
                ++delivered_;
                break;
            case CallbackPool::Result::NoFreeBuffer:
                // Every buffer is with the caller: the frame is not written anywhere.
                ++dropped_;
                LogLine(LogLevel::Drops, &camera, "dropped frame %llu (no free callback buffer)",
                        static_cast<unsigned long long>(id));
                break;
            case CallbackPool::Result::TooSmall:
                ++failed_;
                bufferTooSmall = true;
                break;
        }
        meta.delivered = delivered_;
        meta.dropped = dropped_;
        meta.failed = failed_;
        last_ = meta;
        haveLast_ = true;
        ++processed_;
    }
    frameArrived_.notify_all();
    if (bufferTooSmall) camera.RecordError(TOVIRA_ERR_BUFFER);
}

void Acquisition::FrameLost(CTovira& camera, FrameLoss loss) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (loss == FrameLoss::ReadFailed) {
            ++failed_;
        } else {
            lost_ = true;
            LogLine(LogLevel::States, &camera, "camera lost, the stream ended after frame %llu",
                    static_cast<unsigned long long>(lastId_));
        }
    }
    frameArrived_.notify_all();
}

int Acquisition::GetFrameMeta(CTovira& camera, TOVIRAX_FRAME_META* meta, TOVIRAX_COUNTERS* counters) {
    if ((meta && meta->size < static_cast<int>(sizeof(TOVIRAX_FRAME_META))) ||
        (counters && counters->size < static_cast<int>(sizeof(TOVIRAX_COUNTERS)))) {
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    bool have = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (counters) {
            counters->size = sizeof(TOVIRAX_COUNTERS);
            counters->reserved = 0;
            counters->delivered = delivered_;
            counters->dropped = dropped_;
            counters->failed = failed_;
        }
        have = haveLast_;
        if (meta && have) *meta = last_;
    }
    if (meta && !have) {
        camera.RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }
    return 1;
}

int Acquisition::WaitFrame(CTovira& camera, std::uint64_t afterId, int timeoutMs, void* buffer, int bufferSize,
                           int rowOrder, TOVIRAX_FRAME_META* meta) {
    if (timeoutMs < 0 || bufferSize < 0 || (meta && meta->size < static_cast<int>(sizeof(TOVIRAX_FRAME_META)))) {
        camera.RecordError(TOVIRA_ERR_PARAMETER);
        return -1;
    }
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    std::unique_lock<std::mutex> guard(lock_);
    std::uint64_t seen = processed_;  // for TOVIRAX_NEXT_FRAME: a frame processed after this point
    for (;;) {
        const CameraState state = camera.State();
        const bool ready = afterId == TOVIRAX_NEXT_FRAME ? processed_ > seen : haveLast_ && last_.frameId > afterId;
        // Frames are handed out only while streaming: after a stop an old frame is no answer.
        if (ready && state == CameraState::Streaming && !closed_) {
            // Pixels and record are taken together under the frame lock, which the frame loop holds from
            // reading a frame to handing it on: the copy is the frame the record describes.
            guard.unlock();
            std::lock_guard<std::recursive_mutex> frame(camera.frameLock);
            guard.lock();
            const TOVIRAX_FRAME_META record = last_;
            const CDibImage* output = camera.OutputImageFor(camera.colorMode);
            if (Matches(output, record)) {
                guard.unlock();
                if (buffer) {
                    if (static_cast<std::int64_t>(bufferSize) < static_cast<std::int64_t>(record.stride) * record.height) {
                        camera.RecordError(TOVIRA_ERR_BUFFER);
                        return -1;
                    }
                    CopyImageRows(*output, rowOrder, buffer);
                }
                if (meta) *meta = record;
                return 1;
            }
            // The images were rebuilt (window or colour mode changed) since: wait for the next frame.
            seen = processed_;
            afterId = TOVIRAX_NEXT_FRAME;
            continue;
        }
        if (state != CameraState::Streaming || closed_) {
            // A lost camera leaves the instance Lost until the application stops or starts again; after
            // that it is simply not streaming.
            const int code = !closed_ && (lost_ || state == CameraState::Lost) && state != CameraState::Idle
                                 ? TOVIRA_ERR_DEVICE_LOST
                                 : TOVIRA_ERR_NOT_READY;
            guard.unlock();
            camera.RecordError(code);
            return -1;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return 0;
        // Woken by every frame, every loss, stop and release; the slices are a second line of defence.
        const ULONGLONG slice = std::min<ULONGLONG>(deadline - now, 100);
        frameArrived_.wait_for(guard, std::chrono::milliseconds(slice));
    }
}

int Acquisition::SetFrameCallback(CTovira& camera, int handle, TOVIRAX_FRAME_CALLBACK callback, void* user,
                                  void* const* buffers, int count, int bufferSize, int rowOrder) {
    // The callback thread cannot wait for itself to end.
    if (pool_.OnCallbackThread()) {
        camera.RecordError(TOVIRA_ERR_NOT_READY);
        return 0;
    }
    if (callback) {
        bool valid = buffers && count >= 1 && count <= CallbackPool::kMaxBuffers && bufferSize > 0;
        for (int i = 0; valid && i < count; ++i) {
            valid = buffers[i] != nullptr;
            for (int j = 0; valid && j < i; ++j) valid = buffers[j] != buffers[i];
        }
        if (!valid) {
            camera.RecordError(TOVIRA_ERR_PARAMETER);
            return 0;
        }
    }
    // Not under lock_: a running callback may be asking for the counts while its thread is ended. Its
    // calls into the control gate are refused meanwhile, so it can return and end.
    const int discarded = pool_.Stop(&camera.Gate());
    {
        std::lock_guard<std::mutex> guard(lock_);
        delivered_ -= std::min<std::uint64_t>(delivered_, static_cast<std::uint64_t>(discarded));
        dropped_ += static_cast<std::uint64_t>(discarded);
    }
    if (!callback) {
        LogLine(LogLevel::States, &camera, "frame callback removed (%d queued frame(s) discarded)", discarded);
        return 1;
    }
    if (!pool_.Start(handle, callback, user, buffers, count, static_cast<std::size_t>(bufferSize), rowOrder)) {
        camera.RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    LogLine(LogLevel::States, &camera, "frame callback set with %d buffer(s) of %d bytes", count, bufferSize);
    return 1;
}

void Acquisition::StreamEnded() {
    { std::lock_guard<std::mutex> guard(lock_); }
    frameArrived_.notify_all();
}

void Acquisition::Shutdown(ControlGate& gate) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    frameArrived_.notify_all();
    pool_.Stop(&gate);
}

std::uint64_t Acquisition::LastFrameId() {
    std::lock_guard<std::mutex> guard(lock_);
    return lastId_;
}

int Acquisition::ReturnBuffer(CTovira& camera, void* buffer) {
    if (pool_.Return(buffer)) return 1;
    camera.RecordError(TOVIRA_ERR_PARAMETER);
    return 0;
}

int Acquisition::SetRecordNotify(int handle, HWND window, TOVIRAX_RECORD_CALLBACK callback, void* user) {
    std::lock_guard<std::mutex> guard(lock_);
    recordWindow_ = window;
    recordCallback_ = callback;
    recordUser_ = user;
    recordHandle_ = handle;
    return 1;
}

void Acquisition::RecordingEnded(CTovira& camera, int framesWritten, RecordEndReason reason) {
    static const char* const kReasons[] = {"", "duration reached", "stopped", "camera lost", "disk full",
                                           "file limit"};
    {
        // A recording whose camera went away only ends when the application stops the stream; the
        // camera's loss is the reason then.
        std::lock_guard<std::mutex> guard(lock_);
        if (reason == RecordEndReason::kStopped && lost_) reason = RecordEndReason::kCameraLost;
    }
    const int code = static_cast<int>(reason);
    LogLine(LogLevel::States, &camera, "recording ended: %s, %d frame(s) written",
            code >= 1 && code <= 5 ? kReasons[code] : "unknown", framesWritten);
    HWND window;
    TOVIRAX_RECORD_CALLBACK callback;
    void* user;
    int handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        window = recordWindow_;
        callback = recordCallback_;
        user = recordUser_;
        handle = recordHandle_;
    }
    camera.status.Post(TOVIRAX_STATUS_RECORDING_ENDED, framesWritten, code);
    // Posted, never sent: the recording thread never waits for the application's window procedure.
    if (window) PostMessageA(window, WM_TOVIRAX_RECORDED, static_cast<WPARAM>(framesWritten), static_cast<LPARAM>(code));
    if (callback) {
        try {
            callback(handle, framesWritten, code, user);
        } catch (...) {
        }
    }
}

void NotifyRecordingEnded(CTovira& camera, int framesWritten, RecordEndReason reason) {
    camera.acquisition.RecordingEnded(camera, framesWritten, reason);
}

}  // namespace tovira
