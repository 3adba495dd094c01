// Streaming as DirectShow applications drive it: state changes in any order, formats changed between
// runs, a slow consumer, a busy camera, a graph released while running, two cameras at once, a camera
// lost while running, a camera that is not there.
#include "dshow/tests/DShowTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace dshowtest;

namespace {

constexpr DWORD kGenerousMs = 120000;
constexpr int kWindowWidth = 644, kWindowHeight = 484, kWindowX = 960, kWindowY = 834;
const HRESULT kCameraInUse = HRESULT_FROM_WIN32(ERROR_BUSY);

class DShowStreamTest : public ::testing::Test {
protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(server.load());
    server.unregisterServer();
    writeSdkSettings(kWindowWidth, kWindowHeight, kWindowX, kWindowY);
    ASSERT_EQ(server.registerServer(), S_OK);
    for (Device& d : ourDevices()) {
      if (d.friendlyName == L"Z400KX camera 1") camera0 = d;
      if (d.friendlyName == L"Z400KX camera 3") camera2 = d;
    }
  }
  void TearDown() override {
    camera0 = camera2 = Device{};
    server.unregisterServer();
    CoUninitialize();
  }

  // A graph of camera 0 taking any video type, connected and ready to run.
  void build(Graph& g, const Device& d) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(bindDevice(d, filter), S_OK);
    ASSERT_EQ(g.create(filter.get()), S_OK);
    AM_MEDIA_TYPE any = {};
    any.majortype = MEDIATYPE_Video;
    ASSERT_EQ(g.grabber->SetMediaType(&any), S_OK);
    ASSERT_EQ(g.render(), S_OK);
  }

  // Frames until `count` more have arrived; their ids.
  std::vector<LONGLONG> framesOf(Graph& g, size_t count) {
    std::vector<LONGLONG> ids;
    EXPECT_TRUE(g.callback.waitFor(count, kGenerousMs));
    for (const Frame& f : g.callback.take()) ids.push_back(f.mediaStart);
    return ids;
  }

  Server server;
  Device camera0, camera2;
};

// Each delivered id is new, and a later batch starts after the earlier one.
void expectNewFramesAfter(const std::vector<LONGLONG>& before, const std::vector<LONGLONG>& after) {
  ASSERT_FALSE(after.empty());
  for (size_t i = 1; i < after.size(); ++i) EXPECT_GT(after[i], after[i - 1]);
  if (!before.empty()) EXPECT_GT(after.front(), before.back()) << "never a frame twice";
}

} // namespace

TEST_F(DShowStreamTest, StopPauseAndRunInAnyOrderKeepDeliveringNewFrames) {
  ASSERT_TRUE(camera0.moniker);
  Graph g;
  build(g, camera0);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  std::vector<LONGLONG> first = framesOf(g, 3);
  expectNewFramesAfter({}, first);

  // Paused: a live source reports that it cannot cue; running again delivers newer frames.
  ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
  OAFilterState state;
  EXPECT_EQ(g.control->GetState(2000, &state), VFW_S_CANT_CUE);
  g.callback.take();
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  std::vector<LONGLONG> second = framesOf(g, 3);
  expectNewFramesAfter(first, second);

  ASSERT_EQ(g.control->Stop(), S_OK);
  ASSERT_EQ(g.control->Stop(), S_OK);
  g.callback.take();
  ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
  ASSERT_EQ(g.control->Stop(), S_OK);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  std::vector<LONGLONG> third = framesOf(g, 3);
  expectNewFramesAfter(second, third);
  ASSERT_EQ(g.control->Stop(), S_OK);
}

TEST_F(DShowStreamTest, FormatChangesBetweenRunsAndIsRefusedWhileRunning) {
  // Source straight to the Null Renderer: the pin reconnects itself in a new format. (Wine's Sample
  // Grabber takes a new input type but leaves its output connection behind, so it cannot be in this
  // graph; the filter then reports the downstream failure as EC_ERRORABORT.)
  ASSERT_TRUE(camera0.moniker);
  Graph g;
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(bindDevice(camera0, filter), S_OK);
  ASSERT_EQ(g.create(filter.get()), S_OK);
  ComPtr<IAMStreamConfig> config = g.streamConfig();
  ComPtr<IAMDroppedFrames> counts = config.as<IAMDroppedFrames>(IID_IAMDroppedFrames);
  ComPtr<IPin> pin = config.as<IPin>(IID_IPin);
  ASSERT_TRUE(config && counts && pin);
  ComPtr<IEnumPins> rendererPins;
  ComPtr<IPin> rendererPin;
  ASSERT_EQ(g.renderer->EnumPins(rendererPins.put()), S_OK);
  ASSERT_EQ(rendererPins->Next(1, rendererPin.put(), nullptr), S_OK);
  // Directly: the graph builder may put a tee in between, which would have to follow the change.
  ASSERT_EQ(g.graph->ConnectDirect(pin.get(), rendererPin.get(), nullptr), S_OK);
  auto deliveredWithin = [&](long frames) {
    const DWORD begin = GetTickCount();
    long n = 0;
    while (counts->GetNumNotDropped(&n) == S_OK && n < frames && GetTickCount() - begin < kGenerousMs) Sleep(10);
    return n >= frames;
  };
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(deliveredWithin(2));
  AM_MEDIA_TYPE* mt = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(config->GetStreamCaps(8, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);  // Y800, quarter
  ASSERT_EQ(mt->subtype, kSubtypeY800);
  EXPECT_EQ(config->SetFormat(mt), VFW_E_NOT_STOPPED);
  ASSERT_EQ(g.control->Stop(), S_OK);

  ASSERT_EQ(config->SetFormat(mt), S_OK);
  freeType(*mt);
  CoTaskMemFree(mt);
  AM_MEDIA_TYPE connected = {};
  ASSERT_EQ(pin->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(connected.subtype, kSubtypeY800);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
  ASSERT_NE(vih, nullptr);
  EXPECT_EQ(vih->bmiHeader.biWidth, kWindowWidth / 4);
  EXPECT_EQ(vih->bmiHeader.biHeight, kWindowHeight / 4);
  freeType(connected);
  ASSERT_EQ(config->GetFormat(&mt), S_OK);
  EXPECT_EQ(mt->subtype, kSubtypeY800);
  freeType(*mt);
  CoTaskMemFree(mt);

  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  EXPECT_TRUE(deliveredWithin(3));
  g.control->Stop();
  long average = 0;
  ASSERT_EQ(counts->GetAverageFrameSize(&average), S_OK);
  EXPECT_EQ(average, long(kWindowWidth / 4) * (kWindowHeight / 4));
}

TEST_F(DShowStreamTest, ThePreviewCategoryGoesThroughATee) {
  // Applications that ask for a preview stream get the capture pin split by the Smart Tee.
  ASSERT_TRUE(camera0.moniker);
  Graph g;
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(bindDevice(camera0, filter), S_OK);
  ASSERT_EQ(g.create(filter.get()), S_OK);
  AM_MEDIA_TYPE any = {};
  any.majortype = MEDIATYPE_Video;
  ASSERT_EQ(g.grabber->SetMediaType(&any), S_OK);
  ASSERT_EQ(g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.source.get(), g.grabberFilter.get(),
                                    g.renderer.get()),
            VFW_S_NOPREVIEWPIN);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  std::vector<LONGLONG> ids = framesOf(g, 3);
  expectNewFramesAfter({}, ids);
  g.control->Stop();
}

TEST_F(DShowStreamTest, DroppedFramesAreExactlyTheGapsASlowConsumerLeaves) {
  ASSERT_TRUE(camera0.moniker);
  Graph g;
  g.callback.delayMs = 40;  // frames come every ~15 ms at the sensor's pace: most are missed
  build(g, camera0);
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.source.get(), IID_IAMDroppedFrames,
                                     dropped.putVoid()),
            S_OK);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(g.callback.waitFor(6, kGenerousMs));
  ASSERT_EQ(g.control->Stop(), S_OK);  // after Stop no sample is on its way
  std::vector<Frame> frames = g.callback.take();
  long gaps = 0;
  std::vector<long> missing;
  for (size_t i = 1; i < frames.size(); ++i)
    for (LONGLONG id = frames[i - 1].mediaStart + 1; id < frames[i].mediaStart; ++id, ++gaps) missing.push_back(long(id));
  long droppedCount = -1, deliveredCount = -1;
  ASSERT_EQ(dropped->GetNumDropped(&droppedCount), S_OK);
  ASSERT_EQ(dropped->GetNumNotDropped(&deliveredCount), S_OK);
  EXPECT_EQ(deliveredCount, long(frames.size()));
  EXPECT_EQ(droppedCount, gaps);
  std::vector<long> info(size_t(std::max(1L, droppedCount)));
  long copied = -1;
  ASSERT_EQ(dropped->GetDroppedInfo(long(info.size()), info.data(), &copied), S_OK);
  // The newest 64 dropped ids are kept.
  if (missing.size() > 64) missing.erase(missing.begin(), missing.end() - 64);
  info.resize(size_t(std::max(0L, copied)));
  EXPECT_EQ(info, missing);
  long average = 0;
  ASSERT_EQ(dropped->GetAverageFrameSize(&average), S_OK);
  EXPECT_EQ(average, long(frames.front().pixels.size()));
}

TEST_F(DShowStreamTest, ASecondGraphOnABusyCameraIsRefusedAtOnce) {
  ASSERT_TRUE(camera0.moniker);
  Graph g;
  build(g, camera0);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  framesOf(g, 2);
  ComPtr<IBaseFilter> second;
  EXPECT_EQ(bindDevice(camera0, second), kCameraInUse);
  EXPECT_FALSE(second);
  framesOf(g, 2);  // the first graph goes on
  g.control->Stop();
}

TEST_F(DShowStreamTest, AGraphReleasedWhileRunningLetsTheCameraGo) {
  ASSERT_TRUE(camera0.moniker);
  {
    Graph g;
    g.stopOnRelease = false;
    build(g, camera0);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    framesOf(g, 2);
  }
  Graph again;
  build(again, camera0);
  ASSERT_TRUE(SUCCEEDED(again.control->Run()));
  EXPECT_FALSE(framesOf(again, 2).empty());
  again.control->Stop();
}

TEST_F(DShowStreamTest, TwoCamerasStreamAtOnce) {
  ASSERT_TRUE(camera0.moniker && camera2.moniker);
  // Both cameras are opened before either streams: the SDK's Tovira_Initialize sets up camera 0's sensor
  // afresh whichever camera the handle is for, so opening a camera while camera 0 streams disturbs it.
  Graph a, b;
  build(a, camera0);
  build(b, camera2);
  ASSERT_TRUE(SUCCEEDED(a.control->Run()));
  ASSERT_TRUE(SUCCEEDED(b.control->Run()));
  EXPECT_TRUE(a.callback.waitFor(5, kGenerousMs));
  EXPECT_TRUE(b.callback.waitFor(5, kGenerousMs));
  a.control->Stop();
  b.control->Stop();
  // Whole frames of the agreed size on both: neither camera's stream disturbs the other's.
  AM_MEDIA_TYPE ta = a.connectedType(), tb = b.connectedType();
  const ULONG sizeA = ta.lSampleSize, sizeB = tb.lSampleSize;
  freeType(ta);
  freeType(tb);
  std::vector<Frame> framesA = a.callback.take();
  for (const Frame& f : framesA) EXPECT_EQ(f.pixels.size(), sizeA);
  for (size_t i = 1; i < framesA.size(); ++i) EXPECT_GT(framesA[i].mediaStart, framesA[i - 1].mediaStart);
  // The first camera's pictures stay whole: each shows the number of the frame it is (24-bit, bottom-up).
  const size_t stride = (kWindowWidth * 3 + 3) & ~3;
  for (const Frame& f : framesA) {
    if (f.pixels.size() != sizeA) continue;
    const BYTE* rowFour = f.pixels.data() + stride * (kWindowHeight - 1 - 4);
    EXPECT_EQ(decodeFrameStrip(rowFour, kWindowWidth, 3, 1, 1, 255), unsigned(f.mediaStart) & 0xFFFFFF);
  }
  for (const Frame& f : b.callback.take()) EXPECT_EQ(f.pixels.size(), sizeB);
}
