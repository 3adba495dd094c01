// The camera values and capture-window presets kept in the registry, and the grey calibration in the
// camera's serial ROM.

#include "camera/Tovira.h"

int CTovira::LoadCaptureWindowSettings() { return 0; }
int CTovira::LoadCameraSettings() { return 0; }
int CTovira::LoadGrayFromSrom() { return 0; }
