// A camera lost while the application is busy with it (TOVIRA_VIRTUAL_UNPLUG_AFTER: the virtual camera
// goes away after a number of frames). Each suite runs in a process of its own, since the camera stays
// away for the rest of the process.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "CameraDllSupport.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight;
constexpr DWORD kPatientMs = 60000;  // a safety net on a loaded machine, never a timing check

std::string TempFile(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

// Waits until `done` or kPatientMs; false on the safety net.
template <typename Done>
bool WaitUntil(Done done) {
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > kPatientMs) return false;
        Sleep(5);
    }
    return true;
}

struct Status {
    std::atomic<int> lost{0}, stopped{0}, recorded{0};
    std::atomic<long long> lastId{-1};
};

void OnStatus(int, int event, long long value, int detail, void* user) {
    auto* s = static_cast<Status*>(user);
    if (event == TOVIRAX_STATUS_CAMERA_LOST) {
        s->lastId = value;
        s->lost++;
    }
    if (event == TOVIRAX_STATUS_STREAM_STOPPED && detail == 1) s->stopped++;
    if (event == TOVIRAX_STATUS_RECORDING_ENDED) s->recorded++;
}

struct Notice {
    std::atomic<int> calls{0}, reason{0}, startResult{-5}, returned{0};
};

// The record notice restarts the stream from inside, as an application that recovers would.
void StartFromNotice(int camera, int, int reason, void* user) {
    auto* n = static_cast<Notice*>(user);
    n->reason = reason;
    n->calls++;
    n->startResult = Tovira_StartPreview(camera);
    n->returned++;
}

TEST(EnvControlLostRecording, TheRecordNoticeMayStartAgainAndWaitersReportTheLoss) {
    const int camera = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    Status status;
    Notice notice;
    ASSERT_EQ(ToviraX_SetStatusCallback(camera, OnStatus, &status), 1);
    ASSERT_EQ(ToviraX_SetRecordNotify(camera, nullptr, StartFromNotice, &notice), 1);
    const std::string file = TempFile("tovira_lost_notice.avi");
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 60000, 0), 1);
    int result = 0;
    while ((result = ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, kPatientMs, nullptr, 0, 1, nullptr)) == 1) {
    }
    // The loss, not a plain stop, even though the recording is being finished meanwhile.
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_DEVICE_LOST);
    // The notice comes back from its start (which fails: the camera is gone) instead of waiting for its
    // own thread.
    ASSERT_TRUE(WaitUntil([&] { return notice.returned.load() == 1; })) << "the record notice never returned";
    EXPECT_EQ(notice.reason.load(), TOVIRAX_RECORD_CAMERA_LOST);
    EXPECT_EQ(notice.startResult.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return status.lost.load() == 1 && status.recorded.load() == 1; }));
    EXPECT_EQ(status.stopped.load(), 1);
    EXPECT_GE(status.lastId.load(), 0);  // the id of the last frame (the first may be the last at fast pace)
    char names[10][256] = {};
    EXPECT_EQ(Tovira_EnumDevice(camera, &names[0][0]), 0);
    EXPECT_EQ(Tovira_Release(camera), 1);
    DeleteFileA(file.c_str());
}

void KeepFrame(int camera, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(1);
    ToviraX_ReturnBuffer(camera, buffer);
}

TEST(EnvControlLostCallback, AFrameCallbackProgramIsToldOfTheLoss) {
    const int camera = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    std::vector<std::vector<uint8_t>> buffers(2, std::vector<uint8_t>(kFrameBytes));
    void* pointers[2] = {buffers[0].data(), buffers[1].data()};
    std::atomic<int> frames{0};
    Status status;
    ASSERT_EQ(ToviraX_SetStatusCallback(camera, OnStatus, &status), 1);
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, KeepFrame, &frames, pointers, 2, int(kFrameBytes), 1), 1);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    // No window, no waiting: the status callback is how this program hears of it.
    // (At fast pace the camera may be gone before the frame loop took any frame.)
    ASSERT_TRUE(WaitUntil([&] { return status.lost.load() == 1; })) << "no status after " << frames.load() << " frames";
    EXPECT_EQ(status.stopped.load(), 1);
    // Later starts fail at the call, as without a camera.
    EXPECT_EQ(Tovira_StartPreview(camera), 0);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

TEST(EnvControlLostCapture, ALossInCaptureModeIsTheSameLoss) {
    const int camera = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    Status status;
    ASSERT_EQ(ToviraX_SetStatusCallback(camera, OnStatus, &status), 1);
    ASSERT_EQ(Tovira_Capture(camera), 1);
    std::vector<uint8_t> frame(kFrameBytes);
    int snaps = 0;
    while (Tovira_SnapShot(camera, frame.data(), int(frame.size()), 1) == 1) ASSERT_LT(++snaps, 40);
    ASSERT_TRUE(WaitUntil([&] { return status.lost.load() == 1; }));
    char names[10][256] = {};
    EXPECT_EQ(Tovira_EnumDevice(camera, &names[0][0]), 0);
    while (Tovira_GetLastError(camera) != 0) {
    }
    // Every start fails at the call, with the codes of a missing camera, and leaves nothing behind.
    EXPECT_EQ(Tovira_StartPreview(camera), 0);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NOT_READY);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NO_CAMERA);
    const std::string file = TempFile("tovira_lost_capture.avi");
    DeleteFileA(file.c_str());
    EXPECT_EQ(Tovira_Record(camera, file.c_str(), 1000, 0), 0);
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Tovira_SnapShot(camera, frame.data(), int(frame.size()), 1), 0);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

}  // namespace
