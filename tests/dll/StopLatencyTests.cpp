// A stop never waits out the frame loop's wait time: with the longest wait time (set, or stored in the
// registry) StopPreview, Close and Release return. How long they take is measured in the stop benchmark;
// here a stop that does not come back within a minute is a hang.

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <functional>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

// Runs `call` on another thread; true when it returned within the safety limit. A call that hangs is
// left behind (the test then fails).
bool ReturnsAtAll(std::function<int()> call, int* result) {
    struct Job {
        std::function<int()> call;
        int result = -99;
    };
    auto* job = new Job{std::move(call)};
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* p) -> DWORD {
            auto* j = static_cast<Job*>(p);
            j->result = j->call();
            return 0;
        },
        job, 0, nullptr);
    if (!thread) return false;
    const bool ended = WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (ended) {
        *result = job->result;
        delete job;
    }
    return ended;
}

using StopLatency = ToviraHandleTest;

TEST_F(StopLatency, StopCloseAndReleaseReturnWhateverTheWaitTime) {
    ASSERT_NE(initialize(), 0);
    ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 0, 320, 2748, 0, 240), 1);
    ASSERT_EQ(Tovira_SetWaitTime(handle, INT_MAX), 1);
    int result = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Tovira_StartPreview(handle), 1);
        Sleep(100);  // the loop is inside its wait
        ASSERT_TRUE(ReturnsAtAll([h = handle] { return Tovira_StopPreview(h); }, &result));
        EXPECT_EQ(result, 1);
    }
    ASSERT_EQ(Tovira_Preview(handle), 1);
    Sleep(100);
    ASSERT_TRUE(ReturnsAtAll([h = handle] { return Tovira_Close(h); }, &result));
    EXPECT_EQ(result, 1);
    ASSERT_EQ(Tovira_StartPreview(handle), 1);
    Sleep(100);
    ASSERT_TRUE(ReturnsAtAll([h = handle] { return Tovira_Release(h); }, &result));
    EXPECT_EQ(result, 1);
    handle = 0;
}

TEST_F(StopLatency, AStoredWaitTimeOfTheLargestValueDoesNotBlockTheStop) {
    ASSERT_NE(initialize(), 0);
    release();  // the first run wrote the settings key
    ASSERT_TRUE(PutToviraSetting("", "WaitTime", 0x7fffffff));
    ASSERT_NE(initialize(), 0);
    EXPECT_EQ(Tovira_GetWaitTime(handle), 0x7fffffff);  // a valid wait time: kept
    ASSERT_EQ(Tovira_SetCaptureWindowEx(handle, 3840, 0, 320, 2748, 0, 240), 1);
    ASSERT_EQ(Tovira_StartPreview(handle), 1);
    Sleep(100);
    int result = 0;
    ASSERT_TRUE(ReturnsAtAll([h = handle] { return Tovira_StopPreview(h); }, &result));
    EXPECT_EQ(result, 1);
}

}  // namespace
