// The ToviraX_ exports of the acquisition extension. As with the 118 Tovira_ exports, each resolves its
// handle and calls one operation; an unregistered handle gives the failure value and records nothing, and
// no C++ exception leaves the library.

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "ToviraSdk_Z400KX_ext.h"
#include "api/CameraCall.h"
#include "api/SdkChain.h"
#include "camera/ErrorText.h"
#include "camera/FrameFormat.h"
#include "camera/SettingsFile.h"
#include "camera/Tovira.h"

namespace {

using tovira::WithCamera;
using tovira::WithCameraUngated;

// The text of `code` in the user's language; whether the code is one the library uses.
const wchar_t* TextOf(int code, bool* known) {
    const tovira::TextLanguage language = tovira::UserTextLanguage();
    const wchar_t* text = tovira::ErrorText(code, language);
    *known = text != nullptr;
    return text ? text : tovira::UnknownErrorText(language);
}

}  // namespace

extern "C" {

// Frame records, waits and buffers returned are the data plane: they never wait behind a control call.
int ToviraX_GetFrameMeta(int h, TOVIRAX_FRAME_META* meta, TOVIRAX_COUNTERS* counters) {
    return WithCameraUngated(h, 0, [&](CTovira& c) { return c.acquisition.GetFrameMeta(c, meta, counters); });
}

int ToviraX_WaitFrame(int h, unsigned long long afterId, int timeoutMs, void* buffer, int bufferSize, int rowOrder,
                      TOVIRAX_FRAME_META* meta) {
    return WithCameraUngated(h, -1, [&](CTovira& c) {
        return c.acquisition.WaitFrame(c, afterId, timeoutMs, buffer, bufferSize, rowOrder, meta);
    });
}

int ToviraX_SetFrameCallback(int h, TOVIRAX_FRAME_CALLBACK callback, void* user, void* const* buffers, int count,
                             int bufferSize, int rowOrder) {
    return WithCamera(h, 0, [&](CTovira& c) {
        return c.acquisition.SetFrameCallback(c, h, callback, user, buffers, count, bufferSize, rowOrder);
    });
}

int ToviraX_ReturnBuffer(int h, void* buffer) {
    return WithCameraUngated(h, 0, [&](CTovira& c) { return c.acquisition.ReturnBuffer(c, buffer); });
}

int ToviraX_SetRecordNotify(int h, HWND window, TOVIRAX_RECORD_CALLBACK callback, void* user) {
    return WithCamera(h, 0, [&](CTovira& c) { return c.acquisition.SetRecordNotify(h, window, callback, user); });
}

int ToviraX_RecordEx(int h, const char* fileName, int ms, int show, int codec, int quality) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.Record(fileName, ms, show, codec, quality); });
}

int ToviraX_RecordExW(int h, const wchar_t* fileName, int ms, int show, int codec, int quality) {
    return WithCamera(h, 0, [=](CTovira& c) { return c.RecordW(fileName, ms, show, codec, quality); });
}

// Counters only: never waits for a control call, so the recording's own notice may ask too.
int ToviraX_GetRecordStatus(int h, TOVIRAX_RECORD_STATUS* status) {
    return WithCameraUngated(h, 0, [=](CTovira& c) { return c.GetRecordStatus(status); });
}

int ToviraX_SetStatusCallback(int h, TOVIRAX_STATUS_CALLBACK callback, void* user) {
    return WithCamera(h, 0, [&](CTovira& c) {
        if (c.status.OnStatusThread()) {
            c.RecordError(TOVIRA_ERR_NOT_READY);
            return 0;
        }
        if (c.status.Set(h, callback, user, c.Gate())) return 1;
        c.RecordError(TOVIRA_ERR_THREAD);
        return 0;
    });
}

int ToviraX_GetErrorTextW(int code, wchar_t* text, int length) {
    if (!text || length < 1) return 0;
    bool known = false;
    const wchar_t* source = TextOf(code, &known);
    const size_t needed = std::wcslen(source);
    const size_t room = static_cast<size_t>(length) - 1;
    const size_t n = needed < room ? needed : room;
    std::wmemcpy(text, source, n);
    text[n] = L'\0';
    return known && n == needed ? 1 : 0;
}

int ToviraX_GetErrorText(int code, char* text, int length) {
    if (!text || length < 1) return 0;
    bool known = false;
    const wchar_t* source = TextOf(code, &known);
    const int needed = WideCharToMultiByte(CP_ACP, 0, source, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        text[0] = '\0';
        return 0;
    }
    if (needed <= length) {
        WideCharToMultiByte(CP_ACP, 0, source, -1, text, length, nullptr, nullptr);
        return known ? 1 : 0;
    }
    // Cut to fit without splitting a double-byte character: convert whole characters while they fit.
    int used = 0;
    for (const wchar_t* p = source; *p; ++p) {
        char piece[8];
        const int bytes = WideCharToMultiByte(CP_ACP, 0, p, 1, piece, sizeof piece, nullptr, nullptr);
        if (bytes <= 0 || used + bytes > length - 1) break;
        std::memcpy(text + used, piece, static_cast<size_t>(bytes));
        used += bytes;
    }
    text[used] = '\0';
    return 0;
}

int ToviraX_GetFrameFormat(int h, int rowOrder, TOVIRAX_FRAME_FORMAT* format) {
    return WithCamera(h, 0, [&](CTovira& c) { return tovira::GetFrameFormat(c, rowOrder, format); });
}

int ToviraX_InitializeEx(HWND notifyWindow, int flags) {
    if (flags & ~TOVIRAX_INIT_NO_STORED_SETTINGS) return 0;
    try {
        const int handle = SdkChain().CreateInstance();
        if (!handle) return 0;
        CSDKDATA entry;
        // As Tovira_Initialize: the handle is returned whether or not the initialisation succeeded.
        if (SdkChain().GetEntry(handle, &entry) && entry.pCamera) {
            entry.pCamera->storedSettings = (flags & TOVIRAX_INIT_NO_STORED_SETTINGS) == 0;
            entry.pCamera->Initialize(notifyWindow);
        }
        return handle;
    } catch (...) {
        return 0;
    }
}

int ToviraX_ResetSettings(int h) {
    return WithCamera(h, 0, [&](CTovira& c) { return tovira::ResetSettings(c); });
}

int ToviraX_SaveSettings(int h, const char* fileName) {
    return WithCamera(h, 0, [&](CTovira& c) { return tovira::SaveSettingsFile(c, fileName); });
}

int ToviraX_LoadSettings(int h, const char* fileName, char* message, int messageLength) {
    return WithCamera(h, 0, [&](CTovira& c) {
        std::string problem;
        const int ok = tovira::LoadSettingsFile(c, fileName, &problem);
        if (message && messageLength > 0) {
            const size_t n = problem.size() < size_t(messageLength) - 1 ? problem.size() : size_t(messageLength) - 1;
            std::memcpy(message, problem.data(), n);
            message[n] = '\0';
        }
        return ok;
    });
}

}  // extern "C"
