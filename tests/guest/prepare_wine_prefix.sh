#!/usr/bin/env bash
# Makes the Wine prefix the guest uses (build/guest/wine-prefix), here at native speed:
# the usual prefix of scripts/wine-run, plus Wine's HID bus on its hidraw backend (with
# SDL, the default, winebus would not list a hidraw device).
#
#   tests/guest/prepare_wine_prefix.sh PREFIX
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
prefix="${1:?usage: prepare_wine_prefix.sh PREFIX}"
stamp="$prefix/.tessaray-winebus-hidraw"
[ -f "$stamp" ] && exit 0
"$root/scripts/wine-run" --prepare --prefix "$prefix" || exit $?
export WINEPREFIX="$prefix" WINEDEBUG=-all
env -u DISPLAY timeout 60 /usr/lib/wine/wine64 reg add 'HKLM\System\CurrentControlSet\Services\winebus' \
  /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1 &&
  timeout 60 /usr/lib/wine/wineserver -w || {
  timeout 20 /usr/lib/wine/wineserver -k
  echo "prepare_wine_prefix: cannot set winebus 'Enable SDL' in $prefix" >&2
  exit 1
}
touch "$stamp"
