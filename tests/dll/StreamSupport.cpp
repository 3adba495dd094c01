#include "StreamSupport.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

const char* SinkClass() {
    static const char* name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = SinkProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ToviraStreamTestSink";
        RegisterClassA(&wc);
        return "ToviraStreamTestSink";
    }();
    return name;
}

}  // namespace

MessageSink::MessageSink() {
    window_ = CreateWindowExA(0, SinkClass(), "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
}

MessageSink::~MessageSink() {
    if (window_) DestroyWindow(window_);
}

void MessageSink::pumpUntil(const std::function<bool()>& done, DWORD limitMs,
                            const std::function<void(FrameMessage&)>& onFrame) {
    const DWORD start = GetTickCount();
    // The time limit is looked at only with the queue empty: what was posted before the call is always
    // taken, however long this thread waited to run (a busy machine).
    while (!done()) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (GetTickCount() - start >= limitMs) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            continue;
        }
        if (msg.hwnd == window_ && msg.message == WM_TOVIRA_FRAME) {
            FrameMessage f{msg.wParam, msg.lParam, {}, {}};
            if (msg.wParam) {
                f.info = *reinterpret_cast<const TOVIRA_FRAME_INFO*>(msg.wParam);
                if (buffer) f.pixels.assign(buffer, buffer + bufferBytes);
            }
            if (onFrame) onFrame(f);
            frames.push_back(std::move(f));
            continue;
        }
        if (msg.hwnd == window_ && msg.message == WM_TOVIRA_ERROR) {
            errors.push_back(static_cast<int>(msg.lParam));
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void MessageSink::pumpFor(DWORD ms, const std::function<void(FrameMessage&)>& onFrame) {
    pumpUntil([] { return false; }, ms, onFrame);
}

int OpenCamera(HWND notify, int width, int height) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brenik\\ToviraZ400KXSdk");
    const int h = Tovira_Initialize(notify);
    if (h == 0) return 0;
    if (!Tovira_SetCaptureWindowEx(h, 3840, 0, width, 2748, 0, height)) {
        Tovira_Release(h);
        return 0;
    }
    while (Tovira_GetLastError(h) != 0) {
    }
    return h;
}

int FrameNumberOf(const uint8_t* frame, int stride, int bits) {
    const int channels = bits == 8 || bits == 16 ? 1 : 3;
    const bool wide = bits == 16 || bits == 48 || bits == 64;
    const int full = wide ? 4095 : 255;
    const int pixelBytes = bits / 8;
    int number = 0;
    for (int k = 0; k < 24; ++k) {
        const uint8_t* p = frame + 4 * stride + (8 * k + 4) * pixelBytes;
        int v = 0;
        for (int c = 0; c < channels; ++c) {
            const int s = wide ? p[2 * c] | p[2 * c + 1] << 8 : p[c];
            v = std::max(v, s);
        }
        if (v > full * 6 / 10) {
            number |= 1 << k;
        } else if (v >= full / 4) {
            return -1;
        }
    }
    return number;
}

std::vector<uint8_t> ReverseRows(const std::vector<uint8_t>& frame, int stride, int rows) {
    std::vector<uint8_t> out(frame.size());
    for (int i = 0; i < rows; ++i)
        std::memcpy(out.data() + size_t(i) * stride, frame.data() + size_t(rows - 1 - i) * stride, stride);
    return out;
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 e = {};
    e.dwSize = sizeof e;
    int count = 0;
    for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
        if (e.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snap);
    return count;
}
