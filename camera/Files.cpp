// Saving the current output image and recording AVI files.

#include "camera/Tovira.h"

int CTovira::SaveImage(const char*, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SaveImageW(const wchar_t*, int) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::Record(const char*, int, int) { RecordError(TOVIRA_ERR_STORAGE); return 0; }
int CTovira::RecordW(const wchar_t*, int, int) { RecordError(TOVIRA_ERR_STORAGE); return 0; }
