// The standard controls of a capture filter, mapped onto the SDK's parameters: IAMVideoProcAmp
// (picture) and IAMCameraControl (exposure). The two interfaces have methods of the same names and
// shapes, so each is its own small object; their references are the filter's.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace tovira::dshow {

class CaptureFilter;

// Exposure in DirectShow's unit (log2 of seconds) from and to the sensor's lines, with the SDK's
// microsecond rule (µs = (line length x lines + frame length) / 24) for the line and frame length of
// the stream's read-out.
long exposureLog2Seconds(int lines, int lineLength, int frameLength);
int exposureLines(long log2Seconds, int lineLength, int frameLength);  // 1..8191

class VideoProcAmp final : public IAMVideoProcAmp {
public:
  explicit VideoProcAmp(CaptureFilter* filter) : filter_(filter) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* defaultValue, long* flags) override;
  STDMETHODIMP Set(long property, long value, long flags) override;
  STDMETHODIMP Get(long property, long* value, long* flags) override;

private:
  CaptureFilter* filter_;
};

class CameraControl final : public IAMCameraControl {
public:
  explicit CameraControl(CaptureFilter* filter) : filter_(filter) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* defaultValue, long* flags) override;
  STDMETHODIMP Set(long property, long value, long flags) override;
  STDMETHODIMP Get(long property, long* value, long* flags) override;

private:
  CaptureFilter* filter_;
};

} // namespace tovira::dshow
