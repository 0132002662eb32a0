#!/usr/bin/env bash
# Boots the guest once and runs every Guest/* case of tessaray-tests in it. The Wine
# prefix the guest uses is made here first, at native speed.
#
#   tests/guest/run_guest_e2e.sh TESSARAY_TESTS WINDOWS_BUILD_DIR
#
# Exit: 0 passed, 1 failed, 77 skipped (the guest cannot run here).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
tests="${1:?usage: run_guest_e2e.sh TESSARAY_TESTS WINDOWS_BUILD_DIR}"
windows_build="${2:?usage: run_guest_e2e.sh TESSARAY_TESTS WINDOWS_BUILD_DIR}"
guest_dir="${TESSARAY_GUEST_DIR:-$root/build/guest}"

# The Wine cases need a Wine prefix made for the guest, about 80 s to make here (once);
# TESSARAY_GUEST_WINE=0 leaves them out.
if [ "${TESSARAY_GUEST_WINE:-1}" != 0 ] && [ -f "$windows_build/app/tessaray.exe" ] && [ -x /usr/lib/wine/wine64 ]; then
  "$root/tests/guest/prepare_wine_prefix.sh" "$guest_dir/wine-prefix" || exit 1
fi
"$root/scripts/guest-run" --timeout 600 -- "$tests" --gtest_filter='Guest/*' --gtest_color=no
