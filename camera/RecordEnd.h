// Why a recording ended; the record thread ends every recording in one place with one of these.
#pragma once

enum class RecordEndReason {
    kDurationReached,  // the requested time passed
    kStopped,          // the preview was stopped, closed or released
    kCameraLost,       // the camera was removed or its transfer failed for good
    kDiskFull,         // a write failed (full disk, removed medium): error 12
    kFileLimit,        // the file's layout had no room for another frame: error 12
};
