// Stop and release latency under Wine, through the DLL as an application uses it (virtual camera at
// sensor pace). Every figure is reported as a ratio to the frame time of the same stream, measured in the
// same run from the frame messages: "stop / frame 0.4" means the stop returned in 0.4 frame times.
//
//   StopPreview with wait time 10 ms and 20000 ms (the loop is inside its wait when the stop comes)
//   Release after a snapshot, after a recording and after callback streaming
//
// Run: TOVIRA_VIRTUAL_CAMERAS=0 wine-run.sh bin/stop_bench.exe [rounds, default 5]
//
// The build's prefix sets the X11 driver's "Managed"="N". To see the release of the library's own
// preview window as on a display without a window manager, run the same program in a fresh prefix that
// lacks it (WINEPREFIX=<empty folder>, wineboot -i, then wine bin/stop_bench.exe under xvfb-run).

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ToviraSdk_Z400KX.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

LRESULT CALLBACK SinkProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

HWND MakeSink() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraStopBenchSink";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                           nullptr);
}

// Frame messages for `ms`; returns the mean interval between good frames (ms), or -1.
double PumpFrames(HWND sink, double ms) {
    int frames = 0;
    Clock::time_point first{};
    double span = 0;
    const auto start = Clock::now();
    while (MillisSince(start) < ms) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        if (msg.hwnd == sink && msg.message == WM_TOVIRA_FRAME && msg.wParam) {
            if (frames == 0) first = Clock::now();
            else span = MillisSince(first);
            ++frames;
            continue;
        }
        DispatchMessageA(&msg);
    }
    return frames > 1 ? span / (frames - 1) : -1;
}

int OpenCamera(HWND sink, int width, int height) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brenik\\ToviraZ400KXSdk");
    const int h = Tovira_Initialize(sink);
    Tovira_SetColorMode(h, 24);
    Tovira_SetCaptureWindowEx(h, 3840, 0, width, 2748, 0, height);
    while (Tovira_GetLastError(h) != 0) {
    }
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    HWND sink = MakeSink();
    constexpr int kWidth = 1920, kHeight = 1374;  // a half-size window: 2 to 3 frames per second

    // The frame time of this stream, from the messages.
    int h = OpenCamera(sink, kWidth, kHeight);
    std::vector<uint8_t> buffer(size_t((kWidth * 3 + 3) & ~3) * kHeight);
    Tovira_CallBackPreview(h, sink, buffer.data(), int(buffer.size()), 1);
    const double frameMs = PumpFrames(sink, 4000);
    Tovira_StopPreview(h);
    std::printf("Window %d x %d, 24 bpp, virtual camera at sensor pace; frame time %.1f ms (median of %d rounds "
                "below)\n", kWidth, kHeight, frameMs, rounds);

    for (int wait : {10, 20000}) {
        std::vector<double> stops;
        Tovira_SetWaitTime(h, wait);
        for (int r = 0; r < rounds; ++r) {
            Tovira_CallBackPreview(h, sink, buffer.data(), int(buffer.size()), 1);
            PumpFrames(sink, 700);  // the loop is inside its wait (or between two polls)
            const auto start = Clock::now();
            Tovira_StopPreview(h);
            stops.push_back(MillisSince(start));
            PumpFrames(sink, 50);
        }
        const double m = Median(stops);
        std::printf("  StopPreview, wait time %5d ms: %7.1f ms   stop / frame %.2f\n", wait, m, m / frameMs);
    }
    Tovira_Release(h);

    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    const std::string avi = std::string(dir) + "tovira_stop_bench.avi";
    const char* kinds[3] = {"after snapshots", "after a recording", "after callback streaming"};
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<double> releases;
        for (int r = 0; r < rounds; ++r) {
            h = OpenCamera(sink, kWidth, kHeight);
            if (kind == 0) {
                Tovira_Capture(h);
                Tovira_SnapShot(h, buffer.data(), int(buffer.size()), 1);
            } else if (kind == 1) {
                Tovira_Record(h, avi.c_str(), 1000, 0);
                PumpFrames(sink, 1500);
            } else {
                Tovira_CallBackPreview(h, sink, buffer.data(), int(buffer.size()), 1);
                PumpFrames(sink, 1000);
            }
            const auto start = Clock::now();
            Tovira_Release(h);
            releases.push_back(MillisSince(start));
            PumpFrames(sink, 50);
        }
        const double m = Median(releases);
        std::printf("  Release %-25s %7.1f ms   release / frame %.2f\n", kinds[kind], m, m / frameMs);
    }
    DeleteFileA(avi.c_str());
    DestroyWindow(sink);
    return 0;
}
