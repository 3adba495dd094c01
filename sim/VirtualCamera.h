// One virtual Z400KX: sensor registers, serial ROM, I/O port, command handling and frame making.
// Portable; VirtualDriver owns one per served slot and serialises commands per camera.
#pragma once

#include "sim/SensorModel.h"
#include "sim/TestScene.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tovira {

enum class Pace { Sensor, Fast };

class VirtualCamera {
public:
  explicit VirtualCamera(int slot, Pace pace = Pace::Fast);

  int slot() const { return slot_; }

  // ---- Command side (called by VirtualDriver) ----
  // A 64-byte command packet on pipe 0. Prepares the two replies (acknowledgement, answer).
  void command(const std::uint8_t* packet);
  // A 64-byte read on pipe 1: the acknowledgement first, then the answer; afterwards acknowledgements.
  void reply(std::uint8_t* packet);
  // The setting block of code 0x2220A0.
  void driverSetting(const std::uint8_t* block, std::uint32_t length);
  // The frame trigger (64 bytes on pipe 0 with the reply code).
  void trigger();
  // A device handle was opened: a stream starts from an idle sensor.
  void opened();
  // A pipe-2 read of `length` bytes. Returns the bytes delivered: the whole transfer when `length`
  // equals it, fewer otherwise (as a short USB transfer); -1 when the camera is unplugged.
  long long readFrame(std::uint8_t* out, std::uint32_t length);

  // ---- State tests inspect and set ----
  SensorModel& sensor() { return sensor_; }
  std::uint8_t srom(int address) const;
  void setSrom(int address, std::uint8_t value);
  std::uint8_t ioPort() const;
  void setInputs(bool input3, bool input4); // bits 3 and 4 of the I/O-port byte
  std::uint32_t transferLength() const;     // last command 0x09, pixel positions
  int transferWidth() const;                // last command 0x0A: 1 for 16-bit
  int startupCount() const;                 // command 0x06 received
  int driverSettingValue() const;           // value of the last setting block (-1 before any)
  std::uint32_t framesDelivered() const;    // frames read completely
  std::uint32_t framesStarted() const;      // frame counter of the next frame

  // ---- Faults and pacing ----
  void setPace(Pace pace);
  Pace pace() const;
  void unplugAfter(int frames);   // after this many delivered frames opens and reads fail (-1: never)
  void unplug();                  // at once
  bool unplugged() const;
  void shortFrameReads(int count); // the next `count` frame reads deliver one byte less
  void setSlowReadMs(int ms);      // each frame read takes at least this long in addition

  // Packets that broke the protocol (unknown command, wrong fixed bytes), described; empty when all
  // was well.
  std::vector<std::string> violations() const;

  // Frame time the sensor would take with the programmed registers, in microseconds: the frame length,
  // or the exposure and one more line when the exposure is the longer.
  double frameTimeMicros() const;

  // Where the first leading line reports what the frame was taken with (after the frame counter at
  // positions 0..3): exposure lines at 4..5 (least significant first), the global gain code at 6, the
  // colour gain codes (green 1, blue, red, green 2) at 7..10, and kReportMarker at 11.
  static constexpr int kReportPosition = 4;
  static constexpr std::uint8_t kReportMarker = 0x5E;

private:
  void fillFrame(std::uint8_t* out, bool wide, std::uint32_t frameNumber, const SensorReadout& r);
  static double frameTimeMicros(const SensorReadout& r);

  const int slot_;
  mutable std::mutex lock_;
  SensorModel sensor_;
  std::uint8_t srom_[256] = {};
  std::uint8_t ioPort_ = 0;
  std::uint8_t replies_[2][64] = {};
  int repliesPending_ = 0;
  std::uint32_t transferLength_ = 0;
  int transferWidth_ = 0;
  int startupCount_ = 0;
  int settingValue_ = -1;
  std::uint32_t frameCounter_ = 0;
  std::uint32_t delivered_ = 0;
  bool triggered_ = false;
  // Exposure and gains of the frame whose integration is under way: while frames follow each other
  // (triggered reads), a frame integrates while the one before it is read out, so it takes the values
  // in force when that one started; a change reaches the frame after the one in flight.
  bool continuous_ = false;
  SensorReadout integrating_;
  Pace pace_;
  int unplugAfter_ = -1;
  std::atomic<bool> unplugged_{false};
  int shortReads_ = 0;
  int slowReadMs_ = 0;
  double lastFrameEndMicros_ = 0;
  TestScene scene_;
  std::vector<std::string> violations_;
};

} // namespace tovira
