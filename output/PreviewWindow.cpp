#include "output/PreviewWindow.h"

#include <mmsystem.h>

#include <cstdlib>
#include <mutex>

#include "camera/Tovira.h"
#include "output/DibImage.h"
#include "pipeline/ApplyKernel.h"
#include "pipeline/Convert.h"

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;  // 0x52000000
constexpr DWORD kOwnStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr int kChildId = 6540;

void UnregisterPreviewClass(CTovira& instance) {
    if (instance.previewClassName[0]) {
        UnregisterClassA(instance.previewClassName, GetModuleHandleA(nullptr));
        instance.previewClassName[0] = '\0';
    }
}

// A window can only be destroyed by the thread that created it. When another thread closes the preview
// (a Release from a worker thread, say), the window's own thread is asked to destroy it: WM_CLOSE, which
// the default window procedure answers with DestroyWindow. The window procedure is set to the system's
// default first, so a window that outlives the call (its thread is not taking messages) never calls
// into this library, which may be unloaded by then; the posted WM_CLOSE destroys it at the thread's next
// message. A window whose thread has ended is already gone.
//
// A visible top-level window is hidden before it is destroyed, and under Wine on a display without a
// window manager that hide waits up to 2 s for a manager to acknowledge it. Turning redrawing off first
// (WM_SETREDRAW clears WS_VISIBLE without hiding) skips the hide; the area the window covered is
// repainted afterwards instead.
void DestroyWindowOnItsThread(HWND window) {
    const DWORD owner = GetWindowThreadProcessId(window, nullptr);
    if (owner == 0) return;
    const bool topLevel = (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) == 0;
    RECT area{};
    GetWindowRect(window, &area);
    if (owner == GetCurrentThreadId()) {
        if (topLevel) SendMessageA(window, WM_SETREDRAW, FALSE, 0);
        DestroyWindow(window);
    } else {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        DWORD_PTR ignored = 0;
        // A thread that takes messages answers at once; one that does not is waited for this long. Not
        // SMTO_ABORTIFHUNG: a thread that took no messages for a while (busy with other work before it
        // pumps again) counts as hung and would get only the posted close.
        constexpr UINT kWaitMs = 3000;
        const bool answering =
            !topLevel || SendMessageTimeoutA(window, WM_SETREDRAW, FALSE, 0, SMTO_NORMAL, kWaitMs, &ignored);
        if (!answering || !SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, kWaitMs, &ignored)) {
            if (IsWindow(window)) PostMessageA(window, WM_CLOSE, 0, 0);
        }
    }
    if (topLevel) RedrawWindow(nullptr, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The picture to show for the colour mode, after reducing deep images to a screen format. Null when the
// images it needs are missing.
CDibImage* ShownImage(CTovira& instance) {
    using namespace tovira;
    switch (instance.colorMode) {
        case 0:
            return instance.rawImage8;
        case 1:
            if (!instance.rawImage8 || !instance.rawImage16) return nullptr;
            ApplyKernel(instance.rawImage8->View(), Gray16To8Shift4, instance.rawImage16->View());
            return instance.rawImage8;
        case 2:
            return instance.colorImage24;
        case 3:
            if (!instance.colorImage24 || !instance.colorImage32) return nullptr;
            ApplyKernel(instance.colorImage24->View(), Bgr32To24, instance.colorImage32->View());
            return instance.colorImage24;
        case 4:
        case 5: {
            CDibImage* deep = instance.colorMode == 4 ? instance.colorImage48 : instance.colorImage64;
            if (!instance.colorImage24 || !deep) return nullptr;
            ApplyKernel(instance.colorImage24->View(), Bgr48To24Shift4, deep->View());
            return instance.colorImage24;
        }
        default:
            return nullptr;
    }
}

}  // namespace

LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

SIZE PreviewOutputSize(const CTovira& instance) {
    SIZE size{instance.effectiveWidth, instance.effectiveHeight};
    if (instance.subSample == 1 || instance.subSample == 16) {
        size.cx /= 2;
        size.cy /= 2;
    } else if (instance.subSample == 2 || instance.subSample == 17) {
        size.cx /= 4;
        size.cy /= 4;
    }
    return size;
}

HWND CreatePreviewWindow(CTovira& instance, HWND parent, const RECT& rect) {
    HINSTANCE module = GetModuleHandleA(nullptr);  // the host's module, as the window's owner
    // The instance's address and a time-dependent value keep two instances, or a re-opened preview,
    // from sharing a class name.
    wsprintfA(instance.previewClassName, "VideoRenderer_%08x_%08x",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(&instance)),
              static_cast<unsigned>(timeGetTime() + static_cast<unsigned>(std::rand())));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PreviewWndProc;
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = instance.previewClassName;
    if (!RegisterClassExA(&wc)) {
        instance.previewClassName[0] = '\0';
        return nullptr;
    }

    HWND window = nullptr;
    if (parent) {
        // The rectangle's right and bottom are the child's width and height, as callers pass them.
        window = CreateWindowExA(0, instance.previewClassName, "ActiveMovie Window", kChildStyle, rect.left,
                                 rect.top, rect.right, rect.bottom, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kChildId)), module, nullptr);
    } else {
        const SIZE client = PreviewOutputSize(instance);
        RECT outer{0, 0, client.cx, client.cy};
        if (AdjustWindowRectEx(&outer, kOwnStyle, FALSE, 0)) {
            const int width = outer.right - outer.left, height = outer.bottom - outer.top;
            int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
            int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
            if (x < 0) x = 0;
            if (y < 0) y = 0;
            window = CreateWindowExA(0, instance.previewClassName, "Active Window", kOwnStyle, x, y, width,
                                     height, nullptr, nullptr, module, nullptr);
        }
    }
    if (window) {
        SetFocus(window);
        ShowWindow(window, SW_SHOW);
        if (UpdateWindow(window)) return window;
        DestroyWindow(window);
    }
    UnregisterPreviewClass(instance);
    return nullptr;
}

int OpenPreviewWindow(CTovira& instance) {
    DestroyPreviewWindow(instance);
    HWND window = CreatePreviewWindow(instance, instance.previewParent, instance.previewRect);
    if (!window) return 0;
    HDC dc = GetDC(window);
    {
        std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
        instance.previewWindow = window;
        instance.previewDc = dc;
    }
    if (!dc) {
        DestroyPreviewWindow(instance);
        return 0;
    }
    return 1;
}

void DestroyPreviewWindow(CTovira& instance) {
    HWND window;
    HDC dc;
    {
        // Taken out under the frame lock: a draw in progress finishes with the DC before it goes.
        std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
        window = instance.previewWindow;
        dc = instance.previewDc;
        instance.previewWindow = nullptr;
        instance.previewDc = nullptr;
    }
    if (dc) ReleaseDC(window, dc);
    if (window) DestroyWindowOnItsThread(window);
    UnregisterPreviewClass(instance);
}

int ClosePreviewWindow(CTovira& instance) {
    DestroyPreviewWindow(instance);
    instance.StopPreview();
    return 1;
}

int DrawPreviewFrame(CTovira& instance) {
    std::lock_guard<std::recursive_mutex> guard(instance.frameLock);
    CDibImage* shown = ShownImage(instance);
    HWND window = instance.previewWindow;
    HDC dc = instance.previewDc;
    if (!window || !dc || !shown || shown->IsEmpty()) return 0;
    RECT client{};
    GetClientRect(window, &client);
    if (!IsWindowVisible(window) || IsIconic(window)) return 0;
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return 0;

    const int imageWidth = shown->Width(), imageHeight = shown->Height();
    if (width == imageWidth && height == imageHeight && instance.colorMode != 1 && shown->Dc()) {
        // The negative source height turns the bottom-up bitmap so storage row 0 lands at the top. A
        // mirrored source starts at its last row (height - 1); an origin of `height` would shift the
        // picture down by one row and lose the bottom line.
        return StretchBlt(dc, 0, 0, width, height, shown->Dc(), 0, imageHeight - 1, imageWidth,
                          -imageHeight, SRCCOPY) ? 1 : 0;
    }

    CDibImage* display = instance.displayImage;
    if (!display) return 0;
    const bool grey = instance.colorMode <= 1;
    const int displayBits = grey ? 8 : 24;
    if (display->Width() != width || display->Height() != height || display->BitCount() != displayBits) {
        if (!display->Create(width, height, displayBits)) return 0;
        if (grey) display->SetGrayPalette();
    }
    // The scaling kernels turn the rows over, so the display image holds the picture in bitmap order.
    display->StretchFrom(grey ? tovira::ScaleNearest8 : tovira::ScaleNearest24, *shown);
    GdiFlush();
    return BitBlt(dc, 0, 0, width, height, display->Dc(), 0, 0, SRCCOPY) ? 1 : 0;
}
