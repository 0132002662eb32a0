#!/usr/bin/env bash
# The cross-compiled binaries are plain Windows programs: PE32+ x86-64, importing nothing
# but the system's own libraries (a MinGW runtime DLL would not exist on a user's machine),
# and nvapi64.dll is never linked, only loaded. The programs a user runs, tessaray.exe and
# tessaray-report.exe, import known DLLs only, which Windows loads from the system whatever
# lies beside the program: hid.dll, d3d12.dll, dxgi.dll and winmm.dll are not known DLLs and
# are resolved from the system directory at run time. (Runs under Wine: tests/e2e/wine_e2e_test.cpp.)
#
#   tests/wine/check_binaries.sh WINDOWS_BUILD_DIR
#
# Exit: 0 passed, 1 failed, 77 skipped (no Windows build).
set -uo pipefail

build_dir="${1:?usage: check_binaries.sh WINDOWS_BUILD_DIR}"
exe="$build_dir/app/tessaray.exe"
report="$build_dir/report/tessaray-report.exe"
dll="$build_dir/sim/nvapi64.dll"
objdump=x86_64-w64-mingw32-objdump
skip=77

if [ ! -f "$exe" ] || [ ! -f "$report" ] || [ ! -f "$dll" ]; then
  echo "SKIP: no Windows build at $build_dir (need app/tessaray.exe, report/tessaray-report.exe and sim/nvapi64.dll; build it with: scripts/build windows)"
  exit $skip
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The simulated driver (a test double, never shipped) may import any system library.
allowed='^(kernel32|msvcrt|ucrtbase|user32|advapi32|setupapi|hid|d3d12|dxgi|ole32|oleaut32|shell32|ntdll|ws2_32|bcrypt|winmm|gdi32|api-ms-win-[a-z0-9-]+)\.dll$'
# Known DLLs (HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 10
# and 11), and ntdll, which every process has before its imports are loaded.
known='^(kernel32|ntdll|msvcrt|user32|gdi32|advapi32|setupapi|ole32|oleaut32|shell32|shlwapi|ws2_32|comdlg32|imm32|rpcrt4|sechost|combase)\.dll$'
for f in "$exe" "$report" "$dll"; do
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
    if [ "$f" = "$dll" ]; then
      [[ "$name" =~ $allowed ]] || fail "$(basename "$f") imports $name, which is not part of Windows"
    else
      # Any other import would be satisfied by a copy beside the program (a downloads folder).
      [[ "$name" =~ $known ]] || fail "$(basename "$f") imports $name, which is not a known DLL (it must be resolved from the system directory)"
    fi
  done
  if [ "$f" = "$exe" ] && grep -qi 'DLL Name: nvapi64.dll' <<<"$headers"; then fail "tessaray.exe links nvapi64.dll"; fi
  if [ "$f" = "$exe" ] && ! grep -qE '^[[:space:]]+TERMINAL_SERVICE_AWARE$' <<<"$headers"; then
    fail "tessaray.exe is not linked terminal-server aware (--tsaware)"
  fi
  if [ "$f" = "$dll" ] && ! grep -qE '^[[:space:]]*\[ *[0-9]+\] nvapi_QueryInterface$' <<<"$headers"; then
    fail "nvapi64.dll does not export nvapi_QueryInterface"
  fi
done
[ "$failures" -eq 0 ] && echo "binaries ok"
[ "$failures" -eq 0 ]
