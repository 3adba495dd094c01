#include "dshow/Registration.h"

#include "dshow/CaptureFilter.h"
#include "dshow/SettingsPage.h"

#include "ToviraSdk_Z400KX.h"

#include <dshow.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace tovira::dshow {

namespace {

// One owned registry key.
class RegKey {
public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { if (key_) RegCloseKey(key_); }
  HKEY get() const { return key_; }
  HKEY* put() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    return &key_;
  }

private:
  HKEY key_ = nullptr;
};

std::wstring guidString(REFGUID g) {
  wchar_t text[64] = {};
  StringFromGUID2(g, text, 64);
  return text;
}

HKEY rootOf(RegistrationScope scope) { return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring classesPath(const std::wstring& below) { return L"Software\\Classes\\" + below; }

LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS createKey(HKEY root, const std::wstring& path, RegKey& key) {
  return RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
}

const std::wstring kFilterName = L"Z400KX capture source";
const wchar_t kInstancePrefix[] = L"ToviraZ400KX_";

// The slots that have a camera now. The SDK lists them; its handle is gone again when this returns.
std::vector<int> connectedSlots() {
  std::vector<int> slots;
  const int h = Tovira_Initialize(nullptr);
  if (!h) return slots;
  for (int slot = 0; slot < 8; ++slot) {
    char name[64];
    if (Tovira_GetDeviceName(h, slot, name, sizeof name)) slots.push_back(slot);
  }
  Tovira_Release(h);
  return slots;
}

// The filter data of a capture source: version 2, merit "do not use" (device entries are opened by
// moniker, never picked by intelligent connect), one output pin of major type video.
std::vector<BYTE> filterData() {
  std::vector<BYTE> d;
  auto dword = [&d](DWORD v) {
    for (int i = 0; i < 4; ++i) d.push_back(BYTE(v >> (8 * i)));
  };
  dword(2);                   // version
  dword(MERIT_DO_NOT_USE);    // merit
  dword(1);                   // pins
  dword(0);                   // reserved
  // Pin: signature "0pi3", flags (output), instances, media types, mediums, category offset.
  dword(0x33697030);
  dword(REG_PINFLAG_B_OUTPUT);
  dword(1);
  dword(1);
  dword(0);
  dword(0);
  // Media type: signature "0ty3", reserved, offsets of the major and minor type GUIDs.
  const DWORD guidsAt = DWORD(d.size()) + 16;
  dword(0x33797430);
  dword(0);
  dword(guidsAt);
  dword(guidsAt + 16);
  auto guid = [&d](REFGUID g) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&g);
    d.insert(d.end(), p, p + sizeof(GUID));
  };
  guid(MEDIATYPE_Video);
  guid(GUID_NULL);
  return d;
}

} // namespace

HRESULT registerServer(HMODULE module, RegistrationScope scope) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  const HKEY root = rootOf(scope);
  const std::wstring clsid = guidString(CLSID_ToviraZ400KXCapture);

  // The filter and its settings page, both served by this module.
  LSTATUS status = ERROR_SUCCESS;
  for (const auto& [id, name] : {std::pair{clsid, kFilterName},
                                 std::pair{guidString(CLSID_ToviraZ400KXSettingsPage), std::wstring(L"Z400KX settings page")}}) {
    RegKey classKey, serverKey;
    status = createKey(root, classesPath(L"CLSID\\" + id), classKey);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    setString(classKey.get(), nullptr, name);
    status = createKey(root, classesPath(L"CLSID\\" + id + L"\\InprocServer32"), serverKey);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    setString(serverKey.get(), nullptr, path);
    setString(serverKey.get(), L"ThreadingModel", L"Both");
  }

  // One device per camera connected now; with none, the first slot, so that an installation before
  // the camera is plugged in still lists it (opening it then fails with "no capture hardware").
  std::vector<int> slots = connectedSlots();
  if (slots.empty()) slots.push_back(0);
  const std::vector<BYTE> data = filterData();
  const std::wstring category = L"CLSID\\" + guidString(CLSID_VideoInputDeviceCategory) + L"\\Instance\\";
  for (int slot : slots) {
    wchar_t instance[32], friendly[64];
    std::swprintf(instance, 32, L"%ls%02d", kInstancePrefix, slot + 1);
    std::swprintf(friendly, 64, L"Z400KX camera %d", slot + 1);
    RegKey device;
    status = createKey(root, classesPath(category + instance), device);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    setString(device.get(), L"FriendlyName", friendly);
    setString(device.get(), L"CLSID", clsid);
    setString(device.get(), L"Description", std::wstring(instance));
    const DWORD slotValue = DWORD(slot);
    RegSetValueExW(device.get(), L"ToviraSlot", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&slotValue), sizeof slotValue);
    RegSetValueExW(device.get(), L"FilterData", 0, REG_BINARY, data.data(), DWORD(data.size()));
  }
  return S_OK;
}

HRESULT unregisterServer(RegistrationScope scope) {
  const HKEY root = rootOf(scope);
  const std::wstring clsid = guidString(CLSID_ToviraZ400KXCapture);
  HRESULT result = S_OK;
  // Device entries: every instance whose CLSID is ours (also those of cameras registered earlier).
  const std::wstring instances = classesPath(L"CLSID\\" + guidString(CLSID_VideoInputDeviceCategory) + L"\\Instance");
  RegKey list;
  if (RegOpenKeyExW(root, instances.c_str(), 0, KEY_READ, list.put()) == ERROR_SUCCESS) {
    std::vector<std::wstring> ours;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = 256;
      if (RegEnumKeyExW(list.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      wchar_t value[64] = {};
      DWORD valueSize = sizeof value - sizeof(wchar_t);
      if (RegGetValueW(list.get(), name, L"CLSID", RRF_RT_REG_SZ, nullptr, value, &valueSize) == ERROR_SUCCESS &&
          _wcsicmp(value, clsid.c_str()) == 0)
        ours.push_back(name);
    }
    for (const std::wstring& n : ours) {
      const LSTATUS s = RegDeleteTreeW(list.get(), n.c_str());
      if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(s);
    }
  }
  for (const std::wstring& id : {clsid, guidString(CLSID_ToviraZ400KXSettingsPage)}) {
    const LSTATUS s = RegDeleteTreeW(root, classesPath(L"CLSID\\" + id).c_str());
    if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(s);
  }
  return result;
}

} // namespace tovira::dshow
