#!/bin/bash
# Run inside xvfb-run by scripts/wine-run: the program with its own time limit, then every
# Wine process of the prefix ends (wineserver -k) before xvfb-run takes its X server down.
# Its settings come from the environment wine-run exports; its arguments are the program's.
cd "$RUN_DIR" || exit 125
out="$STDOUT_FILE"
if [ -n "$STDOUT_HEAD" ]; then
  out="$(mktemp -u /tmp/wine-run-head.XXXXXX)" && mkfifo "$out" || exit 125
  head -n "$STDOUT_HEAD" <"$out" >"$STDOUT_FILE" &
fi
timeout --kill-after=5 "$TIMEOUT_S" "$WINE" "C:\\tessaray\\$EXE_NAME" "$@" >"$out" 2>"$STDERR_FILE" </dev/null &
program=$!
if [ -n "$SECOND_AT" ]; then
  sleep "$SECOND_AT"
  timeout --kill-after=5 "$TIMEOUT_S" "$WINE" "C:\\tessaray\\$EXE_NAME" "$@" \
    >"$OUT_DIR/second-stdout" 2>"$OUT_DIR/second-stderr" </dev/null
  echo $? >"$OUT_DIR/second-exit-code"
fi
if [ -n "$END_SESSION_AT" ]; then
  sleep "$END_SESSION_AT"
  "$WINE" wineboot --end-session >/dev/null 2>&1
fi
wait "$program"
rc=$?
[ -n "$STDOUT_HEAD" ] && rm -f "$out"
echo "$rc" >"$STATUS_FILE"
timeout 20 "$WINESERVER" -k >/dev/null 2>&1
timeout 20 "$WINESERVER" -w >/dev/null 2>&1
exit $rc
