// The acquisition extension through the DLL, as an application uses it (TOVIRA_VIRTUAL_CAMERAS=0, pace
// fast): waiting for frames without any window, frame records and counts, the frame callback with the
// caller's buffers, and the end-of-recording notice.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraDllSupport.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

// Wide enough for the 24 frame-number cells the virtual camera paints into the top rows.
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBits = 8;
constexpr int kStride = (kWidth * kBits / 8 + 3) & ~3;
constexpr size_t kFrameBytes = size_t(kStride) * kHeight;
constexpr int kPatientMs = 30000;  // a safety net under a loaded machine, never a timing check

TOVIRAX_FRAME_META EmptyMeta() {
    TOVIRAX_FRAME_META meta;
    std::memset(&meta, 0, sizeof meta);
    meta.size = sizeof meta;
    return meta;
}

TOVIRAX_COUNTERS Counts(int camera) {
    TOVIRAX_COUNTERS counts;
    std::memset(&counts, 0, sizeof counts);
    counts.size = sizeof counts;
    EXPECT_EQ(ToviraX_GetFrameMeta(camera, nullptr, &counts), 1);
    return counts;
}

// The low 24 bits of the sensor's frame counter are painted into the picture: pixels and id agree.
int PaintedNumber(const uint8_t* frame) { return FrameNumberOf(frame, kStride, kBits); }
int PaintedNumberOf(unsigned long long id) { return static_cast<int>(id & 0xFFFFFF); }

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override {
        camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, kBits), 1);
    }
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    void drain() {
        while (Tovira_GetLastError(camera) != 0) {
        }
    }
    // The next frame after `after`, copied top line first.
    int waitAfter(unsigned long long after, TOVIRAX_FRAME_META* meta, std::vector<uint8_t>& frame) {
        *meta = EmptyMeta();
        return ToviraX_WaitFrame(camera, after, kPatientMs, frame.data(), int(frame.size()), 1, meta);
    }
    int camera = 0;
};

TEST_F(Acquisition, WaitReturnsEachNewFrameOnceWithItsRecordAndPixelsAndNoWindow) {
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    std::vector<uint8_t> frame(kFrameBytes);
    TOVIRAX_FRAME_META meta = EmptyMeta();
    ASSERT_EQ(waitAfter(TOVIRAX_NEXT_FRAME, &meta, frame), 1);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    unsigned long long last = meta.frameId, lastDelivered = meta.delivered;
    long long lastTime = meta.timestamp;
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        std::memset(frame.data(), 0xCD, frame.size());
        ASSERT_EQ(waitAfter(last, &meta, frame), 1);
        EXPECT_GT(meta.frameId, last);  // never the same frame twice
        EXPECT_EQ(PaintedNumber(frame.data()), PaintedNumberOf(meta.frameId));
        EXPECT_EQ(meta.size, int(sizeof(TOVIRAX_FRAME_META)));
        EXPECT_EQ(meta.width, kWidth);
        EXPECT_EQ(meta.height, kHeight);
        EXPECT_EQ(meta.stride, kStride);
        EXPECT_EQ(meta.bitsPerPixel, kBits);
        EXPECT_GT(meta.exposureLines, 0);
        EXPECT_GT(meta.exposureUs, 0);
        EXPECT_GE(meta.timestamp, lastTime);
        EXPECT_NEAR(double(meta.timestampUs), double(meta.timestamp) * 1e6 / double(frequency.QuadPart), 1.0);
        EXPECT_GT(meta.delivered, lastDelivered);
        EXPECT_EQ(meta.failed, 0u);
        last = meta.frameId;
        lastDelivered = meta.delivered;
        lastTime = meta.timestamp;
    }
    // The last record is what GetFrameMeta reports once the stream stopped.
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    TOVIRAX_FRAME_META after = EmptyMeta();
    TOVIRAX_COUNTERS counts = Counts(camera);
    ASSERT_EQ(ToviraX_GetFrameMeta(camera, &after, &counts), 1);
    EXPECT_GE(after.frameId, last);
    EXPECT_EQ(counts.delivered, after.delivered);
    // Tovira_GetImage gives the pixels of that record.
    ASSERT_EQ(Tovira_GetImage(camera, frame.data(), int(frame.size()), 1), 1);
    EXPECT_EQ(PaintedNumber(frame.data()), PaintedNumberOf(after.frameId));
}

TEST_F(Acquisition, IdsMatchThePictureInEveryColourMode) {
    // 8-bit transfers for modes 8, 24, 32 and 16-bit ones (the counter in every other byte) for 16, 48, 64.
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Tovira_SetColorMode(camera, bits), 1);
        const int stride = StrideOf(kWidth, bits);
        std::vector<uint8_t> frame(size_t(stride) * kHeight);
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        TOVIRAX_FRAME_META meta = EmptyMeta();
        unsigned long long last = TOVIRAX_NEXT_FRAME;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(ToviraX_WaitFrame(camera, last, kPatientMs, frame.data(), int(frame.size()), 1, &meta), 1);
            EXPECT_EQ(meta.bitsPerPixel, bits);
            EXPECT_EQ(meta.stride, stride);
            EXPECT_EQ(FrameNumberOf(frame.data(), stride, bits), PaintedNumberOf(meta.frameId));
            last = meta.frameId;
        }
        ASSERT_EQ(Tovira_StopPreview(camera), 1);
    }
}

TEST_F(Acquisition, IdsGrowWithoutGapsExceptDroppedFramesAndCountsSurviveStopAndStart) {
    std::vector<uint8_t> frame(kFrameBytes);
    TOVIRAX_FRAME_META meta = EmptyMeta(), previous = EmptyMeta();
    unsigned long long lastOfFirstStream = 0;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        // With the record only (no buffer) every processed frame can be waited for in turn; the ids of
        // one stream then step by one plus the frames dropped in between.
        ASSERT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, nullptr, 0, 1, &meta), 1);
        if (run == 1) {
            EXPECT_GT(meta.frameId, lastOfFirstStream);
            EXPECT_GT(meta.delivered, previous.delivered);
            EXPECT_GE(meta.dropped, previous.dropped);
        }
        for (int i = 0; i < 8; ++i) {
            previous = meta;
            ASSERT_EQ(waitAfter(previous.frameId, &meta, frame), 1);
            EXPECT_GT(meta.frameId, previous.frameId);
            EXPECT_EQ(PaintedNumber(frame.data()), PaintedNumberOf(meta.frameId));
            // Frames processed between two waits were delivered (to GetImage and messages) but not to
            // this caller; the others missing were dropped before processing.
            const unsigned long long missing = meta.frameId - previous.frameId - 1;
            const unsigned long long passedBy = meta.delivered - previous.delivered - 1;
            EXPECT_EQ(missing, passedBy + (meta.dropped - previous.dropped)) << meta.frameId;
        }
        lastOfFirstStream = meta.frameId;
        const TOVIRAX_COUNTERS before = Counts(camera);
        ASSERT_EQ(Tovira_StopPreview(camera), 1);
        const TOVIRAX_COUNTERS after = Counts(camera);
        EXPECT_GE(after.delivered, before.delivered);
        EXPECT_GE(after.dropped, before.dropped);
        previous = meta;
    }
    EXPECT_EQ(Counts(camera).failed, 0u);
}

TEST_F(Acquisition, WaitTimesOutCleanlyAndFailsWithoutAStream) {
    std::vector<uint8_t> frame(kFrameBytes, 0xCD);
    TOVIRAX_FRAME_META meta = EmptyMeta();
    drain();
    // Not streaming: a failure at once, error 1.
    EXPECT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 100, frame.data(), int(frame.size()), 1, &meta), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NOT_READY);
    // No frame yet: GetFrameMeta says so, the counts are there.
    EXPECT_EQ(ToviraX_GetFrameMeta(camera, &meta, nullptr), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_BUFFER);

    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    ASSERT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, nullptr, 0, 1, &meta), 1);
    drain();
    // A frame id far ahead never comes: the time-out returns 0, records nothing, leaves the buffer.
    const unsigned long long farAhead = meta.frameId + (1ull << 40);
    EXPECT_EQ(ToviraX_WaitFrame(camera, farAhead, 150, frame.data(), int(frame.size()), 1, &meta), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), 0);
    for (uint8_t b : frame) ASSERT_EQ(b, 0xCD);

    // Bad arguments: 9; a buffer one byte short: 5.
    EXPECT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, -1, nullptr, 0, 1, nullptr), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_PARAMETER);
    TOVIRAX_FRAME_META small = EmptyMeta();
    small.size = 32;
    EXPECT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 1000, nullptr, 0, 1, &small), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, frame.data(), int(kFrameBytes) - 1, 1, &meta), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_BUFFER);

    // A stop from another thread ends a long wait with error 1.
    std::thread stopper([this] {
        Sleep(200);
        Tovira_StopPreview(camera);
    });
    const int waited = ToviraX_WaitFrame(camera, farAhead, kPatientMs, nullptr, 0, 1, nullptr);
    stopper.join();
    EXPECT_EQ(waited, -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NOT_READY);

    // An unknown handle: the failure value, nothing recorded anywhere.
    EXPECT_EQ(ToviraX_WaitFrame(camera + 7919, TOVIRAX_NEXT_FRAME, 10, nullptr, 0, 1, nullptr), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), 0);
}

// ---- the frame callback

struct CallbackLog {
    std::mutex lock;
    int camera = 0;
    DWORD testThread = 0;
    std::vector<TOVIRAX_FRAME_META> metas;
    std::vector<DWORD> threads;
    int changedWhileHeld = 0;
    int wrongPixels = 0;
    // The buffer of the first callback is kept (not returned) to the end, with what it held.
    void* kept = nullptr;
    std::vector<uint8_t> keptCopy;
    int sleepMs = 150;
};

void SlowCallback(int camera, void* buffer, const TOVIRAX_FRAME_META* meta, void* user) {
    auto& log = *static_cast<CallbackLog*>(user);
    const auto* pixels = static_cast<const uint8_t*>(buffer);
    std::vector<uint8_t> copy(pixels, pixels + kFrameBytes);
    const bool keep = [&] {
        std::lock_guard<std::mutex> guard(log.lock);
        log.metas.push_back(*meta);
        log.threads.push_back(GetCurrentThreadId());
        if (PaintedNumber(pixels) != PaintedNumberOf(meta->frameId)) ++log.wrongPixels;
        if (log.kept) return false;
        log.kept = buffer;
        log.keptCopy = copy;
        return true;
    }();
    // A slow consumer: the frame loop goes on meanwhile and must not touch this buffer.
    Sleep(log.sleepMs);
    if (std::memcmp(copy.data(), pixels, kFrameBytes) != 0) {
        std::lock_guard<std::mutex> guard(log.lock);
        ++log.changedWhileHeld;
    }
    if (!keep) EXPECT_EQ(ToviraX_ReturnBuffer(camera, buffer), 1);
}

class AcquisitionCallback : public Acquisition {
protected:
    std::vector<std::vector<uint8_t>> storage;
    std::vector<void*> buffers;
    void makeBuffers(int n, size_t bytes) {
        storage.assign(size_t(n), std::vector<uint8_t>(bytes, 0));
        buffers.clear();
        for (auto& b : storage) buffers.push_back(b.data());
    }
    size_t callbacks(CallbackLog& log) {
        std::lock_guard<std::mutex> guard(log.lock);
        return log.metas.size();
    }
};

TEST_F(AcquisitionCallback, SlowCallbackHoldsItsBuffersUntouchedAndGapsEqualTheDroppedCount) {
    CallbackLog log;
    log.camera = camera;
    log.testThread = GetCurrentThreadId();
    makeBuffers(3, kFrameBytes);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, SlowCallback, &log, buffers.data(), 3, int(kFrameBytes), 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    const DWORD start = GetTickCount();
    while (callbacks(log) < 8 && GetTickCount() - start < DWORD(kPatientMs)) Sleep(20);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);  // waits for the last one
    const TOVIRAX_COUNTERS counts = Counts(camera);

    std::lock_guard<std::mutex> guard(log.lock);
    ASSERT_GE(log.metas.size(), 8u);
    EXPECT_EQ(log.changedWhileHeld, 0);
    EXPECT_EQ(log.wrongPixels, 0);
    // The buffer kept since the first callback still holds that frame, although the stream went on.
    ASSERT_NE(log.kept, nullptr);
    EXPECT_EQ(std::memcmp(log.kept, log.keptCopy.data(), kFrameBytes), 0);
    // Called on a thread of the library's, always the same, never the caller's.
    for (DWORD t : log.threads) {
        EXPECT_NE(t, log.testThread);
        EXPECT_EQ(t, log.threads.front());
    }
    // Every frame of the stream was either called back or counted as dropped: the ids between two calls
    // are exactly the drops counted in between (one stream, no failures).
    for (size_t i = 1; i < log.metas.size(); ++i) {
        const TOVIRAX_FRAME_META& a = log.metas[i - 1];
        const TOVIRAX_FRAME_META& b = log.metas[i];
        ASSERT_GT(b.frameId, a.frameId);
        EXPECT_EQ(b.frameId - a.frameId - 1, b.dropped - a.dropped) << b.frameId;
        EXPECT_EQ(b.delivered, a.delivered + 1);
        EXPECT_EQ(b.failed, 0u);
    }
    // Three buffers and 150 ms per frame against a fast camera: frames had to be dropped.
    EXPECT_GT(counts.dropped, 0u);
    EXPECT_GE(counts.delivered, log.metas.size());
}

void ReentrantCallback(int camera, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    auto* results = static_cast<std::vector<int>*>(user);
    // Unregistering from inside would wait for this very call: refused with error 1.
    results->push_back(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0));
    results->push_back(Tovira_GetLastError(camera));
    results->push_back(ToviraX_ReturnBuffer(camera, buffer));
    results->push_back(ToviraX_ReturnBuffer(camera, buffer));  // no longer held
    results->push_back(Tovira_GetLastError(camera));
}

void NeverCalled(int, void*, const TOVIRAX_FRAME_META*, void* user) { ++*static_cast<std::atomic<int>*>(user); }

TEST_F(AcquisitionCallback, RegistrationChecksItsArgumentsAndTheCallbackThread) {
    makeBuffers(2, kFrameBytes);
    drain();
    void* same[2] = {buffers[0], buffers[0]};
    void* withNull[2] = {buffers[0], nullptr};
    std::vector<void*> tooMany(65, buffers[0]);
    struct Case {
        void* const* buffers;
        int count;
        int size;
    } bad[] = {{nullptr, 2, int(kFrameBytes)}, {buffers.data(), 0, int(kFrameBytes)}, {tooMany.data(), 65, 1},
               {buffers.data(), 2, 0}, {same, 2, int(kFrameBytes)}, {withNull, 2, int(kFrameBytes)}};
    for (const Case& c : bad) {
        EXPECT_EQ(ToviraX_SetFrameCallback(camera, NeverCalled, nullptr, c.buffers, c.count, c.size, 1), 0);
        EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_PARAMETER);
    }
    EXPECT_EQ(ToviraX_ReturnBuffer(camera, buffers[0]), 0);  // never lent
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_PARAMETER);
    EXPECT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);  // none registered

    std::vector<int> results;
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, ReentrantCallback, &results, buffers.data(), 1, int(kFrameBytes), 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    const DWORD start = GetTickCount();
    TOVIRAX_COUNTERS counts = Counts(camera);
    while (counts.delivered < 1 && GetTickCount() - start < DWORD(kPatientMs)) {
        Sleep(20);
        counts = Counts(camera);
    }
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);
    ASSERT_GE(results.size(), 5u);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], TOVIRA_ERR_NOT_READY);
    EXPECT_EQ(results[2], 1);
    EXPECT_EQ(results[3], 0);
    EXPECT_EQ(results[4], TOVIRA_ERR_PARAMETER);

    // Buffers too small for the frame: no callback, each frame counted as failed, error 5.
    std::atomic<int> called{0};
    const TOVIRAX_COUNTERS before = Counts(camera);
    drain();
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, NeverCalled, &called, buffers.data(), 2, int(kFrameBytes) - 1, 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    TOVIRAX_FRAME_META meta = EmptyMeta();
    ASSERT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, nullptr, 0, 1, &meta), 1);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);
    EXPECT_EQ(called.load(), 0);
    EXPECT_GT(Counts(camera).failed, before.failed);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_BUFFER);
}

struct ReleaseInside {
    std::atomic<int> calls{0};
    std::atomic<int> released{-1};
};

void ReleasingCallback(int camera, void*, const TOVIRAX_FRAME_META*, void* user) {
    auto& state = *static_cast<ReleaseInside*>(user);
    if (state.calls++ == 0) state.released = Tovira_Release(camera);
}

TEST_F(AcquisitionCallback, ReleasingTheHandleInsideTheCallbackEndsEverythingCleanly) {
    makeBuffers(2, kFrameBytes);
    ReleaseInside state;
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, ReleasingCallback, &state, buffers.data(), 2, int(kFrameBytes), 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    const DWORD start = GetTickCount();
    while (state.released.load() < 0 && GetTickCount() - start < DWORD(kPatientMs)) Sleep(20);
    ASSERT_EQ(state.released.load(), 1);
    Sleep(200);  // anything still running would come now
    EXPECT_EQ(state.calls.load(), 1);
    EXPECT_EQ(Tovira_GetColorMode(camera), -1);  // the handle is gone
    camera = 0;
}

// ---- the end of a recording

struct RecordNotices {
    std::mutex lock;
    std::vector<std::pair<int, int>> calls;  // frames, reason
};

void OnRecorded(int, int frames, int reason, void* user) {
    auto& notices = *static_cast<RecordNotices*>(user);
    std::lock_guard<std::mutex> guard(notices.lock);
    notices.calls.emplace_back(frames, reason);
}

TEST_F(Acquisition, EndOfRecordingIsPostedAndCalledBackWithFramesAndReason) {
    MessageSink sink;
    ASSERT_NE(sink.window(), nullptr);
    RecordNotices notices;
    ASSERT_EQ(ToviraX_SetRecordNotify(camera, sink.window(), OnRecorded, &notices), 1);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_record_notice.avi";

    auto waitForNotice = [&](MSG* notice) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < DWORD(kPatientMs)) {
            if (PeekMessageA(notice, sink.window(), WM_TOVIRAX_RECORDED, WM_TOVIRAX_RECORDED, PM_REMOVE)) return true;
            Sleep(20);
        }
        return false;
    };
    // Duration reached.
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 400, 0), 1);
    MSG notice{};
    ASSERT_TRUE(waitForNotice(&notice));
    EXPECT_EQ(notice.lParam, TOVIRAX_RECORD_DURATION_REACHED);
    EXPECT_GT(notice.wParam, 0u);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    // Stopped before the duration.
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 600000, 0), 1);
    TOVIRAX_FRAME_META meta = EmptyMeta();
    ASSERT_EQ(ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, nullptr, 0, 1, &meta), 1);
    ASSERT_EQ(ToviraX_WaitFrame(camera, meta.frameId, kPatientMs, nullptr, 0, 1, &meta), 1);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    MSG stopped{};
    ASSERT_TRUE(waitForNotice(&stopped));
    EXPECT_EQ(stopped.lParam, TOVIRAX_RECORD_STOPPED);

    std::lock_guard<std::mutex> guard(notices.lock);
    ASSERT_EQ(notices.calls.size(), 2u);
    EXPECT_EQ(notices.calls[0], std::make_pair(int(notice.wParam), TOVIRAX_RECORD_DURATION_REACHED));
    EXPECT_EQ(notices.calls[1], std::make_pair(int(stopped.wParam), TOVIRAX_RECORD_STOPPED));
    DeleteFileA(file.c_str());
}

}  // namespace

namespace {

// Own CTest entry: the virtual camera goes away after six frames, while recording.
TEST(EnvAcquisitionUnplug, WaitingAndRecordingEndWithTheLostCameraAndTheFramesBeforeItAreWhole) {
    const int camera = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, kBits), 1);
    RecordNotices notices;
    ASSERT_EQ(ToviraX_SetRecordNotify(camera, nullptr, OnRecorded, &notices), 1);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_record_lost.avi";
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 600000, 0), 1);  // streams too
    std::vector<uint8_t> frame(kFrameBytes);
    TOVIRAX_FRAME_META meta = EmptyMeta();
    unsigned long long last = TOVIRAX_NEXT_FRAME;
    int frames = 0, result = 0;
    // Each wait has the whole safety net; the loss must end it long before.
    while ((result = ToviraX_WaitFrame(camera, last, kPatientMs, frame.data(), int(frame.size()), 1, &meta)) == 1) {
        if (last != TOVIRAX_NEXT_FRAME) EXPECT_GT(meta.frameId, last);
        EXPECT_EQ(PaintedNumber(frame.data()), PaintedNumberOf(meta.frameId));
        last = meta.frameId;
        ASSERT_LT(++frames, 7);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_DEVICE_LOST);
    // Later waits fail at once the same way until the application stops the stream.
    EXPECT_EQ(ToviraX_WaitFrame(camera, last, kPatientMs, nullptr, 0, 1, nullptr), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_DEVICE_LOST);
    Tovira_StopPreview(camera);
    // Stopped, it is simply not streaming any more.
    EXPECT_EQ(ToviraX_WaitFrame(camera, last, 10, nullptr, 0, 1, nullptr), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NOT_READY);
    // The recording ended with the stop, told as ended by the camera's loss.
    {
        std::lock_guard<std::mutex> guard(notices.lock);
        ASSERT_EQ(notices.calls.size(), 1u);
        EXPECT_EQ(notices.calls[0].second, TOVIRAX_RECORD_CAMERA_LOST);
        EXPECT_GE(notices.calls[0].first, 0);
    }
    DeleteFileA(file.c_str());
    EXPECT_EQ(Tovira_Release(camera), 1);
}

}  // namespace
