#!/usr/bin/env python3
"""FFmpeg counts the frames of an AVI the SDK wrote, frame-exact, and of its first RIFF alone (what a
reader that knows only the first RIFF sees), and decodes every frame without a complaint.

usage: avi-frame-count.py <file.avi> <counts.txt>   (counts.txt: total frames, frames of the first RIFF)
"""
import os
import struct
import subprocess
import sys
import tempfile


def count_frames(path):
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=nb_read_frames", "-of", "default=noprint_wrappers=1:nokey=1", path],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        print("ffprobe failed on", path, probe.stderr.strip())
        return -1
    return int(probe.stdout.strip() or -1)


def main(avi, counts):
    total, first = (int(v) for v in open(counts).read().split())
    failed = 0
    whole = count_frames(avi)
    if whole != total:
        print("FAILED: ffprobe reads %d frames of %d" % (whole, total))
        failed += 1
    decoded = subprocess.run(["ffmpeg", "-v", "error", "-i", avi, "-f", "null", "-"], capture_output=True, text=True)
    if decoded.returncode != 0 or decoded.stderr.strip():
        print("FAILED: FFmpeg does not decode every frame:", decoded.stderr.strip()[:300])
        failed += 1
    with open(avi, "rb") as f:
        head = f.read(8)
        riff = struct.unpack("<I", head[4:8])[0] + 8
        f.seek(0)
        data = f.read(riff)
    with tempfile.NamedTemporaryFile(suffix=".avi", delete=False) as t:
        t.write(data)
        name = t.name
    try:
        alone = count_frames(name)
    finally:
        os.unlink(name)
    if alone != first:
        print("FAILED: the first RIFF alone gives %d frames, not %d" % (alone, first))
        failed += 1
    print("%d frames in all, %d in the first RIFF: %s" % (whole, alone, "ok" if not failed else "FAILED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
