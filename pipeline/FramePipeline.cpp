#include "pipeline/FramePipeline.h"

#include <algorithm>
#include <cstring>

#include "pipeline/ApplyKernel.h"
#include "pipeline/DefectFilter.h"
#include "pipeline/Demosaic.h"
#include "pipeline/GrayProcessing.h"
#include "pipeline/HueSaturation.h"
#include "pipeline/KernelRecords.h"
#include "pipeline/Measure.h"
#include "pipeline/PixelAccess.h"
#include "pipeline/RowBandPool.h"
#include "pipeline/Sharpen.h"
#include "pipeline/StageChain.h"
#include "pipeline/Tone.h"
#include "pipeline/VectorPath.h"

namespace tovira {
namespace {

thread_local PipelineTrace gTrace{};

// Every kernel call of the pipeline goes through here, so the trace shows what ran.
int64_t Run(const ImageView& target, PixelKernel kernel, const ImageView& source, void* p = nullptr,
            void* q = nullptr, const KernelRect* rect = nullptr, int32_t x = 0, int32_t y = 0) {
  if (gTrace.count < static_cast<int32_t>(sizeof(gTrace.kernels) / sizeof(gTrace.kernels[0])))
    gTrace.kernels[gTrace.count++] = kernel;
  return ApplyKernel(target, kernel, source, rect, x, y, p, q);
}

// Appends a kernel that runs outside Run (banded, or in the stage chain) to the trace.
void Record(PixelKernel kernel) {
  if (kernel != nullptr && gTrace.count < static_cast<int32_t>(sizeof(gTrace.kernels) / sizeof(gTrace.kernels[0])))
    gTrace.kernels[gTrace.count++] = kernel;
}

constexpr int32_t kSignificantBits16 = 12;

// The pool of the ProcessFrame running on this thread (none: every stage on this thread).
thread_local RowBandPool* gPool = nullptr;

// Bands of a frame start at even rows, so a band seen as an image of its own keeps the Bayer phase of
// the frame; with the halo rows of a stage that reads neighbours it is still even. Two bands per thread
// even out bands that take longer than others.
constexpr int32_t kBandsPerThread = 8;
constexpr int32_t kMinBandRows = 16;

int32_t BandCount(int32_t height) {
  if (gPool == nullptr || gPool->threads() <= 1) return 1;
  return std::max(1, std::min(gPool->threads() * kBandsPerThread, height / kMinBandRows));
}

void EvenBandRows(int32_t height, int32_t band, int32_t bands, int32_t& begin, int32_t& end) {
  BandRows((height + 1) / 2, band, bands, begin, end);
  begin *= 2;
  end = std::min(height, end * 2);
}

// Rows [top, bottom) of an image as an image of its own.
ImageView RowsOf(const ImageView& image, int32_t top, int32_t bottom) {
  ImageView v = image;
  v.pixels = image.row(top);
  v.height = bottom - top;
  return v;
}

// A kernel over the whole frame, band by band. A band's kernel call sees `halo` more rows on each side
// (clipped to the frame); the kernels that read neighbours (sharpness, demosaic interior) write only
// rows 2 .. size-3 of what they see, so with a halo of 2 each band writes exactly its own rows of the
// frame's result. Recorded in the trace once.
struct BandedKernel {
  ImageView target, source;
  PixelKernel kernel;
  void* p;
  int32_t halo;
};

void RunBand(void* context, int32_t band, int32_t bands) {
  const auto& k = *static_cast<const BandedKernel*>(context);
  int32_t begin, end;
  EvenBandRows(k.target.height, band, bands, begin, end);
  if (begin >= end) return;
  const int32_t top = std::max(0, begin - k.halo), bottom = std::min(k.target.height, end + k.halo);
  ApplyKernel(RowsOf(k.target, top, bottom), k.kernel, RowsOf(k.source, top, bottom), nullptr, 0, 0, k.p);
}

int64_t RunBanded(const ImageView& target, PixelKernel kernel, const ImageView& source, void* p, int32_t halo) {
  const int32_t bands = BandCount(target.height);
  if (bands <= 1 || source.height != target.height || source.width != target.width)
    return Run(target, kernel, source, p);
  if (gTrace.count < static_cast<int32_t>(sizeof(gTrace.kernels) / sizeof(gTrace.kernels[0])))
    gTrace.kernels[gTrace.count++] = kernel;
  BandedKernel job{target, source, kernel, p, halo};
  gPool->run(bands, RunBand, &job);
  return 1;
}

// A pass of the stage chain, band by band.
struct ChainPass {
  const StageChain* chain;
  bool second;
};
void ChainBand(void* context, int32_t band, int32_t bands) {
  const auto& pass = *static_cast<const ChainPass*>(context);
  int32_t begin, end;
  EvenBandRows(pass.chain->output.height, band, bands, begin, end);
  if (begin >= end) return;
  if (pass.second) RunChainSecondPass(*pass.chain, begin, end);
  else RunChainFirstPass(*pass.chain, begin, end);
}
void RunChainPass(const StageChain& chain, bool second) {
  const int32_t bands = BandCount(chain.output.height);
  ChainPass pass{&chain, second};
  if (bands <= 1) ChainBand(&pass, 0, 1);
  else gPool->run(bands, ChainBand, &pass);
}

// The 16-bit defect filter as its two independent scans, rows of even and of odd parity.
void DefectParity(void* context, int32_t band, int32_t) {
  FilterDefectRows16(*static_cast<const ImageView*>(context), kDefectThreshold, band);
}

// The 8-bit defect filter's first phase: the candidate marks of one band of rows.
struct DefectMarks8 {
  ImageView frame;
  uint8_t* marks;
};
void MarkDefectBand(void* context, int32_t band, int32_t bands) {
  const auto& job = *static_cast<const DefectMarks8*>(context);
  int32_t begin, end;
  BandRows(job.frame.height, band, bands, begin, end);
  MarkDefectCandidates8(job.frame, kDefectThreshold, begin, end, job.marks);
}

// The kernel families of the stages that are not plain tables, by colour mode.
struct ToneKernels {
  PixelKernel sharpen, hueSaturation;
};

ToneKernels KernelsFor(int32_t colourMode) {
  switch (colourMode) {
    case kColourMode8:
      return {SharpenGray8, nullptr};
    case kColourMode16:
      return {SharpenGray16, nullptr};
    case kColourMode24:
    case kColourMode32:
      return {SharpenBgr8, HueSaturationBgr8};
    default:
      return {SharpenBgr16, HueSaturationBgr16};
  }
}

// A composed tone table and its record, on the stack (nothing is allocated per frame).
struct ToneTables {
  uint8_t table8[256];
  uint16_t table16[1 << kSignificantBits16];
  ToneTableRecord record;
};

bool EightBit(int32_t colourMode) {
  return colourMode == kColourMode8 || colourMode == kColourMode24 || colourMode == kColourMode32;
}

PixelKernel ToneTableKernel(int32_t colourMode) {
  const bool grey = colourMode == kColourMode8 || colourMode == kColourMode16;
  if (EightBit(colourMode)) return grey ? ToneTableGray8 : ToneTableBgr8;
  return grey ? ToneTableGray16 : ToneTableBgr16;
}

// The table of the stages that run in `stages`, for the family of `colourMode`; false when none runs.
bool ComposeTables(int32_t colourMode, const ToneStages& stages, ToneTables& tables) {
  if (!stages.gamma && !stages.contrast && !stages.brightness) return false;
  if (EightBit(colourMode)) {
    ComposeToneTable8(stages, colourMode != kColourMode8, tables.table8);
    tables.record = ToneTableRecord{tables.table8, 8};
    if (stages.brightness && !stages.gamma && !stages.contrast) {
      tables.record.brightnessOnly = true;
      tables.record.brightnessFactor = BrightnessFactor(stages.brightnessValue);
    }
  } else {
    ComposeToneTable16(stages, kSignificantBits16, tables.table16);
    tables.record = ToneTableRecord{tables.table16, kSignificantBits16};
    if (stages.brightness && !stages.gamma && !stages.contrast) {
      tables.record.brightnessOnly = true;
      tables.record.brightnessFactor = BrightnessFactor(stages.brightnessValue);
    }
  }
  return true;
}

int32_t* GrayValues(ImageParameters& parameters) { return &parameters.grayGainR; }

void GrayProcessing(const ImageView& raw, const FrameImages& images, int32_t colourMode,
                    ImageParameters& parameters, FramePipelineHooks& hooks) {
  const int32_t grayMode = ReadParameter(parameters.grayMode);
  if (grayMode == 1) {
    GrayGainRecord record;
    auto fillRecord = [&] {
      record.bayerMode = ReadParameter(parameters.bayerMode);
      for (int i = 0; i < 8; ++i) record.values[i] = ReadParameter(GrayValues(parameters)[i]);
      record.significantBits = colourMode == kColourMode8 ? 8 : kSignificantBits16;
    };
    const int32_t request = ReadParameter(parameters.grayBalanceRequest);
    if (request != 0) {
      fillRecord();
      Run(raw, MeasureGrayGains, raw, &record);
      for (int i = 0; i < 8; ++i) WriteParameter(GrayValues(parameters)[i], record.values[i]);
      hooks.reloadImageDialog();
      // A positive request counts down to 0; a negative one means "every frame" and stays as it is
      // (counting it down would run into the integer limit after 2^31 frames).
      if (request > 0) WriteParameter(parameters.grayBalanceRequest, request - 1);
    }
    fillRecord();
    bool neutral = true;
    for (int i = 0; i < 8; ++i) neutral = neutral && record.values[i] == 128;
    if (!neutral) Run(raw, colourMode == kColourMode8 ? ApplyGrayGains8 : ApplyGrayGains16, raw, &record);
  } else if (grayMode == 2 && colourMode == kColourMode8) {
    // Colour mode 16 has no 24-bit staging image and would leave its output unchanged anyway.
    if (Demosaic(images.bgr24, images.raw8, parameters, hooks))
      Run(images.raw8, GrayFromBgr24, images.bgr24);
  }
}

}  // namespace

int32_t* FilterValueSlot(ImageParameters& parameters, int32_t filterId) {
  if (filterId < 1 || filterId > 28) return nullptr;
  return reinterpret_cast<int32_t*>(&parameters) + (filterId - 1);
}

ImageParameters NeutralImageParameters() {
  ImageParameters p{};
  p.bayerGainRed = p.bayerGainGreen = p.bayerGainBlue = 100;
  p.gamma = 100;
  for (int i = 0; i < 8; ++i) GrayValues(p)[i] = 128;
  return p;
}

int32_t AutoIris(const ImageView& raw, AnalogueState& analogue, FramePipelineHooks& hooks) {
  const uint32_t mode = __atomic_load_n(&analogue.autoIrisMode, __ATOMIC_RELAXED);
  // Off: nothing is measured or recorded (an error entry per frame would flood the history).
  if (mode == 0 || mode > 2) return 0;
  const bool eightBit = raw.bitsPerPixel == 8, sixteenBit = raw.bitsPerPixel == 16;
  if (!IsUsableView(raw) || raw.width <= 0 || raw.height <= 0 || !(eightBit || sixteenBit) ||
      !hooks.isDeviceOpen()) {
    hooks.recordError(kAutoIrisErrorCode);
    return 0;
  }
  KernelRect windows[5];
  AutoIrisWindows(raw.width, raw.height, windows);
  int32_t means[5];
  for (int i = 0; i < 5; ++i)
    means[i] = static_cast<int32_t>(Run(raw, eightBit ? WindowMean8 : WindowMean16, raw, nullptr,
                                        nullptr, &windows[i], windows[i].left, windows[i].top));
  const int32_t factor = AutoIrisFactorPercent(means);
  if (!AutoIrisWantsChange(factor)) return 1;

  if (mode == 2) {
    uint16_t current = 0;
    if (!hooks.readGlobalGain(&current)) return 1;  // no reading, no guess
    const int32_t gain = AutoIrisGain(current, factor);
    hooks.writeGlobalGain(static_cast<uint16_t>(gain));
    for (int32_t* field : {&analogue.globalGain, &analogue.colorGainGreen1, &analogue.colorGainRed,
                           &analogue.colorGainBlue, &analogue.colorGainGreen2})
      WriteParameter(*field, gain);
    hooks.showAnalogueValue(kAnalogueGlobalGainControl, gain);
  } else {
    uint32_t current = 0;
    if (!hooks.readExposure(&current)) return 1;
    const int32_t lines = AutoIrisExposure(static_cast<int32_t>(std::min<uint32_t>(current, 0x7FFFFFFF)), factor);
    hooks.writeExposure(static_cast<uint32_t>(lines));
    WriteParameter(analogue.exposureLines, lines);
    hooks.showAnalogueValue(kAnalogueExposureControl, lines);
  }
  return 1;
}

namespace {

// The white balance before a demosaic (measured when automatic) and the demosaic's colour record;
// false when the images do not fit a demosaic (nothing measured then).
bool PrepareDemosaic(const ImageView& target, const ImageView& raw, ImageParameters& parameters,
                     FramePipelineHooks& hooks, ColourRecord& colour) {
  const bool sixteen = raw.bitsPerPixel == 16;
  if (!IsUsableView(raw) || !IsUsableView(target)) return false;
  if (sixteen ? (target.bitsPerPixel != 48 && target.bitsPerPixel != 64)
              : (raw.bitsPerPixel != 8 || (target.bitsPerPixel != 24 && target.bitsPerPixel != 32)))
    return false;

  if (ReadParameter(parameters.bayerGainAuto) != 0) {
    WhiteBalanceRecord balance{ReadParameter(parameters.bayerGainBlue),
                               ReadParameter(parameters.bayerGainGreen),
                               ReadParameter(parameters.bayerGainRed), ReadParameter(parameters.bayerMode)};
    Run(raw, sixteen ? MeasureWhiteBalance16 : MeasureWhiteBalance8, raw, &balance);
    WriteParameter(parameters.bayerGainBlue, balance.blueGain);
    WriteParameter(parameters.bayerGainGreen, balance.greenGain);
    WriteParameter(parameters.bayerGainRed, balance.redGain);
    hooks.reloadImageDialog();
    // "Once" = auto plus both one-shot flags: this measurement was the one.
    if (ReadParameter(parameters.whiteBalanceOnce1) != 0 && ReadParameter(parameters.whiteBalanceOnce2) != 0) {
      WriteParameter(parameters.bayerGainAuto, 0);
      WriteParameter(parameters.whiteBalanceOnce1, 0);
      WriteParameter(parameters.whiteBalanceOnce2, 0);
    }
  }
  colour = ColourRecord{ReadParameter(parameters.bayerMode), ReadParameter(parameters.bayerGainRed),
                        ReadParameter(parameters.bayerGainGreen), ReadParameter(parameters.bayerGainBlue)};
  return true;
}

}  // namespace

int32_t Demosaic(const ImageView& target, const ImageView& raw, ImageParameters& parameters,
                 FramePipelineHooks& hooks) {
  ColourRecord colour;
  if (!PrepareDemosaic(target, raw, parameters, hooks, colour)) return 0;
  const bool sixteen = raw.bitsPerPixel == 16;
  RunBanded(target, sixteen ? DemosaicInterior16 : DemosaicInterior8, raw, &colour, 2);
  Run(target, sixteen ? DemosaicBorder16 : DemosaicBorder8, raw, &colour);
  return 1;
}

void ProcessFrame(const FrameImages& images, int32_t colourMode, ImageParameters& parameters,
                  AnalogueState& analogue, FramePipelineHooks& hooks) {
  ProcessFrame(images, colourMode, parameters, analogue, hooks, nullptr);
}

void ProcessFrame(const FrameImages& images, int32_t colourMode, ImageParameters& parameters,
                  AnalogueState& analogue, FramePipelineHooks& hooks, RowBandPool* pool) {
  struct PoolScope {
    explicit PoolScope(RowBandPool* p) { gPool = p; }
    ~PoolScope() { gPool = nullptr; }
  } scope(pool);
  gTrace.count = 0;
  const ImageView* raw = nullptr;
  const ImageView* output = nullptr;
  switch (colourMode) {
    case kColourMode8: raw = &images.raw8, output = &images.raw8; break;
    case kColourMode16: raw = &images.raw16, output = &images.raw16; break;
    case kColourMode24: raw = &images.raw8, output = &images.bgr24; break;
    case kColourMode32: raw = &images.raw8, output = &images.bgr32; break;
    case kColourMode48: raw = &images.raw16, output = &images.bgr48; break;
    case kColourMode64: raw = &images.raw16, output = &images.bgr64; break;
    default: return;
  }
  if (!IsUsableView(*raw) || !IsUsableView(*output)) return;
  const ImageView& R = *raw;
  const ImageView& O = *output;

  // 1. Automatic exposure.
  AutoIris(R, analogue, hooks);

  // 2. Defect pixels, always.
  {
    ColourRecord colour{ReadParameter(parameters.bayerMode), ReadParameter(parameters.bayerGainRed),
                        ReadParameter(parameters.bayerGainGreen), ReadParameter(parameters.bayerGainBlue)};
    ThresholdRecord threshold{kDefectThreshold};
    if (R.bitsPerPixel == 16 && gPool != nullptr && gPool->threads() > 1) {
      if (gTrace.count < static_cast<int32_t>(sizeof(gTrace.kernels) / sizeof(gTrace.kernels[0])))
        gTrace.kernels[gTrace.count++] = FilterDefectPixels;
      ImageView frame = R;
      gPool->run(2, DefectParity, &frame);
    } else if (R.bitsPerPixel == 8 && gPool != nullptr && gPool->threads() > 1) {
      // Candidates marked on all threads, then the exact scan over the marked groups on this one.
      Record(FilterDefectPixels);
      DefectMarks8 job{R, gPool->scratch(DefectMarkBytes(R.width, R.height))};
      gPool->run(BandCount(R.height), MarkDefectBand, &job);
      FilterMarkedDefects8(R, kDefectThreshold, colour, job.marks);
    } else {
      Run(R, FilterDefectPixels, R, &colour, &threshold);
    }
  }

  const bool grey = colourMode == kColourMode8 || colourMode == kColourMode16;
  ColourRecord colour{};
  bool demosaic = false;
  if (grey) {
    // 3. Grey processing.
    GrayProcessing(R, images, colourMode, parameters, hooks);
  } else {
    // 4. Demosaic: the white balance now; the demosaic itself below, alone or as the chain's first stage.
    demosaic = PrepareDemosaic(O, R, parameters, hooks, colour);
  }
  const PixelKernel demosaicInterior = R.bitsPerPixel == 16 ? DemosaicInterior16 : DemosaicInterior8;
  const PixelKernel demosaicBorder = R.bitsPerPixel == 16 ? DemosaicBorder16 : DemosaicBorder8;

  const ToneKernels kernels = KernelsFor(colourMode);
  // 5. Hue and saturation (colour only).
  HueSaturationRecord hueRecord{};
  bool hueSaturation = false;
  if (!grey) {
    hueRecord = HueSaturationRecord{ReadParameter(parameters.hue), 0, ReadParameter(parameters.saturation),
                                    kSignificantBits16};
    hueSaturation = hueRecord.hue != 0 || hueRecord.saturation != 0;
  }
  // 6, 7 and 9 are one table per sample each; the ones that run one after the other (all three while
  // sharpness is off, else gamma and contrast) are composed into one table.
  ToneStages tones;
  tones.gammaValue = ReadParameter(parameters.gamma);
  tones.gamma = tones.gammaValue != 100;
  tones.contrastValue = ReadParameter(parameters.contrast);
  tones.contrast = tones.contrastValue != 0;
  // 8. Sharpness: computed from an unsharpened copy (the scratch image), so every pixel sees
  // unsharpened neighbours; without a usable scratch image it is left out.
  const ImageView& scratch = images.sharpnessScratch;
  ValueRecord sharpness{ReadParameter(parameters.sharpness), kSignificantBits16};
  if (sharpness.value != 0 && !(IsUsableView(scratch) && scratch.bitsPerPixel == O.bitsPerPixel &&
                                scratch.width == O.width && scratch.height == O.height && scratch.stride == O.stride))
    sharpness.value = 0;
  if (sharpness.value == 0) {
    tones.brightnessValue = ReadParameter(parameters.brightness);
    tones.brightness = tones.brightnessValue != 0;
  }
  // 5 to 9 in one pass over the output image, or in two around the sharpness (see StageChain.h).
  ToneTables before, after;
  HuePlanes8 huePlanes;
  StageChain chain{O, scratch, hueSaturation ? kernels.hueSaturation : nullptr, &hueRecord, ToneTableKernel(colourMode),
                   ComposeTables(colourMode, tones, before) ? &before.record : nullptr,
                   sharpness.value != 0 ? kernels.sharpen : nullptr, &sharpness, nullptr, grey ? 1 : 3,
                   true};
  chain.hueTakesTable = true;  // both families' hue/saturation kernels take the table after them
  const bool firstPass = chain.hueSaturation != nullptr || chain.tableBefore != nullptr || chain.sharpen != nullptr;
  if (demosaic && firstPass && R.width == O.width && R.height == O.height) {
    // The demosaic runs step by step inside the first pass, the interior and then the border of the
    // step's rows, straight into the image that pass writes.
    Record(demosaicInterior);
    Record(demosaicBorder);  // made step by step with the interior, band by band
    chain.demosaicBorderRows = R.bitsPerPixel == 16 ? DemosaicBorderRows16 : DemosaicBorderRows8;
    chain.demosaic = demosaicInterior;
    chain.raw = R;
    chain.colourRecord = &colour;
    // 8-bit BGR on the AVX2 demosaic with vector hue rows: the demosaic hands its rows to the hue
    // rows as planes, so the channels are joined into pixels once instead of split and joined again
    // (the planes' rows apply the table after the hue, as the hue kernel does with hueTakesTable).
    if (chain.hueSaturation == HueSaturationBgr8 && chain.hueTakesTable && R.bitsPerPixel == 8 &&
        (O.bitsPerPixel == 24 || O.bitsPerPixel == 32) && ActiveDemosaicPath() == DemosaicPath::kAvx2 &&
        HasAvx2Path(ActiveVectorPath())) {
      PrepareHuePlanes8(hueRecord, static_cast<const ToneTableRecord*>(chain.tableBefore), huePlanes);
      chain.demosaic = DemosaicInteriorHue8;
      chain.demosaicHue = &huePlanes;
    }
  } else if (demosaic) {
    RunBanded(O, demosaicInterior, R, &colour, 2);
    Run(O, demosaicBorder, R, &colour);
  }
  if (chain.sharpen != nullptr) {
    // 9. Brightness, after the sharpness.
    ToneStages brightness;
    brightness.brightnessValue = ReadParameter(parameters.brightness);
    brightness.brightness = brightness.brightnessValue != 0;
    chain.tableAfter = ComposeTables(colourMode, brightness, after) ? &after.record : nullptr;
  }
  for (PixelKernel k : {chain.hueSaturation, chain.tableBefore ? chain.toneTable : nullptr}) Record(k);
  // The first pass sharpens each band's rows but the three at its ends that read rows of other bands;
  // the second pass, after every band's first, sharpens those.
  if (firstPass) RunChainPass(chain, false);
  if (chain.sharpen != nullptr) {
    for (PixelKernel k : {chain.sharpen, chain.tableAfter ? chain.toneTable : nullptr}) Record(k);
    if (BandCount(chain.output.height) > 1) RunChainPass(chain, true);
  }
}

const PipelineTrace& LastPipelineTrace() { return gTrace; }

}  // namespace tovira
