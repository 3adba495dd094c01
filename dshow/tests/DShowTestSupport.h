// What the DirectShow tests share: the server loaded as applications load it (through COM after
// registration), graphs built the way OpenCV's DirectShow backend builds them, a Sample Grabber
// callback that keeps frames, the SDK's own frames of the same settings, and the SDK's settings key.
#pragma once

#include "dshow/ComPtr.h"

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace dshowtest {

using tovira::dshow::ComPtr;

extern const CLSID kCaptureClsid;
extern const CLSID kSampleGrabberClsid;
extern const CLSID kNullRendererClsid;
extern const GUID kSubtypeY800;
extern const GUID kSubtypeY16;

// The .ax beside the test program, loaded for its registration entry points.
struct Server {
  HMODULE module = nullptr;
  HRESULT(WINAPI* registerServer)() = nullptr;
  HRESULT(WINAPI* unregisterServer)() = nullptr;
  HRESULT(WINAPI* install)(BOOL, LPCWSTR) = nullptr;
  bool load();
  ~Server();
};

// The SDK's settings key, rewritten so each test starts from known camera values: a capture window
// preset (width x height at hStart, vStart), colour mode code, sub-sampling and wait time.
void writeSdkSettings(int width, int height, int hStart, int vStart, int colorCode = 2, int subSample = 0,
                      int waitTimeMs = 1, int clock = 0);
void deleteSdkSettings();

// Registry views of the server's entries (classes: the filter's or its settings page's) under HKLM\Software\Classes or HKCU\Software\Classes.
bool classRegistered(HKEY root);
std::vector<std::wstring> deviceInstances(HKEY root);  // instance keys whose CLSID is the filter's

struct Device {
  std::wstring friendlyName;
  ComPtr<IMoniker> moniker;
};
// The video input category as the system device enumerator lists it (only our devices).
std::vector<Device> ourDevices();

struct Frame {
  std::vector<BYTE> pixels;
  LONGLONG mediaStart = -1;  // the frame id the filter put into the sample
  REFERENCE_TIME start = 0;
  bool hasTime = false;
};

class GrabberCallback final : public ISampleGrabberCB {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // lives on the test's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

  bool waitFor(size_t count, DWORD timeoutMs);  // true when that many frames arrived in time
  std::vector<Frame> take();
  size_t count();
  DWORD delayMs = 0;  // a slow consumer: each sample is held this long (set before the graph runs)

private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Frame> frames_;
};

// A graph: capture source -> Sample Grabber -> Null Renderer, connected by the capture graph builder
// through the pin of category capture.
struct Graph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> grabberFilter;
  ComPtr<ISampleGrabber> grabber;
  ComPtr<IBaseFilter> renderer;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  GrabberCallback callback;

  // Adds the filters; the source is bound from a device moniker.
  HRESULT create(IBaseFilter* sourceFilter);
  HRESULT render();  // RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, ...)
  ComPtr<IAMStreamConfig> streamConfig();
  AM_MEDIA_TYPE connectedType();  // of the grabber's input; free with freeType
  // Waits for an event among `codes`; returns it, or 0 when none came within timeoutMs.
  long waitForEvent(std::initializer_list<long> codes, DWORD timeoutMs);
  // Released while running when false: nothing stops the graph but its own release.
  bool stopOnRelease = true;
  ~Graph();
};

HRESULT bindDevice(const Device& d, ComPtr<IBaseFilter>& filter);
void freeType(AM_MEDIA_TYPE& mt);

// The SDK's own frames of the given settings, taken on another camera slot through the frame callback:
// every frame whose id is wanted, collected until an id beyond the last wanted one arrives.
struct SdkFrames {
  std::map<unsigned long long, std::vector<BYTE>> frames;
  int lineLength = 0, frameLength = 0;  // read from the sensor while it streamed
  long long pixelClockHz = 0;
  int width = 0, height = 0, stride = 0;
};
bool takeSdkFrames(int slot, int colorMode, int subSample, int grayMode, int rowOrder,
                   const std::vector<unsigned long long>& wanted, DWORD timeoutMs, SdkFrames& out);

// The frame number the virtual camera paints into the first output rows: 8 x 8 cells, cell k bright when
// bit k is set. `rowFour` is output row 4 (counted from the top), read at each cell's centre; sampleBytes
// 1 or 2 (little-endian, full scale `maxValue`), the sample read at byte `channel` of a pixel.
unsigned decodeFrameStrip(const BYTE* rowFour, int width, int bytesPerPixel, int channel, int sampleBytes, int maxValue);

} // namespace dshowtest
