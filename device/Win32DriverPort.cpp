#include "device/Win32DriverPort.h"

#include <windows.h>


namespace tovira {

DeviceHandle Win32DriverPort::Open(const char* path) {
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Win32DriverPort::Control(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inLength,
                              void* out, std::uint32_t outLength, std::uint32_t* returned) {
  DWORD moved = 0;
  // Exactly TRUE counts as success.
  const BOOL ok = DeviceIoControl(handle, code, const_cast<void*>(in), inLength, out, outLength, &moved, nullptr);
  if (returned != nullptr) *returned = moved;
  return ok == TRUE;
}

void Win32DriverPort::Close(DeviceHandle handle) { CloseHandle(handle); }

} // namespace tovira
