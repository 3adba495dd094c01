// Why a recording ended; the record thread ends every recording in one place with one of these.
#pragma once

class CTovira;

// The values are the TOVIRAX_RECORD_ reasons the extension API reports.
enum class RecordEndReason {
    kDurationReached = 1,  // the requested time passed
    kStopped = 2,          // the preview was stopped, closed or released
    kCameraLost = 3,       // the camera was removed or its transfer failed for good
    kDiskFull = 4,         // a write failed (full disk, removed medium): error 12
    kFileLimit = 5,        // the file's layout had no room for another frame: error 12
};

namespace tovira {
// Tells the application (WM_TOVIRAX_RECORDED and/or its callback) and the log; called once per
// recording, after its file is complete, with the frames it holds.
void NotifyRecordingEnded(CTovira& camera, int framesWritten, RecordEndReason reason);
}  // namespace tovira
