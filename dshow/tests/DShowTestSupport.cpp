#include "dshow/tests/DShowTestSupport.h"

#include "ToviraSdk_Z400KX_ext.h"

#include <chrono>
#include <cstring>
#include <cwchar>

namespace dshowtest {

const CLSID kCaptureClsid = {0x5B0E4E12, 0x8C3A, 0x4F0B, {0x9D, 0x7E, 0x2A, 0x6C, 0x1F, 0x3B, 0x9D, 0x40}};
const CLSID kSampleGrabberClsid = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kNullRendererClsid = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const GUID kSubtypeY800 = {0x30303859, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeY16 = {0x20363159, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

const wchar_t kSdkKey[] = L"Software\\Brenik\\ToviraZ400KXSdk";

std::wstring guidString(REFGUID g) {
  wchar_t text[64] = {};
  StringFromGUID2(g, text, 64);
  return text;
}

void setDword(HKEY key, const wchar_t* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

} // namespace

bool Server::load() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  wchar_t* slash = std::wcsrchr(path, L'\\');
  if (!slash) return false;
  std::wcscpy(slash + 1, L"ToviraZ400KXCapture.ax");
  module = LoadLibraryW(path);
  if (!module) return false;
  registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  unregisterServer = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
  install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
  return registerServer && unregisterServer && install;
}

Server::~Server() {
  if (module) FreeLibrary(module);
}

void deleteSdkSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, kSdkKey); }

void writeSdkSettings(int width, int height, int hStart, int vStart, int colorCode, int subSample, int waitTimeMs, int clock) {
  deleteSdkSettings();
  HKEY key = nullptr, preset = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, kSdkKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  setDword(key, L"Size", 0);
  setDword(key, L"Color", DWORD(colorCode));
  setDword(key, L"SubSample", DWORD(subSample));
  setDword(key, L"WaitTime", DWORD(waitTimeMs));
  setDword(key, L"Clock", DWORD(clock));
  RegCreateKeyExW(key, L"Size_00", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &preset, nullptr);
  setDword(preset, L"TH", 3840);
  setDword(preset, L"TV", 2748);
  setDword(preset, L"EH", DWORD(width));
  setDword(preset, L"EV", DWORD(height));
  setDword(preset, L"EHS", DWORD(hStart));
  setDword(preset, L"EVS", DWORD(vStart));
  setDword(preset, L"Buf", 10);
  RegCloseKey(preset);
  RegCloseKey(key);
}

bool classRegistered(HKEY root) {
  // The filter's class or its settings page's.
  const CLSID page = {0x5B0E4E13, 0x8C3A, 0x4F0B, {0x9D, 0x7E, 0x2A, 0x6C, 0x1F, 0x3B, 0x9D, 0x40}};
  for (const CLSID* clsid : {&kCaptureClsid, &page}) {
    const std::wstring path = L"Software\\Classes\\CLSID\\" + guidString(*clsid);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      return true;
    }
  }
  return false;
}

std::vector<std::wstring> deviceInstances(HKEY root) {
  std::vector<std::wstring> found;
  const std::wstring path = L"Software\\Classes\\CLSID\\" + guidString(CLSID_VideoInputDeviceCategory) + L"\\Instance";
  HKEY list = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &list) != ERROR_SUCCESS) return found;
  const std::wstring ours = guidString(kCaptureClsid);
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (RegGetValueW(list, name, L"CLSID", RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS &&
        _wcsicmp(value, ours.c_str()) == 0)
      found.push_back(name);
  }
  RegCloseKey(list);
  return found;
}

std::vector<Device> ourDevices() {
  std::vector<Device> devices;
  ComPtr<ICreateDevEnum> enumerator;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              enumerator.putVoid())))
    return devices;
  ComPtr<IEnumMoniker> monikers;
  if (enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0) != S_OK) return devices;
  ComPtr<IMoniker> m;
  while (monikers->Next(1, m.put(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) continue;
    VARIANT name, clsid;
    VariantInit(&name);
    VariantInit(&clsid);
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
        SUCCEEDED(bag->Read(L"CLSID", &clsid, nullptr)) && clsid.vt == VT_BSTR &&
        _wcsicmp(clsid.bstrVal, guidString(kCaptureClsid).c_str()) == 0)
      devices.push_back({name.bstrVal, m});
    VariantClear(&name);
    VariantClear(&clsid);
  }
  return devices;
}

HRESULT bindDevice(const Device& d, ComPtr<IBaseFilter>& filter) {
  return d.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid());
}

void freeType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk) mt.pUnk->Release();
  mt = {};
}

// ---- Sample Grabber callback ----------------------------------------------------------------------------

STDMETHODIMP GrabberCallback::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
    *out = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP GrabberCallback::SampleCB(double, IMediaSample* sample) {
  Frame f;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data))) return S_OK;
  f.pixels.assign(data, data + sample->GetActualDataLength());
  LONGLONG mediaEnd = 0;
  if (sample->GetMediaTime(&f.mediaStart, &mediaEnd) != S_OK) f.mediaStart = -1;
  REFERENCE_TIME end = 0;
  f.hasTime = SUCCEEDED(sample->GetTime(&f.start, &end));
  {
    std::lock_guard<std::mutex> guard(lock_);
    frames_.push_back(std::move(f));
  }
  arrived_.notify_all();
  if (delayMs) Sleep(delayMs);
  return S_OK;
}

bool GrabberCallback::waitFor(size_t count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return frames_.size() >= count; });
}

std::vector<Frame> GrabberCallback::take() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::move(frames_);
}

size_t GrabberCallback::count() {
  std::lock_guard<std::mutex> guard(lock_);
  return frames_.size();
}

// ---- graph --------------------------------------------------------------------------------------------

HRESULT Graph::create(IBaseFilter* sourceFilter) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.putVoid());
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                        builder.putVoid());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = builder->SetFiltergraph(graph.get()))) return hr;
  source = ComPtr<IBaseFilter>(sourceFilter);
  if (FAILED(hr = graph->AddFilter(source.get(), L"Z400KX"))) return hr;
  hr = CoCreateInstance(kSampleGrabberClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, grabberFilter.putVoid());
  if (FAILED(hr)) return hr;
  grabber = grabberFilter.as<ISampleGrabber>(IID_ISampleGrabber);
  if (!grabber) return E_NOINTERFACE;
  grabber->SetBufferSamples(FALSE);
  grabber->SetOneShot(FALSE);
  grabber->SetCallback(&callback, 0);
  if (FAILED(hr = graph->AddFilter(grabberFilter.get(), L"Sample Grabber"))) return hr;
  hr = CoCreateInstance(kNullRendererClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.putVoid());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = graph->AddFilter(renderer.get(), L"Null Renderer"))) return hr;
  control = graph.as<IMediaControl>(IID_IMediaControl);
  events = graph.as<IMediaEventEx>(IID_IMediaEventEx);
  return control && events ? S_OK : E_NOINTERFACE;
}

HRESULT Graph::render() {
  return builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.get(), grabberFilter.get(),
                               renderer.get());
}

ComPtr<IAMStreamConfig> Graph::streamConfig() {
  ComPtr<IAMStreamConfig> config;
  builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.get(), IID_IAMStreamConfig, config.putVoid());
  return config;
}

AM_MEDIA_TYPE Graph::connectedType() {
  AM_MEDIA_TYPE mt = {};
  grabber->GetConnectedMediaType(&mt);
  return mt;
}

long Graph::waitForEvent(std::initializer_list<long> codes, DWORD timeoutMs) {
  // Blocked in GetEvent, as applications wait for the graph's events. Wine's GetEvent may return
  // E_ABORT at once while its event handle is still set from an event already taken; that is retried.
  const DWORD begin = GetTickCount();
  for (;;) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    const DWORD elapsed = GetTickCount() - begin;
    if (elapsed >= timeoutMs) return 0;
    if (events->GetEvent(&code, &p1, &p2, long(timeoutMs - elapsed)) != S_OK) {
      Sleep(10);
      continue;
    }
    events->FreeEventParams(code, p1, p2);
    for (long c : codes)
      if (c == code) return code;
  }
}

Graph::~Graph() {
  if (control && stopOnRelease) control->Stop();
  if (grabber) grabber->SetCallback(nullptr, 0);
}

// ---- the SDK's own frames -------------------------------------------------------------------------------

namespace {

struct Collector {
  std::mutex lock;
  std::condition_variable done;
  std::vector<unsigned long long> wanted;
  std::map<unsigned long long, std::vector<BYTE>>* frames = nullptr;
  size_t bytes = 0;
  bool finished = false;
};

void onSdkFrame(int h, void* buffer, const TOVIRAX_FRAME_META* meta, void* user) {
  auto* c = static_cast<Collector*>(user);
  {
    std::lock_guard<std::mutex> guard(c->lock);
    for (unsigned long long id : c->wanted)
      if (id == meta->frameId) {
        const BYTE* p = static_cast<const BYTE*>(buffer);
        (*c->frames)[id].assign(p, p + c->bytes);
      }
    if (!c->wanted.empty() && meta->frameId >= c->wanted.back()) c->finished = true;
  }
  ToviraX_ReturnBuffer(h, buffer);
  c->done.notify_all();
}

} // namespace

bool takeSdkFrames(int slot, int colorMode, int subSample, int grayMode, int rowOrder,
                   const std::vector<unsigned long long>& wanted, DWORD timeoutMs, SdkFrames& out) {
  const int h = Tovira_Initialize(nullptr);
  if (!h) return false;
  bool ok = Tovira_SetDeviceNumber(h, slot) && Tovira_SetColorMode(h, colorMode) && Tovira_SetSubSample(h, subSample) &&
            Tovira_SetGrayMode(h, grayMode);
  out.width = Tovira_Width(h) >> subSample;
  out.height = Tovira_Height(h) >> subSample;
  out.stride = (out.width * colorMode / 8 + 3) & ~3;
  Collector c;
  c.wanted = wanted;
  c.frames = &out.frames;
  c.bytes = size_t(out.stride) * size_t(out.height);
  std::vector<std::vector<BYTE>> pool(8, std::vector<BYTE>(c.bytes));
  void* buffers[8];
  for (int i = 0; i < 8; ++i) buffers[i] = pool[size_t(i)].data();
  ok = ok && ToviraX_SetFrameCallback(h, onSdkFrame, &c, buffers, 8, int(c.bytes), rowOrder) && Tovira_StartPreview(h);
  if (ok) {
    int success = 0;
    out.lineLength = Tovira_ReadRegisterEx(h, 0x0342, &success);
    out.frameLength = Tovira_ReadRegisterEx(h, 0x0340, &success);
    // SMIA video timing: input clock x multiplier / (pre-divider x pixel divider x system divider).
    const long long multiplier = Tovira_ReadRegisterEx(h, 0x0306, &success);
    const long long pre = Tovira_ReadRegisterEx(h, 0x0304, &success);
    const long long pixel = Tovira_ReadRegisterEx(h, 0x0300, &success);
    const long long system = Tovira_ReadRegisterEx(h, 0x0302, &success);
    if (pre && pixel && system) out.pixelClockHz = 24'000'000LL * multiplier / (pre * pixel * system);
    std::unique_lock<std::mutex> guard(c.lock);
    ok = c.done.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return c.finished; });
  }
  Tovira_StopPreview(h);
  ToviraX_SetFrameCallback(h, nullptr, nullptr, nullptr, 0, 0, 0);
  Tovira_SetGrayMode(h, 0);
  Tovira_Release(h);
  return ok;
}

unsigned decodeFrameStrip(const BYTE* rowFour, int width, int bytesPerPixel, int channel, int sampleBytes, int maxValue) {
  unsigned number = 0;
  for (int k = 0; k < 24 && k * 8 + 4 < width; ++k) {
    const BYTE* p = rowFour + size_t(k * 8 + 4) * size_t(bytesPerPixel) + size_t(channel);
    const int value = sampleBytes == 2 ? p[0] | (p[1] << 8) : p[0];
    if (value > maxValue / 2) number |= 1u << k;
  }
  return number;
}

} // namespace dshowtest
