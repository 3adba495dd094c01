// Streaming the full frame against the virtual camera at the sensor's own pace (TOVIRA_VIRTUAL_CAMERAS=0,
// TOVIRA_VIRTUAL_PACE=sensor, see tests/wine-tests.cmake): the frame loop polls far more often than the
// sensor finishes frames, so every poll that finds nothing new must give nothing, and every frame handed
// on must be newer than the one before.
//
// What the loop handed on is read from the frame callback (one call per processed frame, each with a
// buffer of its own that the library does not touch until it is returned): the record's id and the number
// painted into that buffer's picture. The caller buffer of a frame message cannot serve here, since a
// message handled late already shows the next frame.

#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <vector>

#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2748;
constexpr int kBits = 8;
constexpr int kStride = (kWidth * kBits / 8 + 3) & ~3;
constexpr size_t kFrameBytes = size_t(kStride) * kHeight;
constexpr int kFrames = 24;
constexpr DWORD kPatientMs = 120000;  // a safety net under a loaded machine, never a timing check

struct Handed {
    unsigned long long id;
    int painted;
};

struct Log {
    std::mutex lock;
    std::vector<Handed> frames;
};

void OnFrame(int camera, void* buffer, const TOVIRAX_FRAME_META* meta, void* user) {
    auto& log = *static_cast<Log*>(user);
    const int painted = FrameNumberOf(static_cast<const uint8_t*>(buffer), kStride, kBits);
    {
        std::lock_guard<std::mutex> guard(log.lock);
        log.frames.push_back({meta->frameId, painted});
    }
    ToviraX_ReturnBuffer(camera, buffer);
}

size_t Count(Log& log) {
    std::lock_guard<std::mutex> guard(log.lock);
    return log.frames.size();
}

}  // namespace

TEST(EnvStreamSensorPace, EveryFrameHandedOnIsNewerThanTheOneBefore) {
    MessageSink sink;
    ASSERT_NE(sink.window(), nullptr);
    const int camera = OpenCamera(sink.window(), kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, kBits), 1);

    std::vector<std::vector<uint8_t>> storage(3, std::vector<uint8_t>(kFrameBytes));
    std::vector<void*> buffers;
    for (auto& b : storage) buffers.push_back(b.data());
    Log log;
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, OnFrame, &log, buffers.data(), int(buffers.size()), int(kFrameBytes), 1), 1);
    std::vector<uint8_t> callerBuffer(kFrameBytes);
    ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), callerBuffer.data(), int(callerBuffer.size()), 0), 1);
    sink.pumpUntil([&] { return Count(log) >= size_t(kFrames); }, kPatientMs);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);  // waits for the last one
    Tovira_Release(camera);

    std::lock_guard<std::mutex> guard(log.lock);
    ASSERT_GE(log.frames.size(), size_t(kFrames));
    for (size_t i = 0; i < log.frames.size(); ++i) {
        // The picture is the frame the record names.
        EXPECT_EQ(log.frames[i].painted, int(log.frames[i].id & 0xFFFFFF)) << "frame " << i;
        if (i == 0) continue;
        // Never a frame twice, never an older one.
        EXPECT_GT(log.frames[i].id, log.frames[i - 1].id) << "frame " << i;
        EXPECT_GT(log.frames[i].painted, log.frames[i - 1].painted) << "frame " << i;
    }
}
