#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the portable core natively under
# AddressSanitizer/UBSan, the Windows tests under Wine with one Xvfb display for the whole run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh || exit 1
bash scripts/build.sh --host || exit 1

status=0
echo "== host tests (ASan/UBSan)"
ctest --test-dir build/host --output-on-failure -j2 || status=1

echo "== Windows tests (Wine, Xvfb)"
export WINEPREFIX="$top/build/win/wineprefix"
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null' EXIT
xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
  ctest --test-dir build/win --output-on-failure || status=1

# One closing line for both runs, counting the test cases of every program (a program that crashed or
# timed out counts as one more failure).
passed=0; failed=0
for dir in build/host build/win; do
  log="$dir/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || continue
  p=$(grep -c '^\[       OK \] ' "$log" || true)
  f=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
  crashed=$(grep -c '^Test Failed\.\|^Test time-out' "$log" || true)
  [ "$crashed" -gt "$f" ] && f=$crashed
  passed=$((passed + p)); failed=$((failed + f))
done
echo "tests: $passed passed, $failed failed"
exit $status
