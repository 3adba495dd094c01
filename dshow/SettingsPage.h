// The SDK's own settings dialogs for applications that show a filter's property pages (OpenCV's
// CAP_PROP_SETTINGS, FFmpeg's show_video_device_dialog, GraphEdit): one page with buttons that open the
// SDK's analogue dialog (gains, exposure, automatic exposure, mirrors) and image dialog (white balance,
// colour and tone filters) on the filter's camera. Both act on the running stream at once. The camera
// dialog (colour mode, window, sub-sampling) is not offered: it changes the format under a connected
// pin; the format is chosen through IAMStreamConfig instead.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>

namespace tovira::dshow {

// {5B0E4E13-8C3A-4F0B-9D7E-2A6C1F3B9D40}
extern const CLSID CLSID_ToviraZ400KXSettingsPage;

class SettingsPage final : public IPropertyPage {
public:
  static HRESULT create(REFIID iid, void** out);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT command) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR helpDir) override;
  STDMETHODIMP TranslateAccelerator(MSG* msg) override;

private:
  SettingsPage();
  ~SettingsPage();
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  std::atomic<ULONG> references_{1};
  IPropertyPageSite* site_ = nullptr;  // counted
  IUnknown* filter_ = nullptr;         // counted: keeps the camera's handle alive
  int camera_ = 0;
  HWND window_ = nullptr;
};

} // namespace tovira::dshow
