#!/usr/bin/env bash
# The Windows release package (scripts/package): unpacked, it holds the two programs, the
# README for Windows users and matching SHA256SUMS; both programs run under Wine
# (tessaray-report.exe --version, a plain 2 s run of tessaray.exe on the simulated driver),
# and both carry a version resource with the version the package is named after.
#
#   tests/wine/check_package.sh WINDOWS_BUILD_DIR
#
# Exit: 0 passed, 1 failed, 77 skipped (no Windows build or no Wine).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build_dir="${1:?usage: check_package.sh WINDOWS_BUILD_DIR}"
skip=77
if [ ! -f "$build_dir/build.ninja" ] || [ ! -f "$build_dir/sim/nvapi64.dll" ]; then
  echo "SKIP: no Windows build at $build_dir (scripts/build windows)"
  exit $skip
fi
if [ ! -x /usr/lib/wine/wine64 ] || ! command -v xvfb-run >/dev/null; then
  echo "SKIP: Wine or xvfb-run is not installed (.ci/install-deps installs them)"
  exit $skip
fi

work="$(mktemp -d /tmp/tessaray-package-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

zip="$("$root/scripts/package" --build-dir "$build_dir" --out "$work/dist" 2>"$work/package.log")" ||
  { cat "$work/package.log"; echo "FAIL: scripts/package failed"; exit 1; }
name="$(basename "$zip" .zip)"
version="${name#tessaray-}"
version="${version%-win64}"
[[ "$name" =~ ^tessaray-[0-9]+\.[0-9]+\.[0-9]+.*-win64$ ]] || fail "package name $name"

mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
dir="$work/unpacked/$name"
listing="$(cd "$dir" 2>/dev/null && ls | sort | paste -sd' ')"
[ "$listing" = "README.txt SHA256SUMS tessaray-report.exe tessaray.exe" ] || fail "contents: '$listing'"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
grep -q $'^Exit codes of tessaray.exe\r$' "$dir/README.txt" || fail "README.txt: no exit codes, or not CRLF"
grep -qF "tessaray $version for Windows" "$dir/README.txt" || fail "README.txt does not name version $version"
# What a user of the package must know beyond running it: the second run's exit 3, the
# Explorer prompt and its opt-out, unsigned downloads and how to unblock them, what to send.
for note in 'tessaray already holds the headset' 'Press any key to close this' 'TESSARAY_NO_PROMPT=1' \
  'not signed' 'SmartScreen' 'Smart App Control' 'Unblock-File' 'Properties' 'tick "Unblock"' \
  '> run.log 2>&1' 'send run.log'; do
  grep -qF -- "$note" "$dir/README.txt" || fail "README.txt: no '$note'"
done

# The version resource: FileVersion and ProductVersion strings, UTF-16 in the resource.
for exe in tessaray.exe tessaray-report.exe; do
  for key in FileVersion ProductVersion; do
    got="$(strings -el "$dir/$exe" | grep -A1 -x "$key" | sed -n 2p)"
    [ "$got" = "$version" ] || fail "$exe: $key '$got', expected '$version'"
  done
  # Whole output first: grep -q on a pipe would end strings early (SIGPIPE, pipefail).
  text="$(strings "$dir/$exe")"
  grep -qF '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' <<<"$text" ||
    fail "$exe: no application manifest naming Windows 10"
done

"$root/scripts/wine-run" --build-dir "$build_dir" --exe "$dir/tessaray-report.exe" --driver none \
  --out "$work/report" -- --version
reported="$(tr -d '\r' <"$work/report/stdout" 2>/dev/null)"
[ "$(cat "$work/report/exit-code" 2>/dev/null)" = 0 ] || fail "tessaray-report.exe --version: exit $(cat "$work/report/exit-code" 2>/dev/null)"
[ "$reported" = "tessaray-report $version" ] || fail "tessaray-report.exe --version printed '$reported'"

"$root/scripts/wine-run" --build-dir "$build_dir" --exe "$dir/tessaray.exe" --out "$work/run" -- 2
out="$(tr -d '\r' <"$work/run/stdout" 2>/dev/null)"
[ "$(cat "$work/run/exit-code" 2>/dev/null)" = 0 ] || fail "tessaray.exe 2: exit $(cat "$work/run/exit-code" 2>/dev/null); $(cat "$work/run/stderr")"
grep -q '^INIT_DONE ' <<<"$out" || fail "tessaray.exe 2: no INIT_DONE"
# (A starved core can cost a vertical blank: free-run events are not counted here.)
grep -qE '^frames=[1-9][0-9]* presentErrors=0 freeRunEvents=[0-9]+ displayLost=0$' <<<"$out" ||
  fail "tessaray.exe 2: no result line of a healthy run in: $out"

# The Windows report reads the Windows program's own log: every line through the table.
cp "$work/run/stdout" "$work/run.log"
"$root/scripts/wine-run" --build-dir "$build_dir" --exe "$dir/tessaray-report.exe" --driver none \
  --out "$work/summary" -- "Z:$(tr / '\\' <<<"$work/run.log")"
summary="$(tr -d '\r' <"$work/summary/stdout" 2>/dev/null)"
grep -q 'plain run, completed' <<<"$summary" && ! grep -qE 'unrecognised lines: [1-9]' <<<"$summary" ||
  fail "tessaray-report.exe does not read tessaray.exe's log: $summary"

[ "$failures" -eq 0 ] && echo "package $name ok"
[ "$failures" -eq 0 ]
