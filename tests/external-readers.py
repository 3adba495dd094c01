#!/usr/bin/env python3
"""Opens the files the SDK wrote (tests/dll/EnvExternalFilesTests.cpp) with readers that share no code
with it, ImageMagick, FFmpeg and pngcheck, and compares their pixels with the frame the SDK returned;
then the PNGs of sizes written in one or several compressed parts.

usage: external-readers.py <folder>
"""
import os
import struct
from array import array
import subprocess
import sys

CONVERT = "/usr/bin/convert-im6.q16"
passed = 0
failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAILED:", what)


def decode(path, kind, depth):
    """Pixels as a flat list of samples, as ImageMagick reads the file: kind is gray, rgb or rgba."""
    out = subprocess.run([CONVERT, path, "-depth", str(depth), "-endian", "LSB", kind + ":-"],
                         capture_output=True, check=True).stdout
    if depth == 8:
        return list(out)
    return list(struct.unpack("<%dH" % (len(out) // 2), out))


def frame_samples(frame, width, height, stride, bits):
    """The frame's samples per pixel in file order (red first), and the channel count and sample size."""
    bytes_per_sample = 2 if bits in (16, 48, 64) else 1
    channels = {8: 1, 16: 1, 24: 3, 32: 4, 48: 3, 64: 4}[bits]
    rows = []
    for y in range(height):
        row = frame[y * stride:y * stride + width * channels * bytes_per_sample]
        if bytes_per_sample == 2:
            row = struct.unpack("<%dH" % (len(row) // 2), row)
        rows.append(list(row))
    pixels = []
    for row in rows:
        for x in range(width):
            p = row[x * channels:(x + 1) * channels]
            if channels >= 3:
                p = [p[2], p[1], p[0]]  # blue-first in the SDK's buffers
            pixels.append(p)
    return pixels


def flatten(pixels, scale=None):
    out = []
    for p in pixels:
        for v in p:
            out.append(scale(v) if scale else v)
    return out


def mean_abs(a, b):
    if len(a) != len(b) or not a:
        return float("inf")
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def file_samples(frame, width, height, stride, bits):
    """The bytes ImageMagick and FFmpeg give for the frame's PNG (gray or red, green, blue; 16-bit
    samples widened by 4 bits, little-endian), built with array slicing so large frames stay quick."""
    deep = bits in (16, 48, 64)
    channels = {8: 1, 16: 1, 24: 3, 32: 4, 48: 3, 64: 4}[bits]
    row_bytes = width * channels * (2 if deep else 1)
    rows = b"".join(frame[y * stride:y * stride + row_bytes] for y in range(height))
    if deep:
        samples = array("H")
        samples.frombytes(rows)
        samples = array("H", map((16).__mul__, samples))
    else:
        samples = bytearray(rows)
    if channels == 1:
        return bytes(samples)
    out = array("H", bytes(6 * width * height)) if deep else bytearray(3 * width * height)
    for c in range(3):
        out[c::3] = samples[2 - c::channels]  # blue-first in the SDK's buffers
    return bytes(out)


def probe_stream(path):
    """ffprobe's codec, size, pixel format and the frames it decoded (every one), as a dict."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=codec_name,width,height,nb_read_frames,pix_fmt", "-of",
                            "default=noprint_wrappers=1", path], capture_output=True, text=True)
    info = dict(line.split("=", 1) for line in probe.stdout.split() if "=" in line)
    info["ok"] = probe.returncode == 0 and not probe.stderr.strip()
    info["stderr"] = probe.stderr.strip()
    return info


def check_codec_recordings(folder, entries):
    """The Motion JPEG and grey recordings of the scene: FFmpeg decodes every frame without a complaint,
    and the first frame shows the snapshot's scene within the codec's error (the moving element and the
    frame-number strip differ between frames)."""
    for leaf, codec, pix_fmt, bits, limit in (("recording-mjpeg.avi", "mjpeg", "rgb24", 24, 14.0),
                                              ("recording-grey.avi", "rawvideo", "gray", 8, 12.0)):
        path = os.path.join(folder, leaf)
        info = probe_stream(path)
        check(info["ok"], "ffprobe decodes every frame of %s: %s" % (leaf, info["stderr"]))
        check(info.get("codec_name") == codec, "%s codec %s" % (leaf, info.get("codec_name")))
        entry = [e for e in entries if int(e[0]) == bits][0]
        width, height, stride = int(entry[1]), int(entry[2]), int(entry[3])
        check(info.get("width") == str(width) and info.get("height") == str(height), "%s size %s" % (leaf, info))
        check(int(info.get("nb_read_frames", "0")) >= 2, "%s frames %s" % (leaf, info.get("nb_read_frames")))
        decoded = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"], capture_output=True,
                                 text=True)
        check(decoded.returncode == 0 and not decoded.stderr.strip(),
              "FFmpeg decodes %s without errors: %s" % (leaf, decoded.stderr.strip()[:200]))
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                              pix_fmt, "-"], capture_output=True).stdout
        snap = open(os.path.join(folder, "mode%02d.frame" % bits), "rb").read()
        expected = flatten(frame_samples(snap, width, height, stride, bits))
        diff = mean_abs(list(raw), expected)
        check(diff < limit, "%s first frame shows the scene upright (mean difference %.2f)" % (leaf, diff))


def check_png_parts(folder):
    """PNGs whose image data was compressed in one or several parts (tests/dll/EnvExternalFilesTests.cpp):
    pngcheck, ImageMagick and FFmpeg must read each one back exactly."""
    listing = os.path.join(folder, "png-index.txt")
    check(os.path.exists(listing), "png-index.txt written")
    if not os.path.exists(listing):
        return
    for line in open(listing):
        bits, width, height, stride = (int(v) for v in line.split())
        base = os.path.join(folder, "png%02d-%dx%d" % (bits, width, height))
        what = "%d-bit PNG %d x %d" % (bits, width, height)
        frame = open(base + ".frame", "rb").read()
        expected = file_samples(frame, width, height, stride, bits)
        checked = subprocess.run(["pngcheck", "-q", base + ".png"], capture_output=True, text=True)
        check(checked.returncode == 0, "%s passes pngcheck: %s" % (what, checked.stdout.strip()))
        deep = bits in (16, 48, 64)
        kind = "gray" if bits in (8, 16) else "rgb"
        magick = subprocess.run([CONVERT, base + ".png", "-depth", "16" if deep else "8", "-endian", "LSB",
                                 kind + ":-"], capture_output=True).stdout
        check(magick == expected, "%s pixels (ImageMagick)" % what)
        formats = {8: "gray", 16: "gray16le", 24: "rgb24", 48: "rgb48le", 64: "rgb48le"}
        ffmpeg = subprocess.run(["ffmpeg", "-v", "error", "-i", base + ".png", "-f", "rawvideo", "-pix_fmt",
                                 formats[bits], "-"], capture_output=True).stdout
        check(ffmpeg == expected, "%s pixels (FFmpeg)" % what)


def main(folder):
    entries = [line.split() for line in open(os.path.join(folder, "index.txt"))]
    jpeg_errors = {}
    for bits, width, height, stride in ((int(a), int(b), int(c), int(d)) for a, b, c, d in entries):
        base = os.path.join(folder, "mode%02d" % bits)
        frame = open(base + ".frame", "rb").read()
        check(len(frame) == stride * height, "mode %d frame size" % bits)
        pixels = frame_samples(frame, width, height, stride, bits)
        deep = bits in (16, 48, 64)
        gray = bits in (8, 16)
        kind = "gray" if gray else "rgb"
        # 12-bit samples: widened by 4 bits in 16-bit files, their top 8 bits in 8-bit files.
        widen = (lambda v: v << 4) if deep else None
        narrow = (lambda v: v >> 4) if deep else None
        colour = [p[:1] if gray else p[:3] for p in pixels]

        # raw: the buffer as stored.
        check(open(base + ".raw", "rb").read() == frame, "mode %d raw file equals the frame" % bits)

        # PNG: exact, at the file's own depth.
        png = decode(base + ".png", kind, 16 if deep else 8)
        check(png == flatten(colour, widen), "mode %d PNG pixels (ImageMagick)" % bits)
        if bits in (32, 64):
            alpha = decode(base + ".png", "rgba", 16 if deep else 8)[3::4]
            check(set(alpha) == {65535 if deep else 255}, "mode %d PNG alpha is opaque" % bits)
        # The same PNG through pngcheck (structure, CRCs, zlib stream) and FFmpeg (pixels).
        checked = subprocess.run(["pngcheck", "-q", base + ".png"], capture_output=True, text=True)
        check(checked.returncode == 0, "mode %d PNG passes pngcheck: %s" % (bits, checked.stdout.strip()))
        formats = {8: "gray", 16: "gray16le", 24: "rgb24", 32: "rgb24", 48: "rgb48le", 64: "rgb48le"}
        out = subprocess.run(["ffmpeg", "-v", "error", "-i", base + ".png", "-f", "rawvideo", "-pix_fmt",
                              formats[bits], "-"], capture_output=True).stdout
        ffmpeg = list(struct.unpack("<%dH" % (len(out) // 2), out)) if deep else list(out)
        check(ffmpeg == png, "mode %d PNG pixels (FFmpeg)" % bits)

        # TIFF: exact; a fourth sample is not read as part of the colour.
        tif = decode(base + ".tif", kind, 16 if deep else 8)
        check(tif == flatten(colour, widen), "mode %d TIFF pixels (ImageMagick)" % bits)

        # BMP: the standard depths (the 16-, 48- and 64-bit BMPs carry the SDK's samples as they are,
        # which other readers do not interpret).
        if bits in (8, 24, 32):
            bmp = decode(base + ".bmp", kind, 8)
            check(bmp == flatten(colour), "mode %d BMP pixels (ImageMagick)" % bits)

        # JPEG: lossy, so close to the picture, closer at higher quality.
        expected8 = flatten(colour, narrow)
        errs = []
        for q in (100, 70, 20):
            jpg = decode(base + ".q%d.jpg" % q, kind, 8)
            errs.append(mean_abs(jpg, expected8))
        jpeg_errors[bits] = errs
        check(errs[0] < 2.0 and errs[1] < 6.0 and errs[2] < 16.0,
              "mode %d JPEG close to the picture (mean differences %s)" % (bits, ["%.2f" % e for e in errs]))
        check(errs[0] <= errs[1] <= errs[2], "mode %d JPEG error grows as quality drops" % bits)

    # AVI: FFmpeg reads it as raw 24-bit video of the snapshot size.
    avi = os.path.join(folder, "recording.avi")
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=codec_name,width,height,nb_read_frames,pix_fmt", "-of",
                            "default=noprint_wrappers=1", avi], capture_output=True, text=True)
    info = dict(line.split("=", 1) for line in probe.stdout.split() if "=" in line)
    check(probe.returncode == 0, "ffprobe reads the AVI: " + probe.stderr.strip())
    check(info.get("codec_name") == "rawvideo", "AVI codec %s" % info.get("codec_name"))
    width, height = int(entries[2][1]), int(entries[2][2])
    check(info.get("width") == str(width) and info.get("height") == str(height), "AVI size %s" % info)
    check(int(info.get("nb_read_frames", "0")) >= 2, "AVI frames %s" % info.get("nb_read_frames"))
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", avi, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "rgb24", "-"], capture_output=True).stdout
    snap = open(os.path.join(folder, "mode24.frame"), "rb").read()
    stride = int(entries[2][3])
    expected = flatten(frame_samples(snap, width, height, stride, 24))
    # A later frame of the same scene: only the moving element and the frame-number strip differ.
    check(mean_abs(list(raw), expected) < 12.0, "AVI frame shows the scene upright (mean difference %.2f)"
          % mean_abs(list(raw), expected))

    check_codec_recordings(folder, entries)
    check_png_parts(folder)

    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
