// The three settings dialogs.

#include "camera/Tovira.h"

int CTovira::SetCameraDlg(HWND) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetAnalogDlg(HWND) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
int CTovira::SetImageDlg(HWND) { RecordError(TOVIRA_ERR_NOT_READY); return 0; }
