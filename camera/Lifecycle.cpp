// Construction, initialisation and destruction of the camera instance, and its error history.

#include <windows.h>
#include <mmsystem.h>

#include "camera/Tovira.h"

CTovira::CTovira() { lastRateUpdate = timeGetTime(); }

CTovira::~CTovira() = default;

int CTovira::Initialize(HWND window) {
    // The notification window is stored before any check, so the codes below reach it.
    notifyWindow = window;
    if (!device) {
        RecordError(TOVIRA_ERR_BUFFER);
        return 0;
    }
    return 1;
}

void CTovira::RecordError(int code) {
    {
        std::lock_guard<std::mutex> guard(errorLock);
        for (int i = 19; i > 0; --i) errors[i] = errors[i - 1];
        errors[0] = code;
    }
    // Posted, never sent: the library never waits for the application's window procedure. A failed post
    // (window destroyed) leaves the code in the history.
    if (notifyWindow) PostMessageA(notifyWindow, WM_TOVIRA_ERROR, 0, static_cast<LPARAM>(code));
}

int CTovira::GetLastError() {
    std::lock_guard<std::mutex> guard(errorLock);
    const int newest = errors[0];
    for (int i = 0; i < 19; ++i) errors[i] = errors[i + 1];
    errors[19] = 0;
    return newest;
}
