// Streaming benchmark under Wine: new frames delivered per second by a callback preview against the
// virtual camera (a frame counts once, by the number in the picture's frame-number strip), and the time
// per frame of its steps (unpacking with the re-stride, ProcessFrame on a fresh frame, drawing), each
// reported as a ratio to a plain copy of the same bytes measured in the same run. With sensor pacing the
// delivered rate is set against the rate the programmed sensor gives, and for the full frame with every
// parameter active the CPU time per frame against the frame interval, on 1 and 2 pipeline threads.
//
// Run: wine-run.sh bin/stream_bench.exe [seconds per streaming run, default 4]

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "camera/RegistryKey.h"
#include "camera/Tovira.h"
#include "device/DriverPort.h"
#include "device/ToviraZ400KXSdk.h"
#include "output/DibImage.h"
#include "output/PreviewWindow.h"
#include "pipeline/Demosaic.h"
#include "pipeline/VectorPath.h"
#include "sim/VirtualDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median of `runs` timings of `work`, in milliseconds; `prepare` runs untimed before each.
template <class P, class F>
double MedianMs(int runs, P&& prepare, F&& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const auto start = Clock::now();
        work();
        t.push_back(MillisSince(start));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}
template <class F>
double MedianMs(int runs, F&& work) {
    return MedianMs(runs, [] {}, work);
}

// The number in the frame-number strip of the virtual camera's picture (cells of 8 x 8 pixels along the
// top of the picture, cell k bright when bit k is set), read from a bottom-up callback buffer. Each new
// frame has a new number, so a repeated number is a frame delivered again.
uint32_t FrameNumberIn(const uint8_t* buffer, int width, int height, int bits) {
    const int bytesPerPixel = bits / 8;
    const int stride = (width * bytesPerPixel + 3) & ~3;
    const uint8_t* row = buffer + size_t(height - 1 - 4) * stride;  // picture row 4, the cells' middle
    uint32_t number = 0;
    for (int k = 0; k < 24 && 8 * k + 4 < width; ++k) {
        const uint8_t* pixel = row + size_t(8 * k + 4) * bytesPerPixel;
        const int level = bits == 48 || bits == 16 ? (pixel[0] | pixel[1] << 8) >> 4 : pixel[0];
        if (level > 128) number |= 1u << k;
    }
    return number;
}

// Every image parameter away from its neutral value (filter ids 1..5 and 11).
void SetEveryParameterActive(CTovira& camera) {
    const int values[][2] = {{1, 10}, {2, 10}, {3, 20}, {4, 40}, {5, 8}, {11, 80}};
    for (const auto& v : values) camera.SetFilterValue(v[0], v[1]);
}

double FileTimeMs(const FILETIME& f) { return ((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4; }
double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FileTimeMs(kernel) + FileTimeMs(user);
}
double ThreadCpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    return FileTimeMs(kernel) + FileTimeMs(user);
}

LRESULT CALLBACK SinkProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

HWND MakeSink() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraStreamBenchSink";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                           nullptr);
}

struct Camera {
    std::shared_ptr<tovira::VirtualDriver> driver;
    std::unique_ptr<CTovira> instance;
};

Camera Open(tovira::Pace pace, int bits, int subSample) {
    RegDeleteTreeA(HKEY_CURRENT_USER, tovira::kSettingsKeyPath);
    Camera c;
    c.driver = std::make_shared<tovira::VirtualDriver>(std::vector<int>{0}, pace);
    tovira::InstallDriverPort(c.driver);
    c.instance = std::make_unique<CTovira>();
    c.instance->Initialize(nullptr);
    c.instance->SetColorMode(bits);
    c.instance->SetSubSample(subSample);
    c.instance->SetCaptureWindowEx(3840, 0, 3840, 2748, 0, 2748);
    while (c.instance->GetLastError() != 0) {
    }
    return c;
}

struct Delivery {
    double newRate = 0;        // frames per second with a number not seen before
    double messageRate = 0;    // frame messages per second, repeats included
    double cpuMsPerFrame = 0;  // process CPU time per new frame (every thread, the virtual camera's too)
    double loopMsPerFrame = 0; // CPU time of the frame-loop thread per new frame
};

// Streams into a callback buffer for `seconds`. Only frames whose number differs from the last one
// counted are new; a message that shows a frame again (or a buffer the loop has not changed) is not.
// The sink is shared by every run: frame messages the previous camera posted before it closed are still
// queued. Taken against this run's fresh (black) buffer they read as frame 0, which started the span a
// start-up early and made the real frame 0 a repeat, so they are dropped first and only this camera's
// messages count.
Delivery DeliveredRate(CTovira& camera, HWND sink, double seconds, int bits) {
    const int divisor = camera.subSample == 1 ? 2 : camera.subSample == 2 ? 4 : 1;
    const int w = camera.effectiveWidth / divisor, h = camera.effectiveHeight / divisor;
    std::vector<uint8_t> buffer(size_t((w * bits / 8 + 3) & ~3) * h);
    Delivery d;
    MSG stale;
    while (PeekMessageA(&stale, sink, WM_TOVIRA_FRAME, WM_TOVIRA_FRAME, PM_REMOVE)) {
    }
    if (!camera.CallBackPreview(sink, buffer.data(), int(buffer.size()), 0)) return d;
    int frames = 0, messages = 0, messagesInSpan = 0;
    uint32_t last = 0xFFFFFFFFu;
    Clock::time_point first{};
    double span = 0, cpuFirst = 0, cpuSpan = 0, loopFirst = 0, loopSpan = 0;
    const auto start = Clock::now();
    while (MillisSince(start) < seconds * 1000) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        if (msg.hwnd == sink && msg.message == WM_TOVIRA_FRAME && msg.wParam == WPARAM(&camera.frameInfo)) {
            const uint32_t number = FrameNumberIn(buffer.data(), w, h, bits);
            // Counted from the first new frame, so the start-up does not enter the rate.
            if (frames > 0) ++messages;
            if (number == last) continue;
            last = number;
            if (frames == 0) {
                first = Clock::now();
                cpuFirst = ProcessCpuMs();
                loopFirst = ThreadCpuMs(camera.frameThread.handle);
            } else {
                span = MillisSince(first);
                messagesInSpan = messages;  // messages after the last new frame lie outside the span
                cpuSpan = ProcessCpuMs() - cpuFirst;
                loopSpan = ThreadCpuMs(camera.frameThread.handle) - loopFirst;
            }
            ++frames;
            continue;
        }
        DispatchMessageA(&msg);
    }
    camera.Close();
    if (span > 0 && frames > 1) {
        d.newRate = (frames - 1) * 1000.0 / span;
        d.messageRate = messagesInSpan * 1000.0 / span;
        d.cpuMsPerFrame = cpuSpan / (frames - 1);
        d.loopMsPerFrame = loopSpan / (frames - 1);
    }
    return d;
}

void StageTimes(int bits, int runs) {
    Camera c = Open(tovira::Pace::Fast, bits, 0);
    CTovira& camera = *c.instance;
    camera.Capture();
    camera.SnapShot(nullptr, 0, 1);
    CDibImage* raw = camera.RawImageFor(camera.colorMode);
    CDibImage* out = camera.OutputImageFor(camera.colorMode);
    CToviraZ400KXSdk& device = *camera.device;
    device.ReadSingleFrame();

    std::vector<uint8_t> copyTarget(std::max(raw->ByteSize(), out->ByteSize()));
    volatile uint8_t seen = 0;  // the copies are read, so they cannot be left out
    const double copyRaw = MedianMs(runs, [&] {
        std::memcpy(copyTarget.data(), raw->Bits(), raw->ByteSize());
        seen = seen + copyTarget[raw->ByteSize() / 2];
    });
    const double copyOut = MedianMs(runs, [&] {
        std::memcpy(copyTarget.data(), out->Bits(), out->ByteSize());
        seen = seen + copyTarget[out->ByteSize() / 2];
    });
    const double unpack = MedianMs(runs, [&] {
        device.CopySingleFrame(raw->Bits(), raw->ByteSize());
        camera.RestrideRawImage(*raw);
    });
    // Every timed frame is a fresh one (the defect filter works in place on the raw image).
    const auto freshFrame = [&] {
        device.CopySingleFrame(raw->Bits(), raw->ByteSize());
        camera.RestrideRawImage(*raw);
    };
    const double process = MedianMs(runs, freshFrame, [&] { camera.ProcessFrame(); });

    // Drawing into the library's own window (client = frame size, so one StretchBlt; larger than the
    // virtual screen here, so the window shows only part of it) and into a child window that scales.
    double drawDirect = -1, drawScaled = -1;
    if (OpenPreviewWindow(camera)) {
        drawDirect = MedianMs(runs, [&] { DrawPreviewFrame(camera); GdiFlush(); });
        DestroyPreviewWindow(camera);
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToviraStreamBenchParent";
    RegisterClassA(&wc);
    HWND parent = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 960, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    camera.previewParent = parent;
    camera.previewRect = RECT{0, 0, 1280, 915};
    if (parent && OpenPreviewWindow(camera)) {
        DrawPreviewFrame(camera);  // first draw sizes the display image
        drawScaled = MedianMs(runs, [&] { DrawPreviewFrame(camera); GdiFlush(); });
        DestroyPreviewWindow(camera);
    }
    if (parent) DestroyWindow(parent);
    camera.StopPreview();

    std::printf("  %2d bpp  copy raw %7.2f ms  unpack+restride %7.2f ms (x%.2f)   copy out %7.2f ms  "
                "ProcessFrame %8.2f ms (x%.2f)   draw direct %7.2f ms  draw scaled 1280x915 %7.2f ms (x%.2f)\n",
                bits, copyRaw, unpack, unpack / copyRaw, copyOut, process, process / copyOut, drawDirect,
                drawScaled, drawScaled / copyOut);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
    HWND sink = MakeSink();
    std::printf("Full frame 3840 x 2748, virtual camera, medians of 5 runs\n");
    // TOVIRA_VECTOR_PATH (avx512, avx2, sse2, scalar) holds the pipeline to one path.
    const char* chosen = std::getenv("TOVIRA_VECTOR_PATH");
    std::printf("Vector path: %s, demosaic %s (TOVIRA_VECTOR_PATH %s)\n", tovira::VectorPathName(tovira::ActiveVectorPath()),
                tovira::ActiveDemosaicPath() == tovira::DemosaicPath::kAvx2 ? "AVX2"
                : tovira::ActiveDemosaicPath() == tovira::DemosaicPath::kSse2 ? "SSE2" : "scalar",
                chosen != nullptr ? chosen : "unset");
    std::printf("Time per frame by step (ratio to a plain memcpy of the same image):\n");
    for (int bits : {8, 24, 48}) StageTimes(bits, 5);

    std::printf("Delivered rate of new frames, pace fast (callback preview into the library's own window):\n");
    for (int bits : {8, 24, 48}) {
        Camera c = Open(tovira::Pace::Fast, bits, 0);
        const Delivery d = DeliveredRate(*c.instance, sink, seconds, bits);
        std::printf("  %2d bpp  %6.2f new frames/s  (%6.2f frame messages/s)\n", bits, d.newRate, d.messageRate);
    }

    std::printf("Delivered rate of new frames, pace sensor, 8 bpp (ratio to the sensor's own rate):\n");
    for (int subSample : {0, 1}) {
        Camera c = Open(tovira::Pace::Sensor, 8, subSample);
        const Delivery d = DeliveredRate(*c.instance, sink, seconds, 8);
        const double sensorRate = 1e6 / c.driver->camera(0)->frameTimeMicros();
        std::printf("  sub-sampling %d  delivered %6.2f new frames/s (%6.2f messages/s)  sensor %6.2f frames/s  "
                    "ratio %.3f\n", subSample, d.newRate, d.messageRate, sensorRate, d.newRate / sensorRate);
    }

    // Full frame, 24 bpp, every parameter active, at sensor pace: the rate against the sensor's, and the
    // process's CPU time per frame against the frame interval, with the pipeline on 1 and 2 threads.
    std::printf("Pace sensor, 24 bpp full frame, every parameter active:\n");
    for (int threads : {1, 2}) {
        Camera c = Open(tovira::Pace::Sensor, 24, 0);
        c.instance->pipelineThreads = threads;
        SetEveryParameterActive(*c.instance);
        const Delivery d = DeliveredRate(*c.instance, sink, seconds * 2, 24);
        const double frameMs = c.driver->camera(0)->frameTimeMicros() / 1000.0;
        std::printf("  %d thread%s  delivered %5.2f new frames/s  ratio to sensor %.3f   per frame interval: "
                    "frame loop %.2f of a core, whole process (virtual camera included) %.2f of a core\n",
                    threads, threads == 1 ? " " : "s", d.newRate, d.newRate * frameMs / 1000.0,
                    d.loopMsPerFrame / frameMs, d.cpuMsPerFrame / frameMs);
    }
    tovira::InstallDriverPort(nullptr);
    DestroyWindow(sink);
    return 0;
}
