// The standard controls: their ranges are the SDK's, and a change shows in the frames that follow.
#include "dshow/tests/DShowTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <thread>

using namespace dshowtest;

namespace {

constexpr DWORD kGenerousMs = 120000;
constexpr int kWindowWidth = 644, kWindowHeight = 484;

class DShowControlsTest : public ::testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(server.load());
    server.unregisterServer();
    writeSdkSettings(kWindowWidth, kWindowHeight, 960, 834);
    ASSERT_EQ(server.registerServer(), S_OK);
    for (Device& d : ourDevices())
      if (d.friendlyName == L"Z400KX camera 1") camera0 = d;
    ASSERT_TRUE(camera0.moniker);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(bindDevice(camera0, filter), S_OK);
    g = std::make_unique<Graph>();
    ASSERT_EQ(g->create(filter.get()), S_OK);
    AM_MEDIA_TYPE rgb = {};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(g->grabber->SetMediaType(&rgb), S_OK);
    ASSERT_EQ(g->render(), S_OK);
    procAmp = g->source.as<IAMVideoProcAmp>(IID_IAMVideoProcAmp);
    camera = g->source.as<IAMCameraControl>(IID_IAMCameraControl);
    ASSERT_TRUE(procAmp && camera);
  }
  void TearDown() override {
    procAmp.reset();
    camera.reset();
    g.reset();
    camera0 = Device{};
    server.unregisterServer();
    CoUninitialize();
  }

  // The mean of every sample below the frame-number strip, of the first frame taken more than two
  // frames after the call (so that a change made now shows in it).
  double meanOfAFrameAfterNow() {
    LONGLONG seen = -1;
    for (const Frame& f : g->callback.take()) seen = std::max(seen, f.mediaStart);
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < kGenerousMs) {
      if (!g->callback.waitFor(1, kGenerousMs)) break;
      for (const Frame& f : g->callback.take()) {
        if (seen < 0) seen = f.mediaStart;  // nothing arrived before the call
        if (f.mediaStart <= seen + 2) continue;
        const size_t rowBytes = (kWindowWidth * 3 + 3) & ~3;
        const size_t bytes = rowBytes * (kWindowHeight - 16);  // bottom-up: the strip is at the end
        double sum = 0;
        for (size_t i = 0; i < bytes; ++i) sum += f.pixels[i];
        return sum / double(bytes);
      }
    }
    ADD_FAILURE() << "no frame after the change";
    return -1;
  }

  Server server;
  Device camera0;
  std::unique_ptr<Graph> g;
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> camera;
};

} // namespace

TEST_F(DShowControlsTest, RangesAreTheSdksAndOutOfRangeIsRefused) {
  long min, max, step, def, flags;
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &flags), S_OK);
  EXPECT_EQ(min, -255);
  EXPECT_EQ(max, 255);
  EXPECT_EQ(def, 0);
  EXPECT_EQ(flags, long(VideoProcAmp_Flags_Manual));
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Gain, &min, &max, &step, &def, &flags), S_OK);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(max, 127);
  EXPECT_EQ(def, 64);
  EXPECT_EQ(flags, long(VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual));
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Gamma, &min, &max, &step, &def, &flags), S_OK);
  EXPECT_EQ(def, 100);
  EXPECT_EQ(procAmp->GetRange(VideoProcAmp_BacklightCompensation, &min, &max, &step, &def, &flags), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 256, VideoProcAmp_Flags_Manual), E_INVALIDARG);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Contrast, 0, VideoProcAmp_Flags_Auto), E_INVALIDARG);

  // Exposure for the 644-column window at full resolution: a line of 1192 clocks, 627 lines a frame;
  // 1 line is 76 us (2^-13 s is the shortest whole power above it), 8191 lines 0.41 s (2^-2 below it).
  ASSERT_EQ(camera->GetRange(CameraControl_Exposure, &min, &max, &step, &def, &flags), S_OK);
  EXPECT_EQ(min, -13);
  EXPECT_EQ(max, -2);
  EXPECT_EQ(step, 1);
  EXPECT_EQ(flags, long(CameraControl_Flags_Auto | CameraControl_Flags_Manual));
  EXPECT_EQ(camera->Set(CameraControl_Exposure, -1, CameraControl_Flags_Manual), E_INVALIDARG);
  EXPECT_EQ(camera->GetRange(CameraControl_Zoom, &min, &max, &step, &def, &flags), E_PROP_ID_UNSUPPORTED);
}

TEST_F(DShowControlsTest, ChangesShowInTheFramesThatFollow) {
  ASSERT_TRUE(SUCCEEDED(g->control->Run()));
  const double base = meanOfAFrameAfterNow();

  ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 100, VideoProcAmp_Flags_Manual), S_OK);
  long value = 0, flags = 0;
  ASSERT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
  EXPECT_EQ(value, 100);
  const double brighter = meanOfAFrameAfterNow();
  EXPECT_GT(brighter, base + 40) << "brightness +100";
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 0, VideoProcAmp_Flags_Manual), S_OK);

  // The sensor's gain doubled from unity: about twice the signal where nothing saturates.
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 127, VideoProcAmp_Flags_Manual), S_OK);
  const double gained = meanOfAFrameAfterNow();
  EXPECT_GT(gained, base * 1.4) << "double gain";
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 64, VideoProcAmp_Flags_Manual), S_OK);

  // 2^-7 s is about 156 lines instead of the 2748 of the default: a much darker picture.
  ASSERT_EQ(camera->Set(CameraControl_Exposure, -7, CameraControl_Flags_Manual), S_OK);
  ASSERT_EQ(camera->Get(CameraControl_Exposure, &value, &flags), S_OK);
  EXPECT_EQ(value, -7);
  EXPECT_EQ(flags, long(CameraControl_Flags_Manual));
  const double darker = meanOfAFrameAfterNow();
  EXPECT_LT(darker, base / 2) << "short exposure";
  g->control->Stop();

  // Automatic exposure and automatic gain are one choice in the SDK: the later one wins.
  ASSERT_EQ(camera->Set(CameraControl_Exposure, 0, CameraControl_Flags_Auto), S_OK);
  ASSERT_EQ(camera->Get(CameraControl_Exposure, &value, &flags), S_OK);
  EXPECT_EQ(flags, long(CameraControl_Flags_Auto));
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 64, VideoProcAmp_Flags_Auto), S_OK);
  ASSERT_EQ(procAmp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
  EXPECT_EQ(flags, long(VideoProcAmp_Flags_Auto));
  ASSERT_EQ(camera->Get(CameraControl_Exposure, &value, &flags), S_OK);
  EXPECT_EQ(flags, long(CameraControl_Flags_Manual));
  ASSERT_EQ(procAmp->Set(VideoProcAmp_WhiteBalance, 0, VideoProcAmp_Flags_Auto), S_OK);
  ASSERT_EQ(procAmp->Get(VideoProcAmp_WhiteBalance, &value, &flags), S_OK);
  EXPECT_EQ(flags, long(VideoProcAmp_Flags_Auto));
}

namespace {

struct DialogSearch {
  HWND owner;
  HWND found = nullptr;
};

BOOL CALLBACK findDialog(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<DialogSearch*>(lParam);
  wchar_t cls[32] = {};
  GetClassNameW(hwnd, cls, 32);
  if (std::wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == search->owner) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

} // namespace

TEST_F(DShowControlsTest, ThePropertyPageOpensTheSdksDialogsOnTheFiltersCamera) {
  ComPtr<ISpecifyPropertyPages> specify = g->source.as<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
  ASSERT_TRUE(specify);
  CAUUID pages = {};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  ComPtr<IPropertyPage> page;
  ASSERT_EQ(CoCreateInstance(pages.pElems[0], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.putVoid()), S_OK);
  CoTaskMemFree(pages.pElems);
  IUnknown* notOurs[] = {g->grabberFilter.get()};
  EXPECT_EQ(page->SetObjects(1, notOurs), E_NOINTERFACE);
  IUnknown* objects[] = {g->source.get()};
  ASSERT_EQ(page->SetObjects(1, objects), S_OK);

  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"Z400KXPageHost";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 120, nullptr, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  const RECT area = {0, 0, 260, 90};
  ASSERT_EQ(page->Activate(host, &area, TRUE), S_OK);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);
  HWND pageWindow = GetWindow(host, GW_CHILD);
  ASSERT_NE(pageWindow, nullptr);

  // Each button opens the SDK's dialog, modal on this thread and owned by the host window; a second
  // thread finds it and cancels it.
  for (int button : {101, 102}) {
    HWND control = GetDlgItem(pageWindow, button);
    ASSERT_NE(control, nullptr);
    std::atomic<bool> seen{false};
    const DWORD thread = GetCurrentThreadId();
    std::thread closer([&] {
      const DWORD begin = GetTickCount();
      while (GetTickCount() - begin < kGenerousMs) {
        DialogSearch search{host};
        EnumThreadWindows(thread, findDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
          seen = true;
          PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
          return;
        }
        Sleep(20);
      }
    });
    SendMessageW(control, BM_CLICK, 0, 0);  // returns when the dialog has closed
    closer.join();
    EXPECT_TRUE(seen) << "dialog of button " << button;
  }
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  DestroyWindow(host);
}
