#include "sim/VirtualDriver.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace tovira {

namespace {

constexpr char kPathPrefix[] = "\\\\.\\TovKX400-";

// The slot a path names: "\\.\TovKX400-n", n decimal without leading zeros; -1 otherwise.
int slotFromPath(const char* path) {
  const std::size_t prefix = sizeof kPathPrefix - 1;
  if (path == nullptr || std::strncmp(path, kPathPrefix, prefix) != 0) return -1;
  const char* digits = path + prefix;
  if (*digits == '\0' || (digits[0] == '0' && digits[1] != '\0')) return -1;
  int n = 0;
  for (const char* p = digits; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 1000) return -1;
    n = n * 10 + (*p - '0');
  }
  return n;
}

std::uint32_t littleEndian32(const void* p) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

} // namespace

VirtualDriver::VirtualDriver(std::vector<int> slots, Pace pace) : slots_(std::move(slots)) {
  for (int s : slots_) {
    if (s < 0 || s > 63) continue;
    if (cameras_.size() <= std::size_t(s)) cameras_.resize(std::size_t(s) + 1);
    if (!cameras_[std::size_t(s)]) cameras_[std::size_t(s)] = std::make_unique<VirtualCamera>(s, pace);
  }
}

VirtualDriver::~VirtualDriver() = default;

std::shared_ptr<VirtualDriver> VirtualDriver::fromEnvironment(const char* cameras, const char* pace,
                                                              const char* unplugAfter) {
  if (cameras == nullptr) return nullptr;
  std::vector<int> slots;
  std::string list(cameras);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty() && item.size() < 3 && item.find_first_not_of("0123456789") == std::string::npos)
      slots.push_back(std::atoi(item.c_str()));
    start = end + 1;
  }
  if (slots.empty()) return nullptr;
  const Pace p = pace != nullptr && std::strcmp(pace, "fast") == 0 ? Pace::Fast : Pace::Sensor;
  auto driver = std::make_shared<VirtualDriver>(slots, p);
  // A process that streams for hours must not collect every request.
  driver->setLogging(false);
  if (unplugAfter != nullptr && *unplugAfter != '\0') {
    const int frames = std::atoi(unplugAfter);
    for (int s : slots)
      if (VirtualCamera* c = driver->camera(s)) c->unplugAfter(frames);
  }
  return driver;
}

VirtualCamera* VirtualDriver::camera(int slot) {
  if (slot < 0 || std::size_t(slot) >= cameras_.size()) return nullptr;
  return cameras_[std::size_t(slot)].get();
}

int VirtualDriver::slotOf(DeviceHandle handle) const {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? -1 : it->second;
}

void VirtualDriver::record(DriverRequest&& request) {
  if (logging_) log_.push_back(std::move(request));
}

DeviceHandle VirtualDriver::Open(const char* path) {
  const int slot = slotFromPath(path);
  VirtualCamera* cam = camera(slot);
  std::lock_guard<std::mutex> guard(lock_);
  DriverRequest r;
  r.kind = DriverRequest::Kind::Open;
  r.slot = cam ? slot : -1;
  r.path = path ? path : "";
  DeviceHandle handle = invalidDeviceHandle();
  if (cam != nullptr && !openFails_ && !cam->unplugged()) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = slot;
    handle = reinterpret_cast<DeviceHandle>(value);
    r.ok = true;
    cam->opened();
  }
  record(std::move(r));
  return handle;
}

void VirtualDriver::Close(DeviceHandle handle) {
  std::lock_guard<std::mutex> guard(lock_);
  DriverRequest r;
  r.kind = DriverRequest::Kind::Close;
  r.slot = slotOf(handle);
  r.ok = handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
  record(std::move(r));
}

bool VirtualDriver::Control(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inLength,
                            void* out, std::uint32_t outLength, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  DriverRequest r;
  r.code = code;
  r.inLength = inLength;
  r.outLength = outLength;
  VirtualCamera* cam = nullptr;
  bool failReply = false, shortReply = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    r.slot = slotOf(handle);
    cam = camera(r.slot);
    const bool transferCode = code == kCodeReadPipe || code == kCodeWritePipe || code == kCodeFrameRead;
    if (transferCode && in != nullptr && inLength == 4) r.pipe = littleEndian32(in);
    if (cam == nullptr || cam->unplugged()) {
      record(std::move(r));
      return false;
    }
    if (code == kCodeReadPipe && r.pipe == kPipeReply) {
      if (failReplies_ > 0) {
        --failReplies_;
        failReply = true;
      } else if (shortReplies_ > 0) {
        --shortReplies_;
        shortReply = true;
      }
    }
    if (r.pipe == kPipeCommand && out != nullptr && outLength == kPacketBytes)
      r.data.assign(static_cast<const std::uint8_t*>(out), static_cast<const std::uint8_t*>(out) + kPacketBytes);
    if (code == kCodeDriverSetting && in != nullptr && inLength == kSettingBlockBytes)
      r.data.assign(static_cast<const std::uint8_t*>(in), static_cast<const std::uint8_t*>(in) + inLength);
  }

  // The camera's work happens outside the driver lock: a frame read may take a frame time.
  std::uint32_t moved = 0;
  bool ok = false;
  if (code == kCodeDriverSetting) {
    if (in != nullptr && inLength == kSettingBlockBytes && outLength == 0) {
      cam->driverSetting(static_cast<const std::uint8_t*>(in), inLength);
      ok = true;
    }
  } else if (r.pipe == kPipeCommand && out != nullptr && outLength == kPacketBytes) {
    const auto* packet = static_cast<const std::uint8_t*>(out);
    if (code == kCodeWritePipe) {
      cam->command(packet);
      ok = true;
      moved = kPacketBytes;
    } else if (code == kCodeReadPipe && packet[0] == 0x02) {
      // The frame trigger travels to the camera with the reply code.
      cam->trigger();
      ok = true;
      moved = kPacketBytes;
    }
  } else if (r.pipe == kPipeReply && code == kCodeReadPipe && out != nullptr && outLength == kPacketBytes) {
    if (!failReply) {
      std::uint8_t packet[kPacketBytes];
      cam->reply(packet);
      moved = shortReply ? kPacketBytes - 1 : kPacketBytes;
      std::memcpy(out, packet, moved);
      ok = true;
    }
  } else if (r.pipe == kPipeFrame && (code == kCodeWritePipe || code == kCodeFrameRead) && out != nullptr) {
    const long long got = cam->readFrame(static_cast<std::uint8_t*>(out), outLength);
    if (got >= 0) {
      moved = std::uint32_t(got);
      ok = true;
    }
  }
  if (returned != nullptr) *returned = moved;
  r.ok = ok;
  r.returned = moved;
  std::lock_guard<std::mutex> guard(lock_);
  record(std::move(r));
  return ok;
}

void VirtualDriver::setOpenFails(bool fail) {
  std::lock_guard<std::mutex> guard(lock_);
  openFails_ = fail;
}
void VirtualDriver::failNextReplies(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  failReplies_ = count;
}
void VirtualDriver::shortNextReplies(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  shortReplies_ = count;
}
std::vector<DriverRequest> VirtualDriver::log() const {
  std::lock_guard<std::mutex> guard(lock_);
  return log_;
}
void VirtualDriver::clearLog() {
  std::lock_guard<std::mutex> guard(lock_);
  log_.clear();
}
void VirtualDriver::setLogging(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  logging_ = on;
}
int VirtualDriver::openHandles() const {
  std::lock_guard<std::mutex> guard(lock_);
  return int(handles_.size());
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> VirtualDriver::registerWrites(int slot) const {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> writes;
  std::lock_guard<std::mutex> guard(lock_);
  for (const DriverRequest& r : log_) {
    if (r.kind != DriverRequest::Kind::Control || r.code != kCodeWritePipe || r.pipe != kPipeCommand || !r.ok)
      continue;
    if ((slot >= 0 && r.slot != slot) || r.data.size() != kPacketBytes || r.data[0] != 0x04) continue;
    writes.emplace_back(std::uint16_t(r.data[1] << 8 | r.data[2]), std::uint16_t(r.data[3] << 8 | r.data[4]));
  }
  return writes;
}

std::vector<std::uint8_t> VirtualDriver::commandCodes(int slot) const {
  std::vector<std::uint8_t> codes;
  std::lock_guard<std::mutex> guard(lock_);
  for (const DriverRequest& r : log_)
    if (r.kind == DriverRequest::Kind::Control && r.code == kCodeWritePipe && r.pipe == kPipeCommand && r.ok &&
        (slot < 0 || r.slot == slot) && !r.data.empty())
      codes.push_back(r.data[0]);
  return codes;
}

} // namespace tovira
