// Tovira_Release from one thread while other threads are inside calls on the same handle: the handle is
// gone at once, the calls in flight finish on an instance that is still whole, and the last of them
// destroys it. A freed instance touched by a call would end the test program with an access violation.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <thread>
#include <vector>

#include "CameraDllSupport.h"
#include "ToviraSdk_Z400KX.h"

namespace {

using ReleaseRace = ToviraHandleTest;

// Runs `call` on the handle until it fails (the handle was released) and counts the successes.
template <typename Call>
std::thread Hammer(int handle, std::atomic<int>& successes, Call call) {
    return std::thread([handle, &successes, call] {
        for (int i = 0; i < 100000; ++i) {
            if (!call(handle)) return;
            ++successes;
        }
    });
}

// Calls on one handle take turns: the release waits until every thread got through at least once, so it
// lands among calls that are all under way (a safety net of a minute, never a timing check).
void UntilEachSucceeded(std::initializer_list<const std::atomic<int>*> counts) {
    const ULONGLONG start = GetTickCount64();
    for (const std::atomic<int>* c : counts)
        while (c->load() == 0 && GetTickCount64() - start < 60000) Sleep(1);
}

TEST_F(ReleaseRace, ReleaseDuringSnapShotGetImageAndSettersNeverFreesAnInstanceInUse) {
    // Full frame at 24 bits: each snapshot spends long inside the instance, so the release lands in one.
    const size_t bytes = size_t((3840 * 3 + 3) & ~3) * 2748;
    std::vector<uint8_t> snapBuffer(bytes), imageBuffer(bytes);
    constexpr int kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const int h = Tovira_Initialize(nullptr);
        ASSERT_NE(h, 0);
        ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
        ASSERT_EQ(Tovira_Capture(h), 1);
        ASSERT_EQ(Tovira_SnapShot(h, snapBuffer.data(), int(bytes), 1), 1);

        std::atomic<int> snaps{0}, images{0}, sets{0};
        std::vector<std::thread> threads;
        threads.push_back(Hammer(h, snaps, [&](int c) { return Tovira_SnapShot(c, snapBuffer.data(), int(bytes), 1); }));
        threads.push_back(Hammer(h, images, [&](int c) { return Tovira_GetImage(c, imageBuffer.data(), int(bytes), 0); }));
        threads.push_back(Hammer(h, sets, [](int c) {
            int ok = 0;
            return Tovira_SetBrightness(c, 7) && Tovira_GetContrast(c, &ok) >= -127 && Tovira_SetWaitTime(c, 10) &&
                   Tovira_GetColorMode(c) == 24 && Tovira_GetCaptureWindowEx(c, &ok, &ok, &ok, &ok, &ok, &ok);
        }));
        // Let the calls get going; the release then falls at a different point of a snapshot each round.
        UntilEachSucceeded({&snaps, &images, &sets});
        Sleep(DWORD(20 + 37 * round % 300));
        EXPECT_EQ(Tovira_Release(h), 1);
        // Gone for every later call at once, even while the calls in flight are still inside.
        EXPECT_EQ(Tovira_GetColorMode(h), -1);
        EXPECT_EQ(Tovira_Release(h), 0);
        for (std::thread& t : threads) t.join();
        EXPECT_GT(sets.load(), 0);
    }
}

TEST_F(ReleaseRace, ReleaseDuringStreamingCallsFromOtherThreads) {
    // The same with the instance streaming: the release stops the threads of an instance that calls
    // are still using.
    const size_t bytes = size_t((320 * 3 + 3) & ~3) * 240;
    std::vector<uint8_t> buffer(bytes);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const int h = Tovira_Initialize(nullptr);
        ASSERT_NE(h, 0);
        ASSERT_EQ(Tovira_SetCaptureWindowEx(h, 3840, 0, 320, 2748, 0, 240), 1);
        ASSERT_EQ(Tovira_SetColorMode(h, 24), 1);
        ASSERT_EQ(Tovira_StartPreview(h), 1);
        std::atomic<int> images{0}, sets{0};
        std::vector<std::thread> threads;
        threads.push_back(Hammer(h, images, [&](int c) {
            // No frame yet is a failure that does not mean the handle is gone.
            return Tovira_GetImage(c, buffer.data(), int(bytes), 1) || Tovira_GetColorMode(c) == 24;
        }));
        threads.push_back(Hammer(h, sets, [](int c) {
            int ok = 0;
            return Tovira_SetGamma(c, 120) && Tovira_GetGamma(c, &ok) == 120 && Tovira_SetMirrorH(c, 0);
        }));
        UntilEachSucceeded({&images, &sets});
        Sleep(DWORD(30 + 41 * round % 200));
        EXPECT_EQ(Tovira_Release(h), 1);
        for (std::thread& t : threads) t.join();
        EXPECT_GT(sets.load(), 0);
    }
}

}  // namespace
