// The one seam between the library and the camera's kernel driver.
//
// Everything the library sends to a camera goes through a DriverPort at the level of DeviceIoControl:
// open a device file by path, issue one control request, close. Win32DriverPort talks to the real
// driver; tovira::VirtualDriver (sim/) models the camera and its driver. The transport above this
// interface (device/Transport.h) is the same for both, so every byte takes the same path.
//
// This header includes no Windows header: the virtual camera implements it on the host too.
#pragma once

#include <cstdint>
#include <memory>

namespace tovira {

// A device handle as the system hands it out. Null and the all-ones value (INVALID_HANDLE_VALUE)
// both mean "no device".
using DeviceHandle = void*;

inline DeviceHandle invalidDeviceHandle() { return reinterpret_cast<DeviceHandle>(~std::uintptr_t{0}); }
inline bool isValidDeviceHandle(DeviceHandle h) { return h != nullptr && h != invalidDeviceHandle(); }

// Control codes of the camera driver (device type 0x22, access 0).
enum : std::uint32_t {
  kCodeReadPipe = 0x22204E,      // function 0x813, direct out: reply packets (pipe 1), frame trigger (pipe 0)
  kCodeWritePipe = 0x222051,     // function 0x814, direct in: command packets (pipe 0), frame data (pipe 2)
  kCodeFrameRead = 0x2220A9,     // function 0x82A, direct in: frame data (pipe 2), alternate code
  kCodeDriverSetting = 0x2220A0, // function 0x828, buffered: 44-byte setting block, no output
};

// Pipes of the camera, named by a 4-byte little-endian number that is the whole input of a transfer.
enum : std::uint32_t {
  kPipeCommand = 0, // library to camera: command packets and the frame trigger
  kPipeReply = 1,   // camera to library: reply packets
  kPipeFrame = 2,   // camera to library: one whole frame transfer per request
};

constexpr std::uint32_t kPacketBytes = 64;
constexpr std::uint32_t kSettingBlockBytes = 44;

class DriverPort {
public:
  virtual ~DriverPort() = default;

  // Opens the device file; null or invalidDeviceHandle() on failure.
  virtual DeviceHandle Open(const char* path) = 0;

  // One synchronous DeviceIoControl-shaped request. Returns the system's success flag; *returned
  // receives the number of bytes moved into or out of `out` (0 on failure).
  virtual bool Control(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inLength,
                       void* out, std::uint32_t outLength, std::uint32_t* returned) = 0;

  virtual void Close(DeviceHandle handle) = 0;
};

// The process's port, chosen above this layer (camera/DriverPortChoice.cpp): the real driver's, or
// virtual cameras. Device objects take a reference when they are constructed and keep it for their
// lifetime.
std::shared_ptr<DriverPort> GetDriverPort();

// White-box tests: replaces the process's port for device objects constructed afterwards and returns
// the previous one. Passing null restores the choice from the environment.
std::shared_ptr<DriverPort> InstallDriverPort(std::shared_ptr<DriverPort> port);

} // namespace tovira
