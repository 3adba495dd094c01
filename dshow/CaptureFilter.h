// The capture source: one filter per camera with one output pin. It drives the camera only through the
// SDK's public API: its own handle (Tovira_Initialize), the frames through ToviraX_WaitFrame on the
// pin's streaming thread.
#pragma once

#include "dshow/CameraControls.h"
#include "dshow/ComPtr.h"
#include "dshow/VideoFormats.h"

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <mutex>

namespace tovira::dshow {

class CapturePin;

// {5B0E4E12-8C3A-4F0B-9D7E-2A6C1F3B9D40}
extern const CLSID CLSID_ToviraZ400KXCapture;

// A camera used by a filter cannot be opened by a second one: a second graph gets this at once.
constexpr HRESULT kCameraInUse = HRESULT_FROM_WIN32(ERROR_BUSY);
// The camera of a device entry is not connected.
constexpr HRESULT kCameraAbsent = VFW_E_NO_CAPTURE_HARDWARE;

// Counts live COM objects and server locks for DllCanUnloadNow.
extern std::atomic<long> g_serverReferences;

class CaptureFilter final : public IBaseFilter,
                            public IAMFilterMiscFlags,
                            public IPersistPropertyBag,
                            public ISpecifyPropertyPages {
public:
  static HRESULT create(REFIID iid, void** out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;
  // IAMFilterMiscFlags
  STDMETHODIMP_(ULONG) GetMiscFlags() override;
  // IPersistPropertyBag: the device entry names the camera's slot.
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
  // ISpecifyPropertyPages: the SDK's dialogs (SettingsPage).
  STDMETHODIMP GetPages(CAUUID* pages) override;
  // For the pin.
  HRESULT openCamera();                 // the SDK handle and the camera lock, once
  int camera() const { return camera_; }
  const CameraGeometry& geometry() const { return geometry_; }
  VideoFormat sdkFormat() const { return sdkFormat_; }
  FILTER_STATE state() const { return state_.load(); }
  REFERENCE_TIME startTime() const { return startTime_.load(); }
  ComPtr<IReferenceClock> clock();
  IFilterGraph* graph() const { return graph_; }
  void notify(long code, LONG_PTR param1, LONG_PTR param2);
  std::recursive_mutex& lock() { return lock_; }
  // Line and frame length of the pin's format (connected, chosen or the SDK's), for exposure times.
  void streamTiming(int* lineLength, int* frameLength);

private:
  CaptureFilter();
  ~CaptureFilter();
  void closeCamera();

  std::atomic<ULONG> references_{1};
  std::recursive_mutex lock_;          // state changes, connection and format (pin calls share it)
  std::mutex clockLock_;
  CapturePin* pin_ = nullptr;          // owned; its references are ours
  VideoProcAmp procAmp_{this};
  CameraControl cameraControl_{this};
  std::atomic<FILTER_STATE> state_{State_Stopped};
  std::atomic<REFERENCE_TIME> startTime_{0};
  ComPtr<IReferenceClock> clock_;
  IFilterGraph* graph_ = nullptr;      // not counted: the graph holds us
  std::atomic<IMediaEventSink*> events_{nullptr};  // the graph's, not counted either; read without the lock
  WCHAR name_[MAX_FILTER_NAME] = {};

  int slot_ = 0;                       // camera slot 0..7 of the SDK
  int camera_ = 0;                     // SDK handle, 0 while not open
  HANDLE cameraLock_ = nullptr;        // named object that marks the camera as used
  CameraGeometry geometry_;
  VideoFormat sdkFormat_;              // what the SDK's own settings chose

};

} // namespace tovira::dshow
