#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, libFuzzer coverage) and runs each one for a bounded time from its seed corpus.
#   scripts/fuzz.sh [target ...]            (default: every target)
# KESTRUN_FUZZ_SECONDS  time per target, at most 30 (default 25)
# KESTRUN_FUZZ_BUILD    build directory (default: build/fuzz in the repository)
# KESTRUN_FUZZ_BUILD_ONLY=1  build the targets and stop
# KESTRUN_FUZZ_SEED=N   run from this seed for a fixed number of executions per target (about
#                       20 s of each on the 2-core machine; KESTRUN_FUZZ_RUNS sets one number for
#                       all), within the time above: the same inputs every time, as the test
#                       command runs them. Without it, each run draws a new seed.
# Exits non-zero on a build failure or on any crash, leak, time-out or failed check; the input
# that caused it is kept under <build>/artifacts/. New inputs go to a scratch corpus, so the
# seeds in the repository stay as they are.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KESTRUN_FUZZ_BUILD:-$root/build/fuzz}
seconds=${KESTRUN_FUZZ_SECONDS:-25}
jobs=${KESTRUN_JOBS:-2}
all_targets=(manifest_check_fuzz confinement_fuzz windows_names_fuzz path_escape_fuzz command_line_fuzz reparse_names_fuzz object_decode_fuzz)
targets=("${@:-${all_targets[@]}}")
if (( seconds > 30 )); then seconds=30; fi
declare -A seeded_runs=([manifest_check_fuzz]=50000 [confinement_fuzz]=250000 [windows_names_fuzz]=250000
  [path_escape_fuzz]=1000000 [command_line_fuzz]=500000 [reparse_names_fuzz]=4000000 [object_decode_fuzz]=20000)

# -O1 keeps the sanitizers' reports readable; Debug keeps assertions on.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link" -DKESTRUN_SANITIZE=ON -DKESTRUN_FUZZ=ON \
  -DKESTRUN_BASE_URL= >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
[[ "${KESTRUN_FUZZ_BUILD_ONLY:-0}" != 1 ]] || exit 0

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for target in "${targets[@]}"; do
  echo "=== $target (${seconds} s)"
  seeds="$root/tests/fuzz/corpus/$target"
  mkdir -p "$scratch/$target"
  repeatable=()
  if [[ -n "${KESTRUN_FUZZ_SEED:-}" ]]; then
    # Inputs at full length from the start and no rereading of the corpus: what is left to
    # chance in a seeded run is then only what the fuzzer takes from its own timing.
    repeatable=(-seed="$KESTRUN_FUZZ_SEED" -runs="${KESTRUN_FUZZ_RUNS:-${seeded_runs[$target]}}" -len_control=0
                -reload=0)
  fi
  dict=()
  if [[ -f "$root/tests/fuzz/$target.dict" ]]; then dict=(-dict="$root/tests/fuzz/$target.dict"); fi
  if ! "$build/tests/fuzz/$target" "$scratch/$target" "$seeds" "${dict[@]}" "${repeatable[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
      -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 </dev/null 2>"$scratch/$target.log"; then
    tail -n 60 "$scratch/$target.log" >&2
    failed+=("$target")
  else
    grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)|^Done " "$scratch/$target.log" || true
  fi
done

if (( ${#failed[@]} > 0 )); then
  echo "fuzzing failed: ${failed[*]} (inputs in $build/artifacts/)" >&2
  exit 1
fi
echo "fuzzing passed: ${targets[*]}"
