#!/usr/bin/env bash
# The real Kestrun.exe, built with a signing key, under Wine against a signed site served by
# kestrun-release-server on 127.0.0.1: a first installation is accepted and records serial 1,
# then a file changed on the server after the second publish is refused and never installed,
# then a release whose signature has expired is refused and the installation stays as it was.
#
#   tests/trust/wine_signed_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]
#
# NATIVE_BUILD   a Linux build directory (kestrun-keygen, kestrun-publish and the release
#                server are built there when missing)
# WINDOWS_BUILD  a build directory of its own for the keyed Kestrun.exe (scripts/windows-build.sh)
# VARDEL_EXE     a Windows program that stands in for Vardel.exe and ends by itself
# PORT           the loopback port built into that Kestrun.exe (default 47635)
# Wine gets a fresh prefix and its own Xvfb display, both stopped by their own handles.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
native=${1:?usage: wine_signed_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]}
windows=${2:?usage: wine_signed_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]}
vardel=${3:?usage: wine_signed_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]}
port=${4:-47635}
jobs=${KESTRUN_JOBS:-2}

cmake --build "$native" -j "$jobs" --target kestrun-keygen kestrun-publish kestrun-release-server \
  kestrun_test_signer >/dev/null
keygen=$native/tools/keygen/kestrun-keygen
mkdir -p "$windows"
key=$windows/trust-test.key
[[ -f "$key" ]] || "$keygen" "$key" >/dev/null
public_key=$("$keygen" --public "$key" | sed -n 's/^ *-DKESTRUN_MANIFEST_PUBLIC_KEY=//p')
KESTRUN_BUILD_TARGETS=Kestrun bash "$root/scripts/windows-build.sh" "$windows" \
  -DKESTRUN_BASE_URL="http://127.0.0.1:$port" -DKESTRUN_MANIFEST_PUBLIC_KEY="$public_key" \
  -DKESTRUN_BUILD_TESTS=OFF >/dev/null

source "$root/tests/support/wine_script.sh"
wine_script_begin wine-trust
start_wine

publish() {
  "$native/tools/publish/kestrun-publish" --source "$work/source" --site "$work/site" --platform windows \
    --copy --sign-key "$key" >/dev/null
}
mkdir -p "$work/source/data" "$work/install"
cp "$vardel" "$work/source/Vardel.exe"
printf 'colour = blue\n' >"$work/source/data/config.txt"
publish
start_release_server "$native" "$work/site/current" "$port"
cp "$windows/launcher/Kestrun.exe" "$work/install/Kestrun.exe"

echo "wine_signed_update: first installation of a signed release"
timeout 180 wine "$work/install/Kestrun.exe" >/dev/null 2>&1 || fail "Kestrun.exe did not end"
[[ "$(cat "$work/install/data/config.txt" 2>/dev/null)" == "colour = blue" ]] || fail "the signed release was not installed"
[[ "$(cat "$work/install/update_serial.txt")" == "1" ]] || fail "serial 1 was not recorded"

echo "wine_signed_update: a file changed on the server after publishing"
printf 'colour = green\n' >"$work/source/data/config.txt"
touch -d '+1 minute' "$work/source/data/config.txt"
publish
served=$work/site/current/windows/data/config.txt
printf 'colour = black\n' >"$work/tampered.txt"
touch -r "$served" "$work/tampered.txt"
mv "$work/tampered.txt" "$served"
timeout 180 wine "$work/install/Kestrun.exe" >/dev/null 2>&1 || fail "Kestrun.exe did not end"
[[ "$(cat "$work/install/data/config.txt")" == "colour = blue" ]] || fail "the tampered file was installed"
[[ ! -e "$work/install/update_staging/data/config.txt" ]] || fail "the tampered file waits in update_staging"
grep -q '更新下载失败：下载文件失败：data/config.txt（sha256 不一致：应为 ' "$work"/install/logs/*.log ||
  fail "no refusal in the log"
[[ "$(cat "$work/install/update_serial.txt")" == "2" ]] || fail "serial 2 was not recorded"

echo "wine_signed_update: a release whose signature expired in 2020"
printf 'colour = green\n' >"$served"
"$native/tests/trust/kestrun_test_signer" "$key" windows 3 1600000000 <"$work/site/current/windows.json" \
  >"$work/expired.sig" || fail "could not sign"
mv "$work/expired.sig" "$work/site/current/windows.json.sig"
timeout 180 wine "$work/install/Kestrun.exe" >/dev/null 2>&1 || fail "Kestrun.exe did not end"
grep -q '清单已过期（expires 2020-09-13T12:26:40Z；请检查电脑的日期和时间是否正确）' "$work"/install/logs/*.log ||
  fail "no expiry refusal in the log"
[[ "$(cat "$work/install/data/config.txt")" == "colour = blue" ]] || fail "the expired release was installed"
[[ "$(cat "$work/install/update_serial.txt")" == "2" ]] || fail "the expired release's serial was recorded"
echo "wine_signed_update: passed"
