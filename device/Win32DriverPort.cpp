#include "device/Win32DriverPort.h"

#include "sim/VirtualDriver.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>

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

namespace {

std::mutex portLock;
std::shared_ptr<DriverPort> installedPort;

std::shared_ptr<DriverPort> portFromEnvironment() {
  // Decided once per process: every device object of every instance then sees the same cameras.
  static const std::shared_ptr<DriverPort> port = [] {
    std::shared_ptr<DriverPort> p = VirtualDriver::fromEnvironment(
        std::getenv("TOVIRA_VIRTUAL_CAMERAS"), std::getenv("TOVIRA_VIRTUAL_PACE"),
        std::getenv("TOVIRA_VIRTUAL_UNPLUG_AFTER"));
    if (!p) p = std::make_shared<Win32DriverPort>();
    return p;
  }();
  return port;
}

} // namespace

std::shared_ptr<DriverPort> GetDriverPort() {
  {
    std::lock_guard<std::mutex> guard(portLock);
    if (installedPort) return installedPort;
  }
  return portFromEnvironment();
}

std::shared_ptr<DriverPort> InstallDriverPort(std::shared_ptr<DriverPort> port) {
  std::lock_guard<std::mutex> guard(portLock);
  std::shared_ptr<DriverPort> previous = std::move(installedPort);
  installedPort = std::move(port);
  return previous;
}

} // namespace tovira
