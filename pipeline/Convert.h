// Output pixel-format conversions for the preview, the image files and the AVI recorder.
//
// Every conversion kernel runs through ApplyKernel as target <- source (normally no rectangle, (0, 0),
// no parameters, images of equal size), visits each pixel once and returns 1. Per pixel it steps by the
// target's and the source's own bytes per pixel, so a 32/64-bit source is read through its first three
// channels. "Flip" kernels read the source rows in reverse order (target row i <- source row bottom-1-i
// of the rectangle) for bottom-up consumers (screen, BMP, AVI, the JPEG writer); the others keep the
// row order (PNG and TIFF store rows top-down).
//
// Sixteen-bit images hold 12-bit samples (0..4095): the 8-bit reductions take bits 4..11, the 16-bit
// file layouts widen by 4 bits (4095 -> 65520).
#pragma once

#include "pipeline/ImageView.h"

namespace tovira {

// 16 -> 8: byte = (v >> 4) & 255. Preview of colour mode 16.
TOVIRA_PIXEL_KERNEL(Gray16To8Shift4);
// 16 -> 8, rows reversed: byte = (v >> 4) & 255. AVI frames and JPEG of colour mode 16.
TOVIRA_PIXEL_KERNEL(Gray16To8Shift4Flip);
// 16 -> 16: (v << 4) & 65535. PNG and TIFF of colour mode 16.
TOVIRA_PIXEL_KERNEL(Gray16Expand4);
// 32 -> 24: blue, green, red copied, fourth byte dropped. Preview of colour mode 32.
TOVIRA_PIXEL_KERNEL(Bgr32To24);
// 48/64 -> 24: each channel (v >> 4) & 255. Preview of colour modes 48, 64.
TOVIRA_PIXEL_KERNEL(Bgr48To24Shift4);
// 48/64 -> 24, rows reversed: each channel (v >> 4) & 255. AVI frames and JPEG of modes 48, 64.
TOVIRA_PIXEL_KERNEL(Bgr48To24Shift4Flip);
// 48 -> 48: each channel (v << 4) & 65535, blue first. PNG of colour mode 48.
TOVIRA_PIXEL_KERNEL(Bgr48Expand4);
// 48 -> 48: red, green, blue written in that order, each (v << 4) & 65535. TIFF of colour mode 48.
TOVIRA_PIXEL_KERNEL(Bgr48ToRgb48Expand4);
// 64 -> 64: blue, green, red each (v << 4) & 65535, fourth sample 65535. PNG of colour mode 64.
TOVIRA_PIXEL_KERNEL(Bgr48ToBgra64Expand4);
// 64 -> 64: red, green, blue each (v << 4) & 65535, fourth sample 65535. TIFF of colour mode 64.
TOVIRA_PIXEL_KERNEL(Bgr48ToRgba64Expand4);
// 24/32 -> 24, rows reversed: blue, green, red copied. AVI frames of colour modes 24, 32.
TOVIRA_PIXEL_KERNEL(Bgr24CopyFlip);
// any -> same format, rows reversed: each row copied whole, min(target stride, source stride) bytes
// (the rectangle's columns are ignored; rows follow it). BMP files, JPEG of colour mode 8.
TOVIRA_PIXEL_KERNEL(RowsCopyFlip);
// 24/32 -> 24/32: red, green, blue written in that order into the first three bytes (a target's fourth
// byte is left alone). TIFF of colour modes 24, 32.
TOVIRA_PIXEL_KERNEL(BgrToRgb24);
// 32 -> 32: blue, green, red copied, fourth byte = complement of the source's fourth byte (the pipeline
// leaves it 0, so PNG gets an opaque alpha of 255). PNG of colour mode 32.
TOVIRA_PIXEL_KERNEL(Bgrx32ToBgra32);

// Nearest-neighbour scaling for the preview (StretchKernel contract, run by ApplyStretchKernel).
// Target rectangle W x H, source rectangle w x h, fx = w / W, fy = h / H in single precision. Target
// row i (storage row targetRect.top + i) comes from source storage row sourceRect.bottom - 1 -
// trunc(i * fy), so the picture is turned upside down into bitmap order; target column k
// (targetRect.left + k) from source column sourceRect.left + trunc(k * fx). Both are limited to the
// source image and target pixels outside the target image are skipped. ScaleNearest8 copies one byte,
// ScaleNearest24 three (blue, green, red).
TOVIRA_STRETCH_KERNEL(ScaleNearest8);
TOVIRA_STRETCH_KERNEL(ScaleNearest24);

}  // namespace tovira
