#pragma once
// Names of the SDK's error codes, for messages.

inline const char* ToviraErrorName(int code) {
    switch (code) {
    case 0: return "TOVIRA_ERR_NONE";
    case 1: return "TOVIRA_ERR_NOT_READY";
    case 2: return "TOVIRA_ERR_NO_CAMERA";
    case 3: return "TOVIRA_ERR_THREAD";
    case 4: return "TOVIRA_ERR_WINDOW";
    case 5: return "TOVIRA_ERR_BUFFER";
    case 6: return "TOVIRA_ERR_DEVICE_IO";
    case 7: return "TOVIRA_ERR_WINDOW_RANGE";
    case 8: return "TOVIRA_ERR_TRANSFER";
    case 9: return "TOVIRA_ERR_PARAMETER";
    case 11: return "TOVIRA_ERR_UNSUPPORTED";
    case 12: return "TOVIRA_ERR_STORAGE";
    case 13: return "TOVIRA_ERR_DEVICE_LOST";
    default: return "unknown error";
    }
}
