#include "device/TVRSdkLib.h"

#include "device/Transport.h"
#include "device/UnpackFrame.h"

#include <algorithm>
#include <cstring>
#include <new>

using tovira::DeviceHandle;

namespace {

// One device-file handle for the length of one command: opened by the device object's path, closed
// on every way out.
class CommandHandle {
public:
  CommandHandle(tovira::DriverPort& port, const char* path) : port_(port) {
    open_ = tovira::OpenDevice(port_, &handle_, path) == 1;
  }
  ~CommandHandle() { tovira::CloseDevice(port_, &handle_); }
  CommandHandle(const CommandHandle&) = delete;
  CommandHandle& operator=(const CommandHandle&) = delete;

  bool open() const { return open_; }
  DeviceHandle get() const { return handle_; }

  // Command packet on pipe 0; 0 on success.
  int send(std::uint8_t* packet) { return tovira::SendPacket(port_, handle_, tovira::kPipeCommand, tovira::kPacketBytes, packet); }
  // Two reply reads into the same buffer: the first brings the acknowledgement, the second the answer;
  // only the second read's result counts.
  int receiveAnswer(std::uint8_t* reply) {
    tovira::ReceivePacket(port_, handle_, tovira::kPipeReply, tovira::kPacketBytes, reply);
    return tovira::ReceivePacket(port_, handle_, tovira::kPipeReply, tovira::kPacketBytes, reply);
  }

private:
  tovira::DriverPort& port_;
  DeviceHandle handle_ = nullptr;
  bool open_ = false;
};

// Initial register table of the sensor, written in this order (0x0306 and 0x3016 twice: the second
// value stays).
constexpr std::uint16_t kInitialRegisters[][2] = {
    {0x0300, 0x0004}, {0x0302, 0x0002}, {0x0304, 0x0001}, {0x0306, 0x0030}, {0x0308, 0x0008},
    {0x030A, 0x0002}, {0x3016, 0x0122}, {0x316C, 0x0429}, {0x3174, 0x8000}, {0x3E40, 0xDC05},
    {0x3E42, 0x6E22}, {0x3E44, 0xDC22}, {0x3E46, 0xFF00}, {0x3ED4, 0xF998}, {0x3ED6, 0x9789},
    {0x3EDE, 0xE430}, {0x3EE0, 0xA43F}, {0x3EE2, 0xA4B7}, {0x3EEC, 0x1C1C}, {0x31AE, 0x0301},
    {0x301A, 0x10DC}, {0x3040, 0x0241}, {0x0342, 0x0EC0}, {0x0340, 0x0B4C}, {0x3010, 0x0048},
    {0x3014, 0x0228}, {0x3170, 0x0071}, {0x0306, 0x0010}, {0x3016, 0x0121},
};

bool isColorGainRegister(int reg) { return reg == 0x3056 || reg == 0x3058 || reg == 0x305A || reg == 0x305C; }

std::uint16_t gainValue(int gain) { return std::uint16_t(0x1100 | std::min<unsigned>(std::uint16_t(gain), 127u)); }

} // namespace

// ---- Construction ------------------------------------------------------------------------------

CTVRSdkLib::CTVRSdkLib() : port_(tovira::GetDriverPort()) {}

CTVRSdkLib::~CTVRSdkLib() {
  // The transfer thread works on this object; it must be gone before the object is.
  StopStreaming();
  ReleaseFrameBuffers();
  tovira::CloseDevice(*port_, &singleHandle_);
}

void CTVRSdkLib::buildPath(int n) { tovira::FormatDevicePath(devicePath_, sizeof devicePath_, baseName_, n); }

// ---- Device list and selection -------------------------------------------------------------------

int CTVRSdkLib::ScanDevices() {
  int found = 0;
  for (int n = 0; n < kMaxDevices; ++n) {
    char path[128];
    tovira::FormatDevicePath(path, sizeof path, baseName_, n);
    DeviceHandle h = nullptr;
    devicePresent_[n] = tovira::OpenDevice(*port_, &h, path);
    tovira::CloseDevice(*port_, &h);
    found += devicePresent_[n];
  }
  deviceNumber_ = 0;
  return found;
}

int CTVRSdkLib::GetMaxDeviceCount() const { return kMaxDevices; }

int CTVRSdkLib::IsDevicePresent(int n) const { return n >= 0 && n < kMaxDevices ? devicePresent_[n] : 0; }

int CTVRSdkLib::RecheckDevice(int n) {
  if (n < 0 || n >= kMaxDevices) return 0;
  char path[128];
  tovira::FormatDevicePath(path, sizeof path, baseName_, n);
  DeviceHandle h = nullptr;
  devicePresent_[n] = tovira::OpenDevice(*port_, &h, path);
  tovira::CloseDevice(*port_, &h);
  return devicePresent_[n];
}

int CTVRSdkLib::GetDeviceNumber() const { return deviceNumber_; }

int CTVRSdkLib::SelectDevice(int n) {
  // Eight slots, 0..7.
  if (unsigned(n) >= unsigned(kMaxDevices)) return 22;
  deviceNumber_ = n;
  buildPath(n);
  // The single-frame read's handle belongs to the previous device.
  {
    std::lock_guard<std::mutex> guard(bufferLock_);
    tovira::CloseDevice(*port_, &singleHandle_);
  }
  SetTransferWidth(0);
  SendStartupCommand();
  LoadInitialRegisters();
  SetCaptureWindow(0, 0, kFullWidth, kFullHeight, 0);
  return 0;
}

// ---- Sensor set-up -----------------------------------------------------------------------------------

int CTVRSdkLib::LoadInitialRegisters() {
  for (const auto& r : kInitialRegisters) WriteSensorRegister(r[0], r[1]);
  return 1;
}

int CTVRSdkLib::SetCaptureWindow(int x, int y, int width, int height, int code) {
  if (x < 0 || y < 0 || width < 4 || height < 3 || x + width > kFullWidth || y + height > kFullHeight ||
      unsigned(code) > 20u)
    return 1;
  windowX_ = x;
  windowY_ = y;
  windowWidth_ = width;
  windowHeight_ = height;

  const int blanking = width < 1080 ? 1192 - width : 112;
  std::uint16_t readMode;
  int outWidth, outHeight, lineLength;
  switch (code) {
  case 0:
    readMode = 0x0241, outWidth = width, outHeight = height, lineLength = blanking + width;
    break;
  case 1:
    readMode = 0x02C3, outWidth = width / 2, outHeight = height / 2;
    lineLength = blanking + std::max(1080, outWidth);
    break;
  case 2:
    readMode = 0x03C7, outWidth = width / 4, outHeight = height / 4;
    lineLength = blanking + std::max(1080, outWidth);
    break;
  case 16:
    readMode = 0x36C3, outWidth = width / 2, outHeight = height / 2;
    lineLength = std::max(blanking + outWidth, 3160 - blanking);
    break;
  case 17:
    readMode = 0x0FC7, outWidth = width / 4, outHeight = height / 4;
    lineLength = std::max(blanking + outWidth, 2576 - blanking);
    break;
  default:
    readMode = 0x0200, outWidth = width, outHeight = height, lineLength = blanking + width;
    break;
  }
  const int frameLength = outHeight + 143;

  // A running stream is stopped for the change and started again once the sensor has the new window,
  // so no buffer in use is freed and no frame of the old window lands in the new geometry.
  const bool restart = IsStreaming();
  if (restart) StopStreaming();

  // A rejected geometry keeps the previous buffers; the result is not reported by the window.
  BuildFrameBuffers(lineLength, 5, outWidth, frameLength, 2, outHeight, kRingCount);

  WriteSensorRegister(0x0104, 1); // hold: the group below takes effect at once on release
  WriteSensorRegister(0x3040, readMode);
  readModeShadow_ = readMode;
  WriteSensorRegister(0x0344, std::uint16_t(x + kSensorColumnOrigin));
  WriteSensorRegister(0x0348, std::uint16_t(x + width + kSensorColumnOrigin - 1));
  WriteSensorRegister(0x0346, std::uint16_t(y + kSensorRowOrigin));
  WriteSensorRegister(0x034A, std::uint16_t(y + height + kSensorRowOrigin - 1));
  WriteSensorRegister(0x0400, 0);
  WriteSensorRegister(0x0404, 16);
  WriteSensorRegister(0x034C, std::uint16_t(outWidth));
  WriteSensorRegister(0x034E, std::uint16_t(outHeight));
  WriteSensorRegister(0x0342, std::uint16_t(lineLength));
  WriteSensorRegister(0x0340, std::uint16_t(frameLength));
  std::uint16_t control = 0;
  ReadSensorRegister(0x301A, &control);
  WriteSensorRegister(0x301A, std::uint16_t(control | 0x0002));
  WriteSensorRegister(0x0104, 0);
  if (restart) StartStreaming();
  return 0;
}

int CTVRSdkLib::SetHalfClock(int on) {
  const std::uint16_t divider = on != 0 ? 4 : 2;
  WriteSensorRegister(0x0302, divider);
  return WriteSensorRegister(0x030A, divider);
}

int CTVRSdkLib::GetHalfClock(int* on) {
  std::uint16_t v = 0;
  if (!ReadSensorRegister(0x0302, &v)) return 0;
  if (on != nullptr) *on = v == 4 ? 1 : 0;
  return 1;
}

namespace {
int setMirrorBit(CTVRSdkLib& dev, std::uint16_t& shadow, std::uint16_t bit, int on) {
  const std::uint16_t v = on == 1 ? std::uint16_t(shadow | bit) : std::uint16_t(shadow & ~bit);
  dev.WriteSensorRegister(0x3040, v);
  shadow = v;
  // The sensor takes the read mode at a frame boundary: check after a while and write once more.
  Sleep(100);
  std::uint16_t now = 0;
  if (dev.ReadSensorRegister(0x3040, &now) && now != shadow) {
    Sleep(100);
    dev.WriteSensorRegister(0x3040, shadow);
  }
  return 0;
}
} // namespace

int CTVRSdkLib::SetMirrorH(int on) { return setMirrorBit(*this, readModeShadow_, 0x4000, on); }
int CTVRSdkLib::SetMirrorV(int on) { return setMirrorBit(*this, readModeShadow_, 0x8000, on); }

int CTVRSdkLib::GetMirrorH() {
  std::uint16_t v = 0;
  return ReadSensorRegister(0x0100, &v) ? (v & 0x01) : 0;
}

int CTVRSdkLib::GetMirrorV() {
  std::uint16_t v = 0;
  return ReadSensorRegister(0x0100, &v) ? ((v >> 1) & 0x01) : 0;
}

// ---- Gains and exposure ----------------------------------------------------------------------------

int CTVRSdkLib::SetColorGain(int reg, int gain) {
  if (!isColorGainRegister(reg)) return 0;
  return WriteSensorRegister(std::uint16_t(reg), gainValue(gain));
}

int CTVRSdkLib::GetColorGain(int reg, int* gain) {
  if (!isColorGainRegister(reg)) return 0;
  std::uint16_t v = 0;
  const int ok = ReadSensorRegister(std::uint16_t(reg), &v);
  if (ok && gain != nullptr) *gain = v & 0x7F;
  return ok;
}

int CTVRSdkLib::SetGlobalGain(int gain) { return WriteSensorRegister(0x305E, gainValue(gain)); }

int CTVRSdkLib::GetGlobalGain() {
  std::uint16_t v = 0;
  return ReadSensorRegister(0x305E, &v) ? (v & 0x7F) : 0;
}

int CTVRSdkLib::SetExposure(int lines) {
  const unsigned e = lines == 0 ? 1u : (unsigned(lines) & 0xFFFFu);
  const long long fine = (static_cast<long long>(windowWidth_) + 60) * e * 2 / 512 + 159;
  WriteSensorRegister(0x3166, std::uint16_t(std::min<long long>(65535, fine)));
  return WriteSensorRegister(0x0202, std::uint16_t(e));
}

int CTVRSdkLib::GetExposure(int* lines) {
  std::uint16_t v = 0;
  if (!ReadSensorRegister(0x0202, &v)) return 0;
  if (lines != nullptr) *lines = v;
  return 1;
}

int CTVRSdkLib::GetMaxExposure() const { return 0xFFFFF; }

int CTVRSdkLib::ConfigureCaptureMode(int mode, int select) {
  std::uint8_t port = 0;
  if (!ReadIoPort(&port)) port = 0;
  port = mode == 1 ? std::uint8_t(port | 0x20) : std::uint8_t(port & ~0x20);
  WriteIoPort(port);
  WriteSensorRegister(0x3046, 0);
  WriteSensorRegister(0x3048, 0x0020);
  WriteSensorRegister(0x3162, 0x009F);
  return WriteSensorRegister(0x3160, select == 1 ? 4 : 0);
}

// ---- Pass-through ----------------------------------------------------------------------------------

int CTVRSdkLib::WriteSensorRegister(std::uint16_t address, std::uint16_t value) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t packet[tovira::kPacketBytes] = {0x04, std::uint8_t(address >> 8), std::uint8_t(address),
                                               std::uint8_t(value >> 8), std::uint8_t(value)};
  if (dev.send(packet) != 0) return 0;
  dev.receiveAnswer(packet);
  return 1;
}

int CTVRSdkLib::ReadSensorRegister(std::uint16_t address, std::uint16_t* value) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  // Bytes 5..63 are zero: the camera checks the whole read packet.
  std::uint8_t packet[tovira::kPacketBytes] = {0x0C, std::uint8_t(address >> 8), std::uint8_t(address), 0x88, 0x88};
  if (dev.send(packet) != 0) return 0;
  const int answered = dev.receiveAnswer(packet);
  if (value != nullptr) *value = std::uint16_t(packet[0] << 8 | packet[1]);
  return answered == 0 ? 1 : 0;
}

int CTVRSdkLib::ReadSromByte(std::uint8_t address, std::uint8_t* byte) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t packet[tovira::kPacketBytes] = {0x21, address};
  if (dev.send(packet) == 0) {
    dev.receiveAnswer(packet);
    if (byte != nullptr) *byte = packet[0];
  }
  Sleep(10); // the serial ROM wants its time before the handle goes
  return 1;
}

int CTVRSdkLib::WriteSromByte(std::uint8_t address, std::uint8_t byte) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t packet[tovira::kPacketBytes] = {0x20, address, byte};
  if (dev.send(packet) == 0) dev.receiveAnswer(packet);
  Sleep(10);
  return 1;
}

int CTVRSdkLib::ReadSromId(int index, std::uint8_t* byte) {
  const std::uint8_t i = std::uint8_t(index);
  if (i > 7) return 0;
  return ReadSromByte(std::uint8_t(i + 8), byte);
}

int CTVRSdkLib::WriteSromId(int index, std::uint8_t byte) {
  const std::uint8_t i = std::uint8_t(index);
  if (i > 7) return 0;
  return WriteSromByte(std::uint8_t(i + 8), byte);
}

int CTVRSdkLib::ReadIoPort(std::uint8_t* byte) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t packet[tovira::kPacketBytes] = {0x29};
  if (dev.send(packet) != 0) return 0;
  if (dev.receiveAnswer(packet) != 0) return 0;
  if (byte != nullptr) *byte = packet[0];
  return 1;
}

int CTVRSdkLib::WriteIoPort(std::uint8_t byte) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t packet[tovira::kPacketBytes] = {0x28, byte};
  if (dev.send(packet) == 0) dev.receiveAnswer(packet);
  return 1;
}

int CTVRSdkLib::SetTransferWidth(int wide) {
  transferWidth_ = wide;
  CommandHandle dev(*port_, devicePath_);
  if (dev.open()) {
    std::uint8_t packet[tovira::kPacketBytes] = {0x0A, std::uint8_t(wide == 1 ? 1 : 0)};
    if (dev.send(packet) == 0) dev.receiveAnswer(packet);
  }
  return 1;
}

int CTVRSdkLib::SetTransferLength() {
  CommandHandle dev(*port_, devicePath_);
  if (dev.open()) {
    const std::uint32_t u = geometry_.transferLength;
    // The length travels least significant byte first.
    std::uint8_t packet[tovira::kPacketBytes] = {0x09, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
                                                 std::uint8_t(u >> 24)};
    if (dev.send(packet) == 0) dev.receiveAnswer(packet);
  }
  return 1;
}

void CTVRSdkLib::SendStartupCommand() {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return;
  std::uint8_t packet[tovira::kPacketBytes] = {0x06};
  if (dev.send(packet) == 0) dev.receiveAnswer(packet);
}

int CTVRSdkLib::SetDriverSetting(int value) {
  CommandHandle dev(*port_, devicePath_);
  if (!dev.open()) return 0;
  std::uint8_t block[tovira::kSettingBlockBytes] = {1, 0, 0, 0, std::uint8_t(value), std::uint8_t(value >> 8),
                                                    std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
  return tovira::SendSettingBlock(*port_, dev.get(), block);
}
