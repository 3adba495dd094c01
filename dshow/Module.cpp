// The in-process server's entry points: the class factory and (un)registration.
//
//   regsvr32 ToviraZ400KXCapture.ax              machine-wide (administrator), else for this user
//   regsvr32 /n /i:user ToviraZ400KXCapture.ax   for this user only, no administrator rights needed
//   regsvr32 /u ToviraZ400KXCapture.ax           removes both
#include "dshow/CaptureFilter.h"
#include "dshow/Registration.h"
#include "dshow/SettingsPage.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <new>

using namespace tovira::dshow;

namespace {

HMODULE g_module = nullptr;

class ClassFactory final : public IClassFactory {
public:
  using Creator = HRESULT (*)(REFIID, void**);
  explicit ClassFactory(Creator create) : create_(create) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its references only keep the server loaded.
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++g_serverReferences); }
  STDMETHODIMP_(ULONG) Release() override { return ULONG(--g_serverReferences); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) ++g_serverReferences;
    else --g_serverReferences;
    return S_OK;
  }

private:
  Creator create_;
};

ClassFactory g_filterFactory(CaptureFilter::create);
ClassFactory g_pageFactory(SettingsPage::create);

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid == CLSID_ToviraZ400KXCapture) return g_filterFactory.QueryInterface(iid, out);
  if (clsid == CLSID_ToviraZ400KXSettingsPage) return g_pageFactory.QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow() { return g_serverReferences.load() == 0 ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  // Machine-wide where the caller may write there, else for the current user.
  HRESULT hr = registerServer(g_module, RegistrationScope::Machine);
  if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) {
    unregisterServer(RegistrationScope::Machine);
    hr = registerServer(g_module, RegistrationScope::User);
  }
  return hr;
}

HRESULT WINAPI DllUnregisterServer() {
  const HRESULT user = unregisterServer(RegistrationScope::User);
  const HRESULT machine = unregisterServer(RegistrationScope::Machine);
  if (machine == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) return user;  // nothing of ours can be there
  return FAILED(user) ? user : machine;
}

// regsvr32 /i:user (or /i:machine): the scope chosen explicitly.
HRESULT WINAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  RegistrationScope scope;
  if (commandLine && _wcsicmp(commandLine, L"user") == 0) scope = RegistrationScope::User;
  else if (commandLine && _wcsicmp(commandLine, L"machine") == 0) scope = RegistrationScope::Machine;
  else return E_INVALIDARG;
  if (!install) return unregisterServer(scope);
  const HRESULT hr = registerServer(g_module, scope);
  if (FAILED(hr)) unregisterServer(scope);
  return hr;
}

} // extern "C"
