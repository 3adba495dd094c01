// The device object's frame buffers, transfer thread, newest-frame selection and single-frame read.
#include "device/TVRSdkLib.h"

#include "device/Transport.h"
#include "device/UnpackFrame.h"

#include <cstdint>
#include <cstring>
#include <new>

using tovira::DeviceHandle;

// ---- Buffers ------------------------------------------------------------------------------------

int CTVRSdkLib::BuildFrameBuffers(int linePitch, int firstColumn, int activeWidth, int totalLines, int firstLine,
                                  int activeLines, int ringCount) {
  if (linePitch <= 0 || activeWidth <= 0 || activeWidth > linePitch) return 3;
  if (totalLines <= 0 || activeLines <= 0 || firstLine + activeLines > totalLines) return 4;
  if (ringCount < 2) return 1;
  if (firstColumn < 0 || firstLine < 0 || firstColumn + activeWidth > linePitch) return 3;

  // Buffers in use are never freed: a running stream is stopped for the rebuild and started again on
  // the new buffers.
  const bool restart = IsStreaming();
  if (restart) StopStreaming();

  int result = 0;
  {
    std::lock_guard<std::mutex> guard(bufferLock_);
    ++streamGeneration_; // a frame selected before this point is gone
    releaseBuffersLocked();
    geometry_.linePitch = linePitch;
    geometry_.firstColumn = firstColumn;
    geometry_.activeWidth = activeWidth;
    geometry_.totalLines = totalLines;
    geometry_.firstLine = firstLine;
    geometry_.activeLines = activeLines;
    geometry_.ringCount = ringCount;
    // Beyond 2^30 positions the buffers could not be allocated anyway (and the length would not fit
    // the 32-bit transfer request): treated as memory exhaustion.
    const std::uint64_t positions = std::uint64_t(firstLine + activeLines) * std::uint64_t(linePitch);
    const bool tooLarge = positions > (std::uint64_t(1) << 30);
    geometry_.transferLength = tooLarge ? 0 : tovira::transferLengthFor(linePitch, firstLine, activeLines);
    const SIZE_T bytes = SIZE_T(geometry_.transferLength) * 2; // always room for 16-bit transfers

    singleFrame_ = tooLarge ? nullptr : new (std::nothrow) std::uint8_t[bytes]();
    ring_ = singleFrame_ ? new (std::nothrow) RingEntry[ringCount] : nullptr;
    if (ring_ == nullptr) {
      result = 7;
    } else {
      ringCount_ = ringCount;
      for (int i = 0; i < ringCount && result == 0; ++i) {
        // Locked once, for the buffer's lifetime: the transfer thread writes through the pointer.
        ring_[i].handle = GlobalAlloc(GMEM_ZEROINIT, bytes);
        ring_[i].data = ring_[i].handle ? static_cast<std::uint8_t*>(GlobalLock(ring_[i].handle)) : nullptr;
        if (ring_[i].data == nullptr) result = 7;
      }
    }
    if (result != 0) releaseBuffersLocked();
  }
  if (result != 0) return result;
  SetTransferLength();
  if (restart) StartStreaming();
  return 0;
}

void CTVRSdkLib::releaseBuffersLocked() {
  delete[] singleFrame_;
  singleFrame_ = nullptr;
  if (ring_ != nullptr) {
    for (int i = 0; i < ringCount_; ++i) {
      if (ring_[i].handle == nullptr) continue;
      if (ring_[i].data != nullptr) GlobalUnlock(ring_[i].handle);
      GlobalFree(ring_[i].handle);
    }
    delete[] ring_;
  }
  ring_ = nullptr;
  ringCount_ = 0;
}

void CTVRSdkLib::ReleaseFrameBuffers() {
  // The transfer thread writes into the ring: it must not outlive it.
  StopStreaming();
  std::lock_guard<std::mutex> guard(bufferLock_);
  ++streamGeneration_;
  releaseBuffersLocked();
}

std::size_t CTVRSdkLib::GetFrameBytes() const { return tovira::unpackedFrameBytes(geometry_, transferWidth_ == 1); }

std::uint32_t CTVRSdkLib::GetReadSize() const { return geometry_.transferLength * (transferWidth_ == 1 ? 2u : 1u); }

// ---- Streaming ----------------------------------------------------------------------------------

int CTVRSdkLib::StartStreaming() {
  if (stopped_.load() == 0) return 21;
  // A thread that ended on its own (open failure) is collected before a new one starts.
  if (transferThread_ != nullptr || completionEvent_ != nullptr) StopStreaming();
  {
    std::lock_guard<std::mutex> guard(bufferLock_);
    // The thread never runs without a ring (a failed build leaves none).
    if (ring_ == nullptr || ringCount_ < 2) return 21;
    readSize_ = GetReadSize();
    streamWide_ = transferWidth_ == 1;
    ++streamGeneration_;
    result_ = 0;
    error_ = 0;
    writeIndex_ = 0;
    readerIndex_ = 0;
    completedSlot_ = -1;
    completedFrames_ = 0;
    takenFrames_ = selectedFrames_ = 0;
    std::memcpy(streamPath_, devicePath_, sizeof streamPath_);
    completionEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (completionEvent_ == nullptr) return 10;
    stopped_ = 0;
  }
  transferThread_ = CreateThread(nullptr, 0, &CTVRSdkLib::transferThreadMain, this, 0, nullptr);
  if (transferThread_ == nullptr) {
    stopped_ = 1;
    CloseHandle(completionEvent_);
    completionEvent_ = nullptr;
    return 10;
  }
  SetThreadPriority(transferThread_, THREAD_PRIORITY_HIGHEST);
  return 0;
}

DWORD WINAPI CTVRSdkLib::transferThreadMain(void* self) {
  static_cast<CTVRSdkLib*>(self)->transferLoop();
  return 0;
}

void CTVRSdkLib::transferLoop() {
  DeviceHandle handle = nullptr;
  int result = 0;
  if (tovira::OpenDevice(*port_, &handle, streamPath_) != 1) {
    tovira::CloseDevice(*port_, &handle);
    result = 10;
  } else {
    const int n = ringCount_;
    while (stopped_.load() == 0 && result != 19) {
      const int slot = writeIndex_.load();
      std::uint8_t* buffer = ring_[slot].data;
      std::uint8_t trigger[tovira::kPacketBytes] = {0x02};
      std::uint32_t moved = 0;
      tovira::Transfer(*port_, handle, tovira::kPipeCommand, tovira::kPacketBytes, trigger, &moved, 0);
      const int read = alternateStreamCode_ == 1
                           ? tovira::TransferFrame(*port_, handle, tovira::kPipeFrame, readSize_, buffer, &moved)
                           : tovira::Transfer(*port_, handle, tovira::kPipeFrame, readSize_, buffer, &moved, 1);
      if (read != 0 || moved != readSize_) result = 19;
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      ring_[slot].arrival = now.QuadPart;
      if (result != 19) {
        completedSlot_ = slot;
        completedFrames_.fetch_add(1);
      }
      // The slot the reader holds is never entered.
      int next = slot + 1 == n ? 0 : slot + 1;
      if (next == readerIndex_.load()) next = next + 1 == n ? 0 : next + 1;
      writeIndex_ = next;
    }
    tovira::CloseDevice(*port_, &handle);
  }
  result_ = result;
  error_ = result == 19 ? 1 : 0;
  stopped_ = 1;
  SetEvent(completionEvent_);
}

int CTVRSdkLib::StopStreaming() {
  if (transferThread_ == nullptr && completionEvent_ == nullptr) return 0;
  if (stopped_.load() == 0) stopped_ = 1;
  if (completionEvent_ != nullptr) WaitForSingleObject(completionEvent_, INFINITE);
  if (completionEvent_ != nullptr) CloseHandle(completionEvent_);
  if (transferThread_ != nullptr) {
    WaitForSingleObject(transferThread_, INFINITE); // the thread has left this object's code
    CloseHandle(transferThread_);
  }
  completionEvent_ = nullptr;
  transferThread_ = nullptr;
  stopped_ = 1;
  error_ = 0;
  return result_.load();
}

int CTVRSdkLib::PollNewestFrame() {
  if (error_.load() == 1) return 1;
  if (stopped_.load() == 1) return 0;
  std::lock_guard<std::mutex> guard(bufferLock_);
  const std::uint64_t completed = completedFrames_.load();
  if (completed == takenFrames_) return 2;
  // The most recently completed slot; older ones are dropped. It is never the slot being written: the
  // writer moved on before publishing it and comes back to it only after filling the other slots, and
  // from now on it passes over it.
  readerIndex_ = completedSlot_.load();
  selectedFrames_ = completed;
  selectedGeneration_ = streamGeneration_.load();
  return 3;
}

int CTVRSdkLib::ReadNewestFrame(void* destination) { return ReadNewestFrame(destination, SIZE_MAX); }

int CTVRSdkLib::ReadNewestFrame(void* destination, std::size_t destinationBytes) {
  if (destination == nullptr) return 14;
  std::lock_guard<std::mutex> guard(bufferLock_);
  // The stream was rebuilt or restarted after the poll: the selected slot is not a frame any more.
  if (ring_ == nullptr || selectedGeneration_ != streamGeneration_.load()) return 2;
  if (destinationBytes < tovira::unpackedFrameBytes(geometry_, streamWide_)) return 14;
  const int r = readerIndex_.load();
  lastStamp_ = tovira::frameStampOf(ring_[r].data, geometry_, streamWide_, ring_[r].arrival, selectedGeneration_);
  tovira::UnpackFrame(destination, ring_[r].data, geometry_, streamWide_);
  // The slot stays the reader's (the writer keeps passing over it) until the next poll selects another.
  takenFrames_ = selectedFrames_;
  return 0;
}

// ---- Single-frame read --------------------------------------------------------------------------

int CTVRSdkLib::ReadSingleFrame() {
  std::lock_guard<std::mutex> guard(bufferLock_);
  singleFinished_ = 0;
  int result = 0;
  if (!tovira::isValidDeviceHandle(singleHandle_) && tovira::OpenDevice(*port_, &singleHandle_, devicePath_) != 1) {
    tovira::CloseDevice(*port_, &singleHandle_);
    result = 10;
  } else {
    singleWide_ = transferWidth_ == 1;
    const std::uint32_t size = geometry_.transferLength * (singleWide_ ? 2u : 1u);
    std::uint32_t moved = 0;
    const int read = alternateSingleCode_ == 1
                         ? tovira::TransferFrame(*port_, singleHandle_, tovira::kPipeFrame, size, singleFrame_, &moved)
                         : tovira::Transfer(*port_, singleHandle_, tovira::kPipeFrame, size, singleFrame_, &moved, 1);
    if (read != 0 || moved != size) {
      result = 19;
      // A camera that went away leaves a dead handle: the next read opens afresh.
      tovira::CloseDevice(*port_, &singleHandle_);
    }
  }
  singleResult_ = result;
  singleFinished_ = 1;
  return result;
}

int CTVRSdkLib::CopySingleFrame(void* destination) { return CopySingleFrame(destination, SIZE_MAX); }

int CTVRSdkLib::CopySingleFrame(void* destination, std::size_t destinationBytes) {
  if (destination == nullptr) return 14;
  std::lock_guard<std::mutex> guard(bufferLock_);
  if (singleFrame_ == nullptr) return 14;
  if (destinationBytes < tovira::unpackedFrameBytes(geometry_, singleWide_)) return 14;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  lastStamp_ = tovira::frameStampOf(singleFrame_, geometry_, singleWide_, now.QuadPart, 0);
  tovira::UnpackFrame(destination, singleFrame_, geometry_, singleWide_);
  return 0;
}

tovira::FrameStamp CTVRSdkLib::GetLastFrameStamp() const {
  std::lock_guard<std::mutex> guard(bufferLock_);
  return lastStamp_;
}

int CTVRSdkLib::PollSingleFrame() {
  if (singleFinished_ == 0) return 21;
  // The read is synchronous here and keeps its handle for the next one.
  return singleResult_;
}
