#!/usr/bin/env bash
# Builds the Windows launcher and every Windows test program (scripts/windows-build.sh: the
# libraries cross-built from their archives, then the whole project) and runs the tests under Wine.
#   scripts/windows-tests.sh [build-dir] [extra CMake options]   (default: build-windows in the repository)
# Wine gets a fresh prefix and its own Xvfb display; both are removed at the end.
# Exits non-zero when the build or any test fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-windows}
shift || true

# A build directory keeps the build type it was configured with (scripts/test.sh builds it first).
if [[ -z "${KESTRUN_BUILD_TYPE:-}" && -f "$build/CMakeCache.txt" ]]; then
  KESTRUN_BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
  export KESTRUN_BUILD_TYPE
fi
bash "$root/scripts/windows-build.sh" "$build" "$@"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-wine.XXXXXX")
xvfb_pid=""
cleanup() {
  local status=$?
  # Stop this prefix's Wine processes and the display started below, each by its own handle.
  if [[ -d "$work/prefix" ]]; then WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; fi
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to the descriptor given.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$work/display" ]] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    cat "$work/xvfb.log" >&2
    echo "Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.1
done
[[ -s "$work/display" ]] || { echo "Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The prefix is set up first; then one persistent Wine server serves the whole run, detached from this script's output: a server
# that a test program started would hold ctest's output pipe open and stall that test.
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p >/dev/null 2>&1
# Wine's system services (services.exe, plugplay, rpcss, ...) start with the first program
# and keep the descriptors it was given; start them here on /dev/null, or the first test's
# output pipe stays open and ctest waits for it until the time-out.
wine cmd /c exit 0 >/dev/null 2>&1 </dev/null

# A hung test costs two minutes at most, not the whole budget.
ctest --test-dir "$build" --output-on-failure --timeout 120 -j 2
