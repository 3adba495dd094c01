#!/usr/bin/env bash
# A real recording past 4 GB: the console tool records full frames (3840 x 2748, 24 bits, 31.7 MB each)
# from the virtual camera, then FFmpeg counts the frames of the whole file and of its first RIFF alone
# against the counts in the file's headers. Not part of CI's tests: it writes some 5-7 GB and takes a
# minute or more.
#
# usage: bench/large-avi.sh [build folder (build/win)] [seconds (60)]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/win}" && pwd)
seconds=${2:-60}
out="$build/bench-large-avi"
mkdir -p "$out"
rm -f "$out/large.avi" "$out/large.txt"
export TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
start=$(date +%s)
"$build/wine-run.sh" "$build/bin/tovira_tool.exe" record $((seconds * 1000)) "Z:$out/large.avi" | tr '\r' '\n' | grep -v '^  [0-9.]* s$' || true
end=$(date +%s)
# The counts the file claims: all frames (odml/dmlh, or the stream length) and the first RIFF's (avih).
python3 - "$out/large.avi" "$out/large.txt" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    head = f.read(1 << 20)
first = struct.unpack_from("<I", head, 48)[0]
total = struct.unpack_from("<I", head, 140)[0]
at = head.find(b"dmlh")
if at >= 0:
    total = struct.unpack_from("<I", head, at + 8)[0]
open(sys.argv[2], "w").write("%d %d\n" % (total, first))
print("headers: %d frames in all, %d in the first RIFF, large layout: %s" % (total, first, at >= 0))
PY
echo "file: $(stat -c %s "$out/large.avi") bytes, recorded and finished in $((end - start)) s"
python3 "$top/tests/avi-frame-count.py" "$out/large.avi" "$out/large.txt"
