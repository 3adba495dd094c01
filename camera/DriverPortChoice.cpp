// Which driver port the process uses: the real driver, or virtual cameras when TOVIRA_VIRTUAL_CAMERAS
// lists device numbers. Chosen here, above the device layer, so nothing below knows that a camera may be
// virtual; tests that link the library install a port of their own.

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "device/DriverPort.h"
#include "device/Win32DriverPort.h"
#include "output/AviWriter.h"
#include "sim/VirtualDriver.h"

namespace tovira {

namespace {

std::mutex portLock;
std::shared_ptr<DriverPort> installedPort;

std::shared_ptr<DriverPort> portFromEnvironment() {
  // Decided once per process: every device object of every instance then sees the same cameras.
  static const std::shared_ptr<DriverPort> port = [] {
    std::shared_ptr<DriverPort> p = VirtualDriver::fromEnvironment(
        std::getenv("TOVIRA_VIRTUAL_CAMERAS"), std::getenv("TOVIRA_VIRTUAL_PACE"),
        std::getenv("TOVIRA_VIRTUAL_UNPLUG_AFTER"));
    if (!p) return std::shared_ptr<DriverPort>(std::make_shared<Win32DriverPort>());
    // With virtual cameras only (a test set-up), TOVIRA_TEST_AVI_RIFF_LIMIT lowers the RIFF limit of AVI
    // files so that tests reach the large-file layout with small frames.
    if (const char* limit = std::getenv("TOVIRA_TEST_AVI_RIFF_LIMIT"))
      AviWriter::SetRiffLimitForTesting(std::strtoull(limit, nullptr, 10));
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
