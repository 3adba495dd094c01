// The per-frame pipeline of a camera instance, as a portable function over the instance's images and
// parameters. CTovira::ProcessFrame fills a FrameImages from its CDibImages and calls ProcessFrame with
// its parameter block, its analogue state and itself as the hooks.
//
// Stages, in this order (each skipped at its neutral value):
//   1. auto iris (measures the raw image, may change exposure or global gain through the hooks);
//   2. defect-pixel filter on the raw image (always);
//   3. grey processing, colour modes 8 and 16: grey mode 1 = one-shot/continuous grey balance, then the
//      grey gains unless all eight are 128; grey mode 2 = demosaic into the 24-bit image and grey from
//      it back into the 8-bit raw image (takes effect in colour mode 8 only);
//   4. demosaic raw -> output (colour modes 24..64), with the white balance while Bayer gain auto is on;
//   5. hue and saturation (colour modes 24..64; hue != 0 or saturation != 0);
//   6. gamma (!= 100); 7. contrast (!= 0); 8. sharpness (!= 0; computed from the unsharpened image,
//      which the stages before it write into the sharpness scratch image); 9. brightness (!= 0).
// Gamma, contrast and brightness are per-sample tables: those that follow each other without the
// sharpness between them run as one composed table (ToneTable* kernels), with the same result.
// Stages 5 to 9 run as one pass over the output image, or two around the sharpness (StageChain.h).
// Every parameter is read when its stage starts; the caller's thread may change them meanwhile.
#pragma once

#include <cstdint>

#include "pipeline/ImageView.h"

namespace tovira {

// Colour mode index as the instance stores it (Tovira_SetColorMode accepts the bits per pixel).
enum ColourMode : int32_t {
  kColourMode8 = 0,   // raw 8 -> raw 8 (grey)
  kColourMode16 = 1,  // raw 16 -> raw 16 (grey, 12 significant bits)
  kColourMode24 = 2,  // raw 8 -> BGR 24
  kColourMode32 = 3,  // raw 8 -> BGR 32 (fourth byte never written)
  kColourMode48 = 4,  // raw 16 -> BGR 48 (12 significant bits per channel)
  kColourMode64 = 5,  // raw 16 -> BGR 64 (fourth sample never written)
};

// The instance's images as views; a view with null pixels is an image that does not exist.
struct FrameImages {
  ImageView raw8;              // 8-bit raw frame; output of colour mode 8
  ImageView raw16;             // 16-bit raw frame (12-bit samples); output of colour mode 16
  ImageView bgr24;             // output of colour mode 24; grey mode 2's staging image
  ImageView bgr32;             // output of colour mode 32
  ImageView bgr48;             // output of colour mode 48
  ImageView bgr64;             // output of colour mode 64
  ImageView sharpnessScratch;  // like the output image; unsharpened copy for the sharpness stage
};

// The instance's 30 image parameters: one slot per filter id 1..28 (Tovira_SetFilterValue /
// Tovira_GetFilterValue), in id order, then the two one-shot flags of the white balance. Ranges are
// those the setters enforce. Slots the pipeline does not read are marked.
struct ImageParameters {
  int32_t brightness;         // id 1: -255..255, 0 neutral; < 0 darkens to black, > 0 up to x11
  int32_t contrast;           // id 2: -127..127, 0 neutral; > 0 stretches the middle, < 0 compresses
  int32_t hue;                // id 3: -360..360 degrees, 0 neutral
  int32_t saturation;         // id 4: -255..255, 0 neutral; -255 greys
  int32_t sharpness;          // id 5: 0..30, 0 neutral
  int32_t bayerGainRgbSlot;   // id 6: not a stored value (id 6 reads/writes ids 7..9); not read
  int32_t bayerGainRed;       // id 7: 0..400, 100 = unity; written by the white balance
  int32_t bayerGainGreen;     // id 8: 0..400, carried but never applied; written (100) by the balance
  int32_t bayerGainBlue;      // id 9: 0..400, 100 = unity; written by the white balance
  int32_t bayerGainAuto;      // id 10: 0/1; 1 = white balance measured in every demosaiced frame
  int32_t gamma;              // id 11: 0..200, 100 neutral; < 100 brightens, > 100 darkens
  int32_t bayerMode;          // id 12: 0..3, Bayer phase of the raw image (see Demosaic.h)
  int32_t analogueSlots[6];   // ids 13..18: global gain, colour gains, exposure; held in AnalogueState
  int32_t grayMode;           // id 19: 0 none, 1 grey gains ("Bayer convert"), 2 grey from colour
  int32_t grayGainR;          // id 20: 0..255, 128 = unity; the eight grey values of the 4 x 2
  int32_t grayGainG1;         // id 21:   position cycle (see GrayProcessing.h); written by the
  int32_t grayGainG2;         // id 22:   grey balance, which may leave values above 255
  int32_t grayGainB;          // id 23
  int32_t grayOffsetR;        // id 24: -255..255 (a negative value gives 0)
  int32_t grayOffsetG1;       // id 25
  int32_t grayOffsetG2;       // id 26
  int32_t grayOffsetB;        // id 27
  int32_t grayBalanceRequest; // id 28: grey balance counter; non-zero = measure in grey mode 1, then
                              //   decremented (1 = once, -1 = every frame)
  int32_t whiteBalanceOnce1;  // white balance one-shot flags: when both and bayerGainAuto are set, the
  int32_t whiteBalanceOnce2;  //   next measurement clears all three ("Once"); auto alone = every frame
};
static_assert(sizeof(ImageParameters) == 30 * sizeof(int32_t), "30 image parameters");

// Slot of filter id 1..28 in the block, nullptr for other ids.
int32_t* FilterValueSlot(ImageParameters& parameters, int32_t filterId);

// Neutral values (what a stage skipped at neutral needs): gains 100, gamma 100, grey values 128.
ImageParameters NeutralImageParameters();

// Analogue state the auto iris reads and updates (instance fields).
struct AnalogueState {
  int32_t globalGain;       // the five analogue values, 0..127 (global gain and the four colour
  int32_t colorGainGreen1;  //   gains; the auto iris in gain mode sets all five)
  int32_t colorGainRed;
  int32_t colorGainBlue;
  int32_t colorGainGreen2;
  int32_t exposureLines;    // exposure in sensor lines (filter id 18)
  uint32_t autoIrisMode;    // 0 off, 1 regulate the exposure, 2 regulate the global gain
};

// What the pipeline needs from the instance.
class FramePipelineHooks {
 public:
  virtual ~FramePipelineHooks() = default;

  // Hook 1, the auto iris: device access and error recording (camera instance + device object).
  virtual bool isDeviceOpen() = 0;
  virtual bool readGlobalGain(uint16_t* gain) = 0;
  virtual bool writeGlobalGain(uint16_t gain) = 0;
  virtual bool readExposure(uint32_t* lines) = 0;
  virtual bool writeExposure(uint32_t lines) = 0;
  virtual void recordError(int32_t code) = 0;  // error history + WM_TOVIRA_ERROR

  // Hook 2, the open dialogs: the analogue dialog shows a new value in a control (1015 global gain,
  // 1027 exposure, as a signed number); the image dialog reloads its controls after the white or grey
  // balance changed parameters. Both are no-ops when the dialog is not open.
  virtual void showAnalogueValue(int32_t controlId, int32_t value) = 0;
  virtual void reloadImageDialog() = 0;
};

constexpr int32_t kAnalogueGlobalGainControl = 1015;
constexpr int32_t kAnalogueExposureControl = 1027;
constexpr int32_t kAutoIrisErrorCode = 9;  // no image or no open device
constexpr int32_t kDefectThreshold = 30;

// Runs the stages above on the images of `colourMode`. Changes parameters only where the balances
// write them (grey balance counter and values, Bayer gains and auto flags) and the analogue state where
// the auto iris changes it. Frames with a missing raw or output image are left alone.
void ProcessFrame(const FrameImages& images, int32_t colourMode, ImageParameters& parameters,
                  AnalogueState& analogue, FramePipelineHooks& hooks);

// The same with the stages that allow it split into bands of rows on the threads of `pool` (none: all
// on this thread): the demosaic interior, hue and saturation, the tone tables, the sharpness and its
// copy, and the 16-bit defect filter (its even and odd rows are independent). The result is identical.
class RowBandPool;
void ProcessFrame(const FrameImages& images, int32_t colourMode, ImageParameters& parameters,
                  AnalogueState& analogue, FramePipelineHooks& hooks, RowBandPool* pool);

// Stage 1 on its own: measures `raw` (8- or 16-bit) and adjusts the exposure (mode 1) or the global
// gain (mode 2) when the picture is clearly too dark or too bright. Returns 1 after a measurement,
// 0 otherwise. Off (mode 0) it measures and records nothing; with no image or no open device it
// records error 9.
int32_t AutoIris(const ImageView& raw, AnalogueState& analogue, FramePipelineHooks& hooks);

// Demosaic raw (8/16-bit) into target (24/32 or 48/64), running the white balance first while Bayer
// gain auto is on. Returns 1, 0 when an image is missing or the depths do not match.
int32_t Demosaic(const ImageView& target, const ImageView& raw, ImageParameters& parameters,
                 FramePipelineHooks& hooks);

// Which kernels the last ProcessFrame on this thread ran, in order (for tests and diagnostics): each
// stage appends its kernel once, also when it runs band by band or a few rows at a time in the stage
// chain; a composed table is listed where it applies, also when the 8-bit hue/saturation or sharpness
// kernel applies it to its results. The list holds up to 32 entries.
struct PipelineTrace {
  PixelKernel kernels[32];
  int32_t count;
};
const PipelineTrace& LastPipelineTrace();

}  // namespace tovira
