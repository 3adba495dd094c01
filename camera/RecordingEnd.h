// The end of a recording, told to the application (WM_TOVIRAX_RECORDED and/or its callback) and the log.
#pragma once

class CTovira;

namespace tovira {

enum class RecordingEndReason { DurationReached = 1, Stopped = 2, CameraLost = 3, DiskFull = 4 };

// Called once per recording, after its file is complete, with the frames it holds.
void NotifyRecordingEnded(CTovira& camera, int framesWritten, RecordingEndReason reason);

}  // namespace tovira
