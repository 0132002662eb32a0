#!/usr/bin/env bash
# Runs the cross-compiled test program, tessaray-tests.exe, under Wine on a virtual X
# server (scripts/wine-run), with the simulated driver linked in.
#
#   tests/wine/run_wine_unit.sh WINDOWS_BUILD_DIR [gtest arguments...]
#
# Exit: 0 every test passed, 1 a test failed or the run broke, 77 skipped (no Windows
# build or no Wine).
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build_dir="${1:?usage: run_wine_unit.sh WINDOWS_BUILD_DIR [gtest arguments...]}"
shift
exe="$build_dir/tests/tessaray-tests.exe"
skip=77

if [ ! -f "$exe" ]; then
  echo "SKIP: no tessaray-tests.exe at $exe (build it with: scripts/build windows)"
  exit $skip
fi
if [ ! -x /usr/lib/wine/wine64 ] || ! command -v xvfb-run >/dev/null; then
  echo "SKIP: Wine or xvfb-run is not installed (.ci/install-deps installs them)"
  exit $skip
fi

# A local time zone that is not UTC, so that local time and UTC cannot be confused (Wine
# takes its zone from TZ).
export TZ="${TZ:-Asia/Kolkata}"
run() {
  "$root/scripts/wine-run" --build-dir "$build_dir" --exe "$exe" --driver none --timeout 600 \
    --prefix "${TESSARAY_WINE_UNIT_PREFIX:-$root/build/wine-prefix-unit}" -- "$@" |
    tr -d '\r' | tee "$log"
  return "${PIPESTATUS[0]}"
}
log="$(mktemp /tmp/tessaray-wine-unit.XXXXXX)"
trap 'rm -f "$log"' EXIT
start=$(date +%s%N)
run --gtest_brief=1 "$@"
rc=$?
# A timing test can fail on a starved machine: the failed ones run once more, alone.
failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\).*/\1/p' "$log" | sort -u | paste -sd: -)
if [ "$rc" -ne 0 ] && [ -n "$failed" ]; then
  echo "tessaray-tests.exe under Wine: running the failed tests again: $failed"
  run --gtest_brief=1 "--gtest_filter=$failed"
  rc=$?
  [ "$rc" -eq 0 ] && echo "tessaray-tests.exe under Wine: FLAKY (passed when run again): $failed"
fi
echo "tessaray-tests.exe under Wine: exit code $rc, $((($(date +%s%N) - start) / 1000000)) ms in all"
[ "$rc" -eq 0 ] || exit 1
