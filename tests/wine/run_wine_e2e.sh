#!/usr/bin/env bash
# End-to-end run of the real Windows tessaray.exe under Wine, with the simulated driver
# as nvapi64.dll. One prefix for all cases (scripts/wine-run creates it once).
#
#   tests/wine/run_wine_e2e.sh WINDOWS_BUILD_DIR [CASE...]
#
# Exit: 0 every case passed, 1 a case failed, 77 skipped (no Windows build or no Wine).
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build_dir="${1:?usage: run_wine_e2e.sh WINDOWS_BUILD_DIR [CASE...]}"
shift
exe="$build_dir/app/tessaray.exe"
dll="$build_dir/sim/nvapi64.dll"
objdump=x86_64-w64-mingw32-objdump
skip=77

if [ ! -f "$exe" ] || [ ! -f "$dll" ]; then
  echo "SKIP: no Windows build at $build_dir (need app/tessaray.exe and sim/nvapi64.dll; build it with: scripts/build windows)"
  exit $skip
fi
if [ ! -x /usr/lib/wine/wine64 ] || ! command -v xvfb-run >/dev/null; then
  echo "SKIP: Wine or xvfb-run is not installed (.ci/install-deps installs them)"
  exit $skip
fi

work="$(mktemp -d /tmp/tessaray-wine-e2e.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
passed=0
current=""

fail() {
  echo "  FAIL [$current]: $*"
  failures=$((failures + 1))
  case_failed=1
}

# --- checks on one run's files (out, err: CRLF removed; rc: exit code) -------------------
has_line() {  # FILE TEXT: TEXT is one whole line of FILE
  grep -qxF -- "$2" "$1" || fail "no line '$2' in $(basename "$1")"
}
has_match() {  # FILE REGEX
  grep -qE -- "$2" "$1" || fail "nothing matches /$2/ in $(basename "$1")"
}
lacks_match() {  # FILE REGEX
  if grep -qE -- "$2" "$1"; then fail "unexpected /$2/ in $(basename "$1"): $(grep -m1 -E -- "$2" "$1")"; fi
}
count_is() {  # FILE REGEX N
  local n
  n=$(grep -cE -- "$2" "$1")
  [ "$n" -eq "$3" ] || fail "/$2/ appears $n times in $(basename "$1"), want $3"
}
exit_is() {
  [ "$rc" -eq "$1" ] || fail "exit code $rc, want $1"
}
# The regexes match, in this order, distinct lines of FILE.
in_order() {
  local file="$1"
  shift
  local from=1 re n
  for re in "$@"; do
    n=$(tail -n +"$from" "$file" | grep -nE -m1 -- "$re" | cut -d: -f1)
    if [ -z "$n" ]; then
      fail "/$re/ missing or out of order in $(basename "$file")"
      return
    fi
    from=$((from + n))
  done
}
seconds() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
marker() { echo "^$1 [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}\$"; }

# Runs tessaray.exe through scripts/wine-run; leaves $out, $err, $rc and the time taken.
run_case() {
  local dir="$work/$current"
  local t0
  t0=$(date +%s%N)
  "$root/scripts/wine-run" --build-dir "$build_dir" --out "$dir" --timeout 90 "$@" >"$dir.log" 2>&1
  local wrc=$?
  elapsed_ms=$((($(date +%s%N) - t0) / 1000000))
  if [ ! -f "$dir/exit-code" ] || [ "$wrc" -eq 125 ]; then
    cat "$dir.log"
    fail "scripts/wine-run failed (exit $wrc)"
    rc=125
    out=/dev/null
    err=/dev/null
    return
  fi
  rc=$(cat "$dir/exit-code")
  tr -d '\r' <"$dir/stdout" >"$dir/out"
  tr -d '\r' <"$dir/stderr" >"$dir/err"
  out="$dir/out"
  err="$dir/err"
  # Wine's debugger reports a crash on the program's standard output.
  lacks_match "$out" '^Unhandled exception'
}

show_run() {
  echo "  ---- stdout ----"
  sed 's/^/  | /' "$out"
  echo "  ---- stderr ----"
  sed 's/^/  | /' "$err"
  echo "  ---- exit code $rc"
}

begin() {
  current="$1"
  case_failed=0
  mkdir -p "$work/$current"
  echo "== $current"
}
end() {
  if [ "$case_failed" = 0 ]; then
    passed=$((passed + 1))
    echo "  ok ($(seconds "${elapsed_ms:-0}") s)"
  else
    [ -n "${out:-}" ] && show_run
  fi
  elapsed_ms=0
  out=""
}

# --- the cases ---------------------------------------------------------------------------

# Both binaries are plain Windows programs: PE32+ x86-64, importing nothing but the
# system's own libraries (a MinGW runtime DLL would not exist on a user's machine), and
# nvapi64.dll is never linked, only loaded.
case_binaries() {
  begin binaries
  local allowed='^(kernel32|msvcrt|ucrtbase|user32|advapi32|setupapi|hid|d3d12|dxgi|ole32|oleaut32|shell32|ntdll|ws2_32|bcrypt|winmm|gdi32|api-ms-win-[a-z0-9-]+)\.dll$'
  local f headers names name
  for f in "$exe" "$dll"; do
    # Whole outputs first: grep -q on a pipe would end objdump early (SIGPIPE, pipefail).
    headers=$("$objdump" -p "$f" 2>&1)
    if ! grep -qE '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$headers" ||
      ! grep -q 'file format pei-x86-64' <<<"$headers"; then
      fail "$(basename "$f") is not a PE32+ x86-64 image"
      continue
    fi
    names=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
    [ -n "$names" ] || fail "$(basename "$f"): objdump shows no imported DLL at all"
    for name in $names; do
      [[ "$name" =~ $allowed ]] || fail "$(basename "$f") imports $name, which is not part of Windows"
    done
    if [ "$f" = "$exe" ] && grep -qi 'DLL Name: nvapi64.dll' <<<"$headers"; then fail "tessaray.exe links nvapi64.dll"; fi
    if [ "$f" = "$dll" ] && ! grep -qE '^[[:space:]]*\[ *[0-9]+\] nvapi_QueryInterface$' <<<"$headers"; then
      fail "nvapi64.dll does not export nvapi_QueryInterface"
    fi
  done
  end
}

# The driver library comes from the system directory only.
case_no_driver() {
  begin no-driver
  run_case --driver none
  has_line "$err" "Presenter: NvAPI_Initialize() = 0xfffffffe (line 171)"
  has_match "$out" "$(marker INIT_START)"
  lacks_match "$out" "^INIT_DONE"
  lacks_match "$out" "^BENCH_END"
  exit_is 3
  end
}

case_planted_driver() {
  begin planted-driver
  run_case --driver beside
  has_line "$err" "Presenter: NvAPI_Initialize() = 0xfffffffe (line 171)"
  lacks_match "$out" "^INIT_DONE"
  exit_is 3
  end
}

# First start on a fresh settings store: the profile is pinned and says so.
case_plain_run() {
  begin plain-2s
  run_case --fresh-store --scenario "" -- 2
  exit_is 0
  has_line "$out" "prox unavailable (non-fatal)"
  has_line "$out" "prox bypass: FAILED"
  has_line "$out" "driver profile: power management pinned to max performance (new — takes full effect from this or the next launch)"
  has_match "$out" '^NVIDIA driver [0-9]+\.[0-9]{2} \(.+\)$'
  has_line "$out" "EnableDirectMode(0x2709) = 0x0"
  has_match "$out" '^using displayId 0x[0-9a-f]+$'
  has_match "$out" '^mode\[0\]: [0-9]+x[0-9]+ @ [0-9]+\.[0-9]{3} Hz format=[0-9]+$'
  has_match "$out" '^using mode 5088x2544 @ 75\.[0-9]{3} Hz format=22$'
  has_line "$out" "forcing DSC 1.1, 4 slices, 8 bpp"
  has_match "$out" '^AcquireDirectModeDisplay = 0x(0|ffffff30 \(HDCP disabled, continuing\))$'
  has_match "$out" '^surface: 5088x2544 format=[0-9]+$'
  has_match "$out" '^rtv format: (10|24|28|87|88)$'
  has_line "$out" "SetDisplayMode = 0x0"
  has_line "$out" "DisplayControl(POWER_ON) = 0x0"
  has_line "$out" "GetPresentWaitableObject = 0x0"
  in_order "$out" "$(marker INIT_START)" '^NVIDIA driver' '^EnableDirectMode' '^using mode' \
    '^GetPresentWaitableObject' "$(marker INIT_DONE)" "$(marker FIRST_DRAW)" \
    '^  [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} fps=' '^PRESENT RESULT: ' "$(marker BENCH_END)" \
    '^frames=[0-9]+ presentErrors=0 freeRunEvents=0 displayLost=0$'
  has_match "$out" '^  [0-9:.]{12} fps= *[0-9]+\.[0-9] prox=n/a\(0\) dstat=0x0000\[disp=0 proxOn=0 dsc=0\]$'
  count_is "$out" "^BENCH_END " 1
  count_is "$out" "^frames=" 1
  # Nothing failed on the way: the only complaint is the missing microcontroller.
  lacks_match "$err" '^(Presenter: |Present12 = |driver profile: |WARNING|free-run)'
  # Paced by the simulated vertical blank (75 Hz), not free-running: a free-running loop
  # would show the warning and far more than 75 frames a second.
  local result frames fps
  result=$(grep -m1 '^PRESENT RESULT: ' "$out")
  frames=$(echo "$result" | sed -nE 's/^PRESENT RESULT: ([0-9]+) frames.*/\1/p')
  fps=$(echo "$result" | sed -nE 's/.* = ([0-9.]+) fps avg.*/\1/p')
  if [ -z "$frames" ] || [ "$frames" -lt 20 ]; then fail "only '${frames}' frames in 2 s"; fi
  if [ -n "$fps" ] && awk -v f="$fps" 'BEGIN { exit !(f > 80) }'; then fail "$fps fps: not paced at 75 Hz"; fi
  echo "  $result"
  end
}

# Second start on the same store (no --fresh-store): nothing to pin, no profile line. Also
# the park/wake benchmark.
case_cycle() {
  begin cycle-1-0.5-0.5
  run_case --scenario "" -- cycle 1 0.5 0.5
  exit_is 0
  lacks_match "$out" "^driver profile"
  lacks_match "$err" '^(driver profile|Presenter: |Present12 = )'
  in_order "$out" "$(marker INIT_DONE)" '^CYCLE 1/1$' "$(marker PARK_REQUEST)" \
    '^Presenter: panels OFF \(idle policy\) = 0x0$' "$(marker PARK_DONE)" "$(marker WAKE_REQUEST)" \
    '^Presenter: panels ON \(wake\), SetDisplayMode=0x0 POWER_ON=0x0$' '^PRESENT RESULT: ' \
    "$(marker BENCH_END)" '^frames=[0-9]+ presentErrors=0 freeRunEvents=0 displayLost=0$'
  count_is "$out" "^BENCH_END " 1
  count_is "$out" "^Presenter: panels OFF" 1
  count_is "$out" "^Presenter: panels ON" 1
  end
}

# The headset's vertical blank goes away mid-run and comes back: the loop notices, paces
# itself, and goes back to the vertical blank.
case_vblank_lost() {
  begin vblank-lost
  run_case --scenario "at 0.5 vblank-lost; at 2.5 vblank-restored" -- 4
  exit_is 0
  in_order "$err" '^WARNING: present loop free-running \(vsync lost — headset doffed\?\), self-pacing at 75 Hz$' \
    '^free-run over: vsync pacing restored$'
  count_is "$err" "^WARNING: present loop free-running" 1
  has_match "$out" '^frames=[0-9]+ presentErrors=0 freeRunEvents=1 displayLost=0$'
  has_match "$out" 'fps=.*  \[FREE-RUN: vsync lost\]$'
  end
}

# The D3D12 device goes away mid-run: the display is lost, the run ends with exit code 4.
# (Scenario times count from the driver's first use, at INIT_START.)
case_device_removed() {
  begin device-removed
  run_case --scenario "at 3 device-removed" -- 8
  exit_is 4
  has_match "$err" '^Presenter: D3D12 device removed \(0x887a0005\) — display lost \(cable pulled\?\), exiting present loop$'
  in_order "$out" "$(marker INIT_DONE)" "$(marker FIRST_DRAW)" '^PRESENT RESULT: [1-9][0-9]* frames' \
    "$(marker BENCH_END)" '^frames=[1-9][0-9]* presentErrors=0 freeRunEvents=0 displayLost=1$'
  count_is "$out" "^BENCH_END " 1
  count_is "$out" "^frames=" 1
  end
}

# A scenario the simulated driver cannot read: it says so and refuses to initialise.
case_bad_scenario() {
  begin bad-scenario
  run_case --scenario "at soon vblank-lost" -- 2
  has_line "$err" "nvapi64.dll (simulated): bad TESSARAY_SIM_SCENARIO: line 1: bad time 'soon'"
  has_line "$err" "Presenter: NvAPI_Initialize() = 0xffffffff (line 171)"
  exit_is 3
  end
}

all_cases=(binaries no_driver planted_driver plain_run cycle vblank_lost device_removed bad_scenario)
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=("${all_cases[@]}")

suite_start=$(date +%s%N)
for c in "${cases[@]}"; do
  if ! declare -F "case_$c" >/dev/null; then
    echo "unknown case '$c' (cases: ${all_cases[*]})"
    exit 2
  fi
  "case_$c"
done
echo "Wine end-to-end: $(seconds $((($(date +%s%N) - suite_start) / 1000000))) s in all"
echo "$passed passed, $((${#cases[@]} - passed)) failed"
[ "$passed" -eq "${#cases[@]}" ]
