// Several threads on one handle, as applications drive it: control calls racing each other and the
// library's own threads, callbacks that call back in, Release racing everything. Each race runs many
// rounds; a hang is caught by a bounded wait that ends the program with a message (never by hanging the
// test run), a freed buffer or instance touched by the library by the access violation it causes.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CameraDllSupport.h"
#include "StreamSupport.h"
#include "ToviraSdk_Z400KX_ext.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kStride = (kWidth * 8 / 8 + 3) & ~3;
constexpr size_t kFrameBytes = size_t(kStride) * kHeight;
constexpr DWORD kHangMs = 60000;  // a call still inside after this is hung, however busy the machine

// Runs `body` on a thread and waits at most kHangMs for it; a body that does not return by then is a
// hang: the program ends with the test's name so the run goes on with the next entry.
void Bounded(const char* what, const std::function<void()>& body) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        body();
        done = true;
    });
    const ULONGLONG start = GetTickCount64();
    while (!done && GetTickCount64() - start < kHangMs) Sleep(5);
    if (!done) {
        std::fprintf(stderr, "HANG: %s did not return within %lu ms\n", what, static_cast<unsigned long>(kHangMs));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    worker.join();
}

TOVIRAX_FRAME_META EmptyMeta() {
    TOVIRAX_FRAME_META meta;
    std::memset(&meta, 0, sizeof meta);
    meta.size = sizeof meta;
    return meta;
}

int WaitOne(int camera, std::vector<uint8_t>* frame = nullptr) {
    TOVIRAX_FRAME_META meta = EmptyMeta();
    return ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 30000, frame ? frame->data() : nullptr,
                             frame ? int(frame->size()) : 0, 1, &meta);
}

bool AllBytesAre(const std::vector<uint8_t>& bytes, uint8_t value) {
    for (uint8_t b : bytes)
        if (b != value) return false;
    return true;
}

class ControlPlane : public ::testing::Test {
protected:
    void SetUp() override {
        camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    }
    void TearDown() override {
        if (camera) Tovira_Release(camera);
    }
    int camera = 0;
};

// At the sensor's own pace, full frame (a frame takes about a quarter of a second to come in, so a window
// change spends that long stopping the transfer): the stop lands inside the change.
TEST(EnvControlSensorPace, WindowChangeRacingStopLeavesAnInstanceThatStartsAgain) {
    const int camera = OpenCamera(nullptr, 3840, 2748);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        ASSERT_EQ(WaitOne(camera), 1);
        const int width = round % 2 ? 1920 : 3840, height = round % 2 ? 1374 : 2748;
        Bounded("window change racing stop", [&] {
            std::thread change([&] { Tovira_SetCaptureWindowEx(camera, 3840, 0, width, 2748, 0, height); });
            std::thread stop([&] {
                Sleep(DWORD(20 + 10 * (round % 4)));
                Tovira_StopPreview(camera);
            });
            change.join();
            stop.join();
        });
        // Whatever the order was, the instance is idle or streaming, never broken in between: starts
        // work and frames come.
        Tovira_StopPreview(camera);
        while (Tovira_GetLastError(camera) != 0) {
        }
        for (int start = 0; start < 3; ++start) {
            ASSERT_EQ(Tovira_StartPreview(camera), 1) << "error " << Tovira_GetLastError(camera);
            ASSERT_EQ(WaitOne(camera), 1);
            ASSERT_EQ(Tovira_StopPreview(camera), 1);
        }
    }
    EXPECT_EQ(Tovira_Release(camera), 1);
}

TEST_F(ControlPlane, AfterStopNothingIsWrittenIntoTheCallersBufferOrPostedToItsWindow) {
    MessageSink sink;
    std::vector<uint8_t> buffer(kFrameBytes);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(Tovira_CallBackPreview(camera, sink.window(), buffer.data(), int(buffer.size()), 1), 1);
        sink.pumpUntil([&] { return sink.frames.size() >= 2; }, 30000);
        ASSERT_GE(sink.frames.size(), 2u);
        ASSERT_EQ(Tovira_StopPreview(camera), 1);
        sink.pumpFor(20);  // what was posted before the stop returned
        sink.frames.clear();
        std::memset(buffer.data(), 0xA5, buffer.size());
        // A later start for waiting without a window: the buffer is the application's again.
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitOne(camera), 1);
        sink.pumpFor(50);
        EXPECT_TRUE(AllBytesAre(buffer, 0xA5)) << "a frame was written into a buffer given back";
        EXPECT_TRUE(sink.frames.empty()) << sink.frames.size() << " frame message(s) after the stop";
        ASSERT_EQ(Tovira_StopPreview(camera), 1);
    }
}

TEST_F(ControlPlane, WaitingAfterAStopNeverHandsOutAnOldFrame) {
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    ASSERT_EQ(WaitOne(camera), 1);
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    while (Tovira_GetLastError(camera) != 0) {
    }
    EXPECT_EQ(ToviraX_WaitFrame(camera, 0, 100, nullptr, 0, 1, nullptr), -1);
    EXPECT_EQ(Tovira_GetLastError(camera), TOVIRA_ERR_NOT_READY);
}

// The frame callback of the registration tests: hands each buffer straight back.
void ReturnAtOnce(int camera, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(1);
    ToviraX_ReturnBuffer(camera, buffer);
}

struct Reregister {
    std::atomic<int> calls{0}, insideAccepted{0};
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<void*> pointers;
};

// Tries to register again from inside: refused, whatever another thread does meanwhile.
void RegisterFromInside(int camera, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    auto* r = static_cast<Reregister*>(user);
    r->calls++;
    if (ToviraX_SetFrameCallback(camera, RegisterFromInside, r, r->pointers.data(), 2, int(kFrameBytes), 1) == 1)
        r->insideAccepted++;
    ToviraX_ReturnBuffer(camera, buffer);
}

TEST_F(ControlPlane, FrameCallbackRegistrationFromSeveralThreadsStaysConsistent) {
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(kFrameBytes));
    void* setA[2] = {buffers[0].data(), buffers[1].data()};
    void* setB[2] = {buffers[2].data(), buffers[3].data()};
    std::atomic<int> calls{0};
    Bounded("registering from two threads", [&] {
        auto churn = [&](void** set) {
            for (int i = 0; i < 150; ++i) {
                ToviraX_SetFrameCallback(camera, ReturnAtOnce, &calls, set, 2, int(kFrameBytes), 1);
                if (i % 3 == 0) Sleep(1);
                ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0);
            }
        };
        std::thread a(churn, setA), b(churn, setB);
        a.join();
        b.join();
    });
    // Unregistered in the end: every buffer is the application's, and stays untouched.
    ASSERT_EQ(ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0), 1);
    for (auto& b : buffers) std::memset(b.data(), 0x5A, b.size());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitOne(camera), 1);
    for (auto& b : buffers) EXPECT_TRUE(AllBytesAre(b, 0x5A));

    // A callback that registers again from inside while another thread unregisters: never accepted, and
    // no thread is left that nobody can stop.
    Reregister r;
    r.buffers.assign(2, std::vector<uint8_t>(kFrameBytes));
    r.pointers = {r.buffers[0].data(), r.buffers[1].data()};
    Bounded("registering from inside while unregistering", [&] {
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(ToviraX_SetFrameCallback(camera, RegisterFromInside, &r, r.pointers.data(), 2, int(kFrameBytes), 1), 1);
            Sleep(DWORD(i % 4));
            ToviraX_SetFrameCallback(camera, nullptr, nullptr, nullptr, 0, 0, 0);
        }
    });
    EXPECT_EQ(r.insideAccepted.load(), 0);
    for (auto& b : r.buffers) std::memset(b.data(), 0x3C, b.size());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitOne(camera), 1);
    for (auto& b : r.buffers) EXPECT_TRUE(AllBytesAre(b, 0x3C));
}

struct AfterRelease {
    std::atomic<bool> released{false};
    std::atomic<int> lateCallbacks{0}, callbacks{0};
};

void CountLate(int camera, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    auto* a = static_cast<AfterRelease*>(user);
    a->callbacks++;
    if (a->released) a->lateCallbacks++;
    Sleep(1);
    ToviraX_ReturnBuffer(camera, buffer);
}

TEST(ControlRelease, ReleaseWakesEveryWaiterAndNoCallbackOrWriteFollowsIt) {
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const int camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
        std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(kFrameBytes));
        void* pointers[3] = {buffers[0].data(), buffers[1].data(), buffers[2].data()};
        AfterRelease state;
        ASSERT_EQ(ToviraX_SetFrameCallback(camera, CountLate, &state, pointers, 3, int(kFrameBytes), 1), 1);
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        std::atomic<int> waitersOut{0};
        std::atomic<bool> stopReturning{false};
        std::vector<std::thread> threads;
        for (int w = 0; w < 3; ++w)
            threads.emplace_back([&] {
                // Very long waits: only the release can end them in time.
                while (ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 600000, nullptr, 0, 1, nullptr) == 1) {
                }
                waitersOut++;
            });
        threads.emplace_back([&] {
            while (!stopReturning) ToviraX_ReturnBuffer(camera, pointers[0]);
        });
        ASSERT_EQ(WaitOne(camera), 1);
        Sleep(DWORD(round % 7));
        Bounded("release with waiters", [&] { ASSERT_EQ(Tovira_Release(camera), 1); });
        state.released = true;
        for (auto& b : buffers) std::memset(b.data(), 0x77, b.size());
        // Every waiter is out at once (well before its own time-out).
        Bounded("waiters after release", [&] {
            while (waitersOut < 3) Sleep(1);
        });
        stopReturning = true;
        for (std::thread& t : threads) t.join();
        Sleep(30);  // several frame times at fast pace: a late frame would land now
        EXPECT_EQ(state.lateCallbacks.load(), 0);
        for (auto& b : buffers) EXPECT_TRUE(AllBytesAre(b, 0x77)) << "written after Release returned";
    }
}

TEST(ControlRelease, InstancesLeaveNoHandlesBehind) {
    auto cycle = [] {
        const int camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_StartPreview(camera), 1);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitOne(camera), 1);
        ASSERT_EQ(Tovira_StopPreview(camera), 1);
        ASSERT_EQ(Tovira_Release(camera), 1);
    };
    for (int i = 0; i < 3; ++i) cycle();  // first-use allocations of the system and the library
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int i = 0; i < 30; ++i) cycle();
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    // A handle per instance would show as 30; a few come and go with the system's own threads.
    EXPECT_LT(int(after) - int(before), 6) << before << " -> " << after;
}

TEST(ControlRelease, ReleaseRacingARecordingAndWaitersLeavesNoHandlesBehind) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_release_race.avi";
    auto cycle = [&](int round) {
        const int camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(camera, 0);
        ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
        ASSERT_EQ(Tovira_Record(camera, file.c_str(), 60000, 0), 1);
        std::thread waiter([camera] {
            while (ToviraX_WaitFrame(camera, TOVIRAX_NEXT_FRAME, 600000, nullptr, 0, 1, nullptr) == 1) {
            }
        });
        ASSERT_EQ(WaitOne(camera), 1);
        Sleep(DWORD(round % 5));
        Bounded("release racing a recording", [&] { EXPECT_EQ(Tovira_Release(camera), 1); });
        Bounded("waiter after release", [&] { waiter.join(); });
    };
    for (int i = 0; i < 3; ++i) cycle(i);
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int i = 0; i < 25; ++i) cycle(i);
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_LT(int(after) - int(before), 6) << before << " -> " << after;
    DeleteFileA(file.c_str());
}

struct RecordEnd {
    std::atomic<int> calls{0}, frames{-1}, reason{0};
};

void OnRecordEnd(int, int frames, int reason, void* user) {
    auto* r = static_cast<RecordEnd*>(user);
    r->frames = frames;
    r->reason = reason;
    r->calls++;
}

TEST_F(ControlPlane, ARecordingOfTheLongestDurationRunsUntilStopped) {
    RecordEnd end;
    ASSERT_EQ(ToviraX_SetRecordNotify(camera, nullptr, OnRecordEnd, &end), 1);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "tovira_longest.avi";
    // The end is compared as elapsed time: no tick count the host has reached can end it early.
    ASSERT_EQ(Tovira_Record(camera, file.c_str(), 0x7FFFFFFF, 0), 1);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(WaitOne(camera), 1);
    Sleep(100);
    EXPECT_EQ(end.calls.load(), 0) << "ended by itself with reason " << end.reason.load();
    ASSERT_EQ(Tovira_StopPreview(camera), 1);
    EXPECT_EQ(end.calls.load(), 1);
    EXPECT_EQ(end.reason.load(), TOVIRAX_RECORD_STOPPED);
    EXPECT_GE(end.frames.load(), 2);
    DeleteFileA(file.c_str());
}

// ---- the fuzzer: random calls from several threads on one handle, then a release racing them

struct Fuzz {
    int camera = 0;
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<void*> pointers;
    std::vector<uint8_t> image;
    std::string file;
    std::atomic<bool> stop{false};
    std::atomic<long long> calls{0};
};

void FuzzCallback(int camera, void* buffer, const TOVIRAX_FRAME_META*, void*) { ToviraX_ReturnBuffer(camera, buffer); }

void FuzzOne(Fuzz& f, unsigned& seed, int thread) {
    seed = seed * 1103515245u + 12345u;
    const unsigned pick = (seed >> 16) % 22;
    const int h = f.camera;
    const int small = int(f.image.size());
    switch (pick) {
        case 0: Tovira_StartPreview(h); break;
        case 1: Tovira_StopPreview(h); break;
        case 2: Tovira_CallBackPreview(h, nullptr, f.image.data(), small, 1); break;
        case 3: Tovira_Close(h); break;
        case 4: Tovira_Capture(h); break;
        case 5: Tovira_SnapShot(h, f.image.data(), small, 0); break;
        case 6: Tovira_GetImage(h, f.image.data(), small, 1); break;
        case 7: Tovira_SetColorMode(h, (seed >> 8) % 2 ? 8 : 24); break;
        case 8: Tovira_SetSubSample(h, int((seed >> 9) % 2)); break;
        case 9: Tovira_SetCaptureWindowEx(h, 3840, 0, (seed >> 10) % 2 ? 160 : 320, 2748, 0, 240); break;
        case 10: Tovira_Record(h, f.file.c_str(), 50 + int((seed >> 7) % 200), 0); break;
        case 11:
            ToviraX_SetFrameCallback(h, FuzzCallback, nullptr, f.pointers.data() + 2 * (thread % 2), 2,
                                     int(f.buffers[0].size()), 1);
            break;
        case 12: ToviraX_SetFrameCallback(h, nullptr, nullptr, nullptr, 0, 0, 0); break;
        case 13: ToviraX_WaitFrame(h, TOVIRAX_NEXT_FRAME, 30, nullptr, 0, 1, nullptr); break;
        case 14: ToviraX_ReturnBuffer(h, f.pointers[(seed >> 5) % 4]); break;
        case 15: Tovira_SetRealExposureTime(h, 1000 + int((seed >> 4) % 64) * 100); break;
        case 16: Tovira_SetGamma(h, 100 + int((seed >> 4) % 50)); break;
        case 17: Tovira_GetLastError(h); break;
        case 18: Tovira_SetHalfClock(h, int((seed >> 6) % 2)); break;
        case 19: {
            TOVIRAX_FRAME_META meta = EmptyMeta();
            ToviraX_GetFrameMeta(h, &meta, nullptr);
            break;
        }
        case 20: Tovira_Width(h); break;
        default: Tovira_SetWaitTime(h, int((seed >> 3) % 20)); break;
    }
    f.calls++;
}

TEST(ControlFuzz, RandomCallsFromFourThreadsThenReleaseNeverCrashOrHang) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        Fuzz f;
        f.camera = OpenCamera(nullptr, kWidth, kHeight);
        ASSERT_NE(f.camera, 0);
        f.buffers.assign(4, std::vector<uint8_t>(size_t((kWidth * 3 + 3) & ~3) * kHeight));
        for (auto& b : f.buffers) f.pointers.push_back(b.data());
        f.image.resize(f.buffers[0].size());
        f.file = std::string(folder) + "tovira_fuzz_" + std::to_string(round) + ".avi";
        std::vector<std::thread> threads;
        std::atomic<int> finished{0};
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&f, &finished, t, round] {
                unsigned seed = 7919u * unsigned(t + 1) + unsigned(round);
                while (!f.stop) FuzzOne(f, seed, t);
                finished++;
            });
        Sleep(4000);
        // The release races whatever the threads are doing; their later calls fail on the stale handle.
        Bounded("release racing the fuzzer", [&] { EXPECT_EQ(Tovira_Release(f.camera), 1); });
        Sleep(200);
        f.stop = true;
        Bounded("fuzzer threads", [&] {
            while (finished < 4) Sleep(5);
        });
        for (std::thread& t : threads) t.join();
        EXPECT_GT(f.calls.load(), 100);
        DeleteFileA(f.file.c_str());
    }
    // The library is whole: a new handle streams.
    const int camera = OpenCamera(nullptr, kWidth, kHeight);
    ASSERT_NE(camera, 0);
    ASSERT_EQ(Tovira_StartPreview(camera), 1);
    EXPECT_EQ(WaitOne(camera), 1);
    EXPECT_EQ(Tovira_Release(camera), 1);
}

// ---- a corrupt stored window

TEST(ControlStoredWindow, APresetThatCannotBeCapturedIsReplacedByTheFullFrameAndNoted) {
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        DeleteToviraSettings();
        int first = Tovira_Initialize(nullptr);  // creates the settings key with its defaults
        ASSERT_NE(first, 0);
        Tovira_Release(first);
        if (variant == 0) PutToviraPreset(0, 3840, 2748, 0, 0, 0, 0);        // an empty window
        if (variant == 1) PutToviraPreset(0, 3840, 2748, 3000, 2748, 1000, 0);  // beyond the sensor
        if (variant == 2) {  // of the wrong type
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brenik\\ToviraZ400KXSdk\\Size_00", 0, KEY_SET_VALUE,
                                    &key),
                      ERROR_SUCCESS);
            RegSetValueExA(key, "EH", 0, REG_SZ, reinterpret_cast<const BYTE*>("640"), 4);
            RegCloseKey(key);
        }
        const int camera = Tovira_Initialize(nullptr);
        ASSERT_NE(camera, 0);
        // A window beyond the sensor is refused as a window (7), an unusable value noted as storage (12).
        const int expected = variant == 1 ? TOVIRA_ERR_WINDOW_RANGE : TOVIRA_ERR_STORAGE;
        const std::vector<int> codes = PopToviraErrors(camera);
        EXPECT_NE(std::find(codes.begin(), codes.end(), expected), codes.end());
        EXPECT_EQ(Tovira_Width(camera), 3840);
        EXPECT_EQ(Tovira_Height(camera), 2748);
        ASSERT_EQ(Tovira_SetColorMode(camera, 8), 1);
        std::vector<uint8_t> frame(size_t(3840) * 2748);
        EXPECT_EQ(Tovira_SnapShot(camera, frame.data(), int(frame.size()), 1), 1);
        Tovira_Release(camera);
    }
    DeleteToviraSettings();
}

}  // namespace
