// The port to the camera's real kernel driver.
#pragma once

#include "device/DriverPort.h"

namespace tovira {

class Win32DriverPort : public DriverPort {
public:
  // CreateFileA: GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING, flags 0 (synchronous I/O).
  DeviceHandle Open(const char* path) override;
  // DeviceIoControl without OVERLAPPED.
  bool Control(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
               std::uint32_t outLength, std::uint32_t* returned) override;
  void Close(DeviceHandle handle) override;
};

} // namespace tovira
