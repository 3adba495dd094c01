// Refreshes of an open analogue or image dialog from the frame-loop thread.
//
// The frame loop never touches a dialog's windows: these functions post a message to the dialog of the
// given camera, and the dialog updates its controls on its own thread when the message arrives. They
// never wait for the dialog and are safe to call at any time from any thread: with no dialog
// of that kind open for the camera they do nothing, and a dialog that is closing has already detached
// itself, so nothing is posted to a window that is going away. Repeated calls before the dialog has
// caught up are merged into one update.
#pragma once

#include <windows.h>

class CTovira;

// After the auto iris has set a new global gain: edit box 1015 shows it and the page takes it as a user
// change (the four colour gains follow, the sensor is written from the dialog's thread). The value is
// carried with the notification; the one-argument form takes camera.globalGain at the call.
void NotifyAnalogDialogGainChanged(CTovira& camera, int globalGain);
void NotifyAnalogDialogGainChanged(CTovira& camera);
// After the auto iris has set a new exposure: edit box 1027 shows it, handled as a user change (the
// exposure label follows). The one-argument form takes camera.exposureLines at the call.
void NotifyAnalogDialogExposureChanged(CTovira& camera, int exposureLines);
void NotifyAnalogDialogExposureChanged(CTovira& camera);
// After the white balance or the grey balance has stored new gains in the instance: both image pages
// show the instance's values as they are when the dialog handles the message. Call it once the new
// values are stored, not before.
void NotifyImageDialogValuesChanged(CTovira& camera);

namespace tovira {

// The messages the dialogs receive (posted by the functions above; wParam and lParam unused).
constexpr UINT kRefreshAnalogGain = WM_APP + 0x140;
constexpr UINT kRefreshAnalogExposure = WM_APP + 0x141;
constexpr UINT kRefreshImageValues = WM_APP + 0x142;

enum class RefreshTarget { Analog, Image };
// The dialog's window that receives the refreshes of this camera (the analogue page, the image frame).
void AttachRefreshWindow(RefreshTarget target, CTovira* camera, HWND window);
// From the window's WM_DESTROY: no more posts to it.
void DetachRefreshWindow(RefreshTarget target, HWND window);
// From the handler of a refresh message: the next notification posts again. Returns the newest value
// carried by the notifications of that message (0 for the image refresh).
int AcknowledgeRefresh(RefreshTarget target, UINT message);

}  // namespace tovira
