#pragma once
// Helpers for the streaming tests: a message window that collects the library's messages, a camera
// handle set up on a small window, and the frame number the virtual camera paints into every frame
// (24 cells of 8 x 8 pixels across the top rows, cell k bright when bit k is set).

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "ToviraSdk_Z400KX.h"

struct FrameMessage {
    WPARAM wParam;
    LPARAM lParam;
    TOVIRA_FRAME_INFO info;  // copied when the message arrived (wParam non-null)
    std::vector<uint8_t> pixels;  // the caller's buffer as it was when the message arrived
};

class MessageSink {
public:
    MessageSink();
    ~MessageSink();
    HWND window() const { return window_; }
    // Pumps messages until `done` says so or `limitMs` passed (a safety net, not a timing check).
    // `onFrame` runs for each WM_TOVIRA_FRAME right after it was taken from the queue.
    void pumpUntil(const std::function<bool()>& done, DWORD limitMs,
                   const std::function<void(FrameMessage&)>& onFrame = nullptr);
    void pumpFor(DWORD ms, const std::function<void(FrameMessage&)>& onFrame = nullptr);

    // What arrived; `buffer`/`bufferBytes` is the caller buffer copied with each good frame message.
    std::vector<FrameMessage> frames;
    std::vector<int> errors;
    const uint8_t* buffer = nullptr;
    size_t bufferBytes = 0;

private:
    HWND window_ = nullptr;
};

// Deletes the SDK's registry key (first run), initialises a handle with `notify`, and sets a capture
// window of width x height at (0, 0). Returns the handle (0 on failure).
int OpenCamera(HWND notify, int width, int height);

// Row bytes of a frame: width x bits / 8 rounded up to 4.
inline int StrideOf(int width, int bits) { return (width * bits / 8 + 3) & ~3; }

// The frame number painted into the top rows of `frame` (rows top first), read from the first sample of
// each pixel; -1 when a cell is neither clearly dark nor clearly bright.
int FrameNumberOf(const uint8_t* frame, int stride, int bits);

// Rows of `frame` in reverse order.
std::vector<uint8_t> ReverseRows(const std::vector<uint8_t>& frame, int stride, int rows);

// Threads of this process.
int ThreadCount();
