// The preview window of a camera instance and the drawing of each processed frame into it.
//
// The window is created on the caller's thread (inside the starting export) and belongs to it; the
// frame loop draws into it through the window DC kept in the instance. Drawing and closing both hold
// the instance's frame lock while they touch the window fields, so a close never pulls the DC away
// from a draw in progress.
#pragma once

#include <windows.h>

class CTovira;
class CDibImage;

// Registers a window class of its own ("VideoRenderer_<instance>_<time>", stored in the instance) and
// creates the window: a visible child of `parent` at (rect.left, rect.top) that is rect.right wide and
// rect.bottom high, or, without a parent, a top-level window whose client area is the output size,
// centred on the primary screen (clamped to 0). Returns the window or null (nothing left registered).
HWND CreatePreviewWindow(CTovira& instance, HWND parent, const RECT& rect);

// What the starting operations need: closes an earlier preview window of the instance (without stopping
// the stream), creates the window in the instance's preview parent with its preview rectangle, stores it
// and takes its DC. Returns 1, or 0 with nothing left open; the caller records error 4.
int OpenPreviewWindow(CTovira& instance);

// Releases the DC, destroys the window and unregisters its class; each step is skipped when there is
// nothing to release. Does not stop streaming.
void DestroyPreviewWindow(CTovira& instance);

// DestroyPreviewWindow, then stops streaming (CTovira::StopPreview). Returns 1. Safe to call again.
int ClosePreviewWindow(CTovira& instance);

// Shows the output image of the instance's colour mode in the preview window: deep images are reduced to
// 8 or 24 bits first; an image of the client size is copied with one StretchBlt (rows turned over),
// any other size is scaled nearest-neighbour into the display image, recreated when the client size
// changed, and block-copied. A hidden, minimised or zero-sized window, or no window, draws nothing.
// Returns 1 when something was drawn, else 0.
int DrawPreviewFrame(CTovira& instance);

// Output size of the instance: effective size halved for sub-sampling codes 1 and 16, quartered for
// 2 and 17.
SIZE PreviewOutputSize(const CTovira& instance);

LRESULT CALLBACK PreviewWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
