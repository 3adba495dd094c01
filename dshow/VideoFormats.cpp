#include "dshow/VideoFormats.h"

#include <algorithm>
#include <cstring>

namespace tovira::dshow {

const GUID kSubtypeY800 = {0x30303859, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kSubtypeY16 = {0x20363159, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

constexpr long long kPixelClockHz = 48'000'000;  // 24 MHz input through the PLL of the start-up table

DWORD fourccOf(PixelKind kind) {
  switch (kind) {
  case PixelKind::Y800: return kSubtypeY800.Data1;
  case PixelKind::Y16: return kSubtypeY16.Data1;
  default: return BI_RGB;
  }
}

} // namespace

const std::vector<VideoFormat>& allFormats() {
  static const std::vector<VideoFormat> formats = [] {
    std::vector<VideoFormat> v;
    for (PixelKind k : {PixelKind::Rgb24, PixelKind::Rgb32, PixelKind::Y800, PixelKind::Y16})
      for (int s = 0; s <= 2; ++s) v.push_back({k, s});
    return v;
  }();
  return formats;
}

int sdkColorMode(PixelKind kind) {
  switch (kind) {
  case PixelKind::Rgb24: return 24;
  case PixelKind::Rgb32: return 32;
  case PixelKind::Y800: return 8;
  case PixelKind::Y16: return 16;
  }
  return 24;
}

int bitsPerPixel(PixelKind kind) { return sdkColorMode(kind); }

const GUID& subtypeOf(PixelKind kind) {
  switch (kind) {
  case PixelKind::Rgb24: return MEDIASUBTYPE_RGB24;
  case PixelKind::Rgb32: return MEDIASUBTYPE_RGB32;
  case PixelKind::Y800: return kSubtypeY800;
  case PixelKind::Y16: return kSubtypeY16;
  }
  return MEDIASUBTYPE_RGB24;
}

int outputWidth(const CameraGeometry& g, int subSample) { return g.windowWidth >> std::clamp(subSample, 0, 2); }
int outputHeight(const CameraGeometry& g, int subSample) { return g.windowHeight >> std::clamp(subSample, 0, 2); }

int sdkStride(PixelKind kind, int width) { return (width * bitsPerPixel(kind) / 8 + 3) & ~3; }

int sampleStride(PixelKind kind, int width) {
  return bottomUp(kind) ? sdkStride(kind, width) : width * bitsPerPixel(kind) / 8;
}

bool bottomUp(PixelKind kind) { return kind == PixelKind::Rgb24 || kind == PixelKind::Rgb32; }

void sensorTiming(const CameraGeometry& g, int subSample, int* lineLength, int* frameLength) {
  // The camera's window programming: horizontal blanking 1192 - width below 1080 columns, else 112;
  // sub-sampled read-outs keep a line of at least 1080 active columns; 143 lines of vertical blanking.
  const int w = g.windowWidth, h = g.windowHeight;
  const int blanking = w < 1080 ? 1192 - w : 112;
  const int code = std::clamp(subSample, 0, 2);
  const int wOut = w >> code, hOut = h >> code;
  *lineLength = code == 0 ? blanking + w : blanking + std::max(1080, wOut);
  *frameLength = hOut + 143;
}

LONGLONG frameTime100ns(const CameraGeometry& g, int subSample) {
  int lineLength = 0, frameLength = 0;
  sensorTiming(g, subSample, &lineLength, &frameLength);
  const long long clock = g.halfClock ? kPixelClockHz / 2 : kPixelClockHz;
  return (long long)lineLength * frameLength * 10'000'000 / clock;
}

VideoFormat formatFromSdk(int colorModeBits, int subSample) {
  VideoFormat f;
  switch (colorModeBits) {
  case 8: f.kind = PixelKind::Y800; break;
  case 12: f.kind = PixelKind::Y16; break;
  case 32: f.kind = PixelKind::Rgb32; break;
  default: f.kind = PixelKind::Rgb24; break;  // 24, and the 16-bit colour modes DirectShow has no type for
  }
  f.subSample = subSample >= 0 && subSample <= 2 ? subSample : 0;
  return f;
}

HRESULT makeMediaType(const VideoFormat& f, const CameraGeometry& g, AM_MEDIA_TYPE* mt) {
  std::memset(mt, 0, sizeof *mt);
  auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
  if (!vih) return E_OUTOFMEMORY;
  std::memset(vih, 0, sizeof *vih);
  const int width = outputWidth(g, f.subSample), height = outputHeight(g, f.subSample);
  const LONGLONG frameTime = frameTime100ns(g, f.subSample);
  BITMAPINFOHEADER& bi = vih->bmiHeader;
  bi.biSize = sizeof bi;
  bi.biWidth = width;
  bi.biHeight = height;  // positive: bottom-up for RGB; the grey FOURCC types are top-down whatever the sign
  bi.biPlanes = 1;
  bi.biBitCount = WORD(bitsPerPixel(f.kind));
  bi.biCompression = fourccOf(f.kind);
  bi.biSizeImage = DWORD(sampleStride(f.kind, width)) * DWORD(height);
  vih->rcSource = {0, 0, width, height};
  vih->rcTarget = vih->rcSource;
  vih->AvgTimePerFrame = frameTime;
  vih->dwBitRate = DWORD(std::min<long long>(0xFFFFFFFFll, (long long)bi.biSizeImage * 8 * 10'000'000 / std::max<LONGLONG>(1, frameTime)));
  mt->majortype = MEDIATYPE_Video;
  mt->subtype = subtypeOf(f.kind);
  mt->bFixedSizeSamples = TRUE;
  mt->bTemporalCompression = FALSE;
  mt->lSampleSize = bi.biSizeImage;
  mt->formattype = FORMAT_VideoInfo;
  mt->cbFormat = sizeof(VIDEOINFOHEADER);
  mt->pbFormat = reinterpret_cast<BYTE*>(vih);
  return S_OK;
}

bool matchMediaType(const AM_MEDIA_TYPE* mt, const CameraGeometry& g, VideoFormat* out) {
  if (!mt) return false;
  if (mt->majortype != GUID_NULL && mt->majortype != MEDIATYPE_Video) return false;
  const bool anyFormat = mt->formattype == GUID_NULL;
  if (!anyFormat && (mt->formattype != FORMAT_VideoInfo || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat))
    return false;
  for (const VideoFormat& f : allFormats()) {
    if (mt->subtype != GUID_NULL && mt->subtype != subtypeOf(f.kind)) continue;
    if (!anyFormat) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
      const BITMAPINFOHEADER& bi = vih->bmiHeader;
      if (bi.biWidth != outputWidth(g, f.subSample)) continue;
      // RGB must be bottom-up (positive height) as we fill it; grey types accept either sign.
      const LONG h = outputHeight(g, f.subSample);
      if (bi.biHeight != h && (bottomUp(f.kind) || bi.biHeight != -h)) continue;
      if (bi.biBitCount != bitsPerPixel(f.kind) || bi.biCompression != fourccOf(f.kind)) continue;
    }
    if (out) *out = f;
    return true;
  }
  return false;
}

void fillStreamCaps(const VideoFormat& f, const CameraGeometry& g, VIDEO_STREAM_CONFIG_CAPS* caps) {
  std::memset(caps, 0, sizeof *caps);
  const SIZE size = {outputWidth(g, f.subSample), outputHeight(g, f.subSample)};
  const LONGLONG frameTime = frameTime100ns(g, f.subSample);
  const LONG bitsPerFrame = LONG(std::min<long long>(0x7FFFFFFF, (long long)sampleStride(f.kind, size.cx) * size.cy * 8));
  caps->guid = FORMAT_VideoInfo;
  caps->VideoStandard = 0;  // AnalogVideo_None
  caps->InputSize = {g.windowWidth, g.windowHeight};
  caps->MinCroppingSize = caps->MaxCroppingSize = size;
  caps->MinOutputSize = caps->MaxOutputSize = size;
  caps->CropGranularityX = caps->CropGranularityY = 1;
  caps->CropAlignX = caps->CropAlignY = 1;
  caps->OutputGranularityX = caps->OutputGranularityY = 1;
  caps->StretchTapsX = caps->StretchTapsY = 0;
  caps->ShrinkTapsX = caps->ShrinkTapsY = 0;
  caps->MinFrameInterval = caps->MaxFrameInterval = frameTime;  // one rate: the sensor's
  const long long bps = (long long)bitsPerFrame * 10'000'000 / std::max<LONGLONG>(1, frameTime);
  caps->MinBitsPerSecond = caps->MaxBitsPerSecond = LONG(std::min<long long>(0x7FFFFFFF, bps));
}

void freeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE* from) {
  *to = *from;
  if (from->cbFormat != 0) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from->cbFormat));
    if (!to->pbFormat) {
      to->cbFormat = 0;
      to->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(to->pbFormat, from->pbFormat, from->cbFormat);
  } else {
    to->pbFormat = nullptr;
  }
  if (to->pUnk) to->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* newMediaType(const AM_MEDIA_TYPE& from) {
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(copyMediaType(mt, &from))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

void deleteMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  freeMediaType(*mt);
  CoTaskMemFree(mt);
}

} // namespace tovira::dshow
