// The device object: the camera instance's only way to the camera.
//
// CTVRSdkLib finds the connected cameras, selects one, programs the image sensor through its 16-bit
// registers, passes register, serial-ROM and I/O-port access through, and owns the frame buffers and
// the transfer thread that streams frames into a ring of four buffers. CToviraZ400KXSdk
// (ToviraZ400KXSdk.h) is the model's constructor on top of it.
//
// Result codes of the device layer (plain integers, never shown to applications; the camera instance
// maps failures onto its own error codes):
//    0  success                                  -1  transfer request failed
//   -2  transfer request without a data buffer   -3  transfer request without a device handle
//    1  capture window rejected                   3  line geometry rejected
//    4  vertical geometry rejected                7  out of memory
//   10  device failed to open, or no handle      12  packet transfer failed or short
//   14  missing (or too small) destination       19  frame read failed or short
//   21  streaming already running / no ring      22  device number out of range
// Operations documented as "1/0" instead return 1 on success and 0 on failure.
//
// Every packet command opens the device file, performs one exchange and closes it again; only the
// transfer thread and the single-frame read keep a handle open.
#pragma once

#include "device/DriverPort.h"
#include "device/FrameGeometry.h"
#include "device/FrameStamp.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class CTVRSdkLib {
public:
  static constexpr int kMaxDevices = 8;
  static constexpr int kFullWidth = 3840;
  static constexpr int kFullHeight = 2748;
  static constexpr int kSensorColumnOrigin = 56; // window x = 0 is sensor column 56
  static constexpr int kSensorRowOrigin = 8;     // window y = 0 is sensor row 8
  static constexpr int kRingCount = 4;

  CTVRSdkLib(const CTVRSdkLib&) = delete;
  CTVRSdkLib& operator=(const CTVRSdkLib&) = delete;

  // Releases the frame buffers and the ring, closes the completion event and the single-frame read's
  // handle. A transfer thread still running is stopped first (waits for it).
  ~CTVRSdkLib();

  // ---- Device list and selection ----------------------------------------------------------------

  // Tries to open device numbers 0..7, records their presence and sets the device number to 0 (the
  // selected path is not changed). Returns the number of devices found.
  int ScanDevices();
  // 8.
  int GetMaxDeviceCount() const;
  // 1 when the device file of number n opened at the last scan; 0 for other numbers and absent slots.
  int IsDevicePresent(int n) const;
  // Tries to open device number n again and records its presence as the scan does (a camera that went
  // away while streaming leaves the list). Returns the presence.
  int RecheckDevice(int n);
  // The selected device number.
  int GetDeviceNumber() const;
  // 22 for numbers outside 0..7 (nothing changes). Otherwise stores n, builds the path, sets the
  // transfer width to 8 bits, sends the start-up command, loads the initial registers, programs the
  // full window and returns 0. Presence is not consulted.
  int SelectDevice(int n);
  // The path of the selected device ("\\.\TovKX400-n").
  const char* GetDevicePath() const { return devicePath_; }

  // ---- Sensor set-up ----------------------------------------------------------------------------

  // Writes the 29 registers of the initial table in order; returns 1 (single writes not examined).
  int LoadInitialRegisters();
  // 1 for rejected arguments (x < 0, y < 0, width < 4, height < 3, beyond 3840 x 2748, code > 20),
  // nothing written. Otherwise stores the window, rebuilds the frame buffers (a running stream is
  // stopped for it and restarted), programs window, sub-sampling and timing and returns 0.
  int SetCaptureWindow(int x, int y, int width, int height, int code);
  // Window as last accepted, full-resolution sensor pixels.
  int GetWindowX() const { return windowX_; }
  int GetWindowY() const { return windowY_; }
  int GetWindowWidth() const { return windowWidth_; }
  int GetWindowHeight() const { return windowHeight_; }
  // 4 (on) or 2 to 0x0302, then 0x030A; 1/0 of the second write.
  int SetHalfClock(int on);
  // 1/0 of reading 0x0302; *on = 1 when it holds 4, else 0 (only on success).
  int GetHalfClock(int* on);
  // Sets (on == 1) or clears horizontal mirroring (bit 14 of 0x3040), verifies after 100 ms and
  // writes once more on a mismatch. Returns 0.
  int SetMirrorH(int on);
  // The same with vertical mirroring, bit 15.
  int SetMirrorV(int on);
  // Bit 0 (horizontal) or bit 1 (vertical) of the low byte of 0x0100; 0 when the read fails.
  int GetMirrorH();
  int GetMirrorV();

  // ---- Gains and exposure -----------------------------------------------------------------------

  // Register 0x3056 (green 1), 0x3058 (blue), 0x305A (red) or 0x305C (green 2), else 0 and nothing
  // written. Writes 0x1100 | min(gain as uint16, 127); 1/0 of the write.
  int SetColorGain(int reg, int gain);
  // The same register check; on a successful read *gain = value & 0x7F. 1/0 of the read.
  int GetColorGain(int reg, int* gain);
  // 0x305E = 0x1100 | min(gain as uint16, 127); 1/0 of the write.
  int SetGlobalGain(int gain);
  // 0x305E & 0x7F, 0 when the read fails.
  int GetGlobalGain();
  // e = low 16 bits of lines (1 for 0); writes 0x3166 from e and the window width, then 0x0202 = e.
  // 1/0 of the second write.
  int SetExposure(int lines);
  // 1/0 of reading 0x0202 into *lines.
  int GetExposure(int* lines);
  // 1,048,575.
  int GetMaxExposure() const;
  // Sets (mode 1) or clears bit 5 of the I/O-port byte, then writes the capture-mode registers
  // (0x3160 = 4 when select is 1, else 0). 1/0 of the last write.
  int ConfigureCaptureMode(int mode, int select);

  // ---- Pass-through (one open, exchange, close each) ---------------------------------------------

  // 1 when the packet was sent, 0 when the open or the send failed.
  int WriteSensorRegister(std::uint16_t address, std::uint16_t value);
  // 1 when the answer arrived; *value = reply[0] * 256 + reply[1] (written whenever the send succeeded).
  int ReadSensorRegister(std::uint16_t address, std::uint16_t* value);
  // Raw serial-ROM byte (addresses 0..255; the grey mode lives at 5). 1 when the device opened;
  // *byte = reply[0] after the exchange, untouched when the send failed.
  int ReadSromByte(std::uint8_t address, std::uint8_t* byte);
  // 1 when the device opened.
  int WriteSromByte(std::uint8_t address, std::uint8_t byte);
  // Identifier bytes 0..7 at serial-ROM addresses 8..15; index taken as uint8, above 7 gives 0 without
  // a transfer. Otherwise as ReadSromByte / WriteSromByte.
  int ReadSromId(int index, std::uint8_t* byte);
  int WriteSromId(int index, std::uint8_t byte);
  // 1 when the send and the answer succeeded (*byte = reply[0]), else 0 with *byte untouched.
  int ReadIoPort(std::uint8_t* byte);
  // 1 when the device opened.
  int WriteIoPort(std::uint8_t byte);
  // Records the flag (1: 16-bit transfer, 0: 8-bit) and sends command 0x0A. Always 1.
  int SetTransferWidth(int wide);
  int GetTransferWidth() const { return transferWidth_; }
  // Sends command 0x09 with the frame transfer length in pixel positions. Always 1.
  int SetTransferLength();
  // Command 0x06; nothing is reported.
  void SendStartupCommand();
  // Setting block (selector 1, value) through code 0x2220A0; the system's result (nonzero on success),
  // 0 when the device did not open.
  int SetDriverSetting(int value);

  // ---- Frame buffers and streaming ----------------------------------------------------------------

  // 3 (P <= 0, W <= 0, W > P), 4 (T <= 0, H <= 0, Y0 + H > T), 1 (N < 2): nothing changes. Otherwise
  // releases the old buffers, stores the geometry, allocates the single-frame buffer and N locked
  // GlobalAlloc buffers of 2 x U bytes (7 when out of memory: buffers then absent), sends the transfer
  // length, returns 0. Must not be called while streaming (SetCaptureWindow stops the stream for it).
  int BuildFrameBuffers(int linePitch, int firstColumn, int activeWidth, int totalLines, int firstLine,
                        int activeLines, int ringCount);
  // Frees the single-frame buffer and every ring buffer (GlobalUnlock, GlobalFree).
  void ReleaseFrameBuffers();
  // The current geometry (zeros before the first successful build).
  const tovira::FrameGeometry& GetFrameGeometry() const { return geometry_; }
  // Bytes a destination of ReadNewestFrame / CopySingleFrame needs: H x W, doubled in 16-bit mode.
  std::size_t GetFrameBytes() const;
  // Bytes of one frame read: U, doubled in 16-bit mode.
  std::uint32_t GetReadSize() const;

  // 21 while streaming, or when there is no ring (a failed build). Otherwise resets the ring indexes,
  // creates the completion event and the transfer thread (THREAD_PRIORITY_HIGHEST) and returns 0;
  // 10 when the event or the thread cannot be created.
  int StartStreaming();
  // 0 at once when nothing runs and nothing is to be reported. Otherwise requests the stop, waits for
  // the thread without time-out, closes its handles and returns the thread's result: 0 after a stop
  // request, 19 after a failed or short frame read, 10 when the thread could not open the device.
  int StopStreaming();
  // 1 when the stream ended on a failed read, 0 when stopped, 2 when no frame was completed since the
  // last one consumed, 3 after selecting the newest complete frame.
  int PollNewestFrame();
  // 14 for a null destination. Unpacks the selected ring slot into the destination, advances the
  // reader index and returns 0. With a destination size: 14 when it is smaller than GetFrameBytes().
  // 2 when the stream was restarted (window change) after the poll: nothing copied.
  int ReadNewestFrame(void* destination);
  int ReadNewestFrame(void* destination, std::size_t destinationBytes);
  // Reads one frame synchronously (no trigger) into the single-frame buffer on the persistent handle,
  // opening it first (10 when that fails). 19 when the read fails or is short, else 0.
  int ReadSingleFrame();
  // 14 for a null (or too small) destination, else unpacks the single-frame buffer and returns 0.
  int CopySingleFrame(void* destination);
  int CopySingleFrame(void* destination, std::size_t destinationBytes);
  // 21 while a single-frame read is unfinished; else its result (always 0 at once here: synchronous).
  int PollSingleFrame();
  // 1 while the transfer thread runs (no stop requested yet).
  bool IsStreaming() const { return stopped_.load() == 0; }
  // Counter, arrival time and stream of the frame the last ReadNewestFrame or CopySingleFrame unpacked.
  tovira::FrameStamp GetLastFrameStamp() const;

protected:
  // Base initialisation: no handles or buffers, streaming stopped, single-frame read finished. Takes the
  // process's driver port (GetDriverPort).
  CTVRSdkLib();

  tovira::DriverPort& port() { return *port_; }
  void buildPath(int n);

  char baseName_[64] = {};     // driver base name, "TovKX400"
  int alternateStreamCode_ = 0; // 1: streamed frame reads use code 0x2220A9
  int alternateSingleCode_ = 0; // 1: single-frame reads use code 0x2220A9

private:
  struct RingEntry {
    HGLOBAL handle = nullptr;
    std::uint8_t* data = nullptr;
    std::int64_t arrival = 0; // performance counter when the transfer into this slot completed
  };

  static DWORD WINAPI transferThreadMain(void* self);
  void transferLoop();
  void releaseBuffersLocked(); // needs bufferLock_

  std::shared_ptr<tovira::DriverPort> port_;

  int transferWidth_ = 0;
  int windowX_ = 0, windowY_ = 0, windowWidth_ = kFullWidth, windowHeight_ = kFullHeight;
  int devicePresent_[kMaxDevices] = {};
  int deviceNumber_ = 0;
  char devicePath_[128] = {};
  std::uint16_t readModeShadow_ = 0x0241;

  // Frame geometry and buffers. bufferLock_ keeps a copy out of a buffer and the release of that buffer
  // apart (the frame loop copies while the caller's thread may change the window).
  tovira::FrameGeometry geometry_{};
  std::uint8_t* singleFrame_ = nullptr;
  RingEntry* ring_ = nullptr;
  int ringCount_ = 0;
  mutable std::mutex bufferLock_;

  // Transfer parameters shared by the transfer thread and the reader.
  std::uint32_t readSize_ = 0;
  HANDLE completionEvent_ = nullptr;
  HANDLE transferThread_ = nullptr;
  std::atomic<int> result_{0};
  std::atomic<int> stopped_{1};
  std::atomic<int> error_{0};
  std::atomic<int> writeIndex_{0};
  std::atomic<int> readerIndex_{0};
  // The slot the transfer thread completed last and how many it completed in this stream; the reader
  // takes that slot, so after a skip (the writer passes over the reader's slot) it still gets the newest
  // frame. takenFrames_/selectedFrames_ are the count at the last read and at the last poll (bufferLock_).
  std::atomic<int> completedSlot_{-1};
  std::atomic<std::uint64_t> completedFrames_{0};
  std::uint64_t takenFrames_ = 0, selectedFrames_ = 0;
  std::atomic<unsigned> streamGeneration_{0}; // advanced by every start
  unsigned selectedGeneration_ = 0;           // generation in which the reader's slot was selected
  bool streamWide_ = false;                   // transfer width the running stream reads with
  char streamPath_[128] = {};                 // path the transfer thread opens
  tovira::FrameStamp lastStamp_{};            // of the frame unpacked last; under bufferLock_

  // Single-frame read.
  tovira::DeviceHandle singleHandle_ = nullptr;
  int singleFinished_ = 1;
  int singleResult_ = 0;
  bool singleWide_ = false;
};
