#!/usr/bin/env bash
# A run of tessaray-sim with a trace, its page written by tessaray-report --html, opened in
# headless Chromium and checked against report.json and the trace's frames (check_report_page.mjs).
#   run_browser_test.sh BUILD_DIR NODE_MODULES OUT_DIR [--timing] ARGS...
#   run_browser_test.sh BUILD_DIR NODE_MODULES OUT_DIR --long-trace MB LOG
# ARGS are tessaray-sim's; --timing checks only what a plain run has (charts, time to draw);
# --long-trace makes a trace of MB megabytes for the run of LOG and checks its page is bounded.
# The screenshots of the charts stay in OUT_DIR. Exit 77 (skipped) without node or Chromium.
set -euo pipefail
build=$1 modules=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
shift 3
mode=""
if [ "${1:-}" = "--timing" ]; then mode=--timing-only; shift; fi
if [ "${1:-}" = "--long-trace" ]; then mode=--long-trace; fi
chromium=${TESSARAY_CHROMIUM:-/usr/bin/chromium}
if ! command -v node >/dev/null || [ ! -x "$chromium" ]; then
  echo "skipped: needs node and $chromium (.ci/install-deps installs them)"
  exit 77
fi
# The pinned browser driver (playwright-core) wants node 20 or later.
if [ "$(node -p 'process.versions.node.split(".")[0]')" -lt 20 ]; then
  echo "skipped: the browser driver needs node 20 or later, this is $(node --version)"
  exit 77
fi
rm -rf "$out" && mkdir -p "$out"
cd "$out"
if [ "$mode" = --long-trace ]; then
  node "$here/make_long_trace.mjs" trace.txt "$2"
  # Exit 2: the made-up trace's frames disagree with the log's; the page is still written.
  status=0
  "$build/report/tessaray-report" -q "$3" --trace trace.txt --html report.html --json report.json 2>/dev/null || status=$?
  [ "$status" -eq 2 ] || { echo "tessaray-report: exit $status"; exit 1; }
  "$build/report/tessaray-report" --frames-csv frames.csv trace.txt
  exec node "$here/check_report_page.mjs" "$modules" "$out/report.html" report.json frames.csv "$out" $mode
fi
TESSARAY_TRACE_FILE="$out/trace.txt" TESSARAY_SIM_TRUTH_FILE="$out/ground-truth.txt" \
  "$build/sim/tessaray-sim" "$@" >tessaray.log 2>&1
"$build/report/tessaray-report" -q tessaray.log --trace trace.txt --html report.html --json report.json
"$build/report/tessaray-report" --frames-csv frames.csv trace.txt
node "$here/check_report_page.mjs" "$modules" "$out/report.html" report.json frames.csv "$out" $mode
