// The virtual camera: the Z400KX and its kernel driver, modelled at the DeviceIoControl level.
//
// It serves the device files "\\.\TovKX400-n" of the slots it was given, accepts exactly the driver's
// four control codes with a 4-byte pipe number and the pipe's direction, answers 64-byte command
// packets with an acknowledgement and then the answer on pipe 1, keeps a sensor register file, a
// serial ROM and an I/O-port byte per camera, and makes frames from what the library programmed.
// Every request is logged so that tests can check the bytes the library sent.
//
// Portable: no Windows header. Thread-safe: the transfer thread and command threads use it at once.
#pragma once

#include "device/DriverPort.h"
#include "sim/VirtualCamera.h"

#include <cstdint>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tovira {

// One request as the driver saw it.
struct DriverRequest {
  enum class Kind { Open, Control, Close };
  Kind kind = Kind::Control;
  int slot = -1;                 // camera slot, -1 for a path that names none
  std::string path;              // Open only
  bool ok = false;               // what the driver reported
  std::uint32_t code = 0;        // Control only
  std::uint32_t pipe = 0xFFFFFFFF; // transfer codes: the pipe number of the input
  std::uint32_t inLength = 0;
  std::uint32_t outLength = 0;
  std::uint32_t returned = 0;
  std::vector<std::uint8_t> data; // command packets (pipe 0) and setting blocks: the bytes sent
};

class VirtualDriver : public DriverPort {
public:
  explicit VirtualDriver(std::vector<int> slots = {0}, Pace pace = Pace::Fast);
  ~VirtualDriver() override;

  // From the DLL's environment values (null when unset): "0,2", "sensor"/"fast", frames. Returns null
  // when `cameras` lists no valid slot.
  static std::shared_ptr<VirtualDriver> fromEnvironment(const char* cameras, const char* pace,
                                                        const char* unplugAfter);

  DeviceHandle Open(const char* path) override;
  bool Control(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
               std::uint32_t outLength, std::uint32_t* returned) override;
  void Close(DeviceHandle handle) override;

  // The camera in a slot (null when the slot is not served).
  VirtualCamera* camera(int slot);
  const std::vector<int>& slots() const { return slots_; }

  // Faults of the driver side.
  void setOpenFails(bool fail);                 // every open fails (as with no driver loaded)
  void failNextReplies(int count);              // the next `count` pipe-1 reads fail outright
  void shortNextReplies(int count);             // the next `count` pipe-1 reads move 63 bytes

  // The request log (every request, in order) and its decoded views.
  std::vector<DriverRequest> log() const;
  void clearLog();
  void setLogging(bool on);                     // on by default; frame reads are logged without data
  // Sensor register writes (command 0x04) in the order the camera received them: address, value.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> registerWrites(int slot = -1) const;
  // Command codes (byte 0) of the packets sent on pipe 0 with the command code, in order.
  std::vector<std::uint8_t> commandCodes(int slot = -1) const;
  // Number of open handles (tests check that commands close what they open).
  int openHandles() const;

private:
  int slotOf(DeviceHandle handle) const; // -1 when not an open handle; needs lock_
  void record(DriverRequest&& request);   // needs lock_

  std::vector<int> slots_;
  std::vector<std::unique_ptr<VirtualCamera>> cameras_; // index = slot, null when not served
  mutable std::mutex lock_;                              // handles, log and faults
  std::map<std::uintptr_t, int> handles_; // open handle value -> slot
  std::uintptr_t nextHandle_ = 0x1000;
  std::vector<DriverRequest> log_;
  bool logging_ = true;
  bool openFails_ = false;
  int failReplies_ = 0;
  int shortReplies_ = 0;
};

} // namespace tovira
