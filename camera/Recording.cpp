// Recording AVI files: the recording's lifecycle and its thread.
//
// The record thread wakes for each frame the frame loop finished, converts the newest one under the frame
// lock into a bottom-up frame (24-bit, or 8-bit grey), compresses it outside the lock when the codec is
// Motion JPEG and appends it to the AVI file. A frame the frame loop finished while the thread was still
// busy with an earlier one is never queued: the newest replaces it, and the frames left out are counted
// as dropped. However a recording ends (its time passed, a
// stop, a lost camera, a failed write), the file is finished with the frames it holds, so it always has
// its index and sizes; while it runs, the headers are rewritten every second so that even a killed
// process leaves a readable file. Only then is the end told (record notice, status event): the
// application may stop, start or release from inside that notice, on the record thread.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "camera/CallbackDelivery.h"
#include "camera/RecordEnd.h"
#include "camera/Tovira.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/AviFrame.h"
#include "output/DibImage.h"
#include "output/ImageFiles.h"
#include "output/JpegEncoder.h"
#include "output/PreviewWindow.h"
#include "output/ReplaceFile.h"

namespace {

// A killed process keeps what the headers said at their last rewrite: rewritten at least this often.
constexpr ULONGLONG kCheckpointMs = 1000;
// The sensor's pixel clock with a margin: no camera delivers frames faster than its line and frame
// lengths allow at this clock, which bounds the frames a recording can bring.
constexpr double kFastestPixelClock = 60e6;

// The frame of the current output image in the recording's layout, converted under the frame lock so it
// is one whole frame, and the frame loop's count of that frame; null when the output image no longer
// matches the recording (its size or depth changed).
const CDibImage* BuildFrame(CTovira& instance, AviFrameBuilder& builder, uint64_t& sequence) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    sequence = instance.frameSequence;
    const CDibImage* output = instance.OutputImageFor(instance.colorMode);
    if (!output || output->BitCount() != instance.avi.BitCount()) return nullptr;
    return instance.avi.Codec() == AviCodec::kGrey8 ? builder.BuildGrey(*output) : builder.Build(*output);
}

// Appends the frame in the recording's codec: the AviWriter result, or 2 when a Motion JPEG frame could
// not be encoded (no memory; the frame is dropped).
int AppendFrame(CTovira& instance, const CDibImage& frame, JpegMemoryEncoder& jpeg) {
    if (instance.avi.Codec() != AviCodec::kMjpeg) return instance.avi.WriteFrame(frame.Bits());
    const size_t bytes = jpeg.Encode(frame, instance.recordQuality);
    if (bytes == 0 || bytes > 0x7FFFFF00u) return 2;
    return instance.avi.WriteFrame(jpeg.Data(), static_cast<uint32_t>(bytes));
}

uint32_t ClampMs(ULONGLONG ms) { return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms); }

// The file is finished with the frames it holds (its sizes, counts and index describe exactly those)
// and a failure is recorded. Returns the reason, a write failure turned into kDiskFull.
RecordEndReason FinishFile(CTovira& instance, RecordEndReason reason, ULONGLONG lastFrameTime) {
    const ULONGLONG elapsed = instance.recordStarted ? lastFrameTime - instance.recordFirstTime : 0;
    // Not finished with every frame: a write failed (or finishing had to give frames up for want of room).
    const bool finished = instance.avi.Finish(AviWriter::MeasuredRate(instance.avi.FrameCount(), ClampMs(elapsed))) != 0;
    if (!finished && (reason == RecordEndReason::kDurationReached || reason == RecordEndReason::kStopped))
        reason = RecordEndReason::kDiskFull;
    instance.framesWritten = static_cast<int>(instance.avi.FrameCount());
    instance.recordBytes = instance.avi.DataBytes();
    instance.recordFirstTime = 0;
    instance.recordStarted = false;
    if (!finished || reason == RecordEndReason::kDiskFull || reason == RecordEndReason::kFileLimit)
        instance.RecordError(TOVIRA_ERR_STORAGE);
    return reason;
}

void RecordLoop(CTovira& instance) {
    const int width = instance.avi.Width(), height = instance.avi.Height();
    AviFrameBuilder work;
    work.Create(width, height);
    JpegMemoryEncoder jpeg;
    ULONGLONG lastFrameTime = 0, lastCheckpoint = GetTickCount64();
    RecordEndReason reason = RecordEndReason::kStopped;
    uint64_t lastSequence = 0;
    bool taken = false;
    for (;;) {
        if (!instance.recording) break;  // stopped, closed or released
        if (instance.recordCameraLost) {
            reason = RecordEndReason::kCameraLost;
            break;
        }
        // Woken by each frame; the time-out only bounds how late a stop or a lost camera is seen.
        if (instance.recordWake)
            WaitForSingleObject(instance.recordWake, 10);
        else
            Sleep(10);
        if (!InterlockedExchange(&instance.newFrame, 0)) continue;
        const ULONGLONG t = GetTickCount64();
        uint64_t sequence = 0;
        const CDibImage* frame = BuildFrame(instance, work, sequence);
        // The frame taken on the pass before (the flag was set again while it was being taken).
        if (taken && sequence == lastSequence) continue;
        if (!instance.recordStarted) {
            instance.recordStarted = true;
            instance.recordFirstTime = t;
        }
        lastFrameTime = t;
        instance.recordElapsedMs = static_cast<long long>(t - instance.recordFirstTime);
        // Frames the frame loop finished while this thread was busy were replaced by the newest.
        if (taken && sequence > lastSequence + 1) instance.recordDropped += sequence - lastSequence - 1;
        lastSequence = sequence;
        taken = true;
        if (frame) {
            const int written = AppendFrame(instance, *frame, jpeg);
            if (written == 2) {
                ++instance.recordDropped;
            } else if (written <= 0) {
                reason = written < 0 ? RecordEndReason::kFileLimit : RecordEndReason::kDiskFull;
                break;
            }
            instance.framesWritten = static_cast<int>(instance.avi.FrameCount());
            instance.recordBytes = instance.avi.DataBytes();
        }
        if (t - lastCheckpoint >= kCheckpointMs) {
            lastCheckpoint = t;
            instance.avi.NoteRate(
                AviWriter::MeasuredRate(instance.avi.FrameCount(), ClampMs(t - instance.recordFirstTime)));
            if (!instance.avi.Checkpoint()) {
                reason = RecordEndReason::kDiskFull;
                break;
            }
        }
        // Elapsed time against the duration: tick values themselves may be anything, even wrap.
        if (t - instance.recordFirstTime >= instance.recordDuration) {
            reason = RecordEndReason::kDurationReached;
            break;
        }
    }
    reason = FinishFile(instance, reason, lastFrameTime);
    // A recording that ended by itself gives callback delivery back; a stop ends delivery anyway.
    if (reason != RecordEndReason::kStopped) ResumeCallbackDelivery(instance);
    // Cleared before the notice: the frame loop waits for it when the camera is lost, and the
    // application may start the next recording from inside the notice.
    const int frames = instance.framesWritten;
    InterlockedExchange(&instance.recording, 0);
    tovira::NotifyRecordingEnded(instance, frames, reason);
}

// The most frames a recording of `milliseconds` can bring: the camera delivers no faster than its frame
// timing at the fastest pixel clock (and the record thread takes no more than one a millisecond).
uint32_t MostFrames(CTovira& instance, int milliseconds) {
    double frameSeconds = 0.001;
    if (instance.device) {
        const tovira::FrameGeometry g = instance.device->GetFrameGeometry();
        frameSeconds = std::max(frameSeconds, static_cast<double>(g.linePitch) * g.totalLines / kFastestPixelClock);
    }
    const double frames = milliseconds / 1000.0 / frameSeconds + 2;
    return frames >= 4e9 ? 4000000000u : static_cast<uint32_t>(frames);
}

// The AVI codec of a ToviraX_RecordEx codec and quality; false for an unknown codec or a Motion JPEG
// quality outside 1..100.
bool CodecOf(int codec, int quality, AviCodec& avi) {
    switch (codec) {
        case TOVIRAX_CODEC_UNCOMPRESSED: avi = AviCodec::kBgr24; return true;
        case TOVIRAX_CODEC_GREY8: avi = AviCodec::kGrey8; return true;
        case TOVIRAX_CODEC_MJPEG: avi = AviCodec::kMjpeg; return quality >= 1 && quality <= 100;
        default: return false;
    }
}

int StartRecording(CTovira& instance, const wchar_t* fileName, int milliseconds, int showWindow, int codec,
                   int quality) {
    AviCodec aviCodec = AviCodec::kBgr24;
    if (!fileName || !*fileName || milliseconds < 1 || !CodecOf(codec, quality, aviCodec)) {
        instance.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    // Grey frames are made from the grey colour modes only (8 and 16 bits per pixel).
    if (aviCodec == AviCodec::kGrey8 && instance.colorMode != 0 && instance.colorMode != 1) {
        instance.RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    // One recording at a time: a second start would reset the writer the record thread is using.
    if (instance.recording) {
        instance.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    instance.EndRecordThread();  // the thread of the recording before, which ended on its own
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
        const CDibImage* output = instance.OutputImageFor(instance.colorMode);
        if (output && !output->IsEmpty())
            opened = instance.avi.Open(fileName, output->Width(), output->Height(),
                                       static_cast<uint16_t>(output->BitCount()), MostFrames(instance, milliseconds),
                                       aviCodec);
    }
    if (!opened) {
        ClosePreviewWindow(instance);
        instance.RecordError(TOVIRA_ERR_STORAGE);
        return 0;
    }
    instance.recordFirstTime = 0;
    instance.recordDuration = static_cast<ULONGLONG>(milliseconds);
    instance.recordStarted = false;
    instance.framesWritten = 0;
    instance.recordDropped = 0;
    instance.recordBytes = 0;
    instance.recordElapsedMs = 0;
    instance.recordCodec = codec;
    instance.recordQuality = quality;
    InterlockedExchange(&instance.recordCameraLost, 0);
    InterlockedExchange(&instance.newFrame, 0);
    InterlockedExchange(&instance.recording, 1);  // set before the thread starts, so it finds it set
    // The thread keeps the instance alive until its last act (the notice may release the handle).
    std::shared_ptr<CTovira> share = instance.weak_from_this().lock();
    CTovira* self = &instance;
    instance.recordThread = tovira::StartLibraryThread([self, share] { RecordLoop(*self); });
    if (!instance.recordThread.handle) {
        InterlockedExchange(&instance.recording, 0);
        instance.avi.Finish(0);
        ClosePreviewWindow(instance);
        instance.RecordError(TOVIRA_ERR_THREAD);
        return 0;
    }
    suspension.Keep();
    return 1;
}

}  // namespace

void CTovira::EndRecordingForLostCamera() {
    if (!recording) return;
    InterlockedExchange(&recordCameraLost, 1);
    // The record thread finishes the file and clears the flag before it tells anyone; it waits for
    // nothing of this thread.
    while (recording) Sleep(5);
}

// The ANSI entry point reads the name as the file functions of the ANSI code page would; the wide one
// uses the name exactly as given.
int CTovira::Record(const char* fileName, int milliseconds, int showWindow, int codec, int quality) {
    const std::wstring wide = FileNameFromAnsi(fileName);
    return StartRecording(*this, wide.empty() ? nullptr : wide.c_str(), milliseconds, showWindow, codec, quality);
}

int CTovira::RecordW(const wchar_t* fileName, int milliseconds, int showWindow, int codec, int quality) {
    return StartRecording(*this, fileName, milliseconds, showWindow, codec, quality);
}

int CTovira::GetRecordStatus(TOVIRAX_RECORD_STATUS* status) {
    if (!status || status->size < static_cast<int>(sizeof(TOVIRAX_RECORD_STATUS))) {
        RecordError(TOVIRA_ERR_PARAMETER);
        return 0;
    }
    const int size = status->size;
    *status = TOVIRAX_RECORD_STATUS{};
    status->size = size;
    status->recording = recording ? 1 : 0;
    status->codec = recordCodec;
    status->framesWritten = framesWritten;
    status->framesDropped = recordDropped;
    status->bytesWritten = recordBytes;
    status->elapsedMs = recordElapsedMs;
    return 1;
}
