#!/usr/bin/env bash
# Builds the full Windows launcher on Linux with mingw-w64:
#   scripts/windows-build.sh <build-dir> [extra CMake options, e.g. -DKESTRUN_BASE_URL=...]
# The libraries are cross-built into <build-dir>/thirdparty first when needed
# (scripts/windows-libs.sh); the launcher lands in <build-dir>/launcher/Kestrun.exe.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: windows-build.sh <build-dir> [CMake options]}
shift
jobs=${KESTRUN_JOBS:-2}
mkdir -p "$build"
build=$(cd "$build" && pwd)

bash "$root/scripts/windows-libs.sh" "$build/thirdparty"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${KESTRUN_BUILD_TYPE:-Release} \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DKESTRUN_WINDOWS_LIBS="$build/thirdparty" "$@" >/dev/null
cmake --build "$build" -j "$jobs" ${KESTRUN_BUILD_TARGETS:+--target $KESTRUN_BUILD_TARGETS}
echo "Kestrun.exe: $build/launcher/Kestrun.exe"
