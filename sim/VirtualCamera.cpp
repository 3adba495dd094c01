#include "sim/VirtualCamera.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace tovira {

namespace {

constexpr std::uint8_t kAckMarker = 0xA5;
constexpr std::uint8_t kBlankingMarker = 0xB7; // blanking positions of every line
constexpr std::uint8_t kFillerMarker = 0xF1;   // after the last image line
constexpr int kFirstColumn = 5, kFirstLine = 2;

double nowMicros() {
  using namespace std::chrono;
  return double(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

VirtualCamera::VirtualCamera(int slot, Pace pace) : slot_(slot), pace_(pace) {
  // An erased serial ROM, with the grey calibration of a neutral camera: mode 0 at 5, gains and
  // offsets 128 at 8..15.
  std::memset(srom_, 0xFF, sizeof srom_);
  srom_[5] = 0;
  for (int a = 8; a < 16; ++a) srom_[a] = 128;
}

void VirtualCamera::command(const std::uint8_t* p) {
  std::lock_guard<std::mutex> guard(lock_);
  std::uint8_t answer[2] = {0, 0};
  char what[96];
  switch (p[0]) {
  case 0x04: // register write, address and value most significant byte first
    sensor_.write(std::uint16_t(p[1] << 8 | p[2]), std::uint16_t(p[3] << 8 | p[4]));
    break;
  case 0x0C: { // register read: 0x88, 0x88, then zeros
    bool clean = p[3] == 0x88 && p[4] == 0x88;
    for (int i = 5; i < 64; ++i) clean = clean && p[i] == 0;
    if (!clean) {
      std::snprintf(what, sizeof what, "register read of 0x%02X%02X with wrong fixed bytes", p[1], p[2]);
      violations_.push_back(what);
    }
    const std::uint16_t v = sensor_.read(std::uint16_t(p[1] << 8 | p[2]));
    answer[0] = std::uint8_t(v >> 8);
    answer[1] = std::uint8_t(v);
    break;
  }
  case 0x20: // serial-ROM write
    srom_[p[1]] = p[2];
    break;
  case 0x21: // serial-ROM read
    answer[0] = srom_[p[1]];
    break;
  case 0x28: // I/O port: bits 3 and 4 are inputs and keep what the outside drives
    ioPort_ = std::uint8_t((p[1] & ~0x18) | (ioPort_ & 0x18));
    break;
  case 0x29:
    answer[0] = ioPort_;
    break;
  case 0x09:
    transferLength_ = std::uint32_t(p[1]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]) << 16 |
                      std::uint32_t(p[4]) << 24;
    break;
  case 0x0A:
    if (p[1] > 1) {
      std::snprintf(what, sizeof what, "transfer width %u", p[1]);
      violations_.push_back(what);
    }
    transferWidth_ = p[1] == 1 ? 1 : 0;
    break;
  case 0x06:
    ++startupCount_;
    break;
  default:
    std::snprintf(what, sizeof what, "unknown command 0x%02X", p[0]);
    violations_.push_back(what);
    break;
  }
  // First read: an acknowledgement naming the command; second: the answer.
  std::memset(replies_, 0, sizeof replies_);
  replies_[0][0] = p[0];
  replies_[0][1] = kAckMarker;
  replies_[1][0] = answer[0];
  replies_[1][1] = answer[1];
  repliesPending_ = 2;
}

void VirtualCamera::reply(std::uint8_t* packet) {
  std::lock_guard<std::mutex> guard(lock_);
  if (repliesPending_ == 0) {
    std::memset(packet, 0, 64);
    return;
  }
  std::memcpy(packet, replies_[2 - repliesPending_], 64);
  --repliesPending_;
}

void VirtualCamera::driverSetting(const std::uint8_t* block, std::uint32_t length) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::uint32_t selector = std::uint32_t(block[0]) | block[1] << 8 | block[2] << 16 | std::uint32_t(block[3]) << 24;
  if (selector != 1) violations_.push_back("setting block selector is not 1");
  settingValue_ = int(std::uint32_t(block[4]) | block[5] << 8 | block[6] << 16 | std::uint32_t(block[7]) << 24);
}

void VirtualCamera::trigger() {
  std::lock_guard<std::mutex> guard(lock_);
  triggered_ = true;
}

void VirtualCamera::opened() {
  std::lock_guard<std::mutex> guard(lock_);
  continuous_ = false;
}

double VirtualCamera::frameTimeMicros() const { return frameTimeMicros(sensor_.readout()); }

double VirtualCamera::frameTimeMicros(const SensorReadout& r) {
  if (r.pixelClockHz <= 0) return 0;
  // An exposure longer than the frame holds the next readout back: the frame takes the exposure's
  // lines and one more.
  const int lines = std::max(r.frameLength, r.exposureLines + 1);
  return double(r.lineLength) * double(lines) / r.pixelClockHz * 1e6;
}

void VirtualCamera::fillFrame(std::uint8_t* out, bool wide, std::uint32_t frameNumber, const SensorReadout& r) {
  const std::vector<std::uint16_t>& picture = scene_.render(r, frameNumber);
  const std::size_t bytesPerPosition = wide ? 2 : 1;
  const std::size_t total = std::size_t(transferLength_) * bytesPerPosition;
  const std::size_t pitch = std::size_t(std::max(0, r.lineLength));
  const int width = std::min(r.outputWidth, std::max(0, r.lineLength - kFirstColumn));
  std::memset(out, kFillerMarker, total);
  auto put = [&](std::size_t position, std::uint16_t sample, std::uint8_t junk) {
    if ((position + 1) * bytesPerPosition > total) return;
    if (wide) {
      out[2 * position] = std::uint8_t(sample >> 4);
      out[2 * position + 1] = std::uint8_t((sample & 0x0F) | (junk << 4));
    } else {
      out[position] = std::uint8_t(sample >> 4);
    }
  };
  const int lines = kFirstLine + r.outputHeight;
  for (int y = 0; y < lines && pitch > 0; ++y) {
    const std::size_t lineStart = std::size_t(y) * pitch;
    if (lineStart * bytesPerPosition >= total) break;
    const std::size_t lineBytes = std::min(pitch * bytesPerPosition, total - lineStart * bytesPerPosition);
    std::memset(out + lineStart * bytesPerPosition, kBlankingMarker, lineBytes);
    if (y < kFirstLine) {
      // Leading lines: the frame number, one byte per position, least significant first, then what
      // the frame was taken with.
      if (y == 0) {
        const std::uint8_t report[12] = {std::uint8_t(frameNumber), std::uint8_t(frameNumber >> 8),
                                         std::uint8_t(frameNumber >> 16), std::uint8_t(frameNumber >> 24),
                                         std::uint8_t(r.exposureLines), std::uint8_t(r.exposureLines >> 8),
                                         std::uint8_t(r.globalGain), std::uint8_t(r.gain[0]),
                                         std::uint8_t(r.gain[1]), std::uint8_t(r.gain[2]),
                                         std::uint8_t(r.gain[3]), kReportMarker};
        for (std::size_t b = 0; b < sizeof report && b < pitch; ++b) {
          if (wide) {
            if (2 * (lineStart + b) + 1 < total) {
              out[2 * (lineStart + b)] = report[b];
              out[2 * (lineStart + b) + 1] = 0;
            }
          } else if (lineStart + b < total) {
            out[lineStart + b] = report[b];
          }
        }
      }
      continue;
    }
    const std::uint16_t* row = picture.data() + std::size_t(y - kFirstLine) * r.outputWidth;
    if (!wide && (lineStart + kFirstColumn + width) <= total) {
      std::uint8_t* o = out + lineStart + kFirstColumn;
      for (int j = 0; j < width; ++j) o[j] = std::uint8_t(row[j] >> 4);
      continue;
    }
    for (int j = 0; j < width; ++j) put(lineStart + kFirstColumn + j, row[j], std::uint8_t((j * 5 + y) & 0xF));
  }
}

long long VirtualCamera::readFrame(std::uint8_t* out, std::uint32_t length) {
  // The frame's exposure and readout start when the read arrives; making the picture is part of it.
  const double arrival = nowMicros();
  double due = 0;
  long long moved = 0;
  int slowMs = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (unplugged_) return -1;
    const bool wide = transferWidth_ == 1;
    const std::uint64_t expected = std::uint64_t(transferLength_) * (wide ? 2 : 1);
    // Each trigger starts a frame; a read without one (the single-frame read) takes the next frame.
    const std::uint32_t frameNumber = frameCounter_++;
    // Window, timing and mirrors are those latched now; exposure and gains those the frame integrated
    // with: in a running stream the values in force when the frame before started, else (a single
    // read, the first frame of a stream) the current ones.
    const SensorReadout latched = sensor_.readout();
    SensorReadout taken = latched;
    if (triggered_ && continuous_) {
      taken.exposureLines = integrating_.exposureLines;
      taken.globalGain = integrating_.globalGain;
      std::memcpy(taken.gain, integrating_.gain, sizeof taken.gain);
    }
    integrating_ = latched;
    continuous_ = triggered_;
    triggered_ = false;
    if (expected == 0 || length < expected) {
      moved = 0; // a request shorter than the transfer gets nothing complete
    } else {
      fillFrame(out, wide, frameNumber, taken);
      moved = (long long)expected;
      if (shortReads_ > 0) {
        --shortReads_;
        --moved;
      }
    }
    if (moved == (long long)length) {
      ++delivered_;
      if (unplugAfter_ >= 0 && delivered_ >= std::uint32_t(unplugAfter_)) unplugged_ = true;
    }
    if (pace_ == Pace::Sensor) {
      const double start = std::max(arrival, lastFrameEndMicros_);
      due = start + frameTimeMicros(taken);
      lastFrameEndMicros_ = due;
    }
    slowMs = slowReadMs_;
  }
  // Waiting happens outside the lock: commands go on while a frame is being "exposed".
  if (due > 0) {
    const double wait = due - nowMicros();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds((long long)wait));
  }
  if (slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
  return moved;
}

std::uint8_t VirtualCamera::srom(int address) const {
  std::lock_guard<std::mutex> guard(lock_);
  return srom_[address & 0xFF];
}
void VirtualCamera::setSrom(int address, std::uint8_t value) {
  std::lock_guard<std::mutex> guard(lock_);
  srom_[address & 0xFF] = value;
}
std::uint8_t VirtualCamera::ioPort() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ioPort_;
}
void VirtualCamera::setInputs(bool input3, bool input4) {
  std::lock_guard<std::mutex> guard(lock_);
  ioPort_ = std::uint8_t((ioPort_ & ~0x18) | (input3 ? 0x08 : 0) | (input4 ? 0x10 : 0));
}
std::uint32_t VirtualCamera::transferLength() const {
  std::lock_guard<std::mutex> guard(lock_);
  return transferLength_;
}
int VirtualCamera::transferWidth() const {
  std::lock_guard<std::mutex> guard(lock_);
  return transferWidth_;
}
int VirtualCamera::startupCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return startupCount_;
}
int VirtualCamera::driverSettingValue() const {
  std::lock_guard<std::mutex> guard(lock_);
  return settingValue_;
}
std::uint32_t VirtualCamera::framesDelivered() const {
  std::lock_guard<std::mutex> guard(lock_);
  return delivered_;
}
std::uint32_t VirtualCamera::framesStarted() const {
  std::lock_guard<std::mutex> guard(lock_);
  return frameCounter_;
}
void VirtualCamera::setPace(Pace pace) {
  std::lock_guard<std::mutex> guard(lock_);
  pace_ = pace;
}
Pace VirtualCamera::pace() const {
  std::lock_guard<std::mutex> guard(lock_);
  return pace_;
}
void VirtualCamera::unplugAfter(int frames) {
  std::lock_guard<std::mutex> guard(lock_);
  unplugAfter_ = frames;
  if (frames >= 0 && delivered_ >= std::uint32_t(frames)) unplugged_ = true;
}
void VirtualCamera::unplug() { unplugged_ = true; }
bool VirtualCamera::unplugged() const { return unplugged_; }
void VirtualCamera::shortFrameReads(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  shortReads_ = count;
}
void VirtualCamera::setSlowReadMs(int ms) {
  std::lock_guard<std::mutex> guard(lock_);
  slowReadMs_ = ms;
}
std::vector<std::string> VirtualCamera::violations() const {
  std::lock_guard<std::mutex> guard(lock_);
  return violations_;
}

} // namespace tovira
