// The driver transport: raw requests on a DriverPort and the 64-byte packet exchange.
//
// Result conventions are the driver layer's: OpenDevice/CloseDevice 1/0; Transfer 0, -1 (failed),
// -2 (no buffer), -3 (no handle); ReceivePacket/SendPacket 0, 10 (no handle), 12 (failed or short).
#pragma once

#include "device/DriverPort.h"

#include <cstddef>
#include <cstdint>

namespace tovira {

// "\\.\TovKX400-n" into a buffer of `size` characters.
void FormatDevicePath(char* out, std::size_t size, const char* baseName, int deviceNumber);

int OpenDevice(DriverPort& port, DeviceHandle* handle, const char* path);
int CloseDevice(DriverPort& port, DeviceHandle* handle);

// codeFlag 0: 0x22204E, 1: 0x222051.
int Transfer(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer,
             std::uint32_t* returned, int codeFlag);
// The frame-data variant on 0x2220A9.
int TransferFrame(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length,
                  void* buffer, std::uint32_t* returned);

int ReceivePacket(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer);
int SendPacket(DriverPort& port, DeviceHandle handle, std::uint32_t pipe, std::uint32_t length, void* buffer);
// The 44-byte block through 0x2220A0; nonzero on success, 0 for a null handle.
int SendSettingBlock(DriverPort& port, DeviceHandle handle, const void* block);

} // namespace tovira
