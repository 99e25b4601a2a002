#!/usr/bin/env bash
# Sets everything up and runs every test: the Windows launcher and the Windows test programs
# under Wine, the native build (with the end-to-end runs of the real Kestrun.exe under Wine),
# the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded code under
# ThreadSanitizer, and the fuzz targets for a short while each.
#
# Builds take the two cores; while one configuration builds, the previous one's tests run
# (they mostly wait on processes and sockets). Test runs happen one after another, so the
# end-to-end tests of different configurations never share the release server's port.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$SECONDS

[ "${KESTRUN_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup.sh

# Which folder may include which (README's rules, as data), before anything is built.
echo "=== layering"
python3 scripts/check-layering.py

# The end-to-end tests run the launcher against a release server on this loopback port.
e2e_port=${KESTRUN_E2E_PORT:-47611}
# The signed-site and TLS runs under Wine build launchers of their own, each for its own port.
# Set all three to run two rehearsals side by side.
trust_port=${KESTRUN_TRUST_PORT:-47635}
https_port=${KESTRUN_HTTPS_PORT:-47636}
base_url="http://127.0.0.1:${e2e_port}"
jobs=${KESTRUN_JOBS:-2}
logs="$root/build/test-logs"
mkdir -p "$logs"

# One X display for the window tests, started and stopped by its own process id. Xvfb
# picks a free display number and writes it to the descriptor given.
display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
tests_pid=""
load_pids=()
cleanup() {
  [ -z "$tests_pid" ] || kill "$tests_pid" 2>/dev/null || true
  for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${load_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
# A stopped run stops its helpers too (bash runs the EXIT trap on a signal only through a handler).
trap 'exit 1' TERM INT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

# KESTRUN_TEST_UNDER_LOAD=1 rehearses a shared machine: one busy process per processor, at the
# builds' and tests' own priority, for the whole run. CI itself runs without it.
if [ "${KESTRUN_TEST_UNDER_LOAD:-0}" = 1 ]; then
  for _ in $(seq "$(nproc)"); do
    bash scripts/busy-load.sh &
    load_pids+=($!)
  done
  echo "=== under load: ${#load_pids[@]} busy processes beside the run"
fi

configure() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUN_BASE_URL="$base_url" "$@" >/dev/null
}

# Test runs go to a log file each and are chained in the background: a run starts once the
# previous one has ended. `finish_tests` waits for the chain and prints what it wrote.
chain_status="$logs/chain-status"
: >"$chain_status"
queue_tests() {
  local name=$1; shift
  local previous=$tests_pid
  (
    [ -z "$previous" ] || while kill -0 "$previous" 2>/dev/null; do sleep 1; done
    if "$@" >"$logs/$name.log" 2>&1; then echo "$name ok" >>"$chain_status"
    else echo "$name FAILED" >>"$chain_status"; fi
  ) &
  tests_pid=$!
}
finish_tests() {
  [ -z "$tests_pid" ] || wait "$tests_pid" || true
  tests_pid=""
}

echo "=== Windows: libraries and every program (mingw-w64)"
KESTRUN_BUILD_TYPE=Debug bash scripts/windows-build.sh build/windows -DKESTRUN_BASE_URL="$base_url"

echo "=== native: build"
windows_e2e=()
[ -f build/windows/launcher/Kestrun.exe ] && windows_e2e=(-DKESTRUN_WINDOWS_BUILD_DIR="$root/build/windows")
configure build/native "${windows_e2e[@]}"
cmake --build build/native -j "$jobs"
queue_tests native ctest --test-dir build/native --output-on-failure -j 2

echo "=== ASan+UBSan: build"
configure build/asan -DKESTRUN_SANITIZE=ON
cmake --build build/asan -j "$jobs"
queue_tests asan env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j 2

echo "=== ThreadSanitizer: build (threaded code)"
threaded_tests=(kestrun_ui_state_tests kestrun_ui_headless_tests kestrun_ui_window_tests kestrun_log_tests
  kestrun_trailing_digest_tests)
configure build/tsan -DKESTRUN_TSAN=ON
cmake --build build/tsan -j "$jobs" --target "${threaded_tests[@]}"
queue_tests tsan ctest --test-dir build/tsan --output-on-failure \
  -R "^($(IFS='|'; echo "${threaded_tests[*]}"))\$"

# The release tools alone, as a release host without desktop packages builds them.
queue_tests release-tools env KESTRUN_JOBS=1 bash scripts/release-tools-check.sh build/release-tools

queue_tests windows bash scripts/windows-tests.sh build/windows
# A Kestrun.exe built with a signing key, under Wine against a signed site (its own port).
queue_tests wine-trust bash tests/trust/wine_signed_update.sh build/native build/windows-keyed \
  build/windows/tests/wine_e2e/programs/kestrun_wine_vardel.exe "$trust_port"
# The release's signing step: a copy of Kestrun.exe signed and timestamped with a throwaway CA,
# verified, then a first installation by the signed executable under Wine.
queue_tests signed-exe bash tests/wine_e2e/signed_first_install.sh build/native build/windows/launcher/Kestrun.exe \
  build/windows/tests/wine_e2e/programs/kestrun_wine_vardel.exe "$e2e_port"
# The setup programs, signed, under Wine: install, install again, uninstall, the offline package.
queue_tests installer bash tests/wine_e2e/installer_rows.sh build/native build/windows \
  build/windows/tests/wine_e2e/programs/kestrun_wine_vardel.exe "$e2e_port"
# A Kestrun.exe built for an https:// address, under Wine against nginx over TLS (its own port).
queue_tests wine-https bash tests/wine_e2e/wine_https_update.sh build/native build/windows-https \
  build/windows/tests/wine_e2e/programs/kestrun_wine_vardel.exe "$https_port"

if [ -f scripts/fuzz.sh ]; then
  echo "=== fuzz targets: build"
  KESTRUN_FUZZ_BUILD_ONLY=1 bash scripts/fuzz.sh
  # From a fixed seed, so that the run explores the same inputs every time.
  queue_tests fuzz env KESTRUN_FUZZ_SEED=1 bash scripts/fuzz.sh
fi

echo "=== waiting for the test runs"
finish_tests
for name in native asan tsan release-tools windows wine-trust signed-exe installer wine-https fuzz; do
  [ -f "$logs/$name.log" ] || continue
  echo "=== $name tests"
  cat "$logs/$name.log"
done
echo "=== summary ($(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s)"
cat "$chain_status"
! grep -q FAILED "$chain_status"
