#include "dshow/CaptureFilter.h"

#include "dshow/CapturePin.h"
#include "dshow/Enumerators.h"
#include "dshow/SettingsPage.h"

#include "ToviraSdk_Z400KX_ext.h"

#include <cstdio>
#include <cwchar>
#include <new>

namespace tovira::dshow {

const CLSID CLSID_ToviraZ400KXCapture = {0x5B0E4E12, 0x8C3A, 0x4F0B, {0x9D, 0x7E, 0x2A, 0x6C, 0x1F, 0x3B, 0x9D, 0x40}};

std::atomic<long> g_serverReferences{0};

namespace {
constexpr wchar_t kPinName[] = L"Capture";
}

HRESULT CaptureFilter::create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* filter = new (std::nothrow) CaptureFilter;
  if (!filter) return E_OUTOFMEMORY;
  filter->pin_ = new (std::nothrow) CapturePin(filter);
  if (!filter->pin_) {
    filter->Release();
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = filter->QueryInterface(iid, out);
  filter->Release();
  return hr;
}

CaptureFilter::CaptureFilter() { ++g_serverReferences; }

CaptureFilter::~CaptureFilter() {
  // A graph released while running stops its filters first; a filter released on its own is stopped here.
  Stop();
  delete pin_;
  closeCamera();
  --g_serverReferences;
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
    *out = static_cast<IBaseFilter*>(this);
  else if (iid == IID_IAMFilterMiscFlags)
    *out = static_cast<IAMFilterMiscFlags*>(this);
  else if (iid == IID_IPersistPropertyBag)
    *out = static_cast<IPersistPropertyBag*>(this);
  else if (iid == IID_ISpecifyPropertyPages)
    *out = static_cast<ISpecifyPropertyPages*>(this);
  else if (iid == IID_IAMVideoProcAmp)
    *out = static_cast<IAMVideoProcAmp*>(&procAmp_);
  else if (iid == IID_IAMCameraControl)
    *out = static_cast<IAMCameraControl*>(&cameraControl_);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CaptureFilter::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_ToviraZ400KXCapture;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Stop() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (state_ != State_Stopped) pin_->stopStreaming();
  state_ = State_Stopped;
  return S_OK;
}

STDMETHODIMP CaptureFilter::Pause() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (state_ == State_Stopped && pin_->connected()) {
    const HRESULT hr = pin_->startStreaming();
    if (FAILED(hr)) return hr;
  }
  state_ = State_Paused;
  pin_->wake();
  return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  startTime_ = start;
  state_ = State_Running;
  pin_->wake();
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  // A live source has nothing to show while paused.
  return *state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::mutex> guard(clockLock_);
  clock_ = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::mutex> guard(clockLock_);
  *clock = ComPtr<IReferenceClock>(clock_).detach();
  return S_OK;
}

ComPtr<IReferenceClock> CaptureFilter::clock() {
  std::lock_guard<std::mutex> guard(clockLock_);
  return clock_;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** pins) { return createPinEnumerator(this, pin_, pins); }

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  if (std::wcscmp(id, kPinName) != 0) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = pin_;
  pin_->AddRef();
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::wcsncpy(info->achName, name_, MAX_FILTER_NAME);
  info->achName[MAX_FILTER_NAME - 1] = 0;
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  graph_ = graph;
  events_ = nullptr;
  if (graph) {
    // The graph owns us; keeping its event sink counted would make a cycle.
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      events_ = sink;
      sink->Release();
    }
  }
  name_[0] = 0;
  if (name) {
    std::wcsncpy(name_, name, MAX_FILTER_NAME);
    name_[MAX_FILTER_NAME - 1] = 0;
  }
  return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP_(ULONG) CaptureFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

STDMETHODIMP CaptureFilter::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 1;
  pages->pElems[0] = CLSID_ToviraZ400KXSettingsPage;
  return S_OK;
}

STDMETHODIMP CaptureFilter::InitNew() { return S_OK; }

STDMETHODIMP CaptureFilter::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (camera_) return E_UNEXPECTED;  // the camera is chosen once, before it is opened
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  if (SUCCEEDED(bag->Read(L"ToviraSlot", &v, log))) {
    VARIANT i4;
    VariantInit(&i4);
    if (SUCCEEDED(VariantChangeType(&i4, &v, 0, VT_I4))) slot_ = i4.lVal;
    VariantClear(&i4);
  }
  VariantClear(&v);
  if (slot_ < 0 || slot_ > 7) return E_INVALIDARG;
  // Opening now makes an absent or busy camera fail at BindToObject, where applications look.
  return openCamera();
}

STDMETHODIMP CaptureFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

HRESULT CaptureFilter::openCamera() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (camera_) return S_OK;
  // The camera is ours while this filter lives; the marker is a named object that exists exactly as
  // long as one filter holds the camera (a crashed process leaves nothing behind).
  wchar_t lockName[64];
  std::swprintf(lockName, 64, L"Local\\ToviraZ400KX.DirectShow.Camera%d", slot_);
  HANDLE marker = CreateEventW(nullptr, TRUE, FALSE, lockName);
  if (!marker) return HRESULT_FROM_WIN32(GetLastError());
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(marker);
    return kCameraInUse;
  }
  const int h = Tovira_Initialize(nullptr);
  if (!h) {
    CloseHandle(marker);
    return E_OUTOFMEMORY;
  }
  if (!Tovira_SetDeviceNumber(h, slot_)) {
    Tovira_Release(h);
    CloseHandle(marker);
    return kCameraAbsent;
  }
  int hTotal = 0, hStart = 0, width = 0, vTotal = 0, vStart = 0, height = 0;
  Tovira_GetCaptureWindowEx(h, &hTotal, &hStart, &width, &vTotal, &vStart, &height);
  geometry_.windowWidth = width;
  geometry_.windowHeight = height;
  geometry_.halfClock = Tovira_GetHalfClock(h) > 0;
  sdkFormat_ = formatFromSdk(Tovira_GetColorMode(h), Tovira_GetSubSample(h));
  // The quarter read-out of a tiny window has no rows; such a window cannot stream at all.
  if (outputWidth(geometry_, 2) < 1 || outputHeight(geometry_, 2) < 1) {
    Tovira_Release(h);
    CloseHandle(marker);
    return VFW_E_INVALID_MEDIA_TYPE;
  }
  while (Tovira_GetLastError(h) != 0) {
  }  // the first run's "settings created" and the like are not ours to report
  camera_ = h;
  cameraLock_ = marker;
  return S_OK;
}

void CaptureFilter::closeCamera() {
  if (camera_) Tovira_Release(camera_);
  camera_ = 0;
  if (cameraLock_) CloseHandle(cameraLock_);
  cameraLock_ = nullptr;
}

void CaptureFilter::streamTiming(int* lineLength, int* frameLength) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  sensorTiming(geometry_, pin_->activeFormat().subSample, lineLength, frameLength);
}

void CaptureFilter::notify(long code, LONG_PTR param1, LONG_PTR param2) {
  // Called on the streaming thread, which never takes the filter's lock: Stop holds it while it waits
  // for that thread.
  if (IMediaEventSink* sink = events_.load()) sink->Notify(code, param1, param2);
}

} // namespace tovira::dshow
