// The driver transport, written once on the DriverPort: the real driver and the virtual camera see the
// same requests.
#include "device/Transport.h"

#include <cstdio>
#include <cstring>

namespace tovira {

void FormatDevicePath(char* out, std::size_t size, const char* baseName, int deviceNumber) {
  std::snprintf(out, size, "\\\\.\\%s-%d", baseName, deviceNumber);
}

int OpenDevice(DriverPort& port, DeviceHandle* handle, const char* path) {
  if (path == nullptr) return 0;
  *handle = port.Open(path);
  return isValidDeviceHandle(*handle) ? 1 : 0;
}

int CloseDevice(DriverPort& port, DeviceHandle* handle) {
  if (*handle == nullptr) return 0;
  // A failed open leaves INVALID_HANDLE_VALUE behind; it is cleared without asking the system.
  if (isValidDeviceHandle(*handle)) port.Close(*handle);
  *handle = nullptr;
  return 1;
}

namespace {

int request(DriverPort& port, DeviceHandle handle, std::uint32_t code, std::uint32_t pipe, std::uint32_t length,
            void* buffer, std::uint32_t* returned) {
  if (buffer == nullptr) return -2;
  if (!isValidDeviceHandle(handle)) return -3;
  // The pipe number travels as the whole input buffer, little-endian.
  std::uint8_t in[4] = {std::uint8_t(pipe), std::uint8_t(pipe >> 8), std::uint8_t(pipe >> 16),
                        std::uint8_t(pipe >> 24)};
  std::uint32_t moved = 0;
  const bool ok = port.Control(handle, code, in, sizeof in, buffer, length, &moved);
  if (returned != nullptr) *returned = moved;
  return ok && moved == length ? 0 : -1;
}

int packet(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer,
           int codeFlag) {
  if (!isValidDeviceHandle(handle)) return 10;
  std::uint32_t moved = 0;
  return Transfer(port, handle, pipe, length, buffer, &moved, codeFlag) == 0 && moved == length ? 0 : 12;
}

} // namespace

int Transfer(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer,
             std::uint32_t* returned, int codeFlag) {
  return request(port, handle, codeFlag == 0 ? kCodeReadPipe : kCodeWritePipe, pipe, length, buffer, returned);
}

int TransferFrame(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer,
                  std::uint32_t* returned) {
  return request(port, handle, kCodeFrameRead, pipe, length, buffer, returned);
}

int ReceivePacket(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer) {
  return packet(port, handle, pipe, length, buffer, 0);
}

int SendPacket(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer) {
  return packet(port, handle, pipe, length, buffer, 1);
}

int SendSettingBlock(DriverPort& port, DeviceHandle handle, const void* block) {
  if (!isValidDeviceHandle(handle)) return 0;
  std::uint32_t moved = 0;
  return port.Control(handle, kCodeDriverSetting, block, kSettingBlockBytes, nullptr, 0, &moved) ? 1 : 0;
}

} // namespace tovira
