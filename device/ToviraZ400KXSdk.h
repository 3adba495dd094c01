// The device object of the Z400KX model: driver base name "TovKX400", both frame reads on the
// alternate code 0x2220A9, a first device scan and the selection of device 0 at construction.
#pragma once

#include "device/TVRSdkLib.h"

class CToviraZ400KXSdk : public CTVRSdkLib {
public:
  // Scans device numbers 0..7, then selects device 0 (start-up command, initial registers, full
  // window) whether or not a camera is there; without one every write fails quietly.
  CToviraZ400KXSdk();
};
