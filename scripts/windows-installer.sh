#!/usr/bin/env bash
# Builds the Fennick setup programs with NSIS (Debian: apt-get install nsis):
#
#   bash scripts/windows-installer.sh --exe PATH/Kestrun.exe --out DIR [--site SITE]
#        [--remover PATH/KestrunRemove.exe] [--version TEXT] [--sign SIGNING-OPTIONS...]
#
# DIR/FennickSetup.exe carries Kestrun.exe only and installs the application through it, from
# the update server. With --site (a site made by kestrun-publish) DIR/FennickOfflineSetup.exe
# carries the site's current Windows release as well, so its first start downloads nothing.
# Both hold the uninstaller, and the uninstaller holds KestrunRemove.exe (by default the one
# beside Kestrun.exe or in the build's uninstall/ folder).
#
# --sign takes the rest of the line as scripts/windows-sign.sh's key and timestamp options:
# KestrunRemove.exe and the uninstaller are signed before they are packed, the setup programs
# after they are built, each verified. Sign Kestrun.exe itself first, as for a release.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fail() {
  echo "windows-installer: $*" >&2
  exit 1
}

exe="" out="" site="" remover="" version="1.0.0"
sign_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe=${2:?--exe needs a file}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    --site) site=${2:?--site needs a folder}; shift 2 ;;
    --remover) remover=${2:?--remover needs a file}; shift 2 ;;
    --version) version=${2:?--version needs a text}; shift 2 ;;
    --sign) shift; sign_options=("$@"); [ $# -gt 0 ] || fail "--sign needs signing options"; break ;;
    *) fail "unknown argument $1" ;;
  esac
done
[ -n "$exe" ] && [ -n "$out" ] || fail "usage: windows-installer.sh --exe PATH/Kestrun.exe --out DIR [--site SITE] [--sign OPTIONS...]"
[ -f "$exe" ] || fail "no launcher at $exe"
if [ -z "$remover" ]; then
  for candidate in "$(dirname "$exe")/KestrunRemove.exe" "$(dirname "$exe")/../uninstall/KestrunRemove.exe"; do
    [ -f "$candidate" ] && { remover=$candidate; break; }
  done
fi
[ -n "$remover" ] && [ -f "$remover" ] || fail "no KestrunRemove.exe beside $exe; name it with --remover"
[ -z "$site" ] || [ -f "$site/current/windows.json" ] || fail "no published release at $site/current"
command -v makensis >/dev/null || fail "makensis is not installed (Debian: apt-get install nsis)"

stage=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-installer.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out"
cp "$exe" "$stage/Kestrun.exe"
cp "$remover" "$stage/KestrunRemove.exe"

nsis_defines=(-DKESTRUN_EXE="$stage/Kestrun.exe" -DKESTRUN_REMOVE="$stage/KestrunRemove.exe"
  -DICON="$root/resources/kestrun.ico")
if [ ${#sign_options[@]} -gt 0 ]; then
  # makensis runs this for the uninstaller with its file in place of %1.
  printf 'exec bash %q' "$root/scripts/windows-sign.sh" >"$stage/sign-one.sh"
  printf ' %q' "${sign_options[@]}" >>"$stage/sign-one.sh"
  printf ' "$1"\n' >>"$stage/sign-one.sh"
  bash "$stage/sign-one.sh" "$stage/KestrunRemove.exe" >/dev/null || fail "signing KestrunRemove.exe failed"
  nsis_defines+=(-DSIGN_COMMAND="bash $stage/sign-one.sh %1")
fi

build() {  # output file, extra defines
  local output=$1; shift
  makensis -V2 -INPUTCHARSET UTF8 "${nsis_defines[@]}" -DOUTFILE="$output" "$@" "$root/installer/fennick.nsi" >"$stage/makensis.log" 2>&1 ||
    fail "makensis failed for $output: $(cat "$stage/makensis.log")"
  if [ ${#sign_options[@]} -gt 0 ]; then
    bash "$stage/sign-one.sh" "$output" >/dev/null || fail "signing $output failed"
  fi
  echo "windows-installer: wrote $output"
}

build "$out/FennickSetup.exe" -DVERSION="$version"
if [ -n "$site" ]; then
  mkdir -p "$stage/release"
  release=$(python3 "$root/installer/stage_release.py" "$site" "$stage/release") || fail "the site's release cannot be packed"
  build "$out/FennickOfflineSetup.exe" -DRELEASE_DIR="$stage/release" -DVERSION="$release"
fi
