// What the acquisition extension costs the frame loop: frames processed per second with no consumer,
// with a thread waiting for every frame (ToviraX_WaitFrame copying it out), and with a frame callback on
// a pool of four buffers, returned at once. Black-box: the DLL through its headers. Run by hand with
// TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast; read the ratios to the run without a consumer.
//
//   acquisition_bench.exe [width height bits seconds]     defaults: 1920 1080 24 4

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"

namespace {

struct Rate {
    double processed = 0;  // frames per second handed on by the frame loop (delivered or failed)
    double consumed = 0;   // frames per second the consumer got
};

unsigned long long Processed(int h) {
    TOVIRAX_COUNTERS c = {sizeof c};
    ToviraX_GetFrameMeta(h, nullptr, &c);
    return c.delivered + c.failed;
}

void ReturnAtOnce(int h, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
    ++*static_cast<std::atomic<long>*>(user);
    ToviraX_ReturnBuffer(h, buffer);
}

Rate Measure(int h, int mode, int seconds, size_t bytes) {
    std::atomic<long> consumed{0};
    std::atomic<bool> stop{false};
    std::vector<std::vector<unsigned char>> pool(4, std::vector<unsigned char>(bytes));
    void* buffers[4] = {pool[0].data(), pool[1].data(), pool[2].data(), pool[3].data()};
    if (mode == 2) ToviraX_SetFrameCallback(h, ReturnAtOnce, &consumed, buffers, 4, int(bytes), 1);
    Tovira_StartPreview(h);
    TOVIRAX_FRAME_META meta = {sizeof meta};
    ToviraX_WaitFrame(h, TOVIRAX_NEXT_FRAME, 30000, nullptr, 0, 1, &meta);  // warmed up
    std::thread waiter;
    if (mode == 1)
        waiter = std::thread([&] {
            std::vector<unsigned char> frame(bytes);
            unsigned long long last = meta.frameId;
            TOVIRAX_FRAME_META m = {sizeof m};
            while (!stop)
                if (ToviraX_WaitFrame(h, last, 1000, frame.data(), int(bytes), 1, &m) == 1) {
                    last = m.frameId;
                    ++consumed;
                }
        });
    const unsigned long long before = Processed(h);
    const long consumedBefore = consumed;
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    Sleep(DWORD(seconds) * 1000);
    QueryPerformanceCounter(&t1);
    const unsigned long long after = Processed(h);
    const long consumedAfter = consumed;
    stop = true;
    if (waiter.joinable()) waiter.join();
    Tovira_StopPreview(h);
    if (mode == 2) ToviraX_SetFrameCallback(h, nullptr, nullptr, nullptr, 0, 0, 0);
    const double s = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
    return {double(after - before) / s, double(consumedAfter - consumedBefore) / s};
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 1 ? std::atoi(argv[1]) : 1920;
    const int height = argc > 2 ? std::atoi(argv[2]) : 1080;
    const int bits = argc > 3 ? std::atoi(argv[3]) : 24;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 4;
    const int h = Tovira_Initialize(nullptr);
    if (!h || !Tovira_SetCaptureWindowEx(h, 3840, 0, width, 2748, 0, height) || !Tovira_SetColorMode(h, bits)) {
        std::printf("set-up failed\n");
        return 1;
    }
    const size_t bytes = size_t((width * bits / 8 + 3) & ~3) * size_t(height);
    const char* names[3] = {"no consumer", "wait call, every frame copied", "callback, 4 buffers"};
    Rate rates[3];
    // Twice round, so that each kind of run sees the machine's load at two moments.
    for (int round = 0; round < 2; ++round)
        for (int mode = 0; mode < 3; ++mode) {
            const Rate r = Measure(h, mode, seconds, bytes);
            rates[mode].processed += r.processed / 2;
            rates[mode].consumed += r.consumed / 2;
        }
    std::printf("%d x %d, %d bits, %d s per run, 2 runs each\n", width, height, bits, seconds);
    std::printf("%-32s %12s %12s %14s\n", "consumer", "handed on/s", "consumed/s", "vs no consumer");
    for (int mode = 0; mode < 3; ++mode)
        std::printf("%-32s %12.1f %12.1f %14.2f\n", names[mode], rates[mode].processed, rates[mode].consumed,
                    rates[mode].processed / rates[0].processed);
    Tovira_Release(h);
    return 0;
}
