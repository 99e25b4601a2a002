#!/usr/bin/env bash
# Builds Kestrun.exe (Release, mingw-w64) from two commits of this repository into OUT/old and
# OUT/new: the program of the update benchmark's two releases (README.md).
#
#   bench/launcher-builds.sh OUT [OLD_COMMIT [NEW_COMMIT]]      (default: HEAD~2 and HEAD)
#
# Each commit is unpacked with `git archive` under OUT (no worktree is made) and built against
# the Windows libraries in $KESTRUN_WINDOWS_LIBS (default: build/windows/thirdparty, made by
# scripts/windows-libs.sh), with the same settings for both.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:?usage: launcher-builds.sh OUT [OLD_COMMIT [NEW_COMMIT]]}
mkdir -p "$out"
out=$(cd "$out" && pwd)
libs=${KESTRUN_WINDOWS_LIBS:-$root/build/windows/thirdparty}
[[ -f "$libs/.kestrun-stamp" ]] || { echo "launcher-builds: no Windows libraries in $libs (scripts/windows-libs.sh)" >&2; exit 1; }
declare -A commits=([old]=${2:-HEAD~2} [new]=${3:-HEAD})

for side in old new; do
  commit=$(git -C "$root" rev-parse "${commits[$side]}")
  echo "launcher-builds: $side = $commit"
  # git archive gives every file its commit's time: a build folder of another commit would look newer.
  rm -rf "$out/$side-source" "$out/$side-build"
  mkdir -p "$out/$side-source" "$out/$side"
  git -C "$root" archive "$commit" | tar -x -C "$out/$side-source"
  cmake -S "$out/$side-source" -B "$out/$side-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKESTRUN_WINDOWS_LIBS="$libs" \
    -DKESTRUN_BUILD_TESTS=OFF -DKESTRUN_BASE_URL=https://updates.fennick.invalid >/dev/null
  cmake --build "$out/$side-build" -j "${KESTRUN_JOBS:-2}" --target Kestrun
  cp "$out/$side-build/launcher/Kestrun.exe" "$out/$side/Kestrun.exe"
  echo "$commit" >"$out/$side/commit"
done
