// Capture preparation, streaming and capture mode, the frame loop and the copies to the caller.

#include "camera/Tovira.h"

int CTovira::PrepareCapture() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::Preview() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::CallBackPreview(HWND, void*, int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::StartPreview() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::StopPreview() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::Close() { return 1; }
int CTovira::Capture() { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SnapShot(void*, int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::GetImage(void*, int, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
