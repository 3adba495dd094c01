// The camera on screen: a graph from the capture source through the Sample Grabber to the Video
// Renderer in a window of ours, captured from the window and saved as a BMP (in the folder named by
// TOVIRA_DSHOW_SCREENSHOT_DIR, when set) for people to look at. The captured window must show the
// picture the grabber saw.
#include "dshow/tests/DShowTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace dshowtest;

namespace {

constexpr DWORD kGenerousMs = 120000;
constexpr int kWidth = 3840 / 4, kHeight = 2748 / 4;  // the whole sensor, 1/4 read-out

HWND hostWindow() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"Z400KXGraphHost";
  RegisterClassW(&wc);
  RECT r = {0, 0, kWidth, kHeight};
  AdjustWindowRect(&r, WS_POPUP, FALSE);
  return CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
}

// The window's pixels, bottom-up 24-bit rows padded to 4 bytes.
std::vector<BYTE> capture(HWND window, int width, int height) {
  HDC source = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  GdiFlush();
  const size_t bytes = size_t((width * 3 + 3) & ~3) * size_t(height);
  std::vector<BYTE> pixels(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + bytes);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
}

void saveBmp(const std::string& path, const std::vector<BYTE>& pixels, int width, int height) {
  BITMAPFILEHEADER fh = {};
  BITMAPINFOHEADER ih = {};
  ih.biSize = sizeof ih;
  ih.biWidth = width;
  ih.biHeight = height;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = DWORD(fh.bfOffBits + pixels.size());
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, &fh, sizeof fh, &written, nullptr);
  WriteFile(f, &ih, sizeof ih, &written, nullptr);
  WriteFile(f, pixels.data(), DWORD(pixels.size()), &written, nullptr);
  CloseHandle(f);
}

} // namespace

TEST(DShowRender, TheVideoRendererShowsTheCamerasPicture) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Server server;
  ASSERT_TRUE(server.load());
  writeSdkSettings(3840, 2748, 0, 0, 2, /*subSample*/ 2);
  ASSERT_EQ(server.registerServer(), S_OK);
  {
    std::vector<Device> devices = ourDevices();
    ASSERT_FALSE(devices.empty());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(bindDevice(devices[0], filter), S_OK);
    Graph g;
    ASSERT_EQ(g.create(filter.get()), S_OK);
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.putVoid()), S_OK);
    ASSERT_EQ(g.graph->AddFilter(renderer.get(), L"Video Renderer"), S_OK);
    AM_MEDIA_TYPE rgb = {};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(g.grabber->SetMediaType(&rgb), S_OK);
    ASSERT_EQ(g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.source.get(), g.grabberFilter.get(),
                                      renderer.get()),
              S_OK);
    HWND host = hostWindow();
    ASSERT_NE(host, nullptr);
    ComPtr<IVideoWindow> video = g.graph.as<IVideoWindow>(IID_IVideoWindow);
    ASSERT_TRUE(video);
    video->put_Owner(reinterpret_cast<OAHWND>(host));
    video->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    video->SetWindowPosition(0, 0, kWidth, kHeight);
    video->put_Visible(OATRUE);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    // Frames keep coming; once several have been drawn the window holds one of them.
    ASSERT_TRUE(g.callback.waitFor(10, kGenerousMs));
    HWND child = GetWindow(host, GW_CHILD);
    ASSERT_NE(child, nullptr) << "the renderer's window is ours";
    std::vector<BYTE> shown = capture(child, kWidth, kHeight);
    g.control->Stop();
    std::vector<Frame> frames = g.callback.take();
    video->put_Visible(OAFALSE);
    video->put_Owner(0);

    // The window shows a camera picture: it equals one of the frames the grabber passed on, apart from
    // the moving bar and the number strip, which differ from frame to frame.
    const size_t row = size_t((kWidth * 3 + 3) & ~3);
    size_t bestDiffering = shown.size();
    for (const Frame& f : frames) {
      if (f.pixels.size() != shown.size()) continue;
      size_t differing = 0;
      for (size_t i = 0; i < shown.size(); ++i) differing += std::abs(int(shown[i]) - int(f.pixels[i])) > 8;
      bestDiffering = std::min(bestDiffering, differing);
    }
    EXPECT_LT(bestDiffering, shown.size() / 5) << "of " << shown.size() << " bytes, row " << row;
    if (const char* dir = std::getenv("TOVIRA_DSHOW_SCREENSHOT_DIR")) {
      CreateDirectoryA(dir, nullptr);
      saveBmp(std::string(dir) + "\\directshow-graph.bmp", shown, kWidth, kHeight);
    }
    DestroyWindow(host);
  }
  server.unregisterServer();
  CoUninitialize();
}
