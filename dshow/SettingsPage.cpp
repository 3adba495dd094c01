#include "dshow/SettingsPage.h"

#include "dshow/CaptureFilter.h"

#include "ToviraSdk_Z400KX.h"

#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace tovira::dshow {

const CLSID CLSID_ToviraZ400KXSettingsPage = {0x5B0E4E13, 0x8C3A, 0x4F0B, {0x9D, 0x7E, 0x2A, 0x6C, 0x1F, 0x3B, 0x9D, 0x40}};

namespace {

constexpr wchar_t kWindowClass[] = L"ToviraZ400KXSettingsPage";
constexpr int kAnalogButton = 101, kImageButton = 102;
constexpr int kPageWidth = 260, kPageHeight = 90;

HINSTANCE moduleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return module;
}

} // namespace

HRESULT SettingsPage::create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  auto* page = new (std::nothrow) SettingsPage;
  if (!page) return E_OUTOFMEMORY;
  const HRESULT hr = page->QueryInterface(iid, out);
  page->Release();
  return hr;
}

SettingsPage::SettingsPage() { ++g_serverReferences; }

SettingsPage::~SettingsPage() {
  Deactivate();
  SetObjects(0, nullptr);
  SetPageSite(nullptr);
  --g_serverReferences;
}

STDMETHODIMP SettingsPage::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPropertyPage) {
    *out = static_cast<IPropertyPage*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SettingsPage::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) SettingsPage::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP SettingsPage::SetPageSite(IPropertyPageSite* site) {
  if (site_) site_->Release();
  site_ = site;
  if (site_) site_->AddRef();
  return S_OK;
}

STDMETHODIMP SettingsPage::SetObjects(ULONG count, IUnknown** objects) {
  if (filter_) filter_->Release();
  filter_ = nullptr;
  camera_ = 0;
  if (count == 0) return S_OK;
  if (!objects || !objects[0]) return E_POINTER;
  // The page belongs to our filter only: it is recognised by its class and lives in this module.
  IBaseFilter* base = nullptr;
  if (FAILED(objects[0]->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)))) return E_NOINTERFACE;
  CLSID clsid = {};
  if (FAILED(base->GetClassID(&clsid)) || clsid != CLSID_ToviraZ400KXCapture || moduleOf(*reinterpret_cast<void**>(base)) != moduleOf(&kWindowClass)) {
    base->Release();
    return E_NOINTERFACE;
  }
  auto* filter = static_cast<CaptureFilter*>(base);
  const HRESULT hr = filter->openCamera();
  if (FAILED(hr)) {
    base->Release();
    return hr;
  }
  filter_ = base;  // keeps the reference
  camera_ = filter->camera();
  return S_OK;
}

STDMETHODIMP SettingsPage::GetPageInfo(PROPPAGEINFO* info) {
  if (!info) return E_POINTER;
  static const wchar_t title[] = L"Z400KX";
  info->cb = sizeof *info;
  info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof title));
  if (!info->pszTitle) return E_OUTOFMEMORY;
  std::memcpy(info->pszTitle, title, sizeof title);
  info->size = {kPageWidth, kPageHeight};
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP SettingsPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (window_) return E_UNEXPECTED;
  if (!camera_) return E_UNEXPECTED;  // no SetObjects
  const HINSTANCE module = moduleOf(&kWindowClass);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = module;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassW(&wc);  // fails harmlessly when registered already
  const RECT r = rect ? *rect : RECT{0, 0, kPageWidth, kPageHeight};
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, L"", WS_CHILD | WS_CLIPCHILDREN, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, parent, nullptr, module, this);
  if (!window_) return HRESULT_FROM_WIN32(GetLastError());
  CreateWindowExW(0, L"BUTTON", L"Gain and exposure...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10, 10, 220,
                  26, window_, reinterpret_cast<HMENU>(INT_PTR(kAnalogButton)), module, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Colour and image...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10, 46, 220,
                  26, window_, reinterpret_cast<HMENU>(INT_PTR(kImageButton)), module, nullptr);
  return S_OK;
}

STDMETHODIMP SettingsPage::Deactivate() {
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
  return S_OK;
}

STDMETHODIMP SettingsPage::Show(UINT command) {
  if (!window_) return E_UNEXPECTED;
  ShowWindow(window_, command == SW_SHOW || command == SW_SHOWNORMAL ? SW_SHOWNORMAL : SW_HIDE);
  return S_OK;
}

STDMETHODIMP SettingsPage::Move(LPCRECT rect) {
  if (!window_ || !rect) return E_UNEXPECTED;
  MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  return S_OK;
}

// The SDK's dialogs apply (and on Cancel restore) the camera's values themselves.
STDMETHODIMP SettingsPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP SettingsPage::Apply() { return S_OK; }
STDMETHODIMP SettingsPage::Help(LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP SettingsPage::TranslateAccelerator(MSG*) { return S_FALSE; }

LRESULT CALLBACK SettingsPage::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  } else if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    auto* page = reinterpret_cast<SettingsPage*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (page && page->camera_) {
      // The SDK's dialogs need the common controls; the host may not have initialised them.
      INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
      InitCommonControlsEx(&controls);
      HWND owner = GetAncestor(hwnd, GA_ROOT);
      if (LOWORD(wParam) == kAnalogButton) Tovira_SetAnalogDlg(page->camera_, owner);
      if (LOWORD(wParam) == kImageButton) Tovira_SetImageDlg(page->camera_, owner);
    }
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace tovira::dshow
