#!/usr/bin/env bash
# Builds the release tools alone, as a release host without desktop packages would, and checks
# that the configuration never looked for the window toolkit, X11 or fontconfig and that no
# tool links them.
#   scripts/release-tools-check.sh [BUILD_DIR]   (default: build/release-tools)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release-tools}
jobs=${KESTRUN_JOBS:-2}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUN_RELEASE_TOOLS_ONLY=ON \
  -DKESTRUN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
if grep -iE '^[^#/].*(fltk|x11|fontconfig|xft)' "$build/CMakeCache.txt"; then
  echo "release tools: the configuration looked for a desktop package (above)" >&2
  exit 1
fi
for tool in publish/kestrun-publish keygen/kestrun-keygen release_server/kestrun-release-server load/kestrun-load; do
  if ldd "$build/tools/$tool" | grep -iE 'fltk|libX|fontconfig'; then
    echo "release tools: $tool links a desktop library (above)" >&2
    exit 1
  fi
done
echo "release tools: built without any desktop package"
