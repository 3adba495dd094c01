// Streaming benchmark under Wine: delivered frames per second of a callback preview against the virtual
// camera, and the time per frame of its steps (unpacking with the re-stride, ProcessFrame, drawing),
// each reported as a ratio to a plain copy of the same bytes measured in the same run. With sensor
// pacing the delivered rate is set against the rate the programmed sensor gives.
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
#include "sim/VirtualDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median of `runs` timings of `work`, in milliseconds.
template <class F>
double MedianMs(int runs, F&& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        t.push_back(MillisSince(start));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
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

// Streams into a callback buffer for `seconds` and returns delivered frames per second.
double DeliveredRate(CTovira& camera, HWND sink, double seconds, int bits) {
    const int divisor = camera.subSample == 1 ? 2 : camera.subSample == 2 ? 4 : 1;
    const int w = camera.effectiveWidth / divisor, h = camera.effectiveHeight / divisor;
    std::vector<uint8_t> buffer(size_t((w * bits / 8 + 3) & ~3) * h);
    if (!camera.CallBackPreview(sink, buffer.data(), int(buffer.size()), 0)) return -1;
    int frames = 0;
    Clock::time_point first{};
    double span = 0;
    const auto start = Clock::now();
    while (MillisSince(start) < seconds * 1000) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        if (msg.hwnd == sink && msg.message == WM_TOVIRA_FRAME && msg.wParam) {
            // Counted from the first frame, so the start-up does not enter the rate.
            if (frames == 0) first = Clock::now();
            else span = MillisSince(first);
            ++frames;
            continue;
        }
        DispatchMessageA(&msg);
    }
    camera.Close();
    return span > 0 ? (frames - 1) * 1000.0 / span : 0;
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
    const double process = MedianMs(runs, [&] { camera.ProcessFrame(); });

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
    std::printf("Time per frame by step (ratio to a plain memcpy of the same image):\n");
    for (int bits : {8, 24, 48}) StageTimes(bits, 5);

    std::printf("Delivered rate, pace fast (callback preview into the library's own window):\n");
    for (int bits : {8, 24, 48}) {
        Camera c = Open(tovira::Pace::Fast, bits, 0);
        const double rate = DeliveredRate(*c.instance, sink, seconds, bits);
        std::printf("  %2d bpp  %6.2f frames/s\n", bits, rate);
    }

    std::printf("Delivered rate, pace sensor, 8 bpp (ratio to the sensor's own rate):\n");
    for (int subSample : {0, 1}) {
        Camera c = Open(tovira::Pace::Sensor, 8, subSample);
        const double rate = DeliveredRate(*c.instance, sink, seconds, 8);
        const double sensorRate = 1e6 / c.driver->camera(0)->frameTimeMicros();
        std::printf("  sub-sampling %d  delivered %6.2f frames/s  sensor %6.2f frames/s  ratio %.3f\n", subSample,
                    rate, sensorRate, rate / sensorRate);
    }
    tovira::InstallDriverPort(nullptr);
    DestroyWindow(sink);
    return 0;
}
