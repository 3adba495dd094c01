#include "dshow/CameraControls.h"

#include "dshow/CaptureFilter.h"

#include "ToviraSdk_Z400KX.h"

#include <algorithm>
#include <cmath>

namespace tovira::dshow {

namespace {

// One picture control: the SDK filter id and its range as the SDK defines it.
struct ProcAmpEntry {
  long property;
  int filterId;
  long min, max, defaultValue;
};

// Hue is in degrees as the SDK takes it (-360..360, not DirectShow's usual -180..180); gamma 100 is
// neutral (DirectShow's gamma is also a value x 100); gain is the sensor's global gain, 64 = unity.
constexpr ProcAmpEntry kProcAmp[] = {
    {VideoProcAmp_Brightness, TOVIRA_FILTER_BRIGHTNESS, -255, 255, 0},
    {VideoProcAmp_Contrast, TOVIRA_FILTER_CONTRAST, -127, 127, 0},
    {VideoProcAmp_Hue, TOVIRA_FILTER_HUE, -360, 360, 0},
    {VideoProcAmp_Saturation, TOVIRA_FILTER_SATURATION, -255, 255, 0},
    {VideoProcAmp_Sharpness, TOVIRA_FILTER_SHARPNESS, 0, 30, 0},
    {VideoProcAmp_Gamma, TOVIRA_FILTER_GAMMA, 0, 200, 100},
    {VideoProcAmp_Gain, TOVIRA_FILTER_GLOBAL_GAIN, 0, 127, 64},
};

constexpr int kAutoIrisOff = 0, kAutoIrisExposure = 1, kAutoIrisGain = 2;
constexpr int kMinLines = 1, kMaxLines = 8191;  // the range of the SDK's dialog and automatic exposure

const ProcAmpEntry* procAmpEntry(long property) {
  for (const ProcAmpEntry& e : kProcAmp)
    if (e.property == property) return &e;
  return nullptr;
}

double exposureMicros(int lines, int lineLength, int frameLength) {
  return (double(lineLength) * lines + frameLength) / 24.0;
}

} // namespace

long exposureLog2Seconds(int lines, int lineLength, int frameLength) {
  const double seconds = exposureMicros(std::max(lines, 1), lineLength, frameLength) / 1e6;
  return long(std::lround(std::log2(seconds)));
}

int exposureLines(long log2Seconds, int lineLength, int frameLength) {
  const double micros = std::ldexp(1e6, int(std::clamp(log2Seconds, -30L, 30L)));
  const double lines = (micros * 24.0 - frameLength) / std::max(1, lineLength);
  return int(std::clamp(lines, double(kMinLines), double(kMaxLines)));
}

// ---- IAMVideoProcAmp -------------------------------------------------------------------------------------

STDMETHODIMP VideoProcAmp::QueryInterface(REFIID iid, void** out) { return filter_->QueryInterface(iid, out); }
STDMETHODIMP_(ULONG) VideoProcAmp::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) VideoProcAmp::Release() { return filter_->Release(); }

STDMETHODIMP VideoProcAmp::GetRange(long property, long* min, long* max, long* step, long* defaultValue, long* flags) {
  if (!min || !max || !step || !defaultValue || !flags) return E_POINTER;
  if (property == VideoProcAmp_WhiteBalance) {
    // The camera balances with three colour gains, not a colour temperature: only automatic balance
    // on and off is offered here (the gains are in the SDK's image dialog).
    *min = *max = *defaultValue = 0;
    *step = 0;
    *flags = VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual;
    return S_OK;
  }
  const ProcAmpEntry* e = procAmpEntry(property);
  if (!e) return E_PROP_ID_UNSUPPORTED;
  *min = e->min;
  *max = e->max;
  *step = 1;
  *defaultValue = e->defaultValue;
  *flags = property == VideoProcAmp_Gain ? VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual : VideoProcAmp_Flags_Manual;
  return S_OK;
}

STDMETHODIMP VideoProcAmp::Set(long property, long value, long flags) {
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  const int h = filter_->camera();
  const bool automatic = (flags & VideoProcAmp_Flags_Auto) != 0;
  if (property == VideoProcAmp_WhiteBalance) return Tovira_SetBayerGainAuto(h, automatic ? 1 : 0) ? S_OK : E_FAIL;
  const ProcAmpEntry* e = procAmpEntry(property);
  if (!e) return E_PROP_ID_UNSUPPORTED;
  if (property == VideoProcAmp_Gain) {
    int ok = 0;
    const int mode = Tovira_GetAutoIris(h, &ok);
    // The SDK regulates either exposure or gain: automatic gain replaces automatic exposure.
    if (automatic) return Tovira_SetAutoIris(h, kAutoIrisGain) ? S_OK : E_FAIL;
    if (mode == kAutoIrisGain && !Tovira_SetAutoIris(h, kAutoIrisOff)) return E_FAIL;
  } else if (automatic) {
    return E_INVALIDARG;
  }
  if (value < e->min || value > e->max) return E_INVALIDARG;
  return Tovira_SetFilterValue(h, e->filterId, int(value)) ? S_OK : E_FAIL;
}

STDMETHODIMP VideoProcAmp::Get(long property, long* value, long* flags) {
  if (!value || !flags) return E_POINTER;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  const int h = filter_->camera();
  int ok = 0;
  if (property == VideoProcAmp_WhiteBalance) {
    const int on = Tovira_GetBayerGainAuto(h, &ok);
    *value = 0;
    *flags = on ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual;
    return ok ? S_OK : E_FAIL;
  }
  const ProcAmpEntry* e = procAmpEntry(property);
  if (!e) return E_PROP_ID_UNSUPPORTED;
  *value = Tovira_GetFilterValue(h, e->filterId, &ok);
  *flags = VideoProcAmp_Flags_Manual;
  if (property == VideoProcAmp_Gain) {
    int modeOk = 0;
    if (Tovira_GetAutoIris(h, &modeOk) == kAutoIrisGain && modeOk) *flags = VideoProcAmp_Flags_Auto;
  }
  return ok ? S_OK : E_FAIL;
}

// ---- IAMCameraControl: exposure ----------------------------------------------------------------------------

STDMETHODIMP CameraControl::QueryInterface(REFIID iid, void** out) { return filter_->QueryInterface(iid, out); }
STDMETHODIMP_(ULONG) CameraControl::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) CameraControl::Release() { return filter_->Release(); }

STDMETHODIMP CameraControl::GetRange(long property, long* min, long* max, long* step, long* defaultValue, long* flags) {
  if (!min || !max || !step || !defaultValue || !flags) return E_POINTER;
  if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  int lineLength = 0, frameLength = 0;
  filter_->streamTiming(&lineLength, &frameLength);
  // Whole powers of two that the sensor can reach: from the shortest exposure rounded up to the longest
  // rounded down.
  *min = long(std::ceil(std::log2(exposureMicros(kMinLines, lineLength, frameLength) / 1e6)));
  *max = long(std::floor(std::log2(exposureMicros(kMaxLines, lineLength, frameLength) / 1e6)));
  *step = 1;
  *defaultValue = std::clamp(exposureLog2Seconds(2748, lineLength, frameLength), *min, *max);
  *flags = CameraControl_Flags_Auto | CameraControl_Flags_Manual;
  return S_OK;
}

STDMETHODIMP CameraControl::Set(long property, long value, long flags) {
  if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  const int h = filter_->camera();
  if (flags & CameraControl_Flags_Auto) return Tovira_SetAutoIris(h, kAutoIrisExposure) ? S_OK : E_FAIL;
  long min, max, step, def, caps;
  if (FAILED(hr = GetRange(property, &min, &max, &step, &def, &caps))) return hr;
  if (value < min || value > max) return E_INVALIDARG;
  int ok = 0;
  if (Tovira_GetAutoIris(h, &ok) == kAutoIrisExposure && !Tovira_SetAutoIris(h, kAutoIrisOff)) return E_FAIL;
  int lineLength = 0, frameLength = 0;
  filter_->streamTiming(&lineLength, &frameLength);
  return Tovira_SetExposureTime(h, exposureLines(value, lineLength, frameLength)) ? S_OK : E_FAIL;
}

STDMETHODIMP CameraControl::Get(long property, long* value, long* flags) {
  if (!value || !flags) return E_POINTER;
  if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
  HRESULT hr = filter_->openCamera();
  if (FAILED(hr)) return hr;
  const int h = filter_->camera();
  int ok = 0, modeOk = 0;
  const int lines = Tovira_GetExposureTime(h, &ok);
  if (!ok) return E_FAIL;
  int lineLength = 0, frameLength = 0;
  filter_->streamTiming(&lineLength, &frameLength);
  *value = exposureLog2Seconds(lines, lineLength, frameLength);
  *flags = Tovira_GetAutoIris(h, &modeOk) == kAutoIrisExposure ? CameraControl_Flags_Auto : CameraControl_Flags_Manual;
  return S_OK;
}

} // namespace tovira::dshow
