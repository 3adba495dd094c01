#include "device/ToviraZ400KXSdk.h"

#include <cstring>

CToviraZ400KXSdk::CToviraZ400KXSdk() {
  std::strcpy(baseName_, "TovKX400");
  ScanDevices();
  // This model reads frames with the alternate code, streamed and single.
  alternateStreamCode_ = 1;
  alternateSingleCode_ = 1;
  SelectDevice(0);
}
