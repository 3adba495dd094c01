// Hot/dead pixel suppression on the raw Bayer frame, the first stage of the frame pipeline.
#pragma once

#include <cstddef>

#include "pipeline/ImageView.h"
#include "pipeline/KernelRecords.h"

namespace tovira {

// In place on the raw image (bytes per pixel 1 or 2), p = ColourRecord, q = ThresholdRecord.
// Rows and columns 2 .. size-3 of the rectangle, top to bottom, left to right; each pixel is compared
// with the mean of its four same-colour neighbours two pixels away (already replaced pixels count with
// their new value).
//  - 16-bit: |v - mean| >= threshold replaces the pixel by the mean.
//  - 8-bit: only bright outliers (v - mean >= threshold) whose estimated colour is strongly tinted (at
//    least two of |R-G|, |R-B|, |G-B| above the threshold) are replaced.
// Returns the number of pixels replaced in 8-bit frames, 0 for 16-bit frames.
TOVIRA_PIXEL_KERNEL(FilterDefectPixels);

// The 16-bit filter of a whole frame on the rows of one parity only (0: rows 2, 4, ...; 1: rows 3,
// 5, ...). A pixel's mean reads only rows of its own parity, so the two parities are independent scans:
// running both, in either order or at the same time on two threads, gives FilterDefectPixels' result.
void FilterDefectRows16(const ImageView& frame, int32_t threshold, int32_t parity);

// The 8-bit filter of a whole frame in two phases, for a pipeline that has worker threads.
//  1. MarkDefectCandidates8 (read-only on the frame, any rows on any thread): one byte per group of 16
//     columns from column 2 on and per row 2 .. height-3 (DefectMarkBytes in all), non-zero wherever the
//     group holds a bright outlier candidate judged on the unfiltered frame (and maybe on a few more).
//  2. FilterMarkedDefects8 (one thread, after every row is marked): the scan of FilterDefectPixels,
//     which visits only the groups marked or reached by a replacement; the frame and the returned count
//     equal FilterDefectPixels' own. Thresholds outside 1..32767 run the plain scan.
size_t DefectMarkBytes(int32_t width, int32_t height);
void MarkDefectCandidates8(const ImageView& frame, int32_t threshold, int32_t rowBegin, int32_t rowEnd,
                           uint8_t* marks);
int64_t FilterMarkedDefects8(const ImageView& frame, int32_t threshold, const ColourRecord& colour,
                             uint8_t* marks);

struct EstimatedColour {
  int32_t red;
  int32_t green;
  int32_t blue;
};

// The colour the demosaic would give at column x, storage row y of an 8-bit Bayer frame (neighbours
// x-2..x+1, y-2..y+1 must lie inside the frame), with the colour record's red and blue gains; red and
// blue are limited to 255.
EstimatedColour EstimatePixelColor(const uint8_t* frame, int32_t stride, int32_t x, int32_t y,
                                   const ColourRecord& colour);

}  // namespace tovira
