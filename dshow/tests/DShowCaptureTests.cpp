// The capture source used the way DirectShow applications use it: registered, found by the system
// device enumerator, bound from its moniker, connected by the capture graph builder to the Sample
// Grabber and the Null Renderer, run, stopped, run again. Run with virtual cameras 0 and 2 at the
// sensor's pace: camera 0 feeds the graphs, camera 2 gives the SDK's own frames of the same settings.
#include "dshow/tests/DShowTestSupport.h"

#include "ToviraSdk_Z400KX_ext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

using namespace dshowtest;

namespace {

constexpr DWORD kGenerousMs = 120000;  // bounded waits: a busy machine is slow, never this slow

// The capture window every graph test uses, set as the SDK's stored preset: small enough that frames
// come every few milliseconds at the sensor's pace, odd enough (644 / 4 = 161 columns) that grey rows
// of the quarter read-out are packed differently from the SDK's padded ones.
constexpr int kWindowWidth = 644, kWindowHeight = 484, kWindowX = 960, kWindowY = 834;

class DShowTest : public ::testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(server.load());
    server.unregisterServer();
  }
  void TearDown() override {
    server.unregisterServer();
    CoUninitialize();
  }
  Server server;
};

class DShowGraphTest : public DShowTest {
protected:
  void SetUp() override {
    DShowTest::SetUp();
    writeSdkSettings(kWindowWidth, kWindowHeight, kWindowX, kWindowY);
    ASSERT_EQ(server.registerServer(), S_OK);
    for (Device& d : ourDevices()) {
      if (d.friendlyName == L"Z400KX camera 1") camera0 = d;
      if (d.friendlyName == L"Z400KX camera 3") camera2 = d;
    }
    ASSERT_TRUE(camera0.moniker && camera2.moniker) << "both virtual cameras are listed";
  }
  Device camera0, camera2;
};

struct FormatCase {
  const GUID* subtype;
  const char* name;
  int subSample;
  int sdkColorMode, grayMode, rowOrder, bytesPerPixel;
};

const FormatCase kFormats[] = {
    {&MEDIASUBTYPE_RGB24, "RGB24", 0, 24, 0, 0, 3}, {&MEDIASUBTYPE_RGB24, "RGB24", 1, 24, 0, 0, 3},
    {&MEDIASUBTYPE_RGB24, "RGB24", 2, 24, 0, 0, 3}, {&MEDIASUBTYPE_RGB32, "RGB32", 0, 32, 0, 0, 4},
    {&MEDIASUBTYPE_RGB32, "RGB32", 1, 32, 0, 0, 4}, {&MEDIASUBTYPE_RGB32, "RGB32", 2, 32, 0, 0, 4},
    {&kSubtypeY800, "Y800", 0, 8, 2, 1, 1},         {&kSubtypeY800, "Y800", 1, 8, 2, 1, 1},
    {&kSubtypeY800, "Y800", 2, 8, 2, 1, 1},         {&kSubtypeY16, "Y16", 0, 16, 0, 1, 2},
    {&kSubtypeY16, "Y16", 1, 16, 0, 1, 2},          {&kSubtypeY16, "Y16", 2, 16, 0, 1, 2},
};

// Chooses the capability of that subtype and size through IAMStreamConfig, as applications do.
HRESULT chooseFormat(IAMStreamConfig* config, const GUID& subtype, int width, int height) {
  int count = 0, size = 0;
  HRESULT hr = config->GetNumberOfCapabilities(&count, &size);
  if (FAILED(hr)) return hr;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK) continue;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    HRESULT result = S_FALSE;
    if (mt->subtype == subtype && vih->bmiHeader.biWidth == width && vih->bmiHeader.biHeight == height)
      result = config->SetFormat(mt);
    freeType(*mt);
    CoTaskMemFree(mt);
    if (result != S_FALSE) return result;
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

int rowOfTop(const FormatCase& f, int height, int y) { return f.rowOrder == 0 ? height - 1 - y : y; }

} // namespace

TEST(DShowPlatform, WineCreatesTheObjectsDirectShowApplicationsUse) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const struct {
    const CLSID* clsid;
    const char* name;
  } objects[] = {{&CLSID_FilterGraph, "filter graph"},
                 {&CLSID_CaptureGraphBuilder2, "capture graph builder"},
                 {&CLSID_SystemDeviceEnum, "system device enumerator"},
                 {&kSampleGrabberClsid, "Sample Grabber"},
                 {&kNullRendererClsid, "Null Renderer"},
                 {&CLSID_MemoryAllocator, "memory allocator"}};
  for (const auto& o : objects) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(*o.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()), S_OK) << o.name;
  }
  CoUninitialize();
}

TEST_F(DShowTest, EachCameraIsOneDeviceAndUnregisteringLeavesNothing) {
  writeSdkSettings(kWindowWidth, kWindowHeight, kWindowX, kWindowY);
  // regsvr32 without options: machine-wide where allowed (always under Wine), else for the user.
  ASSERT_EQ(server.registerServer(), S_OK);
  EXPECT_TRUE(classRegistered(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(deviceInstances(HKEY_LOCAL_MACHINE).size(), 2u);
  std::vector<Device> devices = ourDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_NE(devices[0].friendlyName, devices[1].friendlyName);
  for (const Device& d : devices) {
    EXPECT_NE(d.friendlyName.find(L"Z400KX"), std::wstring::npos);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(bindDevice(d, filter), S_OK);
    ComPtr<IAMFilterMiscFlags> flags = filter.as<IAMFilterMiscFlags>(IID_IAMFilterMiscFlags);
    ASSERT_TRUE(flags);
    EXPECT_EQ(flags->GetMiscFlags(), ULONG(AM_FILTER_MISC_FLAGS_IS_SOURCE));
  }
  devices.clear();

  ASSERT_EQ(server.unregisterServer(), S_OK);
  EXPECT_FALSE(classRegistered(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(classRegistered(HKEY_CURRENT_USER));
  EXPECT_TRUE(deviceInstances(HKEY_LOCAL_MACHINE).empty());
  EXPECT_TRUE(deviceInstances(HKEY_CURRENT_USER).empty());
  EXPECT_TRUE(ourDevices().empty());
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(kCaptureClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid()),
            REGDB_E_CLASSNOTREG);
}

// The one-line way: regsvr32 in a process of its own, silent.
TEST_F(DShowTest, Regsvr32RegistersAndUnregisters) {
  writeSdkSettings(kWindowWidth, kWindowHeight, kWindowX, kWindowY);
  wchar_t ax[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(server.module, ax, MAX_PATH), 0u);
  auto regsvr32 = [&](const wchar_t* options) {
    std::wstring line = std::wstring(L"regsvr32.exe /s ") + options + L" \"" + ax + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return DWORD(-1);
    DWORD code = DWORD(-2);
    if (WaitForSingleObject(pi.hProcess, kGenerousMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  };
  ASSERT_EQ(regsvr32(L""), 0u);
  EXPECT_EQ(ourDevices().size(), 2u);
  ASSERT_EQ(regsvr32(L"/u"), 0u);
  EXPECT_TRUE(ourDevices().empty());
  EXPECT_FALSE(classRegistered(HKEY_LOCAL_MACHINE));
}

TEST_F(DShowTest, PerUserRegistrationWritesOnlyTheUsersClasses) {
  writeSdkSettings(kWindowWidth, kWindowHeight, kWindowX, kWindowY);
  ASSERT_EQ(server.install(TRUE, L"user"), S_OK);
  EXPECT_TRUE(classRegistered(HKEY_CURRENT_USER));
  EXPECT_FALSE(classRegistered(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(deviceInstances(HKEY_CURRENT_USER).size(), 2u);
  EXPECT_TRUE(deviceInstances(HKEY_LOCAL_MACHINE).empty());
  // Only the registry is checked here: Wine reads neither COM classes nor device entries from the
  // user's classes (its HKEY_CLASSES_ROOT is the machine's alone, where Windows merges the user's in),
  // so under Wine a per-user registration is not found by CoCreateInstance or the device enumerator,
  // and the graph tests register machine-wide.
  EXPECT_EQ(server.install(TRUE, L"elsewhere"), E_INVALIDARG);

  ASSERT_EQ(server.install(FALSE, L"user"), S_OK);
  EXPECT_FALSE(classRegistered(HKEY_CURRENT_USER));
  EXPECT_TRUE(deviceInstances(HKEY_CURRENT_USER).empty());
  EXPECT_TRUE(ourDevices().empty());
}

TEST_F(DShowGraphTest, CapabilitiesFollowTheStoredWindowAndTheSensorTiming) {
  // The full frame (the SDK's first-run preset) with the sensor's worked timing: line length 3952 and
  // 2891 lines at full resolution, 2032 x 1517 at 1/2 skip, 1192 x 830 at 1/4, at 48 MHz.
  writeSdkSettings(3840, 2748, 0, 0);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(bindDevice(camera0, filter), S_OK);
  Graph g;
  ASSERT_EQ(g.create(filter.get()), S_OK);
  ComPtr<IAMStreamConfig> config = g.streamConfig();
  ASSERT_TRUE(config);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 12);
  ASSERT_EQ(size, int(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  const LONGLONG frameTime[3] = {3952LL * 2891 * 10'000'000 / 48'000'000, 2032LL * 1517 * 10'000'000 / 48'000'000,
                                 1192LL * 830 * 10'000'000 / 48'000'000};
  const SIZE sizes[3] = {{3840, 2748}, {1920, 1374}, {960, 687}};
  std::set<std::pair<std::string, int>> seen;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    ASSERT_EQ(mt->formattype, FORMAT_VideoInfo);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    int code = -1;
    for (int c = 0; c < 3; ++c)
      if (vih->bmiHeader.biWidth == sizes[c].cx && vih->bmiHeader.biHeight == sizes[c].cy) code = c;
    ASSERT_GE(code, 0) << vih->bmiHeader.biWidth << " x " << vih->bmiHeader.biHeight;
    EXPECT_EQ(vih->AvgTimePerFrame, frameTime[code]);
    EXPECT_EQ(caps.MinFrameInterval, frameTime[code]);
    EXPECT_EQ(caps.MaxFrameInterval, frameTime[code]);
    EXPECT_EQ(caps.MaxOutputSize.cx, sizes[code].cx);
    EXPECT_EQ(caps.MaxOutputSize.cy, sizes[code].cy);
    EXPECT_EQ(caps.InputSize.cx, 3840);
    const int bits = vih->bmiHeader.biBitCount;
    const LONG stride = mt->subtype == MEDIASUBTYPE_RGB24 || mt->subtype == MEDIASUBTYPE_RGB32
                            ? (sizes[code].cx * bits / 8 + 3) & ~3
                            : sizes[code].cx * bits / 8;
    EXPECT_EQ(LONG(vih->bmiHeader.biSizeImage), stride * sizes[code].cy);
    EXPECT_EQ(LONG(mt->lSampleSize), stride * sizes[code].cy);
    const char* kind = mt->subtype == MEDIASUBTYPE_RGB24   ? "RGB24"
                       : mt->subtype == MEDIASUBTYPE_RGB32 ? "RGB32"
                       : mt->subtype == kSubtypeY800       ? "Y800"
                       : mt->subtype == kSubtypeY16        ? "Y16"
                                                           : "?";
    seen.insert({kind, code});
    freeType(*mt);
    CoTaskMemFree(mt);
  }
  EXPECT_EQ(seen.size(), 12u) << "every kind at every sub-sampling, once";
  EXPECT_EQ(config->GetStreamCaps(12, nullptr, nullptr), E_POINTER);
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  EXPECT_EQ(config->GetStreamCaps(12, &mt, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
  // Before SetFormat the pin's format is the one of the SDK's own settings: 24-bit colour, full size.
  ASSERT_EQ(config->GetFormat(&mt), S_OK);
  EXPECT_EQ(mt->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth, 3840);
  freeType(*mt);
  CoTaskMemFree(mt);
}

TEST_F(DShowGraphTest, TheHalfClockChosenInTheSdksSettingsDoublesTheFrameTime) {
  writeSdkSettings(3840, 2748, 0, 0, 2, 0, 1, /*clock*/ 1);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(bindDevice(camera0, filter), S_OK);
  Graph g;
  ASSERT_EQ(g.create(filter.get()), S_OK);
  ComPtr<IAMStreamConfig> config = g.streamConfig();
  ASSERT_TRUE(config);
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(config->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, 3840);
  EXPECT_EQ(vih->AvgTimePerFrame, 3952LL * 2891 * 10'000'000 / 24'000'000);  // a 24 MHz pixel clock
  freeType(*mt);
  CoTaskMemFree(mt);
}

TEST_F(DShowGraphTest, EveryFormatDeliversTheSdksPixelsOfTheSameFrame) {
  for (const FormatCase& f : kFormats) {
    SCOPED_TRACE(std::string(f.name) + " sub-sampling " + std::to_string(f.subSample));
    const int width = kWindowWidth >> f.subSample, height = kWindowHeight >> f.subSample;
    const bool rgb = f.rowOrder == 0;
    const size_t sampleStride = rgb ? size_t((width * f.bytesPerPixel + 3) & ~3) : size_t(width * f.bytesPerPixel);
    size_t compared = 0;
    // A frame id seen by the graph is looked for in the SDK's frames; at the sensor's pace almost every
    // frame reaches both, and a round where a busy machine made them miss each other is repeated.
    for (int round = 0; round < 3 && compared == 0; ++round) {
      ComPtr<IBaseFilter> filter;
      ASSERT_EQ(bindDevice(camera0, filter), S_OK);
      Graph g;
      ASSERT_EQ(g.create(filter.get()), S_OK);
      AM_MEDIA_TYPE wanted = {};
      wanted.majortype = MEDIATYPE_Video;
      wanted.subtype = *f.subtype;
      ASSERT_EQ(g.grabber->SetMediaType(&wanted), S_OK);
      ComPtr<IAMStreamConfig> config = g.streamConfig();
      ASSERT_TRUE(config);
      ASSERT_EQ(chooseFormat(config.get(), *f.subtype, width, height), S_OK);
      ASSERT_EQ(g.render(), S_OK);
      AM_MEDIA_TYPE mt = g.connectedType();
      ASSERT_EQ(mt.subtype, *f.subtype);
      ASSERT_EQ(mt.formattype, FORMAT_VideoInfo);
      const VIDEOINFOHEADER vih = *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
      freeType(mt);
      EXPECT_EQ(vih.bmiHeader.biWidth, width);
      EXPECT_EQ(vih.bmiHeader.biHeight, height);  // positive: bottom-up RGB
      EXPECT_EQ(vih.bmiHeader.biBitCount, f.bytesPerPixel * 8);

      ASSERT_TRUE(SUCCEEDED(g.control->Run()));
      const bool arrived = g.callback.waitFor(8, kGenerousMs);
      g.control->Stop();
      ASSERT_TRUE(arrived) << "frames through the graph";
      std::vector<Frame> frames = g.callback.take();

      std::vector<unsigned long long> ids;
      const unsigned idMask = (1u << std::min(24, (width - 4 + 7) / 8)) - 1;
      for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& fr = frames[i];
        ASSERT_EQ(fr.pixels.size(), sampleStride * size_t(height));
        ASSERT_GE(fr.mediaStart, 0);
        if (i > 0) EXPECT_GT(fr.mediaStart, frames[i - 1].mediaStart) << "each frame once, in order";
        if (i > 0 && frames[i - 1].hasTime && fr.hasTime) EXPECT_GT(fr.start, frames[i - 1].start);
        // The number painted into the picture is the frame id the sample carries.
        const BYTE* rowFour = fr.pixels.data() + sampleStride * size_t(rowOfTop(f, height, 4));
        const unsigned painted =
            f.bytesPerPixel == 2 ? decodeFrameStrip(rowFour, width, 2, 0, 2, 65535)
                                 : decodeFrameStrip(rowFour, width, f.bytesPerPixel, rgb ? 1 : 0, 1, 255);
        EXPECT_EQ(painted, unsigned(fr.mediaStart) & idMask) << "frame " << fr.mediaStart;
        ids.push_back((unsigned long long)fr.mediaStart);
      }
      // The scene moves: two frames differ below the number strip.
      const size_t strip = sampleStride * 8;
      const bool changed = rgb ? !std::equal(frames.front().pixels.begin(), frames.front().pixels.end() - strip,
                                             frames.back().pixels.begin())
                               : !std::equal(frames.front().pixels.begin() + strip, frames.front().pixels.end(),
                                             frames.back().pixels.begin() + strip);
      EXPECT_TRUE(changed);

      SdkFrames sdk;
      std::sort(ids.begin(), ids.end());
      ASSERT_TRUE(takeSdkFrames(2, f.sdkColorMode, f.subSample, f.grayMode, f.rowOrder, ids, kGenerousMs, sdk));
      ASSERT_GT(sdk.pixelClockHz, 0);
      // The frame time the format announces is the one the sensor was programmed with.
      EXPECT_EQ(vih.AvgTimePerFrame, LONGLONG(sdk.lineLength) * sdk.frameLength * 10'000'000 / sdk.pixelClockHz);
      ASSERT_EQ(sdk.width, width);
      ASSERT_EQ(sdk.height, height);
      for (const Frame& fr : frames) {
        auto it = sdk.frames.find((unsigned long long)fr.mediaStart);
        if (it == sdk.frames.end()) continue;
        const std::vector<BYTE>& ref = it->second;
        size_t differing = 0;
        for (int y = 0; y < height; ++y) {
          const BYTE* a = fr.pixels.data() + sampleStride * size_t(y);
          const BYTE* b = ref.data() + size_t(sdk.stride) * size_t(y);
          for (int x = 0; x < width; ++x) {
            if (f.bytesPerPixel == 2) {
              // Y16 spans 16 bits; the SDK's 16-bit samples hold 12.
              const unsigned ours = a[2 * x] | (a[2 * x + 1] << 8), theirs = b[2 * x] | (b[2 * x + 1] << 8);
              differing += ours != ((theirs << 4) & 0xFFFF);
            } else {
              // RGB32's fourth byte carries nothing.
              const int compare = f.bytesPerPixel == 4 ? 3 : f.bytesPerPixel;
              differing += std::memcmp(a + x * f.bytesPerPixel, b + x * f.bytesPerPixel, size_t(compare)) != 0;
            }
          }
        }
        EXPECT_EQ(differing, 0u) << "frame " << fr.mediaStart;
        ++compared;
      }
    }
    EXPECT_GT(compared, 0u) << "a frame of the graph was found among the SDK's frames";
  }
}
