#!/usr/bin/env bash
# Sets everything up and runs every test: the native build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded code under ThreadSanitizer,
# and the Windows build's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

[ "${KESTRUN_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup.sh

# The end-to-end tests run the launcher against a release server on this loopback port.
e2e_port=${KESTRUN_E2E_PORT:-47611}
base_url="http://127.0.0.1:${e2e_port}"
jobs=${KESTRUN_JOBS:-2}

# One X display for the window tests, started and stopped by its own process id. Xvfb
# picks a free display number and writes it to the descriptor given.
display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

run_suite() {
  local name=$1 dir=$2; shift 2
  echo "=== ${name}"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUN_BASE_URL="$base_url" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j 2
}

run_suite "native" build/native
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite "ASan+UBSan" build/asan -DKESTRUN_SANITIZE=ON

echo "=== ThreadSanitizer (threaded code)"
cmake -S "$root" -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUN_TSAN=ON -DKESTRUN_BASE_URL="$base_url" >/dev/null
threaded_tests=(kestrun_ui_state_tests kestrun_ui_headless_tests kestrun_ui_window_tests kestrun_log_tests)
cmake --build build/tsan -j "$jobs" --target "${threaded_tests[@]}"
ctest --test-dir build/tsan --output-on-failure -R "^($(IFS='|'; echo "${threaded_tests[*]}"))\$"

echo "=== Windows (mingw-w64 under Wine)"
bash scripts/windows-tests.sh build/windows
