# Sourced by the build scripts: cmake --build --preset PRESET [ARGS...], its time appended to
# $TESSARAY_BUILD_LOG (when set) as "PRESET SECONDS", so CI can tell build time from test time.
timed_build() {
  local preset="$1" start=$SECONDS
  shift
  cmake --build --preset "$preset" "$@"
  if [ -n "${TESSARAY_BUILD_LOG:-}" ]; then echo "$preset $((SECONDS - start))" >>"$TESSARAY_BUILD_LOG"; fi
}
