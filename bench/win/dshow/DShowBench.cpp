// What the DirectShow source costs on top of the SDK: process CPU time per delivered frame of a graph
// (capture source -> Null Renderer) against the SDK's frame callback alone (a pool of four buffers,
// each returned at once), same window, 24-bit colour, in one run, alternating. Run by hand under Wine
// with TOVIRA_VIRTUAL_CAMERAS=0 (the sensor's pace, so that every frame is delivered in both).
// Also measured: the filter's SDK calls alone (a wait thread) and the graph without a reference clock.
// It stores a capture-window preset of the given size in the SDK's settings of this user (the filter
// takes its size from there), centred on the sensor.
//
//   dshow_bench.exe [width height seconds rounds]     defaults: 1920 1080 8 3

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ToviraSdk_Z400KX_ext.h"

namespace {

const CLSID kCaptureClsid = {0x5B0E4E12, 0x8C3A, 0x4F0B, {0x9D, 0x7E, 0x2A, 0x6C, 0x1F, 0x3B, 0x9D, 0x40}};
const CLSID kNullRendererClsid = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

double processCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) * 1e-7; };
  return seconds(kernel) + seconds(user);
}

void storeWindow(int width, int height) {
  HKEY key = nullptr, preset = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brenik\\ToviraZ400KXSdk", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  auto set = [](HKEY k, const wchar_t* name, DWORD v) { RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4); };
  set(key, L"Size", 0);
  set(key, L"Color", 2);
  set(key, L"SubSample", 0);
  RegCreateKeyExW(key, L"Size_00", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &preset, nullptr);
  set(preset, L"TH", 3840);
  set(preset, L"TV", 2748);
  set(preset, L"EH", DWORD(width));
  set(preset, L"EV", DWORD(height));
  set(preset, L"EHS", DWORD((3840 - width) / 2 & ~1));
  set(preset, L"EVS", DWORD((2748 - height) / 2 & ~1));
  set(preset, L"Buf", 10);
  RegCloseKey(preset);
  RegCloseKey(key);
}

struct Result {
  double cpuPerFrameMs = 0;
  long frames = 0;
};

void returnAtOnce(int h, void* buffer, const TOVIRAX_FRAME_META*, void* user) {
  ++*static_cast<std::atomic<long>*>(user);
  ToviraX_ReturnBuffer(h, buffer);
}

Result sdkCallback(int seconds) {
  Result r;
  const int h = Tovira_Initialize(nullptr);
  Tovira_SetColorMode(h, 24);
  const size_t bytes = size_t((Tovira_Width(h) * 3 + 3) & ~3) * size_t(Tovira_Height(h));
  std::vector<std::vector<unsigned char>> pool(4, std::vector<unsigned char>(bytes));
  void* buffers[4] = {pool[0].data(), pool[1].data(), pool[2].data(), pool[3].data()};
  std::atomic<long> frames{0};
  ToviraX_SetFrameCallback(h, returnAtOnce, &frames, buffers, 4, int(bytes), 0);
  Tovira_StartPreview(h);
  while (frames < 2) Sleep(10);  // warmed up
  const long before = frames;
  const double cpu = processCpuSeconds();
  Sleep(DWORD(seconds) * 1000);
  const double used = processCpuSeconds() - cpu;
  r.frames = frames - before;
  Tovira_StopPreview(h);
  ToviraX_SetFrameCallback(h, nullptr, nullptr, nullptr, 0, 0, 0);
  Tovira_Release(h);
  r.cpuPerFrameMs = r.frames ? used * 1e3 / r.frames : 0;
  return r;
}

// The same frames taken by a thread of our own with ToviraX_WaitFrame, bottom row first (what the
// filter's streaming thread does, without DirectShow).
Result sdkWait(int seconds) {
  Result r;
  const int h = Tovira_Initialize(nullptr);
  Tovira_SetColorMode(h, 24);
  const size_t bytes = size_t((Tovira_Width(h) * 3 + 3) & ~3) * size_t(Tovira_Height(h));
  std::vector<unsigned char> frame(bytes);
  Tovira_StartPreview(h);
  TOVIRAX_FRAME_META meta = {sizeof meta};
  unsigned long long last = TOVIRAX_NEXT_FRAME;
  for (int i = 0; i < 2; ++i)
    if (ToviraX_WaitFrame(h, last, 30000, frame.data(), int(bytes), 0, &meta) == 1) last = meta.frameId;
  const double cpu = processCpuSeconds();
  const DWORD begin = GetTickCount();
  while (GetTickCount() - begin < DWORD(seconds) * 1000)
    if (ToviraX_WaitFrame(h, last, 500, frame.data(), int(bytes), 0, &meta) == 1) {
      last = meta.frameId;
      ++r.frames;
    }
  const double used = processCpuSeconds() - cpu;
  Tovira_StopPreview(h);
  Tovira_Release(h);
  r.cpuPerFrameMs = r.frames ? used * 1e3 / r.frames : 0;
  return r;
}

Result graph(HMODULE server, int seconds, bool withClock) {
  Result r;
  auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  IBaseFilter* source = nullptr;
  IBaseFilter* renderer = nullptr;
  IGraphBuilder* builder = nullptr;
  ICaptureGraphBuilder2* capture = nullptr;
  IMediaControl* control = nullptr;
  IAMDroppedFrames* counts = nullptr;
  if (!getClassObject || FAILED(getClassObject(kCaptureClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&source))) ||
      FAILED(CoCreateInstance(kNullRendererClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&renderer))) ||
      FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, reinterpret_cast<void**>(&builder))) ||
      FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&capture)))) {
    std::fprintf(stderr, "cannot create the graph's objects\n");
    std::exit(1);
  }
  capture->SetFiltergraph(builder);
  builder->AddFilter(source, L"Z400KX");
  builder->AddFilter(renderer, L"Null Renderer");
  if (FAILED(capture->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source, nullptr, renderer)) ||
      FAILED(capture->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source, IID_IAMDroppedFrames, reinterpret_cast<void**>(&counts)))) {
    std::fprintf(stderr, "cannot connect the graph\n");
    std::exit(1);
  }
  builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  if (!withClock) {
    // No reference clock: no time stamps, and the renderer draws each sample when it arrives.
    IMediaFilter* graphFilter = nullptr;
    builder->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&graphFilter));
    graphFilter->SetSyncSource(nullptr);
    graphFilter->Release();
  }
  control->Run();
  long delivered = 0;
  while (counts->GetNumNotDropped(&delivered) == S_OK && delivered < 2) Sleep(10);  // warmed up
  const long before = delivered;
  const double cpu = processCpuSeconds();
  Sleep(DWORD(seconds) * 1000);
  const double used = processCpuSeconds() - cpu;
  counts->GetNumNotDropped(&delivered);
  r.frames = delivered - before;
  control->Stop();
  r.cpuPerFrameMs = r.frames ? used * 1e3 / r.frames : 0;
  counts->Release();
  control->Release();
  capture->Release();
  builder->Release();
  renderer->Release();
  source->Release();
  factory->Release();
  return r;
}

// CPU time of one copy of a frame of that size, for expressing the difference in copies.
double copyMs(size_t bytes) {
  std::vector<unsigned char> from(bytes, 1), to(bytes);
  const int copies = 40;
  const double cpu = processCpuSeconds();
  for (int i = 0; i < copies; ++i) {
    from[size_t(i)] = (unsigned char)i;
    std::memcpy(to.data(), from.data(), bytes);
  }
  const double used = processCpuSeconds() - cpu;
  return to[7] == 0xFF ? 0 : used * 1e3 / copies;
}

} // namespace

int main(int argc, char** argv) {
  const int width = argc > 1 ? std::atoi(argv[1]) : 1920;
  const int height = argc > 2 ? std::atoi(argv[2]) : 1080;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 8;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  storeWindow(width, height);
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  *(wcsrchr(path, L'\\') + 1) = 0;
  wcscat(path, L"ToviraZ400KXCapture.ax");
  HMODULE server = LoadLibraryW(path);
  if (!server) {
    std::fprintf(stderr, "ToviraZ400KXCapture.ax not found beside the program\n");
    return 1;
  }
  std::vector<double> sdk, dshow, wait, noClock;
  std::printf("%dx%d RGB24, %d s per run\n", width, height, seconds);
  for (int i = 0; i < rounds; ++i) {
    const Result a = sdkCallback(seconds);
    const Result b = graph(server, seconds, true);
    const Result c = sdkWait(seconds);
    const Result d = graph(server, seconds, false);
    std::printf("round %d: SDK callback %.3f ms CPU/frame (%ld frames), graph %.3f ms (%ld frames), SDK wait thread %.3f ms (%ld frames), graph without clock %.3f ms (%ld frames)\n",
                i + 1, a.cpuPerFrameMs, a.frames, b.cpuPerFrameMs, b.frames, c.cpuPerFrameMs, c.frames, d.cpuPerFrameMs, d.frames);
    wait.push_back(c.cpuPerFrameMs);
    noClock.push_back(d.cpuPerFrameMs);
    sdk.push_back(a.cpuPerFrameMs);
    dshow.push_back(b.cpuPerFrameMs);
  }
  std::sort(sdk.begin(), sdk.end());
  std::sort(dshow.begin(), dshow.end());
  std::sort(wait.begin(), wait.end());
  std::sort(noClock.begin(), noClock.end());
  const double a = sdk[sdk.size() / 2], b = dshow[dshow.size() / 2], c = wait[wait.size() / 2];
  const double copy = copyMs(size_t((width * 3 + 3) & ~3) * size_t(height));
  std::printf("median: SDK callback %.3f ms, graph %.3f ms CPU per frame; graph / callback = %.2f\n", a, b, a > 0 ? b / a : 0);
  std::printf("SDK wait thread alone %.3f ms; graph / wait thread = %.2f\n", c, c > 0 ? b / c : 0);
  const double d = noClock[noClock.size() / 2];
  std::printf("graph without a clock %.3f ms; / callback = %.2f\n", d, a > 0 ? d / a : 0);
  std::printf("one frame copy: %.3f ms CPU; the graph's extra per frame = %.2f copies\n", copy, copy > 0 ? (b - a) / copy : 0);
  FreeLibrary(server);
  CoUninitialize();
  return 0;
}
