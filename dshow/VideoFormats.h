// The formats of the capture pin: which SDK colour mode and sub-sampling each one is, its size, its
// frame time from the sensor's timing, and its DirectShow media type.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <vector>

namespace tovira::dshow {

// Grey FOURCC subtypes ({FOURCC-0000-0010-8000-00AA00389B71}); the SDK headers of DirectShow name
// neither.
extern const GUID kSubtypeY800;
extern const GUID kSubtypeY16;

enum class PixelKind { Rgb24, Rgb32, Y800, Y16 };

// The camera as the SDK's settings describe it when the filter opens it.
struct CameraGeometry {
  int windowWidth = 3840;  // the capture window before sub-sampling
  int windowHeight = 2748;
  bool halfClock = false;  // the pixel clock halved (camera dialog "clock")
};

struct VideoFormat {
  PixelKind kind = PixelKind::Rgb24;
  int subSample = 0;  // 0 full, 1 half, 2 quarter (SDK codes)
  bool operator==(const VideoFormat&) const = default;
};

// Every format the pin offers, in the order of IAMStreamConfig's capabilities.
const std::vector<VideoFormat>& allFormats();

int sdkColorMode(PixelKind kind);           // the Tovira_SetColorMode value
int bitsPerPixel(PixelKind kind);
const GUID& subtypeOf(PixelKind kind);
int outputWidth(const CameraGeometry& g, int subSample);
int outputHeight(const CameraGeometry& g, int subSample);
// Bytes per row of a DirectShow frame: DIB rows (RGB) are padded to 4 bytes; grey rows are packed.
int sampleStride(PixelKind kind, int width);
// Bytes per row of the SDK's frames: always padded to 4 bytes.
int sdkStride(PixelKind kind, int width);
// DirectShow's RGB types are bottom-up DIBs; the grey FOURCC types run top line first.
bool bottomUp(PixelKind kind);

// The line length (pixel clocks) and frame length (lines) the camera is programmed with for this window
// and sub-sampling.
void sensorTiming(const CameraGeometry& g, int subSample, int* lineLength, int* frameLength);

// The sensor's frame time in 100 ns: line length x frame length / pixel clock, with the line length
// and frame length the camera is programmed with for this window and sub-sampling.
LONGLONG frameTime100ns(const CameraGeometry& g, int subSample);

// The format the SDK's own settings select (colour mode and sub-sampling as Tovira_Get* report them).
VideoFormat formatFromSdk(int colorModeBits, int subSample);

// Fills a media type (pbFormat from CoTaskMemAlloc; release with freeMediaType).
HRESULT makeMediaType(const VideoFormat& f, const CameraGeometry& g, AM_MEDIA_TYPE* mt);
// Which of our formats a media type asks for; partial types (GUID_NULL subtype or format) match the
// first format that fits. A fully specified frame rate is not checked: the camera has one rate.
bool matchMediaType(const AM_MEDIA_TYPE* mt, const CameraGeometry& g, VideoFormat* out);
void fillStreamCaps(const VideoFormat& f, const CameraGeometry& g, VIDEO_STREAM_CONFIG_CAPS* caps);

void freeMediaType(AM_MEDIA_TYPE& mt);
HRESULT copyMediaType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE* from);
AM_MEDIA_TYPE* newMediaType(const AM_MEDIA_TYPE& from);  // CoTaskMemAlloc'd copy, or null
void deleteMediaType(AM_MEDIA_TYPE* mt);

} // namespace tovira::dshow
