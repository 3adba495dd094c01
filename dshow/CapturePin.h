// The filter's output pin: formats (IAMStreamConfig), the capture category (IKsPropertySet), the
// allocator agreed with the downstream pin, and the streaming thread that delivers each new frame once.
#pragma once

#include "dshow/ComPtr.h"
#include "dshow/VideoFormats.h"

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"

namespace tovira::dshow {

class CaptureFilter;

class CapturePin final : public IPin, public IAMStreamConfig, public IKsPropertySet, public IAMDroppedFrames {
public:
  explicit CapturePin(CaptureFilter* filter);
  ~CapturePin();

  // IUnknown (references are the filter's)
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IPin
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;
  // IKsPropertySet
  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength,
                   DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;
  // IAMDroppedFrames
  STDMETHODIMP GetNumDropped(long* dropped) override;
  STDMETHODIMP GetNumNotDropped(long* delivered) override;
  STDMETHODIMP GetDroppedInfo(long size, long* frames, long* copied) override;
  STDMETHODIMP GetAverageFrameSize(long* bytes) override;

  // For the filter, under its lock.
  HRESULT startStreaming();  // Stopped -> Paused
  void stopStreaming();      // -> Stopped; when it returns nothing touches the camera or a sample
  void wake();               // the run state changed
  bool connected() const { return static_cast<bool>(connected_); }
  VideoFormat activeFormat() const { return connected_ ? connectedFormat_ : currentFormat(); }

private:
  static DWORD WINAPI threadMain(void* self);
  void streamLoop();
  HRESULT tryConnect(IPin* receivePin, const VideoFormat& f);
  HRESULT decideAllocator(IPin* receivePin, long sampleSize);
  VideoFormat currentFormat() const;
  std::vector<VideoFormat> offeredFormats() const;
  bool deliverFrame(IMediaSample* sample, const TOVIRAX_FRAME_META& meta, bool first);

  CaptureFilter* filter_;
  ComPtr<IPin> connected_;
  ComPtr<IMemInputPin> input_;
  ComPtr<IMemAllocator> allocator_;
  AM_MEDIA_TYPE mediaType_ = {};       // of the connection
  VideoFormat connectedFormat_;
  VideoFormat chosenFormat_;           // by SetFormat
  bool formatChosen_ = false;

  // Streaming (set up before the thread starts, read by it).
  HANDLE thread_ = nullptr;
  HANDLE wakeEvent_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::vector<BYTE> scratch_;          // only when the SDK's rows are laid out otherwise than the sample's
  int restoreGrayMode_ = -1;
  REFERENCE_TIME lastStart_ = 0;       // of the sample delivered last (streaming thread only)

  // Counts since the pin last started streaming.
  std::mutex countLock_;
  long delivered_ = 0;
  long dropped_ = 0;
  long long bytesDelivered_ = 0;
  std::deque<long> droppedIds_;        // the newest dropped frame ids, for GetDroppedInfo
};

} // namespace tovira::dshow
