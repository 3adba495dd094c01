#include "dshow/CapturePin.h"

#include "dshow/CaptureFilter.h"
#include "dshow/Enumerators.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tovira::dshow {

namespace {

constexpr wchar_t kPinName[] = L"Capture";
constexpr int kWaitSliceMs = 500;      // the streaming thread looks at the stop flag this often
constexpr size_t kDroppedIdsKept = 64;

using Guard = std::lock_guard<std::recursive_mutex>;

bool fullySpecified(const AM_MEDIA_TYPE* mt) {
  return mt && mt->majortype != GUID_NULL && mt->subtype != GUID_NULL && mt->formattype != GUID_NULL;
}

} // namespace

CapturePin::CapturePin(CaptureFilter* filter) : filter_(filter) {
  wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CapturePin::~CapturePin() {
  stopStreaming();
  freeMediaType(mediaType_);
  if (wakeEvent_) CloseHandle(wakeEvent_);
}

STDMETHODIMP CapturePin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPin)
    *out = static_cast<IPin*>(this);
  else if (iid == IID_IAMStreamConfig)
    *out = static_cast<IAMStreamConfig*>(this);
  else if (iid == IID_IKsPropertySet)
    *out = static_cast<IKsPropertySet*>(this);
  else if (iid == IID_IAMDroppedFrames)
    *out = static_cast<IAMDroppedFrames*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) CapturePin::Release() { return filter_->Release(); }

VideoFormat CapturePin::currentFormat() const { return formatChosen_ ? chosenFormat_ : filter_->sdkFormat(); }

std::vector<VideoFormat> CapturePin::offeredFormats() const {
  // After SetFormat only that format; otherwise the SDK's own choice first, then the others.
  std::vector<VideoFormat> list{currentFormat()};
  if (!formatChosen_)
    for (const VideoFormat& f : allFormats())
      if (!(f == list.front())) list.push_back(f);
  return list;
}

// ---- connection --------------------------------------------------------------------------------------

STDMETHODIMP CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
  if (!receivePin) return E_POINTER;
  Guard guard(filter_->lock());
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  PIN_DIRECTION direction;
  if (FAILED(receivePin->QueryDirection(&direction)) || direction != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;

  if (fullySpecified(mt)) {
    VideoFormat f;
    if (!matchMediaType(mt, filter_->geometry(), &f)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (formatChosen_ && !(f == chosenFormat_)) return VFW_E_TYPE_NOT_ACCEPTED;
    return tryConnect(receivePin, f);
  }
  for (const VideoFormat& f : offeredFormats()) {
    AM_MEDIA_TYPE offered;
    if (FAILED(makeMediaType(f, filter_->geometry(), &offered))) return E_OUTOFMEMORY;
    const bool fits = !mt || (matchMediaType(mt, filter_->geometry(), nullptr) &&
                              (mt->subtype == GUID_NULL || mt->subtype == offered.subtype));
    freeMediaType(offered);
    if (!fits) continue;
    if (SUCCEEDED(tryConnect(receivePin, f))) return S_OK;
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CapturePin::tryConnect(IPin* receivePin, const VideoFormat& f) {
  AM_MEDIA_TYPE mt;
  HRESULT hr = makeMediaType(f, filter_->geometry(), &mt);
  if (FAILED(hr)) return hr;
  hr = receivePin->ReceiveConnection(this, &mt);
  if (SUCCEEDED(hr)) {
    connected_ = ComPtr<IPin>(receivePin);
    freeMediaType(mediaType_);
    mediaType_ = mt;
    connectedFormat_ = f;
    hr = decideAllocator(receivePin, long(mt.lSampleSize));
    if (FAILED(hr)) {
      receivePin->Disconnect();
      connected_.reset();
      input_.reset();
      allocator_.reset();
      freeMediaType(mediaType_);
      mediaType_ = {};
    }
    return hr;
  }
  freeMediaType(mt);
  return hr;
}

HRESULT CapturePin::decideAllocator(IPin* receivePin, long sampleSize) {
  ComPtr<IMemInputPin> input = ComPtr<IPin>(receivePin).as<IMemInputPin>(IID_IMemInputPin);
  if (!input) return VFW_E_NO_TRANSPORT;
  ALLOCATOR_PROPERTIES wanted = {};
  input->GetAllocatorRequirements(&wanted);  // may fail: no requirements
  // Three samples: one being filled, one downstream, one on its way back.
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 3);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, sampleSize);
  wanted.cbAlign = std::max<long>(wanted.cbAlign, 1);

  auto agree = [&](IMemAllocator* allocator) {
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < sampleSize || actual.cBuffers < 1) return VFW_E_SIZENOTSET;
    return input->NotifyAllocator(allocator, FALSE);
  };
  // The downstream pin's allocator first, as DirectShow expects; ours when it has none or refuses.
  ComPtr<IMemAllocator> allocator;
  if (SUCCEEDED(input->GetAllocator(allocator.put())) && allocator && SUCCEEDED(agree(allocator.get()))) {
    allocator_ = allocator;
    input_ = input;
    return S_OK;
  }
  allocator.reset();
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                allocator.putVoid());
  if (FAILED(hr)) return hr;
  hr = agree(allocator.get());
  if (FAILED(hr)) return hr;
  allocator_ = allocator;
  input_ = input;
  return S_OK;
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }  // an output pin

STDMETHODIMP CapturePin::Disconnect() {
  Guard guard(filter_->lock());
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  connected_.reset();
  input_.reset();
  allocator_.reset();
  freeMediaType(mediaType_);
  mediaType_ = {};
  return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  Guard guard(filter_->lock());
  *pin = ComPtr<IPin>(connected_).detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  Guard guard(filter_->lock());
  if (!connected_) {
    std::memset(mt, 0, sizeof *mt);
    return VFW_E_NOT_CONNECTED;
  }
  return copyMediaType(mt, &mediaType_);
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = static_cast<IBaseFilter*>(filter_);
  filter_->AddRef();
  info->dir = PINDIR_OUTPUT;
  std::wcsncpy(info->achName, kPinName, MAX_PIN_NAME);
  return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kPinName));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, kPinName, sizeof kPinName);
  return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  Guard guard(filter_->lock());
  if (FAILED(filter_->openCamera())) return S_FALSE;
  VideoFormat f;
  if (!matchMediaType(mt, filter_->geometry(), &f)) return S_FALSE;
  return !formatChosen_ || f == chosenFormat_ ? S_OK : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  Guard guard(filter_->lock());
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  std::vector<AM_MEDIA_TYPE> list;
  for (const VideoFormat& f : offeredFormats()) {
    AM_MEDIA_TYPE mt;
    if (FAILED(hr = makeMediaType(f, filter_->geometry(), &mt))) break;
    list.push_back(mt);
  }
  if (SUCCEEDED(hr)) hr = createMediaTypeEnumerator(list, types);
  for (AM_MEDIA_TYPE& mt : list) freeMediaType(mt);
  return hr;
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP CapturePin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---- IAMStreamConfig ---------------------------------------------------------------------------------

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* mt) {
  Guard guard(filter_->lock());
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  if (!mt) {  // back to the SDK's own settings
    formatChosen_ = false;
    return S_OK;
  }
  VideoFormat f;
  if (!matchMediaType(mt, filter_->geometry(), &f)) return VFW_E_INVALID_MEDIA_TYPE;
  if (connected_ && !(f == connectedFormat_)) {
    AM_MEDIA_TYPE wanted;
    if (FAILED(hr = makeMediaType(f, filter_->geometry(), &wanted))) return hr;
    hr = connected_->QueryAccept(&wanted);
    freeMediaType(wanted);
    if (hr != S_OK) return VFW_E_INVALID_MEDIA_TYPE;
    IFilterGraph* graph = filter_->graph();
    if (!graph) return VFW_E_NOT_IN_GRAPH;
    const VideoFormat before = chosenFormat_;
    const bool wasChosen = formatChosen_;
    chosenFormat_ = f;
    formatChosen_ = true;
    hr = graph->Reconnect(this);
    if (FAILED(hr)) {
      chosenFormat_ = before;
      formatChosen_ = wasChosen;
    }
    return hr;
  }
  chosenFormat_ = f;
  formatChosen_ = true;
  return S_OK;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  Guard guard(filter_->lock());
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  AM_MEDIA_TYPE current;
  if (connected_) {
    if (FAILED(hr = copyMediaType(&current, &mediaType_))) return hr;
  } else if (FAILED(hr = makeMediaType(currentFormat(), filter_->geometry(), &current))) {
    return hr;
  }
  *mt = newMediaType(current);
  freeMediaType(current);
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = int(allFormats().size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  if (!mt || !caps) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (size_t(index) >= allFormats().size()) return S_FALSE;
  Guard guard(filter_->lock());
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  const VideoFormat& f = allFormats()[size_t(index)];
  AM_MEDIA_TYPE type;
  if (FAILED(hr = makeMediaType(f, filter_->geometry(), &type))) return hr;
  *mt = newMediaType(type);
  freeMediaType(type);
  if (!*mt) return E_OUTOFMEMORY;
  fillStreamCaps(f, filter_->geometry(), reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps));
  return S_OK;
}

// ---- IKsPropertySet: the pin's category ----------------------------------------------------------------

STDMETHODIMP CapturePin::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataLength, DWORD* returned) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!data && !returned) return E_POINTER;
  if (returned) *returned = sizeof(GUID);
  if (!data) return S_OK;  // the caller asked for the size
  if (dataLength < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

// ---- IAMDroppedFrames ----------------------------------------------------------------------------------

STDMETHODIMP CapturePin::GetNumDropped(long* dropped) {
  if (!dropped) return E_POINTER;
  std::lock_guard<std::mutex> guard(countLock_);
  *dropped = dropped_;
  return S_OK;
}

STDMETHODIMP CapturePin::GetNumNotDropped(long* delivered) {
  if (!delivered) return E_POINTER;
  std::lock_guard<std::mutex> guard(countLock_);
  *delivered = delivered_;
  return S_OK;
}

STDMETHODIMP CapturePin::GetDroppedInfo(long size, long* frames, long* copied) {
  if (!frames || !copied) return E_POINTER;
  if (size <= 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(countLock_);
  long n = 0;
  for (long id : droppedIds_) {
    if (n == size) break;
    frames[n++] = id;
  }
  *copied = n;
  return S_OK;
}

STDMETHODIMP CapturePin::GetAverageFrameSize(long* bytes) {
  if (!bytes) return E_POINTER;
  std::lock_guard<std::mutex> guard(countLock_);
  *bytes = delivered_ ? long(bytesDelivered_ / delivered_) : 0;
  return S_OK;
}

// ---- streaming -------------------------------------------------------------------------------------------

HRESULT CapturePin::startStreaming() {
  if (!connected_ || !allocator_) return VFW_E_NOT_CONNECTED;
  const int h = filter_->camera();
  const VideoFormat f = connectedFormat_;
  if (!Tovira_SetColorMode(h, sdkColorMode(f.kind)) || !Tovira_SetSubSample(h, f.subSample)) return E_FAIL;
  // Y800 is the camera's grey picture: without a grey mode chosen in the SDK's settings, 8-bit frames
  // would be the raw mosaic, so the luminance of the demosaiced picture is asked for while streaming.
  restoreGrayMode_ = -1;
  if (f.kind == PixelKind::Y800) {
    int ok = 0;
    const int gray = Tovira_GetGrayMode(h, &ok);
    if (ok && gray == 0 && Tovira_SetGrayMode(h, 2)) restoreGrayMode_ = 0;
  }
  const int width = outputWidth(filter_->geometry(), f.subSample);
  const int height = outputHeight(filter_->geometry(), f.subSample);
  const bool sameRows = sdkStride(f.kind, width) == sampleStride(f.kind, width);
  scratch_.clear();
  if (!sameRows) scratch_.resize(size_t(sdkStride(f.kind, width)) * size_t(height));
  {
    std::lock_guard<std::mutex> guard(countLock_);
    delivered_ = dropped_ = 0;
    bytesDelivered_ = 0;
    droppedIds_.clear();
  }
  auto undoGrayMode = [&] {
    if (restoreGrayMode_ >= 0) Tovira_SetGrayMode(h, restoreGrayMode_);
    restoreGrayMode_ = -1;
  };
  HRESULT hr = allocator_->Commit();
  if (FAILED(hr)) {
    undoGrayMode();
    return hr;
  }
  if (!Tovira_StartPreview(h)) {
    // A camera that went away fails with "no camera" followed by "not ready": look through them all.
    bool absent = false;
    for (int error; (error = Tovira_GetLastError(h)) != 0;)
      absent = absent || error == TOVIRA_ERR_NO_CAMERA || error == TOVIRA_ERR_DEVICE_LOST;
    allocator_->Decommit();
    undoGrayMode();
    return absent ? kCameraAbsent : E_FAIL;
  }
  stopping_ = false;
  ResetEvent(wakeEvent_);
  thread_ = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
  if (!thread_) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    Tovira_StopPreview(h);
    allocator_->Decommit();
    undoGrayMode();
    return hr;
  }
  return S_OK;
}

void CapturePin::stopStreaming() {
  if (!thread_) return;
  stopping_ = true;
  SetEvent(wakeEvent_);
  const int h = filter_->camera();
  Tovira_StopPreview(h);                     // ends a ToviraX_WaitFrame of the thread at once
  if (allocator_) allocator_->Decommit();    // ends a GetBuffer waiting for a sample
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  if (restoreGrayMode_ >= 0) Tovira_SetGrayMode(h, restoreGrayMode_);
  restoreGrayMode_ = -1;
  while (Tovira_GetLastError(h) != 0) {
  }  // a lost camera's or a stop's codes were reported as events already
}

void CapturePin::wake() {
  if (wakeEvent_) SetEvent(wakeEvent_);
}

DWORD WINAPI CapturePin::threadMain(void* self) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  static_cast<CapturePin*>(self)->streamLoop();
  CoUninitialize();
  return 0;
}

void CapturePin::streamLoop() {
  const int h = filter_->camera();
  const VideoFormat f = connectedFormat_;
  const int width = outputWidth(filter_->geometry(), f.subSample);
  const int height = outputHeight(filter_->geometry(), f.subSample);
  const int sdkRow = sdkStride(f.kind, width), sampleRow = sampleStride(f.kind, width);
  const long imageSize = long(sampleRow) * height;
  const int rowOrder = bottomUp(f.kind) ? 0 : 1;
  unsigned long long last = TOVIRAX_NEXT_FRAME;
  bool firstOfRun = true;

  while (!stopping_) {
    if (filter_->state() != State_Running) {
      // Paused: the camera streams on, nothing is delivered; each Run starts a new discontinuity.
      firstOfRun = true;
      WaitForSingleObject(wakeEvent_, kWaitSliceMs);
      continue;
    }
    ComPtr<IMediaSample> sample;
    if (FAILED(allocator_->GetBuffer(sample.put(), nullptr, nullptr, 0)) || !sample) break;  // decommitted
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < imageSize) {
      filter_->notify(EC_ERRORABORT, VFW_E_BUFFER_OVERFLOW, 0);
      break;
    }
    BYTE* target = scratch_.empty() ? data : scratch_.data();
    const int targetSize = scratch_.empty() ? int(imageSize) : int(scratch_.size());
    TOVIRAX_FRAME_META meta = {};
    meta.size = sizeof meta;
    // Each new frame once: the wait returns a frame newer than the last one delivered, the newest there is.
    const int got = ToviraX_WaitFrame(h, last, kWaitSliceMs, target, targetSize, rowOrder, &meta);
    if (got == 0) continue;
    if (got < 0) {
      if (stopping_) break;
      const int error = Tovira_GetLastError(h);
      if (error == TOVIRA_ERR_DEVICE_LOST) {
        // The camera went away: the application hears it, the stream ends, nothing crashes.
        filter_->notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)), 0);
        filter_->notify(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), 0);
      } else {
        filter_->notify(EC_ERRORABORT, E_FAIL, 0);
      }
      if (input_ && connected_) connected_->EndOfStream();
      break;
    }
    if (meta.width != width || meta.height != height || meta.bitsPerPixel != bitsPerPixel(f.kind)) {
      // The SDK's settings were changed behind the graph (another program's dialog on this handle
      // cannot do it, but a settings reload can): the agreed format no longer holds.
      filter_->notify(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      if (connected_) connected_->EndOfStream();
      break;
    }
    if (!scratch_.empty()) {
      for (int y = 0; y < height; ++y)
        std::memcpy(data + size_t(y) * sampleRow, scratch_.data() + size_t(y) * sdkRow, size_t(sampleRow));
    }
    if (f.kind == PixelKind::Y16) {
      // The SDK's 16-bit samples hold 12 significant bits; Y16 spans the whole 16-bit range.
      auto* p = reinterpret_cast<unsigned short*>(data);
      for (size_t i = 0, n = size_t(imageSize) / 2; i < n; ++i) p[i] = (unsigned short)(p[i] << 4);
    }
    {
      std::lock_guard<std::mutex> guard(countLock_);
      if (last != TOVIRAX_NEXT_FRAME && meta.frameId > last + 1) {
        // Frames of the camera that never reached the graph leave gaps in the ids.
        for (unsigned long long id = last + 1; id < meta.frameId; ++id) {
          ++dropped_;
          droppedIds_.push_back(long(id));
          if (droppedIds_.size() > kDroppedIdsKept) droppedIds_.pop_front();
        }
      }
    }
    last = meta.frameId;
    {
      // Counted as handed to the downstream pin, whatever it then does with the sample.
      std::lock_guard<std::mutex> guard(countLock_);
      ++delivered_;
      bytesDelivered_ += imageSize;
    }
    if (!deliverFrame(sample.get(), meta, firstOfRun)) break;
    firstOfRun = false;
  }
}

bool CapturePin::deliverFrame(IMediaSample* sample, const TOVIRAX_FRAME_META& meta, bool first) {
  const LONGLONG frameTime = frameTime100ns(filter_->geometry(), connectedFormat_.subSample);
  sample->SetActualDataLength(long(mediaType_.lSampleSize));
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(first ? TRUE : FALSE);
  sample->SetPreroll(FALSE);
  // Stream time of the frame: the graph clock now, less the age of the frame (its transfer completion
  // on the performance counter), less the run's start. Measured per frame, so the two clocks cannot drift.
  if (ComPtr<IReferenceClock> clock = filter_->clock()) {
    REFERENCE_TIME now = 0;
    LARGE_INTEGER counter, frequency;
    if (SUCCEEDED(clock->GetTime(&now)) && QueryPerformanceCounter(&counter) && QueryPerformanceFrequency(&frequency)) {
      const long long ageTicks = std::max<long long>(0, counter.QuadPart - meta.timestamp);
      const REFERENCE_TIME age = REFERENCE_TIME(ageTicks / frequency.QuadPart * 10'000'000 +
                                                ageTicks % frequency.QuadPart * 10'000'000 / frequency.QuadPart);
      REFERENCE_TIME start = now - age - filter_->startTime();
      if (start < 0) start = 0;
      // The graph clock may tick more coarsely than the performance counter: a frame never starts
      // before the one delivered ahead of it.
      if (!first && start <= lastStart_) start = lastStart_ + 1;
      lastStart_ = start;
      REFERENCE_TIME end = start + frameTime;
      sample->SetTime(&start, &end);
    }
  } else {
    sample->SetTime(nullptr, nullptr);
  }
  // Media time: the camera's frame counter, so a consumer sees which frame it got and what it missed.
  LONGLONG mediaStart = LONGLONG(meta.frameId), mediaEnd = mediaStart + 1;
  sample->SetMediaTime(&mediaStart, &mediaEnd);
  const HRESULT hr = input_->Receive(sample);
  if (hr == S_OK) return true;
  if (FAILED(hr)) filter_->notify(EC_ERRORABORT, hr, 0);
  return false;  // S_FALSE: downstream wants no more samples until the next run
}

} // namespace tovira::dshow
