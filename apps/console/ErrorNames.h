#pragma once
// Names of the SDK's error codes and what they mean, for messages.

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

// What a code means to the person looking at a sample's output.
inline const char* ToviraErrorMeaning(int code) {
    switch (code) {
    case 0: return "no error";
    case 1: return "not ready (no device, or the capture could not be prepared)";
    case 2: return "no camera in the selected slot";
    case 3: return "a thread could not be started";
    case 4: return "the preview window could not be made, or no stored window size matches";
    case 5: return "a frame buffer is too small or could not be allocated";
    case 6: return "a register transfer or the stream start/stop failed";
    case 7: return "the capture window lies outside the sensor";
    case 8: return "a frame could not be read";
    case 9: return "an argument is out of range";
    case 11: return "not supported by this camera";
    case 12: return "settings or recording storage failed";
    case 13: return "the camera was lost";
    default: return "unknown error";
    }
}
